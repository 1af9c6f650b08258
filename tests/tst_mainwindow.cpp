// The editor window, run offscreen: start-up, Load VLM, Save VLM, the table's mouse handling and
// menu, editing in place, Enter, the link and the default error report.

#include "TestSupport.h"
#include "tst_mainwindow_support.h"

#include "calibration/Exceptions.h"
#include "calibration/TextConv.h"
#include "ui/CalibrationGrid.h"
#include "ui/UFromMain.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolTip>
#include <QUrl>
#include <unistd.h>

namespace {

QStringList Names(const TStringGrid& Grid) {
    QStringList names;
    for (int row = 1; row < Grid.RowCount(); ++row)
        names << Grid.Cells(ColName, row);
    return names;
}

const QString Caption = QStringLiteral("Velantu MapEditor v3.0 public edition");

QString DuplicateMessage(const QString& Id) {
    return QStringLiteral("Внимание! В таблице две или более калибровок с одинаковым Id (") + Id +
           QStringLiteral(").\n\rПоле id должно быть уникальным! Оставьте по одной калибровке "
                          "для каждого Id.");
}

} // namespace

// Receives the link label's address instead of a browser.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> Urls;

public slots:
    void Open(const QUrl& Url) { Urls << Url; }
};

class TestMainWindow : public QObject, protected TWindowFixture {
    Q_OBJECT

    // Load VLM through the button, answering its dialog with Path.
    void LoadVlm(const QString& Path) {
        DialogScript dialogs({Path});
        w_->Button3->click();
        QCOMPARE(dialogs.Log.size(), 1);
    }

    void TypeRows(const QList<QStringList>& Rows) {
        TStringGrid& grid = *w_->StringGrid1;
        grid.SetRowCount(int(Rows.size()) + 2);
        for (int row = 0; row < Rows.size(); ++row)
            for (int col = 0; col < Rows[row].size(); ++col)
                grid.SetCells(col, row + 1, Rows[row][col]);
    }

private slots:
    void init() { OpenWindow(); }
    void cleanup() { CloseWindow(); }

    void startUpState() {
        QCOMPARE(w_->windowTitle(), Caption);
        QCOMPARE(w_->MapName, QString());
        TStringGridView& view = *w_->StringGrid1View;
        QStringList headers;
        for (int col = 0; col < view.model()->columnCount(); ++col)
            headers << view.model()->headerData(col, Qt::Horizontal).toString();
        QCOMPARE(headers, QStringList({"Имя", "Id", "IdMox", "Тип Табл.", "Тип Тарир.", "Адрес",
                                       "Длина", "Шаг", "Смещ.", "Делит.", "Мульпликат."}));
        QCOMPARE(view.horizontalHeader()->sectionSize(0), 250);
        QCOMPARE(view.horizontalHeader()->sectionSize(10), 64);
        QCOMPARE(w_->StringGrid1->RowCount(), 2);
        QCOMPARE(view.model()->rowCount(), 1);
        for (int col = 0; col < GridColumnCount; ++col)
            QCOMPARE(w_->StringGrid1->Cells(col, 1), QString());
        QVERIFY(!w_->Button1->isVisible());
        QVERIFY(w_->Button2->isVisible() && w_->Button3->isVisible() && w_->Button4->isVisible());
        QVERIFY(w_->Button3->isDefault());
        // Without a settings file every dialog starts in the executable's folder.
        for (const QString& folder :
             {w_->PathOpenXml, w_->PathOpenIni, w_->PathOpenCalibr, w_->PathSaveCalibr})
            QCOMPARE(folder, AppDir());
        QCOMPARE(w_->N1->text(), QStringLiteral("Удалить калибровку"));
        QCOMPARE(w_->N2->text(), QStringLiteral("Добавить калибровку"));
        QVERIFY(messages_->Messages.isEmpty());
        QVERIFY(errors_->Errors.isEmpty());
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<QRect>("design");
        QTest::newRow("Load VLM") << "Button3"
                                  << "Load VLM"
                                  << "Загрузить карту Velantu" << QRect(8, 8, 75, 25);
        QTest::newRow("Load INI") << "Button4"
                                  << "Load INI"
                                  << "Загрузить экспортированную карту MOX" << QRect(96, 8, 75, 25);
        QTest::newRow("Load XML") << "Button1"
                                  << "Load XML"
                                  << "Загрузить карту MOX преобразованную в формат XML"
                                  << QRect(185, 8, 75, 25);
        QTest::newRow("Save VLM") << "Button2"
                                  << "Save VLM"
                                  << "Сохранить карту в формат Velantu" << QRect(273, 8, 75, 25);
        QTest::newRow("description")
            << "Label5"
            << "Программа предназначенна для редактирования карт прошивок специального формата "
               "*.vlm программы Velantu."
            << "" << QRect(433, 4, 345, 29);
        QTest::newRow("table") << "StringGrid1View"
                               << ""
                               << "" << QRect(8, 39, 778, 380);
    }

    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, hint);
        QFETCH(QRect, design);
        QWidget* widgets[] = {w_->Button3, w_->Button4, w_->Button1,
                              w_->Button2, w_->Label5,  w_->StringGrid1View};
        const QStringList names = {"Button3", "Button4", "Button1",
                                   "Button2", "Label5",  "StringGrid1View"};
        QWidget* widget = widgets[names.indexOf(name)];
        QCOMPARE(w_->size(), QSize(794, 442));
        QCOMPARE(widget->geometry(), design);
        if (auto* button = qobject_cast<QPushButton*>(widget))
            QCOMPARE(button->text(), text);
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            QCOMPARE(label->text(), text);
            QVERIFY(label->wordWrap());
            // Whatever font the machine has, the wrapped text stays inside its fixed box.
            const QRect needed =
                QFontMetrics(label->font())
                    .boundingRect(QRect(QPoint(), design.size()), Qt::TextWordWrap, label->text());
            QVERIFY2(needed.height() <= design.height(), qPrintable(label->font().toString()));
        }
        QCOMPARE(widget->toolTip(), hint);
    }

    // Growing the window keeps each control's distance to the edges it is anchored to.
    void resizingKeepsAnchoredDistances() {
        const QRect footer4 = w_->Label4->geometry();
        const QRect footer1 = w_->Label1->geometry();
        QCOMPARE(footer4.right() + 1, 767);
        QCOMPARE(footer4.top(), 421);
        QVERIFY(w_->Label3->geometry().right() < footer4.left());
        QVERIFY(w_->Label2->geometry().right() < w_->Label3->geometry().left());
        QVERIFY(footer1.right() < w_->Label2->geometry().left());
        QVERIFY(w_->Label2->font().bold());
        QVERIFY(w_->Label4->font().underline());

        w_->resize(1000, 600);
        QCOMPARE(w_->StringGrid1View->geometry(), QRect(8, 39, 778 + 206, 380 + 158));
        QCOMPARE(w_->Label5->geometry(), QRect(433 + 206, 4, 345, 29));
        QCOMPARE(w_->Button2->geometry(), QRect(273, 8, 75, 25));
        QCOMPARE(w_->Label4->geometry(), footer4.translated(206, 158));
        QCOMPARE(w_->Label1->geometry(), footer1.translated(206, 158));
        // Never smaller than the smallest outer size allows.
        w_->resize(300, 100);
        QVERIFY(w_->width() >= 794 - 16 && w_->height() >= 300 - 39);
    }

    void tabOrderAndFocus() {
        QCOMPARE(w_->focusWidget(), w_->StringGrid1View);
        // Load XML is hidden, so the chain runs table, Save VLM, Load VLM, Load INI, table.
        QList<QWidget*> chain;
        QWidget* widget = w_->StringGrid1View;
        for (int i = 0; i < 4; ++i) {
            widget = widget->nextInFocusChain();
            while (!(widget->focusPolicy() & Qt::TabFocus) || !widget->isVisible())
                widget = widget->nextInFocusChain();
            chain << widget;
        }
        QCOMPARE(chain, QList<QWidget*>({w_->Button2, w_->Button3, w_->Button4,
                                         static_cast<QWidget*>(w_->StringGrid1View)}));
    }

    void dialogsAsTheCommandsNeedThem() {
        struct Expect {
            TFileDialog* dialog;
            QString title, filter, ext;
            bool save;
        };
        const Expect expected[] = {
            {&w_->OpenDialog1, "Загрузить декомпелированную карту MOX...", "Файлы XML|*.xml",
             "*.xml", false},
            {&w_->OpenDialog2, "Загрузить карту Velantu...", "Файлы карт Velantu|*.vlm", "*.vlm",
             false},
            {&w_->OpenDialog3, "Загрузить экспортированную карту MOX...",
             "Экспортированные карты MOX|*.ini", "*.ini", false},
            {&w_->SaveDialog1, "Сохранить карту Velantu...", "Карты Velantu|*.vlm", "*.vlm", true},
        };
        for (const Expect& e : expected) {
            QCOMPARE(e.dialog->Title, e.title);
            QCOMPARE(e.dialog->Filter, e.filter);
            QCOMPARE(e.dialog->DefaultExt, e.ext);
            QCOMPARE(e.dialog->Kind == TFileDialog::TKind::Save, e.save);
            QCOMPARE(e.dialog->MustExist, !e.save);
            QCOMPARE(e.dialog->ConfirmOverwrite, e.save);
        }
    }

    void loadVlmShowsTheMap() {
        const QString path = WriteMap(maps_->path(), "motor.vlm", {11, 2, 1});
        TypeRows({{"old"}, {"older"}, {"oldest"}, {"and more"}});
        DialogScript dialogs({path});
        w_->Button3->click();
        QCOMPARE(dialogs.Log.size(), 1);
        QCOMPARE(dialogs.Log[0].Title, QStringLiteral("Загрузить карту Velantu..."));
        QCOMPARE(dialogs.Log[0].InitialDir, AppDir());
        QCOMPARE(w_->windowTitle(), Caption + " [motor]");
        QCOMPARE(w_->MapName, QStringLiteral("motor"));
        QCOMPARE(w_->PathOpenCalibr, MapsDir());
        QCOMPARE(w_->PathOpenIni, AppDir());
        QCOMPARE(w_->PathSaveCalibr, AppDir());
        QCOMPARE(w_->PathOpenXml, AppDir());
        QCOMPARE(Names(*w_->StringGrid1),
                 QStringList({"Таблица 11", "Таблица 2", "Таблица 1", ""}));
        const QStringList row1 = {"Таблица 11",    "11", "1A2B3C4D",      "2",   "3",
                                  "4107",          "16", FloatToStr(0.5), "-40", "4",
                                  FloatToStr(0.25)};
        for (int col = 0; col < GridColumnCount; ++col)
            QCOMPARE(w_->StringGrid1->Cells(col, 1), row1[col]);
        for (int col = 0; col < GridColumnCount; ++col)
            QCOMPARE(w_->StringGrid1->Cells(col, 4), QString());
        QVERIFY(errors_->Errors.isEmpty());

        // The next Load VLM opens where the last one chose its file.
        w_->Button3->click();
        QCOMPARE(dialogs.Log.size(), 2);
        QCOMPARE(dialogs.Log[1].InitialDir, MapsDir());
        QCOMPARE(w_->windowTitle(), Caption + " [motor]");
    }

    void loadVlmCancelledChangesNothing() {
        TypeRows({{"kept", "5"}});
        DialogScript dialogs({QString()});
        w_->Button3->click();
        QCOMPARE(dialogs.Log.size(), 1);
        QCOMPARE(w_->windowTitle(), Caption);
        QCOMPARE(w_->PathOpenCalibr, AppDir());
        QCOMPARE(Names(*w_->StringGrid1), QStringList({"kept", ""}));
    }

    void loadVlmOfAFileWithoutMap_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("caption");
        QTest::newRow("no Global section")
            << "empty.vlm" << QByteArray("[Other]\r\nA=1\r\n") << " [empty]";
        QTest::newRow("dotted name") << "motor.old.vlm" << QByteArray() << " [motor.old]";
        QTest::newRow("missing file") << "gone.vlm" << QByteArray("-") << " [gone]";
    }

    void loadVlmOfAFileWithoutMap() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, caption);
        const QString path = maps_->filePath(name);
        if (bytes != "-")
            WriteFixture(maps_->path(), name, bytes);
        TypeRows({{"a"}, {"b"}});
        LoadVlm(path);
        QCOMPARE(w_->windowTitle(), Caption + caption);
        QCOMPARE(w_->StringGrid1->RowCount(), 2);
        QCOMPARE(w_->StringGrid1->Cells(ColName, 1), QString());
        QVERIFY(errors_->Errors.isEmpty());
    }

    void loadShortMapAfterLongOne() {
        LoadVlm(WriteMap(maps_->path(), "long.vlm", {1, 2, 3, 4, 5, 6}));
        w_->StringGrid1->SetCells(ColName, 7, "typed into the entry row");
        LoadVlm(WriteMap(maps_->path(), "short.vlm", {9, 8}));
        QCOMPARE(Names(*w_->StringGrid1), QStringList({"Таблица 9", "Таблица 8", ""}));
        w_->N2->trigger();
        w_->N2->trigger();
        for (int row = 3; row < 5; ++row)
            for (int col = 0; col < GridColumnCount; ++col)
                QCOMPARE(w_->StringGrid1->Cells(col, row), QString());
    }

    void saveVlmWithOnlyTheEntryRowDoesNothing() {
        w_->StringGrid1->SetCells(ColName, 1, "typed");
        w_->StringGrid1->SetCells(ColId, 1, "3");
        DialogScript dialogs({maps_->filePath("never.vlm")});
        w_->Button2->click();
        QCOMPARE(dialogs.Log.size(), 0);
        QVERIFY(messages_->Messages.isEmpty());
        QVERIFY(!QFile::exists(maps_->filePath("never.vlm")));
        QCOMPARE(w_->windowTitle(), Caption);
    }

    void saveVlmRefusesRepeatedIds_data() {
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QString>("reported");
        QTest::newRow("5 7 7 5") << QStringList({"5", "7", "7", "5"}) << "5";
        QTest::newRow("3 4 4") << QStringList({"3", "4", "4"}) << "4";
        QTest::newRow("two blank Ids") << QStringList({"", "2", ""}) << "-1";
        QTest::newRow("blank and word") << QStringList({"1", "x", ""}) << "-1";
        QTest::newRow("hex and decimal") << QStringList({"$1F", "31"}) << "31";
    }

    void saveVlmRefusesRepeatedIds() {
        QFETCH(QStringList, ids);
        QFETCH(QString, reported);
        LoadVlm(WriteMap(maps_->path(), "motor.vlm", {1}));
        QList<QStringList> rows;
        for (const QString& id : ids)
            rows << QStringList({"name " + id, id});
        TypeRows(rows);
        DialogScript dialogs({maps_->filePath("refused.vlm")});
        w_->Button2->click();
        QCOMPARE(messages_->Messages, QStringList({DuplicateMessage(reported)}));
        QCOMPARE(dialogs.Log.size(), 0);
        QVERIFY(!QFile::exists(maps_->filePath("refused.vlm")));
        QCOMPARE(w_->windowTitle(), Caption + " [motor]");
        QCOMPARE(w_->PathSaveCalibr, AppDir());
    }

    void saveVlmWritesTheTable() {
        LoadVlm(WriteMap(maps_->path(), "motor.vlm", {1, 2}));
        // Edited cells, one Double typed with the other decimal mark.
        SeparatorGuard comma(',');
        w_->StringGrid1->SetCells(ColName, 2, "edited_name");
        w_->StringGrid1->SetCells(ColStep, 2, "2.5");
        w_->StringGrid1->SetCells(ColId, 1, "$1F");
        QDir(maps_->path()).mkdir("out");
        const QString target = maps_->filePath("out/renamed.vlm");
        DialogScript dialogs({target});
        w_->Button2->click();
        QCOMPARE(dialogs.Log.size(), 1);
        QCOMPARE(dialogs.Log[0].Kind, TFileDialog::TKind::Save);
        QCOMPARE(dialogs.Log[0].FileName, QStringLiteral("motor"));
        QCOMPARE(dialogs.Log[0].InitialDir, AppDir());
        QCOMPARE(w_->windowTitle(), Caption + " [renamed]");
        QCOMPARE(w_->PathSaveCalibr, MapsDir() + "out/");
        QCOMPARE(w_->PathOpenCalibr, MapsDir());
        QVERIFY(errors_->Errors.isEmpty());

        const TCalibrationList saved = ReadMapFile(target);
        QCOMPARE(saved.Count(), 2);
        QCOMPARE(saved[0].Id, 31);
        QCOMPARE(saved[1].Name, QStringLiteral("edited_name"));
        QCOMPARE(saved[1].ValueStep, 2.5);
        QCOMPARE(saved[1].IdMox, QStringLiteral("1A2B3C4D"));
        // Saving leaves the table as it was.
        QCOMPARE(w_->StringGrid1->Cells(ColId, 1), QStringLiteral("$1F"));
        QCOMPARE(w_->StringGrid1->RowCount(), 4);

        // The next save proposes the new name in the new folder.
        dialogs.Answer(QString());
        w_->Button2->click();
        QCOMPARE(dialogs.Log[1].FileName, QStringLiteral("renamed"));
        QCOMPARE(dialogs.Log[1].InitialDir, MapsDir() + "out/");
        QCOMPARE(w_->windowTitle(), Caption + " [renamed]");
    }

    void saveVlmCancelledWritesNothing() {
        TypeRows({{"a", "1"}});
        DialogScript dialogs({QString()});
        w_->Button2->click();
        QCOMPARE(dialogs.Log.size(), 1);
        QCOMPARE(dialogs.Log[0].FileName, QString());
        QCOMPARE(w_->windowTitle(), Caption);
        QCOMPARE(w_->PathSaveCalibr, AppDir());
        QVERIFY(QDir(maps_->path()).isEmpty());
    }

    void saveVlmThatCannotWrite_data() {
        QTest::addColumn<bool>("readOnlyFolder");
        QTest::newRow("read-only folder") << true;
        QTest::newRow("parent is a file") << false;
    }

    void saveVlmThatCannotWrite() {
        QFETCH(bool, readOnlyFolder);
        QString target;
        QByteArray old;
        if (readOnlyFolder) {
            if (geteuid() == 0)
                QSKIP("permission bits do not stop root; the next row fails for root too");
            QDir(maps_->path()).mkdir("locked");
            target = WriteMap(maps_->path() + "/locked", "motor.vlm", {4});
            old = ReadBytes(target);
            QFile::setPermissions(maps_->filePath("locked"), QFile::ReadOwner | QFile::ExeOwner);
        } else {
            WriteFixture(maps_->path(), "plain", "not a folder");
            target = maps_->filePath("plain/motor.vlm");
        }
        TypeRows({{"a", "1"}, {"b", "2"}});
        DialogScript dialogs({target});
        w_->Button2->click();
        if (readOnlyFolder)
            QFile::setPermissions(maps_->filePath("locked"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(errors_->Errors, QStringList({"Unable to write to " + target + "."}));
        // What the command did before the write stays done.
        QCOMPARE(w_->windowTitle(), Caption + " [motor]");
        QCOMPARE(w_->PathSaveCalibr, ExtractFilePath(target));
        if (readOnlyFolder)
            QCOMPARE(ReadBytes(target), old);
        else
            QVERIFY(!QFileInfo(target).exists());
        QCOMPARE(Names(*w_->StringGrid1), QStringList({"a", "b", ""}));
    }

    void mouseOnTheTable_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("col");
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("menu");
        QTest::newRow("right on data") << "data" << int(Qt::RightButton) << 4 << 2 << true;
        QTest::newRow("left on data") << "data" << int(Qt::LeftButton) << 4 << 2 << false;
        QTest::newRow("middle on data") << "data" << int(Qt::MiddleButton) << 4 << 2 << false;
        QTest::newRow("right on entry row") << "entry" << int(Qt::RightButton) << 1 << 4 << true;
        QTest::newRow("right on header") << "header" << int(Qt::RightButton) << 7 << 3 << false;
        QTest::newRow("right beside cells") << "beside" << int(Qt::RightButton) << 7 << 3 << false;
        QTest::newRow("left beside cells") << "beside" << int(Qt::LeftButton) << 7 << 3 << false;
    }

    void mouseOnTheTable() {
        QFETCH(QString, where);
        QFETCH(int, button);
        QFETCH(int, col);
        QFETCH(int, row);
        QFETCH(bool, menu);
        TypeRows({{"a"}, {"b"}, {"c"}});
        w_->StringGrid1->SetRow(3);
        w_->StringGrid1->SetCol(7);
        TStringGridView& view = *w_->StringGrid1View;
        const auto mouse = Qt::MouseButton(button);
        if (where == "data")
            ClickCell(view, mouse, 4, 2);
        else if (where == "entry")
            ClickCell(view, mouse, 1, 4);
        else if (where == "header")
            ClickCell(view, mouse, 5, 0);
        else {
            const QRect last = view.visualRect(view.model()->index(3, 0));
            const QPoint below(last.left() + 5, last.bottom() + 20);
            QVERIFY(view.viewport()->rect().contains(below));
            QTest::mouseClick(view.viewport(), mouse, Qt::NoModifier, below);
        }
        QCOMPARE(w_->StringGrid1->Row(), row);
        QCOMPARE(w_->StringGrid1->Col(), col);
        QCOMPARE(w_->PopupMenu1->isVisible(), menu);
        QCOMPARE(view.currentIndex(), view.model()->index(row - 1, col));
    }

    void menuDeletesAndAddsRows() {
        TypeRows({{"a"}, {"b"}, {"c"}});
        w_->StringGrid1->SetCells(ColName, 4, "entry");
        ClickCell(*w_->StringGrid1View, Qt::RightButton, 0, 2);
        QVERIFY(w_->PopupMenu1->isVisible());
        w_->N1->trigger();
        w_->PopupMenu1->hide();
        QCOMPARE(Names(*w_->StringGrid1), QStringList({"a", "c", "entry"}));
        QCOMPARE(w_->StringGrid1->Row(), 2);

        // The entry row cannot be deleted; adding appends, whatever row is current.
        ClickCell(*w_->StringGrid1View, Qt::RightButton, 0, 3);
        QVERIFY(w_->PopupMenu1->isVisible());
        w_->N1->trigger();
        QCOMPARE(Names(*w_->StringGrid1), QStringList({"a", "c", "entry"}));
        w_->StringGrid1->SetRow(1);
        w_->N2->trigger();
        QCOMPARE(Names(*w_->StringGrid1), QStringList({"a", "c", "entry", ""}));
        QCOMPARE(CollectGridCalibrations(*w_->StringGrid1).Count(), 3);

        // Deleting the last data row leaves the entry row right under the row above.
        w_->StringGrid1->SetRow(3);
        w_->N1->trigger();
        QCOMPARE(Names(*w_->StringGrid1), QStringList({"a", "c", ""}));
        QCOMPARE(w_->StringGrid1->Row(), 3);
        QVERIFY(errors_->Errors.isEmpty());
    }

    void deleteOnEmptyTableDoesNothing() {
        w_->N1->trigger();
        QCOMPARE(w_->StringGrid1->RowCount(), 2);
    }

    void onlyTheMouseHandlerOpensTheMenu() {
        TypeRows({{"a"}, {"b"}});
        TStringGridView& view = *w_->StringGrid1View;
        view.setFocus();
        QTest::keyClick(&view, Qt::Key_Menu);
        const QPoint pos = view.CellRect(0, 1).center() - view.viewport()->pos();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, view.viewport()->mapToGlobal(pos));
        QCoreApplication::sendEvent(view.viewport(), &event);
        QVERIFY(!w_->PopupMenu1->isVisible());
    }

    // Every keystroke reaches the cell, so a command run mid-edit takes what was typed.
    void editingInPlace() {
        LoadVlm(WriteMap(maps_->path(), "motor.vlm", {1, 2}));
        TStringGridView& view = *w_->StringGrid1View;
        const QModelIndex id = view.model()->index(1, ColId);
        view.setCurrentIndex(id);
        view.edit(id);
        auto* editor = qobject_cast<QLineEdit*>(view.indexWidget(id));
        QVERIFY(editor != nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, "77");
        QCOMPARE(w_->StringGrid1->Cells(ColId, 2), QStringLiteral("77"));
        QTest::keyClick(editor, Qt::Key_Left);
        QTest::keyClicks(editor, "0");
        QCOMPARE(w_->StringGrid1->Cells(ColId, 2), QStringLiteral("707"));

        DialogScript dialogs({maps_->filePath("mid-edit.vlm")});
        w_->Button2->click();
        QCOMPARE(dialogs.Log.size(), 1);
        QCOMPARE(ReadMapFile(maps_->filePath("mid-edit.vlm"))[1].Id, 707);

        // Escape gives the cell back the text it had when editing began.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        view.setFocus();
        view.setCurrentIndex(id);
        view.edit(id);
        editor = qobject_cast<QLineEdit*>(view.indexWidget(id));
        QVERIFY(editor != nullptr);
        QTest::keyClick(editor, Qt::Key_End);
        QTest::keyClicks(editor, "9");
        QCOMPARE(w_->StringGrid1->Cells(ColId, 2), QStringLiteral("7079"));
        QTest::keyClick(editor, Qt::Key_Escape);
        QCOMPARE(w_->StringGrid1->Cells(ColId, 2), QStringLiteral("707"));
    }

    void typingStartsEditingAnyDataCell() {
        TStringGridView& view = *w_->StringGrid1View;
        view.setFocus();
        const QModelIndex cell = view.model()->index(0, ColIdMox);
        view.setCurrentIndex(cell);
        QTest::keyClick(&view, 'A');
        auto* editor = qobject_cast<QLineEdit*>(view.indexWidget(cell));
        QVERIFY(editor != nullptr);
        QTest::keyClicks(editor, "B");
        QCOMPARE(w_->StringGrid1->Cells(ColIdMox, 1), QStringLiteral("AB"));
        QCOMPARE(w_->StringGrid1->Cells(ColIdMox, 0), QStringLiteral("IdMox"));
    }

    void enterPressesLoadVlm() {
        TStringGridView& view = *w_->StringGrid1View;
        view.setFocus();
        DialogScript dialogs;
        QTest::keyClick(&view, Qt::Key_Return);
        QCOMPARE(dialogs.Log.size(), 1);
        QCOMPARE(dialogs.Log[0].Title, QStringLiteral("Загрузить карту Velantu..."));

        // While a cell is edited, Enter ends the edit instead.
        const QModelIndex name = view.model()->index(0, ColName);
        view.edit(name);
        auto* editor = qobject_cast<QLineEdit*>(view.indexWidget(name));
        QVERIFY(editor != nullptr);
        QTest::keyClicks(editor, "x");
        QTest::keyClick(editor, Qt::Key_Return);
        QCOMPARE(dialogs.Log.size(), 1);
        QCOMPARE(w_->StringGrid1->Cells(ColName, 1), QStringLiteral("x"));

        // A focused button takes Enter for itself.
        w_->Button2->setFocus();
        TypeRows({{"a", "1"}, {"b", "1"}});
        QTest::keyClick(w_->Button2, Qt::Key_Return);
        QCOMPARE(dialogs.Log.size(), 1);
        QCOMPARE(messages_->Messages, QStringList({DuplicateMessage("1")}));
    }

    void cellsThatWillNotSaveExplainWhy() {
        TypeRows({{"a", "5"}, {"b", "5", "", "", "", "", "", "0.5"}});
        TStringGridView& view = *w_->StringGrid1View;
        // What the table's cell painter shows as the tooltip of a cell, if anything.
        const auto tip = [&](int Col, int Row) {
            const QModelIndex index = view.model()->index(Row - 1, Col);
            const QPoint pos = view.visualRect(index).center();
            QHelpEvent event(QEvent::ToolTip, pos, view.viewport()->mapToGlobal(pos));
            QStyleOptionViewItem option;
            option.initFrom(view.viewport());
            const bool shown =
                view.itemDelegateForIndex(index)->helpEvent(&event, &view, option, index);
            return shown ? QToolTip::text() : QString();
        };
        QCOMPARE(tip(ColId, 2), QStringLiteral("Id 5 есть и в другой строке: карта с "
                                               "повторяющимися Id не сохраняется"));
        QCOMPARE(tip(ColStep, 2), QString());
        QCOMPARE(tip(ColOffset, 2), QStringLiteral("Не число: при сохранении будет записано 0"));
        QCOMPARE(tip(ColName, 2), QString());
        w_->StringGrid1->SetCells(ColId, 2, "6");
        QCOMPARE(tip(ColId, 1), QString());
        QToolTip::hideText();
    }

    void linkLabelOpensItsAddress() {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("https", &catcher, "Open");
        QTest::mouseClick(w_->Label4, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler("https");
        QCOMPARE(catcher.Urls, QList<QUrl>({QUrl(w_->Label4->text())}));
        QVERIFY(w_->Label4->text().startsWith("https://"));
        QCOMPARE(w_->Label4->cursor().shape(), Qt::PointingHandCursor);
    }

    void linkThatCannotOpenReportsNothing() {
        w_->Label4->setText("nosuchscheme-mapeditor:nowhere");
        QTest::mouseClick(w_->Label4, Qt::LeftButton);
        QVERIFY(messages_->Messages.isEmpty());
        QVERIFY(errors_->Errors.isEmpty());
    }

    void errorReportText_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Unable to write to x"
                                << "Unable to write to x.";
        QTest::newRow("digit") << "Line 4"
                               << "Line 4.";
        QTest::newRow("question mark") << "why?"
                                       << "why?.";
        QTest::newRow("full stop") << "done."
                                   << "done.";
        QTest::newRow("bracket") << "(x)"
                                 << "(x)";
        QTest::newRow("exclamation") << "stop!"
                                     << "stop!";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("cyrillic") << "Ошибка"
                                  << "Ошибка.";
    }

    void errorReportText() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        RunCommand([&] { throw EConvertError(message); });
        QCOMPARE(errors_->Errors, QStringList({shown}));
    }

    void errorsNeverLeaveACommand() {
        RunCommand([] { throw std::runtime_error("low level"); });
        RunCommand([] { throw 42; });
        QCOMPARE(errors_->Errors.size(), 2);
        QCOMPARE(errors_->Errors[0], QStringLiteral("low level."));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

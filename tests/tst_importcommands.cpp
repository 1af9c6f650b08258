// Load INI and Load XML as the user runs them: through the window's buttons, with the file dialog
// answered by a script, on the real window offscreen.

#include "TestSupport.h"
#include "tst_mainwindow_support.h"

#include "calibration/TextConv.h"
#include "mapfiles/Catalogue.h"
#include "ui/CalibrationGrid.h"
#include "ui/UFromMain.h"

#include <QPushButton>
#include <QTemporaryDir>

namespace {

const QString Caption = QStringLiteral("Velantu MapEditor v3.0 public edition");
const QString Root = QStringLiteral("BRELVAMONDIKA_by_Quilby_DM");

QString EntryName(int Entry) {
    return CalibrationCatalogue()[size_t(Entry - 1)].Name;
}

// The display name that the outside program writes into an export: spaces for underscores.
QString DisplayName(int Entry) {
    return EntryName(Entry).replace(u'_', u' ').trimmed();
}

QString IniSection(const QString& Header, const QString& Name, const QString& Addr) {
    return "[" + Header + "]\nName=" + Name + "\nType=2D\nOffset00=0x1A2B3C4D\nAddr=" + Addr +
           "\nPixelX=16\nF_MulMul=0.5\n\n";
}

QString XmlElement(int Entry, const QString& Address, const QString& Taring = "3") {
    return "<" + EntryName(Entry) +
           " graf=\"1D\" Делитель_шага=\"2\" Смещение=\"-40\" Шаг=\"0,5\" ID=\"1A2B3C4D\" "
           "Тип_тарировки=\"" +
           Taring + "\" address=\"" + Address + "\" Обратный_мультипликативный=\"0,25\"/>\r\n";
}

QByteArray XmlDocument(const QString& Body, const QString& RootName = Root) {
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<" + RootName + ">\r\n" + Body + "</" +
            RootName + ">\r\n")
        .toUtf8();
}

QStringList Column(const TStringGrid& Grid, int Col) {
    QStringList cells;
    for (int row = 1; row < Grid.RowCount() - 1; ++row)
        cells << Grid.Cells(Col, row);
    return cells;
}

// Rows of the table as they stand, the entry row included, to compare before and after.
QList<QStringList> Snapshot(const TStringGrid& Grid) {
    QList<QStringList> rows;
    for (int row = 1; row < Grid.RowCount(); ++row) {
        QStringList cells;
        for (int col = 0; col < Grid.ColCount(); ++col)
            cells << Grid.Cells(col, row);
        rows << cells;
    }
    return rows;
}

enum class TCommand { LoadIni, LoadXml };

} // namespace

Q_DECLARE_METATYPE(TCommand)

class TestImportCommands : public QObject, protected TWindowFixture {
    Q_OBJECT

    QPushButton* Button(TCommand Command) const {
        return Command == TCommand::LoadIni ? w_->Button4 : w_->Button1;
    }
    QString& Folder(TCommand Command) const {
        return Command == TCommand::LoadIni ? w_->PathOpenIni : w_->PathOpenXml;
    }

    // Runs the command through its button (Load XML's stays hidden, but its command is whole),
    // answering the dialog with Path; an empty Path cancels.
    DialogScript::Shown Run(TCommand Command, const QString& Path) {
        DialogScript dialogs({Path});
        Button(Command)->click();
        if (dialogs.Log.size() != 1)
            qFatal("the command showed %d dialogs", int(dialogs.Log.size()));
        return dialogs.Log.first();
    }

    // A map of two rows shown in the table, so that a command that must keep the table can be
    // told from one that clears it.
    void ShowPreviousMap() {
        const QString path = WriteMap(MapsDir(), "previous.vlm", {7, 8});
        DialogScript dialogs({path});
        w_->Button3->click();
        QCOMPARE(Column(*w_->StringGrid1, ColId), QStringList({"7", "8"}));
    }

private slots:
    void init() { OpenWindow(); }
    void cleanup() { CloseWindow(); }

    void dialogs_data() {
        QTest::addColumn<TCommand>("command");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("filter");
        QTest::newRow("Load INI") << TCommand::LoadIni << "Загрузить экспортированную карту MOX..."
                                  << "Экспортированные карты MOX|*.ini";
        QTest::newRow("Load XML") << TCommand::LoadXml << "Загрузить декомпелированную карту MOX..."
                                  << "Файлы XML|*.xml";
    }

    // Cancelling changes nothing; the dialog opens in the remembered folder with its own title.
    void cancelChangesNothing_data() { dialogs_data(); }
    void cancelChangesNothing() {
        QFETCH(TCommand, command);
        QFETCH(QString, title);
        QFETCH(QString, filter);
        ShowPreviousMap();
        const QString caption = w_->windowTitle();
        const QList<QStringList> before = Snapshot(*w_->StringGrid1);
        Folder(command) = MapsDir() + "remembered/";

        const DialogScript::Shown shown = Run(command, QString());

        QCOMPARE(shown.Title, title);
        QCOMPARE(shown.InitialDir, MapsDir() + "remembered/");
        QCOMPARE(shown.Kind, TFileDialog::TKind::Open);
        const TFileDialog& dialog =
            command == TCommand::LoadIni ? w_->OpenDialog3 : w_->OpenDialog1;
        QCOMPARE(dialog.Filter, filter);
        QCOMPARE(Folder(command), MapsDir() + "remembered/");
        QCOMPARE(w_->windowTitle(), caption);
        QCOMPARE(Snapshot(*w_->StringGrid1), before);
        QVERIFY(messages_->Messages.isEmpty());
        QVERIFY(errors_->Errors.isEmpty());
    }

    // Known tables in any file order come out in catalogue order with the catalogue's Ids;
    // unknown tables are left out; the file's folder is remembered for the next dialog.
    void loadFillsCatalogueOrder_data() {
        QTest::addColumn<TCommand>("command");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("bytes");

        const QString ini = IniSection("Таблица 1", DisplayName(16), "0x0300") +
                            IniSection("Таблица 2", "Неизвестная таблица", "0x0400") +
                            IniSection("Таблица 3", DisplayName(6), "0x0200") +
                            IniSection("Таблица 4", DisplayName(1), "0x0100");
        QString crlf = ini;
        crlf.replace(u'\n', QStringLiteral("\r\n"));
        QTest::newRow("INI, Windows-1251, CRLF")
            << TCommand::LoadIni << "Экспорт.ini" << Cp1251(crlf);
        QTest::newRow("INI, UTF-8, LF") << TCommand::LoadIni << "export.INI" << ini.toUtf8();
        QTest::newRow("XML") << TCommand::LoadXml << "map.xml"
                             << XmlDocument(XmlElement(16, "300") + "<Неизвестная a=\"1\"/>\r\n" +
                                            XmlElement(6, "200") + XmlElement(1, "100"));
    }
    void loadFillsCatalogueOrder() {
        QFETCH(TCommand, command);
        QFETCH(QString, fileName);
        QFETCH(QByteArray, bytes);
        SeparatorGuard comma(u','); // the XML numbers are written with a comma
        ShowPreviousMap();
        const QString path = WriteFixture(maps_->path(), fileName, bytes);

        Run(command, path);

        const TStringGrid& grid = *w_->StringGrid1;
        QCOMPARE(Column(grid, ColName),
                 QStringList({"Базовое цикловое наполнение", "УОЗ для экономичного режима",
                              "Фаза впрыска"}));
        QCOMPARE(Column(grid, ColId), QStringList({"1", "112", "61"}));
        QCOMPARE(Column(grid, ColAdress), QStringList({"256", "512", "768"}));
        QCOMPARE(grid.RowCount(), 5); // header, three rows, the entry row
        for (int col = 0; col < GridColumnCount; ++col)
            QCOMPARE(grid.Cells(col, 4), QString());
        QCOMPARE(w_->windowTitle(), Caption + " [" + ExtractMapName(path) + "]");
        QCOMPARE(Folder(command), MapsDir());
        QCOMPARE(ReadBytes(path), bytes); // the chosen file is never written
        QVERIFY(messages_->Messages.isEmpty());
        QVERIFY(errors_->Errors.isEmpty());

        // The next dialog opens where this file was.
        const DialogScript::Shown again = Run(command, QString());
        QCOMPARE(again.InitialDir, MapsDir());
    }

    // A file without a single known table still replaces the table: it ends up empty.
    void nothingKnownEmptiesTable_data() {
        QTest::addColumn<TCommand>("command");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("INI, unknown tables")
            << TCommand::LoadIni << IniSection("T", "Неизвестная таблица", "0x10").toUtf8()
            << QStringList();
        QTest::newRow("INI, empty file") << TCommand::LoadIni << QByteArray() << QStringList();
        QTest::newRow("XML, root without tables")
            << TCommand::LoadXml << XmlDocument("<Другое a=\"1\"/>\r\n") << QStringList();
        QTest::newRow("XML, root differs in case")
            << TCommand::LoadXml << XmlDocument(XmlElement(1, "100"), Root.toLower())
            << QStringList({"Не найден корень XML"});
    }
    void nothingKnownEmptiesTable() {
        QFETCH(TCommand, command);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, messages);
        ShowPreviousMap();
        const QString path = WriteFixture(maps_->path(), "other.map", bytes);

        Run(command, path);

        QCOMPARE(w_->StringGrid1->RowCount(), 2);
        for (int col = 0; col < GridColumnCount; ++col)
            QCOMPARE(w_->StringGrid1->Cells(col, 1), QString());
        QCOMPARE(w_->windowTitle(), Caption + " [other]");
        QCOMPARE(messages_->Messages, messages);
        QVERIFY(errors_->Errors.isEmpty());
    }

    // Failures of Load XML after the file was chosen: the folder, map name and caption have
    // changed already, the table still shows the previous map.
    void xmlFailureKeepsTable_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("bytes"); // empty: the file does not exist
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("error"); // a regular expression; empty: no error report
        QTest::newRow("missing file") << "gone.xml" << QByteArray() << QStringList() << QString();
        QTest::newRow("not well-formed")
            << "broken.xml" << QByteArray("<?xml version=\"1.0\"?>\r\n<a>\r\n<b></a>\r\n")
            << QStringList() << "^.+\\r\\nLine: 3\\r\\n.{0,40}$";
        // The first element loads and its sibling lacks graf; the third stops the command:
        // what was read is dropped, the message already shown stays shown.
        QTest::newRow("conversion failure")
            << "taring.xml"
            << XmlDocument(XmlElement(1, "100") + "<" + EntryName(2) + " address=\"1\"/>\r\n" +
                           XmlElement(16, "200", "abc"))
            << QStringList({"Не могу определить graf (" + NormalizeName(EntryName(2)) + ")"})
            << "^''abc'' is not a valid integer value\\.$";
    }
    void xmlFailureKeepsTable() {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, messages);
        QFETCH(QString, error);
        SeparatorGuard comma(u',');
        ShowPreviousMap();
        const QList<QStringList> before = Snapshot(*w_->StringGrid1);
        const QString path =
            bytes.isEmpty() ? MapsDir() + fileName : WriteFixture(maps_->path(), fileName, bytes);
        w_->PathOpenXml = AppDir();

        Run(TCommand::LoadXml, path);

        QCOMPARE(Snapshot(*w_->StringGrid1), before);
        QCOMPARE(w_->PathOpenXml, MapsDir());
        QCOMPARE(w_->windowTitle(), Caption + " [" + ExtractMapName(path) + "]");
        QCOMPARE(messages_->Messages, messages);
        if (error.isEmpty()) {
            QVERIFY(errors_->Errors.isEmpty());
        } else {
            QCOMPARE(errors_->Errors.size(), 1);
            QVERIFY2(QRegularExpression(error).match(errors_->Errors.first()).hasMatch(),
                     qPrintable(errors_->Errors.first()));
        }
        if (!bytes.isEmpty())
            QCOMPARE(ReadBytes(path), bytes);

        // The window goes on working: a good file loads next.
        const QString good =
            WriteFixture(maps_->path(), "good.xml", XmlDocument(XmlElement(1, "1")));
        Run(TCommand::LoadXml, good);
        QCOMPARE(Column(*w_->StringGrid1, ColId), QStringList({"1"}));
    }

    // What the table shows after a load is what Save VLM stores.
    void loadedMapSavesAsShown() {
        const QString ini =
            WriteFixture(maps_->path(), "export.ini",
                         Cp1251(IniSection("S", DisplayName(1), "0x1F00").replace(u'\n', "\r\n")));
        Run(TCommand::LoadIni, ini);
        const QString out = MapsDir() + "saved.vlm";
        {
            DialogScript dialogs({out});
            w_->Button2->click();
            QCOMPARE(dialogs.Log.size(), 1);
            QCOMPARE(dialogs.Log.first().FileName, QStringLiteral("export"));
        }
        const TCalibrationList saved = ReadMapFile(out);
        QCOMPARE(saved.Count(), 1);
        const TCalibration& c = *saved.Items[0];
        QCOMPARE(c.Name, DisplayName(1));
        QCOMPARE(c.Id, 1);
        QCOMPARE(c.IdMox, QStringLiteral("1A2B3C4D"));
        QCOMPARE(c.ByteAdress, 7936);
        QCOMPARE(c.ByteLength, 16);
        QCOMPARE(c.TypeTable, 2);
        QCOMPARE(c.ValueStep, 0.5);
        QVERIFY(errors_->Errors.isEmpty());
    }
};

QTEST_MAIN(TestImportCommands)
#include "tst_importcommands.moc"

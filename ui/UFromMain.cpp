#include "ui/UFromMain.h"

#include "calibration/Messages.h"
#include "calibration/TextConv.h"
#include "mapfiles/IniFile.h"
#include "mapfiles/IniImport.h"
#include "mapfiles/MapFile.h"
#include "ui/CalibrationGrid.h"
#include "ui/CommandTexts.h"
#include "ui/MessageBoxes.h"
#include "ui/Settings.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

namespace {

// The window as laid out at 96 dpi: its client size, and the smallest one. The smallest outer
// size, 810 x 300, is taken at the frame it was designed with (8 pixels each side, a 31-pixel
// caption), so that on any desktop the window opens at its full client size and can shrink to
// the same client size.
constexpr QSize DesignClient(794, 442);
constexpr QSize MinimumClient(810 - 16, 300 - 39);

constexpr QRect Button3Rect(8, 8, 75, 25);
constexpr QRect Button4Rect(96, 8, 75, 25);
constexpr QRect Button1Rect(185, 8, 75, 25);
constexpr QRect Button2Rect(273, 8, 75, 25);
constexpr QRect Label5Rect(433, 4, 345, 29);
constexpr QRect GridRect(8, 39, 778, 380);
// The footer labels fit their texts and keep their distance to the bottom-right corner: the
// link's right edge and the baseline row are fixed, the other three follow leftwards with the
// gaps of the design (so a wider fallback font makes them move left, never overlap).
constexpr int FooterTop = 421;
constexpr int FooterRight = 767;
constexpr int GapLabel1To2 = 6;
constexpr int GapLabel2To3 = 21;
constexpr int GapLabel3To4 = 6;

const QString DescriptionText = QStringLiteral(
    "Программа предназначенна для редактирования карт прошивок специального формата *.vlm "
    "программы Velantu.");

QPushButton* MakeButton(QWidget* Parent, const QString& Caption, const QString& Hint) {
    auto* button = new QPushButton(Caption, Parent);
    button->setToolTip(Hint);
    return button;
}

// The description was laid out for Tahoma; in a wider fallback font its wrapped text would not
// fit the fixed box, so the label's font shrinks (not below 6 pt) until it does.
void FitTextInto(QLabel& Label, const QSize& Box) {
    QFont font = Label.font();
    for (qreal size = font.pointSizeF(); size >= 6.0; size -= 0.5) {
        font.setPointSizeF(size);
        const QRect needed =
            QFontMetrics(font).boundingRect(QRect(QPoint(), Box), Qt::TextWordWrap, Label.text());
        if (needed.height() <= Box.height())
            break;
    }
    Label.setFont(font);
}

void SetUpDialog(TFileDialog& Dialog, const QString& Title, const QString& Filter,
                 const QString& DefaultExt) {
    Dialog.Title = Title;
    Dialog.Filter = Filter;
    Dialog.DefaultExt = DefaultExt;
}

} // namespace

TFMain::TFMain(QWidget* Parent)
    : QWidget(Parent), OpenDialog1(this), OpenDialog2(this), OpenDialog3(this), SaveDialog1(this) {
    CreateControls();
    FormCreate(this);
}

TFMain::~TFMain() = default;

void TFMain::CreateControls() {
    setObjectName(QStringLiteral("FMain"));
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    setFont(font);
    resize(DesignClient);
    setMinimumSize(MinimumClient);

    Button3 =
        MakeButton(this, QStringLiteral("Load VLM"), QStringLiteral("Загрузить карту Velantu"));
    Button4 = MakeButton(this, QStringLiteral("Load INI"),
                         QStringLiteral("Загрузить экспортированную карту MOX"));
    Button1 = MakeButton(this, QStringLiteral("Load XML"),
                         QStringLiteral("Загрузить карту MOX преобразованную в формат XML"));
    Button2 = MakeButton(this, QStringLiteral("Save VLM"),
                         QStringLiteral("Сохранить карту в формат Velantu"));
    Button3->setDefault(true);

    Label5 = new QLabel(DescriptionText, this);
    Label5->setWordWrap(true);
    Label5->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FitTextInto(*Label5, Label5Rect.size());

    StringGrid1 = new TStringGrid(GridColumnCount, this);
    StringGrid1View = new TStringGridView(*StringGrid1, this);
    StringGrid1View->setTabKeyNavigation(false);

    Label1 = new QLabel(QStringLiteral("Автор: "), this);
    Label2 = new QLabel(QStringLiteral("команда MapEditor"), this);
    QFont bold = Label2->font();
    bold.setBold(true);
    Label2->setFont(bold);
    Label3 = new QLabel(QStringLiteral("Совместно с "), this);
    Label4 = new QLabel(QStringLiteral("https://mapeditor.example/"), this);
    QFont link = Label4->font();
    link.setUnderline(true);
    Label4->setFont(link);
    QPalette palette = Label4->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    Label4->setPalette(palette);
    Label4->setCursor(Qt::PointingHandCursor);
    Label4->installEventFilter(this);
    for (QLabel* label : {Label1, Label2, Label3, Label4})
        label->adjustSize();

    PopupMenu1 = new QMenu(this);
    N1 = PopupMenu1->addAction(QStringLiteral("Удалить калибровку"));
    N2 = PopupMenu1->addAction(QStringLiteral("Добавить калибровку"));

    SetUpDialog(OpenDialog1, QStringLiteral("Загрузить декомпелированную карту MOX..."),
                QStringLiteral("Файлы XML|*.xml"), QStringLiteral("*.xml"));
    SetUpDialog(OpenDialog2, QStringLiteral("Загрузить карту Velantu..."),
                QStringLiteral("Файлы карт Velantu|*.vlm"), QStringLiteral("*.vlm"));
    SetUpDialog(OpenDialog3, QStringLiteral("Загрузить экспортированную карту MOX..."),
                QStringLiteral("Экспортированные карты MOX|*.ini"), QStringLiteral("*.ini"));
    SetUpDialog(SaveDialog1, QStringLiteral("Сохранить карту Velantu..."),
                QStringLiteral("Карты Velantu|*.vlm"), QStringLiteral("*.vlm"));

    // Tab order: Load XML, the table, Save VLM, Load VLM, Load INI.
    setTabOrder(Button1, StringGrid1View);
    setTabOrder(StringGrid1View, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, Button4);
    for (QLabel* label : {Label1, Label2, Label3, Label4, Label5})
        label->setFocusPolicy(Qt::NoFocus);

    // Every command runs inside the default error report: no error reaches the event loop.
    connect(Button1, &QPushButton::clicked, this,
            [this] { RunCommand([this] { Button1Click(Button1); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { RunCommand([this] { Button2Click(Button2); }); });
    connect(Button3, &QPushButton::clicked, this,
            [this] { RunCommand([this] { Button3Click(Button3); }); });
    connect(Button4, &QPushButton::clicked, this,
            [this] { RunCommand([this] { Button4Click(Button4); }); });
    connect(N1, &QAction::triggered, this, [this] { RunCommand([this] { N1Click(N1); }); });
    connect(N2, &QAction::triggered, this, [this] { RunCommand([this] { N2Click(N2); }); });
    connect(StringGrid1View, &TStringGridView::MouseUp, this,
            [this](TMouseButton Button, TShiftState Shift, int X, int Y) {
                RunCommand([&] { StringGrid1MouseUp(StringGrid1View, Button, Shift, X, Y); });
            });

    LayOut();
}

void TFMain::FormCreate(QObject*) {
    Button1->hide();
    SetupCalibrationGrid(*StringGrid1);
    MapName.clear();
    const TRememberedFolders folders = ReadSettings();
    PathOpenXml = folders.PathOpenXml;
    PathOpenIni = folders.PathOpenIni;
    PathOpenCalibr = folders.PathOpenCalibr;
    PathSaveCalibr = folders.PathSaveCalibr;
    RefreshCaption();
}

void TFMain::FormClose(QObject*, TCloseAction&) {
    WriteSettings({PathOpenXml, PathOpenIni, PathOpenCalibr, PathSaveCalibr});
}

void TFMain::RefreshCaption() {
    QString caption = QStringLiteral("Velantu MapEditor v3.0");
    caption += QStringLiteral(" public edition");
    if (!MapName.isEmpty())
        caption += QStringLiteral(" [") + MapName + QStringLiteral("]");
    setWindowTitle(caption);
}

void TFMain::Button1Click(QObject*) {
    OpenDialog1.InitialDir = PathOpenXml;
    if (!OpenDialog1.Execute())
        return;
    const QString fileName = OpenDialog1.FileName;
    PathOpenXml = ExtractFilePath(fileName);
    MapName = ExtractMapName(fileName);
    RefreshCaption();
    // QFileInfo follows a symbolic link: a link whose target is gone counts as missing.
    if (!QFileInfo::exists(fileName))
        return;
    XMLDocument1.LoadFromFile(fileName);
    const TCalibrationList list = ReadXmlMap(XMLDocument1);
    XMLDocument1.Close();
    ClearGrid(*StringGrid1);
    FillGrid(*StringGrid1, list);
}

void TFMain::Button2Click(QObject*) {
    const TCalibrationList list = CollectGridCalibrations(*StringGrid1);
    if (list.Count() == 0)
        return;
    int id = 0;
    if (FindDuplicateId(list, id)) {
        ShowMessage(DuplicateIdMessage(id));
        return;
    }
    SaveDialog1.InitialDir = PathSaveCalibr;
    SaveDialog1.FileName = MapName;
    if (!SaveDialog1.Execute())
        return;
    const QString fileName = SaveDialog1.FileName;
    PathSaveCalibr = ExtractFilePath(fileName);
    MapName = ExtractMapName(fileName);
    RefreshCaption();
    WriteMapFile(fileName, list);
}

void TFMain::Button3Click(QObject*) {
    OpenDialog2.InitialDir = PathOpenCalibr;
    if (!OpenDialog2.Execute())
        return;
    const QString fileName = OpenDialog2.FileName;
    PathOpenCalibr = ExtractFilePath(fileName);
    MapName = ExtractMapName(fileName);
    RefreshCaption();
    const TCalibrationList list = ReadMapFile(fileName);
    ClearGrid(*StringGrid1);
    FillGrid(*StringGrid1, list);
}

void TFMain::Button4Click(QObject*) {
    OpenDialog3.InitialDir = PathOpenIni;
    if (!OpenDialog3.Execute())
        return;
    const QString fileName = OpenDialog3.FileName;
    PathOpenIni = ExtractFilePath(fileName);
    MapName = ExtractMapName(fileName);
    RefreshCaption();
    const TIniFile ini(fileName);
    const TCalibrationList list = ReadIniMap(ini);
    ClearGrid(*StringGrid1);
    FillGrid(*StringGrid1, list);
}

void TFMain::LabelLinkClick(QObject* Sender) {
    if (const auto* label = qobject_cast<QLabel*>(Sender))
        QDesktopServices::openUrl(QUrl(label->text()));
}

void TFMain::N1Click(QObject*) {
    const int row = StringGrid1->Row();
    if (row >= 0 && row < StringGrid1->RowCount() - 1)
        DeleteGridRow(row, *StringGrid1);
}

void TFMain::N2Click(QObject*) {
    StringGrid1->SetRowCount(StringGrid1->RowCount() + 1);
}

void TFMain::StringGrid1MouseUp(QObject*, TMouseButton Button, TShiftState, int X, int Y) {
    int col = -1;
    int row = -1;
    StringGrid1View->MouseToCell(X, Y, col, row);
    if (col < 0 || row < 1 || col >= StringGrid1->ColCount() || row >= StringGrid1->RowCount())
        return;
    StringGrid1->SetCol(col);
    StringGrid1->SetRow(row);
    if (Button == mbRight)
        PopupMenu1->popup(QCursor::pos());
}

void TFMain::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    if (shown_)
        return;
    shown_ = true;
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    StringGrid1View->setFocus();
}

void TFMain::resizeEvent(QResizeEvent* Event) {
    QWidget::resizeEvent(Event);
    LayOut();
}

// Controls keep their distances to the window edges they are anchored to.
void TFMain::LayOut() {
    const int dx = width() - DesignClient.width();
    const int dy = height() - DesignClient.height();
    Button3->setGeometry(Button3Rect);
    Button4->setGeometry(Button4Rect);
    Button1->setGeometry(Button1Rect);
    Button2->setGeometry(Button2Rect);
    Label5->setGeometry(Label5Rect.translated(dx, 0));
    StringGrid1View->setGeometry(GridRect.adjusted(0, 0, dx, dy));

    const int top = FooterTop + dy;
    int right = FooterRight + dx;
    const std::pair<QLabel*, int> footer[] = {
        {Label4, GapLabel3To4}, {Label3, GapLabel2To3}, {Label2, GapLabel1To2}, {Label1, 0}};
    for (const auto& [label, gap] : footer) {
        const QSize size = label->sizeHint();
        label->setGeometry(right - size.width(), top, size.width(), size.height());
        right -= size.width() + gap;
    }
}

void TFMain::closeEvent(QCloseEvent* Event) {
    TCloseAction action = caFree;
    RunCommand([&] { FormClose(this, action); });
    // The window closes whatever the settings write did: its error has been shown.
    Event->accept();
}

// Enter presses the focused button, and otherwise the default button, Load VLM; the table
// takes Enter itself only while a cell is being edited.
void TFMain::keyPressEvent(QKeyEvent* Event) {
    if ((Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter) &&
        Event->modifiers() == Qt::NoModifier) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        QPushButton* button = focused != nullptr && focused->isVisible() ? focused : Button3;
        if (button->isEnabled())
            button->click();
        return;
    }
    QWidget::keyPressEvent(Event);
}

bool TFMain::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == Label4 && Event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(Event);
        if (mouse->button() == Qt::LeftButton &&
            Label4->rect().contains(mouse->position().toPoint()))
            RunCommand([this] { LabelLinkClick(Label4); });
    }
    return QWidget::eventFilter(Watched, Event);
}

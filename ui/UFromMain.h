#pragma once

#include "mapfiles/XmlImport.h"
#include "ui/FileDialogs.h"
#include "ui/StringGrid.h"
#include "ui/StringGridView.h"

#include <QWidget>

class QAction;
class QLabel;
class QMenu;
class QPushButton;

enum TCloseAction { caNone, caHide, caFree, caMinimize };

// The editor's one window: four command buttons over the calibration table, a description and
// a footer with the author and a link.
//
// Driving it from a test (no real dialog or message box ever opens there):
// - File dialogs: every OpenDialogN / SaveDialog1 Execute() goes to the handler installed with
//   SetFileDialogHandler (ui/FileDialogs.h). The handler sees the dialog object (Title, Filter,
//   InitialDir, FileName as the command prepared them) and answers by setting FileName to the
//   chosen path and returning true, or by returning false (Cancel). Without a handler every
//   dialog answers Cancel.
// - Messages: ShowMessage texts go to the ShowMessage handler (a MessageRecorder from
//   tests/TestSupport.h); errors that end a command go to the error report handler
//   (SetErrorReportHandler, ui/MessageBoxes.h), with the "." rule applied.
// - The handlers below are the commands themselves and let errors through, as the commands do;
//   clicking a button (Button3->click()), triggering a menu item (N1->trigger()) or closing the
//   window runs the same command inside the default error report, as a user would.
// - The program's entry installs the real dialogs and message boxes (UseDesktopFileDialogs,
//   UseMessageBoxes); constructing a TFMain installs nothing.
class TFMain : public QWidget {
    Q_OBJECT

public:
    explicit TFMain(QWidget* Parent = nullptr);
    ~TFMain() override;

    QPushButton* Button1; // Load XML, hidden
    QPushButton* Button2; // Save VLM
    QPushButton* Button3; // Load VLM, the default button
    QPushButton* Button4; // Load INI
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4; // the link
    QLabel* Label5;
    TStringGrid* StringGrid1;         // the table's cells, current cell and column widths
    TStringGridView* StringGrid1View; // the table on screen
    QMenu* PopupMenu1;
    QAction* N1;             // "Удалить калибровку"
    QAction* N2;             // "Добавить калибровку"
    TOpenDialog OpenDialog1; // Load XML
    TOpenDialog OpenDialog2; // Load VLM
    TOpenDialog OpenDialog3; // Load INI
    TSaveDialog SaveDialog1; // Save VLM
    TXMLDocument XMLDocument1;

    // The map's name (the last file loaded or saved, without folder and extension) and the
    // folder last chosen in each dialog, ending in "/".
    QString MapName;
    QString PathOpenXml;
    QString PathOpenIni;
    QString PathOpenCalibr;
    QString PathSaveCalibr;

    void FormCreate(QObject* Sender);
    void FormClose(QObject* Sender, TCloseAction& Action);
    void RefreshCaption();
    void Button1Click(QObject* Sender); // Load XML
    void Button2Click(QObject* Sender); // Save VLM
    void Button3Click(QObject* Sender); // Load VLM
    void Button4Click(QObject* Sender); // Load INI
    void LabelLinkClick(QObject* Sender);
    void N1Click(QObject* Sender);
    void N2Click(QObject* Sender);
    void StringGrid1MouseUp(QObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);

protected:
    void showEvent(QShowEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void CreateControls();
    void LayOut();
    bool shown_ = false;
};

#pragma once

#include <QString>
#include <functional>
#include <memory>

class QFileDialog;
class QWidget;

// The window's open and save dialogs. Each object lives as long as the window and keeps the file
// last chosen in it. Filter holds one entry written "description|pattern", DefaultExt is written
// "*.ext".
//
// Every Execute() is answered by one handler. The program installs the desktop's file dialog
// (UseDesktopFileDialogs); until then, and in tests that install their own, no real dialog is
// ever shown: a test's handler reads what the command prepared (Title, InitialDir, FileName...)
// and answers by setting FileName and returning true, or returning false for Cancel.
class TFileDialog {
public:
    enum class TKind { Open, Save };

    TFileDialog(TKind Kind, QWidget* Owner);
    virtual ~TFileDialog();
    TFileDialog(const TFileDialog&) = delete;
    TFileDialog& operator=(const TFileDialog&) = delete;

    const TKind Kind;
    QWidget* const Owner;
    QString Title;
    QString Filter;
    QString DefaultExt;
    QString InitialDir;
    QString FileName;
    // Open dialogs: the folder and the file must exist.
    bool MustExist = false;
    // Save dialogs: ask before replacing an existing file.
    bool ConfirmOverwrite = false;

    // Shows the dialog, modal to Owner. True when the user chose a file (then in FileName).
    bool Execute();

    // The desktop dialog behind this object, made on first use and kept, so that it keeps its
    // size and history through the run.
    std::unique_ptr<QFileDialog> Desktop;
};

class TOpenDialog : public TFileDialog {
public:
    explicit TOpenDialog(QWidget* Owner) : TFileDialog(TKind::Open, Owner) { MustExist = true; }
};

class TSaveDialog : public TFileDialog {
public:
    explicit TSaveDialog(QWidget* Owner) : TFileDialog(TKind::Save, Owner) {
        ConfirmOverwrite = true;
    }
};

using FileDialogHandler = std::function<bool(TFileDialog& Dialog)>;

// Installs Handler and returns the one it replaces; an empty handler restores the default,
// which shows nothing and answers Cancel.
FileDialogHandler SetFileDialogHandler(FileDialogHandler Handler);
// Answers every dialog with the desktop's file dialog.
void UseDesktopFileDialogs();
// The desktop's answer to Dialog (what UseDesktopFileDialogs installs).
bool ExecuteDesktopFileDialog(TFileDialog& Dialog);

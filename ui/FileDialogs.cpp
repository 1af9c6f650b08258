#include "ui/FileDialogs.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFileDialog>
#include <QFileInfo>

namespace {

bool Cancel(TFileDialog& Dialog) {
    qWarning("no file dialog installed: \"%s\" answered Cancel", qPrintable(Dialog.Title));
    return false;
}

FileDialogHandler& Current() {
    static FileDialogHandler handler = Cancel;
    return handler;
}

// "Карты|*.vlm" as Qt writes a filter: "Карты (*.vlm)".
QString QtFilter(const QString& Filter) {
    const qsizetype bar = Filter.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return Filter;
    return QStringLiteral("%1 (%2)").arg(Filter.left(bar), Filter.mid(bar + 1));
}

// "*.vlm" as a suffix: "vlm".
QString Suffix(const QString& DefaultExt) {
    QString suffix = DefaultExt;
    if (suffix.startsWith(QLatin1String("*")))
        suffix.remove(0, 1);
    if (suffix.startsWith(QLatin1String(".")))
        suffix.remove(0, 1);
    return suffix;
}

} // namespace

TFileDialog::TFileDialog(TKind Kind, QWidget* Owner) : Kind(Kind), Owner(Owner) {}

TFileDialog::~TFileDialog() = default;

bool TFileDialog::Execute() {
    return Current()(*this);
}

FileDialogHandler SetFileDialogHandler(FileDialogHandler Handler) {
    FileDialogHandler old = std::move(Current());
    Current() = Handler ? std::move(Handler) : FileDialogHandler(Cancel);
    return old;
}

void UseDesktopFileDialogs() {
    SetFileDialogHandler(ExecuteDesktopFileDialog);
}

bool ExecuteDesktopFileDialog(TFileDialog& Dialog) {
    if (!Dialog.Desktop)
        Dialog.Desktop = std::make_unique<QFileDialog>(Dialog.Owner);
    QFileDialog& dialog = *Dialog.Desktop;
    dialog.setWindowTitle(Dialog.Title);
    dialog.setNameFilter(QtFilter(Dialog.Filter));
    dialog.setDefaultSuffix(Suffix(Dialog.DefaultExt));
    dialog.setWindowModality(Qt::WindowModal);
    const bool open = Dialog.Kind == TFileDialog::TKind::Open;
    dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(open && Dialog.MustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !Dialog.ConfirmOverwrite);
    if (!Dialog.InitialDir.isEmpty() && QFileInfo(Dialog.InitialDir).isDir())
        dialog.setDirectory(Dialog.InitialDir);
    // The name last chosen (or proposed by the command) stands in the name field.
    dialog.selectFile(Dialog.FileName.isEmpty() ? QString()
                                                : QFileInfo(Dialog.FileName).fileName());
    const int result = dialog.exec();
    // A typed name accepted with Enter can leave the name field's completion list on screen
    // after the dialog has gone; it belongs to the dialog, so it goes with it.
    for (QCompleter* completer : dialog.findChildren<QCompleter*>())
        if (completer->popup())
            completer->popup()->hide();
    if (result != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    Dialog.FileName = QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
    return true;
}

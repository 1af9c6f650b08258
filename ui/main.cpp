#include "calibration/Exceptions.h"
#include "ui/FileDialogs.h"
#include "ui/MessageBoxes.h"
#include "ui/UFromMain.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// Qt delivers events to the window's handlers, which run every command inside the default
// error report already; this catches whatever would still escape, so nothing ever unwinds
// through the event loop.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* Receiver, QEvent* Event) override {
        bool result = false;
        RunCommand([&] { result = QApplication::notify(Receiver, Event); });
        return result;
    }
};

} // namespace

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("MapEditor"));

    // The file dialogs and message boxes speak the user's language, as the window does.
    QTranslator translator;
    if (translator.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&translator);

    TFMain FMain;
    UseDesktopFileDialogs();
    UseMessageBoxes(&FMain);
    FMain.show();
    return app.exec();
}

// Peak memory of the window holding a large map: Load VLM of a generated map through the real
// window (offscreen unless QT_QPA_PLATFORM says otherwise), the table shown and painted, then the
// process's peak resident size (VmHWM).
//
//   bench_window_memory [N]     N calibrations, 100,000 unless given
//
// A child process writes the map file, so that making it does not count.

#include "BenchSupport.h"
#include "calibration/TextConv.h"
#include "mapfiles/MapFile.h"
#include "ui/FileDialogs.h"
#include "ui/UFromMain.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char* argv[]) {
    const int count = argc > 1 ? std::atoi(argv[1]) : TargetSize;
    if (count <= 0) {
        std::fprintf(stderr, "usage: bench_window_memory [calibrations]\n");
        return 2;
    }
    SetDecimalSeparator(u',');
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("map.vlm"));
    const pid_t pid = fork();
    if (pid == 0) {
        WriteMapFile(path, MakeMap(count));
        _exit(0);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "could not write the map\n");
        return 1;
    }

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetAppFolder(folder.path() + QLatin1Char('/')); // any settings file goes there
    SetFileDialogHandler([&path](TFileDialog& Dialog) {
        Dialog.FileName = path;
        return true;
    });
    TFMain w;
    w.show();
    QCoreApplication::processEvents();
    const double before = StatusMiB("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    w.Button3->click();
    QCoreApplication::processEvents();
    w.StringGrid1View->viewport()->repaint();
    const double ms = MsSince(start);
    if (w.StringGrid1->RowCount() != count + 2) {
        std::fprintf(stderr, "the table holds %d rows\n", w.StringGrid1->RowCount());
        return 1;
    }
    const double peak = StatusMiB("VmHWM:");
    const double peakMB = peak * 1.048576;
    std::printf("%d calibrations: window %.1f MiB before the load, peak %.1f MiB = %.1f MB, "
                "%.1f MiB after (load %.0f ms)\n",
                count, before, peak, peakMB, StatusMiB("VmRSS:"), ms);
    if (count == TargetSize)
        std::printf("target peak <= 250 MB at %d calibrations: %s\n", TargetSize,
                    peakMB <= 250 ? "met" : "MISSED");
    SetFileDialogHandler({});
    SetAppFolder(QString());
    return 0;
}

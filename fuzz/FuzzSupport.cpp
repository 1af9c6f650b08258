#include "FuzzSupport.h"

#include "calibration/Messages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

QString TempFolder() {
    // Memory-backed where it exists: the targets write a file per input.
    static const QString folder = QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                      ? QStringLiteral("/dev/shm")
                                      : QDir::tempPath();
    return folder;
}

QString ProcessPath(const char* Tag, const char* Extension) {
    return QStringLiteral("%1/mapeditor-fuzz-%2-%3.%4")
        .arg(TempFolder())
        .arg(getpid())
        .arg(QLatin1StringView(Tag), QLatin1StringView(Extension));
}

void RemoveOurFiles() {
    QDir dir(TempFolder());
    const QString pattern = QStringLiteral("mapeditor-fuzz-%1-*").arg(getpid());
    for (const QString& name : dir.entryList({pattern}, QDir::Files | QDir::Hidden))
        dir.remove(name);
}

} // namespace

void FuzzFail(const char* File, int Line, const char* Condition, const QString& What) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n  %s\n", File, Line, Condition,
                 What.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

void FuzzInit() {
    static bool done = false;
    if (done)
        return;
    done = true;
    SetShowMessageHandler([](const QString&) {});
    std::atexit(RemoveOurFiles);
}

QString FuzzFile(const uint8_t* Data, size_t Size, const char* Extension) {
    const QString path = ProcessPath("in", Extension);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(Data), qint64(Size)) != qint64(Size))
        FuzzFail(__FILE__, __LINE__, "write", QStringLiteral("cannot write ") + path);
    return path;
}

QString FuzzOutFile(const char* Extension) {
    return ProcessPath("out", Extension);
}

QString Printable(const QString& Text) {
    QString out;
    for (QChar ch : Text) {
        if (ch.unicode() < 0x20 || ch == u'\\')
            out += QStringLiteral("\\x%1").arg(ch.unicode(), 2, 16, QChar(u'0'));
        else
            out += ch;
    }
    return u'"' + out + u'"';
}

// Saving when the file system says no: a read-only folder, a path that is a folder, a folder
// that is gone, a write cut off part-way by a file-size limit. The map file and the settings
// file must each raise the exact write error and leave the file that was there as it was.
//
// The read-only folder and the size limit are set up in a forked child, so that neither the
// mount nor the limit touches the test runner. Root is not stopped by permission bits, so as
// root the read-only folder is a tmpfs remounted read-only inside a private mount namespace.

#include "TestSupport.h"

#include "calibration/Exceptions.h"
#include "calibration/TextConv.h"
#include "mapfiles/MapFile.h"
#include "ui/Settings.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <functional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

enum class Fault {
    ReadOnlyFolder, // the folder cannot take a new file
    PathIsFolder,   // the target name is taken by a folder
    FolderGone,     // the folder was removed after the file was chosen
    SizeLimit,      // the write stops part-way (RLIMIT_FSIZE, SIGXFSZ ignored)
};

// What a save attempt left behind.
struct Outcome {
    QString Skip; // why the fault could not be set up here; the rest is then empty
    bool Raised = false;
    QString Message;
    bool Exists = false; // the target is still a regular file
    QByteArray Bytes;    // the target's bytes afterwards
    QStringList Entries; // the folder's entries afterwards
};

QDataStream& operator<<(QDataStream& s, const Outcome& o) {
    return s << o.Skip << o.Raised << o.Message << o.Exists << o.Bytes << o.Entries;
}
QDataStream& operator>>(QDataStream& s, Outcome& o) {
    return s >> o.Skip >> o.Raised >> o.Message >> o.Exists >> o.Bytes >> o.Entries;
}

// Puts the fault in place over Folder (which holds the old file) in this process. Returns why it
// cannot be done, or empty text.
QString ArrangeReadOnly(const QString& Folder, const std::function<void()>& WriteOld) {
    if (geteuid() != 0) {
        WriteOld();
        return chmod(QFile::encodeName(Folder).constData(), 0555) == 0
                   ? QString()
                   : QStringLiteral("chmod failed");
    }
    const QByteArray dir = QFile::encodeName(Folder);
    if (unshare(CLONE_NEWNS) != 0)
        return QStringLiteral("as root a read-only folder needs a private mount namespace "
                              "(CAP_SYS_ADMIN), which this machine does not grant");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", dir.constData(), "tmpfs", 0, "size=8m") != 0)
        return QStringLiteral("cannot mount a tmpfs for the read-only folder");
    WriteOld();
    if (mount("tmpfs", dir.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=8m") != 0)
        return QStringLiteral("cannot remount the tmpfs read-only");
    return QString();
}

Outcome Observe(const QString& Folder, const QString& Target, const std::function<void()>& Save) {
    Outcome o;
    try {
        Save();
    } catch (const EIniFileException& e) {
        o.Raised = true;
        o.Message = e.Message();
    }
    o.Exists = QFileInfo(Target).isFile();
    o.Bytes = ReadBytes(Target);
    o.Entries = QDir(Folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    return o;
}

// Runs the save in a forked child with the fault in place, and brings back what it saw.
Outcome SaveUnder(Fault Kind, const QString& Folder, const QString& Target,
                  const std::function<void()>& WriteOld, const std::function<void()>& Save) {
    int fds[2];
    if (pipe(fds) != 0)
        qFatal("pipe failed");
    const pid_t pid = fork();
    if (pid < 0)
        qFatal("fork failed");
    if (pid == 0) {
        close(fds[0]);
        Outcome o;
        switch (Kind) {
        case Fault::ReadOnlyFolder:
            o.Skip = ArrangeReadOnly(Folder, WriteOld);
            break;
        case Fault::PathIsFolder:
            QDir().mkpath(Target);
            WriteFixture(Target, QStringLiteral("inside.txt"), "inside");
            break;
        case Fault::FolderGone:
            WriteOld();
            QDir(Folder).removeRecursively();
            break;
        case Fault::SizeLimit: {
            WriteOld();
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{16 * 1024, 16 * 1024};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                o.Skip = QStringLiteral("setrlimit failed");
            break;
        }
        }
        if (o.Skip.isEmpty())
            o = Observe(Folder, Target, Save);
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << o;
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = write(fds[1], bytes.constData() + done, size_t(bytes.size() - done));
            if (n <= 0)
                _exit(2);
            done += n;
        }
        _exit(0);
    }
    close(fds[1]);
    QByteArray bytes;
    char buf[65536];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        bytes.append(buf, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome o;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        o.Skip = QStringLiteral("!child died with status %1").arg(status);
        return o;
    }
    QDataStream in(bytes);
    in >> o;
    return o;
}

void AddFaultRows() {
    QTest::addColumn<Fault>("kind");
    QTest::newRow("read-only folder") << Fault::ReadOnlyFolder;
    QTest::newRow("path is a folder") << Fault::PathIsFolder;
    QTest::newRow("folder gone") << Fault::FolderGone;
    QTest::newRow("file size limit") << Fault::SizeLimit;
}

// The checks every fault shares: the write error with the full path, and the old file (where
// the fault leaves one) byte for byte as it was, with nothing left beside it.
void CheckOutcome(const Outcome& o, Fault kind, const QString& target, const QByteArray& old,
                  const QString& name) {
    if (o.Skip.startsWith(u'!'))
        QFAIL(qPrintable(o.Skip));
    if (!o.Skip.isEmpty())
        QSKIP(qPrintable(o.Skip));
    QVERIFY2(o.Raised, "the failed save reported success");
    QCOMPARE(o.Message, QStringLiteral("Unable to write to ") + target);
    switch (kind) {
    case Fault::ReadOnlyFolder:
    case Fault::SizeLimit:
        QVERIFY(o.Exists);
        QCOMPARE(o.Bytes, old);
        QCOMPARE(o.Entries, QStringList{name}); // no temporary file left behind
        break;
    case Fault::PathIsFolder:
        QVERIFY(!o.Exists);
        QCOMPARE(o.Entries, QStringList{name});
        break;
    case Fault::FolderGone:
        QVERIFY(!o.Exists);
        QVERIFY(o.Entries.isEmpty());
        break;
    }
}

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestFaults : public QObject {
    Q_OBJECT

private slots:
    void init();
    void mapFileSaveKeepsTheOldFile_data() { AddFaultRows(); }
    void mapFileSaveKeepsTheOldFile();
    void settingsWriteKeepsTheOldFile_data() { AddFaultRows(); }
    void settingsWriteKeepsTheOldFile();
    void settingsWriteIntoConfigsFolderThatWentAway();
    void cleanup();

private:
    QTemporaryDir dir_;
};

void TestFaults::init() {
    QVERIFY(dir_.isValid());
}

void TestFaults::cleanup() {
    SetAppFolder(QString());
}

void TestFaults::mapFileSaveKeepsTheOldFile() {
    QFETCH(Fault, kind);
    const QString folder = dir_.filePath(QStringLiteral("maps ") + QTest::currentDataTag());
    QVERIFY(QDir().mkpath(folder));
    const QString target = folder + QStringLiteral("/motor.vlm");
    const QByteArray old = "[Global]\r\nCount=1\r\nSectionName=Calibr_\r\n"
                           "[Calibr_0]\r\nName=old map\r\nId=7\r\n";
    // Large enough to run past the size limit: the old file fits under it, the new one does not.
    TCalibrationList list;
    for (int i = 0; i < 2000; ++i) {
        auto c = std::make_unique<TCalibration>();
        c->Name = QStringLiteral("Калибровка %1").arg(i);
        c->Id = i;
        list.Add(std::move(c));
    }
    const Outcome o = SaveUnder(
        kind, folder, target, [&] { WriteFixture(folder, QStringLiteral("motor.vlm"), old); },
        [&] { WriteMapFile(target, list); });
    CheckOutcome(o, kind, target, old, QStringLiteral("motor.vlm"));
}

void TestFaults::settingsWriteKeepsTheOldFile() {
    QFETCH(Fault, kind);
    const QString folder = dir_.filePath(QStringLiteral("app ") + QTest::currentDataTag());
    QVERIFY(QDir().mkpath(folder));
    SetAppFolder(folder);
    const QString target = folder + QStringLiteral("/config_me.ini");
    QCOMPARE(SettingsFileName(), target);
    const QByteArray old = "[Pathes]\r\nOpenXml=/old/xml/\r\nOpenIni=/old/ini/\r\n"
                           "OpenCalibr=/old/vlm/\r\nSaveCalibr=/old/save/\r\n[Mine]\r\nKeep=1\r\n";
    // Long folder names, so that the new file outgrows the size limit.
    const QString longFolder = u'/' + QString(8000, u'п') + u'/';
    const TRememberedFolders folders{longFolder, longFolder, longFolder, QString()};
    const Outcome o = SaveUnder(
        kind, folder, target, [&] { WriteFixture(folder, QStringLiteral("config_me.ini"), old); },
        [&] { WriteSettings(folders); });
    CheckOutcome(o, kind, target, old, QStringLiteral("config_me.ini"));
}

void TestFaults::settingsWriteIntoConfigsFolderThatWentAway() {
    // The "configs" folder was there when the window opened and is gone at close: the file
    // goes beside the executable instead, and the write succeeds.
    const QString folder = dir_.filePath(QStringLiteral("app2"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/configs")));
    SetAppFolder(folder);
    QCOMPARE(SettingsFileName(), folder + QStringLiteral("/configs/config_me.ini"));
    QVERIFY(QDir(folder + QStringLiteral("/configs")).removeRecursively());
    WriteSettings({QStringLiteral("/a/"), QStringLiteral("/b/"), QStringLiteral("/c/"), QString()});
    const QByteArray bytes = ReadBytes(folder + QStringLiteral("/config_me.ini"));
    QVERIFY(bytes.contains("OpenXml=/a/"));
    QVERIFY(bytes.contains("SaveCalibr="));
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"

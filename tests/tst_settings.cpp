// The settings file config_me.ini: where it lies, what the window reads from it at start and
// writes into it at close.

#include "TestSupport.h"
#include "tst_mainwindow_support.h"

#include "calibration/TextConv.h"
#include "mapfiles/IniFile.h"
#include "ui/Settings.h"
#include "ui/UFromMain.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

QByteArray PathesSection(const QString& Xml, const QString& Ini, const QString& Calibr,
                         const QString& Save) {
    return QStringLiteral(
               "[Pathes]\r\nOpenXml=%1\r\nOpenIni=%2\r\nOpenCalibr=%3\r\nSaveCalibr=%4\r\n")
        .arg(Xml, Ini, Calibr, Save)
        .toUtf8();
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> app_;
    QString oldCurrent_;

    QString AppDir() const { return app_->path() + QLatin1Char('/'); }

    struct Folders {
        QString Xml, Ini, Calibr, Save;
    };
    static Folders Of(const TFMain& W) {
        return {W.PathOpenXml, W.PathOpenIni, W.PathOpenCalibr, W.PathSaveCalibr};
    }
    static void Expect(const TFMain& W, const Folders& F) {
        QCOMPARE(W.PathOpenXml, F.Xml);
        QCOMPARE(W.PathOpenIni, F.Ini);
        QCOMPARE(W.PathOpenCalibr, F.Calibr);
        QCOMPARE(W.PathSaveCalibr, F.Save);
    }
    static void ExpectFile(const QString& Path, const Folders& F) {
        const TIniFile ini(Path);
        QCOMPARE(ini.ReadString("Pathes", "OpenXml", "?"), F.Xml);
        QCOMPARE(ini.ReadString("Pathes", "OpenIni", "?"), F.Ini);
        QCOMPARE(ini.ReadString("Pathes", "OpenCalibr", "?"), F.Calibr);
        QCOMPARE(ini.ReadString("Pathes", "SaveCalibr", "?"), F.Save);
    }

private slots:
    void init() {
        app_ = std::make_unique<QTemporaryDir>();
        QVERIFY(app_->isValid());
        SetAppFolder(AppDir());
        oldCurrent_ = QDir::currentPath();
    }

    void cleanup() {
        QDir::setCurrent(oldCurrent_);
        SetAppFolder(QString());
        app_.reset();
    }

    void locationFollowsTheConfigsFolder() {
        QCOMPARE(SettingsFileName(), AppDir() + "config_me.ini");
        QDir(app_->path()).mkdir("configs");
        QCOMPARE(SettingsFileName(), AppDir() + "configs/config_me.ini");
        // Only a folder counts.
        QDir(app_->path()).rmdir("configs");
        WriteFixture(app_->path(), "configs", "a file");
        QCOMPARE(SettingsFileName(), AppDir() + "config_me.ini");
    }

    void fullPathName_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("full"); // below the current folder, "" for the folder itself
        QTest::newRow("relative folder") << "maps/"
                                         << "/maps/";
        QTest::newRow("relative file") << "maps/a.vlm"
                                       << "/maps/a.vlm";
        QTest::newRow("dot steps") << "./maps/../other/./"
                                   << "/other/";
        QTest::newRow("current folder") << "."
                                        << "";
        QTest::newRow("doubled separator") << "maps//x/"
                                           << "/maps/x/";
    }

    void fullPathName() {
        QFETCH(QString, path);
        QFETCH(QString, full);
        QVERIFY(QDir::setCurrent(app_->path()));
        const QString current = QDir::currentPath();
        QCOMPARE(FullPathName(path), current + full);
        QCOMPARE(FullPathName(QString()), QString());
        QCOMPARE(FullPathName("/abs/olute/"), QStringLiteral("/abs/olute/"));
    }

    void missingFileGivesTheAppFolderAndIsCreatedAtClose() {
        QDir(app_->path()).mkdir("maps");
        const QString map = WriteMap(app_->filePath("maps"), "motor.vlm", {1});
        const QString ini = AppDir() + "config_me.ini";
        {
            TFMain w;
            Expect(w, {AppDir(), AppDir(), AppDir(), AppDir()});
            DialogScript dialogs({map});
            w.Button3->click();
            QVERIFY(!QFile::exists(ini)); // nothing is written before the close
            QVERIFY(w.close());
        }
        ExpectFile(ini, {AppDir(), AppDir(), AppDir() + "maps/", AppDir()});
        const QByteArray text = ReadBytes(ini);
        const qsizetype xml = text.indexOf("OpenXml="), iniKey = text.indexOf("OpenIni="),
                        calibr = text.indexOf("OpenCalibr="), save = text.indexOf("SaveCalibr=");
        QVERIFY(text.indexOf("[Pathes]") >= 0);
        QVERIFY(0 < xml && xml < iniKey && iniKey < calibr && calibr < save);

        // The next run opens Load VLM where the last one chose its map, the others where they were.
        TFMain next;
        Expect(next, {AppDir(), AppDir(), AppDir() + "maps/", AppDir()});
        DialogScript dialogs;
        next.Button3->click();
        next.Button2->click(); // an empty table: no dialog
        QCOMPARE(dialogs.Log.size(), 1);
        QCOMPARE(dialogs.Log[0].InitialDir, AppDir() + "maps/");
    }

    void presentFileIsReadAndOtherEntriesKept() {
        QByteArray text = "[Window]\r\nLeft=10\r\n" +
                          PathesSection("/x/xml/", "/x/ini/", "/x/vlm/", "") +
                          "Extra=kept\r\n[Tail]\r\nA=1\r\n";
        WriteFixture(app_->path(), "config_me.ini", text);
        {
            TFMain w;
            // An empty value stays empty, and goes back empty.
            Expect(w, {"/x/xml/", "/x/ini/", "/x/vlm/", ""});
            w.PathOpenIni = "/y/ini/";
            QVERIFY(w.close());
        }
        const QString ini = AppDir() + "config_me.ini";
        ExpectFile(ini, {"/x/xml/", "/y/ini/", "/x/vlm/", ""});
        const TIniFile after(ini);
        QCOMPARE(after.ReadString("Window", "Left", "?"), QStringLiteral("10"));
        QCOMPARE(after.ReadString("Pathes", "Extra", "?"), QStringLiteral("kept"));
        QCOMPARE(after.ReadString("Tail", "A", "?"), QStringLiteral("1"));
    }

    void missingKeysGiveTheAppFolder() {
        WriteFixture(app_->path(), "config_me.ini", "[Pathes]\r\nOpenIni=/x/ini/\r\n");
        TFMain w;
        Expect(w, {AppDir(), "/x/ini/", AppDir(), AppDir()});
    }

    void configsFolderTakesOver() {
        QDir(app_->path()).mkdir("configs");
        WriteFixture(app_->path(), "config_me.ini",
                     PathesSection("/beside/", "/beside/", "/beside/", "/beside/"));
        WriteFixture(app_->filePath("configs"), "config_me.ini",
                     PathesSection("/c/xml/", "/c/ini/", "/c/vlm/", "/c/save/"));
        const QByteArray beside = ReadBytes(AppDir() + "config_me.ini");
        {
            TFMain w;
            Expect(w, {"/c/xml/", "/c/ini/", "/c/vlm/", "/c/save/"});
            w.PathSaveCalibr = "/c/new/";
            QVERIFY(w.close());
        }
        ExpectFile(AppDir() + "configs/config_me.ini",
                   {"/c/xml/", "/c/ini/", "/c/vlm/", "/c/new/"});
        QCOMPARE(ReadBytes(AppDir() + "config_me.ini"), beside);
    }

    // The folder's presence is looked at again when writing.
    void configsFolderMadeDuringTheRun() {
        TFMain w;
        QDir(app_->path()).mkdir("configs");
        QVERIFY(w.close());
        QVERIFY(!QFile::exists(AppDir() + "config_me.ini"));
        ExpectFile(AppDir() + "configs/config_me.ini", {AppDir(), AppDir(), AppDir(), AppDir()});
    }

    void relativeValuesBecomeAbsolute() {
        WriteFixture(app_->path(), "config_me.ini",
                     PathesSection("maps/", "./maps/../ini/", "vlm", "/abs/"));
        QDir(app_->path()).mkdir("cwd");
        QVERIFY(QDir::setCurrent(app_->filePath("cwd")));
        const QString cwd = QDir::currentPath();
        const Folders absolute = {cwd + "/maps/", cwd + "/ini/", cwd + "/vlm", "/abs/"};
        {
            TFMain w;
            Expect(w, absolute);
            QVERIFY(w.close());
        }
        ExpectFile(AppDir() + "config_me.ini", absolute);
    }

    // A failed write is reported, and the window closes all the same. A folder in the place of
    // the file stops the write for root as well.
    void failedWriteIsReportedAndTheWindowCloses() {
        QDir(app_->path()).mkpath("config_me.ini/inside");
        MessageRecorder messages;
        ErrorRecorder errors;
        TFMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.close());
        QVERIFY(!w.isVisible());
        QCOMPARE(errors.Errors, QStringList({"Unable to write to " + AppDir() + "config_me.ini."}));
        QVERIFY(messages.Messages.isEmpty());
        QVERIFY(QFileInfo(AppDir() + "config_me.ini").isDir());
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"

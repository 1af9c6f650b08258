// Drives the built mapconv program as a process, the way scripts use it.

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Result {
    int Exit = -1;
    QString Out;
    QString Err;
};

Result Run(const QStringList& Args, const QString& Locale = QStringLiteral("C")) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), Locale);
    env.remove(QStringLiteral("LC_NUMERIC"));
    env.remove(QStringLiteral("LANG"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(MAPCONV_PATH), Args);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000))
        qFatal("mapconv did not finish");
    Result r;
    r.Exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.Out = QString::fromUtf8(process.readAllStandardOutput());
    r.Err = QString::fromUtf8(process.readAllStandardError());
    return r;
}

QByteArray Crlf1251(const QString& text) {
    QString crlf = text;
    crlf.replace(u'\n', QStringLiteral("\r\n"));
    return Cp1251(crlf);
}

const QString kHeader =
    QStringLiteral("Имя\tId\tIdMox\tТип Табл.\tТип Тарир.\tАдрес\tДлина\tШаг\tСмещ.\tДелит.\t"
                   "Мульпликат.\n");

const QString kDuplicate =
    QStringLiteral("Внимание! В таблице две или более калибровок с одинаковым Id (%1).\n\r"
                   "Поле id должно быть уникальным! Оставьте по одной калибровке для каждого "
                   "Id.\n");

// A map as a peer saves it: names with underscores (shown normalised), a hexadecimal Id, point
// decimals.
QByteArray VlmMap() {
    return Crlf1251(QStringLiteral("[Global]\nCount=3\nSectionName=Calibr_\n"
                                   "[Calibr_0]\nName=Фаза_впрыска\nId=61\nIdMox=1A2B3C4D\n"
                                   "ByteAdress=7936\nByteLength=16\nTypeTaring=3\nTypeTable=2\n"
                                   "ValueStep=0.5\nValueOffset=-40\nValueDivision=256\n"
                                   "CoefRevMyl=0\n"
                                   "[Calibr_1]\nName=\n"
                                   "[Calibr_2]\nName=second\nId=$10\n"));
}

// An export with an unknown table first and two known ones in reverse catalogue order.
QByteArray IniExport() {
    return Crlf1251(QStringLiteral("[T1]\nType=1D\nName=Неизвестная таблица\nOffset00=0x11111111\n"
                                   "Addr=0x10\n"
                                   "[T2]\nType=2D\nName=\"Фаза впрыска\"\nOffset00=0x0000ABCD\n"
                                   "Addr=0x1F00\nF_MulMul=0,5\nFormat=0x1FF\nPixelX=16\n"
                                   "[T3]\nType=3D\nName=Базовое_цикловое_наполнение\n"
                                   "Offset00=0x12345678\nAddr=0x200\nF_Sub2nd=\"1.25\"\n"
                                   "PixelX=16\nPixelY=8\n"));
}

QByteArray XmlMap(const QString& Elements) {
    return (QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<BRELVAMONDIKA_by_Quilby_DM>") +
            Elements + QStringLiteral("</BRELVAMONDIKA_by_Quilby_DM>\n"))
        .toUtf8();
}

const QString kPhase1D =
    QStringLiteral("<Фаза_впрыска graf=\"1D\" Делитель_шага=\"2\" Смещение=\"0.25\" Шаг=\"0.5\" "
                   "ID=\"1A2B3C4D\" Тип_тарировки=\"7\" address=\"1F00\"/>");

} // namespace

class TestMapConv : public QObject {
    Q_OBJECT

private slots:
    void init();
    void showsEachKind_data();
    void showsEachKind();
    void showFollowsTheDecimalSeparator_data();
    void showFollowsTheDecimalSeparator();
    void convertWritesWhatSaveWrites();
    void convertRoundTripsEachKind_data();
    void convertRoundTripsEachKind();
    void refusals_data();
    void refusals();
    void errorReports_data();
    void errorReports();
    void failedWriteKeepsTheOldFile();
    void messagesGoToStandardError();
    void usage_data();
    void usage();

private:
    QString Fixture(const QString& name, const QByteArray& bytes) {
        return WriteFixture(dir_->path(), name, bytes);
    }
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestMapConv::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TestMapConv::showsEachKind_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("table");
    QTest::newRow("vlm") << "motor.vlm" << VlmMap() << QStringList{}
                         << kHeader + QStringLiteral("Фаза впрыска\t61\t1A2B3C4D\t2\t3\t7936\t16\t"
                                                     "0.5\t-40\t256\t0\n"
                                                     "second\t16\t00000000\t0\t0\t-1\t0\t1\t0\t"
                                                     "1\t0\n");
    QTest::newRow("upper-case extension")
        << "MOTOR.VLM" << VlmMap() << QStringList{}
        << kHeader + QStringLiteral("Фаза впрыска\t61\t1A2B3C4D\t2\t3\t"
                                    "7936\t16\t0.5\t-40\t256\t0\n"
                                    "second\t16\t00000000\t0\t0\t-1\t"
                                    "0\t1\t0\t1\t0\n");
    QTest::newRow("ini in catalogue order")
        << "export.ini" << IniExport() << QStringList{}
        << kHeader + QStringLiteral("Базовое цикловое наполнение\t1\t12345678\t3\t0\t512\t128\t1\t"
                                    "1.25\t1\t0\n"
                                    "Фаза впрыска\t61\t0000ABCD\t2\t255\t7936\t16\t0.5\t0\t1\t0\n");
    QTest::newRow("xml") << "map.xml" << XmlMap(kPhase1D) << QStringList{}
                         << kHeader + QStringLiteral("Фаза впрыска\t61\t4D3C2B1A\t1\t7\t7936\t1\t"
                                                     "0.5\t0.25\t2\t0\n");
    QTest::newRow("kind named") << "map.txt" << XmlMap(kPhase1D) << QStringList{"--from", "XML"}
                                << kHeader + QStringLiteral("Фаза впрыска\t61\t4D3C2B1A\t1\t7\t"
                                                            "7936\t1\t0.5\t0.25\t2\t0\n");
    QTest::newRow("empty map") << "empty.vlm" << QByteArray("[Global]\r\nCount=0\r\n")
                               << QStringList{} << kHeader;
}

void TestMapConv::showsEachKind() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, args);
    QFETCH(QString, table);
    const Result r = Run(args + QStringList{"show", Fixture(name, bytes)});
    QCOMPARE(r.Err, QString());
    QCOMPARE(r.Exit, 0);
    QCOMPARE(r.Out, table);
}

void TestMapConv::showFollowsTheDecimalSeparator_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("step");
    QTest::newRow("point") << "en_US.UTF-8"
                           << "0.5";
    QTest::newRow("comma") << "ru_RU.UTF-8"
                           << "0,5";
    QTest::newRow("comma, other language") << "de_DE.UTF-8"
                                           << "0,5";
}

void TestMapConv::showFollowsTheDecimalSeparator() {
    QFETCH(QString, locale);
    QFETCH(QString, step);
    const Result r = Run({"show", Fixture("motor.vlm", VlmMap())}, locale);
    QCOMPARE(r.Exit, 0);
    QCOMPARE(r.Out.split(u'\n').value(1).split(u'\t').value(7), step);
}

void TestMapConv::convertWritesWhatSaveWrites() {
    const QString out = dir_->filePath("out.vlm");
    const Result r = Run({"convert", Fixture("motor.vlm", VlmMap()), out}, "ru_RU.UTF-8");
    QCOMPARE(r.Err, QString());
    QCOMPARE(r.Exit, 0);
    QCOMPARE(r.Out, QString());
    // The table's texts come back: the normalised name, Id $10 as 16, the local separator.
    QCOMPARE(ReadBytes(out),
             Crlf1251(QStringLiteral("[Global]\nCount=2\nSectionName=Calibr_\n"
                                     "[Calibr_0]\nName=Фаза впрыска\nId=61\nIdMox=1A2B3C4D\n"
                                     "ByteAdress=7936\nByteLength=16\nTypeTaring=3\nTypeTable=2\n"
                                     "ValueStep=0,5\nValueOffset=-40\nValueDivision=256\n"
                                     "CoefRevMyl=0\n"
                                     "[Calibr_1]\nName=second\nId=16\nIdMox=00000000\n"
                                     "ByteAdress=-1\nByteLength=0\nTypeTaring=0\nTypeTable=0\n"
                                     "ValueStep=1\nValueOffset=0\nValueDivision=1\n"
                                     "CoefRevMyl=0\n")));
}

void TestMapConv::convertRoundTripsEachKind_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("vlm") << "motor.vlm" << VlmMap();
    QTest::newRow("ini") << "export.ini" << IniExport();
    QTest::newRow("xml") << "map.xml" << XmlMap(kPhase1D);
}

void TestMapConv::convertRoundTripsEachKind() {
    // Loading the converted map shows the very table that loading the source showed.
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    const QString source = Fixture(name, bytes);
    const QString out = dir_->filePath("converted.vlm");
    const Result shown = Run({"show", source});
    QCOMPARE(shown.Exit, 0);
    const Result converted = Run({"convert", source, out});
    QCOMPARE(converted.Exit, 0);
    const Result again = Run({"show", out});
    QCOMPARE(again.Exit, 0);
    QCOMPARE(again.Out, shown.Out);
    QCOMPARE(ReadBytes(source), bytes); // the source is only read
}

void TestMapConv::refusals_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("err");
    QTest::newRow("duplicate Id")
        << "dup.vlm"
        << QByteArray("[Global]\r\nCount=4\r\nSectionName=C\r\n[C0]\r\nName=a\r\nId=5\r\n"
                      "[C1]\r\nName=b\r\nId=7\r\n[C2]\r\nName=c\r\nId=7\r\n"
                      "[C3]\r\nName=d\r\nId=5\r\n")
        << 2 << kDuplicate.arg(5);
    QTest::newRow("blank Ids repeat as -1")
        << "blank.vlm" << QByteArray("[Global]\r\nCount=2\r\n[0]\r\nName=a\r\n[1]\r\nName=b\r\n")
        << 2 << kDuplicate.arg(-1);
    QTest::newRow("correction variants share Id 2")
        << "variants.xml"
        << XmlMap(QStringLiteral(
               "<Поправка_циклового_наполнения__ДМРВ_ graf=\"4D\" Тип_тарировки=\"0\" "
               "address=\"0\"/><Поправка_циклового_наполнения_по_дросселю graf=\"4D\" "
               "Тип_тарировки=\"0\" address=\"0\"/>"))
        << 2 << kDuplicate.arg(2);
    QTest::newRow("empty table") << "empty.ini" << QByteArray("[X]\r\nType=1D\r\n") << 3
                                 << QString();
}

void TestMapConv::refusals() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(int, exit);
    QFETCH(QString, err);
    const QString out = dir_->filePath("out.vlm");
    const Result r = Run({"convert", Fixture(name, bytes), out});
    QCOMPARE(r.Exit, exit);
    QCOMPARE(r.Err, err);
    QCOMPARE(r.Out, QString());
    QVERIFY(!QFileInfo::exists(out));
}

void TestMapConv::errorReports_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("err");
    QTest::newRow("integer conversion")
        << QStringList{"show", "bad-int.xml"}
        << QStringLiteral("''abc'' is not a valid integer value.\n");
    QTest::newRow("float conversion, point where comma")
        << QStringList{"show", "bad-float.xml"}
        << QStringLiteral("'0.25' is not a valid floating point value.\n");
    QTest::newRow("missing file") << QStringList{"show", "none.vlm"}
                                  << QStringLiteral("mapconv: cannot read %1/none.vlm\n");
    QTest::newRow("folder") << QStringList{"show", "folder.vlm"}
                            << QStringLiteral("mapconv: cannot read %1/folder.vlm\n");
}

void TestMapConv::errorReports() {
    QFETCH(QStringList, args);
    QFETCH(QString, err);
    Fixture("bad-int.xml", XmlMap(QStringLiteral("<Фаза_впрыска graf=\"4D\" Тип_тарировки=\"abc\" "
                                                 "address=\"0\"/>")));
    Fixture("bad-float.xml", XmlMap(kPhase1D));
    QVERIFY(QDir(dir_->path()).mkdir("folder.vlm"));
    args.last() = dir_->filePath(args.last());
    const Result r = Run(args, args.last().contains("bad-float") ? "ru_RU.UTF-8" : "C");
    QCOMPARE(r.Exit, 1);
    QCOMPARE(r.Err, err.contains("%1") ? err.arg(dir_->path()) : err);
    QCOMPARE(r.Out, QString());
}

void TestMapConv::failedWriteKeepsTheOldFile() {
    const QString source = Fixture("motor.vlm", VlmMap());
    const QString gone = dir_->filePath("no/such/folder/out.vlm");
    Result r = Run({"convert", source, gone});
    QCOMPARE(r.Exit, 1);
    QCOMPARE(r.Err, QStringLiteral("Unable to write to %1.\n").arg(gone));

    // A parse failure leaves an existing OUT as it was: nothing is written at all.
    const QString out = Fixture("keep.vlm", "old map\r\n");
    r = Run({"convert", Fixture("broken.xml", "<BRELVAMONDIKA_by_Quilby_DM><a"), out});
    QCOMPARE(r.Exit, 1);
    QVERIFY(r.Err.contains(QStringLiteral("\r\nLine: 1\r\n")));
    QCOMPARE(ReadBytes(out), QByteArray("old map\r\n"));
}

void TestMapConv::messagesGoToStandardError() {
    // One message per element, in the order the window shows them; the table still prints.
    const QString source =
        Fixture("partial.xml",
                XmlMap(QStringLiteral(
                    "<Фаза_впрыска Тип_тарировки=\"1\"/>"
                    "<Базовое_цикловое_наполнение graf=\"3D\" Число_точек_по_оси_X=\"2\"/>")));
    const Result r = Run({"show", source});
    QCOMPARE(r.Exit, 0);
    QCOMPARE(r.Err, QStringLiteral("Не могу определить Число_графиков_по_оси_Z (Базовое цикловое "
                                   "наполнение)\n"
                                   "Не могу определить graf (Фаза впрыска)\n"));
    QCOMPARE(r.Out, kHeader);

    const Result noRoot = Run({"show", Fixture("noroot.xml", "<Other/>")});
    QCOMPARE(noRoot.Exit, 0);
    QCOMPARE(noRoot.Err, QStringLiteral("Не найден корень XML\n"));
    QCOMPARE(noRoot.Out, kHeader);
}

void TestMapConv::usage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exit");
    QTest::newRow("nothing") << QStringList{} << 64;
    QTest::newRow("unknown command") << QStringList{"list", "a.vlm"} << 64;
    QTest::newRow("unknown extension") << QStringList{"show", "a.txt"} << 64;
    QTest::newRow("no extension") << QStringList{"show", "map"} << 64;
    QTest::newRow("bad kind") << QStringList{"--from", "csv", "show", "a.vlm"} << 64;
    QTest::newRow("kind without value") << QStringList{"--from"} << 64;
    QTest::newRow("show with two files") << QStringList{"show", "a.vlm", "b.vlm"} << 64;
    QTest::newRow("convert without OUT") << QStringList{"convert", "a.vlm"} << 64;
    QTest::newRow("help") << QStringList{"--help"} << 0;
    QTest::newRow("version") << QStringList{"--version"} << 0;
}

void TestMapConv::usage() {
    QFETCH(QStringList, args);
    QFETCH(int, exit);
    const Result r = Run(args);
    QCOMPARE(r.Exit, exit);
    if (exit == 64) {
        QVERIFY(r.Err.contains(QStringLiteral("usage: mapconv")));
        QCOMPARE(r.Out, QString());
    } else {
        QVERIFY(r.Out.startsWith(args[0] == u"--help" ? QStringLiteral("usage: mapconv")
                                                      : QStringLiteral("mapconv 3.0")));
    }
}

QTEST_GUILESS_MAIN(TestMapConv)
#include "tst_mapconv.moc"

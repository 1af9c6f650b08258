// The three readers (map file, exported INI map, XML map) on files that come from anywhere:
// paths that cannot be read, NUL bytes, invalid UTF-8 with mixed line ends, 10 MB lines, huge
// counts, a 100,000-deep XML tree. Each must end with what the format defines or a clear error,
// never a crash or a hang. Also the regressions that fuzzing found in the text forms.

#include "TestSupport.h"

#include "calibration/Exceptions.h"
#include "calibration/TextConv.h"
#include "mapfiles/IniFile.h"
#include "mapfiles/IniImport.h"
#include "mapfiles/MapFile.h"
#include "mapfiles/XmlImport.h"

#include <QTemporaryDir>
#include <QTest>
#include <cfloat>
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const QByteArray TenMegabytes(10 * 1024 * 1024, 'x');

// One exported table that the catalogue knows (injection phase, Id 61), in Windows-1251.
QByteArray ExportSection(const QByteArray& Header, const QByteArray& Name) {
    return "[" + Header + "]\r\nType=2D\r\nName=" + Name +
           "\r\nOffset00=0x1A2B3C4D\r\nAddr=0x1F00\r\nPixelX=16\r\n";
}

QByteArray XmlMap(const QByteArray& Inside) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BRELVAMONDIKA_by_Quilby_DM>" + Inside +
           "</BRELVAMONDIKA_by_Quilby_DM>\n";
}

// The injection phase table as an XML element, with Content inside it (ignored by the reader).
QByteArray XmlElement(const QByteArray& Content = QByteArray()) {
    return QStringLiteral("<Фаза_впрыска graf=\"2D\" Число_точек_по_оси_X=\"16\" "
                          "Делитель_шага_по_Y=\"1\" Смещение_по_оси_Y=\"0\" Шаг_по_Y=\"1\" "
                          "ID=\"1A2B3C4D\" Тип_тарировки=\"0\" address=\"1F00\">")
               .toUtf8() +
           Content + QStringLiteral("</Фаза_впрыска>").toUtf8();
}

QStringList Names(const TCalibrationList& List) {
    QStringList names;
    for (const auto& c : List.Items)
        names << c->Name;
    return names;
}

// What the XML command ends with: the calibrations' names, or the error it raised.
struct XmlResult {
    QStringList Names;
    QString Error;
};

XmlResult LoadXml(const QString& Path) {
    XmlResult result;
    TXMLDocument doc;
    try {
        doc.LoadFromFile(Path);
        result.Names = Names(ReadXmlMap(doc));
    } catch (const Exception& e) {
        result.Error = e.Message();
    }
    return result;
}

enum class Special { Folder, Unreadable, Fifo };

} // namespace

Q_DECLARE_METATYPE(Special)

class TestBadInput : public QObject {
    Q_OBJECT

private slots:
    void init();
    void pathsThatCannotBeRead_data();
    void pathsThatCannotBeRead();
    void mapFile_data();
    void mapFile();
    void iniImport_data();
    void iniImport();
    void xmlImport_data();
    void xmlImport();
    void largestDoubleSurvivesTheMapFile_data();
    void largestDoubleSurvivesTheMapFile();
    void editingDamagedUtf16KeepsItsContent_data();
    void editingDamagedUtf16KeepsItsContent();

private:
    QTemporaryDir dir_;
};

void TestBadInput::init() {
    QVERIFY(dir_.isValid());
}

void TestBadInput::pathsThatCannotBeRead_data() {
    QTest::addColumn<Special>("kind");
    QTest::newRow("folder") << Special::Folder;
    // Reading /proc/self/mem at offset 0 fails with EIO, for root as well.
    QTest::newRow("read fails") << Special::Unreadable;
    // Opening a pipe nobody writes to blocks for ever unless the reader refuses it.
    QTest::newRow("named pipe without writer") << Special::Fifo;
}

void TestBadInput::pathsThatCannotBeRead() {
    QFETCH(Special, kind);
    QString path;
    switch (kind) {
    case Special::Folder:
        path = dir_.path();
        break;
    case Special::Unreadable:
        path = QStringLiteral("/proc/self/mem");
        break;
    case Special::Fifo:
        path = dir_.filePath(QStringLiteral("pipe.vlm"));
        QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        break;
    }
    MessageRecorder messages;
    // Run the readers aside, so that a reader stuck in open() fails the test instead of hanging
    // it; a stuck reader is then released by opening the pipe's other end.
    int mapCount = -1, iniCount = -1;
    XmlResult xml;
    auto done = std::async(std::launch::async, [&] {
        mapCount = ReadMapFile(path).Count();
        iniCount = ReadIniMap(TIniFile(path)).Count();
        xml = LoadXml(path);
    });
    if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        for (int i = 0;
             i < 3 && done.wait_for(std::chrono::seconds(1)) != std::future_status::ready; ++i) {
            const int fd = open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                close(fd);
        }
        done.wait();
        QFAIL("a reader blocked on the path");
    }
    QCOMPARE(mapCount, 0);
    QCOMPARE(iniCount, 0);
    QVERIFY(xml.Names.isEmpty());
    QVERIFY2(!xml.Error.isEmpty(), "the XML command must say that the file cannot be read");
    QVERIFY(messages.Messages.isEmpty());
}

void TestBadInput::mapFile_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<int>>("ids");
    const QByteArray global = "[Global]\r\nCount=2\r\nSectionName=Calibr_\r\n";
    QTest::newRow("NUL bytes") << global + QByteArrayLiteral("\0\0\0\r\n[Calibr_0]\r\nName=a\0b\r\n"
                                                             "Id=1\0\r\n[Calibr_1]\r\n"
                                                             "Name=second\r\nId=2\r\n")
                               << QStringList{QStringLiteral("a") + QChar(0) + u'b',
                                              QStringLiteral("second")}
                               << QList<int>{-1, 2};
    // Not UTF-8, so Windows-1251: C0 is А, FF is я. CR LF, LF and CR alone in one file.
    QTest::newRow("invalid UTF-8, mixed line ends")
        << QByteArray("[Global]\nCount=2\rSectionName=Calibr_\r\n[Calibr_0]\rName=\xC0\xFF\n"
                      "Id=1\r\n[Calibr_1]\nName=\xE2\xF2\xEE\xF0\xEE\xE9\rId=2")
        << QStringList{QStringLiteral("Ая"), QStringLiteral("второй")} << QList<int>{1, 2};
    QTest::newRow("10 MB name") << global + "[Calibr_0]\r\nName=" + TenMegabytes +
                                       "\r\nId=5\r\n[Calibr_1]\r\nName=b\r\nId=6\r\n"
                                << QStringList{QString(2047, u'x'), QStringLiteral("b")}
                                << QList<int>{5, 6};
    QTest::newRow("10 MB, no line end") << TenMegabytes << QStringList{} << QList<int>{};
    QTest::newRow("Count 2147483647")
        << QByteArray("[Global]\r\nCount=2147483647\r\nSectionName=Calibr_\r\n"
                      "[Calibr_0]\r\nName=first\r\n[Calibr_2147483646]\r\nName=last\r\n"
                      "[Calibr_2147483647]\r\nName=beyond\r\n")
        << QStringList{QStringLiteral("first"), QStringLiteral("last")} << QList<int>{-1, -1};
    QTest::newRow("Count past 32 bits")
        << QByteArray("[Global]\r\nCount=2147483648\r\n"
                      "SectionName=Calibr_\r\n[Calibr_0]\r\nName=a\r\n")
        << QStringList{} << QList<int>{};
}

void TestBadInput::mapFile() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, names);
    QFETCH(QList<int>, ids);
    const QString path = WriteFixture(dir_.path(), QStringLiteral("bad.vlm"), bytes);
    const TCalibrationList list = ReadMapFile(path);
    QCOMPARE(Names(list), names);
    QList<int> got;
    for (const auto& c : list.Items)
        got << c->Id;
    QCOMPARE(got, ids);
    QCOMPARE(ReadBytes(path), bytes); // reading never writes
}

void TestBadInput::iniImport_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("names");
    const QByteArray name = Cp1251(QStringLiteral("Фаза впрыска"));
    const QByteArray good = ExportSection("T16", name);
    // A NUL is a control character, which name normalisation turns into a blank.
    QTest::newRow("NUL bytes") << QByteArrayLiteral("\0\0\r\n") +
                                      ExportSection("T", Cp1251(QStringLiteral("Фаза")) + '\0' +
                                                             Cp1251(QStringLiteral("впрыска"))) +
                                      QByteArrayLiteral("\0=\0\r\n")
                               << QStringList{QStringLiteral("Фаза") + QChar(0) +
                                              QStringLiteral("впрыска")};
    QByteArray mixed = good;
    mixed.replace("\r\nName", "\nName").replace("\r\nAddr", "\rAddr");
    QTest::newRow("invalid UTF-8, mixed line ends")
        << QByteArray("[Junk]\r\n\xFF\xFE\xC3=\x80\r\n") + mixed
        << QStringList{QStringLiteral("Фаза впрыска")};
    QTest::newRow("10 MB name") << ExportSection("Long", TenMegabytes) + good
                                << QStringList{QStringLiteral("Фаза впрыска")};
    QTest::newRow("10 MB, no line end") << TenMegabytes << QStringList{};
    QTest::newRow("10 MB header") << "[" + TenMegabytes + "\r\n" + good
                                  << QStringList{QStringLiteral("Фаза впрыска")};
}

void TestBadInput::iniImport() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, names);
    const QString path = WriteFixture(dir_.path(), QStringLiteral("export.ini"), bytes);
    const TCalibrationList list = ReadIniMap(TIniFile(path));
    QCOMPARE(Names(list), names);
    for (const auto& c : list.Items) {
        QCOMPARE(c->Id, 61);
        QCOMPARE(c->ByteAdress, 0x1F00);
        QCOMPARE(c->ByteLength, 16);
    }
}

void TestBadInput::xmlImport_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("error"); // the start of the error's message; empty: no error
    const QStringList phase{QStringLiteral("Фаза впрыска")};
    QByteArray deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<d>";
    for (int i = 0; i < 100000; ++i)
        deep += "</d>";
    QTest::newRow("nested 100,000 deep")
        << XmlMap(XmlElement(deep)) << QStringList{}
        << QStringLiteral("Elements are nested more than 256 deep.\r\nLine: 2");
    QTest::newRow("NUL bytes") << XmlMap(XmlElement(QByteArray("a\0b", 3))) << QStringList{}
                               << QString();
    QTest::newRow("invalid UTF-8") << XmlMap(XmlElement("\xFF\xC3")) << QStringList{} << QString();
    QTest::newRow("mixed line ends")
        << XmlMap("\r\n" + XmlElement("\r") + "\n\r\n") << phase << QString();
    QTest::newRow("10 MB single line")
        << XmlMap("<Other note=\"" + TenMegabytes + "\"/>" + XmlElement(TenMegabytes)) << phase
        << QString();
    QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE r [\n<!ENTITY a \"" +
                        QByteArray(1000, 'a') + "\">\n<!ENTITY b \"";
    for (int i = 0; i < 100; ++i)
        laughs += "&a;";
    laughs += "\">\n<!ENTITY c \"";
    for (int i = 0; i < 100; ++i)
        laughs += "&b;";
    laughs += "\">\n]>\n<BRELVAMONDIKA_by_Quilby_DM>&c;&c;&c;</BRELVAMONDIKA_by_Quilby_DM>\n";
    QTest::newRow("entity expansion") << laughs << QStringList{} << QString();
}

void TestBadInput::xmlImport() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, names);
    QFETCH(QString, error);
    const QString path = WriteFixture(dir_.path(), QStringLiteral("map.xml"), bytes);
    MessageRecorder messages;
    const XmlResult result = LoadXml(path);
    QCOMPARE(result.Names, names);
    if (names.isEmpty()) {
        // Every bad file here must end the command with the parser's report, not quietly.
        QVERIFY2(!result.Error.isEmpty(), "a broken file loaded without an error");
        QVERIFY2(result.Error.contains(QStringLiteral("\r\nLine: ")), qPrintable(result.Error));
        if (!error.isEmpty())
            QVERIFY2(result.Error.startsWith(error), qPrintable(result.Error));
    } else {
        QCOMPARE(result.Error, QString());
    }
    QCOMPARE(messages.Messages, QStringList{});
    QCOMPARE(ReadBytes(path), bytes);
}

void TestBadInput::largestDoubleSurvivesTheMapFile_data() {
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<double>("value");
    QTest::newRow("largest, comma") << QChar(u',') << DBL_MAX;
    QTest::newRow("largest, point") << QChar(u'.') << DBL_MAX;
    QTest::newRow("most negative, comma") << QChar(u',') << -DBL_MAX;
}

// Found by fuzzing: the largest Double is written rounded up to 1,79769313486232E308, just past
// the range, and read back failed: a saved map lost the value.
void TestBadInput::largestDoubleSurvivesTheMapFile() {
    QFETCH(QChar, separator);
    QFETCH(double, value);
    SeparatorGuard guard(separator);
    const QString text = FloatToStr(value);
    QCOMPARE(text, (value < 0 ? QStringLiteral("-1") : QStringLiteral("1")) + separator +
                       QStringLiteral("79769313486232E308"));
    QCOMPARE(StrToFloat(text), value);
    // One step further in the fifteenth digit is beyond the range and still fails.
    double beyond = 0;
    QVERIFY(!TryStrToFloat(QStringLiteral("1") + separator + "79769313486233E308", beyond));

    TCalibrationList list;
    auto c = std::make_unique<TCalibration>();
    c->Name = QStringLiteral("edge");
    c->ValueStep = value;
    c->CoefRevMyl = value;
    list.Add(std::move(c));
    const QString path = dir_.filePath(QStringLiteral("edge.vlm"));
    WriteMapFile(path, list);
    const TCalibrationList back = ReadMapFile(path);
    QCOMPARE(back.Count(), 1);
    QCOMPARE(back[0].ValueStep, value);
    QCOMPARE(back[0].CoefRevMyl, value);
}

void TestBadInput::editingDamagedUtf16KeepsItsContent_data() {
    QTest::addColumn<QByteArray>("bytes");
    // UTF-16 LE with a stray last byte: the copied last line shifted everything written after
    // it by one byte, so the added lines read back as garbage.
    QTest::newRow("odd last byte") << QByteArray("\xFF\xFE[\0S\0]\0\r\0\n\0K\0=\0x\0\x41", 19);
    // UTF-16 BE with a lone surrogate in a section name: the name as read addressed another
    // section when written, so the key went into a new section.
    QTest::newRow("lone surrogate in a name")
        << QByteArray("\xFE\xFF\0[\xDF\xFF\0]\0\r\0\n\0K\0=\0001", 18);
}

// Found by fuzzing: reading a damaged UTF-16 file, then editing it, lost or misplaced data.
void TestBadInput::editingDamagedUtf16KeepsItsContent() {
    QFETCH(QByteArray, bytes);
    const QString path = WriteFixture(dir_.path(), QStringLiteral("damaged.ini"), bytes);
    QStringList sections;
    QString before;
    {
        TIniFile ini(path);
        ini.ReadSections(sections);
        QCOMPARE(sections.size(), 1);
        before = ini.ReadString(sections[0], QStringLiteral("K"), QStringLiteral("absent"));
        QVERIFY(before != QStringLiteral("absent"));
        ini.WriteString(sections[0], QStringLiteral("Added"), QStringLiteral("2"));
        ini.WriteString(QStringLiteral("New"), QStringLiteral("k"), QStringLiteral("v"));
        ini.UpdateFile();
    }
    const TIniFile back(path);
    QStringList after;
    back.ReadSections(after);
    QCOMPARE(after, sections + QStringList{QStringLiteral("New")});
    QCOMPARE(back.ReadString(sections[0], QStringLiteral("K"), QString()), before);
    QCOMPARE(back.ReadString(sections[0], QStringLiteral("Added"), QString()), QStringLiteral("2"));
    QCOMPARE(back.ReadString(QStringLiteral("New"), QStringLiteral("k"), QString()),
             QStringLiteral("v"));
}

QTEST_GUILESS_MAIN(TestBadInput)
#include "tst_badinput.moc"

#include "TestSupport.h"

#include "calibration/Exceptions.h"
#include "calibration/TextConv.h"
#include "mapfiles/MapFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

namespace {

std::unique_ptr<TCalibration> Make(const QString& name, int id) {
    auto c = std::make_unique<TCalibration>();
    c->Name = name;
    c->Id = id;
    return c;
}

// A map file as a peer writes it: Windows-1251, CRLF.
QByteArray MapText(const QString& text) {
    QString crlf = text;
    crlf.replace(u'\n', QStringLiteral("\r\n"));
    return Cp1251(crlf);
}

} // namespace

class TestMapFile : public QObject {
    Q_OBJECT

private slots:
    void init();
    void writesTheLayoutPeersRead();
    void roundTripKeepsEveryField_data();
    void roundTripKeepsEveryField();
    void readsEitherDecimalMark_data();
    void readsEitherDecimalMark();
    void countDecidesWhichSectionsLoad_data();
    void countDecidesWhichSectionsLoad();
    void hugeCountReturnsAtOnce();
    void missingPrefixMeansBareIndexes();
    void badNumbersKeepDefaults();
    void emptyNameIsWrittenButNotRead();
    void longTextIsCut();
    void saveReplacesTheWholeFile();
    void failedWriteKeepsTheOldFile_data();
    void failedWriteKeepsTheOldFile();
    void missingFileGivesEmptyList();

private:
    QTemporaryDir dir_;
};

void TestMapFile::init() {
    QVERIFY(dir_.isValid());
}

void TestMapFile::writesTheLayoutPeersRead() {
    SeparatorGuard comma(u',');
    TCalibrationList list;
    auto c = Make(QStringLiteral("Фаза впрыска"), 61);
    c->IdMox = QStringLiteral("1A2B3C4D");
    c->ByteAdress = 7936;
    c->ByteLength = 16;
    c->TypeTaring = 3;
    c->TypeTable = 2;
    c->ValueStep = 0.5;
    c->ValueOffset = -40;
    c->ValueDivision = 256;
    c->CoefRevMyl = 1.0 / 3;
    list.Add(std::move(c));
    list.Add(Make(QStringLiteral("x"), 2));
    const QString path = dir_.filePath(QStringLiteral("layout.vlm"));
    WriteMapFile(path, list);
    QCOMPARE(ReadBytes(path), MapText(QStringLiteral("[Global]\n"
                                                     "Count=2\n"
                                                     "SectionName=Calibr_\n"
                                                     "[Calibr_0]\n"
                                                     "Name=Фаза впрыска\n"
                                                     "Id=61\n"
                                                     "IdMox=1A2B3C4D\n"
                                                     "ByteAdress=7936\n"
                                                     "ByteLength=16\n"
                                                     "TypeTaring=3\n"
                                                     "TypeTable=2\n"
                                                     "ValueStep=0,5\n"
                                                     "ValueOffset=-40\n"
                                                     "ValueDivision=256\n"
                                                     "CoefRevMyl=0,333333333333333\n"
                                                     "[Calibr_1]\n"
                                                     "Name=x\n"
                                                     "Id=2\n"
                                                     "IdMox=00000000\n"
                                                     "ByteAdress=-1\n"
                                                     "ByteLength=0\n"
                                                     "TypeTaring=0\n"
                                                     "TypeTable=0\n"
                                                     "ValueStep=1\n"
                                                     "ValueOffset=0\n"
                                                     "ValueDivision=1\n"
                                                     "CoefRevMyl=0\n")));
}

void TestMapFile::roundTripKeepsEveryField_data() {
    QTest::addColumn<QChar>("separator");
    QTest::newRow("comma") << QChar(u',');
    QTest::newRow("point") << QChar(u'.');
}

void TestMapFile::roundTripKeepsEveryField() {
    QFETCH(QChar, separator);
    SeparatorGuard guard(separator);
    TCalibrationList list;
    auto a = Make(QStringLiteral("Базовое цикловое наполнение"), 1);
    a->IdMox = QStringLiteral("DEADBEEF");
    a->ByteAdress = std::numeric_limits<int>::max();
    a->ByteLength = std::numeric_limits<int>::min();
    a->TypeTaring = 255;
    a->TypeTable = 3;
    a->ValueStep = 0.1 + 0.2;
    a->ValueOffset = -1.5e-7;
    a->ValueDivision = 6.02214076e23;
    a->CoefRevMyl = 2.0 / 3;
    list.Add(std::move(a));
    auto b = Make(QStringLiteral("名前 with ünïcödé"), -5); // no Windows-1251 form: file goes UTF-8
    b->IdMox = QString();
    list.Add(std::move(b));
    list.Add(Make(QStringLiteral("third"), 0));

    const QString path = dir_.filePath(QStringLiteral("trip.vlm"));
    WriteMapFile(path, list);
    const TCalibrationList back = ReadMapFile(path);
    QCOMPARE(back.Count(), list.Count());
    for (int i = 0; i < list.Count(); ++i) {
        const TCalibration& w = list[i];
        const TCalibration& r = back[i];
        QVERIFY(r.IsLoaded);
        QCOMPARE(r.Name, w.Name);
        QCOMPARE(r.Id, w.Id);
        QCOMPARE(r.IdMox, w.IdMox);
        QCOMPARE(r.ByteAdress, w.ByteAdress);
        QCOMPARE(r.ByteLength, w.ByteLength);
        QCOMPARE(r.TypeTaring, w.TypeTaring);
        QCOMPARE(r.TypeTable, w.TypeTable);
        // Doubles travel at 15 significant digits.
        for (auto [got, sent] :
             {std::pair{r.ValueStep, w.ValueStep}, std::pair{r.ValueOffset, w.ValueOffset},
              std::pair{r.ValueDivision, w.ValueDivision}, std::pair{r.CoefRevMyl, w.CoefRevMyl}}) {
            double expected = 0;
            QVERIFY(TryStrToFloat(FloatToStr(sent), expected));
            QCOMPARE(got, expected);
        }
    }
}

void TestMapFile::readsEitherDecimalMark_data() {
    QTest::addColumn<QChar>("writer");
    QTest::addColumn<QChar>("reader");
    QTest::newRow("comma to point") << QChar(u',') << QChar(u'.');
    QTest::newRow("point to comma") << QChar(u'.') << QChar(u',');
}

void TestMapFile::readsEitherDecimalMark() {
    QFETCH(QChar, writer);
    QFETCH(QChar, reader);
    TCalibrationList list;
    auto c = Make(QStringLiteral("scaled"), 4);
    c->ValueStep = 0.25;
    c->ValueOffset = -2.5;
    c->ValueDivision = 1.5e-7;
    c->CoefRevMyl = 12.75;
    list.Add(std::move(c));
    const QString path = dir_.filePath(QStringLiteral("cross.vlm"));
    {
        SeparatorGuard guard(writer);
        WriteMapFile(path, list);
    }
    QVERIFY(ReadBytes(path).contains(QByteArray("ValueStep=0") + char(writer.unicode()) + "25"));
    SeparatorGuard guard(reader);
    const TCalibrationList back = ReadMapFile(path);
    QCOMPARE(back.Count(), 1);
    QCOMPARE(back[0].ValueStep, 0.25);
    QCOMPARE(back[0].ValueOffset, -2.5);
    QCOMPARE(back[0].ValueDivision, 1.5e-7);
    QCOMPARE(back[0].CoefRevMyl, 12.75);
}

void TestMapFile::countDecidesWhichSectionsLoad_data() {
    QTest::addColumn<QString>("count");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("exact") << "3" << QStringList{"a", "b", "c"};
    QTest::newRow("larger") << "10" << QStringList{"a", "b", "c"};
    QTest::newRow("smaller") << "2" << QStringList{"a", "b"};
    QTest::newRow("zero") << "0" << QStringList{};
    QTest::newRow("negative") << "-3" << QStringList{};
    QTest::newRow("not a number") << "three" << QStringList{};
    QTest::newRow("hexadecimal") << "$3" << QStringList{"a", "b", "c"};
}

void TestMapFile::countDecidesWhichSectionsLoad() {
    QFETCH(QString, count);
    QFETCH(QStringList, names);
    const QString path = WriteFixture(dir_.path(), QStringLiteral("count.vlm"),
                                      MapText(QStringLiteral("[Global]\nCount=") + count +
                                              QStringLiteral("\nSectionName=Calibr_\n"
                                                             "[Calibr_2]\nName=c\n"
                                                             "[Calibr_0]\nName=a\n"
                                                             "[calibr_1]\nName=b\n"
                                                             "[Calibr_01]\nName=bad index\n"
                                                             "[Calibr_ 1]\nName=bad index\n")));
    const TCalibrationList list = ReadMapFile(path);
    QStringList got;
    for (const auto& c : list.Items)
        got << c->Name;
    QCOMPARE(got, names);
}

void TestMapFile::hugeCountReturnsAtOnce() {
    const QString path = WriteFixture(dir_.path(), QStringLiteral("huge.vlm"),
                                      MapText(QStringLiteral("[Global]\nCount=2000000000\n"
                                                             "SectionName=S\n"
                                                             "[S0]\nName=a\n[S1]\nName=b\n"
                                                             "[S1999999999]\nName=z\n")));
    QElapsedTimer timer;
    timer.start();
    const TCalibrationList list = ReadMapFile(path);
    QVERIFY2(timer.elapsed() < 5000, "the reader walked every index");
    QCOMPARE(list.Count(), 3);
    QCOMPARE(list[2].Name, QStringLiteral("z"));
}

void TestMapFile::missingPrefixMeansBareIndexes() {
    const QString path =
        WriteFixture(dir_.path(), QStringLiteral("bare.vlm"),
                     MapText(QStringLiteral("[Global]\nCount=2\n[Calibr_0]\nName=no\n"
                                            "[0]\nName=first\n[1]\nName=second\n")));
    const TCalibrationList list = ReadMapFile(path);
    QCOMPARE(list.Count(), 2);
    QCOMPARE(list[0].Name, QStringLiteral("first"));
    QCOMPARE(list[1].Name, QStringLiteral("second"));
}

void TestMapFile::badNumbersKeepDefaults() {
    SeparatorGuard point(u'.');
    const QString path = WriteFixture(
        dir_.path(), QStringLiteral("bad.vlm"),
        MapText(QStringLiteral("[Global]\nCount=1\nSectionName=C\n[C0]\nName=n\nId=abc\n"
                               "ByteAdress=12 \nByteLength=$10\nValueStep=1,000.5\n"
                               "ValueOffset=\nCoefRevMyl=2e3\n")));
    const TCalibrationList list = ReadMapFile(path);
    QCOMPARE(list.Count(), 1);
    const TCalibration& c = list[0];
    QCOMPARE(c.Id, -1);
    QCOMPARE(c.IdMox, QStringLiteral("00000000")); // absent key keeps the default
    QCOMPARE(c.ByteAdress, 12);                    // blanks around a value are the file's own
    QCOMPARE(c.ByteLength, 16);
    QCOMPARE(c.ValueStep, 1.0);
    QCOMPARE(c.ValueOffset, 0.0);
    QCOMPARE(c.CoefRevMyl, 2000.0);
}

void TestMapFile::emptyNameIsWrittenButNotRead() {
    TCalibrationList list;
    list.Add(Make(QStringLiteral("kept"), 1));
    list.Add(Make(QString(), 2));
    list.Add(Make(QStringLiteral("also kept"), 3));
    const QString path = dir_.filePath(QStringLiteral("empty-name.vlm"));
    WriteMapFile(path, list);
    QVERIFY(ReadBytes(path).contains("[Calibr_1]\r\nName=\r\nId=2\r\n"));
    const TCalibrationList back = ReadMapFile(path);
    QCOMPARE(back.Count(), 2);
    QCOMPARE(back[1].Id, 3);
}

void TestMapFile::longTextIsCut() {
    TCalibrationList list;
    auto c = Make(QString(3000, u'Ж'), 1);
    c->IdMox = QString(2048, u'F');
    list.Add(std::move(c));
    const QString path = dir_.filePath(QStringLiteral("long.vlm"));
    WriteMapFile(path, list);
    const TCalibrationList back = ReadMapFile(path);
    QCOMPARE(back.Count(), 1);
    QCOMPARE(back[0].Name, QString(2047, u'Ж'));
    QCOMPARE(back[0].IdMox, QString(2047, u'F'));
}

void TestMapFile::saveReplacesTheWholeFile() {
    const QString path = dir_.filePath(QStringLiteral("replace.vlm"));
    TCalibrationList five;
    for (int i = 0; i < 5; ++i)
        five.Add(Make(QStringLiteral("old %1").arg(i), i));
    WriteMapFile(path, five);
    // A foreign section and comment must not survive either.
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    file.write("; note\r\n[Other]\r\nKey=1\r\n");
    file.close();

    TCalibrationList three;
    for (int i = 0; i < 3; ++i)
        three.Add(Make(QStringLiteral("new %1").arg(i), i));
    WriteMapFile(path, three);
    const QByteArray bytes = ReadBytes(path);
    QVERIFY(bytes.startsWith("[Global]\r\nCount=3\r\nSectionName=Calibr_\r\n[Calibr_0]\r\n"));
    QCOMPARE(bytes.count("\r\n["), 3);
    QVERIFY(!bytes.contains("old"));
    QVERIFY(!bytes.contains("Other"));
    QVERIFY(!bytes.contains("Calibr_3"));
}

void TestMapFile::failedWriteKeepsTheOldFile_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("hasOldFile");
    // These fail for root as well as for a user, unlike permission bits.
    QTest::newRow("parent is a file") << "plain.txt/map.vlm" << false;
    QTest::newRow("path is a folder") << "folder" << true;
    QTest::newRow("folder gone") << "no/such/folder/map.vlm" << false;
}

void TestMapFile::failedWriteKeepsTheOldFile() {
    QFETCH(QString, target);
    QFETCH(bool, hasOldFile);
    WriteFixture(dir_.path(), QStringLiteral("plain.txt"), "precious\r\n");
    QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("folder")));
    const QString sentinel = WriteFixture(dir_.filePath(QStringLiteral("folder")),
                                          QStringLiteral("inside.txt"), "inside");
    const QString path = dir_.filePath(target);
    TCalibrationList list;
    list.Add(Make(QStringLiteral("n"), 1));
    try {
        WriteMapFile(path, list);
        QFAIL("no error raised");
    } catch (const EIniFileException& e) {
        QCOMPARE(e.Message(), QStringLiteral("Unable to write to ") + path);
    }
    QCOMPARE(ReadBytes(dir_.filePath(QStringLiteral("plain.txt"))), QByteArray("precious\r\n"));
    QCOMPARE(ReadBytes(sentinel), QByteArray("inside"));
    QCOMPARE(QFileInfo(path).isDir(), hasOldFile);
}

void TestMapFile::missingFileGivesEmptyList() {
    QCOMPARE(ReadMapFile(dir_.filePath(QStringLiteral("none.vlm"))).Count(), 0);
    QCOMPARE(ReadMapFile(dir_.path()).Count(), 0); // a folder reads as an empty file
}

QTEST_GUILESS_MAIN(TestMapFile)
#include "tst_mapfile.moc"

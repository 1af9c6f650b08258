#include "TestSupport.h"

#include "calibration/Exceptions.h"
#include "calibration/TextConv.h"
#include "mapfiles/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <map>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray Utf8(const QString& text) {
    return text.toUtf8();
}

QByteArray Utf16(const QString& text, bool littleEndian) {
    QByteArray out = littleEndian ? QByteArray("\xFF\xFE", 2) : QByteArray("\xFE\xFF", 2);
    for (QChar c : text) {
        const char lo = char(c.unicode() & 0xFF), hi = char(c.unicode() >> 8);
        out.append(littleEndian ? lo : hi);
        out.append(littleEndian ? hi : lo);
    }
    return out;
}

// The file as a peer writes it, with "\n" in Text replaced by the line end.
QString WithEol(QString text, const QString& eol) {
    return text.replace(u'\n', eol);
}

// Everything a parse gives: for each section name (in ReadSections order, first occurrence), its
// keys in order with their values. Repeated section names are listed once.
using Model = std::vector<std::pair<QString, std::vector<std::pair<QString, QString>>>>;

Model Snapshot(const TIniFile& ini) {
    QStringList sections;
    ini.ReadSections(sections);
    Model model;
    QStringList seen;
    for (const QString& section : sections) {
        bool repeated = false;
        for (const QString& s : seen)
            repeated = repeated || s.toCaseFolded() == section.toCaseFolded();
        if (repeated)
            continue;
        seen << section;
        QStringList keys;
        ini.ReadSection(section, keys);
        std::vector<std::pair<QString, QString>> values;
        for (const QString& key : keys)
            values.emplace_back(key, ini.ReadString(section, key, QStringLiteral("<absent>")));
        model.emplace_back(section, values);
    }
    return model;
}

QString Describe(const Model& model) {
    QString out;
    for (const auto& [section, keys] : model) {
        out += QStringLiteral("[%1]").arg(section);
        for (const auto& [key, value] : keys)
            out += QStringLiteral(" {%1=%2}").arg(key, value);
        out += u'\n';
    }
    return out;
}

bool IsPrivileged(const QString& folder) {
    // Root ignores permission bits: probe whether a read-only folder still takes a new file.
    QDir(folder).mkdir(QStringLiteral("probe"));
    const QString probe = QDir(folder).filePath(QStringLiteral("probe"));
    QFile::setPermissions(probe, QFile::ReadOwner | QFile::ExeOwner);
    QFile file(QDir(probe).filePath(QStringLiteral("x")));
    const bool writable = file.open(QIODevice::WriteOnly);
    file.close();
    file.remove();
    QFile::setPermissions(probe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir(probe).removeRecursively();
    return writable;
}

} // namespace

class TestIniFile : public QObject {
    Q_OBJECT

private slots:
    void init();

    void readingRules_data();
    void readingRules();
    void valueExists_data();
    void valueExists();
    void readSectionsListsEveryHeader();
    void readSectionListsKeysOnce();
    void sectionsOfAnyLength_data();
    void sectionsOfAnyLength();
    void readStringCutsAt2047_data();
    void readStringCutsAt2047();
    void readNumbers_data();
    void readNumbers();
    void encodings_data();
    void encodings();
    void utf8DetectionMatchesTheDecoder_data();
    void utf8DetectionMatchesTheDecoder();
    void unreadablePathsReadEmpty_data();
    void unreadablePathsReadEmpty();
    void hostileInput_data();
    void hostileInput();

    void replacesInPlace();
    void newKeyGoesAfterTheLastKeyOfItsSection();
    void newSectionGoesAtTheEnd();
    void writesIntoTheFirstOfEqualSections();
    void lastLineWithoutLineEndGetsOne();
    void existingFileKeepsEncodingAndLineEnds_data();
    void existingFileKeepsEncodingAndLineEnds();
    void switchesToUtf8WhenACharacterHasNoForm_data();
    void switchesToUtf8WhenACharacterHasNoForm();
    void newFile_data();
    void newFile();
    void asciiFileIsWrittenLikeANewOne();
    void cp1251ThatWouldReadAsUtf8IsWrittenAsUtf8();
    void freshModeIgnoresTheFile();
    void noWriteTouchesNothing();
    void writeNumbers();
    void valuesRoundTrip_data();
    void valuesRoundTrip();
    void refusedNamesChangeNothing_data();
    void refusedNamesChangeNothing();
    void updateTwice();
    void roundTripOfRandomFiles();
    void failedWriteKeepsTheOldFile_data();
    void failedWriteKeepsTheOldFile();
    void relativeNameGivesFullPathInMessage();

private:
    // A folder of its own for each test function and data row.
    QString Here() {
        const QString key = QString::fromLatin1(QTest::currentTestFunction()) + u'/' +
                            QString::fromUtf8(QTest::currentDataTag());
        auto it = folders_.find(key);
        if (it != folders_.end())
            return it->second;
        const QString folder = QDir(dir_.path()).filePath(QString::number(folders_.size()));
        QDir().mkpath(folder);
        folders_[key] = folder;
        return folder;
    }
    QString Fixture(const QByteArray& bytes, const QString& name = QStringLiteral("t.ini")) {
        return WriteFixture(Here(), name, bytes);
    }
    QString PathOf(const QString& name) { return QDir(Here()).filePath(name); }

    QTemporaryDir dir_;
    std::map<QString, QString> folders_;
};

void TestIniFile::init() {
    QVERIFY(dir_.isValid());
}

// ---- reading ----

void TestIniFile::readingRules_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected"); // "<default>" when the key is absent

    const QString def = QStringLiteral("<default>");
    QTest::newRow("plain") << QByteArray("[S]\r\nK=V\r\n") << "S"
                           << "K"
                           << "V";
    QTest::newRow("section case") << QByteArray("[Section]\r\nK=V\r\n") << "sECTION"
                                  << "K"
                                  << "V";
    QTest::newRow("key case") << QByteArray("[S]\r\nKey=V\r\n") << "S"
                              << "kEY"
                              << "V";
    QTest::newRow("cyrillic case") << Utf8("[Секция]\nКлюч=1\n") << "СЕКЦИЯ"
                                   << "ключ"
                                   << "1";
    QTest::newRow("blanks around names and value")
        << QByteArray(" [ S ] \n \t K \t = \t V V \t \n") << "S"
        << "K"
        << "V V";
    QTest::newRow("names given with blanks") << QByteArray("[S]\nK=V\n") << " S\t"
                                             << "\tK "
                                             << "V";
    QTest::newRow("double quotes") << QByteArray("[S]\nK=\" V \"\n") << "S"
                                   << "K"
                                   << " V ";
    QTest::newRow("single quotes") << QByteArray("[S]\nK='V'\n") << "S"
                                   << "K"
                                   << "V";
    QTest::newRow("quotes after trim") << QByteArray("[S]\nK=  \"V\"  \n") << "S"
                                       << "K"
                                       << "V";
    QTest::newRow("one pair only") << QByteArray("[S]\nK=\"\"V\"\"\n") << "S"
                                   << "K"
                                   << "\"V\"";
    QTest::newRow("mixed quotes stay") << QByteArray("[S]\nK=\"V'\n") << "S"
                                       << "K"
                                       << "\"V'";
    QTest::newRow("lone quote stays") << QByteArray("[S]\nK=\"\n") << "S"
                                      << "K"
                                      << "\"";
    QTest::newRow("empty quotes") << QByteArray("[S]\nK=\"\"\n") << "S"
                                  << "K"
                                  << "";
    QTest::newRow("quote inside") << QByteArray("[S]\nK=a\"b\"c\n") << "S"
                                  << "K"
                                  << "a\"b\"c";
    QTest::newRow("empty value") << QByteArray("[S]\nK=\n") << "S"
                                 << "K"
                                 << "";
    QTest::newRow("second equals sign is value") << QByteArray("[S]\nK=a=b\n") << "S"
                                                 << "K"
                                                 << "a=b";
    QTest::newRow("first equal key wins") << QByteArray("[S]\nK=1\nk=2\n") << "S"
                                          << "K"
                                          << "1";
    QTest::newRow("first equal section wins")
        << QByteArray("[S]\nK=1\n[T]\nK=3\n[s]\nK=2\nL=4\n") << "S"
        << "K"
        << "1";
    QTest::newRow("keys of a repeated section are hidden")
        << QByteArray("[S]\nK=1\n[s]\nL=4\n") << "S"
        << "L" << def;
    QTest::newRow("comment") << QByteArray("[S]\n;K=1\nK=2\n") << "S"
                             << "K"
                             << "2";
    QTest::newRow("indented comment") << QByteArray("[S]\n  ;K=1\n") << "S"
                                      << "K" << def;
    QTest::newRow("semicolon in value") << QByteArray("[S]\nK=a;b\n") << "S"
                                        << "K"
                                        << "a;b";
    QTest::newRow("line without equals") << QByteArray("[S]\nK\nK=2\n") << "S"
                                         << "K"
                                         << "2";
    QTest::newRow("before first section") << QByteArray("K=1\n[S]\nL=2\n") << ""
                                          << "K" << def;
    QTest::newRow("before first section, empty name") << QByteArray("K=1\n[]\nL=2\n") << ""
                                                      << "K" << def;
    QTest::newRow("empty section name") << QByteArray("K=1\n[]\nL=2\n") << ""
                                        << "L"
                                        << "2";
    QTest::newRow("text after bracket") << QByteArray("[S] junk ]\nK=1\n") << "S"
                                        << "K"
                                        << "1";
    QTest::newRow("missing bracket") << QByteArray("[S\nK=1\n") << "S"
                                     << "K"
                                     << "1";
    QTest::newRow("bracket inside name") << QByteArray("[[S]\nK=1\n") << "[S"
                                         << "K"
                                         << "1";
    QTest::newRow("key with bracket inside") << QByteArray("[S]\na[b]=1\n") << "S"
                                             << "a[b]"
                                             << "1";
    QTest::newRow("empty key") << QByteArray("[S]\n=1\n") << "S"
                               << ""
                               << "1";
    QTest::newRow("CRLF") << QByteArray("[S]\r\nA=1\r\nK=2\r\n") << "S"
                          << "K"
                          << "2";
    QTest::newRow("LF") << QByteArray("[S]\nA=1\nK=2\n") << "S"
                        << "K"
                        << "2";
    QTest::newRow("CR") << QByteArray("[S]\rA=1\rK=2\r") << "S"
                        << "K"
                        << "2";
    QTest::newRow("mixed line ends") << QByteArray("[S]\rA=1\r\nB=3\n\rK=2") << "S"
                                     << "K"
                                     << "2";
    QTest::newRow("CR CR LF") << QByteArray("[S]\r\r\nK=2\r\r") << "S"
                              << "K"
                              << "2";
    QTest::newRow("no line end at all") << QByteArray("[S]") << "S"
                                        << "K" << def;
    QTest::newRow("NUL in value") << QByteArray("[S]\nK=a\0b\n", 10) << "S"
                                  << "K" << QString::fromUtf8("a\0b", 3);
    QTest::newRow("NUL in key") << QByteArray("[S]\nK\0=v\n", 9) << "S"
                                << QString::fromUtf8("K\0", 2) << "v";
    QTest::newRow("other blanks are kept") << QByteArray("[S]\nK=\x0Bv\xC2\xA0\n") << "S"
                                           << "K" << QString::fromUtf8("\x0Bv\xC2\xA0");
    QTest::newRow("absent section") << QByteArray("[S]\nK=1\n") << "T"
                                    << "K" << def;
    QTest::newRow("absent key") << QByteArray("[S]\nK=1\n") << "S"
                                << "L" << def;
    QTest::newRow("empty file") << QByteArray() << "S"
                                << "K" << def;
}

void TestIniFile::readingRules() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const TIniFile ini(Fixture(bytes));
    QCOMPARE(ini.ReadString(section, key, QStringLiteral("<default>")), expected);
    QCOMPARE(ini.ValueExists(section, key), expected != QStringLiteral("<default>"));
}

void TestIniFile::valueExists_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("exists");
    QTest::newRow("present") << "S"
                             << "K" << true;
    QTest::newRow("present with empty value") << "S"
                                              << "Empty" << true;
    QTest::newRow("other case") << "s"
                                << "eMpTy" << true;
    QTest::newRow("absent key") << "S"
                                << "Nope" << false;
    QTest::newRow("absent section") << "T"
                                    << "K" << false;
    QTest::newRow("commented") << "S"
                               << "C" << false;
}

void TestIniFile::valueExists() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(bool, exists);
    const TIniFile ini(Fixture("[S]\r\nK=1\r\nEmpty=\r\n;C=1\r\n"));
    QCOMPARE(ini.ValueExists(section, key), exists);
    QCOMPARE(ini.SectionExists(section),
             section == QStringLiteral("S") || section == QStringLiteral("s"));
}

void TestIniFile::readSectionsListsEveryHeader() {
    const TIniFile ini(Fixture("x=1\r\n[B]\r\n[ a ] tail\r\n;[c]\r\n[b]\r\n[\r\n[D\r\n"));
    QStringList names{QStringLiteral("stale")};
    ini.ReadSections(names);
    QCOMPARE(names, QStringList({"B", "a", "b", "", "D"}));

    const TIniFile none(PathOf(QStringLiteral("missing.ini")));
    none.ReadSections(names);
    QVERIFY(names.isEmpty());
}

void TestIniFile::readSectionListsKeysOnce() {
    const TIniFile ini(Fixture("[S]\nB=1\nA=2\nb=3\n;C=4\nnone\n[T]\nX=1\n[s]\nZ=1\n"));
    QStringList keys;
    ini.ReadSection(QStringLiteral("s"), keys);
    QCOMPARE(keys, QStringList({"B", "A"}));
    ini.ReadSection(QStringLiteral("missing"), keys);
    QVERIFY(keys.isEmpty());
}

// Keys of a short section are found by walking its lines, those of a long one through a table,
// and writes can make a short section long: the same rules must hold either way.
void TestIniFile::sectionsOfAnyLength_data() {
    QTest::addColumn<int>("keys");
    QTest::addColumn<int>("comments"); // comment lines after each key
    QTest::addColumn<int>("added");    // keys written after reading
    QTest::newRow("short") << 4 << 0 << 0;
    QTest::newRow("short, grown by writes") << 4 << 0 << 60;
    QTest::newRow("long") << 300 << 0 << 0;
    QTest::newRow("long, grown by writes") << 300 << 0 << 60;
    QTest::newRow("few keys among many comments") << 3 << 40 << 0;
}

void TestIniFile::sectionsOfAnyLength() {
    QFETCH(int, keys);
    QFETCH(int, comments);
    QFETCH(int, added);
    QByteArray bytes = "[Before]\nK0=before\n[S]\n";
    for (int i = 0; i < keys; ++i) {
        bytes += "K" + QByteArray::number(i) + "=v" + QByteArray::number(i) + "\n";
        for (int c = 0; c < comments; ++c)
            bytes += ";K" + QByteArray::number(i) + "=comment\n";
    }
    for (int i = 0; i < keys; ++i) // equal keys later in the section lose
        bytes += "k" + QByteArray::number(i) + "=late\n";
    bytes += "[After]\nK0=after\n[s]\nK0=hidden\nOnlyInRepeat=hidden\n";
    const QString path = Fixture(bytes);

    TIniFile ini(path);
    for (int j = 0; j < added; ++j)
        ini.WriteString(QStringLiteral("S"), QStringLiteral("New%1").arg(j),
                        QStringLiteral("n%1").arg(j));
    ini.WriteString(QStringLiteral("s"), QStringLiteral("k0"), QStringLiteral("changed"));

    QStringList expectedKeys;
    for (int i = 0; i < keys; ++i)
        expectedKeys << QStringLiteral("K%1").arg(i);
    for (int j = 0; j < added; ++j)
        expectedKeys << QStringLiteral("New%1").arg(j);
    const auto check = [&](const TIniFile& file) {
        QCOMPARE(file.ReadString(QStringLiteral("S"), QStringLiteral("K0"), QString()),
                 QStringLiteral("changed"));
        for (int i = 1; i < keys; ++i)
            QCOMPARE(file.ReadString(QStringLiteral("s"), QStringLiteral("k%1").arg(i), QString()),
                     QStringLiteral("v%1").arg(i));
        for (int j = 0; j < added; ++j)
            QCOMPARE(
                file.ReadString(QStringLiteral("S"), QStringLiteral("NEW%1").arg(j), QString()),
                QStringLiteral("n%1").arg(j));
        QVERIFY(!file.ValueExists(QStringLiteral("S"), QStringLiteral("OnlyInRepeat")));
        QVERIFY(!file.ValueExists(QStringLiteral("S"), QStringLiteral("Before")));
        QCOMPARE(file.ReadString(QStringLiteral("Before"), QStringLiteral("K0"), QString()),
                 QStringLiteral("before"));
        QCOMPARE(file.ReadString(QStringLiteral("After"), QStringLiteral("K0"), QString()),
                 QStringLiteral("after"));
        QStringList listed;
        file.ReadSection(QStringLiteral("S"), listed);
        QCOMPARE(listed, expectedKeys);
    };
    check(ini);
    if (QTest::currentTestFailed())
        return;
    ini.UpdateFile();
    check(TIniFile(path));
}

void TestIniFile::readStringCutsAt2047_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("expected");
    QTest::newRow("short") << 10 << 10;
    QTest::newRow("2046") << 2046 << 2046;
    QTest::newRow("2047") << 2047 << 2047;
    QTest::newRow("2048") << 2048 << 2047;
    QTest::newRow("100000") << 100000 << 2047;
}

void TestIniFile::readStringCutsAt2047() {
    QFETCH(int, length);
    QFETCH(int, expected);
    QString value;
    for (int i = 0; i < length; ++i)
        value += QChar(u'a' + i % 26);
    const TIniFile ini(Fixture("[S]\r\nK=" + value.toLatin1() + "\r\n"));
    QCOMPARE(ini.ReadString("S", "K", QString()), value.left(expected));

    // The cut also applies to what was written, and the file keeps the whole value.
    TIniFile out(PathOf(QStringLiteral("long.ini")));
    out.WriteString("S", "K", value);
    QCOMPARE(out.ReadString("S", "K", QString()), value.left(expected));
    out.UpdateFile();
    QVERIFY(ReadBytes(PathOf(QStringLiteral("long.ini"))).contains(value.toLatin1()));
}

void TestIniFile::readNumbers_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("integer");
    QTest::addColumn<double>("number");
    // Separator ',' for the locale number text; defaults 7 and 7.5.
    QTest::newRow("integer") << QByteArray("12") << 12 << 12.0;
    QTest::newRow("signed") << QByteArray("-12") << -12 << -12.0;
    QTest::newRow("hex") << QByteArray("0x1F") << 31 << 7.5;
    QTest::newRow("dollar hex") << QByteArray("$1F") << 31 << 7.5;
    QTest::newRow("quoted") << QByteArray("\"12\"") << 12 << 12.0;
    QTest::newRow("quoted leading blank") << QByteArray("\" 12\"") << 12 << 12.0;
    QTest::newRow("quoted trailing blank") << QByteArray("\"12 \"") << 7 << 12.0;
    QTest::newRow("decimal comma") << QByteArray("2,5") << 7 << 2.5;
    QTest::newRow("decimal point") << QByteArray("2.5") << 7 << 7.5;
    QTest::newRow("exponent") << QByteArray("1E3") << 7 << 1000.0;
    QTest::newRow("empty") << QByteArray("") << 7 << 7.5;
    QTest::newRow("word") << QByteArray("abc") << 7 << 7.5;
    QTest::newRow("too big integer") << QByteArray("2147483648") << 7 << 2147483648.0;
    QTest::newRow("too big double") << QByteArray("1E400") << 7 << 7.5;
}

void TestIniFile::readNumbers() {
    QFETCH(QByteArray, text);
    QFETCH(int, integer);
    QFETCH(double, number);
    SeparatorGuard comma(u',');
    const TIniFile ini(Fixture("[S]\r\nK=" + text + "\r\n"));
    QCOMPARE(ini.ReadInteger("S", "K", 7), integer);
    QCOMPARE(ini.ReadFloat("S", "K", 7.5), number);
    QCOMPARE(ini.ReadInteger("S", "Absent", 7), 7);
    QCOMPARE(ini.ReadFloat("S", "Absent", 7.5), 7.5);
}

void TestIniFile::encodings_data() {
    QTest::addColumn<QByteArray>("bytes");
    const QString text = QStringLiteral("[Калибровка]\r\nИмя=Фаза впрыска\r\n");
    QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF") + Utf8(text);
    QTest::newRow("UTF-8 without BOM") << Utf8(text);
    QTest::newRow("UTF-16LE") << Utf16(text, true);
    QTest::newRow("UTF-16BE") << Utf16(text, false);
    QTest::newRow("Windows-1251") << Cp1251(text);
    QTest::newRow("Windows-1251, LF")
        << Cp1251(WithEol(QStringLiteral("[Калибровка]\nИмя=Фаза впрыска\n"), "\n"));
    QTest::newRow("Windows-1251 with every byte") << [] {
        QByteArray b = Cp1251(QStringLiteral("[Калибровка]\r\nИмя=Фаза впрыска\r\nAll="));
        for (int i = 0x80; i < 0x100; ++i)
            b.append(char(i));
        return b + "\r\n";
    }();
}

void TestIniFile::encodings() {
    QFETCH(QByteArray, bytes);
    const TIniFile ini(Fixture(bytes));
    QCOMPARE(ini.ReadString(QStringLiteral("калибровка"), QStringLiteral("ИМЯ"), QString()),
             QStringLiteral("Фаза впрыска"));
    QStringList sections;
    ini.ReadSections(sections);
    QCOMPARE(sections, QStringList{QStringLiteral("Калибровка")});
    if (QTest::currentDataTag() == QByteArray("Windows-1251 with every byte")) {
        QStringDecoder decoder("windows-1251");
        QByteArray all;
        for (int i = 0x80; i < 0x100; ++i)
            all.append(char(i));
        QCOMPARE(ini.ReadString("Калибровка", "All", QString()), QString(decoder.decode(all)));
    }
}

void TestIniFile::utf8DetectionMatchesTheDecoder_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("two bytes") << QByteArray("\xD0\x98");
    QTest::newRow("three bytes") << QByteArray("\xE2\x82\xAC");
    QTest::newRow("four bytes") << QByteArray("\xF0\x9F\x98\x80");
    QTest::newRow("largest code point") << QByteArray("\xF4\x8F\xBF\xBF");
    QTest::newRow("noncharacter") << QByteArray("\xEF\xBF\xBF");
    QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80");
    QTest::newRow("overlong two") << QByteArray("\xC0\xAF");
    QTest::newRow("overlong C1") << QByteArray("\xC1\xBF");
    QTest::newRow("overlong three") << QByteArray("\xE0\x80\xAF");
    QTest::newRow("overlong four") << QByteArray("\xF0\x80\x80\xAF");
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80");
    QTest::newRow("last before surrogates") << QByteArray("\xED\x9F\xBF");
    QTest::newRow("lone continuation") << QByteArray("\x80");
    QTest::newRow("truncated") << QByteArray("\xE2\x82");
    QTest::newRow("F5") << QByteArray("\xF5\x80\x80\x80");
    QTest::newRow("FF") << QByteArray("\xFF");
    QTest::newRow("cp1251 word") << Cp1251(QStringLiteral("Фаза"));
    QTest::newRow("cp1251 that is UTF-8") << Cp1251(QStringLiteral("Ві"));
}

void TestIniFile::utf8DetectionMatchesTheDecoder() {
    QFETCH(QByteArray, value);
    const QByteArray bytes = "[S]\r\nK=" + value + "\r\n";
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString asUtf8 = utf8.decode(bytes);
    QString expected;
    if (!utf8.hasError())
        expected = QString(QStringDecoder(QStringConverter::Utf8).decode(value));
    else
        expected = QString(QStringDecoder("windows-1251").decode(value));
    Q_UNUSED(asUtf8);
    const TIniFile ini(Fixture(bytes));
    QCOMPARE(ini.ReadString("S", "K", QString()), expected);
}

void TestIniFile::unreadablePathsReadEmpty_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing") << "missing";
    QTest::newRow("folder") << "folder";
    QTest::newRow("parent is a file") << "parent";
    QTest::newRow("empty name") << "empty";
}

void TestIniFile::unreadablePathsReadEmpty() {
    QFETCH(QString, kind);
    QString path;
    if (kind == "missing")
        path = PathOf("nope.ini");
    else if (kind == "folder")
        path = Here();
    else if (kind == "parent")
        path = Fixture("[S]\nK=1\n", "plain") + "/t.ini";
    const TIniFile ini(path);
    QCOMPARE(ini.ReadString("S", "K", "d"), QStringLiteral("d"));
    QCOMPARE(ini.ReadInteger("S", "K", 5), 5);
    QCOMPARE(ini.ReadFloat("S", "K", 1.5), 1.5);
    QVERIFY(!ini.ValueExists("S", "K"));
    QVERIFY(!ini.SectionExists("S"));
    QStringList sections;
    ini.ReadSections(sections);
    QVERIFY(sections.isEmpty());
    QCOMPARE(ini.FileName(), path);
}

void TestIniFile::hostileInput_data() {
    QTest::addColumn<QByteArray>("bytes");
    QByteArray longLine = "[S]\nK=";
    longLine.append(QByteArray(10 * 1024 * 1024, 'x'));
    QTest::newRow("10 MB line") << longLine;
    QTest::newRow("10 MB header") << "[" + QByteArray(10 * 1024 * 1024, 'S') + "\nK=x";
    QTest::newRow("2 MB of line ends") << "[S]" + QByteArray(2 * 1024 * 1024, '\r') + "K=x";
    QTest::newRow("10 MB of equals signs") << "[S]\nK=x\n" + QByteArray(10 * 1024 * 1024, '=');
    QByteArray nuls(4096, '\0');
    QTest::newRow("NUL bytes") << "[S]\nK=x\n" + nuls + "\n[T]\n" + nuls;
    QTest::newRow("invalid UTF-8") << QByteArray("[S]\nK=x\n\xC3\n\xFF\xFE\n\xED\xA0\x80=\n");
    QTest::newRow("BOM then invalid UTF-8")
        << QByteArray("\xEF\xBB\xBF[S]\nK=x\n\xC3\n[\xFF\n\xED\xA0\x80=\n");
    QTest::newRow("UTF-16 odd length") << Utf16("[S]\nK=x\n", true) + "\x41";
    QTest::newRow("UTF-16 lone surrogates")
        << Utf16("[S]\nK=x\n", true) + QByteArray("\x00\xD8=\x00\n\x00", 6);
    QTest::newRow("only a BOM") << QByteArray("\xFE\xFF");
    QByteArray many;
    for (int i = 0; i < 20000; ++i)
        many += "[S]\nK=" + QByteArray::number(i) + "\n";
    QTest::newRow("one section repeated 20000 times") << many;
}

void TestIniFile::hostileInput() {
    QFETCH(QByteArray, bytes);
    const QString path = Fixture(bytes);
    QStringList sections;
    {
        TIniFile ini(path);
        ini.ReadSections(sections);
        const QString value = ini.ReadString("S", "K", QString());
        QVERIFY(value.size() <= 2047);
        const Model before = Snapshot(ini);
        ini.WriteString("S", "New", "1");
        ini.UpdateFile();
        TIniFile again(path);
        Model expected = before;
        bool added = false;
        for (auto& [section, keys] : expected)
            if (!added && section.compare("S", Qt::CaseInsensitive) == 0) {
                keys.emplace_back("New", "1");
                added = true;
            }
        if (!added)
            expected.push_back({"S", {{"New", "1"}}});
        QCOMPARE(Describe(Snapshot(again)), Describe(expected));
    }
}

// ---- writing ----

void TestIniFile::replacesInPlace() {
    const QByteArray before =
        "; head\r\nx=1\r\n[A]\r\n  Key = \"old\" \r\nOther=2\r\n\r\n[B]\r\nKey=3\r\n";
    const QString path = Fixture(before);
    TIniFile ini(path);
    ini.WriteString("a", "KEY", "new");
    QCOMPARE(ini.ReadString("A", "key", QString()), QStringLiteral("new"));
    ini.UpdateFile();
    QCOMPARE(ReadBytes(path),
             QByteArray("; head\r\nx=1\r\n[A]\r\nKey=new\r\nOther=2\r\n\r\n[B]\r\nKey=3\r\n"));
}

void TestIniFile::newKeyGoesAfterTheLastKeyOfItsSection() {
    const QString path = Fixture("[A]\nK1=1\n;c\nnoise\nK2=2\n\n; about B\n[B]\nX=1\n");
    TIniFile ini(path);
    ini.WriteString("A", "K3", "3");
    ini.WriteString("A", "K4", "4");
    ini.WriteString("B", "Y", "2");
    ini.UpdateFile();
    QCOMPARE(ReadBytes(path),
             QByteArray("[A]\nK1=1\n;c\nnoise\nK2=2\nK3=3\nK4=4\n\n; about B\n[B]\nX=1\nY=2\n"));

    // A section without keys takes its first key right after its header.
    const QString empty = Fixture("[A]\n; nothing\n[B]\n", "empty.ini");
    TIniFile second(empty);
    second.WriteString("A", "K", "v");
    second.UpdateFile();
    QCOMPARE(ReadBytes(empty), QByteArray("[A]\nK=v\n; nothing\n[B]\n"));
}

void TestIniFile::newSectionGoesAtTheEnd() {
    const QString path = Fixture("[A]\r\nK=1\r\n; tail\r\n");
    TIniFile ini(path);
    ini.WriteString(" C ", "K", "1");
    ini.WriteString("B", "K", "2");
    ini.WriteString("c", "L", "3");
    ini.UpdateFile();
    QCOMPARE(ReadBytes(path),
             QByteArray("[A]\r\nK=1\r\n; tail\r\n[C]\r\nK=1\r\nL=3\r\n[B]\r\nK=2\r\n"));
    QStringList sections;
    TIniFile(path).ReadSections(sections);
    QCOMPARE(sections, QStringList({"A", "C", "B"}));
}

void TestIniFile::writesIntoTheFirstOfEqualSections() {
    const QString path = Fixture("[A]\nK=1\n[a]\nL=2\n");
    TIniFile ini(path);
    ini.WriteString("A", "L", "3");
    ini.WriteString("A", "K", "4");
    ini.UpdateFile();
    QCOMPARE(ReadBytes(path), QByteArray("[A]\nK=4\nL=3\n[a]\nL=2\n"));
}

void TestIniFile::lastLineWithoutLineEndGetsOne() {
    const QString path = Fixture("[A]\r\nK=1");
    TIniFile ini(path);
    ini.WriteString("A", "L", "2");
    ini.WriteString("B", "M", "3");
    ini.UpdateFile();
    QCOMPARE(ReadBytes(path), QByteArray("[A]\r\nK=1\r\nL=2\r\n[B]\r\nM=3\r\n"));

    // Unchanged, the last line keeps having no line end.
    const QString other = Fixture("[A]\nK=1\n[B]\nX=1", "other.ini");
    TIniFile second(other);
    second.WriteString("A", "K", "2");
    second.UpdateFile();
    QCOMPARE(ReadBytes(other), QByteArray("[A]\nK=2\n[B]\nX=1"));
}

void TestIniFile::existingFileKeepsEncodingAndLineEnds_data() {
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("eol");
    for (const char* encoding : {"utf-8 bom", "utf-8", "utf-16le", "utf-16be", "windows-1251"})
        for (const char* eol : {"\r\n", "\n", "\r"})
            QTest::addRow("%s %s", encoding,
                          eol[0] == '\n'   ? "LF"
                          : eol[1] == '\n' ? "CRLF"
                                           : "CR")
                << QString::fromLatin1(encoding) << QString::fromLatin1(eol);
}

void TestIniFile::existingFileKeepsEncodingAndLineEnds() {
    QFETCH(QString, encoding);
    QFETCH(QString, eol);
    const auto encode = [&](const QString& text) -> QByteArray {
        const QString t = WithEol(text, eol);
        if (encoding == "utf-8 bom")
            return "\xEF\xBB\xBF" + Utf8(t);
        if (encoding == "utf-8")
            return Utf8(t);
        if (encoding == "utf-16le")
            return Utf16(t, true);
        if (encoding == "utf-16be")
            return Utf16(t, false);
        return Cp1251(t);
    };
    const QString path = Fixture(
        encode(QStringLiteral("; Заметка\n[Раздел]\nИмя=Старое\nЧисло=1\n[Другой]\nX=Ж\n")));
    TIniFile ini(path);
    ini.WriteString("РАЗДЕЛ", "имя", "Новое «имя»");
    ini.WriteString("Раздел", "Ещё", "Ёж");
    ini.WriteString("Новый", "Ключ", "Щ");
    ini.UpdateFile();
    QCOMPARE(ReadBytes(path),
             encode(QStringLiteral("; Заметка\n[Раздел]\nИмя=Новое «имя»\nЧисло=1\nЕщё=Ёж\n"
                                   "[Другой]\nX=Ж\n[Новый]\nКлюч=Щ\n")));
}

void TestIniFile::switchesToUtf8WhenACharacterHasNoForm_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("Latin letter outside cp1251") << QStringLiteral("Motorsteuergerät");
    QTest::newRow("CJK") << QStringLiteral("日本");
    QTest::newRow("outside the BMP") << QString::fromUcs4(U"\U0001F600");
    QTest::newRow("replacement character") << QString(QChar(0xFFFD));
}

void TestIniFile::switchesToUtf8WhenACharacterHasNoForm() {
    QFETCH(QString, value);
    QByteArray before = Cp1251(QStringLiteral("; Заметка\n[Раздел]\nИмя=Старое\nСырой="));
    before += "\x98\x88\n"; // the byte that Windows-1251 leaves undefined, and the euro sign
    const QString path = Fixture(before);
    TIniFile ini(path);
    ini.WriteString("Раздел", "Имя", value);
    ini.UpdateFile();
    const QString expected = QStringLiteral("; Заметка\n[Раздел]\nИмя=") + value +
                             QStringLiteral("\nСырой=") + QChar(0x98) + QChar(0x20AC) + u'\n';
    QCOMPARE(ReadBytes(path), Utf8(expected));
    const TIniFile again(path);
    QCOMPARE(again.ReadString("Раздел", "Имя", QString()), value);
    QCOMPARE(again.ReadString("Раздел", "Сырой", QString()), QString(QChar(0x98)) + QChar(0x20AC));
}

void TestIniFile::newFile_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ASCII") << "v" << QByteArray("[Раздел]\r\nK=v\r\n");
    QTest::newRow("Cyrillic") << "Фаза" << QByteArray("[Раздел]\r\nK=Фаза\r\n");
    QTest::newRow("euro and quotes") << "€ «»" << QByteArray("[Раздел]\r\nK=€ «»\r\n");
    QTest::newRow("no cp1251 form") << "Фаза ä" << QByteArray("[Раздел]\r\nK=Фаза ä\r\n");
}

void TestIniFile::newFile() {
    QFETCH(QString, value);
    QFETCH(QByteArray, bytes); // UTF-8 source text of the file
    const QString text = QString::fromUtf8(bytes);
    const bool cp1251 = !value.contains(u'ä');
    const QString path = PathOf("new.ini");
    TIniFile ini(path);
    QVERIFY(!QFile::exists(path)); // creating the object touches nothing
    ini.WriteString("Раздел", "K", value);
    QVERIFY(!QFile::exists(path));
    ini.UpdateFile();
    QCOMPARE(ReadBytes(path), cp1251 ? Cp1251(text) : Utf8(text));
    QCOMPARE(TIniFile(path).ReadString("раздел", "k", QString()), value);
}

void TestIniFile::asciiFileIsWrittenLikeANewOne() {
    const QString path = Fixture("[A]\nK=1\n");
    TIniFile ini(path);
    ini.WriteString("A", "Name", "Фаза");
    ini.UpdateFile();
    QCOMPARE(ReadBytes(path), Cp1251(QStringLiteral("[A]\nK=1\nName=Фаза\n")));

    const QString other = Fixture("[A]\nK=1\n", "other.ini");
    TIniFile second(other);
    second.WriteString("A", "Name", "Straße ä");
    second.UpdateFile();
    QCOMPARE(ReadBytes(other), Utf8(QStringLiteral("[A]\nK=1\nName=Straße ä\n")));
}

void TestIniFile::cp1251ThatWouldReadAsUtf8IsWrittenAsUtf8() {
    // "Ві" in Windows-1251 is C2 B3, which is also UTF-8 for "³".
    const QString path = PathOf("lookalike.ini");
    TIniFile ini(path);
    ini.WriteString("S", "K", "Ві");
    ini.UpdateFile();
    QCOMPARE(ReadBytes(path), Utf8(QStringLiteral("[S]\r\nK=Ві\r\n")));
    QCOMPARE(TIniFile(path).ReadString("S", "K", QString()), QStringLiteral("Ві"));

    // Also when an existing Windows-1251 file loses its only non-UTF-8 bytes.
    const QString existing = Fixture(Cp1251(QStringLiteral("[S]\r\nK=Фаза\r\n")), "old.ini");
    TIniFile second(existing);
    second.WriteString("S", "K", "Ві");
    second.UpdateFile();
    QCOMPARE(TIniFile(existing).ReadString("S", "K", QString()), QStringLiteral("Ві"));
}

void TestIniFile::freshModeIgnoresTheFile() {
    const QString path = Fixture("\xEF\xBB\xBF[Old]\nK=1\n[S]\nA=1\n");
    TIniFile ini(path, TIniFile::Mode::Fresh);
    QVERIFY(!ini.SectionExists("Old"));
    QVERIFY(!ini.ValueExists("S", "A"));
    ini.WriteString("S", "B", "Фаза");
    ini.UpdateFile();
    QCOMPARE(ReadBytes(path), Cp1251(QStringLiteral("[S]\r\nB=Фаза\r\n")));

    // Fresh with nothing written empties the file.
    TIniFile empty(path, TIniFile::Mode::Fresh);
    empty.UpdateFile();
    QCOMPARE(ReadBytes(path), QByteArray());
}

void TestIniFile::noWriteTouchesNothing() {
    const QString missing = PathOf("missing.ini");
    {
        TIniFile ini(missing);
        ini.ReadString("S", "K", QString());
        ini.UpdateFile();
    }
    QVERIFY(!QFile::exists(missing));

    const QByteArray before("[S]\r\nK = \"v\" \r\n");
    const QString path = Fixture(before);
    TIniFile ini(path);
    ini.WriteString("S", "K", "v"); // the value it has: the line stays as it is
    ini.UpdateFile();
    QCOMPARE(ReadBytes(path), before);

    // Writes are dropped without UpdateFile.
    {
        TIniFile dropped(path);
        dropped.WriteString("S", "K", "other");
    }
    QCOMPARE(ReadBytes(path), before);
}

void TestIniFile::writeNumbers() {
    SeparatorGuard comma(u',');
    const QString path = PathOf("numbers.ini");
    TIniFile ini(path);
    ini.WriteInteger("S", "I", -2147483647 - 1);
    ini.WriteFloat("S", "F", 2.5);
    ini.WriteFloat("S", "G", 1e-5);
    ini.UpdateFile();
    QCOMPARE(ReadBytes(path), QByteArray("[S]\r\nI=-2147483648\r\nF=2,5\r\nG=1E-5\r\n"));
    const TIniFile again(path);
    QCOMPARE(again.ReadInteger("S", "I", 0), -2147483647 - 1);
    QCOMPARE(again.ReadFloat("S", "F", 0), 2.5);
    QCOMPARE(again.ReadFloat("S", "G", 0), 1e-5);
}

void TestIniFile::valuesRoundTrip_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("line"); // as written, in UTF-8 source form
    QTest::newRow("plain") << "v" << QByteArray("K=v");
    QTest::newRow("empty") << "" << QByteArray("K=");
    QTest::newRow("leading blank") << " v" << QByteArray("K=\" v\"");
    QTest::newRow("trailing tab") << "v\t" << QByteArray("K=\"v\t\"");
    QTest::newRow("only blanks") << "  " << QByteArray("K=\"  \"");
    QTest::newRow("double quoted") << "\"v\"" << QByteArray("K=\"\"v\"\"");
    QTest::newRow("single quoted") << "'v'" << QByteArray("K=\"'v'\"");
    QTest::newRow("two quotes") << "''" << QByteArray("K=\"''\"");
    QTest::newRow("one quote") << "\"" << QByteArray("K=\"");
    QTest::newRow("opening quote") << "\"v" << QByteArray("K=\"v");
    QTest::newRow("mixed quotes") << "\"v'" << QByteArray("K=\"v'");
    QTest::newRow("blank and quote") << " \"" << QByteArray("K=\" \"\"");
    QTest::newRow("equals and semicolon") << "a=b;c" << QByteArray("K=a=b;c");
    QTest::newRow("brackets") << "[x]" << QByteArray("K=[x]");
    QTest::newRow("NUL") << QString::fromUtf8("a\0b", 3) << QByteArray("K=a\0b", 5);
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << QByteArray("K=\xEF\xBF\xBD");
}

void TestIniFile::valuesRoundTrip() {
    QFETCH(QString, value);
    QFETCH(QByteArray, line);
    const QString path = PathOf("values.ini");
    TIniFile ini(path, TIniFile::Mode::Fresh);
    ini.WriteString("S", "K", value);
    const QString stored = ini.ReadString("S", "K", QStringLiteral("<absent>"));
    ini.UpdateFile();
    const QByteArray bytes = ReadBytes(path);
    const QString text = QString::fromUtf8(line);
    const bool cp1251 = !text.contains(QChar(0xFFFD));
    QCOMPARE(bytes, cp1251 ? Cp1251(QStringLiteral("[S]\r\n") + text + QStringLiteral("\r\n"))
                           : "[S]\r\n" + line + "\r\n");
    QCOMPARE(TIniFile(path).ReadString("S", "K", QStringLiteral("<absent>")), stored);
    if (!value.contains(QChar(0xD800)))
        QCOMPARE(stored, value);
}

void TestIniFile::refusedNamesChangeNothing_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("bracket in section") << "a]b"
                                        << "K"
                                        << "v";
    QTest::newRow("CR in section") << "a\rb"
                                   << "K"
                                   << "v";
    QTest::newRow("equals in key") << "S"
                                   << "a=b"
                                   << "v";
    QTest::newRow("key starting with semicolon") << "S"
                                                 << " ;k"
                                                 << "v";
    QTest::newRow("key starting with bracket") << "S"
                                               << "[k"
                                               << "v";
    QTest::newRow("LF in key") << "S"
                               << "a\nb"
                               << "v";
    QTest::newRow("LF in value") << "S"
                                 << "K"
                                 << "a\nb";
    QTest::newRow("CR in value") << "S"
                                 << "K"
                                 << "a\r";
}

void TestIniFile::refusedNamesChangeNothing() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QByteArray before("[T]\r\nK=1\r\n");
    const QString path = Fixture(before);
    TIniFile ini(path);
    try {
        ini.WriteString(section, key, value);
        QFAIL("no exception");
    } catch (const EIniFileException& e) {
        QCOMPARE(e.Message(), QStringLiteral("Unable to write to ") + path);
    }
    QVERIFY(!ini.SectionExists("S"));
    QVERIFY(!ini.SectionExists(section));
    ini.UpdateFile();
    QCOMPARE(ReadBytes(path), before);
}

void TestIniFile::updateTwice() {
    const QString path = Fixture(Cp1251(QStringLiteral("[S]\r\nK=Фаза\r\n")));
    TIniFile ini(path);
    ini.WriteString("S", "A", "ä"); // switches to UTF-8
    ini.UpdateFile();
    ini.WriteString("S", "B", "Ж");
    ini.UpdateFile();
    QCOMPARE(ReadBytes(path), Utf8(QStringLiteral("[S]\r\nK=Фаза\r\nA=ä\r\nB=Ж\r\n")));

    const QString fresh = PathOf("fresh.ini");
    TIniFile second(fresh, TIniFile::Mode::Fresh);
    second.WriteString("S", "A", "Ж");
    second.UpdateFile();
    second.WriteString("S", "B", "Ы");
    second.UpdateFile();
    QCOMPARE(ReadBytes(fresh), Cp1251(QStringLiteral("[S]\r\nA=Ж\r\nB=Ы\r\n")));
}

// Parse, write back, re-parse: random files made of the characters that matter to the syntax.
void TestIniFile::roundTripOfRandomFiles() {
    QRandomGenerator random(20240611);
    const QStringList pieces = {"[",
                                "]",
                                "=",
                                ";",
                                " ",
                                "\t",
                                "\"",
                                "'",
                                "\r",
                                "\n",
                                "\r\n",
                                "a",
                                "B",
                                "k",
                                "K",
                                "Я",
                                "я",
                                "ä",
                                "€",
                                QString(QChar(0)),
                                QString(QChar(0x98)),
                                QString::fromUcs4(U"\U0001F600"),
                                "\n[S]\n",
                                "\nk=v\n"};
    for (int round = 0; round < 400; ++round) {
        QString text;
        const int length = int(random.bounded(60));
        for (int i = 0; i < length; ++i)
            text += pieces[int(random.bounded(pieces.size()))];
        QByteArray bytes;
        switch (round % 5) {
        case 0:
            bytes = Utf8(text);
            break;
        case 1:
            bytes = "\xEF\xBB\xBF" + Utf8(text);
            break;
        case 2:
            bytes = Utf16(text, round % 2 == 0);
            break;
        default: {
            // Windows-1251 where it can; bytes of the text otherwise.
            QStringEncoder encoder("windows-1251");
            bytes = encoder.encode(text);
            break;
        }
        }
        const QString path = Fixture(bytes, QStringLiteral("r%1.ini").arg(round));
        TIniFile ini(path);
        const Model model = Snapshot(ini);

        // Writing back what was read changes nothing, not even a byte.
        for (const auto& [section, keys] : model)
            for (const auto& [key, value] : keys)
                ini.WriteString(section, key, value);
        ini.UpdateFile();
        QCOMPARE(ReadBytes(path), bytes);

        // Every value changed, and every section given a new key: re-parse gives the same.
        Model changed = model;
        for (auto& [section, keys] : changed) {
            for (auto& [key, value] : keys) {
                value = (round % 2 ? QStringLiteral(" \"") : QStringLiteral("'")) + value +
                        QStringLiteral("ä ");
                value = value.left(2047);
                ini.WriteString(section, key, value);
            }
            ini.WriteString(section, QStringLiteral("added"), section);
            if (std::find_if(keys.begin(), keys.end(), [](const auto& kv) {
                    return kv.first.compare(QStringLiteral("added"), Qt::CaseInsensitive) == 0;
                }) == keys.end())
                keys.emplace_back(QStringLiteral("added"), section);
            else
                for (auto& kv : keys)
                    if (kv.first.compare(QStringLiteral("added"), Qt::CaseInsensitive) == 0)
                        kv.second = section;
        }
        QCOMPARE(Describe(Snapshot(ini)), Describe(changed));
        ini.UpdateFile();
        QCOMPARE(Describe(Snapshot(TIniFile(path))), Describe(changed));

        // The same content copied into a fresh file.
        const QString copy = PathOf(QStringLiteral("c%1.ini").arg(round));
        TIniFile fresh(copy, TIniFile::Mode::Fresh);
        for (const auto& [section, keys] : changed)
            for (const auto& [key, value] : keys)
                fresh.WriteString(section, key, value);
        fresh.UpdateFile();
        QCOMPARE(Describe(Snapshot(TIniFile(copy))), Describe(changed));
    }
}

void TestIniFile::failedWriteKeepsTheOldFile_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("read-only folder") << "readonly";
    QTest::newRow("parent is a regular file") << "parent";
    QTest::newRow("path is a folder") << "folder";
    QTest::newRow("file size limit reached") << "fsize";
    QTest::newRow("file system without new files") << "proc";
    QTest::newRow("unreadable file") << "unreadable";
}

void TestIniFile::failedWriteKeepsTheOldFile() {
    QFETCH(QString, kind);
    const QByteArray before = Cp1251(QStringLiteral("; old\r\n[S]\r\nK=Фаза\r\n"));
    QString path;
    QString cleanup;
    if (kind == "readonly" || kind == "unreadable") {
        if (IsPrivileged(dir_.path()))
            QSKIP("permission bits do not stop this user (root); the other rows cover failures");
        QDir(Here()).mkdir("ro");
        path = WriteFixture(PathOf("ro"), "t.ini", before);
        if (kind == "readonly") {
            QFile::setPermissions(PathOf("ro"), QFile::ReadOwner | QFile::ExeOwner);
            cleanup = PathOf("ro");
        }
    } else if (kind == "parent") {
        path = Fixture(before, "plain") + "/t.ini";
    } else if (kind == "folder") {
        QVERIFY(QDir(Here()).mkdir("t.ini"));
        path = PathOf("t.ini");
    } else if (kind == "fsize") {
        path = Fixture(before);
    } else if (kind == "proc") {
        path = QStringLiteral("/proc/version");
        if (!QFile::exists(path))
            QSKIP("no /proc");
    }
    const QByteArray old = ReadBytes(path);
    const QFileInfo beforeInfo(path);
    if (kind == "unreadable")
        QFile::setPermissions(path, QFile::WriteOwner);

    TIniFile ini(path);
    QString bigValue(100000, u'x');
    ini.WriteString("S", "K", kind == "fsize" ? bigValue : QStringLiteral("new"));
    ini.WriteString("T", "L", "1");

    rlimit saved{};
    if (kind == "fsize") {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 4096;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    QString message;
    try {
        ini.UpdateFile();
    } catch (const EIniFileException& e) {
        message = e.Message();
    }
    if (kind == "fsize")
        setrlimit(RLIMIT_FSIZE, &saved);
    if (kind == "unreadable")
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    if (!cleanup.isEmpty())
        QFile::setPermissions(cleanup, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QCOMPARE(message, QStringLiteral("Unable to write to ") + path);
    QCOMPARE(ReadBytes(path), old);
    QCOMPARE(QFileInfo(path).isDir(), beforeInfo.isDir());
    if (kind == "fsize" || kind == "readonly" || kind == "unreadable")
        QCOMPARE(old, before);
    // No temporary file is left behind.
    const QStringList left =
        QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden);
    if (kind != "proc" && kind != "parent")
        for (const QString& name : left)
            QVERIFY2(!name.startsWith("t.ini."), qPrintable(name));
}

void TestIniFile::relativeNameGivesFullPathInMessage() {
    const QString saved = QDir::currentPath();
    QDir(Here()).mkpath("sub/inner");
    QDir::setCurrent(PathOf("sub/inner"));
    const QString expected = QDir::cleanPath(QDir::current().absoluteFilePath("missing/t.ini"));
    TIniFile ini(QStringLiteral("../inner/./missing/t.ini"));
    ini.WriteString("S", "K", "v");
    QString message;
    try {
        ini.UpdateFile();
    } catch (const EIniFileException& e) {
        message = e.Message();
    }
    QDir::setCurrent(saved);
    QCOMPARE(ini.FileName(), QStringLiteral("../inner/./missing/t.ini"));
    QCOMPARE(message, QStringLiteral("Unable to write to ") + expected);
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"

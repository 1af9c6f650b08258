#include "TestSupport.h"

#include "calibration/TextConv.h"
#include "mapfiles/Catalogue.h"
#include "mapfiles/IniFile.h"
#include "mapfiles/IniImport.h"

#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

namespace {

enum class TFileForm { Cp1251CrLf, Utf8CrLf, Utf8BomLf };

QString EntryName(int Entry) {
    return CalibrationCatalogue()[size_t(Entry - 1)].Name;
}

// One section of an export. Lines of the form "Key=Value" replace the base key of that name or
// are added; "-Key" drops the base key.
QString Section(const QString& Header, const QString& DisplayName,
                const QStringList& Changes = {}) {
    QList<QPair<QString, QString>> keys = {{"Name", DisplayName},
                                           {"Type", "2D"},
                                           {"Offset00", "0x1A2B3C4D"},
                                           {"Addr", "0x1F00"},
                                           {"PixelX", "16"}};
    for (const QString& change : Changes) {
        if (change.startsWith(u'-')) {
            keys.removeIf([&](const auto& k) { return k.first == change.mid(1); });
            continue;
        }
        const QString key = change.section(u'=', 0, 0);
        const QString value = change.section(u'=', 1);
        auto it =
            std::find_if(keys.begin(), keys.end(), [&](const auto& k) { return k.first == key; });
        if (it != keys.end())
            it->second = value;
        else
            keys.append({key, value});
    }
    QString text = QStringLiteral("[") + Header + QStringLiteral("]\n");
    for (const auto& [key, value] : keys)
        text += key + u'=' + value + u'\n';
    return text + u'\n';
}

QByteArray Encode(const QString& Text, TFileForm Form) {
    QString text = Text;
    switch (Form) {
    case TFileForm::Cp1251CrLf:
        return Cp1251(text.replace(u'\n', QStringLiteral("\r\n")));
    case TFileForm::Utf8CrLf:
        return text.replace(u'\n', QStringLiteral("\r\n")).toUtf8();
    case TFileForm::Utf8BomLf:
        return "\xEF\xBB\xBF" + text.toUtf8();
    }
    return {};
}

QVariant Field(const TCalibration& C, const QString& Name) {
    if (Name == "Name")
        return C.Name;
    if (Name == "Id")
        return C.Id;
    if (Name == "IdMox")
        return C.IdMox;
    if (Name == "ByteAdress")
        return C.ByteAdress;
    if (Name == "ByteLength")
        return C.ByteLength;
    if (Name == "TypeTaring")
        return C.TypeTaring;
    if (Name == "TypeTable")
        return C.TypeTable;
    if (Name == "ValueStep")
        return C.ValueStep;
    if (Name == "ValueOffset")
        return C.ValueOffset;
    if (Name == "ValueDivision")
        return C.ValueDivision;
    if (Name == "CoefRevMyl")
        return C.CoefRevMyl;
    qFatal("no field %s", qPrintable(Name));
}

QStringList Names(const TCalibrationList& List) {
    QStringList names;
    for (const auto& c : List.Items)
        names << c->Name;
    return names;
}

QList<int> Ids(const TCalibrationList& List) {
    QList<int> ids;
    for (const auto& c : List.Items)
        ids << c->Id;
    return ids;
}

} // namespace

Q_DECLARE_METATYPE(TFileForm)

class TestIniImport : public QObject {
    Q_OBJECT

private slots:
    void init();
    void iniLoadRules_data();
    void iniLoadRules();
    void mapKeepsKnownTablesInCatalogueOrder_data();
    void mapKeepsKnownTablesInCatalogueOrder();
    void displayNamesMatchThroughNormalisation_data();
    void displayNamesMatchThroughNormalisation();
    void laterOfTwoMatchingSectionsDecides_data();
    void laterOfTwoMatchingSectionsDecides();
    void correctionFallback_data();
    void correctionFallback();
    void exportWithNothingKnownGivesEmptyList();

private:
    QString Write(const QString& Text, TFileForm Form = TFileForm::Cp1251CrLf) {
        return WriteFixture(dir_.path(), QStringLiteral("map.ini"), Encode(Text, Form));
    }
    QTemporaryDir dir_;
};

void TestIniImport::init() {
    QVERIFY(dir_.isValid());
}

void TestIniImport::iniLoadRules_data() {
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<QVariantMap>("expect");

    const QChar comma = u',';
    const QChar point = u'.';
    using M = QVariantMap;
    QTest::newRow("base section") << comma << QStringList{} << true
                                  << M{{"Name", EntryName(16)}, {"Id", 61},
                                       {"IdMox", "1A2B3C4D"},   {"ByteAdress", 7936},
                                       {"ByteLength", 16},      {"TypeTable", 2},
                                       {"TypeTaring", 0},       {"ValueStep", 1.0},
                                       {"ValueDivision", 1.0},  {"CoefRevMyl", 0.0},
                                       {"ValueOffset", 0.0}};
    QTest::newRow("quotes removed from the name, underscores kept")
        << comma << QStringList{"Name=Фаза_\"впрыска\" x"} << true << M{{"Name", "Фаза_впрыска x"}};

    // Decimal rule: either mark, under either separator; quotes dropped; nothing else.
    QTest::newRow("point under comma")
        << comma << QStringList{"F_MulMul=0.5"} << true << M{{"ValueStep", 0.5}};
    QTest::newRow("comma under point")
        << point << QStringList{"F_MulMul=0,5"} << true << M{{"ValueStep", 0.5}};
    QTest::newRow("inner quotes") << comma << QStringList{"F_DivDiv=\"0,\"25"} << true
                                  << M{{"ValueDivision", 0.25}};
    QTest::newRow("doubled quotes")
        << point << QStringList{"F_RevDiv=\"\"-1.5E-3\"\""} << true << M{{"CoefRevMyl", -0.0015}};
    QTest::newRow("thousands mark") << point << QStringList{"F_RevDiv=1,000.5"} << false << M{};
    QTest::newRow("word") << comma << QStringList{"F_MulMul=abc"} << false << M{};
    QTest::newRow("empty factor") << comma << QStringList{"F_DivDiv="} << false << M{};
    QTest::newRow("first offset wins")
        << comma << QStringList{"F_Sub1st=5", "F_Sub2nd=7"} << true << M{{"ValueOffset", 5.0}};
    QTest::newRow("second offset alone")
        << comma << QStringList{"F_Sub2nd=7"} << true << M{{"ValueOffset", 7.0}};
    QTest::newRow("second offset not looked at")
        << comma << QStringList{"F_Sub1st=5", "F_Sub2nd=abc"} << true << M{{"ValueOffset", 5.0}};
    QTest::newRow("bad first offset")
        << comma << QStringList{"F_Sub1st=abc", "F_Sub2nd=7"} << false << M{};

    // Taring rule.
    QTest::newRow("0x keeps the low byte")
        << comma << QStringList{"Format=0x1FF"} << true << M{{"TypeTaring", 255}};
    QTest::newRow("0x all ones") << comma << QStringList{"Format=0xFFFFFFFF"} << true
                                 << M{{"TypeTaring", 255}};
    QTest::newRow("decimal kept whole")
        << comma << QStringList{"Format=511"} << true << M{{"TypeTaring", 511}};
    QTest::newRow("negative") << comma << QStringList{"Format=-3"} << true << M{{"TypeTaring", -3}};
    QTest::newRow("0X prefix") << comma << QStringList{"Format=0X1F"} << true
                               << M{{"TypeTaring", 31}};
    QTest::newRow("$ prefix") << comma << QStringList{"Format=$1FF"} << true
                              << M{{"TypeTaring", 511}};
    QTest::newRow("0x alone") << comma << QStringList{"Format=0x"} << false << M{};
    QTest::newRow("word taring") << comma << QStringList{"Format=abc"} << false << M{};
    QTest::newRow("empty taring") << comma << QStringList{"Format="} << false << M{};

    // Cell counts.
    QTest::newRow("3D") << comma << QStringList{"Type=3D", "PixelY=8"} << true
                        << M{{"TypeTable", 3}, {"ByteLength", 128}};
    QTest::newRow("3D without PixelY")
        << comma << QStringList{"Type=3D"} << true << M{{"ByteLength", 16}};
    QTest::newRow("3D without PixelX")
        << comma << QStringList{"Type=3D", "-PixelX", "PixelY=8"} << false << M{};
    QTest::newRow("2D ignores PixelY")
        << comma << QStringList{"PixelY=8"} << true << M{{"ByteLength", 16}};
    QTest::newRow("1D ignores both") << comma << QStringList{"Type=1D", "PixelY=8"} << true
                                     << M{{"TypeTable", 1}, {"ByteLength", 1}};
    QTest::newRow("1D without PixelX")
        << comma << QStringList{"Type=1D", "-PixelX"} << true << M{{"ByteLength", 1}};
    QTest::newRow("hex PixelX") << comma << QStringList{"PixelX=0x10"} << true
                                << M{{"ByteLength", 16}};
    QTest::newRow("negative count")
        << comma << QStringList{"PixelX=-4"} << true << M{{"ByteLength", -4}};
    QTest::newRow("PixelX word") << comma << QStringList{"PixelX=abc"} << false << M{};
    QTest::newRow("2D without PixelX") << comma << QStringList{"-PixelX"} << false << M{};
    QTest::newRow("product wraps to the sign bit")
        << comma << QStringList{"Type=3D", "PixelX=65536", "PixelY=32768"} << true
        << M{{"ByteLength", int(0x80000000u)}};
    QTest::newRow("product wraps to zero")
        << comma << QStringList{"Type=3D", "PixelX=65536", "PixelY=65536"} << false << M{};

    // Identifier and address.
    QTest::newRow("Offset00 two characters")
        << comma << QStringList{"Offset00=0x"} << true << M{{"IdMox", ""}};
    QTest::newRow("Offset00 any two dropped")
        << comma << QStringList{"Offset00=ab12"} << true << M{{"IdMox", "12"}};
    QTest::newRow("Addr without prefix")
        << comma << QStringList{"Addr=7936"} << true << M{{"ByteAdress", 0}};
    QTest::newRow("Addr capital X")
        << comma << QStringList{"Addr=0X1F00"} << true << M{{"ByteAdress", 0}};

    // Needed keys.
    QTest::newRow("no Name") << comma << QStringList{"-Name"} << false << M{};
    QTest::newRow("no Offset00") << comma << QStringList{"-Offset00"} << false << M{};
    QTest::newRow("no Addr") << comma << QStringList{"-Addr"} << false << M{};
    QTest::newRow("no Type") << comma << QStringList{"-Type"} << false << M{};
    QTest::newRow("Type small d") << comma << QStringList{"Type=2d"} << false << M{};
    QTest::newRow("Type 4D") << comma << QStringList{"Type=4D"} << false << M{};
}

void TestIniImport::iniLoadRules() {
    QFETCH(QChar, separator);
    QFETCH(QStringList, changes);
    QFETCH(bool, loads);
    QFETCH(QVariantMap, expect);

    const SeparatorGuard guard(separator);
    const TIniFile ini(Write(Section("T1", EntryName(16), changes)));
    TCalibration c;
    QCOMPARE(c.IniLoad(ini, 61, "T1"), loads);
    QCOMPARE(c.IsLoaded, loads);
    for (auto it = expect.cbegin(); it != expect.cend(); ++it)
        QCOMPARE(Field(c, it.key()), it.value());
}

// Known tables in reverse catalogue order, unknown and near-miss tables between them, Cyrillic
// section headers: the known ones come back in catalogue order with the catalogue's Ids and
// their display names, whatever the file's encoding.
void TestIniImport::mapKeepsKnownTablesInCatalogueOrder_data() {
    QTest::addColumn<TFileForm>("form");
    QTest::newRow("Windows-1251, CRLF") << TFileForm::Cp1251CrLf;
    QTest::newRow("UTF-8, CRLF") << TFileForm::Utf8CrLf;
    QTest::newRow("UTF-8 with BOM, LF") << TFileForm::Utf8BomLf;
}

void TestIniImport::mapKeepsKnownTablesInCatalogueOrder() {
    QFETCH(TFileForm, form);
    const SeparatorGuard guard(u',');
    const QString text = Section("Таблица 1", EntryName(20), {"Type=1D", "F_MulMul=0.5"}) +
                         Section("Таблица 2", "Шаг_квантования_GBC_2") + // near miss
                         Section("Таблица 3", "Фаза впрыска", {"Addr=0x2000"}) +
                         Section("Таблица 4", "Обороты холостого хода") +
                         Section("Таблица 5", EntryName(6), {"Type=3D", "PixelY=12"}) +
                         Section("Таблица 6", "\"" + EntryName(1) + "\"", {"Offset00=0x00000001"});
    const TIniFile ini(Write(text, form));
    const TCalibrationList list = ReadIniMap(ini);

    QCOMPARE(Names(list), (QStringList{EntryName(1), EntryName(6), "Фаза впрыска", EntryName(20)}));
    QCOMPARE(Ids(list), (QList<int>{1, 112, 61, 102}));
    QCOMPARE(list[0].IdMox, QStringLiteral("00000001"));
    QCOMPARE(list[1].ByteLength, 16 * 12);
    QCOMPARE(list[2].ByteAdress, 0x2000);
    QCOMPARE(list[3].ValueStep, 0.5);
    QCOMPARE(list[3].ByteLength, 1);
    for (const auto& c : list.Items)
        QVERIFY(c->IsLoaded);
}

void TestIniImport::displayNamesMatchThroughNormalisation_data() {
    QTest::addColumn<QString>("displayName");
    QTest::addColumn<bool>("matches");
    QTest::newRow("underscores") << "Базовое_цикловое_наполнение" << true;
    QTest::newRow("spaces") << "Базовое цикловое наполнение" << true;
    QTest::newRow("extra spaces and underscores") << "  Базовое   цикловое__наполнение_ " << true;
    QTest::newRow("other punctuation") << "Базовое-цикловое.наполнение!" << true;
    QTest::newRow("quotes inside") << "Базовое \"цикловое\" наполнение" << true;
    // The quote counts as a space for the match, and the name keeps neither.
    QTest::newRow("a quote for a space") << "Базовое\"цикловое наполнение" << true;
    QTest::newRow("first letter small") << "базовое цикловое наполнение" << false;
    QTest::newRow("Latin e at the end") << "Базовое цикловое наполнениe" << false;
    QTest::newRow("word missing") << "Базовое наполнение" << false;
    QTest::newRow("longer name") << "Базовое цикловое наполнение 2" << false;
}

void TestIniImport::displayNamesMatchThroughNormalisation() {
    QFETCH(QString, displayName);
    QFETCH(bool, matches);
    const TIniFile ini(Write(Section("S", displayName)));
    const TCalibrationList list = ReadIniMap(ini);
    QCOMPARE(list.Count(), matches ? 1 : 0);
    if (matches) {
        QCOMPARE(list[0].Id, 1);
        // The profile engine trims the blanks around a value; the rest of it is kept.
        QCOMPARE(list[0].Name, QString(displayName).remove(u'"').trimmed());
    }
}

// Two sections whose names normalise to the injection phase: only the later one is tried. A
// later section that the Type or Name filter leaves out does not count.
void TestIniImport::laterOfTwoMatchingSectionsDecides_data() {
    QTest::addColumn<QStringList>("laterChanges");
    QTest::addColumn<int>("expectedAddress"); // -1: nothing loaded

    QTest::newRow("both load: the later") << QStringList{"Addr=0x2222"} << 0x2222;
    QTest::newRow("later fails: none") << QStringList{"-Addr"} << -1;
    QTest::newRow("later count zero: none") << QStringList{"PixelX=0"} << -1;
    QTest::newRow("later Type 4D is no table") << QStringList{"Type=4D"} << 0x1111;
    QTest::newRow("later Type 1d is no table") << QStringList{"Type=1d"} << 0x1111;
    QTest::newRow("later without Type is no table") << QStringList{"-Type"} << 0x1111;
}

void TestIniImport::laterOfTwoMatchingSectionsDecides() {
    QFETCH(QStringList, laterChanges);
    QFETCH(int, expectedAddress);
    const QString text = Section("A", "Фаза впрыска", {"Addr=0x1111"}) + Section("B", "Ничего") +
                         Section("C", "Фаза_впрыска", laterChanges) +
                         Section("D", "", {"Addr=0x3333"}); // empty name: no table
    const TIniFile ini(Write(text));
    const TCalibrationList list = ReadIniMap(ini);
    if (expectedAddress < 0) {
        QCOMPARE(list.Count(), 0);
        return;
    }
    QCOMPARE(list.Count(), 1);
    QCOMPARE(list[0].Id, 61);
    QCOMPARE(list[0].ByteAdress, expectedAddress);
}

// The three correction tables, through the file: the main one alone when it loads, the two
// variants (both Id 2, in catalogue order) when it is absent or fails.
void TestIniImport::correctionFallback_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("names");

    const QString variant4 = Section("V4", EntryName(4));
    const QString variant5 = Section("V5", EntryName(5));
    QTest::newRow("all three") << variant5 + Section("M", EntryName(3)) + variant4
                               << QStringList{EntryName(3)};
    QTest::newRow("variants only")
        << variant5 + variant4 << QStringList{EntryName(4), EntryName(5)};
    QTest::newRow("main one fails")
        << variant5 + Section("M", EntryName(3), {"F_MulMul=abc"}) + variant4
        << QStringList{EntryName(4), EntryName(5)};
}

void TestIniImport::correctionFallback() {
    QFETCH(QString, text);
    QFETCH(QStringList, names);
    const TIniFile ini(Write(text));
    const TCalibrationList list = ReadIniMap(ini);
    QCOMPARE(Names(list), names);
    for (const auto& c : list.Items)
        QCOMPARE(c->Id, 2);
}

void TestIniImport::exportWithNothingKnownGivesEmptyList() {
    const TIniFile ini(Write(Section("S1", "Обороты холостого хода") + "[Global]\nVersion=3\n\n" +
                             Section("S2", EntryName(1), {"Type=X"})));
    QCOMPARE(ReadIniMap(ini).Count(), 0);
    const TIniFile missing(dir_.filePath("absent.ini"));
    QCOMPARE(ReadIniMap(missing).Count(), 0);
}

QTEST_APPLESS_MAIN(TestIniImport)
#include "tst_iniimport.moc"

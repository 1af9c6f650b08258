#include "TestSupport.h"

#include "calibration/Exceptions.h"
#include "calibration/TextConv.h"
#include "mapfiles/Catalogue.h"
#include "mapfiles/XmlImport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

namespace {

enum class TXmlForm { Utf8, Utf8NoDeclaration, Cp1251, Utf16LE, Utf16BE };

const QString Root = QStringLiteral("BRELVAMONDIKA_by_Quilby_DM");

QString EntryName(int Entry) {
    return CalibrationCatalogue()[size_t(Entry - 1)].Name;
}

QString Element(const QString& Name, const QStringList& Attributes) {
    return u'<' + Name + u' ' + Attributes.join(u' ') + QStringLiteral("/>");
}

// Attributes of a complete 1D element.
const QStringList Full1D = {"graf=\"1D\"",      "Делитель_шага=\"2\"",
                            "Смещение=\"-40\"", "Шаг=\"0,5\"",
                            "ID=\"1A2B3C4D\"",  "Тип_тарировки=\"3\"",
                            "address=\"1F00\"", "Обратный_мультипликативный=\"0,25\""};

QStringList Full2D(const QString& X = "16") {
    return {"graf=\"2D\"",
            "Число_точек_по_оси_X=\"" + X + "\"",
            "Делитель_шага_по_Y=\"4\"",
            "Смещение_по_оси_Y=\"1,5\"",
            "Шаг_по_Y=\"0,125\"",
            "Тип_тарировки=\"0\"",
            "address=\"2A\""};
}

QStringList Without(QStringList Attributes, const QStringList& Names) {
    Attributes.removeIf([&](const QString& a) { return Names.contains(a.section(u'=', 0, 0)); });
    return Attributes;
}

QString Document(const QString& Body, const QString& Encoding = "UTF-8",
                 const QString& RootAttributes = QString()) {
    return "<?xml version=\"1.0\" encoding=\"" + Encoding + "\"?>\r\n<" + Root + RootAttributes +
           ">\r\n" + Body + "\r\n</" + Root + ">\r\n";
}

QByteArray Encode(const QString& Body, TXmlForm Form) {
    switch (Form) {
    case TXmlForm::Utf8:
        return Document(Body).toUtf8();
    case TXmlForm::Utf8NoDeclaration:
        return Document(Body).section(u'\n', 1).toUtf8();
    case TXmlForm::Cp1251:
        return Cp1251(Document(Body, "windows-1251"));
    case TXmlForm::Utf16LE:
        return "\xFF\xFE" +
               QStringEncoder(QStringConverter::Utf16LE).encode(Document(Body, "UTF-16"));
    case TXmlForm::Utf16BE:
        return "\xFE\xFF" +
               QStringEncoder(QStringConverter::Utf16BE).encode(Document(Body, "UTF-16"));
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

QString Missing(const QString& Attribute, int Entry) {
    return "Не могу определить " + Attribute + " (" + NormalizeName(EntryName(Entry)) + ")";
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The whole tree as text, with every attribute value, to look for what must not be there.
QString AllText(const QDomDocument& Doc) {
    return Doc.toString(-1);
}

} // namespace

Q_DECLARE_METATYPE(TXmlForm)

class TestXmlImport : public QObject {
    Q_OBJECT

private slots:
    void init();
    // Safety first, while the process is still small, so that memory growth shows.
    void entityExpansionIsBounded_data();
    void entityExpansionIsBounded();
    void externalEntitiesAreNotRead_data();
    void externalEntitiesAreNotRead();
    void deepNestingIsRefused();
    void moderateNestingStillLoads();
    void fileIsNotWritten();
    void unreadableFileIsAParseFailure();

    void parseErrorMessage_data();
    void parseErrorMessage();
    void mapInCatalogueOrder_data();
    void mapInCatalogueOrder();
    void elementRules_data();
    void elementRules();
    void conversionFailureEndsTheWalk_data();
    void conversionFailureEndsTheWalk();
    void nameLookupAndNamespaces_data();
    void nameLookupAndNamespaces();
    void missingRoot_data();
    void missingRoot();
    void firstOfTwoElementsIsRead();
    void correctionFallback_data();
    void correctionFallback();

private:
    QString Write(const QByteArray& Bytes, const QString& Name = "map.xml") {
        return WriteFixture(dir_.path(), Name, Bytes);
    }
    QTemporaryDir dir_;
};

void TestXmlImport::init() {
    QVERIFY(dir_.isValid());
}

void TestXmlImport::entityExpansionIsBounded_data() {
    QTest::addColumn<QByteArray>("bytes");

    // Ten levels of ten references each: 10^10 characters if expanded.
    QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol0 \"lol\">\n";
    for (int level = 1; level <= 10; ++level) {
        laughs += "<!ENTITY lol" + QByteArray::number(level) + " \"";
        for (int k = 0; k < 10; ++k)
            laughs += "&lol" + QByteArray::number(level - 1) + ";";
        laughs += "\">\n";
    }
    laughs += "]>\n";
    QTest::newRow("billion laughs in text") << laughs + "<lolz>&lol10;</lolz>";
    QTest::newRow("billion laughs in an attribute") << laughs + "<lolz a=\"&lol10;\"/>";

    // Each entity stays small, but a small file references one very often: 40 MB of text.
    QByteArray blowup = "<?xml version=\"1.0\"?>\n<!DOCTYPE R [\n<!ENTITY e \"" +
                        QByteArray(4000, 'x') + "\">\n]>\n<R>";
    for (int i = 0; i < 10000; ++i)
        blowup += "&e;";
    QTest::newRow("many references to one entity") << blowup + "</R>";
    QByteArray attributes = "<?xml version=\"1.0\"?>\n<!DOCTYPE R [\n<!ENTITY e \"" +
                            QByteArray(4000, 'x') + "\">\n]>\n<R>";
    for (int i = 0; i < 10000; ++i)
        attributes += "<a v=\"&e;\"/>";
    QTest::newRow("many attributes of one entity") << attributes + "</R>";
}

void TestXmlImport::entityExpansionIsBounded() {
    QFETCH(QByteArray, bytes);
    const QString path = Write(bytes);
    TXMLDocument doc;
    const long before = PeakRssKiB();
    QElapsedTimer timer;
    timer.start();
    QString message;
    try {
        doc.LoadFromFile(path);
    } catch (const Exception& e) {
        message = e.Message();
    }
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY2(PeakRssKiB() - before < 64 * 1024, "memory grew by more than 64 MiB");
    QVERIFY(message.contains("\r\nLine: "));
    QVERIFY(!doc.Active());
}

void TestXmlImport::externalEntitiesAreNotRead_data() {
    QTest::addColumn<QString>("secretFile"); // what must not reach the document
    QTest::addColumn<QString>("xml");        // %1: the secret file's URL

    const QString root =
        "<" + Root + "><" + EntryName(1) + " graf=\"4D\" Тип_тарировки=\"0\"" + " address=\"0\"/>";
    QTest::newRow("general entity to /etc/hostname")
        << "/etc/hostname"
        << "<!DOCTYPE " + Root + " [<!ENTITY h SYSTEM \"%1\">]>\n" + root + "&h;</" + Root + ">";
    QTest::newRow("general entity to a file of ours")
        << "secret"
        << "<!DOCTYPE " + Root + " [<!ENTITY h SYSTEM \"%1\">]>\n" + root + "&h;</" + Root + ">";
    QTest::newRow("parameter entity")
        << "secret.dtd"
        << "<!DOCTYPE " + Root + " [<!ENTITY % p SYSTEM \"%1\"> %p;]>\n" + root + "&s;</" + Root +
               ">";
    QTest::newRow("external DTD") << "secret.dtd"
                                  << "<!DOCTYPE " + Root + " SYSTEM \"%1\">\n" + root + "&s;</" +
                                         Root + ">";
    QTest::newRow("entity in an attribute")
        << "secret"
        << "<!DOCTYPE " + Root + " [<!ENTITY h SYSTEM \"%1\">]>\n<" + Root + "><" + EntryName(1) +
               " graf=\"&h;\" Тип_тарировки=\"0\" address=\"0\"/></" + Root + ">";
}

void TestXmlImport::externalEntitiesAreNotRead() {
    QFETCH(QString, secretFile);
    QFETCH(QString, xml);

    QString path = secretFile;
    QString secret;
    if (secretFile == "/etc/hostname") {
        secret = QString::fromUtf8(ReadBytes(path)).trimmed();
        if (secret.isEmpty())
            QSKIP("/etc/hostname is empty here");
    } else {
        secret = "SECRET-7f3a";
        const QByteArray content = secretFile.endsWith(".dtd")
                                       ? "<!ENTITY s \"" + secret.toLatin1() + "\">"
                                       : secret.toLatin1();
        path = Write(content, secretFile);
    }
    const QString source = xml.arg(QUrl::fromLocalFile(path).toString());
    if (source.contains(secret))
        QSKIP("the secret text already stands in the fixture");
    const QString file = Write(source.toUtf8());

    TXMLDocument doc;
    try {
        doc.LoadFromFile(file);
    } catch (const Exception& e) {
        QVERIFY(!e.Message().contains(secret));
        QVERIFY(!doc.Active());
        return; // refused outright: nothing was read in either
    }
    QVERIFY(doc.Active());
    QVERIFY(!AllText(doc.Document()).contains(secret));
    const MessageRecorder messages;
    const TCalibrationList list = ReadXmlMap(doc);
    for (const auto& c : list.Items)
        QVERIFY(!c->IdMox.contains(secret));
}

void TestXmlImport::deepNestingIsRefused() {
    const int depth = 100000;
    QByteArray bytes = "<" + Root.toUtf8() + ">";
    for (int i = 0; i < depth; ++i)
        bytes += "<a>";
    for (int i = 0; i < depth; ++i)
        bytes += "</a>";
    bytes += "</" + Root.toUtf8() + ">";
    const QString path = Write(bytes);

    TXMLDocument doc;
    QElapsedTimer timer;
    timer.start();
    QString message;
    try {
        doc.LoadFromFile(path);
    } catch (const Exception& e) {
        message = e.Message();
    }
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(message.contains("\r\nLine: 1\r\n"));
    QVERIFY(!doc.Active());
}

// A map buried in decoration a couple of hundred levels deep is still a map.
void TestXmlImport::moderateNestingStillLoads() {
    QString deep;
    for (int i = 0; i < 200; ++i)
        deep += "<a>";
    for (int i = 0; i < 200; ++i)
        deep += "</a>";
    const QString body = "<" + EntryName(1) + " graf=\"4D\" Тип_тарировки=\"0\" address=\"0\">" +
                         deep + "</" + EntryName(1) + ">";
    TXMLDocument doc;
    doc.LoadFromFile(Write(Encode(body, TXmlForm::Utf8)));
    const MessageRecorder messages;
    QCOMPARE(ReadXmlMap(doc).Count(), 1);
}

void TestXmlImport::fileIsNotWritten() {
    const QByteArray bytes = Encode(Element(EntryName(1), Full1D), TXmlForm::Cp1251);
    const QString path = Write(bytes);
    const QDateTime modified = QFileInfo(path).lastModified();
    {
        TXMLDocument doc;
        doc.LoadFromFile(path);
        const SeparatorGuard guard(u',');
        const MessageRecorder messages;
        QCOMPARE(ReadXmlMap(doc).Count(), 1);
        doc.Close();
    }
    QCOMPARE(ReadBytes(path), bytes);
    QCOMPARE(QFileInfo(path).lastModified(), modified);
}

void TestXmlImport::unreadableFileIsAParseFailure() {
    TXMLDocument doc;
    doc.LoadFromFile(Write(Encode(QString(), TXmlForm::Utf8)));
    QVERIFY(doc.Active());
    // A failed load leaves no document open, not even the one before.
    QVERIFY_THROWS_EXCEPTION(Exception, doc.LoadFromFile(dir_.filePath("absent.xml")));
    QVERIFY(!doc.Active());
    QVERIFY(doc.Document().documentElement().isNull());
    QVERIFY_THROWS_EXCEPTION(Exception, doc.LoadFromFile(dir_.path()));
    QVERIFY(!doc.Active());
}

void TestXmlImport::parseErrorMessage_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("excerpt");

    QTest::newRow("unquoted value")
        << QByteArray("<R>\r\n<x a=1 b=\"2\"/></R>") << 2 << "1 b=\"2\"/></R>";
    QTest::newRow("tag mismatch") << QByteArray("<R>\n  <x>\n  <y></x>\n</R>") << 3 << ">";
    const QString longLine = "<R><x a=\"" + QString(60, u'q') + "\" <b/></R>";
    QTest::newRow("cut at 40") << longLine.toUtf8() << 1 << "<b/></R>";
    QTest::newRow("Windows-1251 source")
        << Cp1251("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<R>\r\n<Фаза Шаг=1 "
                  "Смещение=\"2\"/>\r\n</R>")
        << 3 << "1 Смещение=\"2\"/>";
    QTest::newRow("UTF-16 source")
        << "\xFF\xFE" + QStringEncoder(QStringConverter::Utf16LE)
                            .encode(QStringLiteral("<R>\r\n\r\n<Фаза & Шаг/></R>"))
        << 3 << "& Шаг/></R>";
    QTest::newRow("unknown encoding")
        << QByteArray("<?xml version=\"1.0\" encoding=\"no-such-encoding\"?><R/>") << 1 << "><R/>";
    QTest::newRow("empty file") << QByteArray() << 1 << "";
    QTest::newRow("text after the root") << QByteArray("<R/>\n\nrest") << 3 << "rest";
}

void TestXmlImport::parseErrorMessage() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, line);
    QFETCH(QString, excerpt);

    TXMLDocument doc;
    try {
        doc.LoadFromFile(Write(bytes));
        QFAIL("parsed");
    } catch (const Exception& e) {
        static const QRegularExpression format(
            QStringLiteral("^([^\r\n]+)\r\nLine: (-?\\d+)\r\n([^\r\n]*)$"));
        const QRegularExpressionMatch m = format.match(e.Message());
        QVERIFY2(m.hasMatch(), qPrintable(e.Message()));
        QCOMPARE(m.captured(2).toInt(), line);
        if (excerpt.size() < 40)
            QCOMPARE(m.captured(3), excerpt.left(40));
        else
            QCOMPARE(m.captured(3).size(), 40);
    }
    QVERIFY(!doc.Active());
}

// Catalogue elements in reverse order, with unknown elements, comments, text and nested elements
// between them: the known ones come back in catalogue order, in every encoding.
void TestXmlImport::mapInCatalogueOrder_data() {
    QTest::addColumn<TXmlForm>("form");
    QTest::newRow("UTF-8") << TXmlForm::Utf8;
    QTest::newRow("UTF-8 without declaration") << TXmlForm::Utf8NoDeclaration;
    QTest::newRow("Windows-1251") << TXmlForm::Cp1251;
    QTest::newRow("UTF-16LE") << TXmlForm::Utf16LE;
    QTest::newRow("UTF-16BE") << TXmlForm::Utf16BE;
}

void TestXmlImport::mapInCatalogueOrder() {
    QFETCH(TXmlForm, form);
    const SeparatorGuard guard(u',');
    QStringList full3D = Full2D();
    full3D << "Число_графиков_по_оси_Z=\"8\"";
    full3D.replace(0, "graf=\"3D\"");
    const QString body = Element(EntryName(20), full3D) + "\r\n<!-- " + EntryName(16) + " -->\r\n" +
                         Element("Обороты_холостого_хода", Full1D) + "\r\n" + "<Группа>" +
                         Element(EntryName(6), Full1D) + "</Группа>\r\n" + "текст\r\n" +
                         Element(EntryName(16), Full2D()) + "\r\n" + Element(EntryName(1), Full1D);
    const QString path = Write(Encode(body, form));

    TXMLDocument doc;
    doc.LoadFromFile(path);
    const MessageRecorder messages;
    const TCalibrationList list = ReadXmlMap(doc);
    QCOMPARE(messages.Messages, QStringList());
    QCOMPARE(Names(list), (QStringList{"Базовое цикловое наполнение", "Фаза впрыска",
                                       "Температура выключения вентилятора"}));
    QCOMPARE(Ids(list), (QList<int>{1, 61, 102}));

    const TCalibration& c1 = list[0];
    QCOMPARE(c1.TypeTable, 1);
    QCOMPARE(c1.ByteLength, 1);
    QCOMPARE(c1.ValueDivision, 2.0);
    QCOMPARE(c1.ValueOffset, -40.0);
    QCOMPARE(c1.ValueStep, 0.5);
    QCOMPARE(c1.IdMox, QStringLiteral("4D3C2B1A"));
    QCOMPARE(c1.TypeTaring, 3);
    QCOMPARE(c1.ByteAdress, 0x1F00);
    QCOMPARE(c1.CoefRevMyl, 0.25);
    QVERIFY(c1.IsLoaded);

    const TCalibration& c2 = list[1];
    QCOMPARE(c2.TypeTable, 2);
    QCOMPARE(c2.ByteLength, 16);
    QCOMPARE(c2.ValueDivision, 4.0);
    QCOMPARE(c2.ValueOffset, 1.5);
    QCOMPARE(c2.ValueStep, 0.125);
    QCOMPARE(c2.IdMox, QStringLiteral("00000000"));
    QCOMPARE(c2.ByteAdress, 0x2A);
    QCOMPARE(c2.CoefRevMyl, 0.0);

    QCOMPARE(list[2].TypeTable, 3);
    QCOMPARE(list[2].ByteLength, 128);
}

// One element of catalogue entry 1: what it loads, and the one message it shows when it lacks a
// required attribute (the first in reading order).
void TestXmlImport::elementRules_data() {
    QTest::addColumn<QStringList>("attributes");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<QString>("message"); // empty: none
    QTest::addColumn<QVariantMap>("expect");
    using M = QVariantMap;

    QTest::newRow("no graf") << Without(Full1D, {"graf"}) << false << Missing("graf", 1) << M{};
    QTest::newRow("1D lacks offset and step")
        << Without(Full1D, {"Смещение", "Шаг"}) << false << Missing("Смещение", 1) << M{};
    QTest::newRow("1D lacks divisor")
        << Without(Full1D, {"Делитель_шага"}) << false << Missing("Делитель_шага", 1) << M{};
    QTest::newRow("2D lacks X") << Without(Full2D(), {"Число_точек_по_оси_X"}) << false
                                << Missing("Число_точек_по_оси_X", 1) << M{};
    QStringList no3DZ = Full2D();
    no3DZ.replace(0, "graf=\"3D\"");
    QTest::newRow("3D lacks Z") << no3DZ << false << Missing("Число_графиков_по_оси_Z", 1) << M{};
    QTest::newRow("2D lacks step")
        << Without(Full2D(), {"Шаг_по_Y", "address"}) << false << Missing("Шаг_по_Y", 1) << M{};
    QTest::newRow("no taring") << Without(Full1D, {"Тип_тарировки", "address"}) << false
                               << Missing("Тип_тарировки", 1) << M{};
    QTest::newRow("no address") << Without(Full1D, {"address"}) << false << Missing("address", 1)
                                << M{};
    QTest::newRow("optional ones absent")
        << Without(Full1D, {"ID", "Обратный_мультипликативный"}) << true << ""
        << M{{"IdMox", "00000000"},
             {"CoefRevMyl", 0.0},
             {"Name", "Базовое цикловое наполнение"},
             {"Id", 1}};

    const QStringList bare = {"Тип_тарировки=\"7\"", "address=\"10\""};
    for (const char* graf : {"2d", "4D", ""})
        QTest::newRow(qPrintable(QStringLiteral("graf '%1' reads no type").arg(graf)))
            << (QStringList{QStringLiteral("graf=\"%1\"").arg(graf)} + bare) << true << ""
            << M{{"TypeTable", 0},     {"ByteLength", 0},      {"ValueStep", 1.0},
                 {"ValueOffset", 0.0}, {"ValueDivision", 1.0}, {"TypeTaring", 7},
                 {"ByteAdress", 16}};
    QTest::newRow("1D ignores X") << (Full1D + QStringList{"Число_точек_по_оси_X=\"16\""}) << true
                                  << "" << M{{"ByteLength", 1}};
    QStringList wraps = Full2D("65536");
    wraps.replace(0, "graf=\"3D\"");
    wraps << "Число_графиков_по_оси_Z=\"32768\"";
    QTest::newRow("3D product wraps") << wraps << true << "" << M{{"ByteLength", int(0x80000000u)}};
    QTest::newRow("hex integer text") << Full2D("$10") << true << "" << M{{"ByteLength", 16}};
    QTest::newRow("address not hexadecimal") << (Without(Full1D, {"address"}) << "address=\"0x1F\"")
                                             << true << "" << M{{"ByteAdress", 0}};
    QTest::newRow("address all ones") << (Without(Full1D, {"address"}) << "address=\"FFFFFFFF\"")
                                      << true << "" << M{{"ByteAdress", -1}};

    // Byte-order reversal of the identifier.
    const QList<QPair<QString, QString>> ids = {{"1A2B3C4D", "4D3C2B1A"},
                                                {"00000000", "00000000"},
                                                {"ABCDEF", "EFCDAB"},
                                                {"ABCDEFG", "GEFCDAB"},
                                                {"123456789A", "78563412"},
                                                {"", ""},
                                                {"AB", "AB"}};
    for (const auto& [from, to] : ids)
        QTest::newRow(qPrintable("ID " + from))
            << (Without(Full1D, {"ID"}) << "ID=\"" + from + "\"") << true << "" << M{{"IdMox", to}};

    // Prefixed attributes: present, but only an unprefixed name gives a value.
    QTest::newRow("prefixed graf only reads empty")
        << (QStringList{"p:graf=\"1D\""} + bare) << true << "" << M{{"TypeTable", 0}};
    QTest::newRow("prefixed and plain: the plain value")
        << (Full1D + QStringList{"p:graf=\"3D\""}) << true << "" << M{{"TypeTable", 1}};
    QTest::newRow("prefixed address reads empty")
        << (Without(Full1D, {"address"}) << "q:address=\"1F\"") << true << ""
        << M{{"ByteAdress", 0}};
    QTest::newRow("prefixed taring reads empty: no integer")
        << QStringList{"graf=\"4D\"", "p:Тип_тарировки=\"3\"", "address=\"1\""} << false
        << "''' is not a valid integer value" << M{};
}

void TestXmlImport::elementRules() {
    QFETCH(QStringList, attributes);
    QFETCH(bool, loads);
    QFETCH(QString, message);
    QFETCH(QVariantMap, expect);

    const SeparatorGuard guard(u',');
    const QString xml = Document(Element(EntryName(1), attributes), "UTF-8",
                                 " xmlns:p=\"urn:p\" xmlns:q=\"urn:Q\"");
    TXMLDocument doc;
    doc.LoadFromFile(Write(xml.toUtf8()));
    const MessageRecorder messages;
    if (message.endsWith("is not a valid integer value")) {
        try {
            ReadXmlMap(doc);
            QFAIL("no conversion error");
        } catch (const EConvertError& e) {
            QCOMPARE(e.Message(), "'" + message);
        }
        return;
    }
    const TCalibrationList list = ReadXmlMap(doc);
    QCOMPARE(list.Count(), loads ? 1 : 0);
    QCOMPARE(messages.Messages, message.isEmpty() ? QStringList() : QStringList{message});
    if (!loads)
        return;
    for (auto it = expect.cbegin(); it != expect.cend(); ++it)
        QCOMPARE(Field(list[0], it.key()), it.value());
}

// A value that does not convert ends the whole walk: no list comes back, and the messages shown
// before it stay shown.
void TestXmlImport::conversionFailureEndsTheWalk_data() {
    QTest::addColumn<QString>("attribute");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("error");

    QTest::newRow("taring word") << "Тип_тарировки"
                                 << "abc"
                                 << "''abc'' is not a valid integer value";
    QTest::newRow("taring empty") << "Тип_тарировки"
                                  << ""
                                  << "'''' is not a valid integer value";
    QTest::newRow("point under comma") << "Шаг"
                                       << "0.5"
                                       << "'0.5' is not a valid floating point value";
    QTest::newRow("reverse coefficient") << "Обратный_мультипликативный"
                                         << "1 000"
                                         << "'1 000' is not a valid floating point value";
}

void TestXmlImport::conversionFailureEndsTheWalk() {
    QFETCH(QString, attribute);
    QFETCH(QString, value);
    QFETCH(QString, error);

    const SeparatorGuard guard(u',');
    const QString bad =
        Element(EntryName(16), Without(Full1D, {attribute}) << attribute + "=\"" + value + "\"");
    const QString body = Element(EntryName(1), Full1D) +
                         Element(EntryName(2), Without(Full1D, {"graf"})) + bad +
                         Element(EntryName(20), Full1D);
    TXMLDocument doc;
    doc.LoadFromFile(Write(Encode(body, TXmlForm::Utf8)));
    const MessageRecorder messages;
    try {
        ReadXmlMap(doc);
        QFAIL("no conversion error");
    } catch (const EConvertError& e) {
        QCOMPARE(e.Message(), error);
    }
    QCOMPARE(messages.Messages, QStringList{Missing("graf", 2)});
}

// Elements are found by full name or local name, and inside a namespace only in that namespace.
void TestXmlImport::nameLookupAndNamespaces_data() {
    QTest::addColumn<QString>("xml");
    QTest::addColumn<int>("loaded");

    const QString e1 = EntryName(1);
    const QString attrs = " graf=\"4D\" Тип_тарировки=\"0\" address=\"0\"/>";
    QTest::newRow("default namespace inherited")
        << "<" + Root + " xmlns=\"urn:map\"><" + e1 + attrs + "</" + Root + ">" << 1;
    QTest::newRow("namespace differs in letter case only")
        << "<" + Root + " xmlns=\"urn:Map\"><" + e1 + " xmlns=\"URN:mAP\"" + attrs + "</" + Root +
               ">"
        << 1;
    QTest::newRow("child in another namespace")
        << "<" + Root + " xmlns=\"urn:map\"><o:" + e1 + " xmlns:o=\"urn:other\"" + attrs + "</" +
               Root + ">"
        << 0;
    QTest::newRow("child outside the root's namespace")
        << "<" + Root + " xmlns=\"urn:map\"><" + e1 + " xmlns=\"\"" + attrs + "</" + Root + ">"
        << 0;
    QTest::newRow("prefixed root and child, one namespace")
        << "<m:" + Root + " xmlns:m=\"urn:map\"><m:" + e1 + attrs + "</m:" + Root + ">" << 1;
    QTest::newRow("root outside any namespace takes any child")
        << "<" + Root + "><o:" + e1 + " xmlns:o=\"urn:other\"" + attrs + "</" + Root + ">" << 1;
    QTest::newRow("name differs in letter case")
        << "<" + Root + "><" + e1.toLower() + attrs + "</" + Root + ">" << 0;
}

void TestXmlImport::nameLookupAndNamespaces() {
    QFETCH(QString, xml);
    QFETCH(int, loaded);
    TXMLDocument doc;
    doc.LoadFromFile(Write(xml.toUtf8()));
    const MessageRecorder messages;
    QCOMPARE(ReadXmlMap(doc).Count(), loaded);
    QCOMPARE(messages.Messages, QStringList());
}

void TestXmlImport::missingRoot_data() {
    QTest::addColumn<QString>("xml");
    QTest::addColumn<QString>("message");

    const QString child = Element(EntryName(1), Full1D);
    QTest::newRow("root in other letter case")
        << "<brelvamondika_by_quilby_dm>" + child + "</brelvamondika_by_quilby_dm>"
        << "Не найден корень XML";
    QTest::newRow("root one level down") << "<Map><" + Root + ">" + child + "</" + Root + "></Map>"
                                         << "Не найден корень XML";
    QTest::newRow("empty root") << "<" + Root + "><Другое/>текст</" + Root + ">"
                                << "";
}

void TestXmlImport::missingRoot() {
    QFETCH(QString, xml);
    QFETCH(QString, message);
    TXMLDocument doc;
    doc.LoadFromFile(Write(xml.toUtf8()));
    const MessageRecorder messages;
    QCOMPARE(ReadXmlMap(doc).Count(), 0);
    QCOMPARE(messages.Messages, message.isEmpty() ? QStringList() : QStringList{message});
}

void TestXmlImport::firstOfTwoElementsIsRead() {
    const SeparatorGuard guard(u',');
    QStringList second = Without(Full1D, {"address"}) << "address=\"2222\"";
    {
        TXMLDocument doc;
        doc.LoadFromFile(
            Write(Encode(Element(EntryName(1), Without(Full1D, {"address"}) << "address=\"1111\"") +
                             Element(EntryName(1), second),
                         TXmlForm::Utf8)));
        const MessageRecorder messages;
        const TCalibrationList list = ReadXmlMap(doc);
        QCOMPARE(list.Count(), 1);
        QCOMPARE(list[0].ByteAdress, 0x1111);
    }
    // The first one fails: the second is not tried.
    TXMLDocument doc;
    doc.LoadFromFile(Write(
        Encode(Element(EntryName(1), Without(Full1D, {"graf"})) + Element(EntryName(1), second),
               TXmlForm::Utf8)));
    const MessageRecorder messages;
    QCOMPARE(ReadXmlMap(doc).Count(), 0);
    QCOMPARE(messages.Messages, QStringList{Missing("graf", 1)});
}

void TestXmlImport::correctionFallback_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("messages");

    const QString v4 = Element(EntryName(4), Full1D);
    const QString v5 = Element(EntryName(5), Full1D);
    QTest::newRow("all three") << v5 + v4 + Element(EntryName(3), Full1D)
                               << QStringList{NormalizeName(EntryName(3))} << QStringList{};
    QTest::newRow("main one lacks an attribute")
        << v5 + v4 + Element(EntryName(3), Without(Full1D, {"Шаг"}))
        << QStringList{NormalizeName(EntryName(4)), NormalizeName(EntryName(5))}
        << QStringList{Missing("Шаг", 3)};
    QTest::newRow("variants only")
        << v5 + v4 << QStringList{NormalizeName(EntryName(4)), NormalizeName(EntryName(5))}
        << QStringList{};
}

void TestXmlImport::correctionFallback() {
    QFETCH(QString, body);
    QFETCH(QStringList, names);
    QFETCH(QStringList, messages);
    const SeparatorGuard guard(u',');
    TXMLDocument doc;
    doc.LoadFromFile(Write(Encode(body, TXmlForm::Cp1251)));
    const MessageRecorder recorder;
    const TCalibrationList list = ReadXmlMap(doc);
    QCOMPARE(Names(list), names);
    for (const auto& c : list.Items)
        QCOMPARE(c->Id, 2);
    QCOMPARE(recorder.Messages, messages);
}

QTEST_APPLESS_MAIN(TestXmlImport)
#include "tst_xmlimport.moc"

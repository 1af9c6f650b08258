#include "TestSupport.h"

#include "calibration/Exceptions.h"
#include "calibration/TextConv.h"
#include "calibration/UFuncHex.h"

#include <QTest>
#include <cmath>
#include <limits>

class TestTextConv : public QObject {
    Q_OBJECT

private slots:
    void intToStr_data();
    void intToStr();
    void readInteger_data();
    void readInteger();
    void strToIntRaisesWithText();
    void floatToStr_data();
    void floatToStr();
    void floatToStrPoint();
    void readFloat_data();
    void readFloat();
    void strToFloatRaisesWithText();
    void tryStrToFloatKeepsTargetOnFailure();
    void floatRoundTripsAt15Digits();
    void anyMark_data();
    void anyMark();
    void hexToInt_data();
    void hexToInt();
    void prefixedHexToInt_data();
    void prefixedHexToInt();
    void normalizeName_data();
    void normalizeName();
    void normalizeNameKeepsAllowedCharacters();
    void extractMapName_data();
    void extractMapName();
    void extractFilePath();
    void appFolderEndsInSeparator();
};

void TestTextConv::intToStr_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0 << "0";
    QTest::newRow("positive") << 1234 << "1234";
    QTest::newRow("negative") << -17 << "-17";
    QTest::newRow("min") << std::numeric_limits<int>::min() << "-2147483648";
    QTest::newRow("max") << std::numeric_limits<int>::max() << "2147483647";
}

void TestTextConv::intToStr() {
    QFETCH(int, value);
    QFETCH(QString, text);
    QCOMPARE(IntToStr(value), text);
}

void TestTextConv::readInteger_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "12" << true << 12;
    QTest::newRow("leading blanks") << "  12" << true << 12;
    QTest::newRow("plus") << "+12" << true << 12;
    QTest::newRow("leading zero") << "012" << true << 12;
    QTest::newRow("dollar") << "$1F" << true << 31;
    QTest::newRow("x") << "x1F" << true << 31;
    QTest::newRow("X") << "X1f" << true << 31;
    QTest::newRow("0x") << "0x1F" << true << 31;
    QTest::newRow("0X") << "0X1F" << true << 31;
    QTest::newRow("eight F") << "$FFFFFFFF" << true << -1;
    QTest::newRow("hex leading zeros") << "$000000000001" << true << 1;
    QTest::newRow("minus hex") << "-$10" << true << -16;
    QTest::newRow("min") << "-2147483648" << true << std::numeric_limits<int>::min();
    QTest::newRow("max") << "2147483647" << true << std::numeric_limits<int>::max();
    QTest::newRow("max plus one") << "2147483648" << false << 0;
    QTest::newRow("min minus one") << "-2147483649" << false << 0;
    QTest::newRow("nine hex digits") << "$1FFFFFFFF" << false << 0;
    QTest::newRow("trailing blank") << "12 " << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blank only") << "  " << false << 0;
    QTest::newRow("sign alone") << "-" << false << 0;
    QTest::newRow("prefix alone") << "$" << false << 0;
    QTest::newRow("0x alone") << "0x" << false << 0;
    QTest::newRow("decimal mark") << "1.5" << false << 0;
    QTest::newRow("decimal comma") << "1,5" << false << 0;
    QTest::newRow("blank after sign") << "- 5" << false << 0;
    QTest::newRow("tab before") << "\t5" << false << 0;
    QTest::newRow("hex letter in decimal") << "1F" << false << 0;
    QTest::newRow("huge") << "99999999999999999999999" << false << 0;
}

void TestTextConv::readInteger() {
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    int got = 777;
    QCOMPARE(TryStrToInt(text, got), ok);
    QCOMPARE(StrToIntDef(text, -99), ok ? value : -99);
    if (ok) {
        QCOMPARE(got, value);
        QCOMPARE(StrToInt(text), value);
    } else {
        QVERIFY_THROWS_EXCEPTION(EConvertError, StrToInt(text));
    }
}

void TestTextConv::strToIntRaisesWithText() {
    try {
        StrToInt(QStringLiteral("abc"));
        QFAIL("no error raised");
    } catch (const EConvertError& e) {
        QCOMPARE(e.Message(), QStringLiteral("''abc'' is not a valid integer value"));
    }
}

void TestTextConv::floatToStr_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("half") << 0.5 << "0,5";
    QTest::newRow("one") << 1.0 << "1";
    QTest::newRow("minus two and a half") << -2.5 << "-2,5";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("1e-4") << 0.0001 << "0,0001";
    QTest::newRow("1e-5") << 0.00001 << "1E-5";
    QTest::newRow("1.5e-7") << 0.00000015 << "1,5E-7";
    QTest::newRow("1e15") << 1e15 << "1E15";
    QTest::newRow("fifteen nines") << 999999999999999.0 << "999999999999999";
    QTest::newRow("one third") << 1.0 / 3 << "0,333333333333333";
    QTest::newRow("two thirds") << 2.0 / 3 << "0,666666666666667";
    QTest::newRow("0.1 + 0.2") << 0.1 + 0.2 << "0,3";
    QTest::newRow("big with digits") << 123456.789 << "123456,789";
    QTest::newRow("whole number") << 1000.0 << "1000";
    QTest::newRow("rounds to 1e15") << 999999999999999.9 << "1E15";
    QTest::newRow("sixteen digits") << 1234567890123456.0 << "1,23456789012346E15";
    QTest::newRow("large") << 1e300 << "1E300";
    QTest::newRow("small") << -2.5e-300 << "-2,5E-300";
    QTest::newRow("denormal") << 4.9406564584124654e-324 << "4,94065645841247E-324";
    QTest::newRow("max") << std::numeric_limits<double>::max() << "1,79769313486232E308";
    QTest::newRow("0.001") << 0.001 << "0,001";
    QTest::newRow("carry into new digit") << 0.99999999999999989 << "1";
}

void TestTextConv::floatToStr() {
    QFETCH(double, value);
    QFETCH(QString, text);
    SeparatorGuard comma(u',');
    QCOMPARE(FloatToStr(value), text);
}

void TestTextConv::floatToStrPoint() {
    SeparatorGuard point(u'.');
    QCOMPARE(FloatToStr(-2.5), QStringLiteral("-2.5"));
    QCOMPARE(FloatToStr(1.5e-7), QStringLiteral("1.5E-7"));
}

void TestTextConv::readFloat_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("value");
    QTest::newRow("half") << "0,5" << true << 0.5;
    QTest::newRow("blanks around") << " 0,5 " << true << 0.5;
    QTest::newRow("exponent") << "5E-1" << true << 0.5;
    QTest::newRow("small e") << "1e3" << true << 1000.0;
    QTest::newRow("separator alone") << "," << true << 0.0;
    QTest::newRow("trailing separator") << "1," << true << 1.0;
    QTest::newRow("leading separator") << ",5" << true << 0.5;
    QTest::newRow("letter without digits") << "1E" << true << 1.0;
    QTest::newRow("plus exponent") << "2,5E+2" << true << 250.0;
    QTest::newRow("signs") << "-,25" << true << -0.25;
    QTest::newRow("plus sign") << "+7" << true << 7.0;
    QTest::newRow("leading zeros") << "000123,4500" << true << 123.45;
    QTest::newRow("underflow") << "1E-400" << true << 0.0;
    QTest::newRow("denormal") << "5E-324" << true << 4.9406564584124654e-324;
    QTest::newRow("huge exponent text") << "1E-99999999999999999999" << true << 0.0;
    QTest::newRow("point") << "0.5" << false << 0.0;
    QTest::newRow("thousands blank") << "1 000" << false << 0.0;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("sign alone") << "-" << false << 0.0;
    QTest::newRow("trailing letter") << "1,5a" << false << 0.0;
    QTest::newRow("two separators") << "1,5,0" << false << 0.0;
    QTest::newRow("overflow") << "1E400" << false << 0.0;
    QTest::newRow("exponent alone") << "E5" << false << 0.0;
    QTest::newRow("tab") << "\t1" << false << 0.0;
    QTest::newRow("nan") << "NAN" << false << 0.0;
    QTest::newRow("inf") << "INF" << false << 0.0;
}

void TestTextConv::readFloat() {
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(double, value);
    SeparatorGuard comma(u',');
    double got = -42;
    QCOMPARE(TryStrToFloat(text, got), ok);
    if (ok) {
        QCOMPARE(got, value);
        QCOMPARE(StrToFloat(text), value);
    } else {
        QCOMPARE(got, -42.0);
        QVERIFY_THROWS_EXCEPTION(EConvertError, StrToFloat(text));
    }
}

void TestTextConv::strToFloatRaisesWithText() {
    SeparatorGuard comma(u',');
    try {
        StrToFloat(QStringLiteral("0.5"));
        QFAIL("no error raised");
    } catch (const EConvertError& e) {
        QCOMPARE(e.Message(), QStringLiteral("'0.5' is not a valid floating point value"));
    }
}

void TestTextConv::tryStrToFloatKeepsTargetOnFailure() {
    SeparatorGuard point(u'.');
    double value = 3.25;
    QVERIFY(!TryStrToFloat(QStringLiteral("0,5"), value));
    QCOMPARE(value, 3.25);
    QVERIFY(TryStrToFloat(QStringLiteral("0.5"), value));
    QCOMPARE(value, 0.5);
}

void TestTextConv::floatRoundTripsAt15Digits() {
    // Whatever FloatToStr writes reads back as the value rounded to 15 significant digits.
    SeparatorGuard comma(u',');
    const double values[] = {1.0 / 3,       2.0 / 3, 0.1,        123.456,
                             6.02214076e23, 1e-5,    -7.25e-310, 9.87654321012345e14};
    for (double v : values) {
        double back = 0;
        QVERIFY2(TryStrToFloat(FloatToStr(v), back), qPrintable(FloatToStr(v)));
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.14e", v);
        QCOMPARE(back, std::strtod(expected, nullptr));
    }
}

void TestTextConv::anyMark_data() {
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("value");
    QTest::newRow("point read where comma") << QChar(u',') << "0.5" << true << 0.5;
    QTest::newRow("comma read where point") << QChar(u'.') << "0,5" << true << 0.5;
    QTest::newRow("own mark") << QChar(u',') << "-2,5E-3" << true << -0.0025;
    QTest::newRow("thousands mark") << QChar(u'.') << "1,000.5" << false << 0.0;
}

void TestTextConv::anyMark() {
    QFETCH(QChar, separator);
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(double, value);
    SeparatorGuard guard(separator);
    double got = 9;
    QCOMPARE(TryStrToFloatAnyMark(text, got), ok);
    QCOMPARE(got, ok ? value : 9.0);
}

void TestTextConv::hexToInt_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("upper") << "1A" << 26;
    QTest::newRow("lower") << "1a" << 26;
    QTest::newRow("eight F") << "FFFFFFFF" << -1;
    QTest::newRow("min") << "80000000" << std::numeric_limits<int>::min();
    QTest::newRow("nine digits") << "123456789" << 0x23456789;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("leading blank") << " 1A" << 0;
    QTest::newRow("sign") << "-1" << 0;
    QTest::newRow("not hex") << "1G" << 0;
    QTest::newRow("prefix") << "0x1A" << 0;
}

void TestTextConv::hexToInt() {
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(HexToInt(text), value);
}

void TestTextConv::prefixedHexToInt_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("prefixed") << "0x1A" << 26;
    QTest::newRow("capital X") << "0X1A" << 0;
    QTest::newRow("no prefix") << "1A" << 0;
    QTest::newRow("prefix alone") << "0x" << 0;
    QTest::newRow("negative") << "0x-1" << 0;
    QTest::newRow("full pattern") << "0xFFFFFFFF" << -1;
}

void TestTextConv::prefixedHexToInt() {
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(PrefixedHexToInt(text), value);
}

void TestTextConv::normalizeName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("normalised");
    QTest::newRow("underscores") << QStringLiteral("Поправка_циклового_наполнения__ДМРВ_")
                                 << QStringLiteral("Поправка циклового наполнения ДМРВ");
    QTest::newRow("only underscores and blanks") << " _ __ "
                                                 << "";
    QTest::newRow("controls") << "a\tb\r\nc"
                              << "a b c";
    QTest::newRow("punctuation") << "x-y.z(1)"
                                 << "x y z 1";
    QTest::newRow("leading and trailing") << "  GBC  "
                                          << "GBC";
    QTest::newRow("upper latin-1 kept")
        << QStringLiteral("\u00C0\u00FF\u00E9") << QStringLiteral("\u00C0\u00FF\u00E9");
    QTest::newRow("below C0 replaced") << QStringLiteral("a\u00A0b\u00BFc\u0080d") << "a b c d";
    QTest::newRow("superscript replaced") << QStringLiteral("m\u00B2") << "m";
    QTest::newRow("empty") << ""
                           << "";
}

void TestTextConv::normalizeName() {
    QFETCH(QString, name);
    QFETCH(QString, normalised);
    QCOMPARE(NormalizeName(name), normalised);
}

void TestTextConv::normalizeNameKeepsAllowedCharacters() {
    QString allowed;
    for (char16_t c = u'0'; c <= u'9'; ++c)
        allowed += QChar(c);
    for (char16_t c = u'A'; c <= u'Z'; ++c)
        allowed += QChar(c);
    for (char16_t c = u'a'; c <= u'z'; ++c)
        allowed += QChar(c);
    for (char16_t c = 0xC0; c <= 0xFF; ++c)
        allowed += QChar(c);
    for (char16_t c = 0x410; c <= 0x44F; ++c)
        allowed += QChar(c);
    QCOMPARE(NormalizeName(allowed), allowed);
    // Everything else below 256 counts as a space.
    for (char16_t c = 0; c < 256; ++c) {
        const QString text = QStringLiteral("a") + QChar(c) + QStringLiteral("b");
        const bool kept = allowed.contains(QChar(c));
        QCOMPARE(NormalizeName(text), kept ? text : QStringLiteral("a b"));
    }
}

void TestTextConv::extractMapName_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("two dots") << "/home/u/maps/motor.old.vlm"
                              << "motor.old";
    QTest::newRow("no dot") << "/home/u/maps/motor"
                            << "motor";
    QTest::newRow("dot first") << "/maps/.vlm"
                               << "";
    QTest::newRow("ends in separator") << "/maps/"
                                       << "";
    QTest::newRow("no folder") << "motor.vlm"
                               << "motor";
    QTest::newRow("dot in folder only") << "/a.b/motor"
                                        << "motor";
    QTest::newRow("backslash is a file name character") << "/a/b\\c.vlm"
                                                        << "b\\c";
}

void TestTextConv::extractMapName() {
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(ExtractMapName(path), name);
}

void TestTextConv::extractFilePath() {
    QCOMPARE(ExtractFilePath(QStringLiteral("/home/u/motor.vlm")), QStringLiteral("/home/u/"));
    QCOMPARE(ExtractFilePath(QStringLiteral("motor.vlm")), QString());
}

void TestTextConv::appFolderEndsInSeparator() {
    const QString folder = AppFolder();
    QVERIFY(folder.endsWith(u'/'));
    QCOMPARE(folder, QCoreApplication::applicationDirPath() + u'/');
    SetAppFolder(QStringLiteral("/tmp/x"));
    QCOMPARE(AppFolder(), QStringLiteral("/tmp/x/"));
    SetAppFolder(QString());
    QCOMPARE(AppFolder(), folder);
}

QTEST_GUILESS_MAIN(TestTextConv)
#include "tst_textconv.moc"

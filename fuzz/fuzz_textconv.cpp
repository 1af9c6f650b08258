// The text forms of numbers against models built another way: integer text and locale number
// text against a regular expression of their grammar and the C library's conversions, HexToInt
// against its definition, and FloatToStr of any finite Double reading back as that Double
// rounded to 15 significant digits.
//
// Input: byte 0 picks the decimal separator; bytes 1 to 8, when present, are a Double for the
// write-and-read property; bytes from 1 on are also read as text, once as UTF-8, once as Latin-1.

#include "FuzzSupport.h"

#include "calibration/Exceptions.h"
#include "calibration/TextConv.h"
#include "calibration/UFuncHex.h"

#include <QRegularExpression>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const int kSentinel = 0x5A5A5A5A;

// Integer text by its grammar, the value by the C library.
bool ModelInteger(const QString& Text, int& Value) {
    static const QRegularExpression grammar(QRegularExpression::anchoredPattern(
        QStringLiteral(" *([+-]?)(?:([0-9]+)|(?:\\$|x|X|0x|0X)([0-9A-Fa-f]+))")));
    const QRegularExpressionMatch m = grammar.match(Text);
    if (!m.hasMatch())
        return false;
    const bool negative = m.captured(1) == u"-";
    if (m.hasCaptured(2) && !m.captured(2).isEmpty()) {
        QString digits = m.captured(2);
        while (digits.size() > 1 && digits.front() == u'0')
            digits.remove(0, 1);
        if (digits.size() > 10)
            return false;
        const long long magnitude = std::strtoll(digits.toLatin1().constData(), nullptr, 10);
        const long long value = negative ? -magnitude : magnitude;
        if (value < INT32_MIN || value > INT32_MAX)
            return false;
        Value = int(value);
        return true;
    }
    QString digits = m.captured(3);
    while (digits.size() > 1 && digits.front() == u'0')
        digits.remove(0, 1);
    if (digits.size() > 8)
        return false;
    uint32_t bits = uint32_t(std::strtoull(digits.toLatin1().constData(), nullptr, 16));
    if (negative)
        bits = 0u - bits;
    Value = int32_t(bits);
    return true;
}

int ModelHex(const QString& Text) {
    uint32_t value = 0;
    for (QChar ch : Text) {
        const int digit = QStringLiteral("0123456789abcdef").indexOf(ch.toLower());
        if (digit < 0 || ch.unicode() > 0x7F)
            return 0;
        value = value * 16 + uint32_t(digit);
    }
    return int32_t(value);
}

enum class FloatModel { Invalid, Value, Overflow, Either };

// Locale number text by its grammar, the value by strtod.
FloatModel ModelFloat(const QString& Text, QChar Sep, double& Value) {
    static const auto pattern = [](QChar Mark) {
        return QRegularExpression(QRegularExpression::anchoredPattern(
            QStringLiteral(" *([+-]?)([0-9]*)(?:%1([0-9]*))?(?:[eE]([+-]?[0-9]*))? *")
                .arg(QRegularExpression::escape(QString(Mark)))));
    };
    static const QRegularExpression point = pattern(u'.'), comma = pattern(u',');
    const QRegularExpression& grammar = Sep == u',' ? comma : point;
    const QRegularExpressionMatch m = grammar.match(Text);
    if (!m.hasMatch())
        return FloatModel::Invalid;
    // At least one digit or the separator before any exponent.
    if (m.captured(2).isEmpty() && !m.hasCaptured(3))
        return FloatModel::Invalid;
    std::string c = m.captured(1).toStdString() + "0" + m.captured(2).toStdString() + "." +
                    m.captured(3).toStdString() + "0";
    QString exponent = m.captured(4);
    if (exponent == u"+" || exponent == u"-")
        exponent.clear();
    if (!exponent.isEmpty())
        c += "e" + exponent.toStdString();
    Value = std::strtod(c.c_str(), nullptr);
    if (!std::isinf(Value))
        return FloatModel::Value;
    // Up to the text that the largest Double is written as, a value reads as the largest Double.
    const long double wide = std::fabs(std::strtold(c.c_str(), nullptr));
    const long double top = 1.79769313486232e308L;
    Value = std::copysign(DBL_MAX, Value);
    if (wide < top * (1 - 1e-18L))
        return FloatModel::Value;
    if (wide > top * (1 + 1e-18L))
        return FloatModel::Overflow;
    return FloatModel::Either; // too close to the bound for the 64-bit mantissa to tell
}

// Value rounded to 15 significant digits the way the writer rounds: 18 correct digits, then
// half up at the sixteenth.
double Rounded15(double Value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17e", std::fabs(Value));
    std::string digits = std::string(1, buf[0]) + std::string(buf + 2, 17);
    int exponent = std::atoi(std::strchr(buf, 'e') + 1);
    const bool up = digits[15] >= '5';
    digits.resize(15);
    if (up) {
        int k = 14;
        while (k >= 0 && digits[size_t(k)] == '9')
            digits[size_t(k--)] = '0';
        if (k < 0) {
            digits.insert(digits.begin(), '1');
            digits.resize(15);
            ++exponent;
        } else {
            ++digits[size_t(k)];
        }
    }
    const std::string text =
        std::string(1, digits[0]) + "." + digits.substr(1) + "e" + std::to_string(exponent);
    const double r = std::strtod(text.c_str(), nullptr);
    return Value < 0 ? -r : r;
}

void CheckInteger(const QString& Text) {
    int value = kSentinel;
    const bool ok = TryStrToInt(Text, value);
    int model = 0;
    const bool modelOk = ModelInteger(Text, model);
    FUZZ_CHECK(ok == modelOk, Printable(Text));
    if (ok) {
        FUZZ_CHECK(value == model, Printable(Text) + QStringLiteral(" gave %1").arg(value));
        int back = 0;
        FUZZ_CHECK(TryStrToInt(IntToStr(value), back) && back == value, Printable(Text));
    }
    FUZZ_CHECK(StrToIntDef(Text, 7) == (ok ? value : 7), Printable(Text));
    FUZZ_CHECK(StrToIntDef(Text, -7) == (ok ? value : -7), Printable(Text));
    try {
        const int raised = StrToInt(Text);
        FUZZ_CHECK(ok && raised == value, Printable(Text));
    } catch (const EConvertError& e) {
        FUZZ_CHECK(!ok, Printable(Text));
        FUZZ_CHECK(e.Message() == QStringLiteral("''") + Text + "'' is not a valid integer value",
                   e.Message());
    }
}

void CheckHex(const QString& Text) {
    FUZZ_CHECK(HexToInt(Text) == ModelHex(Text), Printable(Text));
    const int prefixed = Text.startsWith(QStringLiteral("0x")) ? ModelHex(Text.mid(2)) : 0;
    FUZZ_CHECK(PrefixedHexToInt(Text) == prefixed, Printable(Text));
}

void CheckFloat(const QString& Text) {
    const QChar sep = DecimalSeparator();
    const double sentinel = -123.25;
    double value = sentinel;
    const bool ok = TryStrToFloat(Text, value);
    double model = 0;
    const FloatModel kind = ModelFloat(Text, sep, model);
    if (kind != FloatModel::Either)
        FUZZ_CHECK(ok == (kind == FloatModel::Value), Printable(Text));
    if (ok)
        FUZZ_CHECK(value == model, Printable(Text) + QStringLiteral(" gave %1 instead of %2")
                                                         .arg(value, 0, 'g', 17)
                                                         .arg(model, 0, 'g', 17));
    else
        FUZZ_CHECK(value == sentinel, Printable(Text));
    try {
        const double raised = StrToFloat(Text);
        FUZZ_CHECK(ok && raised == value, Printable(Text));
    } catch (const EConvertError& e) {
        FUZZ_CHECK(!ok, Printable(Text));
        FUZZ_CHECK(e.Message() ==
                       QStringLiteral("'") + Text + "' is not a valid floating point value",
                   e.Message());
    }
    double any = sentinel;
    QString marks = Text;
    for (QChar& ch : marks)
        if (ch == u',' || ch == u'.')
            ch = sep;
    double strict = sentinel;
    FUZZ_CHECK(TryStrToFloatAnyMark(Text, any) == TryStrToFloat(marks, strict) && any == strict,
               Printable(Text));
}

void CheckName(const QString& Text) {
    const QString name = NormalizeName(Text);
    FUZZ_CHECK(!name.startsWith(u' ') && !name.endsWith(u' ') &&
                   !name.contains(QStringLiteral("  ")),
               Printable(name));
    QString wide, wideOut;
    for (QChar ch : Text)
        if (ch.unicode() >= 256)
            wide += ch;
    for (QChar ch : name) {
        const char16_t c = ch.unicode();
        FUZZ_CHECK(c >= 256 || c == u' ' || (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') ||
                       (c >= u'a' && c <= u'z') || c >= 0xC0,
                   Printable(name));
        if (c >= 256)
            wideOut += ch;
    }
    FUZZ_CHECK(wide == wideOut, Printable(Text));
    FUZZ_CHECK(NormalizeName(name) == name, Printable(name));
}

void CheckText(const QString& Text) {
    CheckInteger(Text);
    CheckHex(Text);
    CheckFloat(Text);
    CheckName(Text);
    FUZZ_CHECK(!ExtractMapName(Text).contains(u'/'), Printable(Text));
}

void CheckDouble(double Value) {
    const QString text = FloatToStr(Value);
    const double expected = Rounded15(Value);
    const QString what = QStringLiteral("%1 written as %2").arg(Value, 0, 'g', 17).arg(text);
    double back = 0;
    try {
        back = StrToFloat(text);
    } catch (const EConvertError& e) {
        FUZZ_CHECK(false, what + QStringLiteral(": ") + e.Message());
    }
    // Past the largest Double the 15-digit form stands for the largest Double itself.
    if (std::isinf(expected))
        FUZZ_CHECK(back == std::copysign(DBL_MAX, Value), what);
    else
        FUZZ_CHECK(back == expected, what + QStringLiteral(" read as %1").arg(back, 0, 'g', 17));
    FUZZ_CHECK(FloatToStr(back) == text, what);
    QString digits;
    for (QChar ch : text.section(u'E', 0, 0))
        if (ch.isDigit() && (ch != u'0' || !digits.isEmpty()))
            digits += ch;
    FUZZ_CHECK(digits.size() <= 15, what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    FuzzInit();
    if (Size == 0)
        return 0;
    SetDecimalSeparator((Data[0] & 1) ? QChar(u',') : QChar(u'.'));
    if (Size >= 9) {
        double value;
        std::memcpy(&value, Data + 1, sizeof value);
        if (std::isfinite(value))
            CheckDouble(value);
    }
    const QByteArray bytes(reinterpret_cast<const char*>(Data + 1), qsizetype(Size - 1));
    CheckText(QString::fromUtf8(bytes));
    CheckText(QString::fromLatin1(bytes));
    return 0;
}

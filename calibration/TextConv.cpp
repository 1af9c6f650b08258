#include "calibration/TextConv.h"

#include "calibration/Exceptions.h"
#include "calibration/UFuncHex.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace {

std::optional<QChar>& SeparatorOverride() {
    static std::optional<QChar> separator;
    return separator;
}

QString& AppFolderOverride() {
    static QString folder;
    return folder;
}

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

// The number part of integer text: decimal digits, or a hexadecimal prefix and digits.
bool ParseInteger(const QString& Text, int& Value) {
    const qsizetype n = Text.size();
    qsizetype i = 0;
    while (i < n && Text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (Text[i] == u'+' || Text[i] == u'-')) {
        negative = Text[i] == u'-';
        ++i;
    }
    bool hex = false;
    if (i < n && (Text[i] == u'$' || Text[i] == u'x' || Text[i] == u'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && Text[i] == u'0' && (Text[i + 1] == u'x' || Text[i + 1] == u'X')) {
        hex = true;
        i += 2;
    }
    if (i == n)
        return false;
    if (hex) {
        uint64_t bits = 0;
        for (; i < n; ++i) {
            const int digit = HexDigit(Text[i].unicode());
            if (digit < 0)
                return false;
            bits = bits * 16 + uint64_t(digit);
            if (bits > 0xFFFFFFFFu)
                return false;
        }
        const uint32_t magnitude = negative ? 0u - uint32_t(bits) : uint32_t(bits);
        Value = int32_t(magnitude);
        return true;
    }
    uint64_t magnitude = 0;
    for (; i < n; ++i) {
        if (!IsDigit(Text[i].unicode()))
            return false;
        magnitude = magnitude * 10 + uint64_t(Text[i].unicode() - u'0');
        if (magnitude > 2147483648u)
            return false;
    }
    if (!negative && magnitude > 2147483647u)
        return false;
    Value = negative ? int32_t(-int64_t(magnitude)) : int32_t(magnitude);
    return true;
}

// Checks Text against the grammar of locale number text and builds the canonical form that
// std::from_chars reads ("-123.45e-6"). The decimal separator is the only mark accepted.
enum class FloatResult { Ok, Invalid, Overflow };

FloatResult ParseFloat(const QString& Text, double& Value) {
    const QChar sep = DecimalSeparator();
    const qsizetype n = Text.size();
    qsizetype i = 0;
    while (i < n && Text[i] == u' ')
        ++i;
    std::string canon;
    canon.reserve(size_t(n) + 8);
    if (i < n && (Text[i] == u'+' || Text[i] == u'-')) {
        if (Text[i] == u'-')
            canon += '-';
        ++i;
    }
    std::string digits; // every mantissa digit, the separator left out
    qsizetype intDigits = 0;
    bool seenSep = false;
    for (; i < n; ++i) {
        const char16_t c = Text[i].unicode();
        if (IsDigit(c)) {
            digits += char(c);
            if (!seenSep)
                ++intDigits;
        } else if (Text[i] == sep && !seenSep) {
            seenSep = true;
        } else {
            break;
        }
    }
    if (digits.empty() && !seenSep)
        return FloatResult::Invalid;
    int64_t exponent = 0;
    if (i < n && (Text[i] == u'E' || Text[i] == u'e')) {
        ++i;
        bool expNegative = false;
        if (i < n && (Text[i] == u'+' || Text[i] == u'-')) {
            expNegative = Text[i] == u'-';
            ++i;
        }
        // Saturate: far beyond any Double either way, and far from int64 overflow.
        for (; i < n && IsDigit(Text[i].unicode()); ++i)
            if (exponent < 1'000'000'000'000)
                exponent = exponent * 10 + (Text[i].unicode() - u'0');
        if (expNegative)
            exponent = -exponent;
    }
    while (i < n && Text[i] == u' ')
        ++i;
    if (i != n)
        return FloatResult::Invalid;

    const size_t firstNonZero = digits.find_first_not_of('0');
    if (firstNonZero == std::string::npos) {
        Value = canon.empty() ? 0.0 : -0.0;
        return FloatResult::Ok;
    }
    // Fold the position of the separator into the exponent: value = 0.digits * 10^(intDigits+exp).
    canon += "0.";
    canon.append(digits, firstNonZero);
    const int64_t scale = exponent + intDigits - int64_t(firstNonZero);
    canon += 'e';
    canon += std::to_string(scale);
    double result = 0;
    const auto [end, ec] = std::from_chars(canon.data(), canon.data() + canon.size(), result);
    if (ec == std::errc::result_out_of_range) {
        // from_chars reports both ends of the range; the scale tells which one this is.
        if (scale > 0) {
            // The largest Double is written rounded up to 1.79769313486232E308, just past the
            // range; that text, and anything up to it, must read back as the largest Double.
            std::string sig = digits.substr(firstNonZero);
            std::string top = "179769313486232";
            sig.resize(std::max(sig.size(), top.size()), '0');
            top.resize(sig.size(), '0');
            if (scale != 309 || sig > top)
                return FloatResult::Overflow;
            Value = canon[0] == '-' ? -std::numeric_limits<double>::max()
                                    : std::numeric_limits<double>::max();
            return FloatResult::Ok;
        }
        Value = canon[0] == '-' ? -0.0 : 0.0;
        return FloatResult::Ok;
    }
    if (ec != std::errc() || end != canon.data() + canon.size())
        return FloatResult::Invalid;
    Value = result;
    return FloatResult::Ok;
}

} // namespace

QChar DecimalSeparator() {
    std::optional<QChar>& separator = SeparatorOverride();
    if (!separator) {
        const QString point = QLocale::system().decimalPoint();
        separator = point.isEmpty() ? QChar(u'.') : point.front();
    }
    return *separator;
}

void SetDecimalSeparator(QChar Separator) {
    SeparatorOverride() = Separator;
}

void ResetDecimalSeparator() {
    SeparatorOverride().reset();
}

QString IntToStr(int Value) {
    return QString::number(Value);
}

int StrToInt(const QString& Text) {
    int value = 0;
    if (!ParseInteger(Text, value))
        throw EConvertError(QStringLiteral("''%1'' is not a valid integer value").arg(Text));
    return value;
}

bool TryStrToInt(const QString& Text, int& Value) {
    return ParseInteger(Text, Value);
}

int StrToIntDef(const QString& Text, int Default) {
    int value = 0;
    return ParseInteger(Text, value) ? value : Default;
}

QString FloatToStr(double Value) {
    if (std::isnan(Value))
        return QStringLiteral("NAN");
    if (std::isinf(Value))
        return Value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (Value == 0)
        return QStringLiteral("0");

    // 18 correctly rounded significant digits, then rounded half up to 15.
    char buf[64];
    const auto res =
        std::to_chars(buf, buf + sizeof buf, std::fabs(Value), std::chars_format::scientific, 17);
    const std::string text(buf, res.ptr);
    const size_t ePos = text.find('e');
    std::string digits = text.substr(0, 1) + text.substr(2, ePos - 2); // 18 digits
    int e = std::stoi(text.substr(ePos + 1)) + 1;                      // value = 0.d1d2... * 10^e
    const bool roundUp = digits[15] >= '5';
    digits.resize(15);
    if (roundUp) {
        int k = 14;
        while (k >= 0 && digits[size_t(k)] == '9')
            digits[size_t(k--)] = '0';
        if (k < 0) {
            digits.insert(digits.begin(), '1');
            digits.resize(15);
            ++e;
        } else {
            ++digits[size_t(k)];
        }
    }
    digits.erase(digits.find_last_not_of('0') + 1);
    const int n = int(digits.size());

    const QChar sep = DecimalSeparator();
    QString out;
    if (Value < 0)
        out += u'-';
    if (e >= -3 && e <= 15) {
        if (e <= 0) {
            out += u'0';
            out += sep;
            out += QString(-e, u'0');
            out += QLatin1StringView(digits.data(), n);
        } else {
            out += QLatin1StringView(digits.data(), std::min(n, e));
            if (n < e)
                out += QString(e - n, u'0');
            if (n > e) {
                out += sep;
                out += QLatin1StringView(digits.data() + e, n - e);
            }
        }
    } else {
        out += QChar(digits[0]);
        if (n > 1) {
            out += sep;
            out += QLatin1StringView(digits.data() + 1, n - 1);
        }
        out += u'E';
        out += QString::number(e - 1);
    }
    return out;
}

double StrToFloat(const QString& Text) {
    double value = 0;
    if (ParseFloat(Text, value) != FloatResult::Ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(Text));
    return value;
}

bool TryStrToFloat(const QString& Text, double& Value) {
    double value = 0;
    if (ParseFloat(Text, value) != FloatResult::Ok)
        return false;
    Value = value;
    return true;
}

bool TryStrToFloatAnyMark(const QString& Text, double& Value) {
    const QChar sep = DecimalSeparator();
    QString text = Text;
    for (QChar& ch : text)
        if (ch == u',' || ch == u'.')
            ch = sep;
    return TryStrToFloat(text, Value);
}

int PrefixedHexToInt(const QString& Text) {
    if (!Text.startsWith(QLatin1StringView("0x")))
        return 0;
    return HexToInt(Text.mid(2));
}

QString NormalizeName(const QString& Name) {
    QString out;
    out.reserve(Name.size());
    bool pendingSpace = false;
    for (QChar ch : Name) {
        const char16_t c = ch.unicode();
        const bool allowed = c >= 256 || IsDigit(c) || (c >= u'A' && c <= u'Z') ||
                             (c >= u'a' && c <= u'z') || (c >= 0xC0 && c <= 0xFF);
        if (!allowed) {
            pendingSpace = true; // every other character below 256 counts as a space
            continue;
        }
        if (pendingSpace && !out.isEmpty())
            out += u' ';
        pendingSpace = false;
        out += ch;
    }
    return out;
}

QString AppFolder() {
    const QString& folder = AppFolderOverride();
    if (!folder.isEmpty())
        return folder.endsWith(u'/') ? folder : folder + u'/';
    QString dir = QCoreApplication::instance()
                      ? QCoreApplication::applicationDirPath()
                      : QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!QCoreApplication::instance())
        dir = QFileInfo(dir).absolutePath();
    return dir.endsWith(u'/') ? dir : dir + u'/';
}

void SetAppFolder(const QString& Folder) {
    AppFolderOverride() = Folder;
}

QString ExtractMapName(const QString& Path) {
    QString name = Path.mid(Path.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    return name;
}

QString ExtractFilePath(const QString& Path) {
    return Path.left(Path.lastIndexOf(u'/') + 1);
}

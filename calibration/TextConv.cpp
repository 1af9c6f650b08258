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
#include <cstring>
#include <limits>
#include <memory>
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
    // The canonical form holds at most a sign, "0.", every digit, "e" and the scale. It is built on
    // the stack unless the text is long: every number of a large map comes through here.
    char local[96];
    std::unique_ptr<char[]> heap;
    const size_t capacity = size_t(n) + 32;
    char* canon = local;
    if (capacity > sizeof local) {
        heap = std::make_unique<char[]>(capacity);
        canon = heap.get();
    }
    size_t len = 0;
    qsizetype i = 0;
    while (i < n && Text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (Text[i] == u'+' || Text[i] == u'-')) {
        negative = Text[i] == u'-';
        if (negative)
            canon[len++] = '-';
        ++i;
    }
    // Every mantissa digit, the separator left out, after room for "0.".
    char* const digits = canon + len + 2;
    size_t digitCount = 0;
    qsizetype intDigits = 0;
    bool seenSep = false;
    for (; i < n; ++i) {
        const char16_t c = Text[i].unicode();
        if (IsDigit(c)) {
            digits[digitCount++] = char(c);
            if (!seenSep)
                ++intDigits;
        } else if (Text[i] == sep && !seenSep) {
            seenSep = true;
        } else {
            break;
        }
    }
    if (digitCount == 0 && !seenSep)
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

    size_t firstNonZero = 0;
    while (firstNonZero < digitCount && digits[firstNonZero] == '0')
        ++firstNonZero;
    if (firstNonZero == digitCount) {
        Value = negative ? -0.0 : 0.0;
        return FloatResult::Ok;
    }
    // Fold the position of the separator into the exponent: value = 0.digits * 10^(intDigits+exp).
    canon[len++] = '0';
    canon[len++] = '.';
    const size_t significant = digitCount - firstNonZero;
    std::memmove(canon + len, digits + firstNonZero, significant);
    len += significant;
    const int64_t scale = exponent + intDigits - int64_t(firstNonZero);
    canon[len++] = 'e';
    len = size_t(std::to_chars(canon + len, canon + capacity, scale).ptr - canon);
    double result = 0;
    const auto [end, ec] = std::from_chars(canon, canon + len, result);
    if (ec == std::errc::result_out_of_range) {
        // from_chars reports both ends of the range; the scale tells which one this is.
        if (scale > 0) {
            // The largest Double is written rounded up to 1.79769313486232E308, just past the
            // range; that text, and anything up to it, must read back as the largest Double.
            std::string sig(digits, significant); // the digits moved down over the zeros
            std::string top = "179769313486232";
            sig.resize(std::max(sig.size(), top.size()), '0');
            top.resize(sig.size(), '0');
            if (scale != 309 || sig > top)
                return FloatResult::Overflow;
            Value =
                negative ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
            return FloatResult::Ok;
        }
        Value = negative ? -0.0 : 0.0;
        return FloatResult::Ok;
    }
    if (ec != std::errc() || end != canon + len)
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

    // 18 correctly rounded significant digits, then rounded half up to 15. Built in place: a map
    // of 100,000 calibrations writes 400,000 numbers.
    char buf[64];
    const auto res =
        std::to_chars(buf, buf + sizeof buf, std::fabs(Value), std::chars_format::scientific, 17);
    // buf holds "d.ddddddddddddddddde" and the exponent; digits[15] only decides the rounding.
    char digits[16];
    digits[0] = buf[0];
    std::memcpy(digits + 1, buf + 2, 15);
    const char* exp = std::find(buf, res.ptr, 'e') + 1;
    if (*exp == '+')
        ++exp;
    int e = 0;
    std::from_chars(exp, res.ptr, e);
    ++e; // value = 0.d1d2... * 10^e
    if (digits[15] >= '5') {
        int k = 14;
        while (k >= 0 && digits[k] == '9')
            digits[k--] = '0';
        if (k < 0) {
            digits[0] = '1';
            ++e;
        } else {
            ++digits[k];
        }
    }
    int n = 15;
    while (n > 0 && digits[n - 1] == '0')
        --n;

    const char16_t sep = DecimalSeparator().unicode();
    char16_t out[40];
    int len = 0;
    const auto put = [&](const char* From, int Count) {
        for (int k = 0; k < Count; ++k)
            out[len++] = char16_t(From[k]);
    };
    const auto zeros = [&](int Count) {
        for (int k = 0; k < Count; ++k)
            out[len++] = u'0';
    };
    if (Value < 0)
        out[len++] = u'-';
    if (e >= -3 && e <= 15) {
        if (e <= 0) {
            out[len++] = u'0';
            out[len++] = sep;
            zeros(-e);
            put(digits, n);
        } else {
            put(digits, std::min(n, e));
            zeros(e - n);
            if (n > e) {
                out[len++] = sep;
                put(digits + e, n - e);
            }
        }
    } else {
        out[len++] = char16_t(digits[0]);
        if (n > 1) {
            out[len++] = sep;
            put(digits + 1, n - 1);
        }
        out[len++] = u'E';
        char expText[8];
        put(expText, int(std::to_chars(expText, expText + sizeof expText, e - 1).ptr - expText));
    }
    return QString(reinterpret_cast<const QChar*>(out), len);
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
    // Most texts already use the local mark: read them without a copy.
    if (std::none_of(Text.cbegin(), Text.cend(),
                     [sep](QChar ch) { return (ch == u',' || ch == u'.') && ch != sep; }))
        return TryStrToFloat(Text, Value);
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

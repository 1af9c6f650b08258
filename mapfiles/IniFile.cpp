#include "mapfiles/IniFile.h"

#include "calibration/Exceptions.h"
#include "calibration/TextConv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

// The engine keeps the file as it was read (its bytes and its decoded text) and a list of lines
// that refer into them by offset, so reading a map of a million keys allocates almost nothing per
// key. Text written later goes into one growing buffer, the arena. Lines form a singly linked list
// in file order, so that a key inserted in the middle of the file costs O(1). Sections and keys are
// found through two open-addressing hash tables on case-folded names; a key is identified by the
// index of its (first, winning) section and its name.
//
// Where the reading rules say nothing, behaviour is chosen so that parse, write back, re-parse
// gives the same sections, keys and values:
// - Section and key names given to any call are trimmed of blanks and tabs, like names in the file.
// - A value is written in double quotes when reading it back unquoted would change it: when it
//   begins or ends with a blank or tab, or begins and ends with the same quote character.
// - A name or value that no line can hold raises EIniFileException "Unable to write to %s" at the
//   write and changes nothing: a section name with "]", a key with "=" or beginning with ";" or
//   "[", and any name or value with CR or LF.
// - Unpaired UTF-16 surrogates in written text are not characters; they are stored as U+FFFD.
// - A replaced key keeps its name as the file spells it; writing the value a key already has
//   leaves its line untouched.
// - ReadSections lists every section header, a repeated one as often as it stands in the file.
// - New lines take the line end of the first line break of the file (CRLF in a file without one).
// - An existing file without byte-order mark that holds only ASCII bytes is written like a new
//   file (Windows-1251 when possible), as it reads the same in either encoding.
// - Windows-1251 output whose bytes would read back as UTF-8 (valid UTF-8 with non-ASCII bytes,
//   or starting like a byte-order mark) is written as UTF-8 instead, so that it reads back as
//   written.
// - UpdateFile with no write since the file was read (Mode::Open) does nothing. An existing file
//   that could not be read (no read permission, a folder, over 1 GiB) is never replaced:
//   UpdateFile raises the write error instead of losing its content.
// - The destructor writes nothing: writes not followed by UpdateFile are dropped.

namespace {

enum class Encoding : uint8_t { Utf8, Utf16LE, Utf16BE, Cp1251 };
enum class Eol : uint8_t { None, CrLf, Lf, Cr };
enum class Kind : uint8_t { Other, Header, Key };

constexpr qsizetype kMaxFileBytes = qsizetype(1) << 30;
constexpr qsizetype kMaxValueLength = 2047;
constexpr uint32_t kArenaBit = 0x80000000u;

inline const char16_t* U16(const QString& s) {
    return reinterpret_cast<const char16_t*>(s.utf16());
}

inline bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

QStringView Trim(QStringView s) {
    qsizetype b = 0, e = s.size();
    while (b < e && IsBlank(s[b].unicode()))
        ++b;
    while (e > b && IsBlank(s[e - 1].unicode()))
        --e;
    return s.sliced(b, e - b);
}

// ---- case-insensitive hashing and comparison (simple case folding per code point) ----

inline char32_t FoldNext(const char16_t* s, qsizetype n, qsizetype& i) {
    const char16_t c = s[i++];
    if (c < 0x80)
        return (c >= u'A' && c <= u'Z') ? char32_t(c + 32) : char32_t(c);
    char32_t cp = c;
    if (QChar::isHighSurrogate(c) && i < n && QChar::isLowSurrogate(s[i]))
        cp = QChar::surrogateToUcs4(c, s[i++]);
    return QChar::toCaseFolded(cp);
}

uint32_t FoldHash(QStringView s) {
    const char16_t* p = s.utf16();
    const qsizetype n = s.size();
    uint32_t h = 2166136261u;
    for (qsizetype i = 0; i < n;) {
        h ^= uint32_t(FoldNext(p, n, i));
        h *= 16777619u;
    }
    return h;
}

bool FoldEqual(QStringView a, QStringView b) {
    if (a.size() == b.size() &&
        (a.isEmpty() ||
         std::memcmp(a.utf16(), b.utf16(), size_t(a.size()) * sizeof(char16_t)) == 0))
        return true;
    const char16_t* pa = a.utf16();
    const char16_t* pb = b.utf16();
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size())
        if (FoldNext(pa, a.size(), i) != FoldNext(pb, b.size(), j))
            return false;
    return i == a.size() && j == b.size();
}

inline uint32_t Mix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85ebca6bu;
    h ^= h >> 13;
    h *= 0xc2b2ae35u;
    h ^= h >> 16;
    return h;
}

inline uint32_t KeyHash(int32_t section, uint32_t nameHash) {
    return Mix(nameHash ^ (uint32_t(section) * 0x9E3779B1u));
}

// Open addressing with linear probing; entries are never removed. A slot holds the full hash in
// its high half and the entry index plus one in its low half (0: empty).
class IndexTable {
public:
    void Reserve(qsizetype entries) {
        size_t want = 16;
        while (want < size_t(entries) * 2)
            want <<= 1;
        if (want > slots_.size())
            Rehash(want);
    }

    template <class Eq> int32_t Find(uint32_t hash, Eq eq) const {
        if (slots_.empty())
            return -1;
        for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
            const uint64_t slot = slots_[i];
            if (slot == 0)
                return -1;
            if (uint32_t(slot >> 32) == hash) {
                const int32_t index = int32_t(uint32_t(slot) - 1);
                if (eq(index))
                    return index;
            }
        }
    }

    void Insert(uint32_t hash, int32_t index) {
        if ((count_ + 1) * 2 > slots_.size())
            Rehash(slots_.empty() ? 16 : slots_.size() * 2);
        Place(slots_, mask_, (uint64_t(hash) << 32) | (uint32_t(index) + 1));
        ++count_;
    }

private:
    static void Place(std::vector<uint64_t>& table, size_t mask, uint64_t slot) {
        size_t i = uint32_t(slot >> 32) & mask;
        while (table[i] != 0)
            i = (i + 1) & mask;
        table[i] = slot;
    }

    void Rehash(size_t size) {
        std::vector<uint64_t> fresh(size, 0);
        const size_t mask = size - 1;
        for (uint64_t slot : slots_)
            if (slot != 0)
                Place(fresh, mask, slot);
        slots_.swap(fresh);
        mask_ = mask;
    }

    std::vector<uint64_t> slots_;
    size_t mask_ = 0;
    size_t count_ = 0;
};

// ---- encodings ----

// Well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF. This is
// exactly what QStringDecoder decodes without error.
bool IsValidUtf8(const char* data, qsizetype size) {
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    while (p < end) {
        if (end - p >= 8) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        unsigned lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0)
                lo = 0xA0;
            else if (c == 0xED)
                hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0)
                lo = 0x90;
            else if (c == 0xF4)
                hi = 0x8F;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        if (p[1] < lo || p[1] > hi)
            return false;
        for (int k = 2; k <= extra; ++k)
            if (p[k] < 0x80 || p[k] > 0xBF)
                return false;
        p += extra + 1;
    }
    return true;
}

bool HasNonAscii(const QByteArray& bytes) {
    for (char c : bytes)
        if (uchar(c) >= 0x80)
            return true;
    return false;
}

// Windows-1251 as the ICU decoder of this Qt build reads it; the encoder is its exact inverse, so
// a character has a Windows-1251 form exactly when some byte decodes to it.
struct Cp1251Table {
    bool valid = false;
    std::array<char16_t, 128> high{};  // bytes 0x80..0xFF
    std::vector<uint8_t> reverse = {}; // char16_t -> byte, 0 for none (below 0x80 direct)

    Cp1251Table() {
        QStringDecoder decoder("windows-1251");
        if (!decoder.isValid())
            return;
        QByteArray bytes;
        for (int i = 0x80; i < 0x100; ++i)
            bytes.append(char(i));
        const QString chars = decoder.decode(bytes);
        if (decoder.hasError() || chars.size() != 128)
            return;
        reverse.assign(0x10000, 0);
        for (int i = 0; i < 128; ++i) {
            high[size_t(i)] = chars[i].unicode();
            if (chars[i].unicode() >= 0x80)
                reverse[chars[i].unicode()] = uint8_t(0x80 + i);
        }
        valid = true;
    }
};

const Cp1251Table& Cp1251() {
    static const Cp1251Table table;
    return table;
}

QString WithoutLoneSurrogates(const QString& Text);

QString Decode(Encoding encoding, QByteArrayView bytes) {
    const QStringConverter::Flags flags =
        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom;
    // A lone surrogate reads as U+FFFD, as it would be written: a name read from the file must
    // address the same section or key when it is written back.
    switch (encoding) {
    case Encoding::Utf8:
        return QStringDecoder(QStringConverter::Utf8, flags).decode(bytes);
    case Encoding::Utf16LE:
        return WithoutLoneSurrogates(
            QStringDecoder(QStringConverter::Utf16LE, flags).decode(bytes));
    case Encoding::Utf16BE:
        return WithoutLoneSurrogates(
            QStringDecoder(QStringConverter::Utf16BE, flags).decode(bytes));
    case Encoding::Cp1251: {
        QStringDecoder decoder("windows-1251", flags);
        if (decoder.isValid())
            return decoder.decode(bytes);
        return QString::fromLatin1(bytes.data(), bytes.size()); // not reached with ICU
    }
    }
    return QString();
}

// What the reader makes of a file's bytes: encoding and the length of its byte-order mark.
struct Detected {
    Encoding encoding;
    int bom;
};

Detected Detect(const QByteArray& raw) {
    const auto b = [&](int i) { return uchar(raw[i]); };
    if (raw.size() >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF)
        return {Encoding::Utf8, 3};
    if (raw.size() >= 2 && b(0) == 0xFF && b(1) == 0xFE)
        return {Encoding::Utf16LE, 2};
    if (raw.size() >= 2 && b(0) == 0xFE && b(1) == 0xFF)
        return {Encoding::Utf16BE, 2};
    if (IsValidUtf8(raw.constData(), raw.size()))
        return {Encoding::Utf8, 0};
    return {Encoding::Cp1251, 0};
}

// The bytes of a document being written, in one target encoding.
class Output {
public:
    Output(Encoding encoding, qsizetype reserve) : encoding_(encoding) { buf_.reserve(reserve); }

    bool Ok() const { return ok_; }
    QByteArray& Bytes() { return buf_; }

    void Raw(const char* data, qsizetype size) { buf_.append(data, size); }

    void Text(QStringView s) {
        const char16_t* p = s.utf16();
        const qsizetype n = s.size();
        switch (encoding_) {
        case Encoding::Cp1251: {
            const Cp1251Table& table = Cp1251();
            const qsizetype at = buf_.size();
            buf_.resize(at + n);
            char* out = buf_.data() + at;
            for (qsizetype i = 0; i < n; ++i) {
                const char16_t c = p[i];
                if (c < 0x80) {
                    out[i] = char(c);
                } else if (table.valid && table.reverse[c] != 0) {
                    out[i] = char(table.reverse[c]);
                } else {
                    ok_ = false;
                    return;
                }
            }
            break;
        }
        case Encoding::Utf8: {
            const qsizetype at = buf_.size();
            buf_.resize(at + 3 * n);
            char* out = buf_.data() + at;
            char* o = out;
            for (qsizetype i = 0; i < n; ++i) {
                char32_t c = p[i];
                if (c < 0x80) {
                    *o++ = char(c);
                    continue;
                }
                if (c < 0x800) {
                    *o++ = char(0xC0 | (c >> 6));
                    *o++ = char(0x80 | (c & 0x3F));
                    continue;
                }
                if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(p[i + 1])) {
                    c = QChar::surrogateToUcs4(char16_t(c), p[++i]);
                    *o++ = char(0xF0 | (c >> 18));
                    *o++ = char(0x80 | ((c >> 12) & 0x3F));
                    *o++ = char(0x80 | ((c >> 6) & 0x3F));
                    *o++ = char(0x80 | (c & 0x3F));
                    continue;
                }
                if (QChar::isSurrogate(c))
                    c = 0xFFFD; // not text; only reachable for text decoded from UTF-16
                *o++ = char(0xE0 | (c >> 12));
                *o++ = char(0x80 | ((c >> 6) & 0x3F));
                *o++ = char(0x80 | (c & 0x3F));
            }
            buf_.resize(o - buf_.data());
            break;
        }
        case Encoding::Utf16LE:
        case Encoding::Utf16BE: {
            const bool le = encoding_ == Encoding::Utf16LE;
            const qsizetype at = buf_.size();
            buf_.resize(at + 2 * n);
            char* out = buf_.data() + at;
            for (qsizetype i = 0; i < n; ++i) {
                out[2 * i + (le ? 0 : 1)] = char(p[i] & 0xFF);
                out[2 * i + (le ? 1 : 0)] = char(p[i] >> 8);
            }
            break;
        }
        }
    }

    void Char(char16_t c) { Text(QStringView(&c, 1)); }

    void LineEnd(Eol eol) {
        switch (eol) {
        case Eol::None:
            break;
        case Eol::CrLf:
            Char(u'\r');
            Char(u'\n');
            break;
        case Eol::Lf:
            Char(u'\n');
            break;
        case Eol::Cr:
            Char(u'\r');
            break;
        }
    }

private:
    Encoding encoding_;
    QByteArray buf_;
    bool ok_ = true;
};

// Replaces unpaired surrogates by U+FFFD; returns Text itself when it holds none.
QString WithoutLoneSurrogates(const QString& Text) {
    const qsizetype n = Text.size();
    const char16_t* p = U16(Text);
    qsizetype i = 0;
    for (; i < n; ++i) {
        if (!QChar::isSurrogate(p[i]))
            continue;
        if (QChar::isHighSurrogate(p[i]) && i + 1 < n && QChar::isLowSurrogate(p[i + 1])) {
            ++i;
            continue;
        }
        break;
    }
    if (i == n)
        return Text;
    QString out = Text;
    for (qsizetype k = i; k < n; ++k) {
        const char16_t c = out[k].unicode();
        if (!QChar::isSurrogate(c))
            continue;
        if (QChar::isHighSurrogate(c) && k + 1 < n && QChar::isLowSurrogate(out[k + 1].unicode()))
            ++k;
        else
            out[k] = QChar(0xFFFD);
    }
    return out;
}

bool NeedsQuotes(QStringView v) {
    if (v.isEmpty())
        return false;
    const char16_t first = v.front().unicode(), last = v.back().unicode();
    if (IsBlank(first) || IsBlank(last))
        return true;
    return v.size() >= 2 && first == last && (first == u'"' || first == u'\'');
}

} // namespace

struct TIniFile::Data {
    struct Ref {
        uint32_t off = 0; // kArenaBit set: into arena, else into text
        uint32_t len = 0;
    };

    struct Line {
        Ref name;                          // Header: section name; Key: key name
        Ref value;                         // Key: the value as read (quotes removed)
        uint32_t textOff = 0, textLen = 0; // original lines: the whole line in text
        uint32_t rawOff = 0, rawLen = 0;   // original lines: the line's bytes, without line end
        int32_t next = -1;
        int32_t section = -1; // Header and Key: index into sections
        Kind kind = Kind::Other;
        Eol eol = Eol::None;
        bool original = false; // read from the file
        bool changed = false;  // original, but its value was replaced
    };

    struct Section {
        int32_t header = -1;
        int32_t lastKey = -1; // the last key line of the section, or its header
        bool winner = false;  // the first section of its name
    };

    QString fileName;
    QString fullPath;
    Mode mode = Mode::Open;

    // The file as read.
    QByteArray raw;
    QString text;
    Encoding rawEncoding = Encoding::Utf8;
    bool rawValid = false; // raw line offsets are exact

    // How the file is written next.
    Encoding fileEncoding = Encoding::Cp1251;
    bool fileBom = false;
    bool chooseEncoding = true; // new or ASCII-only file: Windows-1251 when possible
    Eol defaultEol = Eol::CrLf;
    bool loadFailed = false;
    bool dirty = false;

    QString arena;
    std::vector<Line> lines;
    std::vector<Section> sections;
    int32_t head = -1, tail = -1;
    IndexTable sectionIndex;
    IndexTable keyIndex;

    // ---- text of refs ----
    const char16_t* Ptr(Ref r) const {
        return (r.off & kArenaBit) ? U16(arena) + (r.off & ~kArenaBit) : U16(text) + r.off;
    }
    QStringView View(Ref r) const { return QStringView(Ptr(r), qsizetype(r.len)); }
    QStringView LineText(const Line& l) const {
        return QStringView(U16(text) + l.textOff, qsizetype(l.textLen));
    }
    Ref TextRef(const char16_t* p, qsizetype len) const {
        return {uint32_t(p - U16(text)), uint32_t(len)};
    }
    Ref Store(QStringView s) {
        if (arena.size() + s.size() >= qsizetype(kArenaBit))
            Fail();
        Ref r{uint32_t(arena.size()) | kArenaBit, uint32_t(s.size())};
        arena.append(s);
        return r;
    }

    [[noreturn]] void Fail() const {
        throw EIniFileException(QStringLiteral("Unable to write to %1").arg(fullPath));
    }

    // ---- look-ups ----
    int32_t FindSection(QStringView name, uint32_t hash) const {
        return sectionIndex.Find(hash, [&](int32_t s) {
            return FoldEqual(View(lines[size_t(sections[size_t(s)].header)].name), name);
        });
    }
    int32_t FindSection(QStringView name) const { return FindSection(name, FoldHash(name)); }

    int32_t FindKey(int32_t section, QStringView key, uint32_t keyHash) const {
        return keyIndex.Find(KeyHash(section, keyHash), [&](int32_t l) {
            const Line& line = lines[size_t(l)];
            return line.section == section && FoldEqual(View(line.name), key);
        });
    }
    int32_t FindKey(QStringView section, QStringView key) const {
        const int32_t s = FindSection(Trim(section));
        if (s < 0)
            return -1;
        const QStringView k = Trim(key);
        return FindKey(s, k, FoldHash(k));
    }

    // The value of a key, cut to what ReadString gives; null view when absent.
    bool Value(const QString& Section, const QString& Ident, QStringView& out) const {
        const int32_t l = FindKey(Section, Ident);
        if (l < 0)
            return false;
        out = View(lines[size_t(l)].value);
        if (out.size() > kMaxValueLength)
            out = out.first(kMaxValueLength);
        return true;
    }

    // ---- reading ----
    void Load();
    void Parse();

    // ---- writing ----
    int32_t NewLine(Kind kind) {
        lines.emplace_back();
        Line& l = lines.back();
        l.kind = kind;
        l.eol = defaultEol;
        return int32_t(lines.size() - 1);
    }
    void LinkAfter(int32_t after, int32_t l) {
        if (after < 0) { // at the end
            if (tail < 0)
                head = l;
            else
                lines[size_t(tail)].next = l;
            tail = l;
            return;
        }
        lines[size_t(l)].next = lines[size_t(after)].next;
        lines[size_t(after)].next = l;
        if (tail == after)
            tail = l;
    }
    void Write(const QString& Section, const QString& Ident, const QString& Value);
    bool Compose(Encoding encoding, bool bom, QByteArray& out) const;
};

void TIniFile::Data::Load() {
    if (mode == Mode::Fresh)
        return;
    const QFileInfo info(fullPath);
    if (!info.exists() && !info.isSymLink())
        return; // a new file
    QFile file(fullPath);
    // Only a regular file: opening a named pipe or a device could block for ever.
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        loadFailed = true;
        return;
    }
    if (file.size() > kMaxFileBytes) {
        loadFailed = true;
        return;
    }
    // Read in pieces rather than by the reported size: files such as those under /proc report 0.
    QByteArray bytes;
    char chunk[65536];
    for (;;) {
        const qint64 got = file.read(chunk, sizeof chunk);
        if (got < 0) {
            loadFailed = true;
            return;
        }
        if (got == 0)
            break;
        if (bytes.size() + got > kMaxFileBytes) {
            loadFailed = true;
            return;
        }
        if (bytes.isEmpty() && file.size() > 0)
            bytes.reserve(qsizetype(file.size()));
        bytes.append(chunk, qsizetype(got));
    }
    raw = std::move(bytes);

    const Detected detected = Detect(raw);
    rawEncoding = detected.encoding;
    fileEncoding = detected.encoding;
    fileBom = detected.bom > 0;
    chooseEncoding = detected.bom == 0 && !HasNonAscii(raw);
    text = Decode(detected.encoding, QByteArrayView(raw).sliced(detected.bom));
    Parse();
}

void TIniFile::Data::Parse() {
    const char16_t* t = U16(text);
    const qsizetype n = text.size();
    const int bom = fileBom ? (rawEncoding == Encoding::Utf8 ? 3 : 2) : 0;

    lines.reserve(size_t(n / 24 + 16));
    keyIndex.Reserve(n / 24 + 16);

    // Byte offsets of the lines: direct for one and two byte units, a parallel scan for UTF-8.
    const char* rb = raw.constData();
    const qsizetype rn = raw.size();
    qsizetype rpos = bom;
    bool firstEol = true;
    rawValid = true;

    int32_t current = -1; // the section that the lines belong to
    qsizetype pos = 0;
    while (pos < n) {
        const qsizetype start = pos;
        qsizetype end = pos;
        while (end < n && t[end] != u'\n' && t[end] != u'\r')
            ++end;
        Eol eol = Eol::None;
        pos = end;
        if (end < n) {
            if (t[end] == u'\r') {
                if (end + 1 < n && t[end + 1] == u'\n') {
                    eol = Eol::CrLf;
                    pos = end + 2;
                } else {
                    eol = Eol::Cr;
                    pos = end + 1;
                }
            } else {
                eol = Eol::Lf;
                pos = end + 1;
            }
            if (firstEol) {
                defaultEol = eol;
                firstEol = false;
            }
        }

        const int32_t index = int32_t(lines.size());
        lines.emplace_back();
        Line& line = lines.back();
        line.original = true;
        line.eol = eol;
        line.textOff = uint32_t(start);
        line.textLen = uint32_t(end - start);
        line.next = -1;
        if (index > 0)
            lines[size_t(index) - 1].next = index;

        switch (rawEncoding) {
        case Encoding::Cp1251:
            line.rawOff = uint32_t(start);
            line.rawLen = uint32_t(end - start);
            break;
        case Encoding::Utf16LE:
        case Encoding::Utf16BE:
            line.rawOff = uint32_t(bom + 2 * start);
            line.rawLen = uint32_t(2 * (end - start));
            break;
        case Encoding::Utf8: {
            qsizetype rend = rpos;
            while (rend < rn && rb[rend] != '\n' && rb[rend] != '\r')
                ++rend;
            line.rawOff = uint32_t(rpos);
            line.rawLen = uint32_t(rend - rpos);
            rpos = rend;
            if (rpos < rn)
                rpos += (rb[rpos] == '\r' && rpos + 1 < rn && rb[rpos + 1] == '\n') ? 2 : 1;
            break;
        }
        }
        if (eol == Eol::None) // the last line runs to the end of the bytes (an odd byte included)
            line.rawLen = uint32_t(qMax<qsizetype>(0, rn - qsizetype(line.rawOff)));
        if (qsizetype(line.rawOff) + qsizetype(line.rawLen) > rn)
            rawValid = false;

        // The line's meaning.
        qsizetype i = start;
        while (i < end && IsBlank(t[i]))
            ++i;
        if (i == end || t[i] == u';')
            continue;
        if (t[i] == u'[') {
            qsizetype close = i + 1;
            while (close < end && t[close] != u']')
                ++close;
            const QStringView name = Trim(QStringView(t + i + 1, close - i - 1));
            line.kind = Kind::Header;
            line.name = TextRef(name.utf16(), name.size());
            const int32_t s = int32_t(sections.size());
            line.section = s;
            sections.push_back({index, index, false});
            const uint32_t hash = FoldHash(name);
            if (FindSection(name, hash) < 0) {
                sections.back().winner = true;
                sectionIndex.Insert(hash, s);
            }
            current = s;
            continue;
        }
        if (current < 0)
            continue; // before the first section
        qsizetype eq = i;
        while (eq < end && t[eq] != u'=')
            ++eq;
        if (eq == end)
            continue;
        const QStringView key = Trim(QStringView(t + i, eq - i));
        QStringView value = Trim(QStringView(t + eq + 1, end - eq - 1));
        if (value.size() >= 2 && value.front() == value.back() &&
            (value.front() == u'"' || value.front() == u'\''))
            value = value.sliced(1, value.size() - 2);
        line.kind = Kind::Key;
        line.section = current;
        line.name = TextRef(key.utf16(), key.size());
        line.value = TextRef(value.utf16(), value.size());
        Section& section = sections[size_t(current)];
        section.lastKey = index;
        if (section.winner) {
            const uint32_t nameHash = FoldHash(key);
            if (FindKey(current, key, nameHash) < 0)
                keyIndex.Insert(KeyHash(current, nameHash), index);
        }
    }
    if (rawEncoding == Encoding::Utf8 && rpos != rn && !lines.empty())
        rawValid = false; // the byte scan and the text scan disagree: never use raw offsets
    // A stray odd byte at the end of UTF-16 would shift every unit written after it.
    if ((rawEncoding == Encoding::Utf16LE || rawEncoding == Encoding::Utf16BE) && (rn - bom) % 2)
        rawValid = false;
    if (!lines.empty()) {
        head = 0;
        tail = int32_t(lines.size() - 1);
    }
}

void TIniFile::Data::Write(const QString& Section, const QString& Ident, const QString& Value) {
    const QString sectionText = WithoutLoneSurrogates(Section);
    const QString keyText = WithoutLoneSurrogates(Ident);
    const QString valueText = WithoutLoneSurrogates(Value);
    const QStringView section = Trim(sectionText);
    const QStringView key = Trim(keyText);

    // What no line could hold is refused before anything changes.
    for (QChar c : section)
        if (c == u']' || c == u'\r' || c == u'\n')
            Fail();
    for (QChar c : key)
        if (c == u'=' || c == u'\r' || c == u'\n')
            Fail();
    if (!key.isEmpty() && (key.front() == u';' || key.front() == u'['))
        Fail();
    for (QChar c : valueText)
        if (c == u'\r' || c == u'\n')
            Fail();

    const uint32_t sectionHash = FoldHash(section);
    int32_t s = FindSection(section, sectionHash);
    if (s < 0) {
        const int32_t header = NewLine(Kind::Header);
        lines[size_t(header)].name = Store(section);
        s = int32_t(sections.size());
        lines[size_t(header)].section = s;
        sections.push_back({header, header, true});
        sectionIndex.Insert(sectionHash, s);
        LinkAfter(-1, header);
    }

    const uint32_t keyHash = FoldHash(key);
    const int32_t existing = FindKey(s, key, keyHash);
    if (existing >= 0) {
        Line& line = lines[size_t(existing)];
        if (View(line.value) == QStringView(valueText))
            return; // nothing changes: the line stays as it stands
        const Ref stored = Store(valueText);
        lines[size_t(existing)].value = stored;
        lines[size_t(existing)].changed = true;
        dirty = true;
        return;
    }
    const Ref name = Store(key);
    const Ref value = Store(valueText);
    const int32_t l = NewLine(Kind::Key);
    Line& line = lines[size_t(l)];
    line.name = name;
    line.value = value;
    line.section = s;
    LinkAfter(sections[size_t(s)].lastKey, l);
    sections[size_t(s)].lastKey = l;
    keyIndex.Insert(KeyHash(s, keyHash), l);
    dirty = true;
}

bool TIniFile::Data::Compose(Encoding encoding, bool bom, QByteArray& out) const {
    Output o(encoding, raw.size() + arena.size() * 2 + qsizetype(lines.size()) * 4 + 16);
    if (bom) {
        if (encoding == Encoding::Utf8)
            o.Raw("\xEF\xBB\xBF", 3);
        else if (encoding == Encoding::Utf16LE)
            o.Raw("\xFF\xFE", 2);
        else if (encoding == Encoding::Utf16BE)
            o.Raw("\xFE\xFF", 2);
    }
    const bool useRaw = rawValid && encoding == rawEncoding;
    for (int32_t l = head; l >= 0; l = lines[size_t(l)].next) {
        const Line& line = lines[size_t(l)];
        if (line.original && !line.changed) {
            if (useRaw)
                o.Raw(raw.constData() + line.rawOff, qsizetype(line.rawLen));
            else
                o.Text(LineText(line));
        } else if (line.kind == Kind::Header) {
            o.Char(u'[');
            o.Text(View(line.name));
            o.Char(u']');
        } else {
            o.Text(View(line.name));
            o.Char(u'=');
            const QStringView value = View(line.value);
            const bool quote = NeedsQuotes(value);
            if (quote)
                o.Char(u'"');
            o.Text(value);
            if (quote)
                o.Char(u'"');
        }
        if (!o.Ok())
            return false;
        if (line.eol != Eol::None)
            o.LineEnd(line.eol);
        else if (line.next >= 0)
            o.LineEnd(defaultEol); // a last line without line end that is no longer last
    }
    if (!o.Ok())
        return false;
    out = std::move(o.Bytes());
    return true;
}

TIniFile::TIniFile(const QString& FileName, Mode OpenMode) : d(std::make_unique<Data>()) {
    d->fileName = FileName;
    d->fullPath = QDir::cleanPath(QDir::current().absoluteFilePath(FileName));
    d->mode = OpenMode;
    d->Load();
}

TIniFile::~TIniFile() = default;

const QString& TIniFile::FileName() const {
    return d->fileName;
}

QString TIniFile::ReadString(const QString& Section, const QString& Ident,
                             const QString& Default) const {
    QStringView value;
    if (!d->Value(Section, Ident, value))
        return Default;
    return value.toString();
}

int TIniFile::ReadInteger(const QString& Section, const QString& Ident, int Default) const {
    QStringView value;
    if (!d->Value(Section, Ident, value) || value.isEmpty())
        return Default;
    return StrToIntDef(QString::fromRawData(value.data(), value.size()), Default);
}

double TIniFile::ReadFloat(const QString& Section, const QString& Name, double Default) const {
    QStringView value;
    if (!d->Value(Section, Name, value) || value.isEmpty())
        return Default;
    double result = Default;
    if (!TryStrToFloat(QString::fromRawData(value.data(), value.size()), result))
        return Default;
    return result;
}

void TIniFile::ReadSections(QStringList& Strings) const {
    Strings.clear();
    Strings.reserve(qsizetype(d->sections.size()));
    for (const Data::Section& s : d->sections)
        Strings.append(d->View(d->lines[size_t(s.header)].name).toString());
}

void TIniFile::ReadSection(const QString& Section, QStringList& Strings) const {
    Strings.clear();
    const int32_t s = d->FindSection(Trim(Section));
    if (s < 0)
        return;
    for (int32_t l = d->lines[size_t(d->sections[size_t(s)].header)].next; l >= 0;
         l = d->lines[size_t(l)].next) {
        const Data::Line& line = d->lines[size_t(l)];
        if (line.kind == Kind::Header)
            break;
        if (line.kind != Kind::Key)
            continue;
        const QStringView name = d->View(line.name);
        if (d->FindKey(s, name, FoldHash(name)) == l)
            Strings.append(name.toString());
    }
}

bool TIniFile::SectionExists(const QString& Section) const {
    return d->FindSection(Trim(Section)) >= 0;
}

bool TIniFile::ValueExists(const QString& Section, const QString& Ident) const {
    return d->FindKey(Section, Ident) >= 0;
}

void TIniFile::WriteString(const QString& Section, const QString& Ident, const QString& Value) {
    d->Write(Section, Ident, Value);
}

void TIniFile::WriteInteger(const QString& Section, const QString& Ident, int Value) {
    d->Write(Section, Ident, IntToStr(Value));
}

void TIniFile::WriteFloat(const QString& Section, const QString& Name, double Value) {
    d->Write(Section, Name, FloatToStr(Value));
}

void TIniFile::UpdateFile() {
    if (d->loadFailed)
        d->Fail(); // never replace a file whose content could not be read
    if (d->mode == Mode::Open && !d->dirty)
        return;

    Encoding encoding = d->fileEncoding;
    bool bom = d->fileBom;
    if (d->chooseEncoding) {
        encoding = Encoding::Cp1251;
        bom = false;
    }
    QByteArray out;
    bool composed = d->Compose(encoding, bom, out);
    if (composed && encoding == Encoding::Cp1251 && HasNonAscii(out) &&
        Detect(out).encoding != Encoding::Cp1251)
        composed = false; // it would read back as something else
    if (!composed) {
        encoding = Encoding::Utf8;
        bom = false;
        if (!d->Compose(encoding, bom, out))
            d->Fail(); // not reached: UTF-8 holds every character
    }

    QSaveFile file(d->fullPath);
    if (!file.open(QIODevice::WriteOnly)) // QSaveFile: the old file stays until commit
        d->Fail();
    if (file.write(out) != out.size()) {
        file.cancelWriting();
        d->Fail();
    }
    if (!file.commit())
        d->Fail();

    d->fileEncoding = encoding;
    d->fileBom = bom;
    d->chooseEncoding = !bom && !HasNonAscii(out);
    d->mode = Mode::Open;
    d->dirty = false;
}

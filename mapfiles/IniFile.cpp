#include "mapfiles/IniFile.h"

#include "calibration/Exceptions.h"
#include "calibration/TextConv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

// The engine keeps the file as it was read (its bytes and its decoded text) and a list of lines
// that refer into them by offset, so reading a map of a million keys allocates almost nothing per
// key. Text written later goes into one growing buffer, the arena. Lines form a singly linked list
// in file order, so that a key inserted in the middle of the file costs O(1). Sections are found
// through an open-addressing hash table on case-folded names. A key is identified by the index of
// its (first, winning) section and its name: in a short section it is found by walking the
// section's lines, which lie next to each other in memory, and only a long section has its keys in
// the second hash table. A table of every key costs a cache miss per key both on reading and on
// each look-up; in a map of 100,000 sections those misses took a large part of the time. Reads
// remember the last section found, so one object must not be read from two threads at once.
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
// A section of more lines than this has its keys in the hash table; shorter ones are walked.
constexpr int32_t kMaxWalkedLines = 32;

// The file's decoded text, which is never raw data, so constData() (inline, unlike utf16()) is
// its terminated text.
inline const char16_t* U16(const QString& s) {
    return reinterpret_cast<const char16_t*>(s.constData());
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

inline uint64_t KeyBit(uint32_t nameHash) {
    return uint64_t(1) << (nameHash % 64);
}

inline uint32_t KeyHash(int32_t section, uint32_t nameHash) {
    return Mix(nameHash ^ (uint32_t(section) * 0x9E3779B1u));
}

// Open addressing with linear probing; entries are never removed. A slot holds the full hash in
// its high half and the entry index plus one in its low half (0: empty).
class IndexTable {
public:
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
// exactly what QStringDecoder decodes without error; it is checked by hand because the decoder
// only tells after decoding the whole file, while this stops at the first bad byte (for a
// Windows-1251 map, its first Cyrillic letter) and passes ASCII eight bytes at a time.
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

// Windows-1251 as the ICU decoder of this Qt build reads it, byte by byte; the encoder is its
// exact inverse, so a character has a Windows-1251 form exactly when some byte decodes to it.
struct Cp1251Table {
    bool valid = false;
    std::array<char16_t, 256> chars{}; // byte -> char16_t
    std::vector<uint8_t> reverse = {}; // char16_t -> byte, 0 for none (below 0x80 direct)

    Cp1251Table() {
        QStringDecoder decoder("windows-1251");
        if (!decoder.isValid())
            return;
        QByteArray bytes;
        for (int i = 0; i < 0x100; ++i)
            bytes.append(char(i));
        const QString decoded = decoder.decode(bytes);
        if (decoder.hasError() || decoded.size() != 0x100)
            return;
        for (int i = 0; i < 0x80; ++i)
            if (decoded[i].unicode() != i)
                return;
        reverse.assign(0x10000, 0);
        for (int i = 0; i < 0x100; ++i) {
            const char16_t c = decoded[i].unicode();
            chars[size_t(i)] = c;
            if (c >= 0x80)
                reverse[c] = uint8_t(i);
        }
        valid = true;
    }

    // What the decoder gives, at a fraction of its cost on a large map.
    QString Decode(QByteArrayView bytes) const {
        QString out(bytes.size(), Qt::Uninitialized);
        char16_t* o = reinterpret_cast<char16_t*>(out.data());
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        for (qsizetype i = 0; i < bytes.size(); ++i)
            o[i] = chars[p[i]];
        return out;
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
        if (Cp1251().valid)
            return Cp1251().Decode(bytes);
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

// The bytes of a document being written, in one target encoding. It writes through a cursor into
// a buffer sized up front, since a large map is composed of millions of short pieces.
class Output {
public:
    Output(Encoding encoding, qsizetype reserve) : encoding_(encoding), table_(Cp1251()) {
        buf_.resize(std::max<qsizetype>(reserve, 64));
    }

    bool Ok() const { return ok_; }
    QByteArray& Bytes() {
        buf_.truncate(used_);
        return buf_;
    }

    void Raw(const char* data, qsizetype size) {
        char* out = Room(size);
        std::memcpy(out, data, size_t(size));
        used_ += size;
    }

    void Text(QStringView s) {
        const char16_t* p = s.utf16();
        const qsizetype n = s.size();
        switch (encoding_) {
        case Encoding::Cp1251: {
            char* out = Room(n);
            for (qsizetype i = 0; i < n; ++i) {
                const char16_t c = p[i];
                if (c < 0x80) {
                    out[i] = char(c);
                } else if (table_.valid && table_.reverse[c] != 0) {
                    out[i] = char(table_.reverse[c]);
                } else {
                    ok_ = false;
                    return;
                }
            }
            used_ += n;
            break;
        }
        case Encoding::Utf8: {
            char* const out = Room(3 * n);
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
            used_ += o - out;
            break;
        }
        case Encoding::Utf16LE:
        case Encoding::Utf16BE: {
            const bool le = encoding_ == Encoding::Utf16LE;
            char* out = Room(2 * n);
            for (qsizetype i = 0; i < n; ++i) {
                out[2 * i + (le ? 0 : 1)] = char(p[i] & 0xFF);
                out[2 * i + (le ? 1 : 0)] = char(p[i] >> 8);
            }
            used_ += 2 * n;
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
    // Where the next Size bytes go; the buffer doubles when they do not fit.
    char* Room(qsizetype Size) {
        if (buf_.size() - used_ < Size)
            buf_.resize(std::max(buf_.size() * 2, used_ + Size));
        return buf_.data() + used_;
    }

    Encoding encoding_;
    const Cp1251Table& table_;
    QByteArray buf_;
    qsizetype used_ = 0;
    bool ok_ = true;
};

// One pass without branches over text that a line is to hold, as most text holds nothing of
// note: kRefused when it holds CR, LF or Mark, which no line can hold in its place; kSurrogate
// when it holds a surrogate, paired or not.
constexpr unsigned kRefused = 1, kSurrogate = 2;
unsigned Scan(QStringView Text, char16_t Mark) {
    const char16_t* p = Text.utf16();
    unsigned flags = 0;
    for (qsizetype i = 0; i < Text.size(); ++i) {
        const char16_t c = p[i];
        flags |= unsigned((c == u'\r') | (c == u'\n') | (c == Mark)) |
                 unsigned((c & 0xF800) == 0xD800) << 1;
    }
    return flags;
}

// The index of the first unpaired surrogate of Text, or its size.
qsizetype FirstLoneSurrogate(QStringView Text) {
    const qsizetype n = Text.size();
    const char16_t* p = Text.utf16();
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
    return i;
}

// Replaces unpaired surrogates by U+FFFD; returns Text itself when it holds none.
QString WithoutLoneSurrogates(const QString& Text) {
    const qsizetype n = Text.size();
    const qsizetype i = FirstLoneSurrogate(Text);
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

// The first CR or LF at or after From, or N. Four units at a time: both are below 0x0E, and a word
// whose units all lie at or above 0x0E can hold neither.
qsizetype FindLineBreak(const char16_t* Text, qsizetype From, qsizetype N) {
    qsizetype i = From;
    for (; i + 4 <= N; i += 4) {
        uint64_t word;
        std::memcpy(&word, Text + i, sizeof word);
        if (((word - 0x000E000E000E000Eull) & ~word & 0x8000800080008000ull) == 0)
            continue;
        for (qsizetype k = i; k < i + 4; ++k)
            if (Text[k] == u'\n' || Text[k] == u'\r')
                return k;
    }
    for (; i < N; ++i)
        if (Text[i] == u'\n' || Text[i] == u'\r')
            return i;
    return N;
}

// A growing array of trivially copyable records. It grows with realloc, which moves a large block
// by remapping its pages, where std::vector would copy it and touch twice its memory: the line
// list of a large map grows to tens of megabytes.
template <class T> class PodVector {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    PodVector() = default;
    ~PodVector() { std::free(data_); }
    PodVector(const PodVector&) = delete;
    PodVector& operator=(const PodVector&) = delete;

    void reserve(size_t count) {
        if (count > capacity_)
            Grow(count);
    }
    T& emplace_back() {
        if (size_ == capacity_)
            Grow(std::max<size_t>(64, capacity_ * 2));
        return *new (data_ + size_++) T();
    }
    void append(const T* From, size_t Count) {
        if (Count > capacity_ - size_)
            Grow(std::max(size_ + Count, capacity_ * 2));
        if (Count > 0)
            std::memcpy(static_cast<void*>(data_ + size_), From, Count * sizeof(T));
        size_ += Count;
    }
    T& back() { return data_[size_ - 1]; }
    const T* data() const { return data_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

private:
    void Grow(size_t count) {
        void* grown = std::realloc(static_cast<void*>(data_), count * sizeof(T));
        if (!grown)
            throw std::bad_alloc();
        data_ = static_cast<T*>(grown);
        capacity_ = count;
    }

    T* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

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
        uint32_t nameHash = 0;             // Key: FoldHash(name), which most walks compare alone
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
        int32_t lastKey = -1;  // the last key line of the section, or its header
        int32_t lineCount = 0; // the lines a walk from the header passes, the next header too
        bool winner = false;   // the first section of its name
        bool indexed = false;  // its keys are in keyIndex
        // Bit (FoldHash % 64) of every key name in the section: a name whose bit is clear is not
        // there, which spares the walk when a section is being filled.
        uint64_t keyBits = 0;
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

    PodVector<char16_t> arena;
    PodVector<Line> lines;
    std::vector<Section> sections;
    int32_t head = -1, tail = -1;
    IndexTable sectionIndex;
    IndexTable keyIndex;
    mutable int32_t lastFound = -1;    // a winning section, whose name never changes
    std::array<Ref, 64> recentNames{}; // key names stored lately, by hash

    // ---- text of refs ----
    const char16_t* Ptr(Ref r) const {
        return (r.off & kArenaBit) ? arena.data() + (r.off & ~kArenaBit) : U16(text) + r.off;
    }
    QStringView View(Ref r) const { return QStringView(Ptr(r), qsizetype(r.len)); }
    QStringView LineText(const Line& l) const {
        return QStringView(U16(text) + l.textOff, qsizetype(l.textLen));
    }
    Ref TextRef(const char16_t* p, qsizetype len) const {
        return {uint32_t(p - U16(text)), uint32_t(len)};
    }
    Ref Store(QStringView s) {
        if (arena.size() + size_t(s.size()) >= kArenaBit)
            Fail();
        Ref r{uint32_t(arena.size()) | kArenaBit, uint32_t(s.size())};
        arena.append(s.utf16(), size_t(s.size()));
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

    // The first key line of that name in the section; keyHash is FoldHash(key).
    int32_t FindKey(int32_t section, QStringView key, uint32_t keyHash) const {
        const Section& s = sections[size_t(section)];
        if (!(s.keyBits & KeyBit(keyHash)))
            return -1;
        if (s.indexed)
            return keyIndex.Find(KeyHash(section, keyHash), [&](int32_t l) {
                const Line& line = lines[size_t(l)];
                return line.section == section && FoldEqual(View(line.name), key);
            });
        // A section's lines run from its header to the next header, also after writes.
        for (int32_t l = lines[size_t(s.header)].next; l >= 0; l = lines[size_t(l)].next) {
            const Line& line = lines[size_t(l)];
            if (line.kind == Kind::Header)
                break;
            if (line.kind == Kind::Key && line.nameHash == keyHash &&
                FoldEqual(View(line.name), key))
                return l;
        }
        return -1;
    }
    // Puts the keys of a winning section into keyIndex, the first of equal names only.
    void IndexSection(int32_t section) {
        sections[size_t(section)].indexed = true;
        for (int32_t l = lines[size_t(sections[size_t(section)].header)].next; l >= 0;
             l = lines[size_t(l)].next) {
            const Line& line = lines[size_t(l)];
            if (line.kind == Kind::Header)
                break;
            if (line.kind != Kind::Key)
                continue;
            if (FindKey(section, View(line.name), line.nameHash) < 0)
                keyIndex.Insert(KeyHash(section, line.nameHash), l);
        }
    }
    int32_t FindKey(QStringView section, QStringView key) const {
        // Callers read a section's keys one after another, and the sections mostly in file
        // order: try the last section found, then the one after it, before the hash table.
        const QStringView name = Trim(section);
        const auto is = [&](int32_t s) {
            return s >= 0 && size_t(s) < sections.size() && sections[size_t(s)].winner &&
                   FoldEqual(View(lines[size_t(sections[size_t(s)].header)].name), name);
        };
        int32_t s = lastFound;
        if (!is(s)) {
            s = lastFound + 1;
            if (!is(s))
                s = FindSection(name);
            if (s < 0)
                return -1;
            lastFound = s;
        }
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
    // Read until the end rather than by the reported size: files such as those under /proc
    // report 0. The reported size plus one byte usually takes the whole file in one read.
    QByteArray bytes;
    qsizetype have = 0;
    for (;;) {
        if (have == bytes.size()) {
            const qsizetype room = std::max<qsizetype>(65536, qsizetype(file.size()) + 1 - have);
            bytes.resize(std::min(have + room, kMaxFileBytes + 1));
        }
        const qint64 got = file.read(bytes.data() + have, bytes.size() - have);
        if (got < 0) {
            loadFailed = true;
            return;
        }
        if (got == 0)
            break;
        have += qsizetype(got);
        if (have > kMaxFileBytes) {
            loadFailed = true;
            return;
        }
    }
    bytes.truncate(have);
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

    // The line list is reserved once rather than grown step by step. Counting CR and LF alike
    // (twice the lines for CRLF) keeps the loop free of branches; the part of the reserve that
    // stays unused is never touched.
    qsizetype breaks = 1;
    for (qsizetype i = 0; i < n; ++i)
        breaks += (t[i] == u'\n') | (t[i] == u'\r');
    lines.reserve(size_t(breaks));

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
        const qsizetype end = FindLineBreak(t, pos, n);
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

        if (current >= 0)
            ++sections[size_t(current)].lineCount;

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
            sections.push_back({index, index, 0, false, false, 0});
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
        line.nameHash = FoldHash(key);
        line.value = TextRef(value.utf16(), value.size());
        sections[size_t(current)].lastKey = index;
        sections[size_t(current)].keyBits |= KeyBit(line.nameHash);
    }
    for (size_t s = 0; s < sections.size(); ++s)
        if (sections[s].winner && sections[s].lineCount > kMaxWalkedLines)
            IndexSection(int32_t(s));
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
    // A map writes a million values: each text is scanned once, and copied only to repair an
    // unpaired surrogate. Trimming and the repair leave CR, LF and the marks where they are, so
    // the text as given tells whether it is refused; what no line could hold is refused before
    // anything changes.
    QString repaired[3];
    const auto text = [&](const QString& Text, char16_t Mark, QString& Repaired) -> QStringView {
        const unsigned flags = Scan(Text, Mark);
        if (flags & kRefused)
            Fail();
        if (!(flags & kSurrogate) || FirstLoneSurrogate(Text) == Text.size())
            return Text;
        Repaired = WithoutLoneSurrogates(Text);
        return Repaired;
    };
    // Writers fill a section key after key: try the section of the last call first. A name equal
    // to a section's is one that a header holds, so it needs no repair and no check.
    int32_t s = lastFound;
    const bool sameSection =
        s >= 0 && FoldEqual(View(lines[size_t(sections[size_t(s)].header)].name), Trim(Section));
    const QStringView section =
        sameSection ? QStringView() : Trim(text(Section, u']', repaired[0]));
    const QStringView key = Trim(text(Ident, u'=', repaired[1]));
    const QStringView valueText = text(Value, u'\n', repaired[2]);
    if (!key.isEmpty() && (key.front() == u';' || key.front() == u'['))
        Fail();

    if (!sameSection) {
        const uint32_t sectionHash = FoldHash(section);
        s = FindSection(section, sectionHash);
        if (s < 0) {
            const int32_t header = NewLine(Kind::Header);
            lines[size_t(header)].name = Store(section);
            s = int32_t(sections.size());
            lines[size_t(header)].section = s;
            sections.push_back({header, header, 0, true, false, 0});
            sectionIndex.Insert(sectionHash, s);
            LinkAfter(-1, header);
        }
        lastFound = s;
    }

    const uint32_t keyHash = FoldHash(key);
    const int32_t existing = FindKey(s, key, keyHash);
    if (existing >= 0) {
        Line& line = lines[size_t(existing)];
        if (View(line.value) == valueText)
            return; // nothing changes: the line stays as it stands
        const Ref stored = Store(valueText);
        lines[size_t(existing)].value = stored;
        lines[size_t(existing)].changed = true;
        dirty = true;
        return;
    }
    // Key names repeat from section to section: keep one copy of each recent one.
    Ref& recent = recentNames[keyHash % recentNames.size()];
    if (!(recent.off & kArenaBit) || View(recent) != key)
        recent = Store(key);
    const Ref name = recent;
    const Ref value = Store(valueText);
    const int32_t l = NewLine(Kind::Key);
    Line& line = lines[size_t(l)];
    line.name = name;
    line.nameHash = keyHash;
    line.value = value;
    line.section = s;
    LinkAfter(sections[size_t(s)].lastKey, l);
    auto& owner = sections[size_t(s)];
    owner.lastKey = l;
    owner.keyBits |= KeyBit(keyHash);
    ++owner.lineCount;
    if (owner.indexed)
        keyIndex.Insert(KeyHash(s, keyHash), l);
    else if (owner.lineCount > kMaxWalkedLines)
        IndexSection(s);
    dirty = true;
}

bool TIniFile::Data::Compose(Encoding encoding, bool bom, QByteArray& out) const {
    Output o(encoding, raw.size() + qsizetype(arena.size()) * 2 + qsizetype(lines.size()) * 4 + 16);
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
        if (d->FindKey(s, name, line.nameHash) == l)
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

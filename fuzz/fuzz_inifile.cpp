// The profile engine on any bytes: whatever it reads must survive being written back.
//
// 1. The input is parsed; every section, its keys and their values are taken down.
// 2. A fresh file gets every section that holds keys, with the same keys and values; re-parsed,
//    it must give exactly those.
// 3. The input file itself is edited in place (every value replaced, one key and one section
//    added); re-parsed, it must hold the same section headers plus the new one, the new values,
//    and nothing else changed.

#include "FuzzSupport.h"

#include "calibration/Exceptions.h"
#include "mapfiles/IniFile.h"

#include <QFile>
#include <utility>
#include <vector>

namespace {

struct Section {
    QString Name;
    std::vector<std::pair<QString, QString>> Keys;
};

// The sections that reads reach (the first of equal names), with their keys and values.
std::vector<Section> Contents(const TIniFile& Ini) {
    QStringList names;
    Ini.ReadSections(names);
    std::vector<Section> out;
    QStringList seen;
    for (const QString& name : names) {
        if (seen.contains(name, Qt::CaseInsensitive))
            continue;
        seen << name;
        Section s{name, {}};
        QStringList keys;
        Ini.ReadSection(name, keys);
        for (const QString& key : keys) {
            FUZZ_CHECK(Ini.ValueExists(name, key), name + u'/' + key);
            const QString value = Ini.ReadString(name, key, QStringLiteral("\x01absent"));
            FUZZ_CHECK(value.size() <= 2047, name + u'/' + key);
            s.Keys.emplace_back(key, value);
        }
        out.push_back(std::move(s));
    }
    return out;
}

QString Describe(const std::vector<Section>& Sections) {
    QString out;
    for (const Section& s : Sections) {
        out += u'[' + Printable(s.Name) + u']';
        for (const auto& [key, value] : s.Keys)
            out += u' ' + Printable(key) + u'=' + Printable(value);
        out += u'\n';
    }
    return out;
}

void CheckSame(const std::vector<Section>& Got, const std::vector<Section>& Want,
               const char* Step) {
    bool same = Got.size() == Want.size();
    for (size_t i = 0; same && i < Got.size(); ++i)
        same = Got[i].Name == Want[i].Name && Got[i].Keys == Want[i].Keys;
    FUZZ_CHECK(same, QString::fromLatin1(Step) + QStringLiteral("\nwanted:\n") + Describe(Want) +
                         QStringLiteral("got:\n") + Describe(Got));
}

// A different value for every key, including texts that need quoting to survive.
QString Edited(const QString& Value, size_t Index) {
    switch (Index % 4) {
    case 0:
        return Value + QStringLiteral("x");
    case 1:
        return u' ' + Value.left(2000) + u' ';
    case 2:
        return u'"' + Value.left(2000) + u'"';
    default:
        return QString(Value.size() % 5, u'Ж') + Value.left(2040);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    FuzzInit();
    const QString in = FuzzFile(Data, Size, "ini");
    std::vector<Section> original;
    QStringList headers;
    {
        const TIniFile ini(in);
        original = Contents(ini);
        ini.ReadSections(headers);
    }

    // 2. Into a fresh file.
    const QString out = FuzzOutFile("ini");
    std::vector<Section> withKeys;
    try {
        TIniFile fresh(out, TIniFile::Mode::Fresh);
        for (const Section& s : original) {
            if (s.Keys.empty())
                continue;
            withKeys.push_back(s);
            for (const auto& [key, value] : s.Keys)
                fresh.WriteString(s.Name, key, value);
        }
        fresh.UpdateFile();
    } catch (const Exception& e) {
        FUZZ_CHECK(false, QStringLiteral("writing back: ") + e.Message());
    }
    CheckSame(Contents(TIniFile(out)), withKeys, "written into a fresh file");

    // 3. In place.
    std::vector<Section> edited = original;
    const QString added = QStringLiteral("Fuzz added section");
    try {
        TIniFile ini(in);
        size_t n = 0;
        for (Section& s : edited)
            for (auto& [key, value] : s.Keys) {
                value = Edited(value, n++).left(2047);
                ini.WriteString(s.Name, key, value);
            }
        if (!edited.empty()) {
            ini.WriteString(edited.front().Name, QStringLiteral("FuzzNewKey"), QStringLiteral("1"));
            bool had = false;
            for (auto& [key, value] : edited.front().Keys)
                if (key.compare(QStringLiteral("FuzzNewKey"), Qt::CaseInsensitive) == 0) {
                    value = QStringLiteral("1");
                    had = true;
                }
            if (!had)
                edited.front().Keys.emplace_back(QStringLiteral("FuzzNewKey"), QStringLiteral("1"));
        }
        bool hadSection = false;
        for (const Section& s : edited)
            hadSection = hadSection || s.Name.compare(added, Qt::CaseInsensitive) == 0;
        ini.WriteString(added, QStringLiteral("k"), QStringLiteral("v"));
        if (!hadSection) {
            edited.push_back({added, {{QStringLiteral("k"), QStringLiteral("v")}}});
            headers << added;
        } else {
            for (Section& s : edited)
                if (s.Name.compare(added, Qt::CaseInsensitive) == 0) {
                    bool had = false;
                    for (auto& [key, value] : s.Keys)
                        if (key.compare(QStringLiteral("k"), Qt::CaseInsensitive) == 0) {
                            value = QStringLiteral("v");
                            had = true;
                        }
                    if (!had)
                        s.Keys.emplace_back(QStringLiteral("k"), QStringLiteral("v"));
                    break;
                }
        }
        ini.UpdateFile();
    } catch (const Exception& e) {
        FUZZ_CHECK(false, QStringLiteral("editing in place: ") + e.Message());
    }
    const TIniFile back(in);
    CheckSame(Contents(back), edited, "edited in place");
    QStringList backHeaders;
    back.ReadSections(backHeaders);
    FUZZ_CHECK(backHeaders == headers,
               headers.join(u'|') + QStringLiteral(" became ") + backHeaders.join(u'|'));
    return 0;
}

#include "mapfiles/MapFile.h"

#include "calibration/TextConv.h"
#include "mapfiles/IniFile.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace {

const QString kGlobal = QStringLiteral("Global");
const QString kPrefix = QStringLiteral("Calibr_");

// Maps travel between machines whose decimal separators differ, so a number is read with either
// mark; writing keeps the local separator, which is what the Windows program reads.
double ReadMapFloat(const TIniFile& Ini, const QString& Section, const QString& Key,
                    double Default) {
    double value = Default;
    TryStrToFloatAnyMark(Ini.ReadString(Section, Key, QString()), value);
    return value;
}

// The index that Tail names when it is exactly the integer text of one (decimal digits, no sign,
// no leading zero), or -1.
int SectionIndex(QStringView Tail) {
    if (Tail.isEmpty() || Tail.size() > 10 || (Tail.size() > 1 && Tail[0] == u'0'))
        return -1;
    int64_t value = 0;
    for (QChar c : Tail) {
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value <= std::numeric_limits<int>::max() ? int(value) : -1;
}

} // namespace

void TCalibration::VlmSave(TIniFile& Ini, const QString& Section) const {
    Ini.WriteString(Section, QStringLiteral("Name"), Name);
    Ini.WriteInteger(Section, QStringLiteral("Id"), Id);
    Ini.WriteString(Section, QStringLiteral("IdMox"), IdMox);
    Ini.WriteInteger(Section, QStringLiteral("ByteAdress"), ByteAdress);
    Ini.WriteInteger(Section, QStringLiteral("ByteLength"), ByteLength);
    Ini.WriteInteger(Section, QStringLiteral("TypeTaring"), TypeTaring);
    Ini.WriteInteger(Section, QStringLiteral("TypeTable"), TypeTable);
    Ini.WriteFloat(Section, QStringLiteral("ValueStep"), ValueStep);
    Ini.WriteFloat(Section, QStringLiteral("ValueOffset"), ValueOffset);
    Ini.WriteFloat(Section, QStringLiteral("ValueDivision"), ValueDivision);
    Ini.WriteFloat(Section, QStringLiteral("CoefRevMyl"), CoefRevMyl);
}

bool TCalibration::VlmLoad(const TIniFile& Ini, const QString& Section) {
    IsLoaded = false;
    Name = Ini.ReadString(Section, QStringLiteral("Name"), Name);
    Id = Ini.ReadInteger(Section, QStringLiteral("Id"), Id);
    IdMox = Ini.ReadString(Section, QStringLiteral("IdMox"), IdMox);
    ByteAdress = Ini.ReadInteger(Section, QStringLiteral("ByteAdress"), ByteAdress);
    ByteLength = Ini.ReadInteger(Section, QStringLiteral("ByteLength"), ByteLength);
    TypeTaring = Ini.ReadInteger(Section, QStringLiteral("TypeTaring"), TypeTaring);
    TypeTable = Ini.ReadInteger(Section, QStringLiteral("TypeTable"), TypeTable);
    ValueStep = ReadMapFloat(Ini, Section, QStringLiteral("ValueStep"), ValueStep);
    ValueOffset = ReadMapFloat(Ini, Section, QStringLiteral("ValueOffset"), ValueOffset);
    ValueDivision = ReadMapFloat(Ini, Section, QStringLiteral("ValueDivision"), ValueDivision);
    CoefRevMyl = ReadMapFloat(Ini, Section, QStringLiteral("CoefRevMyl"), CoefRevMyl);
    if (Name.isEmpty())
        return false;
    IsLoaded = true;
    return true;
}

void WriteMapFile(const QString& FileName, const TCalibrationList& List) {
    // A fresh document replaces the old file whole, and only once it is completely written.
    TIniFile ini(FileName, TIniFile::Mode::Fresh);
    ini.WriteInteger(kGlobal, QStringLiteral("Count"), List.Count());
    ini.WriteString(kGlobal, QStringLiteral("SectionName"), kPrefix);
    for (int i = 0; i < List.Count(); ++i)
        List[i].VlmSave(ini, kPrefix + IntToStr(i));
    ini.UpdateFile();
}

TCalibrationList ReadMapFile(const QString& FileName) {
    const TIniFile ini(FileName);
    const int count = ini.ReadInteger(kGlobal, QStringLiteral("Count"), 0);
    const QString prefix = ini.ReadString(kGlobal, QStringLiteral("SectionName"), QString());
    TCalibrationList list;
    // A Count that the file could hold is taken index by index, the plain way and the fastest
    // for a file written by the editor: a section takes more than 8 bytes, so the look-ups stay
    // in proportion to the file's size.
    if (count <= QFileInfo(FileName).size() / 8) {
        for (int index = 0; index < count; ++index) {
            auto calibration = std::make_unique<TCalibration>();
            if (calibration->VlmLoad(ini, prefix + IntToStr(index)))
                list.Add(std::move(calibration));
        }
        return list;
    }
    // Only sections that exist can load, so walk those rather than every index up to Count: a
    // hostile Count of two billion then costs nothing. The result is the same as trying each
    // index in turn.
    QStringList sections;
    ini.ReadSections(sections);
    std::vector<std::pair<int, qsizetype>> found; // index, and where its section is in sections
    for (qsizetype at = 0; at < sections.size(); ++at) {
        const QString& section = sections[at];
        if (section.size() <= prefix.size() || !section.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        const int index = SectionIndex(QStringView(section).sliced(prefix.size()));
        if (index >= 0 && index < count)
            found.emplace_back(index, at);
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end(),
                            [](const auto& a, const auto& b) { return a.first == b.first; }),
                found.end());
    // The section's own name finds it as prefix + index would: names compare regardless of case.
    for (const auto& [index, at] : found) {
        auto calibration = std::make_unique<TCalibration>();
        if (calibration->VlmLoad(ini, sections[at]))
            list.Add(std::move(calibration));
    }
    return list;
}

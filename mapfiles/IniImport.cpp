#include "mapfiles/IniImport.h"

#include "calibration/TextConv.h"
#include "mapfiles/Catalogue.h"
#include "mapfiles/IniFile.h"

#include <cstdint>

namespace {

// A scaling factor as the outside program exports it: in double quotes or not, with whatever
// decimal mark the exporting machine used.
bool ReadDecimal(const TIniFile& Ini, const QString& Section, const QString& Key, double& Value) {
    QString text = Ini.ReadString(Section, Key, QString());
    text.remove(u'"');
    return TryStrToFloatAnyMark(text, Value);
}

// The taring code: a "0x" value keeps only its low byte, any other integer text is kept whole.
bool ReadTaring(const QString& Text, int& Value) {
    if (Text.size() >= 3 && Text.startsWith(QLatin1StringView("0x"))) {
        Value = PrefixedHexToInt(Text) & 0xFF;
        return true;
    }
    return TryStrToInt(Text, Value);
}

bool TableType(const QString& Text, int& Type) {
    if (Text == QLatin1StringView("1D"))
        Type = 1;
    else if (Text == QLatin1StringView("2D"))
        Type = 2;
    else if (Text == QLatin1StringView("3D"))
        Type = 3;
    else
        return false;
    return true;
}

} // namespace

bool TCalibration::IniLoad(const TIniFile& Ini, int IdConst, const QString& Section) {
    IsLoaded = false;
    const auto has = [&](const char* Key) { return Ini.ValueExists(Section, QLatin1String(Key)); };
    const auto read = [&](const char* Key) {
        return Ini.ReadString(Section, QLatin1String(Key), QString());
    };

    if (!has("Name"))
        return false;
    Name = read("Name");
    Name.remove(u'"');
    Id = IdConst;

    if (!has("Offset00"))
        return false;
    IdMox = read("Offset00").mid(2); // the export writes the identifier after a "0x"

    if (!has("Addr"))
        return false;
    ByteAdress = PrefixedHexToInt(read("Addr"));

    ValueStep = 1.0;
    if (has("F_MulMul") && !ReadDecimal(Ini, Section, QStringLiteral("F_MulMul"), ValueStep))
        return false;
    ValueDivision = 1.0;
    if (has("F_DivDiv") && !ReadDecimal(Ini, Section, QStringLiteral("F_DivDiv"), ValueDivision))
        return false;
    CoefRevMyl = 0.0;
    if (has("F_RevDiv") && !ReadDecimal(Ini, Section, QStringLiteral("F_RevDiv"), CoefRevMyl))
        return false;
    ValueOffset = 0.0;
    if (has("F_Sub1st")) {
        if (!ReadDecimal(Ini, Section, QStringLiteral("F_Sub1st"), ValueOffset))
            return false;
    } else if (has("F_Sub2nd")) {
        if (!ReadDecimal(Ini, Section, QStringLiteral("F_Sub2nd"), ValueOffset))
            return false;
    }

    TypeTaring = 0;
    if (has("Format") && !ReadTaring(read("Format"), TypeTaring))
        return false;

    if (!has("Type") || !TableType(read("Type"), TypeTable))
        return false;

    if (TypeTable == 1) {
        ByteLength = 1;
    } else {
        // Cell counts are 32-bit and wrap, as the exporting program computes them.
        uint32_t cells = 0;
        if (has("PixelX"))
            cells += uint32_t(Ini.ReadInteger(Section, QStringLiteral("PixelX"), 0));
        if (TypeTable == 3 && has("PixelY"))
            cells *= uint32_t(Ini.ReadInteger(Section, QStringLiteral("PixelY"), 0));
        ByteLength = int32_t(cells);
    }
    if (ByteLength == 0)
        return false;

    IsLoaded = true;
    return true;
}

bool LoadIniCalibration(TCalibrationList& List, const TIniFile& Ini, const QStringList& Sections,
                        int Id, const QString& CatalogueName, const QStringList& NormalisedNames) {
    const QString wanted = NormalizeName(CatalogueName);
    // The last matching section wins, as in the outside program; earlier ones are not tried.
    qsizetype found = -1;
    for (qsizetype i = 0; i < NormalisedNames.size(); ++i)
        if (NormalisedNames[i] == wanted)
            found = i;
    if (found < 0)
        return false;

    auto calibration = std::make_unique<TCalibration>();
    if (!calibration->IniLoad(Ini, Id, Sections[found]))
        return false;
    List.Add(std::move(calibration));
    return true;
}

TCalibrationList ReadIniMap(const TIniFile& Ini) {
    QStringList allSections;
    Ini.ReadSections(allSections);

    QStringList sections;
    QStringList normalisedNames;
    for (const QString& section : allSections) {
        int type;
        if (!TableType(Ini.ReadString(section, QStringLiteral("Type"), QString()), type))
            continue;
        const QString name = Ini.ReadString(section, QStringLiteral("Name"), QString());
        if (name.isEmpty())
            continue;
        sections << section;
        normalisedNames << NormalizeName(name);
    }

    TCalibrationList list;
    LoadCatalogueCalibrations([&](const QString& CatalogueName, int Id) {
        return LoadIniCalibration(list, Ini, sections, Id, CatalogueName, normalisedNames);
    });
    return list;
}

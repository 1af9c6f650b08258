#pragma once

#include <QString>
#include <memory>
#include <vector>

class TIniFile;
class TStringGrid;
class QDomNode;

// One table of a firmware image, as a map describes it. Plain fields, no invariant of its own.
class TCalibration {
public:
    bool IsLoaded = false;
    QString Name;
    int Id = -1;
    QString IdMox = QStringLiteral("00000000");
    int ByteAdress = -1;
    int ByteLength = 0;
    int TypeTaring = 0;
    int TypeTable = 0;
    double ValueStep = 1.0;
    double ValueOffset = 0.0;
    double ValueDivision = 1.0;
    double CoefRevMyl = 0.0;

    // The load operations start with IsLoaded false and set it true on success; a field that
    // the source does not supply keeps its value.

    // One section of a map file (mapfiles/MapFile.cpp).
    void VlmSave(TIniFile& Ini, const QString& Section) const;
    bool VlmLoad(const TIniFile& Ini, const QString& Section);
    // One section of an exported INI map (mapfiles/IniImport.cpp).
    bool IniLoad(const TIniFile& Ini, int IdConst, const QString& Section);
    // One element of an XML map (mapfiles/XmlImport.cpp). Conversion errors propagate.
    bool XmlLoad(const QDomNode& Xml, int IdConst, const QString& NewName);
    // One row of the calibration table (ui/CalibrationGrid.cpp).
    void GridSave(TStringGrid& StringGrid, int indexRow) const;
    bool GridLoad(const TStringGrid& StringGrid, int indexRow);

private:
    bool ReadAttribute(const QDomNode& Node, const QString& AttrName, bool Complain,
                       QString& Value) const;
};

// The calibrations of one map, in order. Owns its records.
class TCalibrationList {
public:
    std::vector<std::unique_ptr<TCalibration>> Items;

    void Add(std::unique_ptr<TCalibration> NewItem) { Items.push_back(std::move(NewItem)); }
    int Count() const { return int(Items.size()); }
    const TCalibration& operator[](int Index) const { return *Items[size_t(Index)]; }
};

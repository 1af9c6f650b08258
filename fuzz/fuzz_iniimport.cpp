// The exported INI import on any bytes: whatever it keeps must be a catalogue table with the
// catalogue's Id, in catalogue order, each entry at most once, and a calibration the import
// defines as loaded (a type of 1 to 3, a cell count that is not 0, no quote left in the name).
//
// The input is the file itself; its first byte also picks the decimal separator.

#include "FuzzSupport.h"

#include "calibration/TextConv.h"
#include "mapfiles/Catalogue.h"
#include "mapfiles/IniFile.h"
#include "mapfiles/IniImport.h"

namespace {

QString Squeezed(const QString& Name) {
    return NormalizeName(Name).remove(u' ');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    FuzzInit();
    SetDecimalSeparator(Size > 0 && (Data[0] & 1) ? QChar(u',') : QChar(u'.'));
    const TIniFile ini(FuzzFile(Data, Size, "ini"));
    const TCalibrationList list = ReadIniMap(ini);
    const auto& catalogue = CalibrationCatalogue();
    size_t entry = 0;
    bool mainCorrection = false;
    for (const auto& c : list.Items) {
        const QString what = Printable(c->Name) + QStringLiteral(" Id %1").arg(c->Id);
        // The next catalogue entry, from where the last one matched, whose normalised name is
        // the calibration's. The import matches the name with its quotes (a quote counts as a
        // space) and keeps it without them, so a quote between two words leaves no space:
        // compare without spaces.
        const QString name = Squeezed(c->Name);
        while (entry < catalogue.size() && Squeezed(catalogue[entry].Name) != name)
            ++entry;
        FUZZ_CHECK(entry < catalogue.size(), QStringLiteral("out of catalogue order: ") + what);
        FUZZ_CHECK(c->Id == catalogue[entry].Id, what);
        FUZZ_CHECK(!catalogue[entry].OnlyWithoutEntry3 || !mainCorrection,
                   QStringLiteral("a fallback with the main correction: ") + what);
        if (entry == 2)
            mainCorrection = true;
        ++entry;
        FUZZ_CHECK(c->IsLoaded, what);
        FUZZ_CHECK(c->TypeTable >= 1 && c->TypeTable <= 3, what);
        FUZZ_CHECK(c->ByteLength != 0, what);
        FUZZ_CHECK(c->TypeTable != 1 || c->ByteLength == 1, what);
        FUZZ_CHECK(!c->Name.contains(u'"'), what);
    }
    return 0;
}

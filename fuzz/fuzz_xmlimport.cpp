// The XML import on any bytes: the document either fails to load with the parse failure's
// message, or the map it gives holds catalogue tables with the catalogue's Id and normalised
// name, in catalogue order; a conversion failure ends the command with its own message.
//
// The input is the file itself; its first byte also picks the decimal separator.

#include "FuzzSupport.h"

#include "calibration/Exceptions.h"
#include "calibration/Messages.h"
#include "calibration/TextConv.h"
#include "mapfiles/Catalogue.h"
#include "mapfiles/XmlImport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    FuzzInit();
    SetDecimalSeparator(Size > 0 && (Data[0] & 1) ? QChar(u',') : QChar(u'.'));
    TXMLDocument doc;
    try {
        doc.LoadFromFile(FuzzFile(Data, Size, "xml"));
    } catch (const Exception& e) {
        FUZZ_CHECK(!doc.Active(), e.Message());
        FUZZ_CHECK(e.Message().contains(QStringLiteral("\r\nLine: ")), e.Message());
        return 0;
    }
    FUZZ_CHECK(doc.Active(), QStringLiteral("loaded but not active"));
    TCalibrationList list;
    try {
        list = ReadXmlMap(doc);
    } catch (const EConvertError& e) {
        FUZZ_CHECK(e.Message().endsWith(QStringLiteral(" is not a valid integer value")) ||
                       e.Message().endsWith(QStringLiteral(" is not a valid floating point value")),
                   e.Message());
        return 0;
    }
    const auto& catalogue = CalibrationCatalogue();
    size_t entry = 0;
    for (const auto& c : list.Items) {
        const QString what = Printable(c->Name) + QStringLiteral(" Id %1").arg(c->Id);
        while (entry < catalogue.size() && NormalizeName(catalogue[entry].Name) != c->Name)
            ++entry;
        FUZZ_CHECK(entry < catalogue.size(), QStringLiteral("out of catalogue order: ") + what);
        FUZZ_CHECK(c->Id == catalogue[entry].Id, what);
        ++entry;
        FUZZ_CHECK(c->IsLoaded, what);
        FUZZ_CHECK(c->TypeTable >= 0 && c->TypeTable <= 3, what);
        FUZZ_CHECK(c->TypeTable != 1 || c->ByteLength == 1, what);
        FUZZ_CHECK(c->TypeTable != 0 || c->ByteLength == 0, what);
        FUZZ_CHECK(c->IdMox.size() <= 8, what);
    }
    doc.Close();
    FUZZ_CHECK(!doc.Active(), QStringLiteral("closed but active"));
    return 0;
}

// ReadMapFile on any bytes, then the map it gave written with WriteMapFile and read again: the
// second read must give the same calibrations (the Doubles at their 15-digit text), and writing
// that map once more must give the same bytes.
//
// The input is the file itself; its first byte also picks the decimal separator.

#include "FuzzSupport.h"

#include "calibration/Exceptions.h"
#include "calibration/TextConv.h"
#include "mapfiles/MapFile.h"

#include <QFile>

namespace {

QString Describe(const TCalibration& C) {
    return QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10 %11")
        .arg(Printable(C.Name), IntToStr(C.Id), Printable(C.IdMox), IntToStr(C.ByteAdress),
             IntToStr(C.ByteLength), IntToStr(C.TypeTaring), IntToStr(C.TypeTable),
             FloatToStr(C.ValueStep), FloatToStr(C.ValueOffset))
        .arg(FloatToStr(C.ValueDivision), FloatToStr(C.CoefRevMyl));
}

QByteArray Bytes(const QString& Path) {
    QFile file(Path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    FuzzInit();
    SetDecimalSeparator(Size > 0 && (Data[0] & 1) ? QChar(u',') : QChar(u'.'));
    const TCalibrationList first = ReadMapFile(FuzzFile(Data, Size, "vlm"));
    for (const auto& c : first.Items) {
        FUZZ_CHECK(c->IsLoaded && !c->Name.isEmpty(), Describe(*c));
        FUZZ_CHECK(c->Name.size() <= 2047 && c->IdMox.size() <= 2047, Describe(*c));
    }

    const QString out = FuzzOutFile("vlm");
    try {
        WriteMapFile(out, first);
    } catch (const Exception& e) {
        FUZZ_CHECK(false, QStringLiteral("writing: ") + e.Message());
    }
    const QByteArray written = Bytes(out);
    const TCalibrationList second = ReadMapFile(out);
    FUZZ_CHECK(second.Count() == first.Count(),
               QStringLiteral("%1 read back as %2").arg(first.Count()).arg(second.Count()));
    for (int i = 0; i < first.Count(); ++i)
        FUZZ_CHECK(Describe(first[i]) == Describe(second[i]),
                   Describe(first[i]) + QStringLiteral("\nread back as\n") + Describe(second[i]));
    WriteMapFile(out, second);
    FUZZ_CHECK(Bytes(out) == written, QStringLiteral("a second save wrote other bytes"));
    return 0;
}

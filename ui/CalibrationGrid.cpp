#include "ui/CalibrationGrid.h"

#include "calibration/TextConv.h"

#include <QHash>

const QStringList& GridHeaders() {
    static const QStringList headers = {
        QStringLiteral("Имя"),       QStringLiteral("Id"),          QStringLiteral("IdMox"),
        QStringLiteral("Тип Табл."), QStringLiteral("Тип Тарир."),  QStringLiteral("Адрес"),
        QStringLiteral("Длина"),     QStringLiteral("Шаг"),         QStringLiteral("Смещ."),
        QStringLiteral("Делит."),    QStringLiteral("Мульпликат."),
    };
    return headers;
}

const QList<int>& GridColumnWidths() {
    static const QList<int> widths = {250, 30, 60, 60, 60, 40, 40, 40, 40, 40};
    return widths;
}

void SetupCalibrationGrid(TStringGrid& StringGrid) {
    const QStringList& headers = GridHeaders();
    for (int col = 0; col < headers.size(); ++col)
        StringGrid.SetCells(col, 0, headers[col]);
    const QList<int>& widths = GridColumnWidths();
    for (int col = 0; col < widths.size(); ++col)
        StringGrid.SetColWidths(col, widths[col]);
}

void TCalibration::GridSave(TStringGrid& StringGrid, int indexRow) const {
    StringGrid.SetCells(ColName, indexRow, NormalizeName(Name));
    StringGrid.SetCells(ColId, indexRow, IntToStr(Id));
    StringGrid.SetCells(ColIdMox, indexRow, IdMox);
    StringGrid.SetCells(ColTypeTable, indexRow, IntToStr(TypeTable));
    StringGrid.SetCells(ColTypeTaring, indexRow, IntToStr(TypeTaring));
    StringGrid.SetCells(ColAdress, indexRow, IntToStr(ByteAdress));
    StringGrid.SetCells(ColLength, indexRow, IntToStr(ByteLength));
    StringGrid.SetCells(ColStep, indexRow, FloatToStr(ValueStep));
    StringGrid.SetCells(ColOffset, indexRow, FloatToStr(ValueOffset));
    StringGrid.SetCells(ColDivision, indexRow, FloatToStr(ValueDivision));
    StringGrid.SetCells(ColRevMyl, indexRow, FloatToStr(CoefRevMyl));
}

namespace {

void ReadInt(const TStringGrid& StringGrid, int Col, int Row, int& Field) {
    int value = 0;
    if (TryStrToInt(StringGrid.Cells(Col, Row), value))
        Field = value;
}

// A number typed with either decimal mark is read, as in map files: a table edited on a
// machine whose separator differs from the user's habit must not save the default instead.
void ReadFloat(const TStringGrid& StringGrid, int Col, int Row, double& Field) {
    TryStrToFloatAnyMark(StringGrid.Cells(Col, Row), Field);
}

} // namespace

bool TCalibration::GridLoad(const TStringGrid& StringGrid, int indexRow) {
    IsLoaded = false;
    Name = StringGrid.Cells(ColName, indexRow);
    ReadInt(StringGrid, ColId, indexRow, Id);
    IdMox = StringGrid.Cells(ColIdMox, indexRow);
    ReadInt(StringGrid, ColTypeTable, indexRow, TypeTable);
    ReadInt(StringGrid, ColTypeTaring, indexRow, TypeTaring);
    ReadInt(StringGrid, ColAdress, indexRow, ByteAdress);
    ReadInt(StringGrid, ColLength, indexRow, ByteLength);
    ReadFloat(StringGrid, ColStep, indexRow, ValueStep);
    ReadFloat(StringGrid, ColOffset, indexRow, ValueOffset);
    ReadFloat(StringGrid, ColDivision, indexRow, ValueDivision);
    ReadFloat(StringGrid, ColRevMyl, indexRow, CoefRevMyl);
    IsLoaded = true;
    return true;
}

TCalibrationList CollectGridCalibrations(const TStringGrid& StringGrid) {
    TCalibrationList list;
    list.Items.reserve(size_t(std::max(StringGrid.RowCount() - 2, 0)));
    for (int row = 1; row <= StringGrid.RowCount() - 2; ++row) {
        auto calibration = std::make_unique<TCalibration>();
        if (calibration->GridLoad(StringGrid, row))
            list.Add(std::move(calibration));
    }
    return list;
}

void ClearGrid(TStringGrid& StringGrid) {
    StringGrid.SetRowCount(2);
    for (int col = 0; col < StringGrid.ColCount(); ++col)
        StringGrid.SetCells(col, 1, QString());
}

void FillGrid(TStringGrid& StringGrid, const TCalibrationList& List) {
    if (List.Count() == 0)
        return;
    // Adding the rows one by one would cost one notice per row and per cell; the grid grows once
    // and the view is told once. Each calibration lands where the one-by-one growth puts it: in
    // the row above the new last row, that is from the former last row downwards.
    const int first = StringGrid.RowCount() - 1;
    StringGrid.BeginUpdate();
    StringGrid.SetRowCount(StringGrid.RowCount() + List.Count());
    for (int i = 0; i < List.Count(); ++i)
        List[i].GridSave(StringGrid, first + i);
    StringGrid.EndUpdate();
}

void DeleteGridRow(int indexRow, TStringGrid& StringGrid) {
    StringGrid.SetRow(indexRow);
    StringGrid.DeleteRow(indexRow);
}

bool FindDuplicateId(const TCalibrationList& List, int& Id) {
    QHash<int, int> counts;
    counts.reserve(List.Count());
    for (const auto& item : List.Items)
        ++counts[item->Id];
    for (const auto& item : List.Items) {
        if (counts.value(item->Id) > 1) {
            Id = item->Id;
            return true;
        }
    }
    return false;
}

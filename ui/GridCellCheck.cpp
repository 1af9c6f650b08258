#include "ui/GridCellCheck.h"

#include "calibration/Calibration.h"
#include "calibration/TextConv.h"
#include "ui/CalibrationGrid.h"
#include "ui/StringGrid.h"

namespace {

const TCalibration& Defaults() {
    static const TCalibration defaults;
    return defaults;
}

int IntDefault(int Col) {
    switch (Col) {
    case ColId:
        return Defaults().Id;
    case ColTypeTable:
        return Defaults().TypeTable;
    case ColTypeTaring:
        return Defaults().TypeTaring;
    case ColAdress:
        return Defaults().ByteAdress;
    default:
        return Defaults().ByteLength;
    }
}

double FloatDefault(int Col) {
    switch (Col) {
    case ColStep:
        return Defaults().ValueStep;
    case ColOffset:
        return Defaults().ValueOffset;
    case ColDivision:
        return Defaults().ValueDivision;
    default:
        return Defaults().CoefRevMyl;
    }
}

} // namespace

TGridCellCheck::TGridCellCheck(const TStringGrid& Grid, QObject* Parent)
    : QObject(Parent), grid_(Grid) {
    connect(&Grid, &QAbstractItemModel::modelReset, this, [this] { stale_ = true; });
    connect(&Grid, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int First, int Last) { OnInserted(First, Last); });
    connect(&Grid, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int First, int Last) { OnRemoved(First, Last); });
    connect(&Grid, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& TopLeft, const QModelIndex& BottomRight) {
                OnChanged(TopLeft.row(), BottomRight.row(), TopLeft.column(), BottomRight.column());
            });
}

QString TGridCellCheck::Problem(int Col, int Row) const {
    if (Row < 1 || Row > grid_.RowCount() - 2)
        return QString();
    QStringList problems;
    const QString& text = grid_.Cells(Col, Row);
    switch (Col) {
    case ColId:
    case ColTypeTable:
    case ColTypeTaring:
    case ColAdress:
    case ColLength: {
        int value = 0;
        if (!TryStrToInt(text, value))
            problems << QStringLiteral("Не целое число: при сохранении будет записано %1")
                            .arg(IntToStr(IntDefault(Col)));
        break;
    }
    case ColStep:
    case ColOffset:
    case ColDivision:
    case ColRevMyl: {
        double value = 0;
        if (!TryStrToFloatAnyMark(text, value))
            problems << QStringLiteral("Не число: при сохранении будет записано %1")
                            .arg(FloatToStr(FloatDefault(Col)));
        break;
    }
    default:
        break;
    }
    if (Col == ColId && RepeatsId(Row))
        problems << QStringLiteral("Id %1 есть и в другой строке: карта с повторяющимися Id "
                                   "не сохраняется")
                        .arg(IntToStr(RowId(Row)));
    return problems.join(QLatin1Char('\n'));
}

bool TGridCellCheck::RepeatsId(int Row) const {
    if (Row < 1 || Row > grid_.RowCount() - 2)
        return false;
    if (stale_)
        Rebuild();
    return counts_.value(ids_[size_t(TStringGrid::ModelRow(Row))]) > 1;
}

void TGridCellCheck::Count(int Id, int Delta) const {
    int& count = counts_[Id];
    const bool repeated = count > 1;
    count += Delta;
    if ((count > 1) != repeated)
        repeatsChanged_ = true;
    if (count == 0)
        counts_.remove(Id);
}

// The Id that a row saves: its text when that is integer text, the default otherwise.
int TGridCellCheck::RowId(int Row) const {
    int value = 0;
    return TryStrToInt(grid_.Cells(ColId, Row), value) ? value : Defaults().Id;
}

void TGridCellCheck::Rebuild() const {
    const int rows = grid_.RowCount() - 1;
    ids_.resize(size_t(rows));
    counts_.clear();
    for (int i = 0; i < rows; ++i) {
        ids_[size_t(i)] = RowId(TStringGrid::GridRow(i));
        if (i < rows - 1)
            ++counts_[ids_[size_t(i)]];
    }
    stale_ = false;
}

// Model rows First .. Last are new. Whichever row ends up last is the entry row and uncounted;
// so for a moment every row is counted, and then the new last one is taken out again.
void TGridCellCheck::OnInserted(int First, int Last) {
    if (stale_)
        return;
    repeatsChanged_ = false;
    Count(ids_.back(), +1);
    std::vector<int> added;
    added.reserve(size_t(Last - First + 1));
    for (int i = First; i <= Last; ++i) {
        added.push_back(RowId(TStringGrid::GridRow(i)));
        Count(added.back(), +1);
    }
    ids_.insert(ids_.begin() + First, added.begin(), added.end());
    Count(ids_.back(), -1);
    if (repeatsChanged_)
        emit RepeatsChanged();
}

void TGridCellCheck::OnRemoved(int First, int Last) {
    if (stale_)
        return;
    repeatsChanged_ = false;
    Count(ids_.back(), +1);
    for (int i = First; i <= Last; ++i)
        Count(ids_[size_t(i)], -1);
    ids_.erase(ids_.begin() + First, ids_.begin() + Last + 1);
    Count(ids_.back(), -1);
    if (repeatsChanged_)
        emit RepeatsChanged();
}

void TGridCellCheck::OnChanged(int FirstRow, int LastRow, int FirstCol, int LastCol) {
    if (stale_ || ColId < FirstCol || ColId > LastCol)
        return;
    repeatsChanged_ = false;
    const int last = int(ids_.size()) - 1;
    for (int i = FirstRow; i <= LastRow && i <= last; ++i) {
        const int id = RowId(TStringGrid::GridRow(i));
        if (i < last) {
            Count(ids_[size_t(i)], -1);
            Count(id, +1);
        }
        ids_[size_t(i)] = id;
    }
    if (repeatsChanged_)
        emit RepeatsChanged();
}

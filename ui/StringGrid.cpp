#include "ui/StringGrid.h"

#include <algorithm>

TStringGrid::TStringGrid(int ColCount, QObject* Parent)
    : QAbstractTableModel(Parent), cols_(std::max(ColCount, 1)), cells_(At(0, rows_)),
      widths_(size_t(cols_), DefaultColWidth) {}

void TStringGrid::SetRowCount(int Count) {
    Count = std::max(Count, 2);
    if (Count == rows_)
        return;
    const bool notify = updating_ == 0;
    if (Count > rows_) {
        if (notify)
            beginInsertRows(QModelIndex(), ModelRow(rows_), ModelRow(Count - 1));
        cells_.resize(At(0, Count));
        rows_ = Count;
        if (notify)
            endInsertRows();
        return;
    }
    if (notify)
        beginRemoveRows(QModelIndex(), ModelRow(Count), ModelRow(rows_ - 1));
    cells_.resize(At(0, Count));
    rows_ = Count;
    if (notify)
        endRemoveRows();
    if (row_ >= rows_) {
        row_ = rows_ - 1;
        emit CurrentCellChanged(col_, row_);
    }
}

const QString& TStringGrid::Cells(int Col, int Row) const {
    static const QString empty;
    return Inside(Col, Row) ? cells_[At(Col, Row)] : empty;
}

void TStringGrid::SetCells(int Col, int Row, const QString& Text) {
    if (!Inside(Col, Row))
        return;
    QString& cell = cells_[At(Col, Row)];
    if (cell == Text)
        return;
    cell = Text;
    if (updating_ != 0)
        return;
    if (Row == 0) {
        emit headerDataChanged(Qt::Horizontal, Col, Col);
    } else {
        const QModelIndex changed = index(ModelRow(Row), Col);
        emit dataChanged(changed, changed, {Qt::DisplayRole, Qt::EditRole});
    }
}

void TStringGrid::DeleteRow(int Row) {
    if (Row < 1 || Row >= rows_ || rows_ <= 2)
        return;
    const bool notify = updating_ == 0;
    if (notify)
        beginRemoveRows(QModelIndex(), ModelRow(Row), ModelRow(Row));
    cells_.erase(cells_.begin() + ptrdiff_t(At(0, Row)),
                 cells_.begin() + ptrdiff_t(At(0, Row + 1)));
    --rows_;
    if (notify)
        endRemoveRows();
    if (row_ >= rows_) {
        row_ = rows_ - 1;
        emit CurrentCellChanged(col_, row_);
    }
}

void TStringGrid::SetRow(int Row) {
    if (Row < 1 || Row >= rows_ || Row == row_)
        return;
    row_ = Row;
    emit CurrentCellChanged(col_, row_);
}

void TStringGrid::SetCol(int Col) {
    if (Col < 0 || Col >= cols_ || Col == col_)
        return;
    col_ = Col;
    emit CurrentCellChanged(col_, row_);
}

int TStringGrid::ColWidths(int Col) const {
    return Col >= 0 && Col < cols_ ? widths_[size_t(Col)] : DefaultColWidth;
}

void TStringGrid::SetColWidths(int Col, int Width) {
    if (Col < 0 || Col >= cols_ || Width < 0 || widths_[size_t(Col)] == Width)
        return;
    widths_[size_t(Col)] = Width;
    emit ColWidthChanged(Col, Width);
}

void TStringGrid::BeginUpdate() {
    if (updating_++ == 0)
        beginResetModel();
}

void TStringGrid::EndUpdate() {
    if (updating_ > 0 && --updating_ == 0)
        endResetModel();
}

int TStringGrid::rowCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : rows_ - 1;
}

int TStringGrid::columnCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : cols_;
}

QVariant TStringGrid::data(const QModelIndex& Index, int Role) const {
    if (!Index.isValid() || (Role != Qt::DisplayRole && Role != Qt::EditRole))
        return QVariant();
    return Cells(Index.column(), GridRow(Index.row()));
}

bool TStringGrid::setData(const QModelIndex& Index, const QVariant& Value, int Role) {
    if (!Index.isValid() || Role != Qt::EditRole)
        return false;
    SetCells(Index.column(), GridRow(Index.row()), Value.toString());
    return true;
}

QVariant TStringGrid::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(Section, Orientation, Role);
    return Cells(Section, 0);
}

Qt::ItemFlags TStringGrid::flags(const QModelIndex& Index) const {
    if (!Index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

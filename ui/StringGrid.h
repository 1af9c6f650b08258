#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <vector>

// The calibration table's data: a grid of text cells addressed by column and row, row 0 being
// the header row. It is a table model, so any item view can show it; the view shows row 0 as its
// horizontal header and grid rows 1 .. RowCount() - 1 as model rows 0 .. RowCount() - 2.
//
// The cells live in one flat array (row by row), without an object per cell, so a map of
// 100,000 calibrations stays light. The current cell and the column widths are kept here too,
// so the table's rules (and the command line tool) work without any widget.
class TStringGrid : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int DefaultRowHeight = 24;
    static constexpr int DefaultColWidth = 64;

    explicit TStringGrid(int ColCount, QObject* Parent = nullptr);

    // Grid rows including the header row; never below 2 (header and one row).
    int RowCount() const { return rows_; }
    // Adds blank rows at the end or drops rows from the end. The current row moves up when its
    // row is dropped.
    void SetRowCount(int Count);
    int ColCount() const { return cols_; }

    // Empty text outside the grid.
    const QString& Cells(int Col, int Row) const;
    // Ignored outside the grid.
    void SetCells(int Col, int Row, const QString& Text);

    // Removes one row below the header; the rows under it move up by one.
    void DeleteRow(int Row);

    // The current cell. Row is never the header row; setters ignore values outside the grid.
    int Row() const { return row_; }
    int Col() const { return col_; }
    void SetRow(int Row);
    void SetCol(int Col);

    int ColWidths(int Col) const;
    void SetColWidths(int Col, int Width);

    // Between BeginUpdate and EndUpdate the grid sends no per-cell or per-row notices; the
    // outermost EndUpdate announces the whole grid as new, once. Used to fill many rows.
    void BeginUpdate();
    void EndUpdate();

    // Grid row of a model row, and back.
    static int GridRow(int ModelRow) { return ModelRow + 1; }
    static int ModelRow(int GridRow) { return GridRow - 1; }

    // QAbstractTableModel
    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& Index, const QVariant& Value, int Role = Qt::EditRole) override;
    QVariant headerData(int Section, Qt::Orientation Orientation,
                        int Role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& Index) const override;

signals:
    void CurrentCellChanged(int Col, int Row);
    void ColWidthChanged(int Col, int Width);

private:
    size_t At(int Col, int Row) const { return size_t(Row) * size_t(cols_) + size_t(Col); }
    bool Inside(int Col, int Row) const {
        return Col >= 0 && Col < cols_ && Row >= 0 && Row < rows_;
    }

    int cols_;
    int rows_ = 2;
    int row_ = 1;
    int col_ = 0;
    int updating_ = 0;
    std::vector<QString> cells_;
    std::vector<int> widths_;
};

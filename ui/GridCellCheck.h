#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <vector>

class TStringGrid;

// Tells which cells of the calibration table will not be saved as they read: a number cell whose
// text does not convert (saving stores the field's default instead) and the Id cells of rows
// whose Ids repeat (saving is refused). The window marks such cells; nothing here changes what
// is saved.
//
// Number cells are checked when asked, one cell at a time, so only the cells on screen cost
// anything. The Ids are kept per row with a count of each value; an edit or an added or removed
// row updates them in place, and only a whole new table (a load) has them read afresh, on the
// first question after it.
class TGridCellCheck : public QObject {
    Q_OBJECT

public:
    explicit TGridCellCheck(const TStringGrid& Grid, QObject* Parent = nullptr);

    // Empty when the cell is saved as it reads; otherwise why not, in the window's language.
    // Only data rows are checked: the header and the entry row are never saved.
    QString Problem(int Col, int Row) const;
    // True when the Id that data row Row saves stands in another data row as well.
    bool RepeatsId(int Row) const;

signals:
    // Some Id cell other than the edited one may have changed its mark.
    void RepeatsChanged();

private:
    void Count(int Id, int Delta) const;
    int RowId(int Row) const;
    void Rebuild() const;
    void OnInserted(int First, int Last);
    void OnRemoved(int First, int Last);
    void OnChanged(int FirstRow, int LastRow, int FirstCol, int LastCol);

    const TStringGrid& grid_;
    // The Id that each grid row 1 .. RowCount() - 1 saves, entry row included; counts_ holds
    // the data rows only, so the entry row's value stands outside it.
    mutable std::vector<int> ids_;
    mutable QHash<int, int> counts_;
    mutable bool stale_ = true;
    mutable bool repeatsChanged_ = false;
};

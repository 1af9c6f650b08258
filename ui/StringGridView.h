#pragma once

#include "ui/GridCellCheck.h"
#include "ui/StringGrid.h"

#include <QTableView>

// The mouse buttons, in the order the window's handlers know them.
enum TMouseButton { mbLeft, mbRight, mbMiddle };
using TShiftState = Qt::KeyboardModifiers;

// The calibration table on screen: a table view over a TStringGrid. Row 0 of the grid is the
// view's horizontal header (drawn with a gradient, columns resizable by dragging, never selected
// or edited); the other rows are the view's rows. The view and the grid keep one current cell
// and the same column widths, whichever side changes them.
//
// Editing happens in place, and every keystroke reaches the cell at once, so a command that runs
// mid-edit reads what has been typed so far; Escape puts the text back as it was. Cells that will
// not save as they read (TGridCellCheck) are drawn on a light red background, with a tooltip that
// says why.
//
// The view opens no context menu of its own, neither for the menu key nor for a right click: the
// window decides from MouseUp, sent whenever a mouse button is released over the table.
class TStringGridView : public QTableView {
    Q_OBJECT

public:
    explicit TStringGridView(TStringGrid& Grid, QWidget* Parent = nullptr);

    TStringGrid& Grid() const { return grid_; }
    const TGridCellCheck& Check() const { return check_; }

    // The cell under a point in the view's own coordinates, header included; ACol and ARow are
    // -1 beside the cells.
    void MouseToCell(int X, int Y, int& ACol, int& ARow) const;
    // Where a cell of the grid lies in the view's own coordinates; empty when not on screen.
    QRect CellRect(int ACol, int ARow) const;

signals:
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void currentChanged(const QModelIndex& Current, const QModelIndex& Previous) override;

private:
    void ShowGridCurrent();
    void ApplyColWidths();

    TStringGrid& grid_;
    TGridCellCheck check_;
    // While the grid adds or drops rows the view moves its current index by itself; the grid's
    // own current cell is the one that counts and is shown again afterwards.
    bool gridChanging_ = false;
    bool syncing_ = false;
};

#pragma once

#include "calibration/Calibration.h"
#include "ui/StringGrid.h"

#include <QStringList>

// The calibration table: 11 columns, the header row 0, one data row per calibration (rows 1 to
// RowCount() - 2) and the blank entry row at the bottom, which is never read into a list.

enum TGridColumn {
    ColName = 0,
    ColId,
    ColIdMox,
    ColTypeTable,
    ColTypeTaring,
    ColAdress,
    ColLength,
    ColStep,
    ColOffset,
    ColDivision,
    ColRevMyl,
    GridColumnCount
};

// The header texts of columns 0 to 10.
const QStringList& GridHeaders();
// The widths of columns 0 to 9; column 10 keeps the default width.
const QList<int>& GridColumnWidths();

// A table with the headers and widths above, the header row and an empty entry row.
void SetupCalibrationGrid(TStringGrid& StringGrid);

// Rows 1 .. RowCount() - 2 as calibrations, in row order. The caller owns the list.
TCalibrationList CollectGridCalibrations(const TStringGrid& StringGrid);
// Leaves the header row and one blank entry row.
void ClearGrid(TStringGrid& StringGrid);
// Appends one row per calibration after the current rows, keeping a blank entry row last.
// The grid announces the change once, not per row.
void FillGrid(TStringGrid& StringGrid, const TCalibrationList& List);
// Makes indexRow current and removes it; the rows below move up.
void DeleteGridRow(int indexRow, TStringGrid& StringGrid);

// The first Id, in list order, that a later calibration repeats. The scan is linear, so a map
// of 100,000 calibrations is checked at once; the Id found is the one the pairwise search from
// the top would report.
bool FindDuplicateId(const TCalibrationList& List, int& Id);

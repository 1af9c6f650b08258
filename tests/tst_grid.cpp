// The calibration table without any widget: row transfer, the whole-table operations, the marks
// of cells that will not save as they read, and the table model that the window shows.

#include "TestSupport.h"

#include "calibration/TextConv.h"
#include "ui/CalibrationGrid.h"
#include "ui/GridCellCheck.h"
#include "ui/StringGrid.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

namespace {

std::unique_ptr<TCalibration> Calibration(const QString& Name, int Id) {
    auto calibration = std::make_unique<TCalibration>();
    calibration->Name = Name;
    calibration->Id = Id;
    return calibration;
}

TCalibrationList List(const QList<int>& Ids) {
    TCalibrationList list;
    for (int id : Ids)
        list.Add(Calibration(QStringLiteral("Таблица %1").arg(id), id));
    return list;
}

// A field of a calibration by the column that shows it.
QVariant Field(const TCalibration& C, int Col) {
    switch (Col) {
    case ColName:
        return C.Name;
    case ColId:
        return C.Id;
    case ColIdMox:
        return C.IdMox;
    case ColTypeTable:
        return C.TypeTable;
    case ColTypeTaring:
        return C.TypeTaring;
    case ColAdress:
        return C.ByteAdress;
    case ColLength:
        return C.ByteLength;
    case ColStep:
        return C.ValueStep;
    case ColOffset:
        return C.ValueOffset;
    case ColDivision:
        return C.ValueDivision;
    default:
        return C.CoefRevMyl;
    }
}

QStringList RowTexts(const TStringGrid& Grid, int Row) {
    QStringList texts;
    for (int col = 0; col < Grid.ColCount(); ++col)
        texts << Grid.Cells(col, Row);
    return texts;
}

QStringList Blank() {
    return QStringList(GridColumnCount, QString());
}

// A table of data rows whose Name cells hold Names, then the entry row.
void Put(TStringGrid& Grid, const QStringList& Names) {
    Grid.SetRowCount(int(Names.size()) + 2);
    for (int i = 0; i < Names.size(); ++i)
        Grid.SetCells(ColName, i + 1, Names[i]);
}

QStringList Names(const TStringGrid& Grid) {
    QStringList names;
    for (int row = 1; row < Grid.RowCount(); ++row)
        names << Grid.Cells(ColName, row);
    return names;
}

} // namespace

class TestGrid : public QObject {
    Q_OBJECT

private slots:
    void freshTableHasHeaderAndEntryRow() {
        TStringGrid grid(GridColumnCount);
        SetupCalibrationGrid(grid);
        QCOMPARE(grid.RowCount(), 2);
        QCOMPARE(grid.ColCount(), 11);
        QCOMPARE(RowTexts(grid, 0),
                 QStringList({"Имя", "Id", "IdMox", "Тип Табл.", "Тип Тарир.", "Адрес", "Длина",
                              "Шаг", "Смещ.", "Делит.", "Мульпликат."}));
        QCOMPARE(RowTexts(grid, 1), Blank());
        const QList<int> widths = {250, 30, 60, 60, 60, 40, 40, 40, 40, 40, 64};
        for (int col = 0; col < 11; ++col)
            QCOMPARE(grid.ColWidths(col), widths[col]);
        // The view shows the header row as its header, and only the rows below it as rows.
        QCOMPARE(grid.rowCount(), 1);
        QCOMPARE(grid.headerData(3, Qt::Horizontal).toString(), QStringLiteral("Тип Табл."));
    }

    void gridSaveWritesEachColumn() {
        SeparatorGuard comma(',');
        TStringGrid grid(GridColumnCount);
        grid.SetRowCount(3);
        TCalibration c;
        c.Name = "__Фаза__впрыска_";
        c.Id = 61;
        c.IdMox = "1a2B";
        c.TypeTable = 3;
        c.TypeTaring = 4;
        c.ByteAdress = 7936;
        c.ByteLength = -128;
        c.ValueStep = 0.5;
        c.ValueOffset = -2.5;
        c.ValueDivision = 1e-5;
        c.CoefRevMyl = 1.0 / 3;
        c.GridSave(grid, 1);
        QCOMPARE(RowTexts(grid, 1),
                 QStringList({"Фаза впрыска", "61", "1a2B", "3", "4", "7936", "-128", "0,5", "-2,5",
                              "1E-5", "0,333333333333333"}));
        QCOMPARE(RowTexts(grid, 2), Blank());
    }

    void gridLoadReadsEachColumn_data() {
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<QVariant>("expected");

        QTest::newRow("name as typed")
            << int(ColName) << "a__b " << QChar('.') << QVariant("a__b ");
        QTest::newRow("blank name") << int(ColName) << "" << QChar('.') << QVariant("");
        QTest::newRow("blank IdMox") << int(ColIdMox) << "" << QChar('.') << QVariant("");
        QTest::newRow("id") << int(ColId) << "12" << QChar('.') << QVariant(12);
        QTest::newRow("id hex") << int(ColId) << "$1F" << QChar('.') << QVariant(31);
        QTest::newRow("id trailing blank") << int(ColId) << "12 " << QChar('.') << QVariant(-1);
        QTest::newRow("id blank") << int(ColId) << "" << QChar('.') << QVariant(-1);
        QTest::newRow("type table") << int(ColTypeTable) << "2" << QChar('.') << QVariant(2);
        QTest::newRow("type taring") << int(ColTypeTaring) << "7" << QChar('.') << QVariant(7);
        QTest::newRow("adress") << int(ColAdress) << "0x1F00" << QChar('.') << QVariant(7936);
        QTest::newRow("adress word") << int(ColAdress) << "abc" << QChar('.') << QVariant(-1);
        QTest::newRow("length") << int(ColLength) << "-4" << QChar('.') << QVariant(-4);
        QTest::newRow("length decimal") << int(ColLength) << "1.5" << QChar('.') << QVariant(0);
        QTest::newRow("step comma") << int(ColStep) << "0,5" << QChar(',') << QVariant(0.5);
        // Typed with the other machine's decimal mark: read, not replaced by the default.
        QTest::newRow("step point, comma machine")
            << int(ColStep) << "0.5" << QChar(',') << QVariant(0.5);
        QTest::newRow("offset comma, point machine")
            << int(ColOffset) << "-2,25" << QChar('.') << QVariant(-2.25);
        QTest::newRow("division exponent")
            << int(ColDivision) << "1E-5" << QChar(',') << QVariant(1e-5);
        QTest::newRow("step blank") << int(ColStep) << "" << QChar(',') << QVariant(1.0);
        QTest::newRow("division thousands")
            << int(ColDivision) << "1,000.5" << QChar('.') << QVariant(1.0);
        QTest::newRow("coefficient word") << int(ColRevMyl) << "abc" << QChar('.') << QVariant(0.0);
    }

    void gridLoadReadsEachColumn() {
        QFETCH(int, col);
        QFETCH(QString, text);
        QFETCH(QChar, separator);
        QFETCH(QVariant, expected);
        SeparatorGuard guard(separator);
        TStringGrid grid(GridColumnCount);
        grid.SetRowCount(3);
        grid.SetCells(col, 1, text);
        TCalibration c;
        QVERIFY(c.GridLoad(grid, 1));
        QVERIFY(c.IsLoaded);
        QCOMPARE(Field(c, col), expected);
    }

    void blankRowCollectsAsDefaultsWithEmptyTexts() {
        TStringGrid grid(GridColumnCount);
        grid.SetRowCount(3);
        const TCalibrationList list = CollectGridCalibrations(grid);
        QCOMPARE(list.Count(), 1);
        const TCalibration& c = list[0];
        QCOMPARE(c.Name, QString());
        QCOMPARE(c.IdMox, QString()); // not the "00000000" of a fresh record
        QCOMPARE(c.Id, -1);
        QCOMPARE(c.ByteAdress, -1);
        QCOMPARE(c.ByteLength, 0);
        QCOMPARE(c.TypeTaring, 0);
        QCOMPARE(c.TypeTable, 0);
        QCOMPARE(c.ValueStep, 1.0);
        QCOMPARE(c.ValueOffset, 0.0);
        QCOMPARE(c.ValueDivision, 1.0);
        QCOMPARE(c.CoefRevMyl, 0.0);
    }

    void collectTakesDataRowsOnly() {
        TStringGrid grid(GridColumnCount);
        QCOMPARE(CollectGridCalibrations(grid).Count(), 0);
        grid.SetCells(ColName, 1, "typed into the entry row");
        QCOMPARE(CollectGridCalibrations(grid).Count(), 0);
        grid.SetRowCount(grid.RowCount() + 1); // the add command
        grid.SetCells(ColName, 2, "second");
        const TCalibrationList list = CollectGridCalibrations(grid);
        QCOMPARE(list.Count(), 1);
        QCOMPARE(list[0].Name, QStringLiteral("typed into the entry row"));
    }

    void fillAfterClearPutsListInRowOrder() {
        SeparatorGuard point('.');
        TStringGrid grid(GridColumnCount);
        SetupCalibrationGrid(grid);
        FillGrid(grid, List({1, 2, 3, 4, 5}));
        grid.SetCells(ColName, 6, "typed");
        ClearGrid(grid);
        QCOMPARE(grid.RowCount(), 2);
        QCOMPARE(RowTexts(grid, 1), Blank());
        QCOMPARE(grid.Cells(ColName, 0), QStringLiteral("Имя"));

        FillGrid(grid, List({7, 3}));
        QCOMPARE(grid.RowCount(), 4);
        QCOMPARE(Names(grid), QStringList({"Таблица 7", "Таблица 3", ""}));
        QCOMPARE(RowTexts(grid, 3), Blank());
        const TCalibrationList back = CollectGridCalibrations(grid);
        QCOMPARE(back.Count(), 2);
        QCOMPARE(back[0].Id, 7);
        QCOMPARE(back[1].Id, 3);

        // Rows gained later are blank: nothing of the longer map comes back.
        grid.SetRowCount(7);
        for (int row = 3; row < 7; ++row)
            QCOMPARE(RowTexts(grid, row), Blank());

        // An empty list leaves the table as it is.
        FillGrid(grid, TCalibrationList());
        QCOMPARE(grid.RowCount(), 7);
    }

    // Rows are added one by one in effect: the first calibration lands in the former last row.
    void fillWithoutClearWritesFromTheLastRow() {
        TStringGrid grid(GridColumnCount);
        grid.SetCells(ColIdMox, 1, "typed");
        FillGrid(grid, List({9}));
        QCOMPARE(grid.RowCount(), 3);
        QCOMPARE(grid.Cells(ColName, 1), QStringLiteral("Таблица 9"));
        QCOMPARE(grid.Cells(ColIdMox, 1), QStringLiteral("00000000"));
        QCOMPARE(RowTexts(grid, 2), Blank());
    }

    void fillAnnouncesOnceForManyRows() {
        TStringGrid grid(GridColumnCount);
        QSignalSpy resets(&grid, &QAbstractItemModel::modelReset);
        QSignalSpy changes(&grid, &QAbstractItemModel::dataChanged);
        QSignalSpy inserts(&grid, &QAbstractItemModel::rowsInserted);
        QList<int> ids;
        for (int i = 0; i < 1000; ++i)
            ids << i;
        FillGrid(grid, List(ids));
        QCOMPARE(grid.RowCount(), 1002);
        QCOMPARE(resets.count(), 1);
        QCOMPARE(changes.count(), 0);
        QCOMPARE(inserts.count(), 0);
        QCOMPARE(grid.Cells(ColId, 1000), QStringLiteral("999"));
    }

    void deleteGridRowMovesRowsUp_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("first") << 1 << QStringList({"b", "c", "entry"});
        QTest::newRow("middle") << 2 << QStringList({"a", "c", "entry"});
        QTest::newRow("last data row") << 3 << QStringList({"a", "b", "entry"});
    }

    void deleteGridRowMovesRowsUp() {
        QFETCH(int, row);
        QFETCH(QStringList, after);
        TStringGrid grid(GridColumnCount);
        Put(grid, {"a", "b", "c"});
        grid.SetCells(ColName, 4, "entry");
        grid.SetCells(ColId, 4, "entry id");
        grid.SetRow(1);
        DeleteGridRow(row, grid);
        QCOMPARE(grid.RowCount(), 4);
        QCOMPARE(Names(grid), after);
        QCOMPARE(grid.Row(), row);
        // Every cell of a row moves with it.
        QCOMPARE(grid.Cells(ColId, 3), QStringLiteral("entry id"));
    }

    void currentCellStaysInsideTheGrid() {
        TStringGrid grid(GridColumnCount);
        Put(grid, {"a", "b", "c"});
        QCOMPARE(grid.Row(), 1);
        grid.SetRow(0); // the header row is never current
        grid.SetRow(5);
        grid.SetCol(11);
        QCOMPARE(grid.Row(), 1);
        QCOMPARE(grid.Col(), 0);
        grid.SetRow(4);
        grid.SetCol(10);
        QSignalSpy moved(&grid, &TStringGrid::CurrentCellChanged);
        ClearGrid(grid);
        QCOMPARE(grid.Row(), 1);
        QCOMPARE(grid.Col(), 10);
        QCOMPARE(moved.count(), 1);
        grid.SetRowCount(0);
        QCOMPARE(grid.RowCount(), 2);
    }

    void modelEditsReachTheCells() {
        TStringGrid grid(GridColumnCount);
        SetupCalibrationGrid(grid);
        QVERIFY(grid.flags(grid.index(0, ColId)) & Qt::ItemIsEditable);
        QVERIFY(grid.setData(grid.index(0, ColId), "42"));
        QCOMPARE(grid.Cells(ColId, 1), QStringLiteral("42"));
        QCOMPARE(grid.data(grid.index(0, ColId)).toString(), QStringLiteral("42"));
        QSignalSpy header(&grid, &QAbstractItemModel::headerDataChanged);
        grid.SetCells(ColId, 0, "ID");
        QCOMPARE(header.count(), 1);
        QCOMPARE(grid.headerData(ColId, Qt::Horizontal).toString(), QStringLiteral("ID"));
    }

    void findDuplicateIdReportsTopmostRepeatedRow_data() {
        QTest::addColumn<QList<int>>("ids");
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("id");
        QTest::newRow("5 7 7 5") << QList<int>{5, 7, 7, 5} << true << 5;
        QTest::newRow("3 4 4") << QList<int>{3, 4, 4} << true << 4;
        QTest::newRow("two blank Ids") << QList<int>{-1, 8, -1} << true << -1;
        QTest::newRow("1 2 3 2 1") << QList<int>{9, 1, 2, 3, 2, 1} << true << 1;
        QTest::newRow("distinct") << QList<int>{1, 2, 3} << false << 0;
        QTest::newRow("one") << QList<int>{1} << false << 0;
    }

    void findDuplicateIdReportsTopmostRepeatedRow() {
        QFETCH(QList<int>, ids);
        QFETCH(bool, found);
        QFETCH(int, id);
        int reported = 0;
        QCOMPARE(FindDuplicateId(List(ids), reported), found);
        if (found)
            QCOMPARE(reported, id);
    }

    void checkNamesWhatSavingStores_data() {
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("problem");
        QTest::newRow("name") << int(ColName) << ""
                              << "";
        QTest::newRow("IdMox") << int(ColIdMox) << "zz"
                               << "";
        QTest::newRow("id hex") << int(ColId) << "$1F"
                                << "";
        QTest::newRow("id blank") << int(ColId) << ""
                                  << "Не целое число: при сохранении будет записано -1";
        QTest::newRow("length trailing blank") << int(ColLength) << "12 "
                                               << "Не целое число: при сохранении будет записано 0";
        QTest::newRow("step other mark") << int(ColStep) << "0.5"
                                         << "";
        QTest::newRow("division word") << int(ColDivision) << "x"
                                       << "Не число: при сохранении будет записано 1";
        QTest::newRow("coefficient blank") << int(ColRevMyl) << ""
                                           << "Не число: при сохранении будет записано 0";
    }

    void checkNamesWhatSavingStores() {
        QFETCH(int, col);
        QFETCH(QString, text);
        QFETCH(QString, problem);
        SeparatorGuard comma(',');
        TStringGrid grid(GridColumnCount);
        grid.SetRowCount(4);
        grid.SetCells(ColId, 2, "2");
        grid.SetCells(col, 1, text);
        TGridCellCheck check(grid);
        QCOMPARE(check.Problem(col, 1), problem);
        // The entry row is never saved, so it is never marked.
        grid.SetCells(col, 3, text);
        QCOMPARE(check.Problem(col, 3), QString());
    }

    void checkMarksRepeatedIds() {
        TStringGrid grid(GridColumnCount);
        FillGrid(grid, List({5, 7, 8}));
        TGridCellCheck check(grid);
        QSignalSpy repaint(&check, &TGridCellCheck::RepeatsChanged);
        QVERIFY(!check.RepeatsId(1));
        grid.SetCells(ColId, 3, "5");
        QVERIFY(check.RepeatsId(1));
        QVERIFY(check.RepeatsId(3));
        QVERIFY(!check.RepeatsId(2));
        QVERIFY(repaint.count() > 0);
        QCOMPARE(check.Problem(ColId, 3),
                 QStringLiteral("Id 5 есть и в другой строке: карта с повторяющимися Id "
                                "не сохраняется"));
        // "$5" saves as 5 as well.
        grid.SetCells(ColId, 3, "$5");
        QVERIFY(check.RepeatsId(1));
        DeleteGridRow(1, grid);
        QVERIFY(!check.RepeatsId(2));
        // An Id typed into the entry row counts once the row becomes a data row.
        grid.SetCells(ColId, 3, "7");
        QVERIFY(!check.RepeatsId(1));
        grid.SetRowCount(grid.RowCount() + 1);
        QVERIFY(check.RepeatsId(1));
        QVERIFY(check.RepeatsId(3));
    }

    // The Ids kept up to date edit by edit agree with the Ids that saving would collect.
    void checkStaysInStepWithTheTable() {
        TStringGrid grid(GridColumnCount);
        FillGrid(grid, List({1, 2, 3, 4, 5, 6}));
        TGridCellCheck kept(grid);
        QVERIFY(!kept.RepeatsId(1)); // reads the table once
        QRandomGenerator random(20240611);
        for (int step = 0; step < 400; ++step) {
            const int row = 1 + int(random.bounded(grid.RowCount() - 1));
            switch (random.bounded(5)) {
            case 0:
            case 1:
                grid.SetCells(ColId, row, QString::number(random.bounded(6)));
                break;
            case 2:
                grid.SetCells(ColId, row, random.bounded(2) ? QString() : QStringLiteral("x"));
                break;
            case 3:
                if (row < grid.RowCount() - 1)
                    DeleteGridRow(row, grid);
                break;
            default:
                grid.SetRowCount(grid.RowCount() + int(random.bounded(3)));
                break;
            }
            const TCalibrationList saved = CollectGridCalibrations(grid);
            for (int r = 1; r < grid.RowCount(); ++r) {
                bool repeats = false;
                for (int other = 0; r < grid.RowCount() - 1 && other < saved.Count(); ++other)
                    repeats |= other != r - 1 && saved[other].Id == saved[r - 1].Id;
                QCOMPARE(kept.RepeatsId(r), repeats);
            }
        }
        // A load replaces the whole table: the check reads it afresh.
        ClearGrid(grid);
        FillGrid(grid, List({4, 4}));
        QVERIFY(kept.RepeatsId(1));
        QVERIFY(kept.RepeatsId(2));
    }
};

QTEST_GUILESS_MAIN(TestGrid)
#include "tst_grid.moc"

#include "calibration/Calibration.h"

#include <QTest>

class TestCalibration : public QObject {
    Q_OBJECT

private slots:
    void freshRecordHoldsDefaults();
    void listKeepsOrderAndDuplicates();
};

void TestCalibration::freshRecordHoldsDefaults() {
    const TCalibration c;
    QCOMPARE(c.IsLoaded, false);
    QCOMPARE(c.Name, QString());
    QCOMPARE(c.Id, -1);
    QCOMPARE(c.IdMox, QStringLiteral("00000000"));
    QCOMPARE(c.ByteAdress, -1);
    QCOMPARE(c.ByteLength, 0);
    QCOMPARE(c.TypeTaring, 0);
    QCOMPARE(c.TypeTable, 0);
    QCOMPARE(c.ValueStep, 1.0);
    QCOMPARE(c.ValueOffset, 0.0);
    QCOMPARE(c.ValueDivision, 1.0);
    QCOMPARE(c.CoefRevMyl, 0.0);
}

void TestCalibration::listKeepsOrderAndDuplicates() {
    TCalibrationList list;
    QCOMPARE(list.Count(), 0);
    for (const char* name : {"a", "b", "c"}) {
        auto c = std::make_unique<TCalibration>();
        c->Name = QString::fromLatin1(name);
        c->Id = 7; // equal Ids are the save command's concern, not the list's
        list.Add(std::move(c));
    }
    QCOMPARE(list.Count(), 3);
    QCOMPARE(list[0].Name, QStringLiteral("a"));
    QCOMPARE(list[1].Name, QStringLiteral("b"));
    QCOMPARE(list[2].Name, QStringLiteral("c"));
    QCOMPARE(list[2].Id, list[0].Id);
}

QTEST_GUILESS_MAIN(TestCalibration)
#include "tst_calibration.moc"

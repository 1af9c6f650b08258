#include "calibration/TextConv.h"
#include "mapfiles/Catalogue.h"

#include <QSet>
#include <QTest>

namespace {

QString NameOf(int Entry) {
    return CalibrationCatalogue()[size_t(Entry - 1)].Name;
}

} // namespace

class TestCatalogue : public QObject {
    Q_OBJECT

private slots:
    void tableHoldsTheKnownNames();
    void namesStayApartWhenNormalised();
    void walk_data();
    void walk();
    void lookUpResultsOfOtherEntriesAreIgnored();
};

void TestCatalogue::tableHoldsTheKnownNames() {
    const auto& catalogue = CalibrationCatalogue();
    QCOMPARE(catalogue.size(), size_t(20));

    // The names that are easiest to get wrong, exactly as the outside program writes them.
    QCOMPARE(NameOf(4), QStringLiteral("Поправка_циклового_наполнения__ДМРВ_"));
    QCOMPARE(NameOf(12), QStringLiteral("Шаг_квантования_GBC"));
    QCOMPARE(NameOf(7), QStringLiteral("УОЗ_для_работы_с_ДК"));

    QList<int> ids;
    QSet<int> distinct;
    for (const TCatalogueEntry& entry : catalogue) {
        ids << entry.Id;
        distinct.insert(entry.Id);
        // Cyrillic capitals and small letters, the underscore, and the Latin "GBC" only.
        for (QChar ch : entry.Name) {
            const char16_t c = ch.unicode();
            QVERIFY2((c >= 0x410 && c <= 0x44F) || c == u'_' || c == u'G' || c == u'B' || c == u'C',
                     qPrintable(entry.Name));
        }
    }
    // Catalogue order, not Id order: 112 before 111, the Id-2 group after 11.
    const QList<int> expected = {1,  11, 2,  2,  2,  112, 111, 113, 114, 21,
                                 22, 23, 24, 41, 42, 61,  81,  82,  101, 102};
    QCOMPARE(ids, expected);
    QCOMPARE(distinct.size(), 18);

    for (int entry = 1; entry <= 20; ++entry)
        QCOMPARE(catalogue[size_t(entry - 1)].OnlyWithoutEntry3, entry == 4 || entry == 5);
}

void TestCatalogue::namesStayApartWhenNormalised() {
    QSet<QString> normalised;
    for (const TCatalogueEntry& entry : CalibrationCatalogue())
        normalised.insert(NormalizeName(entry.Name));
    QCOMPARE(normalised.size(), 20);
    QCOMPARE(NormalizeName(NameOf(4)), QStringLiteral("Поправка циклового наполнения ДМРВ"));
}

// Loads: entries whose look-up adds a calibration; Fails: entries present in the source that do
// not load. Calls and Added are entry numbers in the order the walk used them.
void TestCatalogue::walk_data() {
    QTest::addColumn<QList<int>>("loads");
    QTest::addColumn<QList<int>>("calls");
    QTest::addColumn<QList<int>>("added");

    QList<int> allButVariants;
    QList<int> all;
    for (int e = 1; e <= 20; ++e) {
        all << e;
        if (e != 4 && e != 5)
            allButVariants << e;
    }

    QTest::newRow("nothing known: every entry asked") << QList<int>{} << all << QList<int>{};
    QTest::newRow("all three corrections: the main one alone")
        << QList<int>{3, 4, 5} << allButVariants << QList<int>{3};
    QTest::newRow("variants only: both, entry 4 first")
        << QList<int>{4, 5} << all << QList<int>{4, 5};
    QTest::newRow("entry 4 fails: entry 5 still asked") << QList<int>{5} << all << QList<int>{5};
    QTest::newRow("every entry loads") << all << allButVariants << allButVariants;
    QTest::newRow("last entry only") << QList<int>{20} << all << QList<int>{20};
}

void TestCatalogue::walk() {
    QFETCH(QList<int>, loads);
    QFETCH(QList<int>, calls);
    QFETCH(QList<int>, added);

    QList<int> called;
    QList<int> addedEntries;
    QList<int> addedIds;
    LoadCatalogueCalibrations([&](const QString& CatalogueName, int Id) {
        int entry = 0;
        for (int e = 1; e <= 20; ++e)
            if (NameOf(e) == CatalogueName)
                entry = e;
        called << entry;
        if (!loads.contains(entry))
            return false;
        addedEntries << entry;
        addedIds << Id;
        return true;
    });
    QCOMPARE(called, calls);
    QCOMPARE(addedEntries, added);
    for (int i = 0; i < added.size(); ++i)
        QCOMPARE(addedIds[i], CalibrationCatalogue()[size_t(added[i] - 1)].Id);
}

// Only entry 3's answer steers the walk: a look-up that claims success for entry 1 or 4 does not
// make the walk skip anything.
void TestCatalogue::lookUpResultsOfOtherEntriesAreIgnored() {
    QStringList called;
    LoadCatalogueCalibrations([&](const QString& CatalogueName, int) {
        called << CatalogueName;
        return CatalogueName != NameOf(3);
    });
    QCOMPARE(called.size(), 20);
    QCOMPARE(called.indexOf(NameOf(5)), 4);
}

QTEST_APPLESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"

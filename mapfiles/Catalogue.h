#pragma once

#include <QString>
#include <array>
#include <functional>

// The built-in catalogue of known tables: which tables of an outside map are imported, the Id
// each one gets, and their order in the imported map.
struct TCatalogueEntry {
    QString Name; // exactly as the outside program names the table
    int Id;
    // The two variants that are tried only when the main correction table did not load.
    bool OnlyWithoutEntry3;
};

const std::array<TCatalogueEntry, 20>& CalibrationCatalogue();

// The importer's look-up: true exactly when it added one calibration with that Id.
using TCatalogueLookUp = std::function<bool(const QString& CatalogueName, int Id)>;

void LoadCatalogueCalibrations(const TCatalogueLookUp& LookUp);

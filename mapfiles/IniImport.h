#pragma once

#include "calibration/Calibration.h"

#include <QStringList>

class TIniFile;

// The exported INI map of the outside tuning program: the tables the catalogue knows, in
// catalogue order, each with the catalogue's Id.
bool LoadIniCalibration(TCalibrationList& List, const TIniFile& Ini, const QStringList& Sections,
                        int Id, const QString& CatalogueName, const QStringList& NormalisedNames);
TCalibrationList ReadIniMap(const TIniFile& Ini);

#pragma once

#include "calibration/Calibration.h"

#include <QString>

// The editor's own map file (*.vlm): section "Global" with "Count" and "SectionName", then one
// section per calibration named SectionName followed by its index.

// Replaces FileName whole and atomically; raises EIniFileException when it cannot be written,
// leaving the earlier file as it was.
void WriteMapFile(const QString& FileName, const TCalibrationList& List);
// A missing or malformed file gives an empty list; sections that do not load are skipped.
TCalibrationList ReadMapFile(const QString& FileName);

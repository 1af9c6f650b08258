#include "calibration/Calibration.h"

// The record is plain data; its load and save operations live beside the format each one
// speaks (mapfiles/ and ui/).

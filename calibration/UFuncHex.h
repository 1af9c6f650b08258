#pragma once

#include <QString>

// Hexadecimal digits to a 32-bit signed number, wrapping modulo 2^32; any character that is not
// a hexadecimal digit gives 0. Never raises.
int HexToInt(const QString& Text);

#pragma once

#include <QChar>
#include <QString>

// The text forms shared by every reader and writer: integer text, and locale number text, which
// writes and reads Doubles with the user's decimal separator.

// The current decimal separator: the first character of the system locale's decimal point,
// "." when it has none. Read on first use.
QChar DecimalSeparator();
// Sets the separator that every conversion uses from now on (tests and the command line tool).
void SetDecimalSeparator(QChar Separator);
// Reads the separator afresh from the system locale.
void ResetDecimalSeparator();

QString IntToStr(int Value);
// Raises EConvertError "''%s'' is not a valid integer value".
int StrToInt(const QString& Text);
bool TryStrToInt(const QString& Text, int& Value);
int StrToIntDef(const QString& Text, int Default);

QString FloatToStr(double Value);
// Raises EConvertError "'%s' is not a valid floating point value".
double StrToFloat(const QString& Text);
// Leaves Value unchanged when the text does not convert.
bool TryStrToFloat(const QString& Text, double& Value);
// Reads a number written on a machine with either decimal mark: every comma and full stop counts
// as the current separator, then the text is read as locale number text.
bool TryStrToFloatAnyMark(const QString& Text, double& Value);

// "0x" followed by hexadecimal digits; anything else gives 0.
int PrefixedHexToInt(const QString& Text);

// A table name of a source map as a display name: characters below 256 other than digits, Latin
// letters, the space and U+00C0..U+00FF become spaces; runs of spaces fold; the ends are trimmed.
QString NormalizeName(const QString& Name);

// The folder of the running executable, ending in "/".
QString AppFolder();
// Makes AppFolder return Folder (tests); an empty text restores the executable's own folder.
void SetAppFolder(const QString& Folder);

// The file name of Path without its last extension.
QString ExtractMapName(const QString& Path);
// The folder part of Path, ending in "/" (empty when Path has no "/").
QString ExtractFilePath(const QString& Path);

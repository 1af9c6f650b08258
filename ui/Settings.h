#pragma once

#include <QString>

// The settings file config_me.ini: the folder last used by each of the window's four file
// dialogs, kept from one run to the next in section "Pathes".
struct TRememberedFolders {
    QString PathOpenXml;
    QString PathOpenIni;
    QString PathOpenCalibr;
    QString PathSaveCalibr;
};

// AppFolder() + "configs/config_me.ini" when that folder exists, AppFolder() + "config_me.ini"
// otherwise; worked out afresh at every call.
QString SettingsFileName();

// A path in its absolute form against the current folder, "." and ".." resolved, a trailing
// separator kept; an empty text stays empty.
QString FullPathName(const QString& Path);

// Reads the four folders; a missing file, section or key gives AppFolder(). Never fails.
TRememberedFolders ReadSettings();
// Writes the four folders as they are, empty ones included, keeping the file's other sections
// and keys. Raises EIniFileException "Unable to write to %s"; the file is then as it was.
void WriteSettings(const TRememberedFolders& Folders);

#include "ui/Settings.h"

#include "calibration/TextConv.h"
#include "mapfiles/IniFile.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString Section = QStringLiteral("Pathes");

} // namespace

QString SettingsFileName() {
    const QString configs = AppFolder() + QStringLiteral("configs/");
    if (QFileInfo(configs).isDir())
        return configs + QStringLiteral("config_me.ini");
    return AppFolder() + QStringLiteral("config_me.ini");
}

QString FullPathName(const QString& Path) {
    if (Path.isEmpty())
        return Path;
    QString full = QDir::cleanPath(QDir::current().absoluteFilePath(Path));
    if (Path.endsWith(QLatin1Char('/')) && !full.endsWith(QLatin1Char('/')))
        full += QLatin1Char('/');
    return full;
}

TRememberedFolders ReadSettings() {
    const TIniFile ini(SettingsFileName());
    const QString folder = AppFolder();
    TRememberedFolders folders;
    folders.PathOpenXml = FullPathName(ini.ReadString(Section, QStringLiteral("OpenXml"), folder));
    folders.PathOpenIni = FullPathName(ini.ReadString(Section, QStringLiteral("OpenIni"), folder));
    folders.PathOpenCalibr =
        FullPathName(ini.ReadString(Section, QStringLiteral("OpenCalibr"), folder));
    folders.PathSaveCalibr =
        FullPathName(ini.ReadString(Section, QStringLiteral("SaveCalibr"), folder));
    return folders;
}

void WriteSettings(const TRememberedFolders& Folders) {
    TIniFile ini(SettingsFileName());
    ini.WriteString(Section, QStringLiteral("OpenXml"), Folders.PathOpenXml);
    ini.WriteString(Section, QStringLiteral("OpenIni"), Folders.PathOpenIni);
    ini.WriteString(Section, QStringLiteral("OpenCalibr"), Folders.PathOpenCalibr);
    ini.WriteString(Section, QStringLiteral("SaveCalibr"), Folders.PathSaveCalibr);
    ini.UpdateFile();
}

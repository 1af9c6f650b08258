// mapconv: shows or converts a map exactly as the editor would load and save it, for scripts.
// It drives the same core and the same table rules as the window; only the dialogs and message
// boxes are replaced by the command line and standard error.

#include "calibration/Exceptions.h"
#include "calibration/Messages.h"
#include "mapfiles/IniFile.h"
#include "mapfiles/IniImport.h"
#include "mapfiles/MapFile.h"
#include "mapfiles/XmlImport.h"
#include "ui/CalibrationGrid.h"
#include "ui/CommandTexts.h"
#include "ui/StringGrid.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>
#include <optional>

namespace {

enum ExitCode {
    ExitDone = 0,
    ExitError = 1,
    ExitDuplicateId = 2,
    ExitNothingToSave = 3,
    ExitUsage = 64,
};

enum class MapKind { Vlm, Ini, Xml };

const char* const kUsage =
    "usage: mapconv [--from vlm|ini|xml] show FILE\n"
    "       mapconv [--from vlm|ini|xml] convert FILE OUT\n"
    "       mapconv --help | --version\n"
    "\n"
    "  show     print the table that loading FILE into the editor shows (tab-separated)\n"
    "  convert  load FILE as the editor does, then save that table to OUT as Save VLM does\n"
    "\n"
    "FILE's kind comes from its extension (.vlm, .ini, .xml) unless --from names it.\n"
    "Exit status: 0 done, 1 error, 2 duplicate Id (nothing written),\n"
    "3 empty table (nothing written), 64 usage error.\n";

void Write(FILE* Stream, const QString& Text) {
    const QByteArray bytes = Text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), Stream);
}

int UsageError(const QString& Why) {
    Write(stderr, QStringLiteral("mapconv: ") + Why + u'\n');
    std::fputs(kUsage, stderr);
    return ExitUsage;
}

std::optional<MapKind> KindFromName(const QString& Name) {
    const QString name = Name.toLower();
    if (name == u"vlm")
        return MapKind::Vlm;
    if (name == u"ini")
        return MapKind::Ini;
    if (name == u"xml")
        return MapKind::Xml;
    return std::nullopt;
}

// What the matching load command reads into the table.
TCalibrationList LoadMap(MapKind Kind, const QString& FileName) {
    switch (Kind) {
    case MapKind::Vlm:
        return ReadMapFile(FileName);
    case MapKind::Ini:
        return ReadIniMap(TIniFile(FileName));
    case MapKind::Xml: {
        TXMLDocument document;
        document.LoadFromFile(FileName);
        TCalibrationList list = ReadXmlMap(document);
        document.Close();
        return list;
    }
    }
    return TCalibrationList();
}

QString TableText(const TStringGrid& Grid) {
    QString text = GridHeaders().join(u'\t') + u'\n';
    for (int row = 1; row < Grid.RowCount() - 1; ++row) {
        for (int col = 0; col < Grid.ColCount(); ++col) {
            if (col > 0)
                text += u'\t';
            text += Grid.Cells(col, row);
        }
        text += u'\n';
    }
    return text;
}

int Run(const QStringList& Args) {
    qsizetype at = 1;
    std::optional<MapKind> kind;
    if (Args.size() == 2 && Args[1] == u"--help") {
        std::fputs(kUsage, stdout);
        return ExitDone;
    }
    if (Args.size() == 2 && Args[1] == u"--version") {
        Write(stdout, QStringLiteral("mapconv ") + QCoreApplication::applicationVersion() + u'\n');
        return ExitDone;
    }
    if (at < Args.size() && Args[at] == u"--from") {
        if (at + 1 >= Args.size())
            return UsageError(QStringLiteral("--from needs vlm, ini or xml"));
        kind = KindFromName(Args[at + 1]);
        if (!kind)
            return UsageError(QStringLiteral("unknown kind '%1'").arg(Args[at + 1]));
        at += 2;
    }
    if (at >= Args.size())
        return UsageError(QStringLiteral("no command"));
    const QString command = Args[at++];
    const QStringList operands = Args.mid(at);
    if (command == u"show") {
        if (operands.size() != 1)
            return UsageError(QStringLiteral("show takes one FILE"));
    } else if (command == u"convert") {
        if (operands.size() != 2)
            return UsageError(QStringLiteral("convert takes FILE and OUT"));
    } else {
        return UsageError(QStringLiteral("unknown command '%1'").arg(command));
    }
    const QString fileName = operands[0];
    if (!kind) {
        kind = KindFromName(QFileInfo(fileName).suffix());
        if (!kind)
            return UsageError(
                QStringLiteral("cannot tell the kind of '%1'; use --from").arg(fileName));
    }
    {
        // The window's dialog only offers existing files; here a missing or unreadable one is
        // the script's mistake and is said so, rather than shown as an empty map.
        QFile probe(fileName);
        if (QFileInfo(fileName).isDir() || !probe.open(QIODevice::ReadOnly)) {
            Write(stderr, QStringLiteral("mapconv: cannot read %1\n").arg(fileName));
            return ExitError;
        }
    }

    // Every message the window would show in a box goes to standard error, in the same order.
    SetShowMessageHandler([](const QString& Msg) {
        Write(stderr, Msg + u'\n');
        std::fflush(stderr);
    });

    TStringGrid grid(GridColumnCount);
    SetupCalibrationGrid(grid);
    try {
        const TCalibrationList loaded = LoadMap(*kind, fileName);
        ClearGrid(grid);
        FillGrid(grid, loaded);

        if (command == u"show") {
            Write(stdout, TableText(grid));
            return ExitDone;
        }

        // Save VLM, without its dialog: what the table holds, as the window collects it.
        const TCalibrationList list = CollectGridCalibrations(grid);
        if (list.Count() == 0)
            return ExitNothingToSave;
        int id = 0;
        if (FindDuplicateId(list, id)) {
            ShowMessage(DuplicateIdMessage(id));
            return ExitDuplicateId;
        }
        WriteMapFile(operands[1], list);
        return ExitDone;
    } catch (const Exception& e) {
        Write(stderr, ErrorReportText(e.Message()) + u'\n');
    } catch (const std::exception& e) {
        Write(stderr, ErrorReportText(QString::fromLocal8Bit(e.what())) + u'\n');
    }
    return ExitError;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mapconv"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MAPEDITOR_VERSION));
    return Run(QCoreApplication::arguments());
}

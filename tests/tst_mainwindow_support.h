#pragma once

// What the window tests share: scripted answers for the file dialogs, a recorder for the default
// error report, map fixtures and clicks on the table.

#include "calibration/Calibration.h"
#include "calibration/TextConv.h"
#include "mapfiles/MapFile.h"
#include "ui/FileDialogs.h"
#include "ui/MessageBoxes.h"
#include "ui/StringGridView.h"
#include "ui/UFromMain.h"

#include "TestSupport.h"

#include <QHeaderView>
#include <QMenu>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// Answers the window's file dialogs from a script, in order: a path chooses that file, an empty
// text cancels. Records how each dialog was prepared when it was shown.
class DialogScript {
public:
    struct Shown {
        QString Title;
        QString InitialDir;
        QString FileName; // the name the command put into the dialog
        TFileDialog::TKind Kind;
    };

    explicit DialogScript(QStringList Answers = {}) : answers_(std::move(Answers)) {
        old_ = SetFileDialogHandler([this](TFileDialog& Dialog) {
            Log.append({Dialog.Title, Dialog.InitialDir, Dialog.FileName, Dialog.Kind});
            if (answers_.isEmpty())
                return false;
            const QString answer = answers_.takeFirst();
            if (answer.isEmpty())
                return false;
            Dialog.FileName = answer;
            return true;
        });
    }
    ~DialogScript() { SetFileDialogHandler(old_); }
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    void Answer(const QString& Path) { answers_ << Path; }
    QList<Shown> Log;

private:
    QStringList answers_;
    FileDialogHandler old_;
};

// Collects what the default error report would show.
class ErrorRecorder {
public:
    ErrorRecorder()
        : old_(SetErrorReportHandler([this](const QString& Text) { Errors << Text; })) {}
    ~ErrorRecorder() { SetErrorReportHandler(old_); }
    ErrorRecorder(const ErrorRecorder&) = delete;
    ErrorRecorder& operator=(const ErrorRecorder&) = delete;
    QStringList Errors;

private:
    ErrorReportHandler old_;
};

inline std::unique_ptr<TCalibration> MakeCalibration(const QString& Name, int Id) {
    auto calibration = std::make_unique<TCalibration>();
    calibration->Name = Name;
    calibration->Id = Id;
    calibration->IdMox = QStringLiteral("1A2B3C4D");
    calibration->ByteAdress = 4096 + Id;
    calibration->ByteLength = 16;
    calibration->TypeTable = 2;
    calibration->TypeTaring = 3;
    calibration->ValueStep = 0.5;
    calibration->ValueOffset = -40;
    calibration->ValueDivision = 4;
    calibration->CoefRevMyl = 0.25;
    return calibration;
}

// A map file in Folder with one calibration per Id, named "Таблица <Id>".
inline QString WriteMap(const QString& Folder, const QString& Name, const QList<int>& Ids) {
    TCalibrationList list;
    for (int id : Ids)
        list.Add(MakeCalibration(QStringLiteral("Таблица %1").arg(id), id));
    const QString path = Folder + QLatin1Char('/') + Name;
    WriteMapFile(path, list);
    return path;
}

// Presses and releases a mouse button over a cell of the table (row 0: the header).
inline void ClickCell(TStringGridView& View, Qt::MouseButton Button, int Col, int Row) {
    const QRect rect = View.CellRect(Col, Row);
    QVERIFY2(!rect.isEmpty(), "cell not on screen");
    QWidget* target = Row == 0 ? static_cast<QWidget*>(View.horizontalHeader()) : View.viewport();
    QTest::mouseClick(target, Button, Qt::NoModifier, rect.center() - target->pos());
}

// The real window, shown offscreen, with its executable's folder and a folder of maps both fresh
// and empty, and recorders for its message boxes and its error report.
class TWindowFixture {
protected:
    std::unique_ptr<QTemporaryDir> app_;  // the executable's folder, as the window sees it
    std::unique_ptr<QTemporaryDir> maps_; // where the user keeps maps
    std::unique_ptr<TFMain> w_;
    std::unique_ptr<MessageRecorder> messages_;
    std::unique_ptr<ErrorRecorder> errors_;

    QString AppDir() const { return app_->path() + QLatin1Char('/'); }
    QString MapsDir() const { return maps_->path() + QLatin1Char('/'); }

    // For init(): a failure here makes QtTest skip the test function.
    void OpenWindow() {
        app_ = std::make_unique<QTemporaryDir>();
        maps_ = std::make_unique<QTemporaryDir>();
        QVERIFY(app_->isValid() && maps_->isValid());
        SetAppFolder(AppDir());
        messages_ = std::make_unique<MessageRecorder>();
        errors_ = std::make_unique<ErrorRecorder>();
        w_ = std::make_unique<TFMain>();
        w_->show();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
    }

    void CloseWindow() {
        if (w_)
            w_->PopupMenu1->hide();
        w_.reset();
        errors_.reset();
        messages_.reset();
        SetAppFolder(QString());
    }
};

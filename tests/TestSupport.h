#pragma once

#include "calibration/Messages.h"

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringList>

// Writes Bytes to Folder/Name exactly as given and returns the full path.
QString WriteFixture(const QString& Folder, const QString& Name, const QByteArray& Bytes);
// The file's bytes; an empty array when it cannot be read.
QByteArray ReadBytes(const QString& Path);
// Text in Windows-1251, as the Windows programs write it.
QByteArray Cp1251(const QString& Text);

// Sets the decimal separator for the life of the guard.
class SeparatorGuard {
public:
    explicit SeparatorGuard(QChar Separator);
    ~SeparatorGuard();

private:
    QChar old_;
};

// Collects what ShowMessage would show, for the life of the recorder.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    QStringList Messages;

private:
    ShowMessageHandler old_;
};

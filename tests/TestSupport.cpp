#include "TestSupport.h"

#include "calibration/TextConv.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTest>

QString WriteFixture(const QString& Folder, const QString& Name, const QByteArray& Bytes) {
    const QString path = QDir(Folder).filePath(Name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(Bytes) != Bytes.size())
        qFatal("cannot write fixture %s", qPrintable(path));
    return path;
}

QByteArray ReadBytes(const QString& Path) {
    QFile file(Path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Cp1251(const QString& Text) {
    QStringEncoder encoder("windows-1251");
    if (!encoder.isValid())
        qFatal("no Windows-1251 encoder");
    QByteArray bytes = encoder.encode(Text);
    if (encoder.hasError())
        qFatal("text has no Windows-1251 form");
    return bytes;
}

SeparatorGuard::SeparatorGuard(QChar Separator) : old_(DecimalSeparator()) {
    SetDecimalSeparator(Separator);
}

SeparatorGuard::~SeparatorGuard() {
    SetDecimalSeparator(old_);
}

MessageRecorder::MessageRecorder()
    : old_(SetShowMessageHandler([this](const QString& Msg) { Messages << Msg; })) {}

MessageRecorder::~MessageRecorder() {
    SetShowMessageHandler(old_);
}

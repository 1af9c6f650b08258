#include "ui/CommandTexts.h"

#include "calibration/TextConv.h"

QString DuplicateIdMessage(int Id) {
    // Line feed before carriage return, as the original message has it.
    return QStringLiteral("Внимание! В таблице две или более калибровок с одинаковым Id (") +
           IntToStr(Id) + QStringLiteral(").") + QStringLiteral("\n\r") +
           QStringLiteral(
               "Поле id должно быть уникальным! Оставьте по одной калибровке для каждого Id.");
}

QString ErrorReportText(const QString& Message) {
    if (!Message.isEmpty() && Message.back().unicode() > u'.')
        return Message + u'.';
    return Message;
}

#include "ui/MessageBoxes.h"

#include "calibration/Exceptions.h"
#include "calibration/Messages.h"

#include <QMessageBox>
#include <QPointer>
#include <cstdio>
#include <exception>

namespace {

void PrintToStderr(const QString& Text) {
    const QByteArray bytes = Text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

ErrorReportHandler& Current() {
    static ErrorReportHandler handler = PrintToStderr;
    return handler;
}

void Box(QWidget* Owner, QMessageBox::Icon Icon, const QString& Text) {
    QMessageBox box(Icon, ApplicationTitle(), Text, QMessageBox::Ok, Owner);
    box.setWindowModality(Qt::WindowModal);
    box.exec();
}

} // namespace

QString ApplicationTitle() {
    return QStringLiteral("Velantu MapEditor");
}

void ShowException(const QString& Message) {
    Current()(ErrorReportText(Message));
}

ErrorReportHandler SetErrorReportHandler(ErrorReportHandler Handler) {
    ErrorReportHandler old = std::move(Current());
    Current() = Handler ? std::move(Handler) : ErrorReportHandler(PrintToStderr);
    return old;
}

void RunCommand(const std::function<void()>& Command) {
    try {
        Command();
    } catch (const Exception& error) {
        ShowException(error.Message());
    } catch (const std::bad_alloc&) {
        ShowException(QStringLiteral("Out of memory"));
    } catch (const std::exception& error) {
        ShowException(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ShowException(QStringLiteral("Unknown error"));
    }
}

void UseMessageBoxes(QWidget* Owner) {
    const QPointer<QWidget> owner(Owner);
    SetShowMessageHandler([owner](const QString& Msg) { Box(owner, QMessageBox::NoIcon, Msg); });
    SetErrorReportHandler(
        [owner](const QString& Text) { Box(owner, QMessageBox::Critical, Text); });
}

#include "calibration/Messages.h"

#include <cstdio>

namespace {

void PrintToStderr(const QString& Msg) {
    const QByteArray bytes = Msg.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

ShowMessageHandler& Current() {
    static ShowMessageHandler handler = PrintToStderr;
    return handler;
}

} // namespace

void ShowMessage(const QString& Msg) {
    Current()(Msg);
}

ShowMessageHandler SetShowMessageHandler(ShowMessageHandler Handler) {
    ShowMessageHandler old = std::move(Current());
    Current() = Handler ? std::move(Handler) : ShowMessageHandler(PrintToStderr);
    return old;
}

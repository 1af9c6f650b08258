#pragma once

#include <QString>
#include <functional>

// The modal message of the running command. The window shows it in a message box, the command
// line tool prints it; until a program installs its own handler, it goes to standard error.
void ShowMessage(const QString& Msg);

using ShowMessageHandler = std::function<void(const QString&)>;

// Installs Handler and returns the one it replaces (so a test can restore it).
ShowMessageHandler SetShowMessageHandler(ShowMessageHandler Handler);

#pragma once

#include "ui/CommandTexts.h"

#include <QString>
#include <functional>

class QWidget;

// The application title that captions every message box.
QString ApplicationTitle();

// The default error report: how an error that ends a command reaches the user. Shows
// ErrorReportText(Message) (ui/CommandTexts.h) through the installed error handler.
void ShowException(const QString& Message);

using ErrorReportHandler = std::function<void(const QString& Text)>;
// Installs Handler and returns the one it replaces; an empty handler restores the default,
// which writes the text to standard error.
ErrorReportHandler SetErrorReportHandler(ErrorReportHandler Handler);

// Runs one command of the window. No error leaves it: whatever the command raises ends the
// command and goes to the default error report, and the window goes on.
void RunCommand(const std::function<void()>& Command);

// From now on ShowMessage shows a message box captioned with the application title, without an
// icon, with one OK button, and the error report shows one with the error icon; both modal to
// Owner. The program calls this once; tests keep the recording handlers instead.
void UseMessageBoxes(QWidget* Owner);

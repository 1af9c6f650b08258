#pragma once

#include <QString>

// Texts that the window and the command line tool show alike, so a script reads exactly what a
// user would see.

// The refusal of Save VLM for an Id that two calibrations share.
QString DuplicateIdMessage(int Id);

// The default error report's text for an error that ended a command: the message, with a full
// stop added when it is not empty and its last character sorts after ".".
QString ErrorReportText(const QString& Message);

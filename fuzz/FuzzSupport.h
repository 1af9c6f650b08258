#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

// Shared by the fuzz targets: what libFuzzer hands over, turned into the files and texts that the
// core reads, and a check that stops the run with the input saved.

// Stops the run when Condition is false; libFuzzer then keeps the input as a crash file.
#define FUZZ_CHECK(Condition, What)                                                                \
    do {                                                                                           \
        if (!(Condition))                                                                          \
            FuzzFail(__FILE__, __LINE__, #Condition, What);                                        \
    } while (false)

[[noreturn]] void FuzzFail(const char* File, int Line, const char* Condition, const QString& What);

// Once per process: messages of the core go nowhere, the run needs no application object.
void FuzzInit();

// A file of this process that holds exactly Bytes; the same path on every call.
QString FuzzFile(const uint8_t* Data, size_t Size, const char* Extension);
// A second path of this process, for what a target writes back.
QString FuzzOutFile(const char* Extension);

// Text in the byte form readable for a failure message (control characters escaped).
QString Printable(const QString& Text);

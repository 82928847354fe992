#pragma once
// Best-effort last words for a fatal signal (SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL): one
// "[crash] fatal signal NAME (N)" line in the diagnostics log's format and the first frames of
// the stack, appended to the log file and echoed to standard output while diagnostics are on.
// The handler uses only async-signal-safe calls (no allocation, no locks, no Qt), then restores
// the default action and raises the signal again, so the process still dies as it would have.
#include <QByteArray>
#include <QString>

namespace vorlik::app {

struct FatalSignalLogger {
    static constexpr int stackDepth = 10;

    // Installs the handlers once; `logFile` is where the diagnostics log writes.
    static void install(const QString &logFile, bool diagnosticsEnabled);
    // Follows the "vorlikDiag" setting: nothing is written while it is off.
    static void setEnabled(bool enabled);

    // The line the handler writes, for a time in milliseconds since the epoch and the local
    // offset from UTC: "2026-12-06 23:15:02.123 [crash] fatal signal SIGSEGV (11)\n".
    static QByteArray formatLine(qint64 epochMilliseconds, int utcOffsetSeconds, int signalNumber);
};

} // namespace vorlik::app

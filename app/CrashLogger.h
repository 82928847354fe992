#pragma once
// Logs an uncaught C++ exception before the program ends: category "crash", the exception's
// type and what(), and the first 10 frames of the stack where it was thrown. It only logs;
// the earlier terminate handler (the runtime's) then runs as it would have.
#include <QString>
#include <QStringList>

namespace vorlik::app {

struct CrashLogger {
    static constexpr int stackDepth = 10;

    // Installs the terminate handler once (later calls do nothing).
    static void install();

    // "uncaught exception std::runtime_error: boom \n" + the frames joined by line feeds, for
    // the exception being handled now (or a note that there is none).
    static QString uncaughtExceptionMessage();
    // Up to `count` frames of the calling stack, above the runtime's own throw and terminate
    // frames, each as "index module symbol+offset".
    static QStringList stackFrames(int count);
};

} // namespace vorlik::app

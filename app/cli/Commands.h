#pragma once
#include "app/cli/CommandLine.h"
#include "app/cli/InterruptWatch.h"

#include <QCoroTask>
#include <QTextStream>

namespace vorlik::app {

// The exit statuses of `vorlik`, as its help lists them.
constexpr int exitSucceeded = 0;    // every file succeeded, the command did its work
constexpr int exitFailed = 1;       // a file failed or was stopped, or the command failed
constexpr int exitUsage = 2;        // the command line could not be used
constexpr int exitSignInFailed = 3; // signing in failed

// Runs one command of the command-line client; yields the process exit code.
// Output goes to `out` (the texts the window shows) and `err` (what went wrong); a command that
// runs files listens to `interrupt`.
QCoro::Task<int> runCommand(CommandLine line, QTextStream &out, QTextStream &err, InterruptWatch &interrupt);

} // namespace vorlik::app

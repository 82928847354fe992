#pragma once
#include "app/cli/CommandLine.h"

#include <QCoroTask>
#include <QTextStream>

namespace vorlik::app {

// Runs one command of the command-line client; yields the process exit code.
// Output goes to `out` (the texts the window shows) and `err` (what went wrong).
QCoro::Task<int> runCommand(CommandLine line, QTextStream &out, QTextStream &err);

} // namespace vorlik::app

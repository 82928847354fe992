#pragma once
// `vorlik analyse FILES…`: connects (--key, else the remembered key), then runs the analysis queue as the Analysis page would,
// printing each item's status as it changes, the status line, and each report's summary line.
#include "app/cli/CommandLine.h"
#include "app/cli/InterruptWatch.h"

#include <QCoroTask>
#include <QTextStream>

namespace vorlik::app {

// 0 when every file was analysed; 1 when one failed, nothing was found or sign-in failed;
// 2 when no file was given.
QCoro::Task<int> analyseCommand(CommandLine line, QTextStream &out, QTextStream &err, InterruptWatch &interrupt);

} // namespace vorlik::app

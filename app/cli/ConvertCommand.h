#pragma once
// `vorlik convert --preset ID FILES...`: signs in as `connect` does, queues the files (folders are walked) for the
// preset and runs the convert runner with the effective ffmpeg, printing each item's row and the
// status line as they change. Ctrl-C stops the run as the window's Stop button does. Exits 1
// when an item failed, nothing could be queued, or the run was stopped.
#include "app/cli/CommandLine.h"
#include "app/cli/InterruptWatch.h"

#include <QCoroTask>
#include <QTextStream>

namespace vorlik::app {

QCoro::Task<int> runConvertCommand(CommandLine line, QTextStream &out, QTextStream &err, InterruptWatch &interrupt);

} // namespace vorlik::app

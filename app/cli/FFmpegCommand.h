#pragma once
#include "app/cli/CommandLine.h"

#include <QCoroTask>
#include <QTextStream>

namespace vorlik::app {

// `vorlik ffmpeg install [--from PROGRAM]`: the ffmpeg install sheet's flow, printed: the
// service's checked download (with its fallback), or a copy of a chosen program.
QCoro::Task<int> runFFmpegCommand(CommandLine line, QTextStream &out, QTextStream &err);

} // namespace vorlik::app

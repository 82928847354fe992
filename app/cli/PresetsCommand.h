#pragma once
// `vorlik presets`: signs in (as `connect`) and lists the presets the session store holds.
#include "app/cli/CommandLine.h"

#include <QCoroTask>
#include <QTextStream>

namespace vorlik::app {

QCoro::Task<int> runPresetsCommand(CommandLine line, QTextStream &out, QTextStream &err);

} // namespace vorlik::app

#pragma once
#include "app/cli/CommandLine.h"

#include <QCoroTask>
#include <QTextStream>

namespace vorlik::app {

// `vorlik update check|download|install`: the update sheet's flow, printed. `install` ends with
// this process quitting while the install helper relaunches the new version. A packaged copy
// only checks: it names the package manager as the way to the newer version.
QCoro::Task<int> runUpdateCommand(CommandLine line, QTextStream &out, QTextStream &err);

} // namespace vorlik::app

#pragma once
// `vorlik logout`: signs in (as `connect`), then signs out as the window's pill does: the
// service's logout call, then a disconnect of the session store.
#include "app/cli/CommandLine.h"

#include <QCoroTask>
#include <QTextStream>

namespace vorlik::app {

QCoro::Task<int> runLogoutCommand(CommandLine line, QTextStream &out, QTextStream &err);

} // namespace vorlik::app

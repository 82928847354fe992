#pragma once
// `vorlik remember-key KEY`: stores the key (trimmed, as the settings window does) in the
// keyring and prints the settings window's note.
#include "app/cli/CommandLine.h"

#include <QCoroTask>
#include <QTextStream>

namespace vorlik::app {

QCoro::Task<int> runRememberKeyCommand(CommandLine line, QTextStream &out, QTextStream &err);

} // namespace vorlik::app

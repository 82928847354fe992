#pragma once
// `vorlik forget-key`: removes the remembered key from the keyring and prints the settings
// window's note (also when there was none).
#include "app/cli/CommandLine.h"

#include <QCoroTask>
#include <QTextStream>

namespace vorlik::app {

QCoro::Task<int> runForgetKeyCommand(CommandLine line, QTextStream &out, QTextStream &err);

} // namespace vorlik::app

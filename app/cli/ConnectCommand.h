#pragma once
// `vorlik connect`: signs in through the session store with --key, else with the key
// remembered in the keyring, printing the connection pill's texts as the state changes.
#include "app/cli/CommandLine.h"

#include <QCoroTask>
#include <QTextStream>

namespace vorlik::service {
class SessionStore;
}

namespace vorlik::app {

// The connection pill's text for the store's state.
QString pillText(const service::SessionStore &store);

// Signs `store` in as `connect` does; true when it ends connected. Failures are printed.
QCoro::Task<bool> signIn(service::SessionStore &store, const CommandLine &line, QTextStream &out, QTextStream &err);

// True, having said so on `err`, when the signed-in store could not get the service's preset list:
// the commands that need presets stop there rather than fail each file for a missing preset.
bool presetListUnavailable(const service::SessionStore &store, QTextStream &err);

QCoro::Task<int> runConnectCommand(CommandLine line, QTextStream &out, QTextStream &err);

} // namespace vorlik::app

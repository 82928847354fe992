#include "app/cli/PresetsCommand.h"

#include "app/cli/ConnectCommand.h"
#include "service/SessionStore.h"

namespace vorlik::app {

QCoro::Task<int> runPresetsCommand(CommandLine line, QTextStream &out, QTextStream &err)
{
    service::SessionStore store;
    if (!co_await signIn(store, line, out, err))
        co_return 1;
    if (store.scriptsUnavailable()) {
        err << "✗ Connected, but the service's preset list is unavailable." << Qt::endl;
        co_return 1;
    }
    for (const service::Preset &preset : store.presets())
        out << preset.id << '\t' << preset.kind << '\t' << preset.name << Qt::endl;
    out << "✓ " << store.presets().size() << " presets" << Qt::endl;
    co_return 0;
}

} // namespace vorlik::app

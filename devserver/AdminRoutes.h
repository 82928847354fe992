#pragma once
// Admin calls for tests: faults, the request log, the usage count, token expiry.
// They are never logged and never faulted.
#include "devserver/FaultInjector.h"
#include "devserver/HttpServer.h"
#include "devserver/RequestLog.h"
#include "devserver/TokenStore.h"
#include "devserver/UsageStore.h"

#include <functional>

namespace vorlik::devserver {

class AdminRoutes {
public:
    AdminRoutes(FaultInjector &faults, RequestLog &log, UsageStore &usage, TokenStore &tokens);
    // Called by DELETE /admin/faults besides clearing the faults (job behaviours go with them).
    void alsoOnClearFaults(std::function<void()> clear) { m_onClearFaults = std::move(clear); }
    void install(HttpServer &server);

private:
    FaultInjector &m_faults;
    RequestLog &m_log;
    UsageStore &m_usage;
    TokenStore &m_tokens;
    std::function<void()> m_onClearFaults;
};

} // namespace vorlik::devserver

#include "app/cli/LogoutCommand.h"

#include "app/cli/Commands.h"
#include "app/cli/ConnectCommand.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "service/APIClient.h"
#include "service/SessionStore.h"

namespace vorlik::app {

QCoro::Task<int> runLogoutCommand(CommandLine line, QTextStream &out, QTextStream &err)
{
    service::SessionStore store;
    if (!co_await signIn(store, line, out, err))
        co_return exitSignInFailed;
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("session"), QStringLiteral("sign out requested"));
    bool confirmed = false;
    if (const std::optional<service::Session> session = store.session())
        confirmed = co_await service::APIClient::logout(session->accessToken, session->refreshToken);
    // The window disconnects whatever the service answered; so does this.
    store.disconnect();
    out << pillText(store) << Qt::endl;
    if (!confirmed) {
        err << "✗ The service did not confirm the sign-out." << Qt::endl;
        co_return 1;
    }
    co_return 0;
}

} // namespace vorlik::app

#include "app/cli/ConnectCommand.h"

#include "app/cli/Commands.h"

#include "service/KeychainStore.h"
#include "service/SessionStore.h"

namespace vorlik::app {

using service::ConnectionState;

QString pillText(const service::SessionStore &store)
{
    const ConnectionState state = store.state();
    switch (state.kind) {
    case ConnectionState::Case::connecting:
        return QStringLiteral("Connecting…");
    case ConnectionState::Case::disconnected:
        return QStringLiteral("Not connected");
    case ConnectionState::Case::failed:
        return QStringLiteral("Sign in failed");
    case ConnectionState::Case::connected:
        break;
    }
    QString text = QStringLiteral("Connected — ") + state.clientId;
    if (store.pendingUsageCount() > 0)
        text += QStringLiteral(" · ") + QString::number(store.pendingUsageCount()) + QStringLiteral(" usage pending");
    return text;
}

QCoro::Task<bool> signIn(service::SessionStore &store, const CommandLine &line, QTextStream &out, QTextStream &err)
{
    std::optional<QString> key = line.key;
    if (!key) {
        // Like the window's start-up: the remembered key, read off the UI thread.
        key = co_await service::KeychainStore::loadInBackground();
        if (!key || key->isEmpty()) {
            out << pillText(store) << Qt::endl;
            err << "✗ No client key: give --key-file PATH or --key - (see --help), or remember one with remember-key." << Qt::endl;
            co_return false;
        }
    }
    const QMetaObject::Connection printer = QObject::connect(
        &store, &service::SessionStore::stateChanged, &store, [&store, &out] { out << pillText(store) << Qt::endl; });
    co_await store.connect(*key);
    QObject::disconnect(printer);
    if (store.state().kind == ConnectionState::Case::failed) {
        err << "✗ " << store.state().message << Qt::endl;
        co_return false;
    }
    co_return store.state().isConnected();
}

QCoro::Task<int> runConnectCommand(CommandLine line, QTextStream &out, QTextStream &err)
{
    service::SessionStore store;
    co_return (co_await signIn(store, line, out, err)) ? exitSucceeded : exitSignInFailed;
}

bool presetListUnavailable(const service::SessionStore &store, QTextStream &err)
{
    if (!store.scriptsUnavailable())
        return false;
    err << "✗ Connected, but the service's preset list is unavailable." << Qt::endl;
    return true;
}

} // namespace vorlik::app

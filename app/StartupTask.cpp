#include "app/StartupTask.h"

#include "app/AppWindows.h"
#include "app/RootView.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "service/KeychainStore.h"
#include "service/SessionStore.h"

namespace vorlik::app {

QCoro::Task<void> StartupTask::run(StartupTask task)
{
    const platform::Settings &settings = *task.settings;
    service::SessionStore &store = *task.store;

    // The remembered key, read on the keyring's own thread. A connect the user (or a page)
    // started meanwhile is not replaced by it.
    if (store.state() == service::ConnectionState::disconnected()) {
        const std::optional<QString> key = co_await service::KeychainStore::loadInBackground();
        if (!task.view)
            co_return;
        if (key && !key->isEmpty() && store.state() == service::ConnectionState::disconnected())
            co_await store.connect(*key);
        if (!task.view)
            co_return;
    }

    if (settings.boolean(QStringLiteral("showReleaseNotes")))
        task.windows->showReleaseNotes();

    const std::optional<QString> build = co_await service::APIClient::serverBuild();
    if (!task.view)
        co_return;
    if (build)
        task.view->setServerBuild(build);
}

} // namespace vorlik::app

#include "app/StartupTask.h"

#include "app/AppWindows.h"
#include "app/RootView.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "service/KeychainStore.h"
#include "service/SessionStore.h"
#include "update/UpdateManager.h"

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

    update::UpdateManager &updater = *task.updater;
    updater.autoCheck();

    if (settings.boolean(QStringLiteral("showReleaseNotes")))
        task.windows->showReleaseNotes();
    // The updater's developer hooks: show the sheet, check, download what is available, then
    // install what was downloaded.
    const bool showUpdates = settings.boolean(QStringLiteral("showUpdates"));
    const bool autoUpdate = settings.boolean(QStringLiteral("autoUpdate"));
    if (showUpdates)
        updater.setShowSheet(true);
    if (showUpdates || autoUpdate) {
        const update::UpdatePhase checked = co_await updater.check();
        if (!task.view)
            co_return;
        // Only a copy that updates itself downloads: a packaged or loose one shows what is
        // available and leaves it there.
        if (autoUpdate && checked.is(update::UpdatePhase::Kind::available) && updater.updatesItself()) {
            const update::Manifest manifest = checked.manifest;
            co_await updater.download(manifest);
            if (!task.view)
                co_return;
            const update::UpdatePhase downloaded = updater.phase();
            if (settings.boolean(QStringLiteral("autoInstall")) && downloaded.is(update::UpdatePhase::Kind::downloaded))
                updater.installAndRelaunch(downloaded.manifest, downloaded.path);
        }
    }

    const std::optional<QString> build = co_await service::APIClient::serverBuild();
    if (!task.view)
        co_return;
    if (build)
        task.view->setServerBuild(build);
}

} // namespace vorlik::app

#include "app/StartupTask.h"

#include "app/AppWindows.h"
#include "app/RootView.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "service/SessionStore.h"

namespace vorlik::app {

QCoro::Task<void> StartupTask::run(StartupTask task)
{
    const platform::Settings &settings = *task.settings;

    if (settings.boolean(QStringLiteral("showReleaseNotes")))
        task.windows->showReleaseNotes();

    const std::optional<QString> build = co_await service::APIClient::serverBuild();
    if (!task.view)
        co_return;
    if (build)
        task.view->setServerBuild(build);
}

} // namespace vorlik::app

#pragma once
// What the main window does once when it first appears: connect with the key remembered in the
// keyring (read off the main thread), start the throttled update check, run the developer
// hooks of the window, and ask the service for its build. Each step's result is applied only
// while the window still exists.
#include <QCoroTask>
#include <QPointer>

namespace vorlik::platform {
class Settings;
}
namespace vorlik::service {
class SessionStore;
}
namespace vorlik::update {
class UpdateManager;
}

namespace vorlik::app {

class AppWindows;
class RootView;

struct StartupTask {
    QPointer<RootView> view;
    service::SessionStore *store = nullptr;
    AppWindows *windows = nullptr;
    update::UpdateManager *updater = nullptr;
    platform::Settings *settings = nullptr;

    static QCoro::Task<void> run(StartupTask task);
};

} // namespace vorlik::app

#pragma once
// The application object: owns the one SessionStore for the life of the process, the
// auxiliary windows, the delegate and the main window ("main": RootView with the light colour
// scheme, 1200 × 780) with the application menu.
#include <QObject>

#include <memory>

namespace vorlik::diagnostics {
class DiagnosticsLogger;
}
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

class ActiveJobs;
class AppDelegate;
class AppWindows;
class MainWindow;
class RootView;

class VorlikDesktopApp : public QObject {
    Q_OBJECT
public:
    // The application's shared settings, log and registry of running work.
    VorlikDesktopApp();
    VorlikDesktopApp(platform::Settings &settings, diagnostics::DiagnosticsLogger &logger, ActiveJobs &jobs,
                     update::UpdateManager &updater);
    ~VorlikDesktopApp() override;

    // Shows the main window and runs the delegate's launch sequence.
    void launch();

    service::SessionStore &session() const { return *m_session; }
    AppWindows &windows() const { return *m_windows; }
    AppDelegate &delegate() const { return *m_delegate; }
    MainWindow &mainWindow() const { return *m_mainWindow; }
    RootView &rootView() const;

private:
    std::unique_ptr<service::SessionStore> m_session;
    std::unique_ptr<AppWindows> m_windows;
    std::unique_ptr<AppDelegate> m_delegate;
    std::unique_ptr<MainWindow> m_mainWindow;
};

} // namespace vorlik::app

#include "app/VorlikDesktopApp.h"

#include "app/ActiveJobs.h"
#include "app/AppDelegate.h"
#include "app/AppMenu.h"
#include "app/AppWindows.h"
#include "app/LightPalette.h"
#include "app/MainWindow.h"
#include "app/RootView.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "service/SessionStore.h"
#include "update/UpdateManager.h"

#include <QApplication>

namespace vorlik::app {

VorlikDesktopApp::VorlikDesktopApp()
    : VorlikDesktopApp(platform::Settings::standard(), diagnostics::DiagnosticsLogger::shared(), ActiveJobs::shared(),
                       update::UpdateManager::shared())
{
}

VorlikDesktopApp::VorlikDesktopApp(platform::Settings &settings, diagnostics::DiagnosticsLogger &logger,
                                   ActiveJobs &jobs, update::UpdateManager &updater)
    : m_session(std::make_unique<service::SessionStore>()),
      m_windows(std::make_unique<AppWindows>(settings, logger, updater)),
      m_delegate(std::make_unique<AppDelegate>(*m_windows, jobs, settings, logger))
{
    LightPalette::apply();
    // Quitting is decided by the delegate alone: closing the main window asks it, and no other
    // window being the last one open ends the program by itself.
    QApplication::setQuitOnLastWindowClosed(false);

    m_mainWindow = std::make_unique<MainWindow>(new RootView(*m_session, *m_windows, updater, settings));
    AppMenu::install(m_mainWindow->menuBar(), *m_windows, *m_delegate);
    m_mainWindow->setCloseGuard([delegate = m_delegate.get()] { return delegate->requestQuit(); });
    m_delegate->setMainWindow(m_mainWindow.get());
}

VorlikDesktopApp::~VorlikDesktopApp()
{
    // The window and its pages go before the store they look at.
    m_mainWindow.reset();
}

void VorlikDesktopApp::launch()
{
    m_delegate->applicationDidFinishLaunching();
}

RootView &VorlikDesktopApp::rootView() const
{
    return *m_mainWindow->rootView();
}

} // namespace vorlik::app

#pragma once
// The application's auxiliary windows: Preferences, About and the release notes. Each window
// controller is made on first use and kept; showing one centres it and brings it to front.
#include <QObject>

#include <memory>

namespace vorlik::diagnostics {
class DiagnosticsLogger;
}
namespace vorlik::platform {
class Settings;
}
namespace vorlik::update {
class UpdateManager;
}

namespace vorlik::app {

class AboutWindowController;
class PreferencesWindowController;
class ReleaseNotesWindowController;

class AppWindows : public QObject {
    Q_OBJECT
public:
    AppWindows(platform::Settings &settings, diagnostics::DiagnosticsLogger &logger, update::UpdateManager &updater,
               QObject *parent = nullptr);
    ~AppWindows() override;

    PreferencesWindowController &preferences();
    AboutWindowController &about();
    ReleaseNotesWindowController &releaseNotes();

    void showPreferences();
    void showAbout();
    void showReleaseNotes();

private:
    platform::Settings &m_settings;
    diagnostics::DiagnosticsLogger &m_logger;
    update::UpdateManager &m_updater;
    std::unique_ptr<PreferencesWindowController> m_preferences;
    std::unique_ptr<AboutWindowController> m_about;
    std::unique_ptr<ReleaseNotesWindowController> m_releaseNotes;
};

} // namespace vorlik::app

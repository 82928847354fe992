#include "app/AppWindows.h"

#include "app/AboutWindowController.h"
#include "app/PreferencesWindowController.h"
#include "app/ReleaseNotesWindowController.h"

namespace vorlik::app {

AppWindows::AppWindows(platform::Settings &settings, diagnostics::DiagnosticsLogger &logger,
                       update::UpdateManager &updater, QObject *parent)
    : QObject(parent), m_settings(settings), m_logger(logger), m_updater(updater)
{
}

AppWindows::~AppWindows() = default;

PreferencesWindowController &AppWindows::preferences()
{
    if (!m_preferences)
        m_preferences = std::make_unique<PreferencesWindowController>(m_settings, m_logger, m_updater);
    return *m_preferences;
}

AboutWindowController &AppWindows::about()
{
    if (!m_about)
        m_about = std::make_unique<AboutWindowController>([this] { showReleaseNotes(); });
    return *m_about;
}

ReleaseNotesWindowController &AppWindows::releaseNotes()
{
    if (!m_releaseNotes)
        m_releaseNotes = std::make_unique<ReleaseNotesWindowController>();
    return *m_releaseNotes;
}

void AppWindows::showPreferences()
{
    preferences().show();
}

void AppWindows::showAbout()
{
    about().show();
}

void AppWindows::showReleaseNotes()
{
    releaseNotes().show();
}

} // namespace vorlik::app

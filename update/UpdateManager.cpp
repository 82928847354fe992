// The update manager's state, its texts for the update sheet, and the sheet's actions.
#include "update/UpdateManager.h"

#include <QFile>

#include "app/ActiveJobs.h"
#include "platform/AppPaths.h"
#include "platform/BuildInfo.h"
#include "platform/Settings.h"

namespace vorlik::update {

UpdateManager &UpdateManager::shared()
{
    static auto *manager = new UpdateManager(platform::Settings::standard(), app::ActiveJobs::shared());
    return *manager;
}

UpdateManager::UpdateManager(platform::Settings &settings, app::ActiveJobs &jobs, QObject *parent)
    : QObject(parent), m_settings(settings), m_jobs(jobs), m_installation(Installation::current())
{
}

QString UpdateManager::currentVersion() { return platform::appVersion(); }
int UpdateManager::currentBuild() { return platform::buildNumber(); }
QString UpdateManager::installLogPath() { return platform::AppPaths::updates() + QStringLiteral("/install.log"); }

void UpdateManager::setShowSheet(bool show)
{
    if (m_showSheet == show)
        return;
    m_showSheet = show;
    emit showSheetChanged();
}

void UpdateManager::setPhase(const UpdatePhase &phase)
{
    if (m_phase == phase)
        return;
    // A verified image is kept while the phase names it and while it is being installed; once
    // the flow moves on (a new check, another download, an error) nothing refers to it any more.
    if (m_phase.is(UpdatePhase::Kind::downloaded) && !phase.is(UpdatePhase::Kind::installing)
        && !(phase.is(UpdatePhase::Kind::downloaded) && phase.path == m_phase.path))
        QFile::remove(m_phase.path);
    m_phase = phase;
    emit phaseChanged();
}

void UpdateManager::setUpdateAvailable(bool available)
{
    if (m_updateAvailable == available)
        return;
    m_updateAvailable = available;
    emit updateAvailableChanged();
}

void UpdateManager::setLatestVersion(const std::optional<QString> &version)
{
    if (m_latestVersion == version)
        return;
    m_latestVersion = version;
    emit latestVersionChanged();
}

QString UpdateManager::installExplanation()
{
    return QStringLiteral("Install & Relaunch quits Vorlik, swaps in the new version and reopens it.");
}

QString UpdateManager::packageManagerNote()
{
    // No repository serves the package, so nothing here may promise an upgrade that some
    // command would fetch: the newer package is got the same way as this one.
    return QStringLiteral("This copy of Vorlik Desktop was installed by the package manager, so its updates come "
                          "through the package manager: install the newer vorlik-desktop package the way you "
                          "installed this one.");
}

QString UpdateManager::statusText() const
{
    using Kind = UpdatePhase::Kind;
    switch (m_phase.kind) {
    case Kind::idle:
        return {};
    case Kind::installing:
        return QStringLiteral("Installing the update…");
    case Kind::downloaded:
        return m_phase.manifest.version + QStringLiteral(" is downloaded and verified.");
    case Kind::checking:
        return QStringLiteral("Checking for updates…");
    case Kind::upToDate:
        return QStringLiteral("You're up to date — ") + currentVersion();
    case Kind::available:
        return m_phase.manifest.version + QStringLiteral(" (build ")
            + QString::number(m_phase.manifest.build) + QStringLiteral(") is available — you have ") + currentVersion();
    case Kind::downloading:
        return QStringLiteral("Downloading update…");
    case Kind::error:
        return m_phase.message;
    }
    return {};
}

QString UpdateManager::notes() const
{
    if (m_phase.is(UpdatePhase::Kind::available) || m_phase.is(UpdatePhase::Kind::downloaded))
        return m_phase.manifest.notes.value_or(QString());
    return {};
}

void UpdateManager::downloadAvailable()
{
    if (canDownload())
        download(m_phase.manifest); // runs on by itself
}

void UpdateManager::installDownloaded()
{
    if (canInstall())
        installAndRelaunch(m_phase.manifest, m_phase.path);
}

} // namespace vorlik::update

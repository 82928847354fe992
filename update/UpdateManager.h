#pragma once
// The application's self-updater: reads the update description the service publishes, tells
// whether a newer version exists (on request, or at most every few hours by itself), downloads
// the update image with its SHA-256 checked, stages and checks the bundle inside, swaps it into
// the place of the running bundle (the old one is put back if the copy fails), and hands over
// to a shell helper that starts the new version once this process has quit. A copy installed by
// a package manager is never swapped: the check still tells of a newer version, and the update
// is left to the package manager. Everything is reported through `phase`; the update sheet
// binds to the properties and texts here.
// One shared instance on the main thread; every log line goes to category "update".
#include "update/Installation.h"
#include "update/Manifest.h"
#include "update/UpdatePhase.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace vorlik::platform {
class Settings;
}
namespace vorlik::app {
class ActiveJobs;
}

namespace vorlik::update {

class UpdateManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(vorlik::update::UpdatePhase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(bool showSheet READ showSheet WRITE setShowSheet NOTIFY showSheetChanged)
    Q_PROPERTY(bool updateAvailable READ updateAvailable NOTIFY updateAvailableChanged)
    Q_PROPERTY(QString latestVersion READ latestVersionText NOTIFY latestVersionChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY phaseChanged)
    Q_PROPERTY(double downloadFraction READ downloadFraction NOTIFY phaseChanged)
    Q_PROPERTY(QString notes READ notes NOTIFY phaseChanged)
    Q_PROPERTY(bool canDownload READ canDownload NOTIFY phaseChanged)
    Q_PROPERTY(bool canInstall READ canInstall NOTIFY phaseChanged)

public:
    using Phase = UpdatePhase;

    struct StagedApp {
        QString stagedApp;  // staging folder + "Vorlik Desktop.app"
        QString stagingDir; // Updates folder + a new UUID
    };

    static constexpr const char *bundleFileName = "Vorlik Desktop.app";
    static constexpr const char *expectedBundleIdentifier = "com.vorlik.desktop";
    static constexpr const char *helperAppName = "Vorlik Desktop";

    // The application's updater (standard settings, the shared ActiveJobs), created on first use.
    static UpdateManager &shared();
    UpdateManager(platform::Settings &settings, app::ActiveJobs &jobs, QObject *parent = nullptr);

    // --- State ---
    const UpdatePhase &phase() const { return m_phase; }
    bool showSheet() const { return m_showSheet; }
    void setShowSheet(bool show);
    bool updateAvailable() const { return m_updateAvailable; }
    std::optional<QString> latestVersion() const { return m_latestVersion; }
    QString latestVersionText() const { return m_latestVersion.value_or(QString()); }

    // --- What the update sheet shows and offers ---
    // "Checking for updates…", "You're up to date — 1.2.24", "1.2.25 (build 28) is available —
    // you have 1.2.24", "Downloading update…", "1.2.25 is downloaded and verified.",
    // "Installing the update…", the error text; empty while idle.
    QString statusText() const;
    double downloadFraction() const { return m_phase.is(UpdatePhase::Kind::downloading) ? m_phase.fraction : 0.0; }
    QString notes() const; // the available or downloaded release's notes
    // Only a bundle offers either: a packaged copy's update comes through the package manager,
    // and a loose copy has nothing the image could replace.
    bool canDownload() const { return m_phase.is(UpdatePhase::Kind::available) && updatesItself(); }
    bool canInstall() const { return m_phase.is(UpdatePhase::Kind::downloaded) && updatesItself(); }
    static QString installButtonTitle() { return QStringLiteral("Install & Relaunch"); }
    static QString installExplanation();
    // How this copy was installed; packageManaged() when a package manager updates it.
    const Installation &installation() const { return m_installation; }
    bool packageManaged() const { return m_installation.is(Installation::Kind::packaged); }
    bool updatesItself() const { return m_installation.is(Installation::Kind::bundle); }
    // Said instead of offering the update in a packaged copy, and when one is asked for anyway.
    static QString packageManagerNote();
    // The sheet's actions: download in `available`, install in `downloaded`; no-ops otherwise.
    Q_INVOKABLE void downloadAvailable();
    Q_INVOKABLE void installDownloaded();

    // The running release, compiled in (platform/BuildInfo).
    static QString currentVersion();
    static int currentBuild();

    // --- Check ---
    // The "updateManifestURL" setting when it parses as a URL with a scheme, else the service
    // origin + "/tools/desktop/latest.json".
    QUrl manifestURL() const;
    // GET without the local cache; code 3 for a non-HTTP answer or a status other than 200,
    // the network's error when nothing came back, the decoding error for a bad body.
    static QCoro::Task<Manifest> fetchManifest(QUrl url);
    // The address as the manifest writes it: the scheme exactly "https", and a host written
    // exactly as the manifest's or the service's own (with or without "www."). No case folding
    // or decoding: a URL parser would lower-case "HTTPS://Vorlik.test" into an allowed address.
    static bool isAllowedDownloadURL(const QString &url, const QUrl &manifestURL);
    // A parsable version, a build of 1 or more, a 64-hex-digit digest and an allowed image URL.
    static bool isManifestWellFormed(const Manifest &manifest, const QUrl &manifestURL);
    // Runs one check (not while downloading or installing) and returns the resulting phase.
    QCoro::Task<UpdatePhase> check();
    // Starts a check in the background unless one succeeded in the last 24 hours or was
    // started in the last 6; returns at once.
    void autoCheck();

    // --- Download ---
    // Downloads the manifest's image and checks its digest: ends in downloaded(manifest, path)
    // or error(…). Ignored while a download is already running; refused outside a bundle.
    QCoro::Task<void> download(Manifest manifest);
    // Streams the body to a new "vorlik-update-<UUID>.dmg" in the temporary folder in 256 KiB
    // blocks, reporting received ÷ Content-Length after each block when the length is known.
    // The HTTP status is not judged (the digest check is); a broken transfer or a write error
    // fails, leaving the partial file.
    static QCoro::Task<QString> download(QUrl url, std::function<void(double)> progress);
    // Lower-case hexadecimal SHA-256 of a file, read 1 MiB at a time. Throws when it cannot be read.
    static QString sha256(const QString &path);

    // --- Install ---
    // Refused in a packaged copy, while ActiveJobs runs anything or while an install runs;
    // otherwise stages the update off the main thread, then performSwap. Returns at once.
    void installAndRelaunch(const Manifest &manifest, const QString &stagedDMGPath);
    // Attaches the image, checks the bundle in it, copies it to a fresh staging folder under
    // Updates and detaches the image, on every way out. Runs on a worker thread.
    static QCoro::Task<StagedApp> prepareStagedApp(Manifest manifest, QString dmg);
    static StagedApp stageApp(const Manifest &manifest, const QString &dmg); // the blocking body
    static std::optional<QString> mount(const QString &dmg);
    static bool unmount(const QString &mountPoint);
    // The first non-empty "mount-point" among the "system-entities" of an image tool's
    // attach report (a property list), or none.
    static std::optional<QString> mountPoint(const QByteArray &attachOutput);
    // Throws UpdateError 7 (no readable Info.plist), 8 (not com.vorlik.desktop), 9 (short
    // version text differs from the manifest's version), 10 (bundle build text differs).
    static void validateBundleIdentity(const QString &app, const Manifest &manifest);
    // Moves the current bundle aside to "<bundle>.vorlik-old", copies the staged one in, and
    // removes the old one; a failed copy puts the old one back. Throws UpdateError 13 or 14.
    static void swapInStagedApp(const QString &currentApp, const QString &stagedApp);
    // Swaps, writes and starts the helper, and quits; each failure ends in error(…).
    void performSwap(const QString &currentApp, const QString &stagedApp, const QString &stagingDir);
    // Runs a program with standard output and error in one pipe; its output as UTF-8, or none
    // when it cannot start or the output is not UTF-8. The exit status is not judged.
    static std::optional<QString> runProcess(const QString &path, const QStringList &arguments);

    static QString installLogPath(); // Updates/install.log
    // By default this program's own installation; installAndRelaunch replaces a bundle's.
    void setInstallationForTesting(const Installation &installation) { m_installation = installation; }
    void setCurrentAppForTesting(const QString &bundle) { m_installation = Installation::forBundle(bundle); }

signals:
    void phaseChanged();
    void showSheetChanged();
    void updateAvailableChanged();
    void latestVersionChanged();
    // The helper runs and the application is about to quit (tools wait for this).
    void aboutToRelaunch(const QString &helperScript);

private:
    void setPhase(const UpdatePhase &phase);
    UpdatePhase currentPhase() const;
    void setUpdateAvailable(bool available);
    void setLatestVersion(const std::optional<QString> &version);
    QCoro::Task<void> runAutoCheck();
    QCoro::Task<void> runInstall(Manifest manifest, QString dmg, QString currentApp);
    void quitForRelaunch(const QString &helperScript);

    platform::Settings &m_settings;
    app::ActiveJobs &m_jobs;
    UpdatePhase m_phase;
    bool m_showSheet = false;
    bool m_updateAvailable = false;
    std::optional<QString> m_latestVersion;
    Installation m_installation;
};

} // namespace vorlik::update

// The update install: staging and checking the bundle from the image, the swap with its
// rollback, the helper that relaunches, and the quit.
#include "update/UpdateManager.h"

#include "app/ActiveJobs.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/AppPaths.h"
#include "platform/FileError.h"
#include "update/DiskImage.h"
#include "update/FileTree.h"
#include "update/InstallHelperScript.h"
#include "update/PropertyList.h"
#include "update/RunningBundle.h"
#include "update/UpdateError.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTimer>
#include <QUuid>
#include <QtConcurrent>

#include <exception>
#include <filesystem>

#include <unistd.h>

namespace vorlik::update {
namespace fs = std::filesystem;

namespace {

void logUpdate(const QString &message)
{
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("update"), message);
}

QString newUUID() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

fs::path fsPath(const QString &path) { return fs::path(QFile::encodeName(path).toStdString()); }

// The outcome of the staging worker; failures travel as the exception itself.
struct StagingOutcome {
    UpdateManager::StagedApp staged;
    std::exception_ptr error;
};

} // namespace

void UpdateManager::installAndRelaunch(const Manifest &manifest, const QString &stagedDMGPath)
{
    // A package manager owns a packaged copy's files: replacing them would leave it with a
    // record of files that are no longer the ones it installed.
    if (packageManaged()) {
        logUpdate(QStringLiteral("install refused: the package manager updates this copy"));
        setPhase(UpdatePhase::error(packageManagerNote()));
        return;
    }
    if (!m_jobs.runningKeys().isEmpty()) {
        setPhase(UpdatePhase::error(QStringLiteral("Stop active conversions/analysis before installing the update.")));
        return;
    }
    if (m_phase.is(UpdatePhase::Kind::installing))
        return; // one install at a time
    if (!m_installation.is(Installation::Kind::bundle)) {
        const QString failure = UpdateError::notRunningFromBundle(QCoreApplication::applicationFilePath()).description();
        logUpdate(QStringLiteral("install failed: ") + failure);
        setPhase(UpdatePhase::error(QStringLiteral("Install failed: ") + failure));
        return;
    }
    const QString currentApp = m_installation.bundle;
    logUpdate(QStringLiteral("installAndRelaunch version=") + manifest.version + QStringLiteral(" dmg=") + stagedDMGPath
              + QStringLiteral(" current=") + currentApp);
    setPhase(UpdatePhase::installing());
    runInstall(manifest, stagedDMGPath, currentApp); // runs on by itself
}

QCoro::Task<void> UpdateManager::runInstall(Manifest manifest, QString dmg, QString currentApp)
{
    QPointer<UpdateManager> self(this);
    StagedApp staged;
    QString failure;
    try {
        QCoro::Task<StagedApp> staging = prepareStagedApp(manifest, dmg);
        staged = co_await staging;
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    // The image has served its purpose once the bundle is staged from it (or could not be):
    // it is not left in the temporary folder.
    QFile::remove(dmg);
    if (!failure.isEmpty()) {
        logUpdate(QStringLiteral("install failed: ") + failure);
        if (self)
            self->setPhase(UpdatePhase::error(QStringLiteral("Install failed: ") + failure));
        co_return;
    }
    if (self)
        self->performSwap(currentApp, staged.stagedApp, staged.stagingDir);
}

QCoro::Task<UpdateManager::StagedApp> UpdateManager::prepareStagedApp(Manifest manifest, QString dmg)
{
    QFuture<StagingOutcome> staging = QtConcurrent::run([manifest, dmg] {
        StagingOutcome outcome;
        try {
            outcome.staged = stageApp(manifest, dmg);
        } catch (...) {
            outcome.error = std::current_exception();
        }
        return outcome;
    });
    co_await staging;
    StagingOutcome outcome = staging.result();
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    co_return outcome.staged;
}

UpdateManager::StagedApp UpdateManager::stageApp(const Manifest &manifest, const QString &dmg)
{
    const std::optional<QString> mounted = mount(dmg);
    if (!mounted)
        throw UpdateError::unopenableImage();
    const QString imageApp = *mounted + u'/' + QLatin1String(bundleFileName);
    try {
        if (!QFileInfo(imageApp).isDir())
            throw UpdateError::missingAppBundle();
        validateBundleIdentity(imageApp, manifest);

        const QString updates = platform::AppPaths::updates();
        std::error_code error;
        fs::create_directories(fsPath(updates), error);
        if (error)
            throw platform::FileError(QStringLiteral("Could not create the folder"), updates, error);
        StagedApp staged;
        staged.stagingDir = updates + u'/' + newUUID();
        fs::create_directory(fsPath(staged.stagingDir), error);
        if (error)
            throw platform::FileError(QStringLiteral("Could not create the folder"), staged.stagingDir, error);
        staged.stagedApp = staged.stagingDir + u'/' + QLatin1String(bundleFileName);
        FileTree::copy(imageApp, staged.stagedApp);
        unmount(*mounted);
        return staged;
    } catch (...) {
        unmount(*mounted);
        throw;
    }
}

std::optional<QString> UpdateManager::mount(const QString &dmg)
{
    QString problem;
    std::optional<QString> mountPoint = DiskImage::attach(dmg, &problem);
    if (!mountPoint)
        logUpdate(QStringLiteral("update image not opened: ") + problem);
    return mountPoint;
}

bool UpdateManager::unmount(const QString &mountPoint) { return DiskImage::detach(mountPoint); }

std::optional<QString> UpdateManager::mountPoint(const QByteArray &attachOutput)
{
    const std::optional<PropertyList> report = PropertyList::parse(attachOutput);
    if (!report || !report->root().isDictionary())
        return std::nullopt;
    const PropertyList::Node entities = report->root().value("system-entities");
    for (std::uint32_t i = 0; i < entities.size(); ++i) {
        const PropertyList::Node entity = entities.at(i);
        if (!entity.isDictionary())
            continue;
        const std::optional<QString> point = entity.value("mount-point").string();
        // A zero byte cannot stand in a path: the file system would read a shorter one.
        if (point && !point->isEmpty() && !point->contains(QChar(0)))
            return point;
    }
    return std::nullopt;
}

void UpdateManager::validateBundleIdentity(const QString &app, const Manifest &manifest)
{
    QFile file(app + QStringLiteral("/Contents/Info.plist"));
    if (!file.open(QIODevice::ReadOnly))
        throw UpdateError::unreadableInfo();
    const std::optional<PropertyList> info = PropertyList::parse(file.readAll());
    if (!info || !info->root().isDictionary())
        throw UpdateError::unreadableInfo();
    const PropertyList::Node root = info->root();

    if (root.value("CFBundleIdentifier").string() != QString::fromLatin1(expectedBundleIdentifier))
        throw UpdateError::notVorlikDesktop();
    // Texts, compared as texts: "1.2" is not "1.2.0" here.
    const QString shortVersion = root.value("CFBundleShortVersionString").string().value_or(QString());
    if (shortVersion != manifest.version)
        throw UpdateError::versionDiffers(shortVersion, manifest.version);
    const QString bundleBuild = root.value("CFBundleVersion").string().value_or(QString());
    if (bundleBuild != QString::number(manifest.build))
        throw UpdateError::buildDiffers(bundleBuild, manifest.build);
    // "min_macos" names a macOS release; no Linux version compares with it, so on this
    // platform the requirement does not apply.
}

void UpdateManager::swapInStagedApp(const QString &currentApp, const QString &stagedApp)
{
    const QString backup = currentApp + QStringLiteral(".vorlik-old");
    FileTree::remove(backup); // a leftover from an earlier install, or nothing

    std::error_code error;
    fs::rename(fsPath(currentApp), fsPath(backup), error);
    if (error)
        throw UpdateError::cannotMoveAside(
            platform::FileError(QStringLiteral("Could not move aside"), currentApp, error).description());

    try {
        FileTree::copy(stagedApp, currentApp);
    } catch (const std::exception &copyError) {
        FileTree::remove(currentApp);
        std::error_code ignored;
        fs::rename(fsPath(backup), fsPath(currentApp), ignored);
        throw UpdateError::copyFailedRestored(describe(copyError));
    }
    FileTree::remove(backup);
}

void UpdateManager::performSwap(const QString &currentApp, const QString &stagedApp, const QString &stagingDir)
{
    const QString parent = QFileInfo(currentApp).absolutePath();
    if (::access(QFile::encodeName(parent).constData(), W_OK) != 0) {
        // Nothing was moved; the checked bundle waits in the staging folder for a manual copy.
        setPhase(UpdatePhase::error(QStringLiteral("Downloaded ") + QFileInfo(stagedApp).fileName()
                                    + QStringLiteral(", but ") + parent + QStringLiteral(" is not writable. ")
                                    + QStringLiteral("Copy Vorlik Desktop from ") + stagingDir
                                    + QStringLiteral(" to a folder you can write to.")));
        return;
    }
    try {
        swapInStagedApp(currentApp, stagedApp);
    } catch (const std::exception &error) {
        setPhase(UpdatePhase::error(QStringLiteral("Install failed and the previous version was restored — ")
                                    + describe(error)));
        return;
    }

    // From here on the new version is in place; a helper that cannot run only means it
    // starts at the next launch instead of now.
    QString program = RunningBundle::executableName(currentApp);
    if (program.isEmpty())
        program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QString script = platform::AppPaths::temporary() + QStringLiteral("/vorlik-install-") + newUUID() + QStringLiteral(".sh");
    QSaveFile scriptFile(script);
    const QByteArray scriptText = InstallHelperScript::text(program).toUtf8();
    if (!scriptFile.open(QIODevice::WriteOnly) || scriptFile.write(scriptText) != scriptText.size()
        || !scriptFile.commit()) {
        setPhase(UpdatePhase::error(QStringLiteral("Install failed: ") + scriptFile.errorString()));
        return;
    }
    std::error_code permissionError;
    fs::permissions(fsPath(script), fs::perms(0755), fs::perm_options::replace, permissionError);
    if (permissionError) {
        setPhase(UpdatePhase::error(QStringLiteral("Install failed: ")
                                    + platform::FileError(QStringLiteral("Could not set the permissions of"), script,
                                                          permissionError)
                                          .description()));
        return;
    }

    QProcess helper;
    helper.setProgram(QStringLiteral("/bin/bash"));
    helper.setArguments({script, currentApp, QString::fromLatin1(helperAppName),
                         QString::number(QCoreApplication::applicationPid()), stagingDir, installLogPath()});
    helper.setStandardInputFile(QProcess::nullDevice());
    helper.setStandardOutputFile(QProcess::nullDevice());
    helper.setStandardErrorFile(QProcess::nullDevice());
    if (!helper.startDetached()) {
        setPhase(UpdatePhase::error(QStringLiteral("Install failed: the installer could not start — ")
                                    + helper.errorString()));
        return;
    }
    logUpdate(QStringLiteral("install helper spawned: ") + script);
    quitForRelaunch(script);
}

void UpdateManager::quitForRelaunch(const QString &helperScript)
{
    emit aboutToRelaunch(helperScript);
    QCoreApplication::quit();
    // Should something hold the quit up, the helper must still see this process go.
    QTimer::singleShot(3000, QCoreApplication::instance(), [] {
        diagnostics::DiagnosticsLogger::shared().drain();
        ::_exit(0);
    });
}

std::optional<QString> UpdateManager::runProcess(const QString &path, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    // Read while it runs, so a talkative tool never blocks on a full pipe.
    QByteArray output;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &process,
                     [&] { output += process.readAllStandardOutput(); });
    process.start(path, arguments);
    if (!process.waitForStarted(-1))
        return std::nullopt;
    process.waitForFinished(-1);
    output += process.readAllStandardOutput();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(output);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace vorlik::update

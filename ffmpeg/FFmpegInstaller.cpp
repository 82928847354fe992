#include "ffmpeg/FFmpegInstaller.h"

#include "diagnostics/DiagnosticsLogger.h"
#include "ffmpeg/FFmpegLocator.h"
#include "ffmpeg/InstallError.h"
#include "platform/AppPaths.h"
#include "platform/ArchiveExtractor.h"
#include "platform/ServiceConfig.h"
#include "platform/Sha256.h"
#include "service/APIClient.h"
#include "service/APIError.h"
#include "service/BodyLength.h"
#include "service/ReplyStatus.h"

#include <QCoroFuture>
#include <QCoroNetworkReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUuid>
#include <QtConcurrent>

#include <exception>
#include <filesystem>
#include <memory>
#include <optional>

namespace vorlik::ffmpeg {
namespace {

constexpr int transferTimeoutMilliseconds = 60 * 1000;

void logInstall(const QString &message)
{
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("ffmpeg"), message);
}

struct ReplyDeleter {
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};

// Removes the working folder however extractAndAdopt ends.
struct WorkingFolder {
    QString path;
    ~WorkingFolder() { FFmpegInstaller::removeWorkingFolder(path); }
};

} // namespace

FFmpegInstaller::FFmpegInstaller(QObject *parent)
    : QObject(parent),
      m_primaryZipURL(service::APIClient::url(QStringLiteral("/tools/ffmpeg/ffmpeg.zip"))),
      m_primarySumURL(service::APIClient::url(QStringLiteral("/tools/ffmpeg/SHA256SUMS"))),
      m_fallbackZipURL(platform::ServiceConfig::ffmpegFallbackZipURL())
{
}

QUrl FFmpegInstaller::fallbackSumURL() const
{
    return QUrl(m_fallbackZipURL.toString() + QStringLiteral(".sha256"));
}

QString FFmpegInstaller::statusText() const
{
    switch (m_phase.kind) {
    case InstallPhase::Kind::idle:
        return {};
    case InstallPhase::Kind::downloading:
        return QStringLiteral("Downloading ffmpeg…");
    case InstallPhase::Kind::extracting:
        return QStringLiteral("Installing into ") + toolsFolderDisplayName() + QStringLiteral("…");
    case InstallPhase::Kind::failed:
        return m_phase.message;
    }
    return {};
}

QString FFmpegInstaller::explanation()
{
    return QStringLiteral("Vorlik can't convert anything without FFmpeg. Click the button below to download it from "
                          "Vorlik — the download is SHA-256 verified and installed automatically.");
}

QString FFmpegInstaller::pickerMessage()
{
    return QStringLiteral("Choose an ffmpeg binary to copy into ") + toolsFolderDisplayName() + u'.';
}

QString FFmpegInstaller::homebrewProgram()
{
    // The Homebrew place the locator searches too.
    return FFmpegLocator::fixedCandidates().at(1);
}

bool FFmpegInstaller::homebrewAvailable() { return FFmpegLocator::isExecutableFile(homebrewProgram()); }

QString FFmpegInstaller::toolsFolderDisplayName()
{
    const QString folder = QDir::cleanPath(FFmpegLocator::toolsDir());
    const QString home = QDir::cleanPath(QDir::homePath());
    if (home != QStringLiteral("/") && folder.startsWith(home + u'/'))
        return QStringLiteral("~") + folder.mid(home.size());
    return folder;
}

QString FFmpegInstaller::sha256Hex(const QByteArray &bytes)
{
    return platform::Sha256::hexDigest(bytes);
}

void FFmpegInstaller::setPhase(const InstallPhase &phase)
{
    if (m_phase == phase)
        return;
    m_phase = phase;
    emit phaseChanged();
}

void FFmpegInstaller::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    emit busyChanged();
}

void FFmpegInstaller::finish(const QString &program)
{
    m_installed = program;
    emit installedChanged();
    emit installed(program);
    emit dismissRequested();
}

QCoro::Task<void> FFmpegInstaller::installRecommended()
{
    if (m_busy)
        co_return;
    QPointer<FFmpegInstaller> self(this);
    setBusy(true);
    setPhase(InstallPhase::downloading());

    QString program;
    QString primaryFailure;
    try {
        QCoro::Task<QString> primary = installFromSource(m_primaryZipURL, m_primarySumURL);
        program = co_await primary;
    } catch (const std::exception &error) {
        primaryFailure = describe(error);
    }
    if (!self)
        co_return;

    QString failure;
    if (!primaryFailure.isEmpty()) {
        logInstall(QStringLiteral("primary ffmpeg source failed: ") + primaryFailure + QStringLiteral(" — trying ")
                   + m_fallbackZipURL.toString());
        // The sheet says what is happening now: downloading again, from the second source.
        setPhase(InstallPhase::downloading());
        try {
            QCoro::Task<QString> fallback = installFromSource(m_fallbackZipURL, fallbackSumURL());
            program = co_await fallback;
        } catch (const std::exception &error) {
            failure = describe(error);
        }
        if (!self)
            co_return;
    }

    setBusy(false);
    if (!failure.isEmpty()) {
        logInstall(QStringLiteral("ffmpeg install failed: ") + failure);
        setPhase(InstallPhase::failed(QStringLiteral("Could not install ffmpeg: ") + failure));
        co_return;
    }
    logInstall(QStringLiteral("ffmpeg installed: ") + program);
    finish(program);
}

QCoro::Task<QString> FFmpegInstaller::installFromSource(QUrl zipURL, QUrl sumURL)
{
    QPointer<FFmpegInstaller> self(this);
    QCoro::Task<QByteArray> archiveDownload = download(zipURL);
    QByteArray archive = co_await archiveDownload;
    QCoro::Task<QByteArray> sumDownload = download(sumURL);
    QByteArray sums = co_await sumDownload;

    QString expected = FFmpegLocator::parseChecksum(QString::fromUtf8(sums));
    if (expected != sha256Hex(archive))
        throw InstallError::checksum();

    if (self)
        self->setPhase(InstallPhase::extracting());
    QCoro::Task<QString> adoption = extractAndAdopt(std::move(archive));
    QString program = co_await adoption;
    co_return program;
}

QCoro::Task<void> FFmpegInstaller::adopt(QString program)
{
    if (m_busy)
        co_return;
    QPointer<FFmpegInstaller> self(this);
    setBusy(true);
    QString installedProgram;
    QString failure;
    try {
        QCoro::Task<QString> adoption = FFmpegLocator::adoptBinary(program);
        installedProgram = co_await adoption;
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    if (!self)
        co_return;
    setBusy(false);
    if (!failure.isEmpty()) {
        setPhase(InstallPhase::failed(QStringLiteral("Could not install ffmpeg: ") + failure));
        co_return;
    }
    finish(installedProgram);
}

QCoro::Task<QByteArray> FFmpegInstaller::download(QUrl url)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(transferTimeoutMilliseconds);
    std::unique_ptr<QNetworkReply, ReplyDeleter> reply(service::APIClient::networkSession().get(request));
    co_await reply.get();

    // No answer at all, or one cut off on the way: the network's own description.
    const std::optional<int> status = service::ReplyStatus::of(*reply);
    if (!status)
        throw service::TransportError(reply->error(), reply->errorString());
    if (*status != 200)
        throw InstallError::download(url.fileName());
    QByteArray body = reply->readAll();
    if (const std::optional<QString> shortfall = service::BodyLength::shortfall(*reply, body.size()))
        throw Failure(*shortfall);
    co_return body;
}

std::optional<QString> FFmpegInstaller::unpack(const QString &folder, const QByteArray &zipData)
{
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot create the working folder ") + folder;
    const QString archivePath = folder + QStringLiteral("/ffmpeg.zip");
    QFile archive(archivePath);
    if (!archive.open(QIODevice::WriteOnly) || archive.write(zipData) != zipData.size() || !archive.flush())
        return QStringLiteral("cannot write ") + archivePath + QStringLiteral(": ") + archive.errorString();
    archive.close();
    const QString target = folder + QStringLiteral("/x");
    if (!QDir().mkpath(target))
        return QStringLiteral("cannot create ") + target;
    try {
        platform::ArchiveExtractor::extract(archivePath, target);
    } catch (const std::exception &error) {
        return describe(error);
    }
    return std::nullopt;
}

void FFmpegInstaller::removeWorkingFolder(const QString &folder)
{
    // By the bytes of the names: an entry whose name is not valid UTF-8 has no QString that
    // names it, and QDir::removeRecursively would leave it (and the folder) behind.
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(QFile::encodeName(folder).toStdString()), ignored);
}

QCoro::Task<QString> FFmpegInstaller::extractAndAdopt(QByteArray zipData)
{
    WorkingFolder folder{platform::AppPaths::temporary() + QStringLiteral("/vorlik-ffmpeg-")
                         + QUuid::createUuid().toString(QUuid::WithoutBraces)};
    QString folderPath = folder.path;
    QFuture<std::optional<QString>> unpacking =
        QtConcurrent::run([folderPath, zipData] { return unpack(folderPath, zipData); });
    co_await unpacking;
    if (std::optional<QString> problem = unpacking.result()) {
        logInstall(QStringLiteral("ffmpeg archive not unpacked: ") + *problem);
        throw InstallError::extraction();
    }

    QString candidate = folder.path + QStringLiteral("/x/ffmpeg");
    if (!QFileInfo(candidate).isFile())
        throw InstallError::missingBinary();
    QCoro::Task<QString> adoption = FFmpegLocator::adoptBinary(candidate);
    QString program = co_await adoption;
    co_return program;
}

} // namespace vorlik::ffmpeg

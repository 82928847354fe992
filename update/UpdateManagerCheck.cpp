// The update check: where the description lives, fetching and judging it, and the throttled
// automatic check.
#include "update/UpdateManager.h"

#include "diagnostics/DiagnosticsLogger.h"
#include "platform/ServiceConfig.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "service/APIError.h"
#include "service/ReplyStatus.h"
#include "update/UpdateError.h"
#include "update/Version.h"

#include <QCoroNetworkReply>
#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include <memory>
#include <optional>

namespace vorlik::update {
namespace {

constexpr int requestTimeoutMilliseconds = 60 * 1000;
constexpr qint64 successInterval = 86400; // seconds: a successful check counts for 24 hours
constexpr qint64 attemptInterval = 21600; // seconds: an attempt counts for 6 hours

const QString lastAttemptKey = QStringLiteral("lastUpdateCheckAttempt");
const QString lastSuccessKey = QStringLiteral("lastUpdateCheckSuccess");

void logUpdate(const QString &message)
{
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("update"), message);
}

struct ReplyDeleter {
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};

bool isHexDigest(const QString &text)
{
    if (text.size() != 64)
        return false;
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    });
}

// The host of an "https://" address as written: after the "//" and any user information, before
// the port, the path, the query or the fragment (an IPv6 address without its brackets).
std::optional<QString> writtenHost(const QString &url)
{
    const qsizetype start = url.indexOf(QLatin1String("//")) + 2;
    qsizetype end = start;
    while (end < url.size() && url.at(end) != u'/' && url.at(end) != u'?' && url.at(end) != u'#')
        ++end;
    QStringView authority = QStringView(url).mid(start, end - start);
    const qsizetype at = authority.lastIndexOf(u'@');
    if (at >= 0)
        authority = authority.mid(at + 1);
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        return authority.mid(1, close - 1).toString();
    }
    const qsizetype colon = authority.indexOf(u':');
    return (colon < 0 ? authority : authority.left(colon)).toString();
}

// A future date counts as "just now": the elapsed time is negative, below every interval.
bool isRecent(const std::optional<QDateTime> &when, const QDateTime &now, qint64 seconds)
{
    return when && when->secsTo(now) < seconds;
}

} // namespace

UpdatePhase UpdateManager::currentPhase() const
{
    // A copy: QCoro 0.8 moves from a non-const lvalue given to co_return, which would empty
    // the member itself.
    return m_phase;
}

QUrl UpdateManager::manifestURL() const
{
    if (const std::optional<QString> configured = m_settings.updateManifestURL()) {
        const QUrl url(*configured, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty())
            return url;
    }
    return service::APIClient::url(QStringLiteral("/tools/desktop/latest.json"));
}

bool UpdateManager::isAllowedDownloadURL(const QString &url, const QUrl &manifestURL)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || !url.startsWith(QLatin1String("https://")))
        return false;
    const std::optional<QString> host = writtenHost(url);
    // What the network will ask for is QUrl's reading of the address: it must be the same host.
    if (!host || host->isEmpty() || *host != parsed.host())
        return false;
    if (*host == manifestURL.host())
        return true;
    const platform::ServiceConfig service = platform::ServiceConfig::current();
    return *host == service.host || *host == service.wwwHost;
}

bool UpdateManager::isManifestWellFormed(const Manifest &manifest, const QUrl &manifestURL)
{
    if (!Version::parse(manifest.version))
        return false;
    if (manifest.build < 1)
        return false;
    if (!isHexDigest(manifest.sha256))
        return false;
    return !manifest.dmg.isEmpty() && isAllowedDownloadURL(manifest.dmg, manifestURL);
}

QCoro::Task<Manifest> UpdateManager::fetchManifest(QUrl url)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(requestTimeoutMilliseconds);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    std::unique_ptr<QNetworkReply, ReplyDeleter> reply(service::APIClient::networkSession().get(request));
    co_await reply.get();

    if (service::ReplyStatus::transferFailed(*reply))
        throw service::TransportError(reply->error(), reply->errorString());
    // Answered with another status, or not by an HTTP server.
    if (service::ReplyStatus::of(*reply) != 200)
        throw UpdateError::unavailable();
    co_return Manifest::fromJSON(reply->readAll());
}

QCoro::Task<UpdatePhase> UpdateManager::check()
{
    if (m_phase.is(UpdatePhase::Kind::downloading) || m_phase.is(UpdatePhase::Kind::installing))
        co_return currentPhase();
    QPointer<UpdateManager> self(this);
    setPhase(UpdatePhase::checking());
    m_settings.setValue(lastAttemptKey, QDateTime::currentDateTimeUtc());

    Manifest manifest;
    QString failure;
    QUrl source = manifestURL();
    try {
        QCoro::Task<Manifest> fetching = fetchManifest(source);
        manifest = co_await fetching;
    } catch (const std::exception &error) {
        failure = describe(error);
        if (failure.isEmpty())
            failure = QStringLiteral("Unknown error");
    }
    if (!self)
        co_return UpdatePhase::error(failure);
    if (!failure.isEmpty()) {
        setPhase(UpdatePhase::error(failure));
        logUpdate(QStringLiteral("check failed: ") + failure);
        co_return currentPhase();
    }

    const std::optional<Version> current = Version::parse(currentVersion());
    const std::optional<Version> remote = Version::parse(manifest.version);
    if (!current || !remote) {
        logUpdate(QStringLiteral("manifest version is malformed — ignored"));
        setPhase(UpdatePhase::upToDate());
        setLatestVersion(std::nullopt);
        setUpdateAvailable(false);
        co_return currentPhase();
    }
    if (!isManifestWellFormed(manifest, source)) {
        setPhase(UpdatePhase::error(QStringLiteral("The update server sent an invalid update description.")));
        co_return currentPhase();
    }

    // A lower version is never offered, whatever its build.
    const bool newer = *remote > *current || (*remote == *current && manifest.build > currentBuild());
    if (newer) {
        setLatestVersion(manifest.version);
        setUpdateAvailable(true);
        setPhase(UpdatePhase::available(manifest));
        logUpdate(QStringLiteral("update available: ") + manifest.version + QStringLiteral(" (build ")
                  + QString::number(manifest.build) + QStringLiteral(") vs current ") + currentVersion()
                  + QStringLiteral(" (") + QString::number(currentBuild()) + u')');
    } else {
        setPhase(UpdatePhase::upToDate());
        setLatestVersion(std::nullopt);
        setUpdateAvailable(false);
        logUpdate(QStringLiteral("up to date (") + manifest.version + QStringLiteral(" build ")
                  + QString::number(manifest.build) + u')');
    }
    m_settings.setValue(lastSuccessKey, QDateTime::currentDateTimeUtc());
    co_return currentPhase();
}

void UpdateManager::autoCheck()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (isRecent(m_settings.date(lastSuccessKey), now, successInterval))
        return;
    if (isRecent(m_settings.date(lastAttemptKey), now, attemptInterval))
        return;
    m_settings.setValue(lastAttemptKey, now);
    runAutoCheck(); // runs on by itself
}

QCoro::Task<void> UpdateManager::runAutoCheck()
{
    QPointer<UpdateManager> self(this);
    QCoro::Task<UpdatePhase> checking = check();
    UpdatePhase result = co_await checking;
    if (!self)
        co_return;
    if (result.is(UpdatePhase::Kind::available)) {
        setLatestVersion(result.manifest.version);
        setUpdateAvailable(true);
    } else if (result.is(UpdatePhase::Kind::upToDate)) {
        setLatestVersion(std::nullopt);
        setUpdateAvailable(false);
    }
}

} // namespace vorlik::update

#include "platform/ServiceConfig.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSysInfo>

namespace vorlik::platform {
namespace {
QMutex overrideLock;
QUrl overrideOrigin;         // guarded by overrideLock
QUrl overrideFallbackOrigin; // guarded by overrideLock

bool usable(const QUrl &origin) { return origin.isValid() && !origin.scheme().isEmpty(); }
} // namespace

ServiceConfig ServiceConfig::forOrigin(const QUrl &origin)
{
    ServiceConfig config;
    config.origin = origin;
    config.host = origin.host();
    config.wwwHost = QStringLiteral("www.") + config.host;
    return config;
}

ServiceConfig ServiceConfig::builtIn()
{
    return forOrigin(QUrl(QStringLiteral("https://vorlik.app")));
}

ServiceConfig ServiceConfig::current()
{
    {
        QMutexLocker locker(&overrideLock);
        if (usable(overrideOrigin))
            return forOrigin(overrideOrigin);
    }
    const QUrl fromEnvironment(qEnvironmentVariable("VORLIK_SERVICE_ORIGIN"));
    if (usable(fromEnvironment))
        return forOrigin(fromEnvironment);
    return builtIn();
}

void ServiceConfig::setCurrentForTesting(const QUrl &origin)
{
    QMutexLocker locker(&overrideLock);
    overrideOrigin = origin;
}

QUrl ServiceConfig::ffmpegFallbackOrigin()
{
    {
        QMutexLocker locker(&overrideLock);
        if (usable(overrideFallbackOrigin))
            return overrideFallbackOrigin;
    }
    const QUrl fromEnvironment(qEnvironmentVariable("VORLIK_FFMPEG_FALLBACK_ORIGIN"));
    if (usable(fromEnvironment))
        return fromEnvironment;
    return QUrl(QStringLiteral("https://dl.vorlik-tools.net"));
}

void ServiceConfig::setFFmpegFallbackOriginForTesting(const QUrl &origin)
{
    QMutexLocker locker(&overrideLock);
    overrideFallbackOrigin = origin;
}

QString ServiceConfig::ffmpegFallbackPath(const QString &architecture)
{
    return QStringLiteral("/download/linux/") + architecture + QStringLiteral("/1787073674_9.0.1/ffmpeg.zip");
}

QUrl ServiceConfig::ffmpegFallbackZipURL()
{
    // Qt names 64-bit ARM "arm64" and x86-64 "x86_64", as the download host does.
    QUrl url = ffmpegFallbackOrigin();
    url.setPath(ffmpegFallbackPath(QSysInfo::currentCpuArchitecture()));
    return url;
}

} // namespace vorlik::platform

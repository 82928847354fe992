#pragma once
#include <QString>
#include <QUrl>

namespace vorlik::platform {

// Where the online service lives. The built-in values are the production service; tests and
// developers point elsewhere with the "baseURL" setting (per call) or, for the host-name
// checks of the updater and the web tabs, with VORLIK_SERVICE_ORIGIN in the environment.
struct ServiceConfig {
    QUrl origin;      // https origin without a path
    QString host;     // the service's own host name
    QString wwwHost;  // the same with a leading "www" label

    static ServiceConfig builtIn();
    // builtIn(), or the origin named by VORLIK_SERVICE_ORIGIN / setCurrentForTesting.
    static ServiceConfig current();
    static void setCurrentForTesting(const QUrl &origin); // an empty URL restores the default
    static ServiceConfig forOrigin(const QUrl &origin);

    // The second source of the ffmpeg download, on a host of its own so that an outage of the
    // service does not take it down too: the built-in download host, or the origin named by
    // VORLIK_FFMPEG_FALLBACK_ORIGIN / setFFmpegFallbackOriginForTesting.
    static QUrl ffmpegFallbackOrigin();
    static void setFFmpegFallbackOriginForTesting(const QUrl &origin); // empty: the default
    // The build for this machine's processor on that host, e.g.
    // https://…/download/linux/x86_64/1787073674_9.0.1/ffmpeg.zip (or …/linux/arm64/…).
    static QUrl ffmpegFallbackZipURL();
    static QString ffmpegFallbackPath(const QString &architecture);
};

} // namespace vorlik::platform

#include "web/WebProfile.h"

#include "platform/AppPaths.h"
#include "web/ResourceGuard.h"

#include <QDir>
#include <QStandardPaths>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

namespace vorlik::web {

QString WebProfile::storagePath()
{
    return QDir(platform::AppPaths::applicationSupport()).filePath(QStringLiteral("WebData"));
}

QString WebProfile::cachePath()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return QDir(base).filePath(QStringLiteral("Vorlik/WebCache"));
}

std::shared_ptr<QWebEngineProfile> WebProfile::acquire()
{
    // Both tabs share one store, like the platform's default website data store.
    static std::weak_ptr<QWebEngineProfile> current;
    if (auto profile = current.lock())
        return profile;

    auto *profile = new QWebEngineProfile(QString::fromLatin1(storageName));
    profile->setPersistentStoragePath(storagePath());
    profile->setCachePath(cachePath());
    profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    profile->setHttpUserAgent(QString::fromLatin1(userAgent));
    profile->setDownloadPath(platform::AppPaths::downloads());
    profile->setUrlRequestInterceptor(new ResourceGuard(profile));

    QWebEngineSettings *settings = profile->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    // A PDF becomes a download, the way the tabs treat it.
    settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    // A local page (the developer's "openURL") reads no other local files and nothing remote.
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);

    std::shared_ptr<QWebEngineProfile> shared(profile, [](QWebEngineProfile *p) { delete p; });
    current = shared;
    return shared;
}

} // namespace vorlik::web

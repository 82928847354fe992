#include "platform/ServiceConfig.h"

#include <QMutex>
#include <QMutexLocker>

namespace vorlik::platform {
namespace {
QMutex overrideLock;
QUrl overrideOrigin; // guarded by overrideLock
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
        if (overrideOrigin.isValid() && !overrideOrigin.scheme().isEmpty())
            return forOrigin(overrideOrigin);
    }
    const QUrl fromEnvironment(qEnvironmentVariable("VORLIK_SERVICE_ORIGIN"));
    if (fromEnvironment.isValid() && !fromEnvironment.scheme().isEmpty())
        return forOrigin(fromEnvironment);
    return builtIn();
}

void ServiceConfig::setCurrentForTesting(const QUrl &origin)
{
    QMutexLocker locker(&overrideLock);
    overrideOrigin = origin;
}

} // namespace vorlik::platform

#include "web/ResourceGuard.h"

namespace vorlik::web {

bool ResourceGuard::isBlocked(const QUrl &requestUrl, const QUrl &initiator)
{
    const QString scheme = requestUrl.scheme();
    if (scheme == QLatin1String("qrc"))
        return true;
    if (scheme == QLatin1String("file"))
        return !initiator.isEmpty() && initiator.scheme() != QLatin1String("file");
    return false;
}

void ResourceGuard::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    if (isBlocked(info.requestUrl(), info.initiator()))
        info.block(true);
}

} // namespace vorlik::web

#include "web/SecurityOrigin.h"

namespace vorlik::web {

namespace {

int defaultPort(const QString &scheme)
{
    if (scheme == QLatin1String("http") || scheme == QLatin1String("ws"))
        return 80;
    if (scheme == QLatin1String("https") || scheme == QLatin1String("wss"))
        return 443;
    return -1;
}

} // namespace

SecurityOrigin SecurityOrigin::fromUrl(const QUrl &url)
{
    SecurityOrigin origin;
    origin.protocol = url.scheme();
    origin.host = url.host();
    const int port = url.port();
    origin.port = port < 0 || port == defaultPort(origin.protocol) ? 0 : port;
    return origin;
}

SecurityOrigin SecurityOrigin::fromText(const QString &origin)
{
    // An opaque origin ("null") has no parts; it never matches an approved one.
    if (origin.isEmpty() || origin == QLatin1String("null"))
        return {};
    return fromUrl(QUrl(origin));
}

QString SecurityOrigin::description() const
{
    if (protocol.isEmpty())
        return QStringLiteral("null"); // an opaque origin, as pages write it
    QString text = protocol + QStringLiteral("://") + host;
    if (port > 0)
        text += QLatin1Char(':') + QString::number(port);
    return text;
}

} // namespace vorlik::web

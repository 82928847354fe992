#pragma once
// The stand-in service over HTTPS with the test certificate, serving an updates folder under
// /tools/desktop/: one per test binary, started on first use. Tests publish into the folder.
#include "tests/support/DevServer.h"

#include <QDir>
#include <QJsonValue>
#include <QTemporaryDir>

namespace vorlik::test {

inline QString updatesFolder()
{
    static const QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/vorlik-updates-XXXXXX")); // removed at exit
    return folder.path();
}

inline DevServer &updateServer()
{
    static DevServer *server = [] {
        DevServer::trustTestCA(); // the test's own admin calls go over HTTPS too
        return new DevServer(DevServer::tlsArguments() + QStringList{QStringLiteral("--updates"), updatesFolder()});
    }();
    return *server;
}

// The address of `name` in the updates folder as the service serves it, `query` added.
inline QUrl updateURL(const QString &name = {}, const QString &query = {})
{
    const QString path = QStringLiteral("/tools/desktop/") + name;
    return updateServer().baseUrl().resolved(QUrl(query.isEmpty() ? path : path + u'?' + query));
}

// How many requests the update service logged for paths starting with `prefix` since its last reset.
inline int updateRequestsUnder(const QString &prefix)
{
    int count = 0;
    for (const QJsonValue &request : updateServer().requests())
        count += request[QStringLiteral("path")].toString().startsWith(prefix);
    return count;
}

} // namespace vorlik::test

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
};

} // namespace vorlik::platform

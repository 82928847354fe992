#include "service/ConnectionRetirement.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace vorlik::service {

void ConnectionRetirement::install(QNetworkAccessManager &session, std::chrono::milliseconds maximumAge)
{
    new ConnectionRetirement(session, maximumAge);
}

ConnectionRetirement::ConnectionRetirement(QNetworkAccessManager &session, std::chrono::milliseconds maximumAge)
    : QObject(&session), m_session(session), m_maximumAge(maximumAge)
{
    m_age.start();
    connect(&session, &QNetworkAccessManager::finished, this, [this] {
        if (m_checkPending || m_age.elapsed() < m_maximumAge.count())
            return;
        // Not inside the reply's own finished signal: clearing stops the session's network
        // thread, which the reply may still be reporting from.
        m_checkPending = true;
        QMetaObject::invokeMethod(this, &ConnectionRetirement::retireIfQuiet, Qt::QueuedConnection);
    });
}

void ConnectionRetirement::retireIfQuiet()
{
    m_checkPending = false;
    // Clearing would end every exchange in flight with it; the next finished one tries again.
    for (const QNetworkReply *reply : m_session.findChildren<QNetworkReply *>(Qt::FindDirectChildrenOnly))
        if (reply->isRunning())
            return;
    m_session.clearConnectionCache();
    m_age.restart();
}

} // namespace vorlik::service

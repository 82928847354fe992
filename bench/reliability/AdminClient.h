#pragma once
// The stand-in service's admin endpoints, called without blocking: the soak run keeps its event
// loop free while it sets faults, so its engines never resume inside a nested loop.
#include <QByteArray>
#include <QCoroTask>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QUrl>

namespace vorlik::soak {

class AdminClient {
public:
    explicit AdminClient(QUrl baseUrl) : m_baseUrl(std::move(baseUrl)) {}

    QCoro::Task<bool> addFault(QJsonObject fault);
    QCoro::Task<bool> clearFaults();
    QCoro::Task<bool> expireTokens();
    // {"total":N,"reports":[…]}; an empty object when the call failed.
    QCoro::Task<QJsonObject> usage();
    // Drops kept-alive connections, so that descriptor counts compare.
    void dropConnections() { m_network.clearConnectionCache(); }

private:
    QCoro::Task<std::pair<int, QByteArray>> call(QByteArray method, QString path, QByteArray body = {});
    QUrl m_baseUrl;
    QNetworkAccessManager m_network;
};

} // namespace vorlik::soak

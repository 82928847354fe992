#pragma once
// The stand-in service as a child process of a test: started on a free port with a private
// data folder, stopped with the test binary. Admin calls set faults and read the request log.
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkReply>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

namespace vorlik::test {

struct RawReply {
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    QByteArray contentLength; // the Content-Length header as sent
};
// A blocking HTTP call to a path (a query included) under baseUrl, with its transport error.
RawReply rawCall(const QUrl &baseUrl, const QByteArray &method, const QString &path, const QByteArray &body = {},
                 const QString &bearer = {}, const QByteArray &contentType = "application/json");

class DevServer {
public:
    // One server per test binary, started on first use with these extra arguments.
    static DevServer &shared(const QStringList &extraArguments = {});
    // One HTTPS server per test binary, with the build's test certificate (see trustTestCA).
    static DevServer &sharedTls();
    // Arguments that make a server speak HTTPS with the test certificate.
    static QStringList tlsArguments();
    // Adds the test CA to Qt's default SSL configuration: call before the first HTTPS request,
    // since Qt reuses a connection whatever a later request's configuration says.
    static void trustTestCA();

    // Stops every server still running (the shared ones included); the test main calls it.
    static void stopAll();

    explicit DevServer(const QStringList &extraArguments = {});
    ~DevServer();

    QUrl baseUrl() const { return m_baseUrl; }
    QString demoKey() const { return m_demoKey; }
    QString dataPath() const { return m_data.path(); }
    qint64 processId() const { return m_process->processId(); }

    // Sets "baseURL" in the standard settings to this server.
    void useAsService() const;

    void addFault(const QJsonObject &fault) const;
    void clearFaults() const;
    QJsonArray requests() const;   // request log since the last clearRequests()
    void clearRequests() const;
    QJsonObject usage() const;
    void expireTokens() const;
    // Clears faults and the request log: call at the start of each test.
    void reset() const;

    // A blocking call for tests: method, path on the server, JSON body; returns (status, body).
    std::pair<int, QByteArray> call(const QByteArray &method, const QString &path,
                                    const QByteArray &body = {}, const QString &bearer = {}) const;

private:
    QTemporaryDir m_data;
    std::unique_ptr<QProcess> m_process;
    QUrl m_baseUrl;
    QString m_demoKey;
};

} // namespace vorlik::test

#include "tests/support/DevServer.h"

#include "platform/Settings.h"

#include <QCoroNetworkReply>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>

#include <sys/prctl.h>

#include <csignal>
#include <set>
#include <stdexcept>

namespace vorlik::test {

namespace {

// Servers still running; the shared ones live until the binary exits and are stopped then,
// so that no server outlives its test binary (ctest waits for every holder of the output).
std::set<DevServer *> &running()
{
    static std::set<DevServer *> servers;
    return servers;
}

} // namespace

void DevServer::stopAll()
{
    const std::set<DevServer *> servers = running();
    for (DevServer *server : servers)
        delete server;
}

// Made once, stopped by stopAll().
DevServer &DevServer::shared(const QStringList &extraArguments) { static auto *server = new DevServer(extraArguments); return *server; }
DevServer &DevServer::sharedTls() { static auto *server = new DevServer(tlsArguments()); return *server; }

QStringList DevServer::tlsArguments()
{
    const QString folder = QStringLiteral(VORLIK_TEST_TLS_DIR);
    return {QStringLiteral("--tls-cert"), folder + QStringLiteral("/server.pem"), QStringLiteral("--tls-key"),
            folder + QStringLiteral("/server.key")};
}

void DevServer::trustTestCA()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(QStringLiteral(VORLIK_TEST_TLS_DIR "/ca.pem"));
    QSslConfiguration::setDefaultConfiguration(configuration);
}

DevServer::DevServer(const QStringList &extraArguments)
    : m_data(QDir::tempPath() + QStringLiteral("/vorlik-devserver-XXXXXX")), m_process(std::make_unique<QProcess>())
{
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Should the test binary die without cleaning up, the server goes with it.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    QStringList arguments{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"), m_data.path()};
    arguments += extraArguments;
    m_process->start(QStringLiteral(VORLIK_DEVSERVER_PATH), arguments);
    if (!m_process->waitForStarted(10000))
        throw std::runtime_error("vorlik-devserver did not start");

    QElapsedTimer clock;
    clock.start();
    while ((m_baseUrl.isEmpty() || m_demoKey.isEmpty()) && clock.elapsed() < 15000) {
        if (!m_process->canReadLine() && !m_process->waitForReadyRead(500))
            continue;
        while (m_process->canReadLine()) {
            const QString line = QString::fromUtf8(m_process->readLine()).trimmed();
            if (line.startsWith(QStringLiteral("listening on ")))
                m_baseUrl = QUrl(line.mid(13));
            else if (line.startsWith(QStringLiteral("demo key: ")))
                m_demoKey = line.mid(10);
        }
    }
    if (m_baseUrl.isEmpty() || m_demoKey.isEmpty())
        throw std::runtime_error("vorlik-devserver did not announce its port and key");
    running().insert(this);
}

DevServer::~DevServer()
{
    running().erase(this);
    m_process->terminate();
    if (!m_process->waitForFinished(3000))
        m_process->kill();
    m_process->waitForFinished(3000);
}

void DevServer::useAsService() const
{
    platform::Settings::standard().setValue(QStringLiteral("baseURL"), m_baseUrl.toString());
}

RawReply rawCall(const QUrl &baseUrl, const QByteArray &method, const QString &path, const QByteArray &body,
                 const QString &bearer, const QByteArray &contentType)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(baseUrl.resolved(QUrl(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    if (!bearer.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + bearer.toUtf8());
    const std::unique_ptr<QNetworkReply> reply(manager.sendCustomRequest(request, method, body));
    QCoro::waitFor(qCoro(reply.get()).waitForFinished(std::chrono::seconds(60)));
    return {reply->error(), reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
            reply->rawHeader("Content-Length")};
}

std::pair<int, QByteArray> DevServer::call(const QByteArray &method, const QString &path, const QByteArray &body,
                                           const QString &bearer) const
{
    const RawReply reply = rawCall(m_baseUrl, method, path, body, bearer);
    return {reply.status, reply.body};
}

void DevServer::addFault(const QJsonObject &fault) const
{
    const auto [status, body] = call("POST", QStringLiteral("/admin/faults"), QJsonDocument(fault).toJson());
    if (status != 200)
        throw std::runtime_error("could not set a fault: " + body.toStdString());
}

void DevServer::clearFaults() const { call("DELETE", QStringLiteral("/admin/faults")); }
void DevServer::clearRequests() const { call("DELETE", QStringLiteral("/admin/requests")); }
void DevServer::expireTokens() const { call("POST", QStringLiteral("/admin/expire-tokens")); }

QJsonArray DevServer::requests() const { return QJsonDocument::fromJson(call("GET", QStringLiteral("/admin/requests")).second).array(); }
QJsonObject DevServer::usage() const { return QJsonDocument::fromJson(call("GET", QStringLiteral("/admin/usage")).second).object(); }

void DevServer::reset() const
{
    clearFaults();
    clearRequests();
}

} // namespace vorlik::test

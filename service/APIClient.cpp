#include "service/APIClient.h"

#include "diagnostics/DiagnosticsLogger.h"
#include "platform/ServiceConfig.h"
#include "platform/Settings.h"
#include "service/ConnectionRetirement.h"
#include "service/JsonFields.h"
#include "service/JsonReader.h"
#include "service/ReplyStatus.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QThread>

#include <memory>

namespace vorlik::service {
namespace {

constexpr int requestTimeoutMilliseconds = 60 * 1000;

// The network session every call sends through. QNetworkAccessManager belongs to the thread
// that made it, so the holder keeps one per thread, each created on the first call from that
// thread (the main thread's lives as long as the process; a worker thread's goes with it).
// The lock guards only the lookup; sending happens outside it.
// Every request of the shared session asks for an uncompressed answer unless it says otherwise:
// Qt 6.4 can crash in its Brotli decoder while following a redirect whose body came compressed,
// and what the program fetches is small JSON or already-compressed archives.
class UncompressedSession : public QNetworkAccessManager {
protected:
    QNetworkReply *createRequest(Operation operation, const QNetworkRequest &original, QIODevice *body) override
    {
        QNetworkRequest request(original);
        if (!request.hasRawHeader(QByteArrayLiteral("Accept-Encoding")))
            request.setRawHeader(QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("identity"));
        return QNetworkAccessManager::createRequest(operation, request, body);
    }
};

struct APIURLSessionBox {
    QMutex lock;
    QHash<QThread *, QNetworkAccessManager *> stored; // guarded by lock

    static APIURLSessionBox &instance()
    {
        static auto *box = new APIURLSessionBox; // never destroyed, like the platform's shared session
        return *box;
    }
};

struct ReplyDeleter {
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};
using ReplyHolder = std::unique_ptr<QNetworkReply, ReplyDeleter>;

void logAPI(const QString &message)
{
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("api"), message);
}

// Formatting a line costs more than the check, and most runs have the log switched off.
bool apiLogEnabled()
{
    return diagnostics::DiagnosticsLogger::shared().isEnabled();
}

QString bodyText(const QByteArray &body)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(body);
    return decoder.hasError() ? QString() : text;
}

QByteArray jsonBody(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Exactly 200 is success for the decoded endpoints; anything else carries the body as text.
void requireOK(const APIResponse &response)
{
    if (response.status != 200)
        throw APIError::badStatus(response.status, bodyText(response.body));
}

template <typename Record>
Record decodeRecord(const QByteArray &body)
{
    try {
        return Record::fromJSON(body);
    } catch (const DecodingError &error) {
        throw APIError::decoding(error.description());
    }
}

} // namespace

QUrl APIClient::baseURL()
{
    if (const std::optional<QString> configured = platform::Settings::standard().baseURL()) {
        const QUrl url(*configured, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty())
            return url;
    }
    return platform::ServiceConfig::current().origin;
}

QUrl APIClient::url(const QString &path)
{
    QUrl url = baseURL();
    QString joined = url.path(QUrl::FullyEncoded);
    while (joined.endsWith(QLatin1Char('/')))
        joined.chop(1);
    qsizetype start = 0;
    while (start < path.size() && path.at(start) == QLatin1Char('/'))
        ++start;
    // The path is one component sequence: "?" and "#" in it are data, not a query or fragment.
    joined += QLatin1Char('/')
        + QString::fromLatin1(QUrl::toPercentEncoding(path.mid(start), QByteArrayLiteral("/:@!$&'()*+,;=")));
    url.setPath(joined, QUrl::TolerantMode);
    return url;
}

QNetworkAccessManager &APIClient::networkSession()
{
    APIURLSessionBox &box = APIURLSessionBox::instance();
    QThread *thread = QThread::currentThread();
    QMutexLocker locker(&box.lock);
    if (QNetworkAccessManager *session = box.stored.value(thread))
        return *session;
    auto *session = new UncompressedSession;
    ConnectionRetirement::install(*session);
    box.stored.insert(thread, session);
    const QCoreApplication *application = QCoreApplication::instance();
    if (application && thread != application->thread()) {
        QObject::connect(thread, &QThread::finished, session, [thread, session] {
            APIURLSessionBox &owner = APIURLSessionBox::instance();
            {
                QMutexLocker forget(&owner.lock);
                owner.stored.remove(thread);
            }
            delete session;
        }, Qt::DirectConnection);
    }
    return *session;
}

QCoro::Task<APIResponse> APIClient::request(QString path, QByteArray method, std::optional<QByteArray> body,
                                            std::optional<QString> bearer)
{
    QNetworkRequest request(url(path));
    request.setTransferTimeout(requestTimeoutMilliseconds);
    // Qt sends the request's headers again to wherever a redirect leads: the bearer must not
    // reach another origin.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (bearer)
        request.setRawHeader(QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + bearer->toUtf8());

    QElapsedTimer clock;
    clock.start();
    QNetworkAccessManager &session = networkSession();
    ReplyHolder reply;
    if (body)
        reply.reset(session.sendCustomRequest(request, method, *body));
    else if (method == "GET")
        reply.reset(session.get(request)); // also serves non-HTTP origins, which custom verbs cannot
    else if (method == "POST" || method == "PUT" || method == "PATCH")
        reply.reset(session.sendCustomRequest(request, method, QByteArray())); // "Content-Length: 0"
    else
        reply.reset(session.sendCustomRequest(request, method));

    co_await reply.get();

    const std::optional<int> status = ReplyStatus::of(*reply);
    if (!status) {
        if (ReplyStatus::transferFailed(*reply)) {
            TransportError failure(reply->error(), reply->errorString());
            if (apiLogEnabled())
                logAPI(QString::fromLatin1(method) + QLatin1Char(' ') + path + QStringLiteral(" ERROR ")
                       + failure.description());
            throw failure;
        }
        APIError failure = APIError::noData();
        if (apiLogEnabled())
            logAPI(QString::fromLatin1(method) + QLatin1Char(' ') + path + QStringLiteral(" ERROR ") + failure.description());
        throw failure;
    }

    APIResponse response{reply->readAll(), *status};
    if (apiLogEnabled())
        logAPI(QString::fromLatin1(method) + QLatin1Char(' ') + path + QStringLiteral(" -> ")
               + QString::number(response.status) + QStringLiteral(" in ") + QString::number(clock.elapsed())
               + QStringLiteral("ms"));
    co_return response;
}

QCoro::Task<Session> APIClient::activate(QString apiKey)
{
    const QJsonObject fields{{QStringLiteral("api_key"), apiKey},
                             {QStringLiteral("installation_label"), QStringLiteral("Vorlik Desktop")}};
    const APIResponse response = co_await request(QStringLiteral("/v1/auth/activate"), "POST", jsonBody(fields));
    requireOK(response);
    co_return decodeRecord<Session>(response.body);
}

QCoro::Task<Session> APIClient::refresh(QString refreshToken)
{
    const QJsonObject fields{{QStringLiteral("refresh_token"), refreshToken}};
    const APIResponse response = co_await request(QStringLiteral("/v1/auth/refresh"), "POST", jsonBody(fields));
    requireOK(response);
    co_return decodeRecord<Session>(response.body);
}

QCoro::Task<bool> APIClient::logout(QString bearer, QString refreshToken)
{
    const QJsonObject fields{{QStringLiteral("refresh_token"), refreshToken}};
    try {
        const APIResponse response =
            co_await request(QStringLiteral("/v1/auth/logout"), "POST", jsonBody(fields), bearer);
        // The session is gone either way when the server no longer knows it.
        co_return response.status == 200 || response.status == 401 || response.status == 404;
    } catch (const std::exception &error) {
        logAPI(QStringLiteral("logout request failed: ") + describe(error));
    }
    co_return false;
}

QCoro::Task<PresetsPayload> APIClient::fetchPresets(QString bearer)
{
    const APIResponse response = co_await request(QStringLiteral("/v1/presets"), "GET", std::nullopt, bearer);
    requireOK(response);
    co_return decodeRecord<PresetsPayload>(response.body);
}

QCoro::Task<std::optional<QString>> APIClient::serverBuild()
{
    APIResponse response;
    try {
        response = co_await request(QStringLiteral("health"), "GET");
    } catch (const std::exception &error) {
        logAPI(QStringLiteral("health (server build) unavailable: ") + describe(error));
        co_return std::nullopt;
    }
    if (response.status != 200)
        co_return std::nullopt;
    const QJsonDocument document = JsonReader::read(response.body);
    const QJsonValue version = document.object().value(QStringLiteral("version"));
    if (!document.isObject() || !version.isString() || version.toString().isEmpty())
        co_return std::nullopt;
    co_return version.toString();
}

} // namespace vorlik::service

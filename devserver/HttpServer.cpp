#include "devserver/HttpServer.h"

#include "devserver/SocketCloser.h"

#include <QFile>
#include <QJsonDocument>

namespace vorlik::devserver {

namespace {

QJsonObject describe(const httplib::Request &request)
{
    QJsonObject headers;
    for (const auto &[name, value] : request.headers) {
        // httplib files the connection's addresses among the headers; they were never sent.
        if (name == "LOCAL_ADDR" || name == "LOCAL_PORT" || name == "REMOTE_ADDR" || name == "REMOTE_PORT")
            continue;
        const QString key = QString::fromStdString(name);
        const QString text = QString::fromStdString(value);
        // Repeated headers read as one, the way HTTP folds them.
        headers.insert(key, headers.contains(key) ? headers.value(key).toString() + QStringLiteral(", ") + text : text);
    }
    const auto mark = request.target.find('?');
    const std::string query = mark == std::string::npos ? std::string() : request.target.substr(mark + 1);
    return QJsonObject{{QStringLiteral("method"), QString::fromStdString(request.method)},
                       {QStringLiteral("path"), QString::fromStdString(request.path)},
                       {QStringLiteral("query"), QString::fromStdString(query)},
                       {QStringLiteral("headers"), headers}};
}

QString statusText(int status)
{
    switch (status) {
    case 400: return QStringLiteral("bad request");
    case 404: return QStringLiteral("not found");
    case 413: return QStringLiteral("request body too large");
    case 414: return QStringLiteral("request target too long");
    case 416: return QStringLiteral("range not satisfiable");
    case 500: return QStringLiteral("internal error");
    default: return QStringLiteral("status %1").arg(status);
    }
}

bool matches(const QStringList &pattern, const QStringList &segments)
{
    if (pattern.size() != segments.size())
        return false;
    for (qsizetype i = 0; i < pattern.size(); ++i)
        if (pattern.at(i) != QStringLiteral("{}") ? pattern.at(i) != segments.at(i) : segments.at(i).isEmpty())
            return false;
    return true;
}

} // namespace

HttpServer::HttpServer(FaultInjector &faults, RequestLog &log, const StopSignal &stop)
    : m_faults(faults), m_log(log), m_stop(stop), m_server(std::make_unique<httplib::Server>())
{
}

HttpServer::~HttpServer() = default;

bool HttpServer::useTls(const QString &certPath, const QString &keyPath, QString &error)
{
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    for (const QString &path : {certPath, keyPath}) {
        if (!QFile::exists(path)) {
            error = QStringLiteral("no such file: ") + path;
            return false;
        }
    }
    auto server = std::make_unique<httplib::SSLServer>(QFile::encodeName(certPath).constData(),
                                                       QFile::encodeName(keyPath).constData());
    if (!server->is_valid()) {
        error = QStringLiteral("the certificate or key could not be loaded");
        return false;
    }
    m_server = std::move(server);
    m_tls = true;
    return true;
#else
    error = QStringLiteral("this build of cpp-httplib has no TLS support");
    return false;
#endif
}

void HttpServer::route(const QString &method, const QString &pattern, Handler handler)
{
    m_routes.push_back(Route{method, pattern.split(QLatin1Char('/')), std::move(handler)});
}

int HttpServer::bind(int port, QString &error)
{
    install();
    const bool bound = port == 0 ? (m_port = m_server->bind_to_any_port("127.0.0.1")) > 0
                                 : m_server->bind_to_port("127.0.0.1", m_port = port);
    if (!bound) {
        error = QStringLiteral("cannot listen on 127.0.0.1:%1").arg(port);
        return -1;
    }
    return m_port;
}

void HttpServer::run() { m_server->listen_after_bind(); }

void HttpServer::stop()
{
    m_server->stop();
    if (m_port > 0)
        SocketCloser::closeAll(m_port);
}

void HttpServer::install()
{
    // Enough workers that delayed answers and idle keep-alive connections never starve others.
    m_server->new_task_queue = [] { return new httplib::ThreadPool(48); };
    // Uploads stream to disk; anything else is read with its own small limit (Exchange).
    m_server->set_payload_max_length(size_t(512) << 20);
    // Headers and body go out in separate writes; without this every answer waits for the
    // peer's delayed acknowledgement (about 40 ms on loopback).
    m_server->set_tcp_nodelay(true);
    m_server->set_read_timeout(30);
    m_server->set_write_timeout(30);

    const auto plain = [this](const httplib::Request &request, httplib::Response &response) {
        dispatch(request, response, nullptr);
    };
    const auto streamed = [this](const httplib::Request &request, httplib::Response &response,
                                 const httplib::ContentReader &reader) { dispatch(request, response, &reader); };
    m_server->Get(".*", plain);
    m_server->Options(".*", plain);
    m_server->Post(".*", streamed);
    m_server->Put(".*", streamed);
    m_server->Patch(".*", streamed);
    m_server->Delete(".*", streamed);

    // Answers httplib makes itself (bad request line, body over the limit) are JSON too.
    m_server->set_error_handler([](const httplib::Request &, httplib::Response &response) {
        if (response.body.empty()) {
            const QJsonObject error{{QStringLiteral("error"), statusText(response.status)}};
            response.set_content(QJsonDocument(error).toJson(QJsonDocument::Compact).toStdString(), "application/json");
        }
    });
    m_server->set_exception_handler([](const httplib::Request &, httplib::Response &response, std::exception_ptr thrown) {
        QString what = QStringLiteral("internal error");
        try {
            std::rethrow_exception(thrown);
        } catch (const std::exception &error) {
            what += QStringLiteral(": ") + QString::fromUtf8(error.what());
        } catch (...) {
        }
        response.status = 500;
        const QJsonObject error{{QStringLiteral("error"), what}};
        response.set_content(QJsonDocument(error).toJson(QJsonDocument::Compact).toStdString(), "application/json");
    });
}

void HttpServer::dispatch(const httplib::Request &request, httplib::Response &response,
                          const httplib::ContentReader *reader)
{
    Exchange exchange(request, response, reader);
    const bool admin = exchange.path().startsWith(QStringLiteral("/admin/"));
    std::shared_ptr<RequestLog::Entry> entry;
    if (!admin)
        entry = m_log.begin(describe(request));

    std::optional<Fault> fault;
    if (!admin)
        fault = m_faults.take(exchange.method(), exchange.path());
    if (fault)
        applyFault(*fault, exchange, entry.get());
    else
        serve(exchange);

    exchange.drain();
    if (entry) {
        const qint64 announced = exchange.contentLength();
        entry->bodySize = announced >= 0 && exchange.bodyBytes() <= announced ? announced : exchange.bodyBytes();
    }
}

void HttpServer::applyFault(const Fault &fault, Exchange &exchange, RequestLog::Entry *entry)
{
    if (fault.delayMs > 0 && m_stop.waitFor(std::chrono::milliseconds(fault.delayMs))) {
        SocketCloser::close(exchange.request);
        return;
    }
    switch (fault.action) {
    case Fault::Action::delay:
        serve(exchange);
        return;
    case Fault::Action::close:
        SocketCloser::close(exchange.request);
        exchange.response.status = 500;   // never sent: the connection is gone
        return;
    case Fault::Action::capture:
        captureBody(exchange, entry);
        [[fallthrough]];
    case Fault::Action::status: {
        exchange.drain();
        QJsonParseError parseError;
        QJsonDocument::fromJson(fault.body, &parseError);
        exchange.raw(fault.status, fault.body,
                     parseError.error == QJsonParseError::NoError ? "application/json" : "text/plain; charset=utf-8");
        if (!fault.location.isEmpty())
            exchange.response.set_header("Location", fault.location.toStdString());
        return;
    }
    case Fault::Action::malformed:
        exchange.drain();
        exchange.raw(200, R"({"status":"COMPLETED","note":"this answer stops in the mid)", "application/json");
        return;
    case Fault::Action::nonUtf8:
        exchange.drain();
        exchange.raw(fault.status, QByteArray("\xff\xfe broken \xc3\x28 text \x80", 19), "text/plain");
        return;
    case Fault::Action::stall:
        exchange.drain();
        stall(exchange, fault);
        return;
    }
}

void HttpServer::stall(Exchange &exchange, const Fault &fault)
{
    // The headers promise more than is ever sent: the first bytes go out, then the answer waits
    // for good (until the client gives up, or the server stops).
    constexpr size_t missingBytes = 100000;
    const QByteArray head = fault.body;
    const StopSignal &stop = m_stop;
    exchange.response.status = fault.status;
    exchange.response.set_content_provider(
        size_t(head.size()) + missingBytes, "text/html; charset=utf-8",
        [head, &stop](size_t offset, size_t, httplib::DataSink &sink) {
            if (offset < size_t(head.size()))
                return sink.write(head.constData() + offset, size_t(head.size()) - offset);
            while (sink.is_writable() && !stop.waitFor(std::chrono::milliseconds(100))) {
            }
            return false;
        });
}

void HttpServer::captureBody(Exchange &exchange, RequestLog::Entry *entry)
{
    const httplib::ContentReader *reader = exchange.takeReader();
    if (!reader)
        return;
    // httplib parses every multipart body it reads, and the capture wants the bytes as they
    // came: the request (this handler's own, not shared) is read as opaque bytes, its type set
    // aside for the read.
    auto &headers = const_cast<httplib::Request &>(exchange.request).headers;
    const auto type = headers.find("Content-Type");
    const std::string declared = type != headers.end() ? type->second : std::string();
    if (type != headers.end())
        type->second = "application/octet-stream";
    constexpr qsizetype keptLimit = 16 << 20; // enough for a test, not a whole upload
    QByteArray body;
    (*reader)([&](const char *data, size_t length) {
        exchange.addBodyBytes(qint64(length));
        if (body.size() + qsizetype(length) <= keptLimit)
            body.append(data, qsizetype(length));
        return true;
    });
    if (type != headers.end())
        type->second = declared;
    if (entry)
        m_log.keepBody(*entry, body);
}

void HttpServer::serve(Exchange &exchange)
{
    const QStringList segments = exchange.path().split(QLatin1Char('/'));
    bool pathKnown = false;
    for (const Route &route : m_routes) {
        if (!matches(route.segments, segments))
            continue;
        pathKnown = true;
        if (route.method != exchange.method())
            continue;
        for (qsizetype i = 0; i < route.segments.size(); ++i)
            if (route.segments.at(i) == QStringLiteral("{}"))
                exchange.params << segments.at(i);
        route.handler(exchange);
        return;
    }
    if (pathKnown)
        exchange.error(405, exchange.method() + QStringLiteral(" is not allowed on ") + exchange.path());
    else
        exchange.error(404, QStringLiteral("no such endpoint: ") + exchange.path());
}

} // namespace vorlik::devserver

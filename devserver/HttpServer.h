#pragma once
// The HTTP(S) front: one dispatcher behind every request, which logs it, applies an injected
// fault if one matches, and otherwise hands it to the route registered for its method and path.
#include "devserver/Exchange.h"
#include "devserver/FaultInjector.h"
#include "devserver/RequestLog.h"
#include "devserver/StopSignal.h"

#include <httplib.h>

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace vorlik::devserver {

class HttpServer {
public:
    using Handler = std::function<void(Exchange &)>;

    HttpServer(FaultInjector &faults, RequestLog &log, const StopSignal &stop);
    ~HttpServer();

    // Plain HTTP unless this succeeds; call before route() and bind().
    bool useTls(const QString &certPath, const QString &keyPath, QString &error);
    bool isTls() const { return m_tls; }

    // `pattern` is a path whose "{}" segments match any one segment, handed to the handler
    // in Exchange::params.
    void route(const QString &method, const QString &pattern, Handler handler);

    // Binds 127.0.0.1:port (0: any free port); returns the port, or -1 with error.
    int bind(int port, QString &error);
    // Serves until stop(); returns when every connection has ended.
    void run();
    // Thread-safe; also drops idle connections so the stop is quick.
    void stop();

private:
    struct Route {
        QString method;
        QStringList segments;
        Handler handler;
    };

    void install();
    void dispatch(const httplib::Request &request, httplib::Response &response, const httplib::ContentReader *reader);
    void applyFault(const Fault &fault, Exchange &exchange, RequestLog::Entry *entry);
    void stall(Exchange &exchange, const Fault &fault);
    void captureBody(Exchange &exchange, RequestLog::Entry *entry);
    void serve(Exchange &exchange);

    FaultInjector &m_faults;
    RequestLog &m_log;
    const StopSignal &m_stop;
    std::unique_ptr<httplib::Server> m_server;
    bool m_tls = false;
    int m_port = -1;
    std::vector<Route> m_routes;
};

} // namespace vorlik::devserver

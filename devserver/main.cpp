// vorlik-devserver: the stand-in online service. Prints its address and the demo key, then
// serves until SIGTERM or SIGINT.
#include "devserver/AdminRoutes.h"
#include "devserver/AnalysisRoutes.h"
#include "devserver/FaultInjector.h"
#include "devserver/HttpServer.h"
#include "devserver/PageRoutes.h"
#include "devserver/RequestLog.h"
#include "devserver/ServerOptions.h"
#include "devserver/ServiceRoutes.h"
#include "devserver/StopSignal.h"
#include "devserver/TokenStore.h"
#include "devserver/ToolRoutes.h"
#include "devserver/UsageStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <pthread.h>
#include <thread>

using namespace vorlik::devserver;

namespace {

int fail(const QString &message)
{
    std::cerr << "vorlik-devserver: " << message.toStdString() << std::endl;
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    // Signals go to one waiting thread only; block them before any other thread exists.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication application(argc, argv);
    QString error;
    const auto options = ServerOptions::parse(application.arguments().mid(1), error);
    if (!options)
        return fail(error);

    std::unique_ptr<QTemporaryDir> scratch;
    QString dataPath = options->dataPath;
    if (dataPath.isEmpty()) {
        scratch = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/vorlik-devserver-XXXXXX"));
        if (!scratch->isValid())
            return fail(QStringLiteral("cannot make a temporary data folder"));
        dataPath = scratch->path();
    }
    if (!QDir().mkpath(dataPath))
        return fail(QStringLiteral("cannot make the data folder ") + dataPath);

    FaultInjector faults;
    for (const QString &spec : options->faultSpecs) {
        const auto fault = Fault::fromSpec(spec, error);
        if (!fault)
            return fail(error);
        faults.add(*fault);
    }
    QString warning;
    UsageStore usage(QDir(dataPath).filePath(QStringLiteral("usage.json")), &warning);
    if (!warning.isEmpty())
        std::cerr << "vorlik-devserver: " << warning.toStdString() << std::endl;
    TokenStore tokens(options->keys, std::chrono::seconds(options->tokenLifetimeSeconds));
    RequestLog log;
    StopSignal stop;

    HttpServer server(faults, log, stop);
    if (!options->tlsCertPath.isEmpty() && !server.useTls(options->tlsCertPath, options->tlsKeyPath, error))
        return fail(QStringLiteral("TLS: ") + error);

    ServiceRoutes service(tokens, usage, QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    service.install(server);
    AdminRoutes admin(faults, log, usage, tokens);
    admin.install(server);
    AnalysisRoutes analysis(tokens, dataPath, options->jobDelayMs);
    analysis.install(server, admin);
    ToolRoutes tools(server, dataPath, options->updatesPath);
    PageRoutes().install(server);

    const int port = server.bind(options->port, error);
    if (port < 0)
        return fail(error);

    std::cout << "listening on " << (server.isTls() ? "https" : "http") << "://127.0.0.1:" << port << std::endl;
    std::cout << "demo key: " << ServerOptions::demoKey << std::endl;

    std::thread signalWaiter([&] {
        int received = 0;
        sigwait(&stopSignals, &received);
        // Said on the error stream, so that a server that went away in the middle of a test run
        // shows why in the test's output.
        std::cerr << "vorlik-devserver: stopping on signal " << received << std::endl;
        // New connections are refused before the held answers wake and close theirs: a client
        // that sends such a request again (Qt does, once) must find the server gone, not served.
        server.stop();
        stop.raise();
    });
    server.run();
    // Stopped from elsewhere (never today): wake the waiter so it can be joined.
    if (!stop.raised())
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    return 0;
}

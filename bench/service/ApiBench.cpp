// 1000 sequential GET health calls through APIClient::request against the same calls sent by a
// bare QNetworkAccessManager loop, both to one local stand-in service in the same run. The
// bare loop is the anchor: the ratio is what the client's frame (URL building, headers, the
// session lookup, status handling, the log check) costs on top of Qt itself.
#include "bench/support/BenchSupport.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "tests/support/DevServer.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

using namespace vorlik;

namespace {

constexpr int totalCalls = 1000;
constexpr int rounds = 10; // the two loops alternate, so drift in the machine's load hits both

QCoro::Task<qint64> clientLoop(int calls)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < calls; ++i) {
        const service::APIResponse response = co_await service::APIClient::request(QStringLiteral("health"), "GET");
        if (response.status != 200)
            throw std::runtime_error("health did not answer 200");
    }
    co_return clock.nsecsElapsed();
}

QCoro::Task<qint64> bareLoop(QNetworkAccessManager &manager, QUrl url, int calls)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < calls; ++i) {
        QNetworkRequest request(url);
        request.setTransferTimeout(60000);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        std::unique_ptr<QNetworkReply> reply(manager.get(request));
        co_await reply.get();
        const QByteArray body = reply->readAll();
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200 || body.isEmpty())
            throw std::runtime_error("health did not answer 200");
    }
    co_return clock.nsecsElapsed();
}

} // namespace

int main(int argc, char **argv)
{
    // Keep the user's settings and logs out of it.
    const bench::PrivateHome home;
    QCoreApplication app(argc, argv);

    try {
        test::DevServer server;
        platform::Settings &settings = platform::Settings::standard();
        settings.setOverride(QStringLiteral("baseURL"), server.baseUrl().toString());
        settings.setOverride(QStringLiteral("vorlikDiag"), false);
        const QUrl url = service::APIClient::url(QStringLiteral("health"));
        QNetworkAccessManager bare;

        // Warm both paths up: connections open, code paged in.
        QCoro::waitFor(clientLoop(50));
        QCoro::waitFor(bareLoop(bare, url, 50));

        qint64 clientNs = 0, bareNs = 0;
        for (int round = 0; round < rounds; ++round) {
            clientNs += QCoro::waitFor(clientLoop(totalCalls / rounds));
            bareNs += QCoro::waitFor(bareLoop(bare, url, totalCalls / rounds));
        }
        std::printf("APIClient::request:          %8.1f ms for %d GET health\n", clientNs / 1e6, totalCalls);
        std::printf("bare QNetworkAccessManager:  %8.1f ms for %d GET health (anchor)\n", bareNs / 1e6, totalCalls);
        std::printf("ratio: %.3f\n", double(clientNs) / double(bareNs));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "api bench failed: %s\n", error.what());
        return 1;
    }
    return 0;
}

// A full connect through SessionStore (activate, then the preset check, with decoding, state
// changes and the log check) against the same two requests sent by a bare QNetworkAccessManager
// loop, both to one local stand-in service in the same run. Rounds alternate between the two so
// that drift in the machine's load hits both; the figure is the median of each, and the bare
// loop is the anchor of the ratio.
#include "bench/support/BenchSupport.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "service/SessionStore.h"
#include "tests/support/DevServer.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

using namespace vorlik;

namespace {

constexpr int rounds = 200;
constexpr int warmUp = 20;

QCoro::Task<qint64> storeConnect(QString key)
{
    service::SessionStore store;
    QElapsedTimer clock;
    clock.start();
    co_await store.connect(key);
    const qint64 elapsed = clock.nsecsElapsed();
    if (!store.state().isConnected() || store.presets().isEmpty())
        throw std::runtime_error("the store did not connect");
    co_return elapsed;
}

QNetworkRequest jsonRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(60000);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    return request;
}

QCoro::Task<qint64> bareConnect(QNetworkAccessManager &manager, QString key)
{
    const QUrl activateUrl = service::APIClient::url(QStringLiteral("/v1/auth/activate"));
    const QUrl presetsUrl = service::APIClient::url(QStringLiteral("/v1/presets"));
    QElapsedTimer clock;
    clock.start();
    const QJsonObject fields{{QStringLiteral("api_key"), key},
                             {QStringLiteral("installation_label"), QStringLiteral("Vorlik Desktop")}};
    std::unique_ptr<QNetworkReply> activated(
        manager.post(jsonRequest(activateUrl), QJsonDocument(fields).toJson(QJsonDocument::Compact)));
    co_await activated.get();
    const QString token =
        QJsonDocument::fromJson(activated->readAll()).object().value(QStringLiteral("access_token")).toString();
    if (activated->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200 || token.isEmpty())
        throw std::runtime_error("activate did not answer 200");

    QNetworkRequest presets = jsonRequest(presetsUrl);
    presets.setRawHeader(QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + token.toUtf8());
    std::unique_ptr<QNetworkReply> listed(manager.get(presets));
    co_await listed.get();
    const QByteArray body = listed->readAll();
    const qint64 elapsed = clock.nsecsElapsed();
    if (listed->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200 || body.isEmpty())
        throw std::runtime_error("presets did not answer 200");
    co_return elapsed;
}

double medianMs(std::vector<qint64> samples)
{
    std::sort(samples.begin(), samples.end());
    const size_t middle = samples.size() / 2;
    const double ns = samples.size() % 2 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2.0;
    return ns / 1e6;
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
        const QString key = server.demoKey();
        QNetworkAccessManager bare;

        for (int round = 0; round < warmUp; ++round) {
            QCoro::waitFor(storeConnect(key));
            QCoro::waitFor(bareConnect(bare, key));
        }
        std::vector<qint64> store, anchor;
        for (int round = 0; round < rounds; ++round) {
            store.push_back(QCoro::waitFor(storeConnect(key)));
            anchor.push_back(QCoro::waitFor(bareConnect(bare, key)));
        }
        const double storeMs = medianMs(store);
        const double anchorMs = medianMs(anchor);
        std::printf("SessionStore::connect:       %7.3f ms median of %d (activate + presets)\n", storeMs, rounds);
        std::printf("bare QNetworkAccessManager:  %7.3f ms median of %d (same two requests, anchor)\n", anchorMs,
                    rounds);
        std::printf("ratio: %.3f\n", storeMs / anchorMs);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "connect bench failed: %s\n", error.what());
        return 1;
    }
    return 0;
}

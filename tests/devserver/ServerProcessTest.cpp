// The server as a program: its flags, its first lines, HTTPS, and a clean stop on SIGTERM.
#include "tests/devserver/DevServerCalls.h"

#include <gtest/gtest.h>

#include <QCoroNetworkReply>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QProcess>
#include <QTemporaryDir>

using namespace vorlik::test;

namespace {

struct Outcome {
    int exitCode = -1;
    QString err;
};

Outcome runServer(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(VORLIK_DEVSERVER_PATH), arguments);
    EXPECT_TRUE(process.waitForFinished(10000));
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
}

TEST(ServerProcessTest, badFlagsStopWithAReason)
{
    const struct {
        QStringList arguments;
        const char *says;
    } cases[] = {
        {{QStringLiteral("--port"), QStringLiteral("70000")}, "--port"},
        {{QStringLiteral("--bogus"), QStringLiteral("1")}, "unknown flag --bogus"},
        {{QStringLiteral("--token-lifetime"), QStringLiteral("0")}, "--token-lifetime"},
        {{QStringLiteral("--fault"), QStringLiteral("GET /health action=explode")}, "--fault"},
        {{QStringLiteral("--tls-cert"), QStringLiteral("/nowhere.pem")}, "go together"},
        {{QStringLiteral("--keys"), QStringLiteral("/no/such/keys.txt")}, "--keys"},
        {{QStringLiteral("--port")}, "needs a value"},
    };
    for (const auto &item : cases) {
        const Outcome outcome = runServer(item.arguments);
        EXPECT_EQ(outcome.exitCode, 2) << item.arguments.join(' ').toStdString();
        EXPECT_TRUE(outcome.err.contains(QLatin1String(item.says))) << outcome.err.toStdString();
    }
}

TEST(ServerProcessTest, faultsCanBeSetAtStart)
{
    DevServer own({QStringLiteral("--fault"), QStringLiteral("GET /health action=status status=503 count=2"),
                   QStringLiteral("--fault"), QStringLiteral("* /v1/presets action=non_utf8 status=502")});
    EXPECT_EQ(own.call("GET", QStringLiteral("/health")).first, 503);
    EXPECT_EQ(own.call("GET", QStringLiteral("/health")).first, 503);
    EXPECT_EQ(own.call("GET", QStringLiteral("/health")).first, 200);
    EXPECT_EQ(own.call("POST", QStringLiteral("/v1/presets")).first, 502);
}

TEST(ServerProcessTest, sigtermStopsCleanlyEvenWithAnAnswerHeldBack)
{
    QTemporaryDir data;
    QProcess process;
    process.start(QStringLiteral(VORLIK_DEVSERVER_PATH),
                  {QStringLiteral("--data"), data.path(), QStringLiteral("--fault"),
                   QStringLiteral("GET /health action=delay delay_ms=60000")});
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(process.waitForReadyRead(10000));
    while (!process.canReadLine())
        ASSERT_TRUE(process.waitForReadyRead(10000));
    const QString first = QString::fromUtf8(process.readLine()).trimmed();
    ASSERT_TRUE(first.startsWith(QStringLiteral("listening on http://127.0.0.1:"))) << first.toStdString();
    while (!process.canReadLine())
        ASSERT_TRUE(process.waitForReadyRead(10000));
    EXPECT_EQ(QString::fromUtf8(process.readLine()).trimmed(), QStringLiteral("demo key: vk_demo_local_0000000000000000"));

    // A request waits out its delay inside the server while the stop arrives. The server logs a
    // request as it takes it: the stop is sent once the held one is in the log.
    const QUrl base(first.mid(13));
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(base.resolved(QUrl(QStringLiteral("/health")))));
    const QDeadlineTimer cap(std::chrono::seconds(60));
    while (QJsonDocument::fromJson(rawCall(base, "GET", QStringLiteral("/admin/requests")).body).array().isEmpty())
        ASSERT_FALSE(cap.hasExpired()) << "the request never reached the server";
    process.terminate();
    // Generous: a loaded machine may be slow to schedule the stop, which is not what is tested.
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    // Qt sends a request whose connection closed before any answer once more, to a server that is
    // gone by then: either way the request ends in an error, never an answer.
    if (reply->isRunning())
        QCoro::waitFor(qCoro(reply).waitForFinished(std::chrono::seconds(60)));
    EXPECT_FALSE(reply->isRunning());
    EXPECT_NE(reply->error(), QNetworkReply::NoError);
    delete reply;
}

} // namespace

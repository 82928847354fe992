// Faults per endpoint and the request log, as the client-side tests use them.
#include "tests/devserver/DevServerCalls.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>

using namespace vorlik::test;

namespace {

DevServer &server() { return DevServer::shared(); }

QJsonObject fault(const QString &method, const QString &path, const QString &action,
                  const QJsonObject &more = {})
{
    QJsonObject object{{QStringLiteral("method"), method}, {QStringLiteral("path"), path}, {QStringLiteral("action"), action}};
    for (auto it = more.begin(); it != more.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

bool validUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    (void)QString(decoder(bytes));
    return !decoder.hasError();
}

class FaultInjectionTest : public ::testing::Test {
protected:
    void SetUp() override { server().reset(); }
};

TEST_F(FaultInjectionTest, aStatusFaultAnswersItsBodyForItsCountThenStops)
{
    server().addFault(fault(QStringLiteral("GET"), QStringLiteral("/health"), QStringLiteral("status"),
                            {{QStringLiteral("status"), 503}, {QStringLiteral("body"), QStringLiteral("down for lunch")},
                             {QStringLiteral("count"), 2}}));
    for (int i = 0; i < 2; ++i) {
        const auto [status, body] = server().call("GET", QStringLiteral("/health"));
        EXPECT_EQ(status, 503);
        EXPECT_EQ(body, QByteArray("down for lunch"));
    }
    EXPECT_EQ(server().call("GET", QStringLiteral("/health")).first, 200);
}

TEST_F(FaultInjectionTest, defaultsAre500WithAnInjectedError)
{
    server().addFault(fault(QString(), QStringLiteral("/v1/presets"), QStringLiteral("status")));
    const auto [status, body] = server().call("GET", QStringLiteral("/v1/presets"));
    EXPECT_EQ(status, 500);
    EXPECT_EQ(jsonObject(body).value(QStringLiteral("error")).toString(), QStringLiteral("injected"));
}

TEST_F(FaultInjectionTest, aFaultOnlyHitsItsMethodAndExactPath)
{
    server().addFault(fault(QStringLiteral("POST"), QStringLiteral("/health"), QStringLiteral("status")));
    server().addFault(fault(QStringLiteral("GET"), QStringLiteral("/health/"), QStringLiteral("status")));
    EXPECT_EQ(server().call("GET", QStringLiteral("/health")).first, 200);
    EXPECT_EQ(server().call("POST", QStringLiteral("/health")).first, 500);
}

TEST_F(FaultInjectionTest, faultsApplyToPathsTheServerDoesNotServe)
{
    server().addFault(fault(QStringLiteral("POST"), QStringLiteral("/v1/jobs/u-1/process"), QStringLiteral("status"),
                            {{QStringLiteral("status"), 202}, {QStringLiteral("body"), QStringLiteral("{\"job_id\":\"j1\"}")}}));
    const auto [status, body] = server().call("POST", QStringLiteral("/v1/jobs/u-1/process"), "{\"workflow\":\"audio_info\"}");
    EXPECT_EQ(status, 202);
    EXPECT_EQ(body, QByteArray("{\"job_id\":\"j1\"}"));
}

TEST_F(FaultInjectionTest, malformedIsStatus200WithJsonThatDoesNotParse)
{
    server().addFault(fault(QStringLiteral("GET"), QStringLiteral("/health"), QStringLiteral("malformed")));
    const auto [status, body] = server().call("GET", QStringLiteral("/health"));
    EXPECT_EQ(status, 200);
    QJsonParseError error;
    QJsonDocument::fromJson(body, &error);
    EXPECT_NE(error.error, QJsonParseError::NoError);
    EXPECT_TRUE(body.startsWith('{'));
}

TEST_F(FaultInjectionTest, nonUtf8IsItsStatusWithABodyThatIsNotUtf8)
{
    server().addFault(fault(QStringLiteral("POST"), QStringLiteral("/v1/auth/activate"), QStringLiteral("non_utf8"),
                            {{QStringLiteral("status"), 502}}));
    const auto [status, body] = server().call("POST", QStringLiteral("/v1/auth/activate"), "{}");
    EXPECT_EQ(status, 502);
    EXPECT_FALSE(body.isEmpty());
    EXPECT_FALSE(validUtf8(body));
}

TEST_F(FaultInjectionTest, closeDropsTheConnectionWithoutAnAnswer)
{
    // Qt sends a request again once when the connection closes before any answer: drop every one.
    server().addFault(fault(QStringLiteral("GET"), QStringLiteral("/health"), QStringLiteral("close"),
                            {{QStringLiteral("count"), -1}}));
    const RawReply reply = rawCall(server().baseUrl(), "GET", QStringLiteral("/health"));
    EXPECT_NE(reply.error, QNetworkReply::NoError);
    EXPECT_EQ(reply.status, 0);
    EXPECT_TRUE(reply.body.isEmpty());
    server().clearFaults();
    // The server itself is fine afterwards.
    EXPECT_EQ(server().call("GET", QStringLiteral("/health")).first, 200);
}

TEST_F(FaultInjectionTest, aDelayThenAnswersNormally)
{
    server().addFault(fault(QStringLiteral("GET"), QStringLiteral("/health"), QStringLiteral("delay"),
                            {{QStringLiteral("delay_ms"), 300}}));
    const auto [status, body] = server().call("GET", QStringLiteral("/health"));
    EXPECT_EQ(status, 200);
    EXPECT_EQ(jsonObject(body).value(QStringLiteral("status")).toString(), QStringLiteral("ok"));
}

TEST_F(FaultInjectionTest, countMinusOneHitsUntilCleared)
{
    server().addFault(fault(QStringLiteral("GET"), QStringLiteral("/health"), QStringLiteral("status"),
                            {{QStringLiteral("status"), 418}, {QStringLiteral("count"), -1}}));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(server().call("GET", QStringLiteral("/health")).first, 418);
    server().clearFaults();
    EXPECT_EQ(server().call("GET", QStringLiteral("/health")).first, 200);
}

TEST_F(FaultInjectionTest, badFaultsAreRefused)
{
    const QJsonObject bad[] = {
        {{QStringLiteral("path"), QStringLiteral("/health")}, {QStringLiteral("action"), QStringLiteral("explode")}},
        {{QStringLiteral("action"), QStringLiteral("status")}},
        {{QStringLiteral("path"), QStringLiteral("health")}, {QStringLiteral("action"), QStringLiteral("status")}},
        {{QStringLiteral("path"), QStringLiteral("/health")}, {QStringLiteral("action"), QStringLiteral("status")}, {QStringLiteral("status"), 42}},
        {{QStringLiteral("path"), QStringLiteral("/health")}, {QStringLiteral("action"), QStringLiteral("status")}, {QStringLiteral("count"), 0}},
        {{QStringLiteral("path"), QStringLiteral("/health")}, {QStringLiteral("action"), QStringLiteral("delay")}, {QStringLiteral("delay_ms"), -5}},
    };
    for (const QJsonObject &object : bad) {
        const auto [status, body] = server().call("POST", QStringLiteral("/admin/faults"), jsonBody(object));
        EXPECT_EQ(status, 400) << jsonBody(object).toStdString();
    }
    EXPECT_EQ(server().call("GET", QStringLiteral("/health")).first, 200);
}

TEST_F(FaultInjectionTest, theRequestLogShowsWhatWasSent)
{
    const QString access = activateDemo(server()).value(QStringLiteral("access_token")).toString();
    server().clearRequests();
    server().call("GET", QStringLiteral("/v1/presets"), {}, access);
    server().call("POST", QStringLiteral("/v1/auth/refresh"), "{\"refresh_token\":\"x\"}");
    server().usage();   // admin calls stay out of the log
    rawCall(server().baseUrl(), "GET", QStringLiteral("/health?probe=1&x=%20y"));

    const QJsonArray log = server().requests();
    ASSERT_EQ(log.size(), 3);
    const QJsonObject get = log.at(0).toObject();
    EXPECT_EQ(get.value(QStringLiteral("method")).toString(), QStringLiteral("GET"));
    EXPECT_EQ(get.value(QStringLiteral("path")).toString(), QStringLiteral("/v1/presets"));
    EXPECT_EQ(get.value(QStringLiteral("body_size")).toInteger(), 0);
    const QJsonObject headers = get.value(QStringLiteral("headers")).toObject();
    EXPECT_EQ(headers.value(QStringLiteral("Content-Type")).toString(), QStringLiteral("application/json"));
    EXPECT_EQ(headers.value(QStringLiteral("Authorization")).toString(), QStringLiteral("Bearer ") + access);
    EXPECT_FALSE(headers.contains(QStringLiteral("REMOTE_ADDR")));

    EXPECT_EQ(log.at(1).toObject().value(QStringLiteral("body_size")).toInteger(), 21);
    EXPECT_EQ(log.at(2).toObject().value(QStringLiteral("query")).toString(), QStringLiteral("probe=1&x=%20y"));

    server().clearRequests();
    EXPECT_EQ(server().requests().size(), 0);
}

TEST_F(FaultInjectionTest, faultedRequestsAreLoggedToo)
{
    server().addFault(fault(QStringLiteral("POST"), QStringLiteral("/v1/usage/convert"), QStringLiteral("status")));
    server().call("POST", QStringLiteral("/v1/usage/convert"), "{\"a\":1}");
    const QJsonArray log = server().requests();
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log.at(0).toObject().value(QStringLiteral("body_size")).toInteger(), 7);
}

} // namespace

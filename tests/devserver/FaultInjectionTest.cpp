// Faults per endpoint (by admin call and by flag) and the request log, as the client-side tests use them.
#include "tests/devserver/DevServerCalls.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>

#include <functional>

using namespace vorlik::test;

namespace {

DevServer &server() { return DevServer::shared(); }

class FaultInjectionTest : public ::testing::Test {
protected:
    void SetUp() override { server().reset(); }
};

TEST_F(FaultInjectionTest, eachActionAnswersAsItSaysOnItsMethodAndExactPathForItsCount)
{
    const auto notJson = [](const QByteArray &body) {
        QJsonParseError error;
        QJsonDocument::fromJson(body, &error);
        return body.startsWith('{') && error.error != QJsonParseError::NoError;
    };
    const auto notUtf8 = [](const QByteArray &body) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        (void)QString(decoder(body));
        return !body.isEmpty() && decoder.hasError();
    };
    // status 0: the connection is dropped without an answer.
    const struct Case { const char *name; QJsonObject fault; QByteArray method; int status; std::function<bool(const QByteArray &)> body; } cases[] = {
        {"status with body, twice",
         {{"method", "GET"}, {"path", "/health"}, {"action", "status"}, {"status", 503}, {"body", "down for lunch"}, {"count", 2}},
         "GET", 503, [](const QByteArray &body) { return body == "down for lunch"; }},
        {"defaults: any method, 500", {{"path", "/v1/presets"}, {"action", "status"}}, "GET", 500,
         [](const QByteArray &body) { return jsonObject(body).value("error").toString() == "injected"; }},
        {"a path the server does not serve",
         {{"method", "POST"}, {"path", "/v1/jobs/u-1/process"}, {"action", "status"}, {"status", 202}, {"body", R"({"job_id":"j1"})"}},
         "POST", 202, [](const QByteArray &body) { return body == R"({"job_id":"j1"})"; }},
        {"malformed", {{"method", "GET"}, {"path", "/health"}, {"action", "malformed"}}, "GET", 200, notJson},
        {"non_utf8", {{"method", "POST"}, {"path", "/v1/auth/activate"}, {"action", "non_utf8"}, {"status", 502}}, "POST", 502,
         notUtf8},
        // Qt sends a request again once when the connection closes before any answer.
        {"close", {{"method", "GET"}, {"path", "/health"}, {"action", "close"}, {"count", 2}}, "GET", 0,
         [](const QByteArray &body) { return body.isEmpty(); }},
        {"delay", {{"method", "GET"}, {"path", "/health"}, {"action", "delay"}, {"delay_ms", 300}}, "GET", 200,
         [](const QByteArray &body) { return jsonObject(body).value("status").toString() == "ok"; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        server().reset();
        const QString path = c.fault.value("path").toString();
        server().addFault(c.fault);
        // Another method and a path that differs by a slash are left alone.
        server().addFault({{"method", c.method == "GET" ? "POST" : "GET"}, {"path", path}, {"action", "status"}});
        server().addFault({{"method", QString::fromLatin1(c.method)}, {"path", path + QLatin1Char('/')}, {"action", "status"}});
        const QByteArray body = c.method == "POST" ? "{}" : "";
        const int times = c.status == 0 ? 1 : c.fault.value("count").toInt(1);
        for (int i = 0; i < times; ++i) {
            const RawReply reply = rawCall(server().baseUrl(), c.method, path, body);
            EXPECT_EQ(reply.status, c.status);
            EXPECT_EQ(reply.error != QNetworkReply::NoError && reply.status < 400, c.status == 0);
            EXPECT_TRUE(c.body(reply.body)) << reply.body.toStdString();
        }
        if (c.status != 200)
            EXPECT_NE(rawCall(server().baseUrl(), c.method, path, body).status, c.status) << "the fault outlived its count";
    }
}

TEST_F(FaultInjectionTest, countMinusOneHitsUntilClearedFaultsCanBeSetAtStartAndBadOnesAreRefused)
{
    DevServer own({QStringLiteral("--fault"), QStringLiteral("GET /health action=status status=503 count=2"),
                   QStringLiteral("--fault"), QStringLiteral("* /v1/presets action=non_utf8 status=502")});
    for (int expected : {503, 503, 200})
        EXPECT_EQ(own.call("GET", QStringLiteral("/health")).first, expected);
    EXPECT_EQ(own.call("POST", QStringLiteral("/v1/presets")).first, 502);

    server().addFault({{"method", "GET"}, {"path", "/health"}, {"action", "status"}, {"status", 418}, {"count", -1}});
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(server().call("GET", QStringLiteral("/health")).first, 418);
    server().clearFaults();
    EXPECT_EQ(server().call("GET", QStringLiteral("/health")).first, 200);

    const QJsonObject bad[] = {
        {{"path", "/health"}, {"action", "explode"}},
        {{"action", "status"}},
        {{"path", "health"}, {"action", "status"}},
        {{"path", "/health"}, {"action", "status"}, {"status", 42}},
        {{"path", "/health"}, {"action", "status"}, {"count", 0}},
        {{"path", "/health"}, {"action", "delay"}, {"delay_ms", -5}},
    };
    for (const QJsonObject &object : bad)
        EXPECT_EQ(server().call("POST", QStringLiteral("/admin/faults"), jsonBody(object)).first, 400) << jsonBody(object).toStdString();
    EXPECT_EQ(server().call("GET", QStringLiteral("/health")).first, 200);
}

TEST_F(FaultInjectionTest, theRequestLogShowsWhatWasSentFaultedOrNot)
{
    const QString access = activateDemo(server()).value(QStringLiteral("access_token")).toString();
    server().clearRequests();
    server().addFault({{"method", "POST"}, {"path", "/v1/usage/convert"}, {"action", "status"}});
    server().call("GET", QStringLiteral("/v1/presets"), {}, access);
    server().call("POST", QStringLiteral("/v1/usage/convert"), "{\"refresh_token\":\"x\"}");
    server().usage(); // admin calls stay out of the log
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

} // namespace

#include "tests/devserver/DevServerCalls.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>

using namespace vorlik::test;

namespace {

const QString activatePath = QStringLiteral("/v1/auth/activate");
const QString refreshPath = QStringLiteral("/v1/auth/refresh");
const QString presetsPath = QStringLiteral("/v1/presets");
const QString usagePath = QStringLiteral("/v1/usage/convert");

DevServer &server() { return DevServer::shared(); }

QString errorOf(const QByteArray &body) { return jsonObject(body).value(QStringLiteral("error")).toString(); }
QString accessOf(const QJsonObject &session) { return session.value(QStringLiteral("access_token")).toString(); }
QByteArray refreshBody(const QJsonObject &session) { return jsonBody({{QStringLiteral("refresh_token"), session.value(QStringLiteral("refresh_token"))}}); }

QJsonObject usageReport(const QString &filename = QStringLiteral("Take 1.flac"))
{
    return {{QStringLiteral("process_key"), QStringLiteral("normalise-14lufs")}, {QStringLiteral("file_count"), 1},
            {QStringLiteral("input_bytes"), 123456}, {QStringLiteral("filename"), filename}};
}

class ServiceApiTest : public ::testing::Test {
protected:
    void SetUp() override { server().reset(); }
};

TEST_F(ServiceApiTest, activateTakesTheFlagsAndTheFilesKeysAndRefusesUnknownKeysAndBadBodies)
{
    QTemporaryDir folder;
    const QString keys = folder.filePath(QStringLiteral("keys.txt"));
    writeFile(keys, "# one per line\nvk_from_file_1\n\n  vk_from_file_2  \n");
    DevServer own({QStringLiteral("--key"), QStringLiteral("vk_flag"), QStringLiteral("--keys"), keys});
    const auto activate = [&](const QString &key) { return own.call("POST", activatePath, jsonBody({{QStringLiteral("api_key"), key}})); };
    for (const char *key : {"vk_flag", "vk_from_file_1", "vk_from_file_2", "vk_demo_local_0000000000000000"})
        EXPECT_EQ(activate(QLatin1String(key)).first, 200) << key;
    EXPECT_EQ(activate(QStringLiteral("# one per line")).first, 401);
    const auto [status, body] = activate(QStringLiteral("vk_nope"));
    EXPECT_EQ(status, 401);
    EXPECT_EQ(errorOf(body), QStringLiteral("unknown client key"));

    for (const QByteArray &bad : {QByteArray("api_key=x"), QByteArray(R"(["vk_demo_local_0000000000000000"])"),
                                 QByteArray(R"({"installation_label":"Vorlik Desktop"})"),
                                 QByteArray(R"({"api_key":"vk_demo_local_0000000000000000","installation_label":7})")}) {
        const auto [status, body] = server().call("POST", activatePath, bad);
        EXPECT_EQ(status, 400) << bad.toStdString();
        EXPECT_FALSE(errorOf(body).isEmpty()) << bad.toStdString();
    }
}

// How a refreshed token replaces the old one and a spent one is refused is what the client's
// session tests stand on; here what they do not reach.
TEST_F(ServiceApiTest, refreshKeepsTheSessionAndLogoutEndsOnlyItsOwn)
{
    const QJsonObject first = activateDemo(server());
    const auto [status, body] = server().call("POST", refreshPath, refreshBody(first));
    ASSERT_EQ(status, 200) << body.toStdString();
    const QJsonObject second = jsonObject(body);
    EXPECT_NE(accessOf(second), accessOf(first));
    EXPECT_EQ(second.value(QStringLiteral("session_id")), first.value(QStringLiteral("session_id")));
    EXPECT_EQ(errorOf(server().call("POST", refreshPath, refreshBody(first)).second), QStringLiteral("unknown or already used refresh token"));
    EXPECT_EQ(server().call("POST", refreshPath, "{\"refresh_token\":5}").first, 400);

    const QString logout = QStringLiteral("/v1/auth/logout");
    EXPECT_EQ(server().call("POST", logout, refreshBody(second), QStringLiteral("vat_wrong")).first, 401);
    const auto [ended, answer] = server().call("POST", logout, refreshBody(second), accessOf(second));
    EXPECT_EQ(ended, 200);
    EXPECT_EQ(jsonObject(answer).value(QStringLiteral("ok")), QJsonValue(true));
    EXPECT_EQ(server().call("GET", presetsPath, {}, accessOf(second)).first, 401);
    // Another session of the same key lives on; an unknown refresh token with its bearer is 404.
    const QJsonObject other = activateDemo(server());
    EXPECT_EQ(server().call("GET", presetsPath, {}, accessOf(other)).first, 200);
    EXPECT_EQ(server().call("POST", logout, refreshBody(second), accessOf(other)).first, 404);
}

TEST_F(ServiceApiTest, badUsageReportsAreRefusedAndNotCounted)
{
    const QString access = accessOf(activateDemo(server()));
    const qint64 before = server().usage().value(QStringLiteral("total")).toInteger();
    const auto with = [](const char *key, const QJsonValue &value) {
        QJsonObject report = usageReport();
        value.isUndefined() ? void(report.remove(QLatin1String(key))) : void(report.insert(QLatin1String(key), value));
        return jsonBody(report);
    };
    for (const QByteArray &bad : {with("process_key", QJsonValue::Undefined), with("process_key", QString()), with("file_count", 1.5),
                                  with("input_bytes", -1), with("filename", 7), QByteArray("[1,2]"), QByteArray("{\"process_key\":")}) {
        const auto [status, body] = server().call("POST", usagePath, bad, access);
        EXPECT_EQ(status, 400) << bad.toStdString();
        EXPECT_FALSE(errorOf(body).isEmpty()) << bad.toStdString();
    }
    EXPECT_EQ(server().call("POST", usagePath, jsonBody(usageReport())).first, 401);
    EXPECT_EQ(server().usage().value(QStringLiteral("total")).toInteger(), before);
}

TEST_F(ServiceApiTest, usageSurvivesARestartAndAnUnreadableUsageFileIsKeptAside)
{
    QTemporaryDir data;
    const QByteArray garbage = "{\"total\": 7, \"reports\": [ truncated";
    writeFile(data.filePath(QStringLiteral("usage.json")), garbage);
    const QStringList arguments{QStringLiteral("--data"), data.path()};
    {
        DevServer first(arguments);
        EXPECT_EQ(first.usage().value(QStringLiteral("total")).toInteger(), 0);
        const QStringList aside = QDir(data.path()).entryList({QStringLiteral("usage.json.unreadable-*")});
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(readFile(data.filePath(aside.first())), garbage);
        const QString access = accessOf(activateDemo(first));
        EXPECT_EQ(first.call("POST", usagePath, jsonBody(usageReport(QStringLiteral("one.wav"))), access).first, 200);
        EXPECT_EQ(first.call("POST", usagePath, jsonBody(usageReport(QStringLiteral("two.wav"))), access).first, 200);
    }
    DevServer second(arguments);
    const QJsonObject usage = second.usage();
    EXPECT_EQ(usage.value(QStringLiteral("total")).toInteger(), 2);
    EXPECT_EQ(at(usage, "reports/1/filename").toString(), QStringLiteral("two.wav"));
    const auto [status, body] = second.call("POST", usagePath, jsonBody(usageReport()), accessOf(activateDemo(second)));
    EXPECT_EQ(jsonObject(body).value(QStringLiteral("total")).toInteger(), 3);
    EXPECT_EQ(jsonObject(readFile(data.filePath(QStringLiteral("usage.json")))).value(QStringLiteral("total")).toInteger(), 3);
}

// What each action does to a client (malformed, non-UTF-8, closed and delayed answers) is what
// the client's own tests stand on; here the matching of method and path and the count.
TEST_F(ServiceApiTest, aFaultAnswersOnItsMethodAndExactPathForItsCount)
{
    const struct { const char *name; QJsonObject fault; QByteArray method; int status; QByteArray body; } cases[] = {
        {"status with body, twice",
         {{"method", "GET"}, {"path", "/health"}, {"action", "status"}, {"status", 503}, {"body", "down for lunch"}, {"count", 2}},
         "GET", 503, "down for lunch"},
        {"defaults: any method, 500", {{"path", "/v1/presets"}, {"action", "status"}}, "GET", 500, R"("injected")"},
        {"a path the server does not serve",
         {{"method", "POST"}, {"path", "/v1/jobs/u-1/process"}, {"action", "status"}, {"status", 202}, {"body", R"({"job_id":"j1"})"}},
         "POST", 202, R"({"job_id":"j1"})"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        server().reset();
        const QString path = c.fault.value("path").toString();
        server().addFault(c.fault);
        // Another method and a path that differs by a slash are left alone.
        server().addFault({{"method", c.method == "GET" ? "POST" : "GET"}, {"path", path}, {"action", "status"}});
        server().addFault({{"method", QString::fromLatin1(c.method)}, {"path", path + QLatin1Char('/')}, {"action", "status"}});
        const QByteArray body = c.method == "POST" ? "{}" : "";
        for (int i = 0; i < c.fault.value("count").toInt(1); ++i) {
            const RawReply reply = rawCall(server().baseUrl(), c.method, path, body);
            EXPECT_EQ(reply.status, c.status);
            EXPECT_TRUE(reply.body.contains(c.body)) << reply.body.toStdString();
        }
        EXPECT_NE(rawCall(server().baseUrl(), c.method, path, body).status, c.status) << "the fault outlived its count";
    }
}

TEST_F(ServiceApiTest, countMinusOneHitsUntilClearedFaultsCanBeSetAtStartBadOnesAreRefusedAndFaultedRequestsAreLogged)
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

    for (const char *bad : {R"({"path":"/health","action":"explode"})", R"({"action":"status"})", R"({"path":"health","action":"status"})",
                            R"({"path":"/health","action":"status","status":42})", R"({"path":"/health","action":"status","count":0})",
                            R"({"path":"/health","action":"delay","delay_ms":-5})"})
        EXPECT_EQ(server().call("POST", QStringLiteral("/admin/faults"), bad).first, 400) << bad;
    EXPECT_EQ(server().call("GET", QStringLiteral("/health")).first, 200);

    // The request log keeps faulted requests and queries, but no admin calls. (What the client
    // sends, its bearer, headers and body sizes, the client's own tests read back from it.)
    server().reset();
    server().addFault({{"method", "POST"}, {"path", "/v1/usage/convert"}, {"action", "status"}});
    server().call("POST", QStringLiteral("/v1/usage/convert"), "{\"refresh_token\":\"x\"}");
    server().usage();
    rawCall(server().baseUrl(), "GET", QStringLiteral("/health?probe=1&x=%20y"));
    const QJsonArray log = server().requests();
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(at(log, "0/path").toString(), QStringLiteral("/v1/usage/convert"));
    EXPECT_EQ(at(log, "0/body_size").toInteger(), 21);
    EXPECT_FALSE(at(log, "0/headers").toObject().contains(QStringLiteral("REMOTE_ADDR")));
    EXPECT_EQ(at(log, "1/query").toString(), QStringLiteral("probe=1&x=%20y"));
    server().clearRequests();
    EXPECT_EQ(server().requests().size(), 0);
}

} // namespace

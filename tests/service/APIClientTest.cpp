// The API client against the real stand-in service: status judging, decoding, transport errors,
// headers as the server saw them, and the "api" log lines.
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/ServiceConfig.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "service/ConnectionRetirement.h"
#include "tests/support/DevServer.h"
#include "tests/support/LogLines.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QCoroNetworkReply>
#include <QCoroTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

#include <optional>
#include <ostream>


using namespace vorlik;
using namespace vorlik::service;
using vorlik::diagnostics::DiagnosticsLogger;
using vorlik::platform::Settings;
using vorlik::test::DevServer;

namespace {

DevServer &server() { return DevServer::shared(); }

// Runs the task and returns the error of type Error it fails with (a test failure otherwise).
template <typename Error, typename Make>
std::optional<Error> failureOf(Make make)
{
    try {
        test::run(make());
        ADD_FAILURE() << "the call succeeded";
    } catch (const Error &error) {
        return error;
    } catch (const std::exception &error) {
        ADD_FAILURE() << "failed with another error: " << describe(error).toStdString();
    }
    return std::nullopt;
}

QUrl closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
}

// Qt's own text for a plain GET of `url`, to compare the client's pass-through with.
std::pair<QNetworkReply::NetworkError, QString> bareTransportError(const QUrl &url)
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(url));
    QCoro::waitFor(qCoro(reply).waitForFinished());
    const auto result = std::make_pair(reply->error(), reply->errorString());
    delete reply;
    return result;
}

QString header(const QJsonObject &request, const QString &name)
{
    const QJsonObject headers = request.value(QStringLiteral("headers")).toObject();
    for (auto it = headers.begin(); it != headers.end(); ++it)
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value().toString();
    return QStringLiteral("<absent>");
}

QJsonObject lastRequestTo(const QString &path)
{
    const QJsonArray log = server().requests();
    for (qsizetype index = log.size() - 1; index >= 0; --index)
        if (log.at(index).toObject().value(QStringLiteral("path")).toString() == path)
            return log.at(index).toObject();
    ADD_FAILURE() << "no request to " << path.toStdString() << " in the server's log";
    return {};
}

QJsonObject statusFault(const QString &method, const QString &path, int status, const QString &body)
{
    return {{"method", method}, {"path", path}, {"action", "status"}, {"status", status}, {"body", body}};
}

QJsonObject actionFault(const QString &method, const QString &path, const QString &action, int status = 500)
{
    return {{"method", method}, {"path", path}, {"action", action}, {"status", status}};
}

class APIClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server().reset();
        server().useAsService();
        Settings::standard().setValue(QStringLiteral("vorlikDiag"), true);
        m_log.emplace(QStringLiteral("api"));
    }

    void TearDown() override { Settings::standard().remove(QStringLiteral("baseURL")); }

    // The "api" lines logged since the test began, without their timestamps.
    QStringList apiLines() const { return m_log->lines(); }

    Session activateDemo() { return test::run(APIClient::activate(server().demoKey())); }

    std::optional<test::LogLines> m_log;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// baseURL and url

TEST_F(APIClientTest, baseURLFollowsTheSettingOnlyWhenItHasAScheme)
{
    struct Case {
        const char *setting;
        bool usesSetting;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8080", true},
        {"https://staging.example.org", true},
        {"staging.example.org", false}, // a bare host name has no scheme
        {"", false},
        {"http://exa mple.org", false}, // does not parse as a URL
        {"/just/a/path", false},
    };
    const QUrl builtIn = platform::ServiceConfig::current().origin;
    for (const Case &test : cases) {
        SCOPED_TRACE(test.setting);
        Settings::standard().setValue(QStringLiteral("baseURL"), QString::fromUtf8(test.setting));
        EXPECT_EQ(APIClient::baseURL(), test.usesSetting ? QUrl(QString::fromUtf8(test.setting)) : builtIn);
    }
    Settings::standard().remove(QStringLiteral("baseURL"));
    EXPECT_EQ(APIClient::baseURL(), builtIn);
}

TEST_F(APIClientTest, urlAppendsThePathAsOneComponentSequence)
{
    struct Case {
        const char *base;
        const char *path;
        const char *url;
    };
    const Case cases[] = {
        {"http://127.0.0.1:9", "/v1/presets", "http://127.0.0.1:9/v1/presets"},
        {"http://127.0.0.1:9", "health", "http://127.0.0.1:9/health"},
        {"http://127.0.0.1:9/", "/v1/presets", "http://127.0.0.1:9/v1/presets"},
        {"http://127.0.0.1:9/api/", "/v1/jobs/7", "http://127.0.0.1:9/api/v1/jobs/7"},
        {"http://127.0.0.1:9/api", "health", "http://127.0.0.1:9/api/health"},
        {"http://127.0.0.1:9", "/v1/jobs/a?b#c", "http://127.0.0.1:9/v1/jobs/a%3Fb%23c"},
        {"http://127.0.0.1:9", "/v1/jobs/a b", "http://127.0.0.1:9/v1/jobs/a%20b"},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(std::string(test.base) + " + " + test.path);
        Settings::standard().setValue(QStringLiteral("baseURL"), QString::fromUtf8(test.base));
        EXPECT_EQ(APIClient::url(QString::fromUtf8(test.path)).toString(QUrl::FullyEncoded), QString::fromUtf8(test.url));
    }
}

// ---------------------------------------------------------------------------------------------
// request

TEST_F(APIClientTest, requestReturnsEveryStatusAndLogsIt)
{
    const APIResponse rejected = test::run(APIClient::request(QStringLiteral("/v1/presets"), "GET"));
    EXPECT_EQ(rejected.status, 401); // no bearer: not an error at this level
    EXPECT_FALSE(rejected.body.isEmpty());

    const APIResponse health = test::run(APIClient::request(QStringLiteral("health"), "GET"));
    EXPECT_EQ(health.status, 200);
    EXPECT_TRUE(QJsonDocument::fromJson(health.body).isObject());

    const QStringList lines = apiLines();
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^GET /v1/presets -> 401 in \\d+ms$")).match(lines.at(0)).hasMatch())
        << lines.at(0).toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^GET health -> 200 in \\d+ms$")).match(lines.at(1)).hasMatch())
        << lines.at(1).toStdString();
}

TEST_F(APIClientTest, everyErrorStatusIsAResponseWithThatStatusAndItsBody)
{
    // Qt files some of these under codes of its own (400 and 418 as an invalid operation, 407
    // as a proxy's demand): the status decides, not Qt's code.
    for (int status = 400; status <= 599; ++status) {
        SCOPED_TRACE(status);
        const QString body = QStringLiteral("{\"error\":\"status %1\"}").arg(status);
        server().addFault(statusFault(QStringLiteral("GET"), QStringLiteral("/health"), status, body));
        const APIResponse response = test::run(APIClient::request(QStringLiteral("health"), "GET"));
        EXPECT_EQ(response.status, status);
        EXPECT_EQ(response.body, body.toUtf8());

        server().addFault(statusFault(QStringLiteral("POST"), QStringLiteral("/v1/auth/activate"), status, body));
        const auto error = failureOf<APIError>([] { return APIClient::activate(server().demoKey()); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->description(), QStringLiteral("Server error %1: ").arg(status) + body);
    }
}

TEST_F(APIClientTest, aRedirectToAnotherHostDoesNotCarryTheBearer)
{
    // Qt at times sends a redirected request a second time, and the answer to either copy may end
    // the reply: every copy gets the same redirect, and each step redirects a path of its own.
    const auto redirect = [](const QString &path, const QString &location) {
        QJsonObject fault = statusFault(QStringLiteral("GET"), path, 302, QString());
        fault.insert(QStringLiteral("location"), location);
        fault.insert(QStringLiteral("count"), -1);
        server().addFault(fault);
    };
    // The same server under another name: to the client, another host.
    QUrl elsewhere = server().baseUrl();
    elsewhere.setHost(QStringLiteral("localhost"));
    elsewhere.setPath(QStringLiteral("/v1/jobs/elsewhere"));
    redirect(QStringLiteral("/v1/jobs/refused"), elsewhere.toString());
    const auto error = failureOf<TransportError>(
        [] { return APIClient::request(QStringLiteral("/v1/jobs/refused"), "GET", std::nullopt, QStringLiteral("tok-secret")); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), QNetworkReply::InsecureRedirectError);

    // Within the same origin a redirect is followed, bearer and all.
    redirect(QStringLiteral("/v1/jobs/followed"), QStringLiteral("/health"));
    const APIResponse followed =
        test::run(APIClient::request(QStringLiteral("/v1/jobs/followed"), "GET", std::nullopt, QStringLiteral("tok-secret")));
    EXPECT_EQ(followed.status, 200);
    EXPECT_EQ(header(lastRequestTo(QStringLiteral("/health")), QStringLiteral("Authorization")), "Bearer tok-secret");
    for (const QJsonValue &request : server().requests())
        EXPECT_NE(request.toObject().value(QStringLiteral("path")).toString(), QStringLiteral("/v1/jobs/elsewhere"))
            << "the request, bearer and all, went on to another host";
}

TEST_F(APIClientTest, requestSendsContentTypeAlwaysAndTheBearerWhenGiven)
{
    test::run(APIClient::request(QStringLiteral("/v1/presets"), "GET", std::nullopt, QStringLiteral("tok-123")));
    const QJsonObject get = lastRequestTo(QStringLiteral("/v1/presets"));
    EXPECT_EQ(get.value(QStringLiteral("method")).toString(), "GET");
    EXPECT_EQ(header(get, QStringLiteral("Content-Type")), "application/json");
    EXPECT_EQ(header(get, QStringLiteral("Authorization")), "Bearer tok-123");

    server().clearRequests();
    test::run(APIClient::request(QStringLiteral("health"), "GET"));
    const QJsonObject health = lastRequestTo(QStringLiteral("/health"));
    EXPECT_EQ(header(health, QStringLiteral("Content-Type")), "application/json");
    EXPECT_EQ(header(health, QStringLiteral("Authorization")), "<absent>");
}

TEST_F(APIClientTest, droppedConnectionPassesQtsErrorThrough)
{
    // Qt sends a request again once when the connection closes before any answer: drop both.
    QJsonObject fault = actionFault(QStringLiteral("GET"), QStringLiteral("/health"), QStringLiteral("close"));
    fault.insert(QStringLiteral("count"), -1);
    server().addFault(fault);
    const auto error = failureOf<TransportError>([] { return APIClient::request(QStringLiteral("health"), "GET"); });
    ASSERT_TRUE(error);

    const auto [code, text] = bareTransportError(APIClient::url(QStringLiteral("health")));
    server().clearFaults();
    EXPECT_EQ(error->code(), code);
    EXPECT_EQ(error->description(), text);
    EXPECT_FALSE(text.isEmpty());
    EXPECT_EQ(apiLines(), QStringList{QStringLiteral("GET health ERROR ") + text});
}

TEST_F(APIClientTest, aResponseThatIsNotHTTPIsNoData)
{
    QTemporaryDir folder;
    test::writeFile(QDir(folder.path()).filePath(QStringLiteral("health")), R"({"version":"1"})");
    Settings::standard().setValue(QStringLiteral("baseURL"), QUrl::fromLocalFile(folder.path()).toString());
    const auto error = failureOf<APIError>([] { return APIClient::request(QStringLiteral("health"), "GET"); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), APIError::Case::noData);
    EXPECT_EQ(error->description(), "No data received.");
    EXPECT_EQ(apiLines(), QStringList{QStringLiteral("GET health ERROR No data received.")});
}

// ---------------------------------------------------------------------------------------------
// activate, refresh, logout, presets and the health probe

TEST_F(APIClientTest, activateSendsTheKeyAndRefreshRotatesTheRefreshToken)
{
    const Session first = activateDemo();
    EXPECT_FALSE(first.accessToken.isEmpty());
    EXPECT_FALSE(first.sessionId.isEmpty());
    const QJsonObject sent = lastRequestTo(QStringLiteral("/v1/auth/activate"));
    EXPECT_EQ(header(sent, QStringLiteral("Authorization")), "<absent>");
    EXPECT_EQ(sent.value(QStringLiteral("body_size")).toInt(),
              QJsonDocument(QJsonObject{{QStringLiteral("api_key"), server().demoKey()},
                                        {QStringLiteral("installation_label"), QStringLiteral("Vorlik Desktop")}})
                  .toJson(QJsonDocument::Compact)
                  .size());

    const Session second = test::run(APIClient::refresh(first.refreshToken));
    EXPECT_NE(second.refreshToken, first.refreshToken);
    const auto reused = failureOf<APIError>([&] { return APIClient::refresh(first.refreshToken); });
    ASSERT_TRUE(reused);
    EXPECT_EQ(reused->status(), 401);
}

TEST_F(APIClientTest, activateFailsOnAnyAnswerButASessionWith200)
{
    const QString sessionBody = QString::fromUtf8(
        R"({"access_token":"a","refresh_token":"r","installation_id":"i","client_id":"c","session_id":"s"})");
    struct Case {
        const char *name;
        QJsonObject fault; // empty: a real rejection by the server
        APIError::Case kind;
        QString description; // a prefix when it ends with "…"
    };
    const QString activatePath = QStringLiteral("/v1/auth/activate");
    const Case cases[] = {
        {"201 is not 200", statusFault("POST", activatePath, 201, sessionBody), APIError::Case::badStatus,
         "Server error 201: " + sessionBody},
        {"204 carries no body", statusFault("POST", activatePath, 204, sessionBody), APIError::Case::badStatus,
         "Server error 204: "},
        {"403", statusFault("POST", activatePath, 403, sessionBody), APIError::Case::badStatus, "Server error 403: " + sessionBody},
        {"unknown key", {}, APIError::Case::badStatus, "Server error 401: {…"},
        {"no refresh token",
         statusFault("POST", activatePath, 200,
                     R"({"access_token":"a","installation_id":"i","client_id":"c","session_id":"s"})"),
         APIError::Case::decoding, R"(Unexpected response: keyNotFound: no value for key "refresh_token")"},
        {"malformed", actionFault("POST", activatePath, "malformed"), APIError::Case::decoding,
         "Unexpected response: dataCorrupted: …"},
        {"error body not UTF-8", actionFault("POST", activatePath, "non_utf8", 502), APIError::Case::badStatus,
         "Server error 502: "},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        if (!test.fault.isEmpty())
            server().addFault(test.fault);
        const QString key = test.fault.isEmpty() ? QStringLiteral("vk_not_a_key") : server().demoKey();
        const auto error = failureOf<APIError>([&] { return APIClient::activate(key); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), test.kind);
        if (test.description.endsWith(QStringLiteral("…")))
            EXPECT_TRUE(error->description().startsWith(test.description.chopped(1))) << error->description().toStdString();
        else
            EXPECT_EQ(error->description(), test.description);
    }
}

TEST_F(APIClientTest, logoutSendsTheBearerAndCountsAGoneSessionAsSuccess)
{
    const Session session = activateDemo();
    EXPECT_TRUE(test::run(APIClient::logout(session.accessToken, session.refreshToken)));
    EXPECT_EQ(header(lastRequestTo(QStringLiteral("/v1/auth/logout")), QStringLiteral("Authorization")),
              QStringLiteral("Bearer ") + session.accessToken);
    // A real rejection by the server, then injected answers.
    EXPECT_TRUE(test::run(APIClient::logout(QStringLiteral("not-a-token"), QStringLiteral("refresh"))));
    const std::pair<int, bool> cases[] = {{401, true}, {404, true}, {500, false}, {201, false}, {403, false}};
    for (const auto &[status, result] : cases) {
        SCOPED_TRACE(status);
        server().addFault(statusFault("POST", "/v1/auth/logout", status, R"({"error":"x"})"));
        EXPECT_EQ(test::run(APIClient::logout(QStringLiteral("bearer"), QStringLiteral("refresh"))), result);
    }
}

TEST_F(APIClientTest, fetchPresetsDecodesTheServersList)
{
    const Session session = activateDemo();
    const PresetsPayload payload = test::run(APIClient::fetchPresets(session.accessToken));
    // The same document read independently.
    const auto [status, body] = server().call("GET", QStringLiteral("/v1/presets"), {}, session.accessToken);
    ASSERT_EQ(status, 200);
    EXPECT_FALSE(payload.presets.isEmpty());
    EXPECT_EQ(payload.presets, PresetsPayload::fromJSON(body).presets);

    const auto rejected = failureOf<APIError>([] { return APIClient::fetchPresets(QStringLiteral("expired")); });
    ASSERT_TRUE(rejected);
    EXPECT_EQ(rejected->status(), 401);
    server().addFault(statusFault("GET", "/v1/presets", 200, R"({"version":1,"generated_at":"g","presets":[]})"));
    const auto noNote = failureOf<APIError>([&] { return APIClient::fetchPresets(session.accessToken); });
    ASSERT_TRUE(noNote);
    EXPECT_EQ(noNote->description(), R"(Unexpected response: keyNotFound: no value for key "note")");
}

TEST_F(APIClientTest, serverBuildIsTheHealthVersionAndUnknownOnAnyOtherAnswer)
{
    const auto [status, body] = server().call("GET", QStringLiteral("/health"));
    ASSERT_EQ(status, 200);
    const QString version = QJsonDocument::fromJson(body).object().value(QStringLiteral("version")).toString();
    ASSERT_FALSE(version.isEmpty());
    EXPECT_EQ(test::run(APIClient::serverBuild()), std::optional<QString>(version));

    const std::pair<int, const char *> answers[] = {
        {500, R"({"version":"9.9"})"}, {201, R"({"version":"9.9"})"}, {200, R"({"version":""})"},
        {200, R"({"version":99})"},    {200, R"({"status":"ok"})"},   {200, R"(["9.9"])"}, {200, "9.9"},
    };
    for (const auto &[answerStatus, answer] : answers) {
        SCOPED_TRACE(answer);
        server().addFault(statusFault("GET", "/health", answerStatus, answer));
        EXPECT_EQ(test::run(APIClient::serverBuild()), std::nullopt);
    }
}

TEST_F(APIClientTest, withoutAServerEveryCallSaysWhyInTheLogAndNothingWhileDiagnosticsAreOff)
{
    const QUrl closed = closedPort();
    Settings::standard().setValue(QStringLiteral("baseURL"), closed.toString());
    const auto error = failureOf<TransportError>([] { return APIClient::request(QStringLiteral("/v1/presets"), "GET"); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), QNetworkReply::ConnectionRefusedError);
    const QString why = bareTransportError(closed).second;
    EXPECT_EQ(error->description(), why);
    EXPECT_FALSE(test::run(APIClient::logout(QStringLiteral("bearer"), QStringLiteral("refresh"))));
    EXPECT_EQ(test::run(APIClient::serverBuild()), std::nullopt);
    EXPECT_EQ(apiLines(), (QStringList{QStringLiteral("GET /v1/presets ERROR ") + why,
                                       QStringLiteral("POST /v1/auth/logout ERROR ") + why,
                                       QStringLiteral("logout request failed: ") + why,
                                       QStringLiteral("GET health ERROR ") + why,
                                       QStringLiteral("health (server build) unavailable: ") + why}));

    Settings::standard().setValue(QStringLiteral("vorlikDiag"), false);
    const test::LogLines quiet(QStringLiteral("api"));
    EXPECT_FALSE(test::run(APIClient::logout(QStringLiteral("b"), QStringLiteral("r"))));
    EXPECT_TRUE(quiet.lines().isEmpty());
}

// ---------------------------------------------------------------------------------------------
// HTTPS

TEST_F(APIClientTest, worksOverHTTPSWithATrustedCertificate)
{
    DevServer::trustTestCA();
    const DevServer &secure = DevServer::sharedTls();
    ASSERT_EQ(secure.baseUrl().scheme(), "https");
    Settings::standard().setValue(QStringLiteral("baseURL"), secure.baseUrl().toString());
    const Session session = test::run(APIClient::activate(secure.demoKey()));
    EXPECT_FALSE(session.accessToken.isEmpty());
    EXPECT_FALSE(test::run(APIClient::fetchPresets(session.accessToken)).presets.isEmpty());
    EXPECT_TRUE(test::run(APIClient::serverBuild()).has_value());
}

// ---------------------------------------------------------------------------------------------
// Kept connections

TEST_F(APIClientTest, retiringKeptConnectionsNeverCutsAnExchangeInFlight)
{
    // Retire at every chance: the quick answer comes while the slow one is still on its way,
    // and the slow one must arrive whole; once all is quiet the connections go, and the next
    // exchange simply makes a new one.
    QNetworkAccessManager session;
    ConnectionRetirement::install(session, std::chrono::milliseconds(0));
    server().addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/v1/presets")},
                                  {QStringLiteral("action"), QStringLiteral("delay")},
                                  {QStringLiteral("delay_ms"), 700}});
    const auto get = [&](const QString &path) {
        QNetworkRequest request(server().baseUrl().resolved(QUrl(path)));
        request.setTransferTimeout(15000); // a cut exchange would otherwise never end
        return session.get(request);
    };
    test::run([&]() -> QCoro::Task<void> {
        std::unique_ptr<QNetworkReply> slow(get(QStringLiteral("/v1/presets")));
        for (int i = 0; i < 3; ++i) {
            std::unique_ptr<QNetworkReply> quick(get(QStringLiteral("/health")));
            co_await quick.get();
            EXPECT_EQ(quick->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        }
        co_await slow.get();
        EXPECT_EQ(slow->error(), QNetworkReply::AuthenticationRequiredError) << slow->errorString().toStdString();
        EXPECT_EQ(slow->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 401);
        EXPECT_TRUE(slow->readAll().contains("bearer"));
        co_await QCoro::sleepFor(std::chrono::milliseconds(50)); // the retirement runs from the event loop
        std::unique_ptr<QNetworkReply> after(get(QStringLiteral("/health")));
        co_await after.get();
        EXPECT_EQ(after->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    }());
    EXPECT_TRUE(session.findChildren<QNetworkReply *>().isEmpty());
}

#include "platform/ServiceConfig.h"
#include "service/APIClient.h"
#include "service/ConnectionRetirement.h"
#include "tests/service/SessionTestSupport.h"

#include <QCoroNetworkReply>
#include <QCoroTimer>
#include <QDir>
#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QTcpServer>

using namespace vorlik;
using namespace vorlik::service;
using namespace vorlik::test;
using vorlik::platform::Settings;

namespace {

// Qt's own text for a plain GET of `url`, to compare the client's pass-through with.
std::pair<QNetworkReply::NetworkError, QString> bareTransportError(const QUrl &url)
{
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(url)));
    QCoro::waitFor(qCoro(reply.get()).waitForFinished());
    return {reply->error(), reply->errorString()};
}

QJsonObject lastRequestTo(const QString &path)
{
    const QList<QJsonObject> found = requestsTo(path);
    EXPECT_FALSE(found.isEmpty()) << "no request to " << path.toStdString();
    return found.value(found.size() - 1);
}

QJsonObject statusFault(const char *method, const QString &path, int status, const QString &body)
{
    return fault(method, path, "status", status, 1, 0, body);
}

void setBaseURL(const QString &url) { Settings::standard().setValue(QStringLiteral("baseURL"), url); }

class APIClientTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        m_log.emplace(QStringLiteral("api"));
    }

    void TearDown() override
    {
        Settings::standard().remove(QStringLiteral("baseURL"));
        SessionTest::TearDown();
    }

    // The "api" lines logged since the test began, without their timestamps.
    QStringList apiLines() const { return m_log->lines(); }

    std::optional<LogLines> m_log;
};

} // namespace

TEST_F(APIClientTest, theSettingIsTheBaseAndARequestReturnsEveryStatusSendsItsHeadersAndLogsItButNoBearerToAnotherHost)
{
    const QUrl builtIn = platform::ServiceConfig::current().origin;
    const std::pair<const char *, bool> bases[] = {
        {"http://127.0.0.1:8080", true}, {"https://staging.example.org", true},
        {"staging.example.org", false}, // a bare host name has no scheme
        {"", false}, {"http://exa mple.org", false} /* does not parse */, {"/just/a/path", false},
    };
    for (const auto &[setting, usesSetting] : bases) {
        setBaseURL(QString::fromUtf8(setting));
        EXPECT_EQ(APIClient::baseURL(), usesSetting ? QUrl(QString::fromUtf8(setting)) : builtIn) << setting;
    }
    Settings::standard().remove(QStringLiteral("baseURL")); // as on a fresh installation
    EXPECT_EQ(APIClient::baseURL(), builtIn);

    const std::tuple<const char *, const char *, const char *> urls[] = {
        {"http://127.0.0.1:9", "/v1/presets", "http://127.0.0.1:9/v1/presets"},
        {"http://127.0.0.1:9", "health", "http://127.0.0.1:9/health"},
        {"http://127.0.0.1:9/", "/v1/presets", "http://127.0.0.1:9/v1/presets"},
        {"http://127.0.0.1:9/api/", "/v1/jobs/7", "http://127.0.0.1:9/api/v1/jobs/7"},
        {"http://127.0.0.1:9/api", "health", "http://127.0.0.1:9/api/health"},
        {"http://127.0.0.1:9", "/v1/jobs/a?b#c", "http://127.0.0.1:9/v1/jobs/a%3Fb%23c"},
        {"http://127.0.0.1:9", "/v1/jobs/a b", "http://127.0.0.1:9/v1/jobs/a%20b"},
    };
    for (const auto &[base, path, url] : urls) {
        setBaseURL(QString::fromUtf8(base));
        EXPECT_EQ(APIClient::url(QString::fromUtf8(path)).toString(QUrl::FullyEncoded), QString::fromUtf8(url)) << base << path;
    }

    server().useAsService();
    const APIResponse rejected = run(APIClient::request(QStringLiteral("/v1/presets"), "GET", std::nullopt, QStringLiteral("tok-123")));
    EXPECT_EQ(std::tuple(rejected.status, rejected.body.isEmpty()), std::tuple(401, false)); // not an error at this level
    const QJsonObject get = lastRequestTo(QStringLiteral("/v1/presets"));
    const auto sent = [](const QJsonObject &request) {
        return QStringList{request.value(QStringLiteral("method")).toString(), header(request, QStringLiteral("Content-Type")),
                           header(request, QStringLiteral("Authorization"))};
    };
    EXPECT_EQ(sent(get), (QStringList{"GET", "application/json", "Bearer tok-123"}));

    const APIResponse health = run(APIClient::request(QStringLiteral("health"), "GET"));
    EXPECT_EQ(std::tuple(health.status, QJsonDocument::fromJson(health.body).isObject()), std::tuple(200, true));
    EXPECT_EQ(sent(lastRequestTo(QStringLiteral("/health"))), (QStringList{"GET", "application/json", "<absent>"}));

    const QString lines = apiLines().join(QLatin1Char('|'));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^GET /v1/presets -> 401 in \\d+ms\\|GET health -> 200 in \\d+ms$")).match(lines).hasMatch())
        << lines.toStdString();

    // Qt at times sends a redirected request a second time, and the answer to either copy may end
    // the reply: every copy gets the same redirect, and each step redirects a path of its own.
    const auto redirect = [](const QString &path, const QString &location) {
        QJsonObject spec = fault("GET", path, "status", 302, -1);
        spec.insert(QStringLiteral("location"), location);
        sessionServer().addFault(spec);
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
    EXPECT_EQ(run(APIClient::request(QStringLiteral("/v1/jobs/followed"), "GET", std::nullopt, QStringLiteral("tok-secret"))).status, 200);
    EXPECT_EQ(header(lastRequestTo(QStringLiteral("/health")), QStringLiteral("Authorization")), "Bearer tok-secret");
    // Qt 6.4 can crash inside its Brotli decoder while following a redirect whose body came
    // compressed: answers are asked for uncompressed, on every step.
    for (const QString &path : {QStringLiteral("/v1/jobs/followed"), QStringLiteral("/health")})
        EXPECT_EQ(header(lastRequestTo(path), QStringLiteral("Accept-Encoding")), "identity") << path.toStdString();
    EXPECT_TRUE(requestsTo(QStringLiteral("/v1/jobs/elsewhere")).isEmpty()) << "the request, bearer and all, went on to another host";
}

TEST_F(APIClientTest, withoutAnHTTPAnswerEveryCallSaysWhyInTheLogAndNothingWhileDiagnosticsAreOff)
{
    // A dropped connection (Qt sends the request again once: both are dropped) is Qt's own error.
    server().addFault(fault("GET", "/health", "close", 500, -1));
    const auto dropped = failureOf<TransportError>([] { return APIClient::request(QStringLiteral("health"), "GET"); });
    ASSERT_TRUE(dropped);
    const auto [code, text] = bareTransportError(APIClient::url(QStringLiteral("health")));
    server().clearFaults();
    EXPECT_EQ(std::tuple(dropped->code(), dropped->description()), std::tuple(code, text));
    EXPECT_FALSE(text.isEmpty());

    // An answer that is not HTTP at all is no data.
    QTemporaryDir folder;
    writeFile(QDir(folder.path()).filePath(QStringLiteral("health")), R"({"version":"1"})");
    setBaseURL(QUrl::fromLocalFile(folder.path()).toString());
    const auto noData = failureOf<APIError>([] { return APIClient::request(QStringLiteral("health"), "GET"); });
    ASSERT_TRUE(noData);
    EXPECT_EQ(std::tuple(noData->kind(), noData->description()), std::tuple(APIError::Case::noData, QStringLiteral("No data received.")));

    // Nobody listening.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const QUrl closed(QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort()));
    probe.close();
    setBaseURL(closed.toString());
    const auto refused = failureOf<TransportError>([] { return APIClient::request(QStringLiteral("/v1/presets"), "GET"); });
    ASSERT_TRUE(refused);
    const QString why = bareTransportError(closed).second;
    EXPECT_EQ(std::tuple(refused->code(), refused->description()), std::tuple(QNetworkReply::ConnectionRefusedError, why));
    EXPECT_FALSE(run(APIClient::logout(QStringLiteral("bearer"), QStringLiteral("refresh"))));
    EXPECT_EQ(run(APIClient::serverBuild()), std::nullopt);
    EXPECT_EQ(apiLines(), (QStringList{"GET health ERROR " + text, "GET health ERROR No data received.",
                                       "GET /v1/presets ERROR " + why, "POST /v1/auth/logout ERROR " + why,
                                       "logout request failed: " + why, "GET health ERROR " + why,
                                       "health (server build) unavailable: " + why}));

    Settings::standard().setValue(QStringLiteral("vorlikDiag"), false);
    const LogLines quiet(QStringLiteral("api"));
    EXPECT_FALSE(run(APIClient::logout(QStringLiteral("b"), QStringLiteral("r"))));
    EXPECT_TRUE(quiet.lines().isEmpty());
}

TEST_F(APIClientTest, activateRefreshLogoutAndHealthTalkToTheServiceAsItExpectsAndActivateTakesOnlyASessionWith200)
{
    const Session first = run(APIClient::activate(server().demoKey()));
    EXPECT_FALSE(first.accessToken.isEmpty() || first.sessionId.isEmpty());
    const QJsonObject sent = lastRequestTo(QStringLiteral("/v1/auth/activate"));
    EXPECT_EQ(header(sent, QStringLiteral("Authorization")), "<absent>");
    EXPECT_EQ(sent.value(QStringLiteral("body_size")).toInt(),
              QJsonDocument(QJsonObject{{"api_key", server().demoKey()}, {"installation_label", "Vorlik Desktop"}}).toJson(QJsonDocument::Compact).size());

    const Session session = run(APIClient::refresh(first.refreshToken));
    EXPECT_NE(session.refreshToken, first.refreshToken);
    const auto reused = failureOf<APIError>([&] { return APIClient::refresh(first.refreshToken); });
    ASSERT_TRUE(reused);
    EXPECT_EQ(reused->status(), 401);

    // Logging out counts a session already gone as success.
    EXPECT_TRUE(run(APIClient::logout(session.accessToken, session.refreshToken)));
    EXPECT_EQ(bearerOf(lastRequestTo(QStringLiteral("/v1/auth/logout"))), session.accessToken);
    EXPECT_TRUE(run(APIClient::logout(QStringLiteral("not-a-token"), QStringLiteral("refresh"))));
    const std::pair<int, bool> logoutAnswers[] = {{401, true}, {404, true}, {500, false}, {201, false}, {403, false}};
    for (const auto &[answer, result] : logoutAnswers) {
        server().addFault(statusFault("POST", QStringLiteral("/v1/auth/logout"), answer, R"({"error":"x"})"));
        EXPECT_EQ(run(APIClient::logout(QStringLiteral("bearer"), QStringLiteral("refresh"))), result) << answer;
    }

    // The server's build is the health version, and unknown on any other answer.
    const QString version = QJsonDocument::fromJson(server().call("GET", QStringLiteral("/health")).second).object().value("version").toString();
    ASSERT_FALSE(version.isEmpty());
    EXPECT_EQ(run(APIClient::serverBuild()), std::optional<QString>(version));
    const std::pair<int, const char *> answers[] = {
        {500, R"({"version":"9.9"})"}, {201, R"({"version":"9.9"})"}, {200, R"({"version":""})"}, {200, R"({"version":99})"},
        {200, R"({"status":"ok"})"},   {200, R"(["9.9"])"},           {200, "9.9"},
    };
    for (const auto &[answerStatus, answer] : answers) {
        server().addFault(statusFault("GET", QStringLiteral("/health"), answerStatus, QString::fromUtf8(answer)));
        EXPECT_EQ(run(APIClient::serverBuild()), std::nullopt) << answer;
    }

    const QString sessionBody = R"({"access_token":"a","refresh_token":"r","installation_id":"i","client_id":"c","session_id":"s"})";
    const QString path = QStringLiteral("/v1/auth/activate");
    const std::tuple<QJsonObject, APIError::Case, QString> cases[] = {
        {statusFault("POST", path, 201, sessionBody), APIError::Case::badStatus, "Server error 201: " + sessionBody},
        {statusFault("POST", path, 204, sessionBody), APIError::Case::badStatus, "Server error 204: "}, // no body
        {statusFault("POST", path, 200, R"({"access_token":"a","installation_id":"i","client_id":"c","session_id":"s"})"),
         APIError::Case::decoding, R"(Unexpected response: keyNotFound: no value for key "refresh_token")"},
        {fault("POST", path, "malformed"), APIError::Case::decoding, "Unexpected response: dataCorrupted: …"},
        {fault("POST", path, "non_utf8", 502), APIError::Case::badStatus, "Server error 502: "},
    };
    for (const auto &[failure, kind, description] : cases) {
        SCOPED_TRACE(description.toStdString());
        server().addFault(failure);
        const auto error = failureOf<APIError>([] { return APIClient::activate(sessionServer().demoKey()); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), kind);
        if (description.endsWith(QStringLiteral("…")))
            EXPECT_TRUE(error->description().startsWith(description.chopped(1))) << error->description().toStdString();
        else
            EXPECT_EQ(error->description(), description);
    }
}

TEST_F(APIClientTest, retiringKeptConnectionsNeverCutsAnExchangeInFlight)
{
    // Retire at every chance: the quick answer comes while the slow one is still on its way,
    // and the slow one must arrive whole; once all is quiet the connections go, and the next
    // exchange simply makes a new one.
    QNetworkAccessManager session;
    ConnectionRetirement::install(session, std::chrono::milliseconds(0));
    server().addFault(fault("GET", "/v1/presets", "delay", 200, 1, 700));
    const auto get = [&](const QString &path) {
        QNetworkRequest request(server().baseUrl().resolved(QUrl(path)));
        request.setTransferTimeout(15000); // a cut exchange would otherwise never end
        return session.get(request);
    };
    run([&]() -> QCoro::Task<void> {
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

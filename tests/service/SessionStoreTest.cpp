// The session store against the real stand-in service: connect and its outcomes, the shared
// refresh, disconnects racing requests in flight, and the web page's session messages.
#include "tests/service/SessionTestSupport.h"

#include "service/APIClient.h"

#include <QSignalSpy>

#include <functional>
#include <memory>

using namespace vorlik;
using namespace vorlik::service;
using namespace vorlik::test;

namespace {

const QString rejected = QStringLiteral("The server rejected this session — check your client key.");

QString recordText(const QJsonObject &record)
{
    return QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact));
}

QString noticeText(const QJsonObject &notice)
{
    return recordText(notice);
}

QJsonObject webRecordOf(const QJsonObject &session)
{
    return QJsonObject{{QStringLiteral("access_token"), session.value(QStringLiteral("access_token"))},
                       {QStringLiteral("refresh_token"), session.value(QStringLiteral("refresh_token"))},
                       {QStringLiteral("installation_id"), session.value(QStringLiteral("installation_id"))},
                       {QStringLiteral("client_id"), session.value(QStringLiteral("client_id"))}};
}

using SessionStoreTest = SessionTest;

} // namespace

// ---------------------------------------------------------------------------------------------
// connect

TEST_F(SessionStoreTest, ConnectWithTheDemoKeyHoldsTheSessionAndTheServicesPresets)
{
    SessionStore store;
    QSignalSpy stateSpy(&store, &SessionStore::stateChanged);
    QSignalSpy presetsSpy(&store, &SessionStore::presetsChanged);
    const LogLines log(QStringLiteral("session"));

    run(store.connect(server().demoKey()));

    EXPECT_EQ(store.state(), ConnectionState::connected(QStringLiteral("demo-client")));
    ASSERT_TRUE(store.session().has_value());
    EXPECT_EQ(store.session()->clientId, QStringLiteral("demo-client"));
    EXPECT_FALSE(store.session()->sessionId.isEmpty());
    EXPECT_FALSE(store.scriptsUnavailable());
    const PresetsPayload served = PresetsPayload::fromJSON(
        server().call("GET", QStringLiteral("/v1/presets"), {}, store.session()->accessToken).second);
    EXPECT_EQ(store.presets(), served.presets);
    EXPECT_FALSE(store.presets().isEmpty());
    EXPECT_EQ(stateSpy.count(), 2); // connecting, connected
    EXPECT_EQ(presetsSpy.count(), 1);
    EXPECT_EQ(log.lines(), (QStringList{"connect requested", "activated client=demo-client"}));
    // The presets were fetched with the new session's token.
    const QList<QJsonObject> presetCalls = requestsTo(QStringLiteral("/v1/presets"));
    ASSERT_GE(presetCalls.size(), 1);
    EXPECT_EQ(bearerOf(presetCalls.first()), store.session()->accessToken);
}

TEST_F(SessionStoreTest, ABlankKeyFailsAtOnceAndSendsNothing)
{
    for (const QString &key : {QString(), QStringLiteral("   "), QStringLiteral(" \t ")}) {
        server().clearRequests();
        SessionStore store;
        const LogLines log(QStringLiteral("session"));
        run(store.connect(key));
        EXPECT_EQ(store.state(), ConnectionState::failed(QStringLiteral("Enter your client key first.")));
        EXPECT_FALSE(store.session().has_value());
        EXPECT_EQ(server().requests().size(), 0);
        EXPECT_EQ(log.lines(), (QStringList{"connect requested", "connect failed: empty key"}));
    }
}

TEST_F(SessionStoreTest, AFailedConnectSaysWhyAndDropsAnyEarlierSessionAndPresets)
{
    struct Case {
        const char *name;
        QString key;
        QJsonObject fault;
        const char *message; // a prefix; empty for Qt's own text of a dropped connection
    };
    const Case cases[] = {
        {"unknown key", QStringLiteral("vk_not_a_known_key"), {}, "Server error 401: "},
        // The service knows no key with a leading space: the store did not trim it.
        {"key with a leading space", QStringLiteral(" ") + server().demoKey(), {}, "Server error 401: "},
        {"dropped connection", server().demoKey(), fault("POST", "/v1/auth/activate", "close", 500, -1), ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SessionStore store;
        connectDemo(store);
        server().reset();
        if (!c.fault.isEmpty())
            server().addFault(c.fault);
        const LogLines log(QStringLiteral("session"));
        run(store.connect(c.key));
        ASSERT_EQ(store.state().kind, ConnectionState::Case::failed);
        EXPECT_FALSE(store.state().message.isEmpty());
        EXPECT_EQ(store.state().message.startsWith(QStringLiteral("Server error")), *c.message != 0) << store.state().message.toStdString();
        EXPECT_TRUE(store.state().message.startsWith(QString::fromUtf8(c.message)));
        EXPECT_FALSE(store.session().has_value());
        EXPECT_TRUE(store.presets().isEmpty());
        EXPECT_EQ(log.lines().last(), QStringLiteral("connect failed: ") + store.state().message);
        EXPECT_TRUE(requestsTo(QStringLiteral("/v1/presets")).isEmpty());
    }
}

TEST_F(SessionStoreTest, ARejectedTokenOnThePresetCheckEndsWithoutASession)
{
    for (const int status : {401, 403}) {
        server().reset();
        SessionStore store;
        const LogLines log(QStringLiteral("session"));
        server().addFault(fault("GET", "/v1/presets", "status", status));
        run(store.connect(server().demoKey()));
        EXPECT_EQ(store.state(), ConnectionState::failed(rejected)) << status;
        EXPECT_FALSE(store.session().has_value());
        EXPECT_TRUE(store.presets().isEmpty());
        EXPECT_FALSE(store.scriptsUnavailable());
        EXPECT_EQ(log.lines().last(), QStringLiteral("connect failed: server rejected the token"));
    }
}

TEST_F(SessionStoreTest, APresetListThatCannotBeHadLeavesTheUserConnectedWithoutScriptsUntilAGoodOne)
{
    struct Case {
        const char *name;
        QJsonObject fault;
    };
    const Case cases[] = {
        {"500", fault("GET", "/v1/presets", "status", 500)},
        {"404", fault("GET", "/v1/presets", "status", 404)},
        {"undecodable", fault("GET", "/v1/presets", "malformed")},
        {"not UTF-8", fault("GET", "/v1/presets", "non_utf8", 200)},
        // Qt sends a request once more when the connection drops; every attempt is dropped.
        {"dropped connection", fault("GET", "/v1/presets", "close", 500, -1)},
    };
    for (const Case &c : cases) {
        server().reset();
        server().addFault(c.fault);
        SessionStore store;
        Preset leftOver;
        leftOver.id = QStringLiteral("left-over");
        store.setPresets({leftOver});
        const LogLines log(QStringLiteral("session"));
        run(store.connect(server().demoKey()));
        EXPECT_EQ(store.state(), ConnectionState::connected(QStringLiteral("demo-client"))) << c.name;
        EXPECT_TRUE(store.scriptsUnavailable()) << c.name;
        EXPECT_TRUE(store.presets().isEmpty()) << c.name;
        EXPECT_TRUE(store.session().has_value()) << c.name;
        EXPECT_TRUE(log.lines().contains(QStringLiteral("connected but preset service unavailable"))) << c.name;
        // A good list the next time clears the flag.
        server().clearFaults();
        run(store.connect(server().demoKey()));
        EXPECT_FALSE(store.scriptsUnavailable()) << c.name;
        EXPECT_FALSE(store.presets().isEmpty()) << c.name;
    }
}

TEST_F(SessionStoreTest, ADisconnectWhileASessionIsBeingHadLeavesTheStoreEmpty)
{
    const QString adoptable = recordText(webRecordOf(activateOutside(server().demoKey())));
    struct Case {
        const char *name;
        const char *heldPath;
        std::function<QCoro::Task<void>(SessionStore &)> start;
    };
    const Case cases[] = {
        {"key exchange", "/v1/auth/activate", [](SessionStore &store) { return store.connect(sessionServer().demoKey()); }},
        {"preset check", "/v1/presets", [](SessionStore &store) { return store.connect(sessionServer().demoKey()); }},
        {"page session's check", "/v1/presets", [&](SessionStore &store) { return store.adoptWebSession(adoptable); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        server().reset();
        server().addFault(fault(c.heldPath[4] == 'a' ? "POST" : "GET", c.heldPath, "delay", 200, 1, 300));
        SessionStore store;
        auto starting = c.start(store);
        ASSERT_TRUE(waitForRequests(QString::fromLatin1(c.heldPath)));
        store.disconnect();
        run(std::move(starting));
        // The late answer belongs to a session the user let go.
        EXPECT_EQ(store.state(), ConnectionState::disconnected());
        EXPECT_FALSE(store.session().has_value());
        EXPECT_TRUE(store.presets().isEmpty());
        EXPECT_FALSE(store.scriptsUnavailable());
        if (c.heldPath[4] == 'a') {
            EXPECT_TRUE(requestsTo(QStringLiteral("/v1/presets")).isEmpty());
        }
    }
}

TEST_F(SessionStoreTest, OfTwoOverlappingConnectsTheLaterActivationWinsWhole)
{
    // The first connect's key exchange is held back; the second one connects meanwhile.
    server().addFault(fault("POST", "/v1/auth/activate", "delay", 200, 1, 600));
    SessionStore store;
    auto first = store.connect(server().demoKey());
    ASSERT_TRUE(waitForRequests(QStringLiteral("/v1/auth/activate")));
    run(store.connect(secondKey));
    ASSERT_TRUE(store.state().isConnected());
    EXPECT_NE(store.state().clientId, QStringLiteral("demo-client"));
    run(std::move(first));
    EXPECT_EQ(store.state(), ConnectionState::connected(QStringLiteral("demo-client")));
    ASSERT_TRUE(store.session().has_value());
    EXPECT_EQ(store.session()->clientId, QStringLiteral("demo-client"));
}

TEST_F(SessionStoreTest, AConnectWhosePresetCheckIsOvertakenDoesNotOverwriteTheNewerSession)
{
    // The first connect's preset check is held back while a second connect (another client)
    // completes: the state shown must stay with the session held.
    server().addFault(fault("GET", "/v1/presets", "delay", 200, 1, 300));
    SessionStore store;
    auto first = store.connect(server().demoKey());
    ASSERT_TRUE(waitForRequests(QStringLiteral("/v1/presets")));
    run(store.connect(secondKey));
    const ConnectionState second = store.state();
    ASSERT_TRUE(second.isConnected());
    run(std::move(first));
    EXPECT_EQ(store.state(), second);
    ASSERT_TRUE(store.session().has_value());
    EXPECT_EQ(store.session()->clientId, second.clientId);
}

// ---------------------------------------------------------------------------------------------
// disconnect

TEST_F(SessionStoreTest, DisconnectClearsEverythingButTheUsageQueueAndCallsNothing)
{
    SessionStore store;
    connectDemo(store);
    server().addFault(fault("POST", "/v1/usage/convert", "status", 500));
    run(store.reportUsage(store.session()->accessToken, QStringLiteral("p"), 1, 10, QStringLiteral("a.wav")));
    ASSERT_EQ(store.pendingUsageCount(), 1);
    server().clearRequests();
    const qint64 before = store.generation();
    const LogLines log(QStringLiteral("session"));

    store.disconnect();

    EXPECT_EQ(store.state(), ConnectionState::disconnected());
    EXPECT_FALSE(store.session().has_value());
    EXPECT_TRUE(store.presets().isEmpty());
    EXPECT_FALSE(store.scriptsUnavailable());
    EXPECT_EQ(store.generation(), before + 1);
    EXPECT_EQ(store.pendingUsageCount(), 1);
    EXPECT_EQ(log.lines(), QStringList{"disconnect"});
    EXPECT_EQ(server().requests().size(), 0);
}

// ---------------------------------------------------------------------------------------------
// refreshSession

TEST_F(SessionStoreTest, ARefreshReplacesTheTokensAndKeepsStateAndPresets)
{
    SessionStore store;
    connectDemo(store);
    const Session before = *store.session();
    const QList<Preset> presets = store.presets();
    const LogLines log(QStringLiteral("session"));

    EXPECT_TRUE(run(store.refreshSession()));

    ASSERT_TRUE(store.session().has_value());
    EXPECT_NE(store.session()->accessToken, before.accessToken);
    EXPECT_NE(store.session()->refreshToken, before.refreshToken);
    EXPECT_EQ(store.state(), ConnectionState::connected(QStringLiteral("demo-client")));
    EXPECT_EQ(store.presets(), presets);
    EXPECT_EQ(log.lines(), QStringList{"token refreshed client=demo-client"});
    EXPECT_FALSE(store.isRefreshing());
}

TEST_F(SessionStoreTest, TwoRefreshesAtOnceSendOneRequestAndShareItsAnswer)
{
    SessionStore store;
    connectDemo(store);
    server().addFault(fault("POST", "/v1/auth/refresh", "delay", 200, 1, 200));

    auto first = store.refreshSession();
    auto second = store.refreshSession();
    EXPECT_TRUE(store.isRefreshing());
    EXPECT_TRUE(run(std::move(first)));
    EXPECT_TRUE(run(std::move(second)));

    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/refresh")).size(), 1);
    EXPECT_FALSE(store.isRefreshing());
    // A refresh after that one is a new request (rotated refresh tokens would fail otherwise).
    EXPECT_TRUE(run(store.refreshSession()));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/refresh")).size(), 2);
}

TEST_F(SessionStoreTest, TwoRefreshesAtOnceShareAFailureAndADroppedRefreshDisconnectsToo)
{
    SessionStore store;
    connectDemo(store);
    server().addFault(fault("POST", "/v1/auth/refresh", "status", 401, 1, 200));
    const LogLines log(QStringLiteral("session"));

    auto first = store.refreshSession();
    auto second = store.refreshSession();
    EXPECT_FALSE(run(std::move(first)));
    EXPECT_FALSE(run(std::move(second)));

    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/refresh")).size(), 1);
    EXPECT_EQ(store.state(), ConnectionState::disconnected());
    EXPECT_FALSE(store.session().has_value());
    ASSERT_EQ(log.lines().size(), 2);
    EXPECT_TRUE(log.lines().at(0).startsWith(QStringLiteral("refresh failed: Server error 401: ")));
    EXPECT_EQ(log.lines().at(1), QStringLiteral("disconnect"));

    // A refresh the service drops disconnects too.
    connectDemo(store);
    server().addFault(fault("POST", "/v1/auth/refresh", "close", 500, -1));
    EXPECT_FALSE(run(store.refreshSession()));
    EXPECT_EQ(store.state(), ConnectionState::disconnected());
}

TEST_F(SessionStoreTest, ADisconnectDuringARefreshDiscardsTheNewSession)
{
    SessionStore store;
    connectDemo(store);
    server().addFault(fault("POST", "/v1/auth/refresh", "delay", 200, 1, 300));
    const LogLines log(QStringLiteral("session"));

    auto refreshing = store.refreshSession();
    ASSERT_TRUE(waitForRequests(QStringLiteral("/v1/auth/refresh")));
    store.disconnect();

    EXPECT_FALSE(run(std::move(refreshing)));
    EXPECT_FALSE(store.session().has_value());
    EXPECT_EQ(store.state(), ConnectionState::disconnected());
    EXPECT_EQ(log.lines(), QStringList{"disconnect"});
}

TEST_F(SessionStoreTest, ARefreshWithoutASessionOrRefreshTokenSendsNothing)
{
    SessionStore store;
    EXPECT_FALSE(run(store.refreshSession()));

    // A page session can come without a refresh token.
    const QJsonObject real = activateOutside(server().demoKey());
    QJsonObject record = webRecordOf(real);
    record[QStringLiteral("refresh_token")] = QString();
    run(store.adoptWebSession(recordText(record)));
    ASSERT_TRUE(store.session().has_value());
    ASSERT_TRUE(store.session()->refreshToken.isEmpty());
    server().clearRequests();

    EXPECT_FALSE(run(store.refreshSession()));
    EXPECT_TRUE(requestsTo(QStringLiteral("/v1/auth/refresh")).isEmpty());
    EXPECT_FALSE(store.isRefreshing());
    EXPECT_TRUE(store.state().isConnected()); // nothing else changed
}

TEST_F(SessionStoreTest, ARefreshFailingAfterTheUserReconnectedLeavesTheNewSession)
{
    SessionStore store;
    connectDemo(store);
    server().addFault(fault("POST", "/v1/auth/refresh", "status", 401, 1, 400));

    auto refreshing = store.refreshSession();
    ASSERT_TRUE(waitForRequests(QStringLiteral("/v1/auth/refresh")));
    run(store.connect(server().demoKey()));
    ASSERT_TRUE(store.state().isConnected());
    const Session reconnected = *store.session();

    EXPECT_TRUE(run(std::move(refreshing))); // the store holds a session: the new one
    EXPECT_EQ(store.state(), ConnectionState::connected(QStringLiteral("demo-client")));
    ASSERT_TRUE(store.session().has_value());
    EXPECT_EQ(store.session()->accessToken, reconnected.accessToken);
}

TEST_F(SessionStoreTest, ARefreshFailingWhileTheUserReconnectsLetsTheReconnectFinish)
{
    SessionStore store;
    connectDemo(store);
    server().addFault(fault("POST", "/v1/auth/activate", "delay", 200, 1, 400));
    server().addFault(fault("POST", "/v1/auth/refresh", "status", 401, 1, 0));

    auto reconnecting = store.connect(server().demoKey());
    ASSERT_TRUE(waitForRequests(QStringLiteral("/v1/auth/activate")));
    // The old session is still held, but its tokens are dead: no caller may use them again.
    EXPECT_FALSE(run(store.refreshSession()));
    run(std::move(reconnecting));

    EXPECT_EQ(store.state(), ConnectionState::connected(QStringLiteral("demo-client")));
    EXPECT_TRUE(store.session().has_value());
}

TEST_F(SessionStoreTest, ARefreshOfAReplacedSessionIsNotJoined)
{
    SessionStore store;
    connectDemo(store);
    server().addFault(fault("POST", "/v1/auth/refresh", "delay", 200, 1, 400));
    auto old = store.refreshSession();
    ASSERT_TRUE(waitForRequests(QStringLiteral("/v1/auth/refresh")));
    run(store.connect(secondKey));
    const Session reconnected = *store.session();

    // The new session needs its own refresh; the old one's answer would not be about it.
    EXPECT_TRUE(run(store.refreshSession()));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/refresh")).size(), 2);
    EXPECT_NE(store.session()->accessToken, reconnected.accessToken);
    const Session refreshed = *store.session();
    EXPECT_EQ(refreshed.clientId, reconnected.clientId);

    EXPECT_TRUE(run(std::move(old)));
    EXPECT_EQ(store.session()->accessToken, refreshed.accessToken);
    EXPECT_FALSE(store.isRefreshing());
}

TEST_F(SessionStoreTest, TheStoreMayGoAwayWhileAConnectOrARefreshIsInFlight)
{
    server().addFault(fault("POST", "/v1/auth/activate", "delay", 200, 1, 200));
    auto store = std::make_unique<SessionStore>();
    auto connecting = store->connect(server().demoKey());
    store.reset();
    run(std::move(connecting)); // ends quietly

    store = std::make_unique<SessionStore>();
    connectDemo(*store);
    server().addFault(fault("POST", "/v1/auth/refresh", "delay", 200, 1, 200));
    auto first = store->refreshSession();
    auto second = store->refreshSession();
    store.reset();
    EXPECT_FALSE(run(std::move(first)));
    EXPECT_FALSE(run(std::move(second)));
}

// ---------------------------------------------------------------------------------------------
// the web page's session

TEST_F(SessionStoreTest, TheWebPayloadHoldsTheFourPageMembersAndNoSessionId)
{
    SessionStore store;
    EXPECT_FALSE(store.webSessionPayload().has_value());
    connectDemo(store);
    const std::optional<QString> payload = store.webSessionPayload();
    ASSERT_TRUE(payload.has_value());
    const QJsonObject record = QJsonDocument::fromJson(payload->toUtf8()).object();
    EXPECT_EQ(record.keys(), (QStringList{"access_token", "client_id", "installation_id", "refresh_token"}));
    EXPECT_EQ(record.value("access_token").toString(), store.session()->accessToken);
    EXPECT_EQ(record.value("refresh_token").toString(), store.session()->refreshToken);
    EXPECT_EQ(record.value("installation_id").toString(), store.session()->installationId);
    EXPECT_EQ(record.value("client_id").toString(), store.session()->clientId);
    // It reads back as the same session, without the session id.
    const std::optional<Session> back = SessionStore::parseWebSession(*payload);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->accessToken, store.session()->accessToken);
    EXPECT_TRUE(back->sessionId.isEmpty());
}

TEST_F(SessionStoreTest, ParseWebSessionTakesStringsOnlyAndNeedsOneToken)
{
    struct Case {
        const char *raw;
        bool parses;
        const char *access;
        const char *refresh;
        const char *client;
    };
    const Case cases[] = {
        {"", false, "", "", ""},
        {" \n\t ", false, "", "", ""},
        {"not json", false, "", "", ""},
        {"[1,2]", false, "", "", ""},
        {"\"a string\"", false, "", "", ""},
        {"{}", false, "", "", ""},
        {R"({"access_token":"","refresh_token":""})", false, "", "", ""},
        {R"({"access_token":5,"refresh_token":null})", false, "", "", ""},
        {R"({"access_token":"a"})", true, "a", "", ""},
        {R"({"refresh_token":"r","client_id":7})", true, "", "r", ""},
        {R"( {"access_token":"a","refresh_token":"r","client_id":"c","session_id":"s"} )", true, "a", "r", "c"},
        {R"({"access_token":"ä€","refresh_token":"r"})", true, "ä€", "r", ""},
    };
    for (const Case &c : cases) {
        const std::optional<Session> parsed = SessionStore::parseWebSession(QString::fromUtf8(c.raw));
        ASSERT_EQ(parsed.has_value(), c.parses) << c.raw;
        if (!parsed)
            continue;
        EXPECT_EQ(parsed->accessToken, QString::fromUtf8(c.access)) << c.raw;
        EXPECT_EQ(parsed->refreshToken, QString::fromUtf8(c.refresh)) << c.raw;
        EXPECT_EQ(parsed->clientId, QString::fromUtf8(c.client)) << c.raw;
        EXPECT_TRUE(parsed->sessionId.isEmpty()) << c.raw;
    }
}

TEST_F(SessionStoreTest, AnAdoptedPageSessionIsCheckedAndHasNoSessionId)
{
    const QJsonObject real = activateOutside(secondKey);
    SessionStore store;
    const LogLines log(QStringLiteral("session"));
    const QJsonObject notice{{QStringLiteral("v"), recordText(webRecordOf(real))}, {QStringLiteral("p"), QString()}};

    run(store.handleWebUpdate(noticeText(notice)));

    const QString client = real.value(QStringLiteral("client_id")).toString();
    EXPECT_EQ(store.state(), ConnectionState::connected(client));
    ASSERT_TRUE(store.session().has_value());
    EXPECT_TRUE(store.session()->sessionId.isEmpty());
    EXPECT_EQ(store.session()->accessToken, real.value(QStringLiteral("access_token")).toString());
    EXPECT_EQ(store.session()->installationId, real.value(QStringLiteral("installation_id")).toString());
    EXPECT_FALSE(store.presets().isEmpty());
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("adopting web session client=") + client});

    // A plain record is adopted too, and a preset list that cannot be had leaves it connected.
    const QJsonObject other = activateOutside(server().demoKey());
    server().addFault(fault("GET", "/v1/presets", "status", 503));
    run(store.handleWebUpdate(recordText(webRecordOf(other))));
    EXPECT_EQ(store.state(), ConnectionState::connected(QStringLiteral("demo-client")));
    EXPECT_TRUE(store.scriptsUnavailable());
}

TEST_F(SessionStoreTest, ARejectedPageSessionLeavesTheStoreDisconnected)
{
    SessionStore store;
    connectDemo(store);
    const LogLines log(QStringLiteral("session"));
    const QJsonObject forged{{QStringLiteral("access_token"), QStringLiteral("at_forged")},
                             {QStringLiteral("refresh_token"), QStringLiteral("rt_forged")},
                             {QStringLiteral("client_id"), QStringLiteral("someone")}};
    run(store.handleWebUpdate(recordText(forged)));
    EXPECT_EQ(store.state(), ConnectionState::disconnected());
    EXPECT_FALSE(store.session().has_value());
    EXPECT_TRUE(store.presets().isEmpty());
    EXPECT_EQ(log.lines(), (QStringList{"adopting web session client=someone", "adopted session was rejected by the server"}));
}

TEST_F(SessionStoreTest, PageNoticesAboutOtherSessionsOrOurOwnCopyChangeNothing)
{
    SessionStore store;
    connectDemo(store);
    const Session held = *store.session();
    const qint64 generation = store.generation();
    QSignalSpy sessionSpy(&store, &SessionStore::sessionChanged);
    const QJsonObject other = webRecordOf(activateOutside(server().demoKey()));
    const QVariant notices[] = {
        noticeText({{QStringLiteral("v"), QString()}, {QStringLiteral("p"), recordText(other)}}),
        noticeText({{QStringLiteral("p"), recordText(other)}}),
        noticeText({{QStringLiteral("v"), QString()}}),
        noticeText({{QStringLiteral("v"), QString()}, {QStringLiteral("p"), QString()}}),
        noticeText({{QStringLiteral("v"), 12}, {QStringLiteral("p"), 12}}),
        noticeText({{QStringLiteral("v"), QString()}, {QStringLiteral("p"), QStringLiteral("not json")}}),
        // The page's own copy of our session, plain or as a notice.
        *store.webSessionPayload(),
        noticeText({{QStringLiteral("v"), *store.webSessionPayload()}}),
        // Bodies that are not text.
        QVariant(), QVariant(QString()), QVariant(42), QVariant(QVariantMap{{QStringLiteral("v"), QString()}}),
        QVariant(QByteArray("garbage")),
    };
    server().clearRequests();
    const LogLines log(QStringLiteral("session"));
    for (const QVariant &notice : notices) {
        SCOPED_TRACE(notice.toString().toStdString());
        run(store.handleWebUpdate(notice));
        ASSERT_TRUE(store.state().isConnected());
        EXPECT_EQ(store.session()->sessionId, held.sessionId); // not replaced by the page's copy
    }
    EXPECT_EQ(store.generation(), generation);
    EXPECT_EQ(sessionSpy.count(), 0);
    EXPECT_EQ(server().requests().size(), 0);
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(SessionStoreTest, ThePageSigningOutOfOurSessionOrAnUnparsableRecordDisconnects)
{
    for (const char *body : {"", "garbage", "{broken", "{}", "[]", R"({"x":1})"}) {
        SCOPED_TRACE(body);
        SessionStore store;
        connectDemo(store);
        const QString notice = *body ? QString::fromUtf8(body)
                                     : noticeText({{QStringLiteral("v"), QString()}, {QStringLiteral("p"), *store.webSessionPayload()}});
        server().clearRequests();
        run(store.handleWebUpdate(notice));
        EXPECT_EQ(store.state(), ConnectionState::disconnected());
        EXPECT_FALSE(store.session().has_value());
        EXPECT_EQ(server().requests().size(), 0);
    }
}

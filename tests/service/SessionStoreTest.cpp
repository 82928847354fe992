#include "tests/service/SessionTestSupport.h"

#include "service/PresetsPayload.h"

#include <QSignalSpy>

#include <functional>

using namespace vorlik;
using namespace vorlik::service;
using namespace vorlik::test;

namespace {

const QString rejected = QStringLiteral("The server rejected this session — check your client key.");

QString recordText(const QJsonObject &record) { return QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact)); }

QJsonObject webRecordOf(const QJsonObject &session)
{
    QJsonObject record;
    for (const char *key : {"access_token", "refresh_token", "installation_id", "client_id"})
        record.insert(QLatin1String(key), session.value(QLatin1String(key)));
    return record;
}

// The state, whether a session is held, and whether the preset list is empty.
std::tuple<ConnectionState, bool, bool> holding(const SessionStore &store)
{
    return {store.state(), store.session().has_value(), store.presets().isEmpty()};
}
const std::tuple emptyStore(ConnectionState::disconnected(), false, true);

using SessionStoreTest = SessionTest;

} // namespace

TEST_F(SessionStoreTest, ConnectWithTheDemoKeyHoldsTheSessionAndTheServicesPresetsUntilADisconnect)
{
    SessionStore store;
    QSignalSpy stateSpy(&store, &SessionStore::stateChanged);
    QSignalSpy presetsSpy(&store, &SessionStore::presetsChanged);
    const LogLines log(QStringLiteral("session"));

    run(store.connect(server().demoKey()));

    EXPECT_EQ(store.state(), ConnectionState::connected(QStringLiteral("demo-client")));
    ASSERT_TRUE(store.session().has_value());
    EXPECT_EQ(std::tuple(store.session()->clientId, store.session()->sessionId.isEmpty()), std::tuple(QStringLiteral("demo-client"), false));
    EXPECT_FALSE(store.scriptsUnavailable());
    const auto served = server().call("GET", QStringLiteral("/v1/presets"), {}, store.session()->accessToken).second;
    EXPECT_EQ(store.presets(), PresetsPayload::fromJSON(served).presets);
    EXPECT_FALSE(store.presets().isEmpty());
    EXPECT_EQ(std::tuple(stateSpy.count(), presetsSpy.count()), std::tuple(2, 1)); // connecting, connected; one list
    EXPECT_EQ(log.lines(), (QStringList{"connect requested", "activated client=demo-client"}));
    EXPECT_EQ(bearerOf(requestsTo(QStringLiteral("/v1/presets")).value(0)), store.session()->accessToken);

    // A disconnect clears the session and calls nothing.
    server().clearRequests();
    const qint64 before = store.generation();
    store.disconnect();
    EXPECT_EQ(holding(store), emptyStore);
    EXPECT_EQ(store.generation(), before + 1);
    EXPECT_EQ(server().requests().size(), 0);
}

TEST_F(SessionStoreTest, AFailedConnectOrPresetCheckSaysWhyAndARejectedTokenDropsTheSessionButAMissingListOnlyTheScripts)
{
    {
        SessionStore store;
        const LogLines log(QStringLiteral("session"));
        run(store.connect(QStringLiteral(" \t ")));
        EXPECT_EQ(store.state(), ConnectionState::failed(QStringLiteral("Enter your client key first.")));
        EXPECT_EQ(server().requests().size(), 0);
        EXPECT_EQ(log.lines(), (QStringList{"connect requested", "connect failed: empty key"}));
    }
    const std::tuple<QString, QJsonObject, const char *> cases[] = {
        {QStringLiteral("vk_not_a_known_key"), {}, "Server error 401: "},
        // The service knows no key with a leading space: the store did not trim it.
        {QStringLiteral(" ") + server().demoKey(), {}, "Server error 401: "},
        {server().demoKey(), fault("POST", "/v1/auth/activate", "close", 500, -1), ""}, // Qt's own text
    };
    for (const auto &[key, failure, message] : cases) {
        SCOPED_TRACE(key.toStdString());
        SessionStore store;
        connectDemo(store);
        server().reset();
        if (!failure.isEmpty())
            server().addFault(failure);
        const LogLines log(QStringLiteral("session"));
        run(store.connect(key));
        ASSERT_EQ(store.state().kind, ConnectionState::Case::failed);
        EXPECT_FALSE(store.state().message.isEmpty());
        EXPECT_EQ(store.state().message.startsWith(QStringLiteral("Server error")), *message != 0) << store.state().message.toStdString();
        EXPECT_TRUE(store.state().message.startsWith(QString::fromUtf8(message)));
        EXPECT_EQ(std::tuple(store.session().has_value(), store.presets().isEmpty()), std::tuple(false, true));
        EXPECT_EQ(log.lines().last(), QStringLiteral("connect failed: ") + store.state().message);
        EXPECT_TRUE(requestsTo(QStringLiteral("/v1/presets")).isEmpty());
    }

    // A rejected token ends without a session; a list that cannot be had leaves the user
    // connected without scripts until a good one comes.
    const std::pair<QJsonObject, bool> checks[] = {
        {fault("GET", "/v1/presets", "status", 401), true}, {fault("GET", "/v1/presets", "status", 403), true},
        {fault("GET", "/v1/presets", "status", 500), false}, {fault("GET", "/v1/presets", "status", 404), false},
        {fault("GET", "/v1/presets", "malformed"), false}, {fault("GET", "/v1/presets", "non_utf8", 200), false},
        // Qt sends a request once more when the connection drops; every attempt is dropped.
        {fault("GET", "/v1/presets", "close", 500, -1), false},
    };
    for (const auto &[failure, rejects] : checks) {
        SCOPED_TRACE(recordText(failure).toStdString());
        server().reset();
        server().addFault(failure);
        SessionStore store;
        store.setPresets({Preset{.id = QStringLiteral("left-over")}});
        const LogLines log(QStringLiteral("session"));
        run(store.connect(server().demoKey()));
        EXPECT_TRUE(store.presets().isEmpty());
        if (rejects) {
            EXPECT_EQ(std::tuple(store.state(), store.session().has_value(), store.scriptsUnavailable()),
                      std::tuple(ConnectionState::failed(rejected), false, false));
            EXPECT_EQ(log.lines().last(), QStringLiteral("connect failed: server rejected the token"));
            continue;
        }
        EXPECT_EQ(std::tuple(store.state(), store.session().has_value(), store.scriptsUnavailable()),
                  std::tuple(ConnectionState::connected(QStringLiteral("demo-client")), true, true));
        EXPECT_TRUE(log.lines().contains(QStringLiteral("connected but preset service unavailable")));
        server().clearFaults();
        run(store.connect(server().demoKey()));
        EXPECT_FALSE(store.scriptsUnavailable() || store.presets().isEmpty());
    }
}

TEST_F(SessionStoreTest, ADisconnectWhileASessionIsBeingHadOrRefreshedLeavesTheStoreEmptyAndOfTwoOverlappingConnectsTheLaterWins)
{
    const QString adoptable = recordText(webRecordOf(activateOutside(server().demoKey())));
    const auto connect = [](SessionStore &store) { return store.connect(sessionServer().demoKey()); };
    const auto refresh = [](SessionStore &store) -> QCoro::Task<void> {
        connectDemo(store);
        EXPECT_FALSE(co_await store.refreshSession());
    };
    const std::tuple<const char *, QString, std::function<QCoro::Task<void>(SessionStore &)>> cases[] = {
        {"POST", QStringLiteral("/v1/auth/activate"), connect}, {"GET", QStringLiteral("/v1/presets"), connect},
        {"GET", QStringLiteral("/v1/presets"), [&](SessionStore &store) { return store.adoptWebSession(adoptable); }},
        {"POST", QStringLiteral("/v1/auth/refresh"), refresh},
    };
    for (const auto &[method, heldPath, start] : cases) {
        SCOPED_TRACE(heldPath.toStdString());
        server().reset();
        SessionStore store;
        server().addFault(fault(method, heldPath, "delay", 200, 1, 300));
        auto starting = start(store);
        ASSERT_TRUE(waitForRequests(heldPath));
        const LogLines log(QStringLiteral("session"));
        store.disconnect();
        run(std::move(starting));
        // The late answer belongs to a session the user let go.
        EXPECT_EQ(holding(store), emptyStore);
        EXPECT_FALSE(store.scriptsUnavailable());
        EXPECT_EQ(log.lines(), QStringList{"disconnect"});
        if (heldPath.endsWith(QStringLiteral("activate"))) {
            EXPECT_TRUE(requestsTo(QStringLiteral("/v1/presets")).isEmpty());
        }
    }

    // The first connect's key exchange, or its preset check, is held back while a second connect
    // (another client) completes: the session of the later activation is the one held.
    for (const bool presetCheckHeld : {false, true}) {
        SCOPED_TRACE(presetCheckHeld);
        server().reset();
        const QString held = presetCheckHeld ? QStringLiteral("/v1/presets") : QStringLiteral("/v1/auth/activate");
        server().addFault(fault(presetCheckHeld ? "GET" : "POST", held, "delay", 200, 1, 400));
        SessionStore store;
        auto first = store.connect(server().demoKey());
        ASSERT_TRUE(waitForRequests(held));
        run(store.connect(secondKey));
        const ConnectionState second = store.state();
        ASSERT_TRUE(second.isConnected());
        EXPECT_NE(second.clientId, QStringLiteral("demo-client"));
        run(std::move(first));
        const QString winner = presetCheckHeld ? second.clientId : QStringLiteral("demo-client");
        EXPECT_EQ(store.state(), ConnectionState::connected(winner));
        ASSERT_TRUE(store.session().has_value());
        EXPECT_EQ(store.session()->clientId, winner);
    }
}

TEST_F(SessionStoreTest, TwoRefreshesAtOnceSendOneRequestAndShareItsNewTokensOrItsFailure)
{
    SessionStore store;
    connectDemo(store);
    const Session before = *store.session();
    const QList<Preset> presets = store.presets();
    server().addFault(fault("POST", "/v1/auth/refresh", "delay", 200, 1, 200));
    const LogLines log(QStringLiteral("session"));
    auto first = store.refreshSession();
    auto second = store.refreshSession();
    EXPECT_TRUE(store.isRefreshing());
    EXPECT_TRUE(run(std::move(first)));
    EXPECT_TRUE(run(std::move(second)));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/refresh")).size(), 1);
    EXPECT_FALSE(store.isRefreshing());
    EXPECT_NE(store.session()->accessToken, before.accessToken);
    EXPECT_NE(store.session()->refreshToken, before.refreshToken);
    EXPECT_EQ(std::tuple(store.state(), store.presets()), std::tuple(ConnectionState::connected(QStringLiteral("demo-client")), presets));
    EXPECT_EQ(log.lines(), QStringList{"token refreshed client=demo-client"});
    // A refresh after that one is a new request (rotated refresh tokens would fail otherwise).
    EXPECT_TRUE(run(store.refreshSession()));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/refresh")).size(), 2);

    server().clearRequests();
    server().addFault(fault("POST", "/v1/auth/refresh", "status", 401, 1, 200));
    const LogLines failure(QStringLiteral("session"));
    auto third = store.refreshSession();
    auto fourth = store.refreshSession();
    EXPECT_FALSE(run(std::move(third)));
    EXPECT_FALSE(run(std::move(fourth)));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/refresh")).size(), 1);
    EXPECT_EQ(holding(store), emptyStore);
    ASSERT_EQ(failure.lines().size(), 2);
    EXPECT_TRUE(failure.lines().at(0).startsWith(QStringLiteral("refresh failed: Server error 401: ")));
    EXPECT_EQ(failure.lines().at(1), QStringLiteral("disconnect"));

    // A dropped refresh disconnects too.
    connectDemo(store);
    server().addFault(fault("POST", "/v1/auth/refresh", "close", 500, -1));
    EXPECT_FALSE(run(store.refreshSession()));
    EXPECT_EQ(store.state(), ConnectionState::disconnected());
}

TEST_F(SessionStoreTest, ARefreshFailingAfterOrWhileTheUserReconnectsLeavesTheNewSessionAndIsNotJoinedByItsRefresh)
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
    EXPECT_EQ(store.session()->accessToken, reconnected.accessToken);

    server().reset();
    server().addFault(fault("POST", "/v1/auth/activate", "delay", 200, 1, 400));
    server().addFault(fault("POST", "/v1/auth/refresh", "status", 401, 1, 0));
    auto reconnecting = store.connect(server().demoKey());
    ASSERT_TRUE(waitForRequests(QStringLiteral("/v1/auth/activate")));
    // The old session is still held, but its tokens are dead: no caller may use them again.
    EXPECT_FALSE(run(store.refreshSession()));
    run(std::move(reconnecting));
    EXPECT_EQ(std::tuple(store.state(), store.session().has_value()),
              std::tuple(ConnectionState::connected(QStringLiteral("demo-client")), true));

    // A refresh of a session replaced meanwhile is not joined: the new session needs its own
    // refresh, as the old one's answer would not be about it.
    server().reset();
    server().addFault(fault("POST", "/v1/auth/refresh", "delay", 200, 1, 400));
    auto old = store.refreshSession();
    ASSERT_TRUE(waitForRequests(QStringLiteral("/v1/auth/refresh")));
    run(store.connect(secondKey));
    const Session replacement = *store.session();
    EXPECT_TRUE(run(store.refreshSession()));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/refresh")).size(), 2);
    EXPECT_NE(store.session()->accessToken, replacement.accessToken);
    const Session refreshed = *store.session();
    EXPECT_EQ(refreshed.clientId, replacement.clientId);

    EXPECT_TRUE(run(std::move(old)));
    EXPECT_EQ(store.session()->accessToken, refreshed.accessToken);
    EXPECT_FALSE(store.isRefreshing());
}

TEST_F(SessionStoreTest, TheStoreMayGoAwayWhileAConnectARefreshOrARetryPassIsInFlight)
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

    store = std::make_unique<SessionStore>();
    connectDemo(*store);
    server().addFault(fault("POST", "/v1/usage/convert", "status", 500));
    ASSERT_FALSE(run(store->reportUsage(store->session()->accessToken, QStringLiteral("p"), 1, 10, QStringLiteral("a.wav"))));
    server().addFault(fault("POST", "/v1/usage/convert", "delay", 200, 1, 200));
    auto pass = store->retryPendingUsage();
    store.reset();
    run(std::move(pass));
}

TEST_F(SessionStoreTest, APageRecordReadsBackWithoutASessionIdIsAdoptedWhenTheServiceTakesItAndDisconnectsWhenNot)
{
    EXPECT_FALSE(SessionStore().webSessionPayload().has_value());
    // Strings only, at least one token; never a session id. Empty: no session.
    const std::pair<const char *, QStringList> cases[] = {
        {"", {}}, {" \n\t ", {}}, {"not json", {}}, {"[1,2]", {}}, {"\"a string\"", {}}, {"{}", {}},
        {R"({"access_token":"","refresh_token":""})", {}}, {R"({"access_token":5,"refresh_token":null})", {}},
        {R"({"access_token":"a"})", {"a", "", "", ""}},
        {R"({"refresh_token":"r","client_id":7})", {"", "r", "", ""}},
        {R"( {"access_token":"a","refresh_token":"r","client_id":"c","session_id":"s"} )", {"a", "r", "c", ""}},
        {R"({"access_token":"ä€","refresh_token":"r"})", {"ä€", "r", "", ""}},
    };
    for (const auto &[raw, members] : cases) {
        const std::optional<Session> parsed = SessionStore::parseWebSession(QString::fromUtf8(raw));
        const QStringList found = parsed ? QStringList{parsed->accessToken, parsed->refreshToken, parsed->clientId, parsed->sessionId} : QStringList();
        EXPECT_EQ(found, members) << raw;
    }

    // A preset list that cannot be had leaves the adopted session connected.
    const QJsonObject real = activateOutside(secondKey);
    SessionStore store;
    server().addFault(fault("GET", "/v1/presets", "status", 503));
    run(store.handleWebUpdate(recordText(webRecordOf(real))));
    EXPECT_EQ(store.state(), ConnectionState::connected(real.value(QStringLiteral("client_id")).toString()));
    ASSERT_TRUE(store.session().has_value());
    EXPECT_EQ(store.session()->installationId, real.value(QStringLiteral("installation_id")).toString());
    EXPECT_TRUE(store.scriptsUnavailable());

    const LogLines rejection(QStringLiteral("session"));
    run(store.handleWebUpdate(recordText({{"access_token", "at_forged"}, {"refresh_token", "rt_forged"}, {"client_id", "someone"}})));
    EXPECT_EQ(holding(store), emptyStore);
    EXPECT_EQ(rejection.lines(), (QStringList{"adopting web session client=someone", "adopted session was rejected by the server"}));

    // Without a session, or with a page session without a refresh token, a refresh sends nothing.
    EXPECT_FALSE(run(store.refreshSession()));
    QJsonObject record = webRecordOf(activateOutside(server().demoKey()));
    record[QStringLiteral("refresh_token")] = QString();
    run(store.adoptWebSession(recordText(record)));
    ASSERT_TRUE(store.state().isConnected());
    server().clearRequests();
    EXPECT_FALSE(run(store.refreshSession()));
    EXPECT_TRUE(requestsTo(QStringLiteral("/v1/auth/refresh")).isEmpty());
    EXPECT_FALSE(store.isRefreshing());
    EXPECT_TRUE(store.state().isConnected()); // nothing else changed
}

TEST_F(SessionStoreTest, PageNoticesAboutOtherSessionsOrOurOwnCopyChangeNothingAndSigningOutOfOursDisconnects)
{
    SessionStore store;
    connectDemo(store);
    const Session held = *store.session();
    const qint64 generation = store.generation();
    QSignalSpy sessionSpy(&store, &SessionStore::sessionChanged);
    const QString other = recordText(webRecordOf(activateOutside(server().demoKey())));
    const QVariant notices[] = {
        recordText({{"v", QString()}, {"p", other}}), recordText({{"p", other}}), recordText({{"v", QString()}}),
        recordText({{"v", QString()}, {"p", QString()}}), recordText({{"v", 12}, {"p", 12}}),
        recordText({{"v", QString()}, {"p", "not json"}}),
        // The page's own copy of our session, plain or as a notice.
        *store.webSessionPayload(), recordText({{"v", *store.webSessionPayload()}}),
        // Bodies that are not text.
        QVariant(), QVariant(QString()), QVariant(42), QVariant(QVariantMap{{"v", QString()}}), QVariant(QByteArray("garbage")),
    };
    server().clearRequests();
    const LogLines log(QStringLiteral("session"));
    for (const QVariant &notice : notices) {
        SCOPED_TRACE(notice.toString().toStdString());
        run(store.handleWebUpdate(notice));
        ASSERT_TRUE(store.state().isConnected());
        EXPECT_EQ(store.session()->sessionId, held.sessionId); // not replaced by the page's copy
    }
    EXPECT_EQ(std::tuple(store.generation(), sessionSpy.count(), server().requests().size(), log.lines()),
              std::tuple(generation, 0, qsizetype(0), QStringList()));

    // The page signing out of our session ("" below), or a record that cannot be read, disconnects.
    for (const char *body : {"", "garbage", "{broken", "{}", "[]", R"({"x":1})"}) {
        SCOPED_TRACE(body);
        connectDemo(store);
        const QString notice = *body ? QString::fromUtf8(body) : recordText({{"v", QString()}, {"p", *store.webSessionPayload()}});
        server().clearRequests();
        run(store.handleWebUpdate(notice));
        EXPECT_EQ(holding(store), emptyStore);
        EXPECT_EQ(server().requests().size(), 0);
    }
}

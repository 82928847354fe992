// Usage reports against the real stand-in service: what it counted is compared with what the
// client believes (true returns, the queue), through rejections, refreshes, failures and
// retry passes that overlap new reports.
#include "tests/service/SessionTestSupport.h"

using namespace vorlik;
using namespace vorlik::service;
using namespace vorlik::test;

namespace {

const QString usagePath = QStringLiteral("/v1/usage/convert");

class UsageReportingTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        m_startTotal = usageTotal();
    }

    // How many reports the service counted since the test began.
    qint64 counted() const { return usageTotal() - m_startTotal; }

    // The reports the service kept since the test began, newest last.
    QJsonArray reportsKept() const
    {
        const QJsonArray all = server().usage().value(QStringLiteral("reports")).toArray();
        QJsonArray recent;
        for (qsizetype index = all.size() - counted(); index < all.size(); ++index)
            recent.append(all.at(index));
        return recent;
    }

    static bool report(SessionStore &store, const PendingUsage &usage)
    {
        return run(store.reportUsage(usage.token, usage.processKey, usage.fileCount, usage.inputBytes, usage.filename));
    }

    qint64 m_startTotal = 0;
};

PendingUsage usageWith(const QString &token, const QString &filename, qint64 bytes = 1000)
{
    return PendingUsage{token, QStringLiteral("normalise-audio"), 1, bytes, filename};
}

} // namespace

TEST_F(UsageReportingTest, AnAcceptedReportReturnsTrueAndLeavesTheQueueAlone)
{
    SessionStore store;
    connectDemo(store);
    const LogLines log(QStringLiteral("usage"));
    const PendingUsage usage{store.session()->accessToken, QStringLiteral("mp3-320"), 3, 9876543210,
                             QStringLiteral("Größe \"live\".wav")};

    EXPECT_TRUE(report(store, usage));

    EXPECT_EQ(store.pendingUsageCount(), 0);
    EXPECT_TRUE(log.lines().isEmpty());
    ASSERT_EQ(counted(), 1);
    const QJsonObject kept = reportsKept().at(0).toObject();
    EXPECT_EQ(kept.value("process_key").toString(), usage.processKey);
    EXPECT_EQ(kept.value("file_count").toInteger(), 3);
    EXPECT_EQ(kept.value("input_bytes").toInteger(), 9876543210);
    EXPECT_EQ(kept.value("filename").toString(), usage.filename);
    EXPECT_EQ(kept.value("client_id").toString(), QStringLiteral("demo-client"));
    EXPECT_EQ(bearerOf(requestsTo(usagePath).at(0)), usage.token);

    // With nothing queued a retry pass sends and logs nothing.
    server().clearRequests();
    run(store.retryPendingUsage());
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_TRUE(requestsTo(usagePath).isEmpty());
}

TEST_F(UsageReportingTest, AServerErrorOrADroppedConnectionQueuesTheReport)
{
    SessionStore store;
    connectDemo(store);
    // Qt sends a request once more when the connection drops; every attempt is dropped.
    for (const QJsonObject &failure : {fault("POST", usagePath, "status", 500), fault("POST", usagePath, "close", 500, -1)}) {
        SCOPED_TRACE(failure.value("action").toString().toStdString());
        server().reset();
        const LogLines log(QStringLiteral("usage"));
        server().addFault(failure);
        const PendingUsage usage = usageWith(store.session()->accessToken, failure.value("action").toString());
        EXPECT_FALSE(report(store, usage));
        EXPECT_TRUE(store.pendingUsage().contains(usage));
        EXPECT_EQ(log.lines(), QStringList{QStringLiteral("queued retry (pending=%1)").arg(store.pendingUsageCount())});
        EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/refresh")).size(), 0); // only 401/403 refresh
    }
    EXPECT_EQ(store.pendingUsageCount(), 2);
    EXPECT_EQ(counted(), 0);
}

TEST_F(UsageReportingTest, AnExpiredTokenOr403IsRefreshedOnceAndTheReportSentAgain)
{
    SessionStore store;
    connectDemo(store);
    const QString oldToken = store.session()->accessToken;
    server().expireTokens();
    const LogLines usageLog(QStringLiteral("usage"));
    const LogLines sessionLog(QStringLiteral("session"));

    EXPECT_TRUE(report(store, usageWith(oldToken, QStringLiteral("a.wav"))));

    EXPECT_EQ(store.pendingUsageCount(), 0);
    EXPECT_EQ(counted(), 1);
    const QList<QJsonObject> posts = requestsTo(usagePath);
    ASSERT_EQ(posts.size(), 2);
    EXPECT_EQ(bearerOf(posts.at(0)), oldToken);
    EXPECT_EQ(bearerOf(posts.at(1)), store.session()->accessToken);
    EXPECT_NE(store.session()->accessToken, oldToken);
    EXPECT_EQ(usageLog.lines(), QStringList{"report got 401 — attempting one refresh"});
    EXPECT_EQ(sessionLog.lines(), QStringList{"token refreshed client=demo-client"});
    EXPECT_TRUE(store.state().isConnected());

    // A 403 is refreshed too.
    server().addFault(fault("POST", usagePath, "status", 403));
    const LogLines forbidden(QStringLiteral("usage"));
    EXPECT_TRUE(report(store, usageWith(store.session()->accessToken, QStringLiteral("b.wav"))));
    EXPECT_EQ(forbidden.lines(), QStringList{"report got 403 — attempting one refresh"});
    EXPECT_EQ(counted(), 2);
}

TEST_F(UsageReportingTest, ARejectionWithAFailedRefreshQueuesAndDisconnects)
{
    SessionStore store;
    connectDemo(store);
    const QString token = store.session()->accessToken;
    server().addFault(fault("POST", usagePath, "status", 401));
    server().addFault(fault("POST", QStringLiteral("/v1/auth/refresh"), "status", 401));
    const LogLines log(QStringLiteral("usage"));

    EXPECT_FALSE(report(store, usageWith(token, QStringLiteral("a.wav"))));

    EXPECT_EQ(store.state(), ConnectionState::disconnected());
    EXPECT_FALSE(store.session().has_value());
    ASSERT_EQ(store.pendingUsageCount(), 1);
    EXPECT_EQ(store.pendingUsage().at(0).token, token);
    EXPECT_EQ(log.lines(), (QStringList{"report got 401 — attempting one refresh", "queued retry (pending=1)"}));
    EXPECT_EQ(requestsTo(usagePath).size(), 1);
    EXPECT_EQ(counted(), 0);
}

TEST_F(UsageReportingTest, ARejectionWithoutASessionQueuesWithoutARefreshRequest)
{
    SessionStore store;
    const LogLines log(QStringLiteral("usage"));
    EXPECT_FALSE(report(store, usageWith(QStringLiteral("at_unknown"), QStringLiteral("a.wav"))));
    EXPECT_EQ(store.pendingUsageCount(), 1);
    EXPECT_TRUE(requestsTo(QStringLiteral("/v1/auth/refresh")).isEmpty());
    EXPECT_EQ(log.lines(), (QStringList{"report got 401 — attempting one refresh", "queued retry (pending=1)"}));
}

TEST_F(UsageReportingTest, ASecondAttemptThatFailsQueuesTheFirstToken)
{
    SessionStore store;
    connectDemo(store);
    const QString token = store.session()->accessToken;
    server().addFault(fault("POST", usagePath, "status", 401));
    server().addFault(fault("POST", usagePath, "status", 502));

    EXPECT_FALSE(report(store, usageWith(token, QStringLiteral("a.wav"))));

    ASSERT_EQ(store.pendingUsageCount(), 1);
    EXPECT_EQ(store.pendingUsage().at(0).token, token); // not the refreshed one
    EXPECT_NE(store.session()->accessToken, token);
    EXPECT_TRUE(store.state().isConnected());
    EXPECT_EQ(counted(), 0);
}

TEST_F(UsageReportingTest, TheSameReportFailingTwiceIsQueuedOnce)
{
    SessionStore store;
    connectDemo(store);
    server().addFault(fault("POST", usagePath, "status", 500, 2));
    const LogLines log(QStringLiteral("usage"));
    const PendingUsage usage = usageWith(store.session()->accessToken, QStringLiteral("a.wav"));

    EXPECT_FALSE(report(store, usage));
    EXPECT_FALSE(report(store, usage));

    EXPECT_EQ(store.pendingUsage(), QList<PendingUsage>{usage});
    EXPECT_EQ(log.lines(), (QStringList{"queued retry (pending=1)", "queued retry (pending=1)"}));
    // Reports that differ in any field are separate.
    server().addFault(fault("POST", usagePath, "status", 500, 1));
    PendingUsage other = usage;
    other.inputBytes += 1;
    EXPECT_FALSE(report(store, other));
    EXPECT_EQ(store.pendingUsageCount(), 2);
}

TEST_F(UsageReportingTest, ARetryAfterConnectSendsEachRecordWithItsOwnTokenAndKeepsTheFailures)
{
    SessionStore store;
    connectDemo(store);
    const QString token = store.session()->accessToken;
    const PendingUsage first = usageWith(token, QStringLiteral("1.wav"));
    const PendingUsage second = usageWith(QStringLiteral("at_long_gone"), QStringLiteral("2.wav"));
    const PendingUsage third = usageWith(token, QStringLiteral("3.wav"));

    server().addFault(fault("POST", usagePath, "status", 500));
    ASSERT_FALSE(report(store, first));
    store.disconnect(); // without a session the rejected one cannot be refreshed: it is queued
    ASSERT_FALSE(report(store, second));
    server().addFault(fault("POST", usagePath, "status", 500));
    ASSERT_FALSE(report(store, third));
    ASSERT_EQ(store.pendingUsage(), (QList<PendingUsage>{first, second, third}));
    server().clearRequests();
    const LogLines log(QStringLiteral("usage"));

    run(store.connect(server().demoKey()));

    EXPECT_EQ(store.pendingUsage(), QList<PendingUsage>{second});
    EXPECT_EQ(store.pendingUsageCount(), 1);
    EXPECT_EQ(log.lines(), QStringList{"retry finished (pending=1)"});
    const QList<QJsonObject> posts = requestsTo(usagePath);
    ASSERT_EQ(posts.size(), 3);
    EXPECT_EQ(bearerOf(posts.at(0)), token);
    EXPECT_EQ(bearerOf(posts.at(1)), QStringLiteral("at_long_gone"));
    EXPECT_EQ(bearerOf(posts.at(2)), token);
    EXPECT_TRUE(requestsTo(QStringLiteral("/v1/auth/refresh")).isEmpty()); // retries never refresh
    EXPECT_EQ(counted(), 2);
    const QJsonArray kept = reportsKept();
    ASSERT_EQ(kept.size(), 2);
    EXPECT_EQ(kept.at(0).toObject().value("filename").toString(), QStringLiteral("1.wav"));
    EXPECT_EQ(kept.at(1).toObject().value("filename").toString(), QStringLiteral("3.wav"));

    // The expired record keeps failing and stays.
    run(store.retryPendingUsage());
    EXPECT_EQ(store.pendingUsage(), QList<PendingUsage>{second});
    EXPECT_EQ(counted(), 2);
}

TEST_F(UsageReportingTest, AReportQueuedDuringARetryPassSurvivesIt)
{
    SessionStore store;
    connectDemo(store);
    const QString token = store.session()->accessToken;
    const PendingUsage early = usageWith(token, QStringLiteral("early.wav"));
    const PendingUsage late = usageWith(token, QStringLiteral("late.wav"));
    server().addFault(fault("POST", usagePath, "status", 500));
    ASSERT_FALSE(report(store, early));

    // The pass's request is held; the new report fails and is queued while it is held.
    server().addFault(fault("POST", usagePath, "delay", 200, 1, 600));
    server().addFault(fault("POST", usagePath, "status", 500, 1));
    auto pass = store.retryPendingUsage();
    ASSERT_TRUE(waitForRequests(usagePath, 2)); // the early failure and the pass's attempt
    EXPECT_FALSE(report(store, late));
    EXPECT_EQ(store.pendingUsage(), (QList<PendingUsage>{early, late}));
    run(std::move(pass));

    EXPECT_EQ(store.pendingUsage(), QList<PendingUsage>{late});
    EXPECT_EQ(store.pendingUsageCount(), 1);
    EXPECT_EQ(counted(), 1);
}

TEST_F(UsageReportingTest, TwoOverlappingPassesSendEachRecordOnce)
{
    SessionStore store;
    connectDemo(store);
    const PendingUsage usage = usageWith(store.session()->accessToken, QStringLiteral("once.wav"));
    server().addFault(fault("POST", usagePath, "status", 500));
    ASSERT_FALSE(report(store, usage));
    server().clearRequests();

    server().addFault(fault("POST", usagePath, "delay", 200, 1, 300));
    auto first = store.retryPendingUsage();
    ASSERT_TRUE(waitForRequests(usagePath));
    auto second = store.retryPendingUsage();
    run(std::move(second));
    run(std::move(first));

    EXPECT_EQ(requestsTo(usagePath).size(), 1);
    EXPECT_EQ(counted(), 1);
    EXPECT_TRUE(store.pendingUsage().isEmpty());
}

TEST_F(UsageReportingTest, ManyReportsThroughFailuresAreCountedExactlyOnce)
{
    // Every other report fails and is queued; a reconnect delivers the queue. In the end the
    // service's count equals the reports made, and the client holds nothing back.
    SessionStore store;
    connectDemo(store);
    int accepted = 0;
    for (int index = 0; index < 10; ++index) {
        if (index % 2 == 1)
            server().addFault(fault("POST", usagePath, "status", 503));
        if (report(store, usageWith(store.session()->accessToken, QStringLiteral("f%1.wav").arg(index))))
            ++accepted;
    }
    EXPECT_EQ(accepted, 5);
    EXPECT_EQ(store.pendingUsageCount(), 5);
    EXPECT_EQ(counted(), 5);

    run(store.connect(server().demoKey()));

    EXPECT_EQ(store.pendingUsageCount(), 0);
    EXPECT_EQ(counted(), 10);
}

TEST_F(UsageReportingTest, TheStoreMayGoAwayDuringARetryPass)
{
    auto store = std::make_unique<SessionStore>();
    connectDemo(*store);
    server().addFault(fault("POST", usagePath, "status", 500));
    ASSERT_FALSE(report(*store, usageWith(store->session()->accessToken, QStringLiteral("a.wav"))));
    server().addFault(fault("POST", usagePath, "delay", 200, 1, 200));
    auto pass = store->retryPendingUsage();
    store.reset();
    run(std::move(pass));
    SUCCEED();
}

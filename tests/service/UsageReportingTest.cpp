#include "tests/service/SessionTestSupport.h"

using namespace vorlik;
using namespace vorlik::service;
using namespace vorlik::test;

namespace {

const QString usagePath = QStringLiteral("/v1/usage/convert");
const QString refreshPath = QStringLiteral("/v1/auth/refresh");

class UsageReportingTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        connectDemo(m_store);
        m_startTotal = usageTotal();
    }

    // How many reports the service counted since the test began.
    qint64 counted() const { return usageTotal() - m_startTotal; }

    // The file names of the reports the service kept since the test began, oldest first.
    QStringList filesKept() const
    {
        const QJsonArray all = server().usage().value(QStringLiteral("reports")).toArray();
        QStringList names;
        for (qsizetype index = all.size() - counted(); index < all.size(); ++index)
            names << all.at(index).toObject().value(QStringLiteral("filename")).toString();
        return names;
    }

    bool report(const PendingUsage &usage)
    {
        return run(m_store.reportUsage(usage.token, usage.processKey, usage.fileCount, usage.inputBytes, usage.filename));
    }

    PendingUsage usage(const QString &filename, std::optional<QString> token = std::nullopt) const
    {
        return PendingUsage{token.value_or(m_store.session()->accessToken), QStringLiteral("normalise-audio"), 1, 1000, filename};
    }

    SessionStore m_store;
    qint64 m_startTotal = 0;
};

} // namespace

TEST_F(UsageReportingTest, AnAcceptedReportReturnsTrueAndLeavesTheQueueAlone)
{
    const LogLines log(QStringLiteral("usage"));
    const PendingUsage sent{m_store.session()->accessToken, QStringLiteral("mp3-320"), 3, 9876543210, QStringLiteral("Größe \"live\".wav")};

    EXPECT_TRUE(report(sent));

    EXPECT_EQ(m_store.pendingUsageCount(), 0);
    ASSERT_EQ(counted(), 1);
    const QJsonObject kept = server().usage().value(QStringLiteral("reports")).toArray().last().toObject();
    EXPECT_EQ(std::tuple(kept.value("file_count").toInteger(), kept.value("input_bytes").toInteger(), kept.value("filename").toString(),
                         kept.value("client_id").toString()), std::tuple(3, 9876543210, sent.filename, QStringLiteral("demo-client")));
    // With nothing queued a retry pass sends and logs nothing.
    server().clearRequests();
    run(m_store.retryPendingUsage());
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_TRUE(requestsTo(usagePath).isEmpty());
}

TEST_F(UsageReportingTest, AServerErrorOrADroppedConnectionQueuesTheReportOnce)
{
    // Qt sends a request once more when the connection drops; every attempt is dropped.
    for (const QJsonObject &failure : {fault("POST", usagePath, "status", 500, 2), fault("POST", usagePath, "close", 500, -1)}) {
        SCOPED_TRACE(failure.value("action").toString().toStdString());
        server().reset();
        server().addFault(failure);
        const LogLines log(QStringLiteral("usage"));
        const PendingUsage failed = usage(failure.value("action").toString());
        EXPECT_FALSE(report(failed));
        EXPECT_FALSE(report(failed));
        EXPECT_EQ(m_store.pendingUsage().count(failed), 1);
        const QString queued = QStringLiteral("queued retry (pending=%1)").arg(m_store.pendingUsageCount());
        EXPECT_EQ(log.lines(), (QStringList{queued, queued}));
        EXPECT_EQ(requestsTo(refreshPath).size(), 0); // only 401/403 refresh
    }
    // Reports that differ in any field are separate.
    server().addFault(fault("POST", usagePath, "status", 500));
    PendingUsage other = m_store.pendingUsage().last();
    other.inputBytes += 1;
    EXPECT_FALSE(report(other));
    EXPECT_EQ(std::tuple(m_store.pendingUsageCount(), counted()), std::tuple(3, qint64(0)));
}

TEST_F(UsageReportingTest, ARejectedReportIsRefreshedOnceAndSentAgainOrQueuedWithItsFirstToken)
{
    const QString oldToken = m_store.session()->accessToken;
    server().expireTokens();
    const LogLines usageLog(QStringLiteral("usage"));
    const LogLines sessionLog(QStringLiteral("session"));
    EXPECT_TRUE(report(usage(QStringLiteral("a.wav"))));
    EXPECT_EQ(std::tuple(m_store.pendingUsageCount(), counted()), std::tuple(0, qint64(1)));
    const QList<QJsonObject> posts = requestsTo(usagePath);
    ASSERT_EQ(posts.size(), 2);
    EXPECT_EQ((QStringList{bearerOf(posts.at(0)), bearerOf(posts.at(1))}), (QStringList{oldToken, m_store.session()->accessToken}));
    EXPECT_NE(m_store.session()->accessToken, oldToken);
    EXPECT_EQ(usageLog.lines(), QStringList{"report got 401 — attempting one refresh"});
    EXPECT_EQ(sessionLog.lines(), QStringList{"token refreshed client=demo-client"});

    server().addFault(fault("POST", usagePath, "status", 403));
    const LogLines forbidden(QStringLiteral("usage"));
    EXPECT_TRUE(report(usage(QStringLiteral("b.wav"))));
    EXPECT_EQ(std::tuple(forbidden.lines(), counted()), std::tuple(QStringList{"report got 403 — attempting one refresh"}, qint64(2)));

    // The second attempt fails: the report is queued with the token it was made with.
    const QString token = m_store.session()->accessToken;
    server().addFault(fault("POST", usagePath, "status", 401));
    server().addFault(fault("POST", usagePath, "status", 502));
    EXPECT_FALSE(report(usage(QStringLiteral("c.wav"))));
    ASSERT_EQ(m_store.pendingUsageCount(), 1);
    EXPECT_EQ(m_store.pendingUsage().at(0).token, token);
    EXPECT_NE(m_store.session()->accessToken, token);
    EXPECT_EQ(std::tuple(m_store.state().isConnected(), counted()), std::tuple(true, qint64(2)));

    // A rejection that cannot be refreshed queues the report too, and ends the session.
    const QString current = m_store.session()->accessToken;
    server().clearRequests();
    server().addFault(fault("POST", usagePath, "status", 401));
    server().addFault(fault("POST", refreshPath, "status", 401));
    const LogLines unrefreshed(QStringLiteral("usage"));
    EXPECT_FALSE(report(usage(QStringLiteral("d.wav"))));
    EXPECT_EQ(m_store.state(), ConnectionState::disconnected());
    ASSERT_EQ(m_store.pendingUsageCount(), 2);
    EXPECT_EQ(m_store.pendingUsage().at(1).token, current);
    EXPECT_EQ(unrefreshed.lines(), (QStringList{"report got 401 — attempting one refresh", "queued retry (pending=2)"}));
    EXPECT_EQ(std::tuple(requestsTo(usagePath).size(), counted()), std::tuple(qsizetype(1), qint64(2)));
}

TEST_F(UsageReportingTest, ARetryAfterConnectSendsEachRecordWithItsOwnTokenAndKeepsTheFailures)
{
    const QString token = m_store.session()->accessToken;
    const PendingUsage first = usage(QStringLiteral("1.wav"));
    const PendingUsage second = usage(QStringLiteral("2.wav"), QStringLiteral("at_long_gone"));
    const PendingUsage third = usage(QStringLiteral("3.wav"));
    server().addFault(fault("POST", usagePath, "status", 500));
    ASSERT_FALSE(report(first));
    m_store.disconnect(); // without a session the rejected one cannot be refreshed: it is queued
    ASSERT_FALSE(report(second));
    server().addFault(fault("POST", usagePath, "status", 500));
    ASSERT_FALSE(report(third));
    ASSERT_EQ(m_store.pendingUsage(), (QList<PendingUsage>{first, second, third}));
    EXPECT_TRUE(requestsTo(refreshPath).isEmpty());
    server().clearRequests();
    const LogLines log(QStringLiteral("usage"));

    run(m_store.connect(server().demoKey()));

    EXPECT_EQ(m_store.pendingUsage(), QList<PendingUsage>{second});
    EXPECT_EQ(log.lines(), QStringList{"retry finished (pending=1)"});
    QStringList bearers;
    for (const QJsonObject &post : requestsTo(usagePath))
        bearers << bearerOf(post);
    EXPECT_EQ(bearers, (QStringList{token, QStringLiteral("at_long_gone"), token}));
    EXPECT_TRUE(requestsTo(refreshPath).isEmpty()); // retries never refresh
    EXPECT_EQ(filesKept(), (QStringList{"1.wav", "3.wav"}));

    // The expired record keeps failing and stays.
    run(m_store.retryPendingUsage());
    EXPECT_EQ(std::tuple(m_store.pendingUsage(), counted()), std::tuple(QList<PendingUsage>{second}, qint64(2)));
}

TEST_F(UsageReportingTest, AReportInFlightInOnePassIsNotSentByAnotherAndOneQueuedMeanwhileSurvives)
{
    const PendingUsage early = usage(QStringLiteral("early.wav"));
    const PendingUsage late = usage(QStringLiteral("late.wav"));
    server().addFault(fault("POST", usagePath, "status", 500));
    ASSERT_FALSE(report(early));

    // The first pass's request is held; a second pass and a new report that fails run meanwhile.
    server().addFault(fault("POST", usagePath, "delay", 200, 1, 600));
    server().addFault(fault("POST", usagePath, "status", 500, 1));
    auto pass = m_store.retryPendingUsage();
    ASSERT_TRUE(waitForRequests(usagePath, 2)); // the early failure and the pass's attempt
    run(m_store.retryPendingUsage());
    EXPECT_FALSE(report(late));
    EXPECT_EQ(m_store.pendingUsage(), (QList<PendingUsage>{early, late}));
    run(std::move(pass));

    EXPECT_EQ(std::tuple(m_store.pendingUsage(), requestsTo(usagePath).size(), filesKept()),
              std::tuple(QList<PendingUsage>{late}, qsizetype(3), QStringList{"early.wav"}));
}

#include "analysis/AnalysisRunner.h"
#include "app/ActiveJobs.h"
#include "tests/analysis/AnalysisSessionTest.h"

using namespace vorlik;
using namespace vorlik::test;
using namespace Qt::StringLiterals;
using analysis::AnalysisRunner;
using Item = AnalysisRunner::Item;

namespace {

using namespace std::chrono_literals;

const QString timeoutMessage = u"The analysis is taking longer than expected \u2014 Retry resumes the running job."_s;

class AnalysisRunnerTest : public AnalysisSessionTest {
protected:
    void SetUp() override
    {
        AnalysisSessionTest::SetUp();
        connectDemo(m_store);
    }

    void runToEnd(AnalysisRunner &runner)
    {
        runner.run(m_store);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.isRunning(); }, 60000)) << runner.statusLine().toStdString();
        EXPECT_EQ(runner.runState(), AnalysisRunner::RunState::idle);
    }

    // Every status line `runner` shows from now on, in order.
    const QStringList &statusLines(const AnalysisRunner &runner)
    {
        QObject::connect(&runner, &AnalysisRunner::statusLineChanged, &m_context, [this, &runner] { m_lines << runner.statusLine(); });
        return m_lines;
    }

    static QString serverJobStatus(const QString &jobID)
    {
        const QJsonDocument answer = QJsonDocument::fromJson(server().call("GET", u"/admin/jobs"_s).second);
        for (const QJsonValue &job : answer.object().value(u"jobs"_s).toArray())
            if (job.toObject().value(u"job_id"_s).toString() == jobID)
                return job.toObject().value(u"status"_s).toString();
        return {};
    }

    service::SessionStore m_store;
    QObject m_context;
    QStringList m_lines;
};

TEST(AnalysisRunnerShortened, FirstNonEmptyLineCutAt140Characters)
{
    const QString flag = u"\U0001F1E9\U0001F1EA"_s; // one character, four UTF-16 units
    const QString accent = u"e\u0301"_s;            // one character, two units
    const QString x140(140, u'x'), more = u"\u2026"_s;
    const std::pair<QString, QString> cases[] = {
        {QString(), QString()}, {u"one line"_s, u"one line"_s}, {u"\n\nfirst\nsecond"_s, u"first"_s}, {u"\n\n"_s, u"\n\n"_s},
        {x140, x140}, {x140 + u'x', x140 + more}, {x140 + u"x\nmore"_s, x140 + more}, {flag.repeated(140), flag.repeated(140)},
        {flag.repeated(141), flag.repeated(140) + more}, {accent.repeated(150), accent.repeated(140) + more},
        // One "character" of endless combining marks (a hostile error text) still makes a short line.
        {u"a"_s + QString(100000, QChar(0x0301)), u"a"_s + QString(559, QChar(0x0301)) + more},
    };
    for (const auto &[text, shown] : cases)
        EXPECT_EQ(AnalysisRunner::shortened(text), shown) << text.left(20).toStdString();
}

TEST_F(AnalysisRunnerTest, aRunAnalysesEveryFileAndCountsForTheWholeSession)
{
    server().clearRequests();
    AnalysisRunner runner;
    LogLines log(u"analysis"_s);
    QList<bool> activity;
    QObject::connect(&app::ActiveJobs::shared(), &app::ActiveJobs::runningKeysChanged, &m_context, [&] {
        activity.append(app::ActiveJobs::shared().runningKeys().contains(u"Analysis"_s));
    });
    const QStringList &lines = statusLines(runner);

    runner.queue({tone(u"a.wav"_s), tone(u"b.wav"_s)});
    runToEnd(runner);
    EXPECT_FALSE(runner.progress());
    for (const Item &item : runner.items()) {
        EXPECT_EQ(item.succeeded, true) << item.errorMessage.value_or(QString()).toStdString();
        ASSERT_TRUE(item.analysis && item.analysis->loudness && item.analysis->loudness->integratedLufs);
        EXPECT_NEAR(*item.analysis->loudness->integratedLufs, -6.0, 1.0);
    }
    EXPECT_EQ(std::tuple(runner.analyzedCount(), runner.statusLine()), std::tuple(qint64(2), u"Queue finished \u2014 2 files analysed."_s));
    EXPECT_EQ(lines.value(1), u"Running\u2026"_s);
    for (const QString &line :
         {u"Uploading a.wav\u2026"_s, u"Analyzing a.wav on the VPS\u2026"_s, u"\u2713 b.wav \u2014 2 analysed this session."_s})
        EXPECT_TRUE(lines.contains(line)) << line.toStdString();
    EXPECT_EQ(activity, (QList<bool>{true, false}));
    EXPECT_FALSE(app::ActiveJobs::shared().runningKeys().contains(u"Analysis"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.lines().size() >= 8; }, 60000));
    const QString job = *runner.items().front().jobID;
    EXPECT_EQ(log.lines().mid(2, 3), (QStringList{u"job started job_id="_s + job,
                                                  u"job finished job_id="_s + job + u" status=COMPLETED error=none"_s, u"start b.wav"_s}));

    // A later run: the finished line counts every analysis since the runner was made.
    runner.queue({tone(u"c.wav"_s)});
    runToEnd(runner);
    EXPECT_TRUE(lines.contains(u"\u2713 c.wav \u2014 3 analysed this session."_s));
    EXPECT_EQ(runner.statusLine(), u"Queue finished \u2014 3 files analysed."_s);
    EXPECT_EQ(requestsTo(u"/v1/uploads"_s).size(), 3);
}

TEST_F(AnalysisRunnerTest, aStopDuringTheUploadLeavesTheItemToDoAndOneWhilePollingCancelsTheJob)
{
    server().addFault(fault(u"POST"_s, u"/v1/uploads"_s, u"delay"_s, 500, 1, 30000));
    behave({{u"outcome"_s, u"hang"_s}});
    AnalysisRunner runner(nullptr, 20ms);
    LogLines log(u"analysis"_s);
    runner.queue({tone(u"a.wav"_s), tone(u"b.wav"_s)});
    runner.run(m_store);
    ASSERT_EQ(runner.items().front().status, u"Uploading a.wav\u2026"_s);
    ASSERT_TRUE(waitForRequests(u"/v1/uploads"_s));
    runner.cancel();
    EXPECT_EQ(runner.runState(), AnalysisRunner::RunState::stopping);
    EXPECT_EQ(runner.statusLine(), u"Stopping\u2026"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.isRunning(); }, 60000));
    EXPECT_EQ(runner.items().front().status, u"Stopped"_s);
    EXPECT_FALSE(runner.items().front().jobID || runner.items().front().errorMessage || runner.items().front().succeeded);
    EXPECT_EQ(runner.statusLine(), u"Stopped \u2014 2 files still queued."_s);
    EXPECT_FALSE(app::ActiveJobs::shared().runningKeys().contains(u"Analysis"_s));
    runner.cancel(); // idle: nothing happens
    EXPECT_EQ(runner.statusLine(), u"Stopped \u2014 2 files still queued."_s);

    // Run again and stop while the job is polled: the job is cancelled on the service.
    runner.run(m_store);
    ASSERT_TRUE(QTest::qWaitFor([&] { return runner.items().front().jobID.has_value(); }, 60000));
    const QString jobID = *runner.items().front().jobID;
    EXPECT_EQ(runner.items().front().status, u"Analyzing a.wav\u2026"_s);
    runner.cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.isRunning(); }, 60000));
    EXPECT_EQ(std::tuple(runner.items().front().status, runner.items().front().jobID, runner.items().at(1).status),
              std::tuple(u"Stopped"_s, std::optional(jobID), u"Queued"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.lines().contains(u"server cancel requested for "_s + jobID); }, 60000));
    EXPECT_EQ(requestsTo(u"/v1/jobs/%1/cancel"_s.arg(jobID)).size(), 1);
    EXPECT_EQ(serverJobStatus(jobID), u"CANCELLED"_s);

    // The cancelled job can never finish: a retry starts over with a new upload and a new job.
    runner.retry(runner.items().front());
    EXPECT_EQ(runner.items().front().status, u"Queued"_s);
    runToEnd(runner);
    EXPECT_EQ(runner.items().front().succeeded, true) << runner.items().front().errorMessage.value_or("").toStdString();
    EXPECT_NE(runner.items().front().jobID, jobID);
    EXPECT_EQ(runner.items().at(1).succeeded, true);
    EXPECT_EQ(requestsTo(u"/v1/uploads"_s).size(), 4);
}

TEST_F(AnalysisRunnerTest, aTimedOutJobIsResumedByRetryAndOneTheServiceForgotStartsOver)
{
    behave({{u"outcome"_s, u"hang"_s}, {u"count"_s, 2}});
    AnalysisRunner runner(nullptr, 20ms, 1500ms);
    const QStringList &lines = statusLines(runner);
    runner.queue({tone(u"a.wav"_s), tone(u"b.wav"_s)});
    runToEnd(runner);
    const Item a = runner.items().at(0), b = runner.items().at(1);
    ASSERT_TRUE(a.jobID && b.jobID);
    EXPECT_EQ(a.status, u"Job "_s + *a.jobID + u" still running"_s);
    EXPECT_EQ(a.errorMessage, timeoutMessage);
    EXPECT_TRUE(lines.contains(u"Analysis failed for a.wav: "_s + timeoutMessage));
    EXPECT_EQ(runner.statusLine(), u"Queue finished \u2014 0 analysed, 2 failed. Click a red card for details."_s);
    EXPECT_EQ(serverJobStatus(*a.jobID), u"RUNNING"_s) << "a time-out leaves the job running on the service";

    // a's job goes on and finishes on the service; Retry picks it up where it is. The service
    // forgot b's job (restarted meanwhile): its resumed poll is answered 404.
    server().addFault(fault(u"GET"_s, u"/v1/jobs/"_s + *b.jobID, u"status"_s, 404, -1, 0, u"{\"error\":\"unknown job\"}"_s));
    server().call("POST", u"/admin/jobs/release"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return serverJobStatus(*a.jobID) == u"COMPLETED"_s; }, 60000));
    runner.retry(a);
    EXPECT_EQ(runner.items().front().status, u"Resuming job "_s + *a.jobID + u"\u2026"_s);
    EXPECT_FALSE(runner.items().front().errorMessage);
    EXPECT_EQ(runner.statusLine(), u"Re-queued a.wav."_s);
    runner.retry(b);
    runToEnd(runner);
    EXPECT_EQ(std::tuple(runner.items().front().succeeded, runner.items().front().jobID), std::tuple(std::optional(true), a.jobID));
    EXPECT_TRUE(lines.contains(u"Resuming analysis for a.wav\u2026"_s));
    EXPECT_EQ(runner.items().at(1).errorMessage, u"Server error 404: {\"error\":\"unknown job\"}"_s);

    // That job has ended without a report: the next Retry uploads again and starts a new job
    // (which the service holds until the runner gives up on it again).
    behave({{u"outcome"_s, u"hang"_s}});
    runner.retry(runner.items().at(1));
    runToEnd(runner);
    EXPECT_NE(runner.items().at(1).jobID, b.jobID);
    EXPECT_EQ(runner.items().at(1).errorMessage, timeoutMessage);
    EXPECT_EQ(runner.statusLine(), u"Queue finished \u2014 1 analysed, 1 failed. Click a red card for details."_s);
    EXPECT_EQ(requestsTo(u"/v1/uploads"_s).size(), 3) << "a's retry did not upload again";
    qsizetype processed = 0;
    for (const QJsonValue &request : server().requests())
        processed += request.toObject().value(u"path"_s).toString().endsWith(u"/process"_s);
    EXPECT_EQ(processed, 3) << "nor start a second job";
}

TEST_F(AnalysisRunnerTest, aFailedItemKeepsItsWholeErrorAndTheQueueGoesOn)
{
    server().addFault(fault(u"POST"_s, u"/v1/uploads"_s, u"status"_s, 500, 1, 0, QString(500, u'E')));
    behave({{u"outcome"_s, u"fail"_s}, {u"error_summary"_s, u"not analysed here"_s}});
    AnalysisRunner runner;
    const QStringList &lines = statusLines(runner);
    const QUrl gone = tone(u"gone.wav"_s);
    runner.queue({tone(u"a.wav"_s), gone, sparseFile(u"limit.wav"_s, AnalysisRunner::uploadLimitBytes),
                  sparseFile(u"over.wav"_s, AnalysisRunner::uploadLimitBytes + 1), tone(u"z kept.wav"_s)}); // queued in name order
    ASSERT_TRUE(QFile::remove(gone.toLocalFile()));
    runToEnd(runner);
    const QString message = u"Server error 500: "_s + QString(500, u'E');
    const std::pair<QString, QString> failed[] = {
        {u"a.wav"_s, message},
        {u"gone.wav"_s, u"The file \u201Cgone.wav\u201D couldn\u2019t be read: No such file or directory."_s},
        {u"limit.wav"_s, u"not analysed here"_s}, // the upload went through
        {u"over.wav"_s, u"over.wav is larger than the 128 MiB upload limit."_s}};
    for (qsizetype i = 0; i < 4; ++i)
        EXPECT_EQ(std::tuple(runner.items().at(i).status, runner.items().at(i).errorMessage),
                  std::tuple(u"\u2717 "_s + failed[i].first, std::optional(failed[i].second)));
    EXPECT_TRUE(lines.contains(u"Analysis failed for a.wav: "_s + message.left(140) + u"\u2026"_s))
        << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines.contains(u"Analysis failed for over.wav: "_s + failed[3].second));
    EXPECT_EQ(runner.items().at(4).succeeded, true);
    EXPECT_EQ(runner.statusLine(), u"Queue finished \u2014 1 analysed, 4 failed. Click a red card for details."_s);
    const QList<QJsonObject> uploads = requestsTo(u"/v1/uploads"_s);
    ASSERT_EQ(uploads.size(), 3) << "nothing was sent for the file over the limit";
    EXPECT_GT(uploads.at(1).value(u"body_size"_s).toInteger(), AnalysisRunner::uploadLimitBytes);
}

TEST_F(AnalysisRunnerTest, theListIsOnlyChangedWhenIdleAndAJobCompletedWithoutAReportStartsOver)
{
    behave({{u"outcome"_s, u"hang"_s}});
    auto owned = std::make_unique<AnalysisRunner>(nullptr, 20ms);
    AnalysisRunner &runner = *owned;
    runner.queue({tone(u"a.wav"_s)});
    runner.run(m_store);
    ASSERT_TRUE(QTest::qWaitFor([&] { return runner.items().front().jobID.has_value(); }, 60000));
    const QList<Item> before = runner.items();
    const QString line = runner.statusLine();
    runner.clear();
    runner.remove(before.front());
    runner.retry(before.front());
    runner.run(m_store);
    EXPECT_EQ(runner.items(), before);
    EXPECT_EQ(runner.statusLine(), line);
    EXPECT_EQ(requestsTo(u"/v1/uploads"_s).size(), 1) << "a second run call started nothing";
    // Queueing works during a run; the loop takes the new file after the current one.
    runner.queue({tone(u"b.wav"_s)});
    EXPECT_EQ(runner.items().size(), 2);

    // The status document says "completed" (any case) but carries no report.
    server().addFault(fault(u"GET"_s, u"/v1/jobs/"_s + *before.front().jobID, u"status"_s, 200, -1, 0, uR"({"status":"completed"})"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.isRunning(); }, 60000));
    EXPECT_EQ(std::tuple(runner.items().front().status, runner.items().front().errorMessage, runner.analyzedCount()),
              std::tuple(u"\u2717 a.wav"_s, std::optional(u"status completed"_s), qint64(1)));
    EXPECT_EQ(runner.items().at(1).succeeded, true);

    server().clearFaults();
    server().call("POST", u"/admin/jobs/release"_s);
    runner.retry(runner.items().front());
    EXPECT_EQ(runner.items().front().status, u"Queued"_s);
    runToEnd(runner);
    EXPECT_EQ(runner.items().front().succeeded, true);
    EXPECT_NE(runner.items().front().jobID, before.front().jobID);
    EXPECT_EQ(requestsTo(u"/v1/uploads"_s).size(), 3);

    runner.queue({tone(u"c.wav"_s)});
    runner.clear();
    EXPECT_EQ(runner.statusLine(), u"Cleared."_s);
    ASSERT_EQ(runner.items().size(), 1);
    EXPECT_EQ(runner.items().front().input.fileName(), u"c.wav"_s);
    runner.remove(runner.items().front());
    EXPECT_TRUE(runner.items().isEmpty());

    behave({{u"outcome"_s, u"hang"_s}});
    runner.queue({tone(u"d.wav"_s)});
    runner.run(m_store);
    ASSERT_TRUE(QTest::qWaitFor([&] { return runner.items().front().jobID.has_value(); }, 60000));
    EXPECT_TRUE(app::ActiveJobs::shared().runningKeys().contains(u"Analysis"_s));
    owned.reset();
    EXPECT_FALSE(app::ActiveJobs::shared().runningKeys().contains(u"Analysis"_s));
    QTest::qWait(200); // the poll's last answer arrives to nothing
    server().call("POST", u"/admin/jobs/release"_s);
}

} // namespace

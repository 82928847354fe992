// The analysis runner against the real stand-in service: queue texts, whole runs with the
// session-wide count, stop during an upload and during polling (with the cancel sent to the
// service), the polling time-out and a retry that resumes the job without a second upload,
// long server errors on the status line, the 128 MiB limit to the byte, a file deleted while
// queued, jobs that fail, and no session at all.
#include "analysis/AnalysisRunner.h"
#include "app/ActiveJobs.h"
#include "tests/analysis/TestAudio.h"
#include "tests/service/SessionTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <iterator>

using namespace vorlik;
using namespace vorlik::test;
using analysis::AnalysisRunner;
using Item = AnalysisRunner::Item;

namespace {

using namespace std::chrono_literals;

const QString timeoutMessage =
    QStringLiteral("The analysis is taking longer than expected \u2014 Retry resumes the running job.");

// Lets the event loop run until `done` holds (or a generous cap passes).
bool waitUntil(const std::function<bool()> &done, int capMs = 60000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > capMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Every status line the runner showed, in order.
class StatusLines {
public:
    explicit StatusLines(const AnalysisRunner &runner)
    {
        QObject::connect(&runner, &AnalysisRunner::statusLineChanged, &m_context,
                         [this, &runner] { m_lines.append(runner.statusLine()); });
    }
    const QStringList &lines() const { return m_lines; }

private:
    QObject m_context;
    QStringList m_lines;
};

class AnalysisRunnerTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        ASSERT_TRUE(m_files.isValid());
    }

    QUrl tone(const QString &name, double seconds = 0.5)
    {
        writeFile(m_files.filePath(name), sineWAV(seconds));
        return QUrl::fromLocalFile(m_files.filePath(name));
    }

    // A file of `size` bytes that takes no room on disk.
    QUrl sparse(const QString &name, qint64 size)
    {
        QFile file(m_files.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_TRUE(file.resize(size));
        return QUrl::fromLocalFile(file.fileName());
    }

    static void runToEnd(AnalysisRunner &runner, service::SessionStore &store)
    {
        runner.run(store);
        ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); })) << runner.statusLine().toStdString();
        EXPECT_EQ(runner.runState(), AnalysisRunner::RunState::idle);
    }

    static void behave(const QJsonObject &behaviour)
    {
        const auto [status, body] = server().call("POST", QStringLiteral("/admin/jobs"), QJsonDocument(behaviour).toJson());
        ASSERT_EQ(status, 200) << body.toStdString();
    }

    static QString serverJobStatus(const QString &jobID)
    {
        const QJsonArray jobs = QJsonDocument::fromJson(server().call("GET", QStringLiteral("/admin/jobs")).second)
                                    .object()
                                    .value(QStringLiteral("jobs"))
                                    .toArray();
        for (const QJsonValue &job : jobs)
            if (job.toObject().value(QStringLiteral("job_id")).toString() == jobID)
                return job.toObject().value(QStringLiteral("status")).toString();
        return {};
    }

    QTemporaryDir m_files;
};

TEST(AnalysisRunnerShortened, FirstNonEmptyLineCutAt140Characters)
{
    const QString flag = QStringLiteral("\U0001F1E9\U0001F1EA"); // one character, four UTF-16 units
    const QString accent = QStringLiteral("e\u0301");            // one character, two units
    const struct {
        QString text;
        QString shown;
    } cases[] = {
        {QString(), QString()},
        {QStringLiteral("one line"), QStringLiteral("one line")},
        {QStringLiteral("\n\nfirst\nsecond"), QStringLiteral("first")},
        {QStringLiteral("\n\n"), QStringLiteral("\n\n")},
        {QString(140, u'x'), QString(140, u'x')},
        {QString(141, u'x'), QString(140, u'x') + QStringLiteral("\u2026")},
        {QString(141, u'x') + QStringLiteral("\nmore"), QString(140, u'x') + QStringLiteral("\u2026")},
        {flag.repeated(140), flag.repeated(140)},
        {flag.repeated(141), flag.repeated(140) + QStringLiteral("\u2026")},
        {accent.repeated(150), accent.repeated(140) + QStringLiteral("\u2026")},
        // One "character" of endless combining marks (a hostile error text) still makes a short line.
        {QStringLiteral("a") + QString(100000, QChar(0x0301)), QStringLiteral("a") + QString(559, QChar(0x0301)) + QStringLiteral("\u2026")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(AnalysisRunner::shortened(c.text), c.shown) << c.text.left(20).toStdString();
}

TEST_F(AnalysisRunnerTest, queueingSaysWhatWasAdded)
{
    AnalysisRunner runner;
    const QString empty = m_files.filePath(QStringLiteral("no audio"));
    QDir().mkpath(empty);
    writeFile(empty + QStringLiteral("/notes.txt"), "words");
    runner.queue({QUrl::fromLocalFile(empty)});
    EXPECT_EQ(runner.statusLine(), QStringLiteral("No audio files found (wav, aiff, flac, mp3, m4a, aac, ogg\u2026)."));
    EXPECT_TRUE(runner.items().isEmpty());

    const QUrl a = tone(QStringLiteral("a.wav"));
    runner.queue({a});
    EXPECT_EQ(runner.statusLine(), QStringLiteral("1 file queued \u2014 analysis runs on the Vorlik VPS."));
    ASSERT_EQ(runner.items().size(), 1);
    EXPECT_EQ(runner.items().front().status, QStringLiteral("Queued"));
    EXPECT_FALSE(runner.items().front().succeeded);
    EXPECT_TRUE(runner.hasPending());

    runner.queue({a});
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Nothing new to add."));

    const QString folder = m_files.filePath(QStringLiteral("album/disc 1"));
    QDir().mkpath(folder);
    writeFile(folder + QStringLiteral("/track.flac"), "not really flac");
    runner.queue({a, tone(QStringLiteral("b.wav")), QUrl::fromLocalFile(m_files.filePath(QStringLiteral("album")))});
    EXPECT_EQ(runner.statusLine(), QStringLiteral("2 files queued \u2014 analysis runs on the Vorlik VPS."));
    ASSERT_EQ(runner.items().size(), 3);
    EXPECT_EQ(runner.items().at(1).input.fileName(), QStringLiteral("b.wav"));
    EXPECT_EQ(runner.items().at(2).input.fileName(), QStringLiteral("track.flac"));
    EXPECT_TRUE(server().requests().isEmpty()) << "queueing sends nothing";
}

TEST_F(AnalysisRunnerTest, withoutASessionEveryItemFailsNotConnected)
{
    service::SessionStore store;
    AnalysisRunner runner;
    runner.queue({tone(QStringLiteral("a.wav"))});
    StatusLines lines(runner);
    runToEnd(runner, store);
    const Item &item = runner.items().front();
    EXPECT_EQ(item.status, QStringLiteral("\u2717 Not connected"));
    EXPECT_EQ(item.succeeded, false);
    EXPECT_EQ(item.errorMessage, QStringLiteral("Connect with your client key to analyse files."));
    EXPECT_TRUE(lines.lines().contains(QStringLiteral("Connect with your client key to analyse files.")));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished \u2014 0 analysed, 1 failed. Click a red card for details."));
    EXPECT_TRUE(server().requests().isEmpty());
}

TEST_F(AnalysisRunnerTest, aRunAnalysesEveryFileAndCountsForTheWholeSession)
{
    service::SessionStore store;
    connectDemo(store);
    server().clearRequests();
    AnalysisRunner runner;
    LogLines log(QStringLiteral("analysis"));
    QList<bool> activity;
    QObject context;
    QObject::connect(&app::ActiveJobs::shared(), &app::ActiveJobs::runningKeysChanged, &context, [&] {
        activity.append(app::ActiveJobs::shared().runningKeys().contains(QStringLiteral("Analysis")));
    });
    StatusLines lines(runner);
    // Each item's progress: its upload's bytes up to the whole body, then its job.
    QList<AnalysisRunner::Progress> steps;
    QObject::connect(&runner, &AnalysisRunner::progressChanged, &context, [&] {
        if (runner.progress())
            steps.append(*runner.progress());
    });

    runner.queue({tone(QStringLiteral("a.wav")), tone(QStringLiteral("b.wav"))});
    runToEnd(runner, store);
    EXPECT_FALSE(runner.progress());
    for (const Item &item : runner.items()) {
        QList<AnalysisRunner::Progress> own;
        for (const AnalysisRunner::Progress &step : steps) {
            if (step.item == item.id)
                own.append(step);
        }
        ASSERT_GE(own.size(), 3) << item.input.fileName().toStdString();
        const auto analysing = std::find_if(own.cbegin(), own.cend(), [](const AnalysisRunner::Progress &step) {
            return step.stage == AnalysisRunner::Progress::Stage::analysing;
        });
        ASSERT_NE(analysing, own.cbegin());
        ASSERT_NE(analysing, own.cend());
        // Bytes of the file against its size, from the first step to the last.
        const qint64 size = QFileInfo(item.input.toLocalFile()).size();
        for (auto step = own.cbegin(); step != analysing; ++step)
            EXPECT_EQ(step->total, size);
        EXPECT_EQ(std::prev(analysing)->sent, size);
        EXPECT_TRUE(std::all_of(analysing, own.cend(), [](const AnalysisRunner::Progress &step) {
            return step.stage == AnalysisRunner::Progress::Stage::analysing;
        }));
        EXPECT_EQ(analysing->text(analysing->since + std::chrono::seconds(7)), QStringLiteral("Analysing\u2026 0:07"));
    }
    for (const Item &item : runner.items()) {
        EXPECT_EQ(item.succeeded, true) << item.errorMessage.value_or(QString()).toStdString();
        EXPECT_EQ(item.status, QStringLiteral("\u2713 ") + item.input.fileName());
        ASSERT_TRUE(item.analysis && item.analysis->loudness && item.analysis->loudness->integratedLufs);
        EXPECT_NEAR(*item.analysis->loudness->integratedLufs, -6.0, 1.0);
        EXPECT_TRUE(item.jobID && item.jobID->startsWith(QStringLiteral("job_")));
        EXPECT_FALSE(item.errorMessage);
    }
    EXPECT_EQ(runner.analyzedCount(), 2);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished \u2014 2 files analysed."));
    EXPECT_EQ(lines.lines().value(1), QStringLiteral("Running\u2026"));
    EXPECT_TRUE(lines.lines().contains(QStringLiteral("Uploading a.wav\u2026")));
    EXPECT_TRUE(lines.lines().contains(QStringLiteral("Analyzing a.wav on the VPS\u2026")));
    EXPECT_TRUE(lines.lines().contains(QStringLiteral("\u2713 b.wav \u2014 2 analysed this session.")));
    EXPECT_EQ(activity, (QList<bool>{true, false}));
    EXPECT_FALSE(app::ActiveJobs::shared().runningKeys().contains(QStringLiteral("Analysis")));

    ASSERT_TRUE(waitUntil([&] { return log.lines().size() >= 8; }));
    const QStringList logged = log.lines();
    EXPECT_EQ(logged.at(0), QStringLiteral("start a.wav"));
    EXPECT_TRUE(logged.at(1).startsWith(QStringLiteral("uploaded upload_id=up_"))) << logged.at(1).toStdString();
    EXPECT_EQ(logged.at(2), QStringLiteral("job started job_id=") + *runner.items().front().jobID);
    EXPECT_EQ(logged.at(3), QStringLiteral("job finished job_id=") + *runner.items().front().jobID
                                + QStringLiteral(" status=COMPLETED error=none"));
    EXPECT_EQ(logged.at(4), QStringLiteral("start b.wav"));

    // A later run: the finished line counts every analysis since the runner was made.
    runner.queue({tone(QStringLiteral("c.wav"))});
    runToEnd(runner, store);
    EXPECT_TRUE(lines.lines().contains(QStringLiteral("\u2713 c.wav \u2014 3 analysed this session.")));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished \u2014 3 files analysed."));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/uploads")).size(), 3);
}

TEST_F(AnalysisRunnerTest, stoppingDuringTheUploadLeavesTheItemToDo)
{
    service::SessionStore store;
    connectDemo(store);
    server().addFault(fault(QStringLiteral("POST"), QStringLiteral("/v1/uploads"), QStringLiteral("delay"), 500, 1, 30000));
    AnalysisRunner runner;
    runner.queue({tone(QStringLiteral("a.wav"))});
    runner.run(store);
    ASSERT_EQ(runner.items().front().status, QStringLiteral("Uploading a.wav\u2026"));
    ASSERT_TRUE(waitForRequests(QStringLiteral("/v1/uploads")));

    runner.cancel();
    EXPECT_EQ(runner.runState(), AnalysisRunner::RunState::stopping);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Stopping\u2026"));
    ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }));
    const Item &item = runner.items().front();
    EXPECT_EQ(item.status, QStringLiteral("Stopped"));
    EXPECT_FALSE(item.succeeded);
    EXPECT_FALSE(item.jobID);
    EXPECT_FALSE(item.errorMessage);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Stopped \u2014 1 file still queued."));
    EXPECT_TRUE(runner.hasPending());
    EXPECT_TRUE(requestsTo(QStringLiteral("/v1/jobs/")).isEmpty());
    EXPECT_FALSE(app::ActiveJobs::shared().runningKeys().contains(QStringLiteral("Analysis")));
    runner.cancel(); // idle: nothing happens
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Stopped \u2014 1 file still queued."));
}

TEST_F(AnalysisRunnerTest, stoppingWhilePollingCancelsTheJobOnTheService)
{
    service::SessionStore store;
    connectDemo(store);
    behave({{QStringLiteral("outcome"), QStringLiteral("hang")}});
    AnalysisRunner runner(nullptr, 20ms);
    LogLines log(QStringLiteral("analysis"));
    runner.queue({tone(QStringLiteral("a.wav")), tone(QStringLiteral("b.wav"))});
    runner.run(store);
    ASSERT_TRUE(waitUntil([&] { return runner.items().front().jobID.has_value(); }));
    const QString jobID = *runner.items().front().jobID;
    EXPECT_EQ(runner.items().front().status, QStringLiteral("Analyzing a.wav\u2026"));

    runner.cancel();
    ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }));
    EXPECT_EQ(runner.items().front().status, QStringLiteral("Stopped"));
    EXPECT_EQ(runner.items().front().jobID, jobID) << "the job id stays, so a retry resumes it";
    EXPECT_EQ(runner.items().at(1).status, QStringLiteral("Queued"));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Stopped \u2014 2 files still queued."));
    ASSERT_TRUE(waitUntil([&] { return log.lines().contains(QStringLiteral("server cancel requested for ") + jobID); }));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/jobs/%1/cancel").arg(jobID)).size(), 1);
    EXPECT_EQ(serverJobStatus(jobID), QStringLiteral("CANCELLED"));

    // The cancelled job can never finish: a retry starts over with a new upload and a new job.
    runner.retry(runner.items().front());
    EXPECT_EQ(runner.items().front().status, QStringLiteral("Queued"));
    runToEnd(runner, store);
    EXPECT_EQ(runner.items().front().succeeded, true) << runner.items().front().errorMessage.value_or("").toStdString();
    EXPECT_NE(runner.items().front().jobID, jobID);
    EXPECT_EQ(runner.items().at(1).succeeded, true);
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/uploads")).size(), 3);
}

TEST_F(AnalysisRunnerTest, aTimedOutJobIsResumedByRetryWithoutUploadingAgain)
{
    service::SessionStore store;
    connectDemo(store);
    behave({{QStringLiteral("outcome"), QStringLiteral("hang")}});
    AnalysisRunner runner(nullptr, 20ms, 1500ms);
    StatusLines lines(runner);
    runner.queue({tone(QStringLiteral("a.wav"))});
    runToEnd(runner, store);
    Item item = runner.items().front();
    ASSERT_TRUE(item.jobID);
    EXPECT_EQ(item.status, QStringLiteral("Job ") + *item.jobID + QStringLiteral(" still running"));
    EXPECT_EQ(item.succeeded, false);
    EXPECT_EQ(item.errorMessage, timeoutMessage);
    EXPECT_TRUE(lines.lines().contains(QStringLiteral("Analysis failed for a.wav: ") + timeoutMessage));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished \u2014 0 analysed, 1 failed. Click a red card for details."));
    EXPECT_EQ(serverJobStatus(*item.jobID), QStringLiteral("RUNNING")) << "a time-out leaves the job running on the service";

    // The job goes on and finishes on the service; Retry picks it up where it is.
    server().call("POST", QStringLiteral("/admin/jobs/release"));
    ASSERT_TRUE(waitUntil([&] { return serverJobStatus(*item.jobID) == QStringLiteral("COMPLETED"); }));
    runner.retry(item);
    item = runner.items().front();
    EXPECT_EQ(item.status, QStringLiteral("Resuming job ") + *item.jobID + QStringLiteral("\u2026"));
    EXPECT_FALSE(item.succeeded);
    EXPECT_FALSE(item.errorMessage);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Re-queued a.wav."));
    runToEnd(runner, store);
    EXPECT_EQ(runner.items().front().succeeded, true);
    EXPECT_EQ(runner.items().front().jobID, item.jobID);
    EXPECT_TRUE(lines.lines().contains(QStringLiteral("Resuming analysis for a.wav\u2026")));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished \u2014 1 file analysed."));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/uploads")).size(), 1) << "the retry did not upload again";
    qsizetype processed = 0;
    for (const QJsonValue &request : server().requests())
        processed += request.toObject().value(QStringLiteral("path")).toString().endsWith(QStringLiteral("/process"));
    EXPECT_EQ(processed, 1) << "nor start a second job";
}

TEST_F(AnalysisRunnerTest, aJobTheServiceNoLongerKnowsStartsOverOnRetry)
{
    service::SessionStore store;
    connectDemo(store);
    behave({{QStringLiteral("outcome"), QStringLiteral("hang")}});
    AnalysisRunner runner(nullptr, 20ms, 1500ms);
    runner.queue({tone(QStringLiteral("a.wav"))});
    runToEnd(runner, store);
    const Item timedOut = runner.items().front();
    ASSERT_TRUE(timedOut.jobID);

    // The service forgot the job (restarted meanwhile): the resumed poll is answered 404.
    QJsonObject unknown = fault(QStringLiteral("GET"), QStringLiteral("/v1/jobs/") + *timedOut.jobID, QStringLiteral("status"), 404, -1);
    unknown.insert(QStringLiteral("body"), QStringLiteral("{\"error\":\"unknown job\"}"));
    server().addFault(unknown);
    runner.retry(timedOut);
    runToEnd(runner, store);
    EXPECT_EQ(runner.items().front().errorMessage, QStringLiteral("Server error 404: {\"error\":\"unknown job\"}"));

    // That job has ended without a report: the next Retry uploads again and starts a new job.
    runner.retry(runner.items().front());
    runToEnd(runner, store);
    const Item again = runner.items().front();
    EXPECT_TRUE(again.succeeded) << again.errorMessage.value_or(QString()).toStdString();
    ASSERT_TRUE(again.jobID);
    EXPECT_NE(*again.jobID, *timedOut.jobID);
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/uploads")).size(), 2);
}

// A file deleted while queued and a long server error fail their own items; the queue goes on.
// The error is cut on the status line but kept whole on the item.
TEST_F(AnalysisRunnerTest, aFailedItemKeepsItsWholeErrorAndTheQueueGoesOn)
{
    service::SessionStore store;
    connectDemo(store);
    QJsonObject longError = fault(QStringLiteral("POST"), QStringLiteral("/v1/uploads"), QStringLiteral("status"), 500);
    longError.insert(QStringLiteral("body"), QString(500, u'E'));
    server().addFault(longError);
    AnalysisRunner runner;
    StatusLines lines(runner);
    const QUrl gone = tone(QStringLiteral("gone.wav"));
    runner.queue({tone(QStringLiteral("a.wav")), gone, tone(QStringLiteral("kept.wav"))});
    ASSERT_TRUE(QFile::remove(gone.toLocalFile()));
    runToEnd(runner, store);
    EXPECT_EQ(runner.items().at(1).status, QStringLiteral("\u2717 gone.wav"));
    EXPECT_EQ(runner.items().at(1).errorMessage,
              QStringLiteral("The file \u201Cgone.wav\u201D couldn\u2019t be read: No such file or directory."));
    const QString message = QStringLiteral("Server error 500: ") + QString(500, u'E');
    EXPECT_EQ(runner.items().at(0).errorMessage, message);
    EXPECT_EQ(runner.items().at(0).status, QStringLiteral("\u2717 a.wav"));
    const QString shown = QStringLiteral("Analysis failed for a.wav: ") + message.left(140) + QStringLiteral("\u2026");
    EXPECT_TRUE(lines.lines().contains(shown)) << lines.lines().join(u'\n').toStdString();
    EXPECT_EQ(runner.items().at(2).succeeded, true);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished \u2014 1 analysed, 2 failed. Click a red card for details."));
}

TEST_F(AnalysisRunnerTest, exactly128MiBIsUploadedAndOneByteMoreFailsBeforeAnyRequest)
{
    service::SessionStore store;
    connectDemo(store);
    behave({{QStringLiteral("outcome"), QStringLiteral("fail")}, {QStringLiteral("error_summary"), QStringLiteral("not analysed here")}});
    server().clearRequests();
    AnalysisRunner runner;
    runner.queue({sparse(QStringLiteral("limit.wav"), AnalysisRunner::uploadLimitBytes)});
    runToEnd(runner, store);
    EXPECT_EQ(runner.items().front().errorMessage, QStringLiteral("not analysed here")) << "the upload went through";
    const QList<QJsonObject> uploads = requestsTo(QStringLiteral("/v1/uploads"));
    ASSERT_EQ(uploads.size(), 1);
    EXPECT_GT(uploads.front().value(QStringLiteral("body_size")).toInteger(), AnalysisRunner::uploadLimitBytes);

    server().clearRequests();
    StatusLines lines(runner);
    runner.queue({sparse(QStringLiteral("over.wav"), AnalysisRunner::uploadLimitBytes + 1)});
    runToEnd(runner, store);
    const Item &over = runner.items().at(1);
    EXPECT_EQ(over.status, QStringLiteral("\u2717 over.wav"));
    EXPECT_EQ(over.errorMessage, QStringLiteral("over.wav is larger than the 128 MiB upload limit."));
    EXPECT_TRUE(lines.lines().contains(QStringLiteral("Analysis failed for over.wav: over.wav is larger than the 128 MiB upload limit.")));
    EXPECT_TRUE(server().requests().isEmpty()) << "nothing was sent for the file over the limit";
}

TEST_F(AnalysisRunnerTest, failedJobsAndCompletedJobsWithoutAReportFail)
{
    service::SessionStore store;
    connectDemo(store);
    behave({{QStringLiteral("outcome"), QStringLiteral("fail")}, {QStringLiteral("error_summary"), QStringLiteral("decoder exploded")}});
    AnalysisRunner runner(nullptr, 20ms);
    StatusLines lines(runner);
    runner.queue({tone(QStringLiteral("a.wav"))});
    runToEnd(runner, store);
    EXPECT_EQ(runner.items().front().status, QStringLiteral("\u2717 a.wav"));
    EXPECT_EQ(runner.items().front().errorMessage, QStringLiteral("decoder exploded"));
    EXPECT_TRUE(lines.lines().contains(QStringLiteral("Analysis failed for a.wav: decoder exploded")));

    // A status document that says "completed" (any case) but carries no report.
    behave({{QStringLiteral("outcome"), QStringLiteral("hang")}});
    runner.queue({tone(QStringLiteral("b.wav"))});
    runner.run(store);
    ASSERT_TRUE(waitUntil([&] { return runner.items().at(1).jobID.has_value(); }));
    QJsonObject bare = fault(QStringLiteral("GET"), QStringLiteral("/v1/jobs/") + *runner.items().at(1).jobID,
                             QStringLiteral("status"), 200, -1);
    bare.insert(QStringLiteral("body"), QStringLiteral(R"({"status":"completed"})"));
    server().addFault(bare);
    ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }));
    EXPECT_EQ(runner.items().at(1).status, QStringLiteral("\u2717 b.wav"));
    EXPECT_EQ(runner.items().at(1).errorMessage, QStringLiteral("status completed"));
    EXPECT_EQ(runner.analyzedCount(), 0);

    // Both jobs have ended on the service: polling them again could only repeat the failure, so
    // a retry uploads the file again and starts a new job.
    server().clearFaults();
    server().clearRequests();
    const Item failed = runner.items().front();
    runner.retry(runner.items().at(0));
    runner.retry(runner.items().at(1));
    EXPECT_EQ(runner.items().front().status, QStringLiteral("Queued"));
    EXPECT_EQ(runner.items().at(1).status, QStringLiteral("Queued"));
    runToEnd(runner, store);
    EXPECT_EQ(runner.items().front().succeeded, true);
    EXPECT_EQ(runner.items().at(1).succeeded, true);
    EXPECT_NE(runner.items().front().jobID, failed.jobID);
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/uploads")).size(), 2);
    EXPECT_EQ(runner.analyzedCount(), 2);
}

TEST_F(AnalysisRunnerTest, theListIsOnlyChangedWhenIdle)
{
    service::SessionStore store;
    connectDemo(store);
    behave({{QStringLiteral("outcome"), QStringLiteral("hang")}});
    AnalysisRunner runner(nullptr, 20ms);
    runner.queue({tone(QStringLiteral("a.wav"))});
    runner.run(store);
    ASSERT_TRUE(waitUntil([&] { return runner.items().front().jobID.has_value(); }));
    const QList<Item> before = runner.items();
    const QString line = runner.statusLine();
    runner.clear();
    runner.remove(before.front());
    runner.retry(before.front());
    runner.run(store);
    EXPECT_EQ(runner.items(), before);
    EXPECT_EQ(runner.statusLine(), line);
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/uploads")).size(), 1) << "a second run call started nothing";

    // Queueing works during a run; the loop takes the new file after the current one.
    runner.queue({tone(QStringLiteral("b.wav"))});
    EXPECT_EQ(runner.items().size(), 2);
    runner.cancel();
    ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }));

    // Idle: clear keeps what is still to do, remove deletes one item.
    server().call("DELETE", QStringLiteral("/admin/faults"));
    server().call("POST", QStringLiteral("/admin/jobs/release"));
    runner.retry(runner.items().front());
    runToEnd(runner, store);
    ASSERT_EQ(runner.items().size(), 2);
    runner.queue({tone(QStringLiteral("c.wav"))});
    runner.clear();
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Cleared."));
    ASSERT_EQ(runner.items().size(), 1);
    EXPECT_EQ(runner.items().front().input.fileName(), QStringLiteral("c.wav"));
    runner.remove(runner.items().front());
    EXPECT_TRUE(runner.items().isEmpty());
}

TEST_F(AnalysisRunnerTest, aRunnerDestroyedMidRunEndsQuietly)
{
    service::SessionStore store;
    connectDemo(store);
    behave({{QStringLiteral("outcome"), QStringLiteral("hang")}});
    auto *runner = new AnalysisRunner(nullptr, 20ms);
    runner->queue({tone(QStringLiteral("a.wav"))});
    runner->run(store);
    ASSERT_TRUE(waitUntil([&] { return runner->items().front().jobID.has_value(); }));
    EXPECT_TRUE(app::ActiveJobs::shared().runningKeys().contains(QStringLiteral("Analysis")));
    delete runner;
    EXPECT_FALSE(app::ActiveJobs::shared().runningKeys().contains(QStringLiteral("Analysis")));
    QEventLoop settle;
    QTimer::singleShot(200, &settle, &QEventLoop::quit);
    settle.exec();
    server().call("POST", QStringLiteral("/admin/jobs/release"));
}

} // namespace

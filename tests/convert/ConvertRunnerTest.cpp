#include "RunnerFixture.h"

#include "app/ActiveJobs.h"

#include <QFile>

using namespace vorlik;
using namespace vorlik::test;
using convert::ConvertRunner;
using convert::QueueItem;
using service::Preset;

namespace {

const QString usagePath = u"/v1/usage/convert"_s;

class ConvertRunnerTest : public RunnerFixture {
protected:
    static bool chattr(const char *flag, const QString &path)
    {
        return QProcess::execute(u"chattr"_s, {QString::fromLatin1(flag), path}) == 0;
    }
    static int usageRequests() { return int(requestsTo(usagePath).size()); }
    static bool conversionJobRuns() { return app::ActiveJobs::shared().runningKeys().contains(ConvertRunner::jobKey); }
};

} // namespace

// One conversion: beside its source under the first free name, the user's files untouched, nothing
// temporary left, the log's steps, and one usage report with the source's name and size.
TEST_F(ConvertRunnerTest, ConvertsBesideTheSourceUnderTheFirstFreeNameAndReportsItOnce)
{
    const QString source = tone("media/Take 1.flac", 0.5);
    writeFile(path("media/Take 1_-14LUFS.wav"), "user file");
    writeFile(path("media/Take 1_-14LUFS (1).wav"), "user file 1");
    const qint64 before = usageTotal();
    ConvertRunner runner;
    runner.queue(QStringList{source}, "normalise-14lufs");
    const LogLines log("convert");
    ASSERT_TRUE(runToEnd(runner, m_store.presets()));

    const QueueItem &item = only(runner);
    EXPECT_EQ(item.status, "✓ Done → Take 1_-14LUFS (2).wav");
    EXPECT_EQ(item.output, path("media/Take 1_-14LUFS (2).wav"));
    EXPECT_FALSE(item.errorDetail);
    EXPECT_EQ(runner.statusLine(), "Queue finished — 1 done, 0 failed.");
    EXPECT_EQ(runner.runState(), ConvertRunner::RunState::idle);
    EXPECT_FALSE(runner.hasPending());
    EXPECT_EQ(readFile(path("media/Take 1_-14LUFS.wav")), "user file");
    EXPECT_EQ(readFile(path("media/Take 1_-14LUFS (1).wav")), "user file 1");
    EXPECT_EQ(entries(path("media")),
              (QStringList{"Take 1.flac", "Take 1_-14LUFS (1).wav", "Take 1_-14LUFS (2).wav", "Take 1_-14LUFS.wav"}));
    // The loudness preset measures the source and its one output between start and done.
    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 4) << lines.join(u'\n').toStdString();
    EXPECT_EQ(lines[0], "start preset=normalise-14lufs input=" + source + " output=" + *item.output);
    EXPECT_TRUE(lines[1].startsWith("measured I=") && lines[2].startsWith("pass 1 gain=")) << lines.join(u'\n').toStdString();
    EXPECT_EQ(lines[3], "done output=" + *item.output);

    ASSERT_EQ(usageTotal(), before + 1);
    const QJsonObject last = server().usage().value("reports").toArray().last().toObject();
    EXPECT_EQ(last.value("process_key").toString(), "normalise-14lufs");
    EXPECT_EQ(last.value("filename").toString(), "Take 1.flac");
    EXPECT_EQ(last.value("file_count").toInteger(), 1);
    EXPECT_EQ(last.value("input_bytes").toInteger(), QFileInfo(source).size());
    EXPECT_EQ(bearerOf(requestsTo(usagePath).last()), m_store.session()->accessToken);
    EXPECT_EQ(m_store.pendingUsageCount(), 0);
    // A done item is still the file's one item for this preset: adding it again converts (and
    // reports) nothing twice; Retry is the way to run it again.
    runner.queue(QStringList{source}, "normalise-14lufs");
    EXPECT_EQ(runner.statusLine(), "Nothing new to add.");
    EXPECT_EQ(runner.items().size(), 1);

    // Without a session nothing is reported, nor kept for later.
    service::SessionStore signedOut;
    ConvertRunner unreported;
    unreported.queue(QStringList{tone("a.wav")}, "normalise-23lufs");
    ASSERT_TRUE(runToEnd(unreported, m_store.presets(), {}, &signedOut));
    EXPECT_EQ(only(unreported).status, "✓ Done → a_-23LUFS.wav");
    EXPECT_EQ(usageTotal(), before + 1);
    EXPECT_EQ(signedOut.pendingUsageCount(), 0);
}

// A report the service refused is kept for later and said so, the line staying while the next
// item waits; every conversion ends either reported or kept, once.
TEST_F(ConvertRunnerTest, AReportThatFailsIsKeptAndSaidSo)
{
    server().addFault(fault("POST", usagePath, "status", 500));
    const qint64 before = usageTotal();
    ConvertRunner runner;
    runner.queue(QStringList{tone("a.wav"), tone("b.wav")}, "normalise-14lufs");
    const StatusLines lines(runner);
    ASSERT_TRUE(runToEnd(runner, m_store.presets()));
    EXPECT_EQ(runner.items()[0].status, "✓ Done → a_-14LUFS.wav (usage not reported)");
    EXPECT_EQ(runner.items()[0].succeeded, true);
    EXPECT_EQ(lines, (QStringList{"Running…", "Measuring a.wav…", "Converting a.wav…", "Checking a.wav…",
                                  "✓ a_-14LUFS.wav — usage reporting failed and will retry.", "Measuring b.wav…",
                                  "Converting b.wav…", "Checking b.wav…", "Queue finished — 2 done, 0 failed."}));
    EXPECT_EQ(usageTotal() - before + m_store.pendingUsageCount(), 2);
    if (m_store.pendingUsageCount() > 0) {
        EXPECT_EQ(m_store.pendingUsage().first().filename, "a.wav");
    }
}

// Each way a conversion fails ends its item with the reason, reports nothing and leaves the
// source's folder as it was.
TEST_F(ConvertRunnerTest, AFailedItemSaysWhyAndLeavesNothingBehind)
{
    writeFile(path("tools/plain"), "#!/bin/sh\nexit 0\n");
    const QString moveBlocker = TestMedia::script(path("tools/locks"),
                                                  "for last; do :; done\necho converted > \"$last\"\nchattr +i \"$(dirname \"$last\")\"\n");
    const bool canLock = chattr("+i", path("tools")) && chattr("-i", path("tools"));
    const Preset m4a = *std::find_if(m_store.presets().cbegin(), m_store.presets().cend(),
                                     [](const Preset &preset) { return preset.id == "audio-m4a"; });
    enum SetUp { none, sourceRemoved, exportFolderRemoved, folderLocked };
    // ffmpeg: empty for the real one. detail: with a "=" prefix the whole detail (%1: the folder), otherwise a
    // part of it. line: a status line after "Failed a.wav: " ("=": the detail); empty for none to check.
    const struct { const char *name; Preset preset; QString ffmpeg; SetUp setUp; QString status, detail, line; } cases[] = {
        {"another extension written", scripted("wrong-ext", "ffmpeg -hide_banner -nostdin -y -i {input} {output_base}.flac"), {}, none,
         "✗ No output produced", "=The script finished but did not create the expected output file.", "the script produced no output."},
        // The last line that speaks of an error, not the "Conversion failed!" after it.
        {"a failing script", scripted("broken", "ffmpeg -hide_banner -nostdin -y -i {input} -af 'volume=bogus(' {output_base}.wav"), {},
         none, "✗ Failed (exit 1)", "=Error while processing the decoded data for stream #0:0", "="},
        {"the source vanished", m4a, {}, sourceRemoved, "✗ Failed (exit 1)", "No such file or directory", {}},
        // ffmpeg names the reason without the word "error": its own words are the summary.
        {"the export folder was deleted", fast("job"), {}, exportFolderRemoved, "✗ Failed (exit 1)", ": No such file or directory", {}},
        // Permission bits do not stop root; an immutable folder stops everyone.
        {"a read-only folder", fast("job"), {}, folderLocked, "✗ Failed (exit 1)", {}, {}},
        {"the output cannot be moved", scripted("locks", "ffmpeg {output_base}.wav"), moveBlocker, none, "✗ Could not save output",
         "=Could not move the converted file to %1/a_out.wav: Operation not permitted", "="},
        // The channel probe fails to launch first.
        {"a missing ffmpeg", m4a, path("tools/missing"), none, "✗ Failed (exit -1)", "No such file or directory", {}},
        {"a non-executable ffmpeg", m4a, path("tools/plain"), none, "✗ Failed (exit -1)", "Permission denied", {}},
    };
    int index = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if ((c.setUp == folderLocked || c.ffmpeg == moveBlocker) && !canLock)
            continue;
        const QString dir = folder(u"fail%1"_s.arg(++index));
        const QString source = tone(u"fail%1/a.wav"_s.arg(index));
        const QString out = folder(u"out%1"_s.arg(index));
        if (c.setUp == exportFolderRemoved)
            exportTo(out);
        ConvertRunner runner;
        runner.queue(QStringList{source}, c.preset.id);
        exportTo(std::nullopt);
        if (c.setUp == sourceRemoved)
            QFile::remove(source);
        if (c.setUp == exportFolderRemoved) {
            ASSERT_TRUE(QDir(out).removeRecursively());
        }
        if (c.setUp == folderLocked)
            chattr("+i", dir);
        const LogLines log("convert");
        const StatusLines lines(runner);
        const bool finished = runToEnd(runner, {c.preset}, c.ffmpeg);
        chattr("-i", dir);
        ASSERT_TRUE(finished);
        const QueueItem &item = only(runner);
        EXPECT_EQ(item.status, c.status);
        EXPECT_EQ(item.succeeded, false);
        const QString detail = item.errorDetail.value_or(QString());
        if (c.detail.startsWith(u'=')) {
            EXPECT_EQ(detail, c.detail.mid(1).replace("%1", dir));
        } else {
            EXPECT_TRUE(detail.contains(c.detail)) << detail.toStdString();
        }
        if (!c.line.isEmpty()) {
            EXPECT_TRUE(lines.contains("Failed a.wav: " + (c.line == "=" ? detail : c.line))) << lines.join(u'\n').toStdString();
        }
        EXPECT_EQ(runner.statusLine(), "Queue finished — 0 done, 1 failed.");
        if (c.ffmpeg == moveBlocker) {
            EXPECT_FALSE(entries(dir).contains("a_out.wav")); // nothing half done
        } else {
            EXPECT_EQ(entries(dir), c.setUp == sourceRemoved ? QStringList{} : QStringList{"a.wav"});
        }
        if (c.setUp == exportFolderRemoved) {
            EXPECT_FALSE(QFileInfo::exists(out)); // not created behind the user's back
        }
        if (c.preset.id == "broken") {
            EXPECT_TRUE(log.lines().contains("failed exit=1 stderr=" + detail));
        }
    }
    EXPECT_EQ(usageRequests(), 0);
}

TEST_F(ConvertRunnerTest, ANameTakenDuringTheConversionIsNeverReplacedAndSideFilesGo)
{
    const QString source = tone("race/Take 1.wav");
    // Another program takes the chosen name while ffmpeg runs, which leaves files beside its output.
    const QString ffmpeg = TestMedia::script(path("tools/ffmpeg"),
                                             "for last; do :; done\necho converted > \"$last\"\n"
                                             "echo log > \"${last%.wav}.log\"\nmkdir \"${last%.wav}-frames\"\n"
                                             "echo intruder > \"$(dirname \"$last\")/Take 1_out.wav\"\n");
    const Preset preset = scripted("race", "ffmpeg {output_base}.wav");
    ConvertRunner runner;
    runner.queue(QStringList{source}, preset.id);
    ASSERT_TRUE(runToEnd(runner, {preset}, ffmpeg));
    EXPECT_EQ(only(runner).status, "✓ Done → Take 1_out (1).wav");
    EXPECT_EQ(readFile(path("race/Take 1_out.wav")), "intruder\n");
    EXPECT_EQ(readFile(path("race/Take 1_out (1).wav")), "converted\n");
    EXPECT_EQ(entries(path("race")), (QStringList{"Take 1.wav", "Take 1_out (1).wav", "Take 1_out.wav"}));
}

// Any file name reaches ffmpeg as one argument, or its item is refused with the reason; braces
// in the export folder are refused too.
TEST_F(ConvertRunnerTest, PathsAreOneArgumentOrRefused)
{
    const QString placeholder = "The script uses an unsupported placeholder in '{input}'.";
    const QString control = "The script contains unsupported control characters.";
    const struct { QString fileName, detail; bool bracedExportFolder = false; } cases[] = { // detail empty: converts
        {"take {1}.wav", placeholder},
        {"{output_base}.wav", placeholder},
        {"two\nlines.wav", control},
        {"two\rlines.wav", control},
        {"it's \"a\" \\ take.wav", {}},
        {"\u00C9t\u00E9 \u6771\u4EAC \U0001F3B5.wav", {}},
        {"-y.wav", {}},
        {"a.wav", "The script uses an unsupported placeholder in '{output_base}.wav'.", true},
    };
    const Preset job = fast("job");
    ConvertRunner runner;
    for (const auto &c : cases) {
        exportTo(c.bracedExportFolder ? std::optional(folder("out {x}")) : std::nullopt);
        runner.queue(QStringList{tone("p/" + c.fileName)}, job.id);
    }
    exportTo(std::nullopt);
    const StatusLines lines(runner);
    ASSERT_TRUE(runToEnd(runner, {job}));
    ASSERT_EQ(runner.items().size(), qsizetype(std::size(cases)));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fileName.toStdString());
        const auto item = std::find_if(runner.items().cbegin(), runner.items().cend(),
                                       [&](const QueueItem &candidate) { return candidate.input == path("p/" + c.fileName); });
        ASSERT_NE(item, runner.items().cend());
        if (c.detail.isEmpty()) {
            EXPECT_EQ(item->succeeded, true) << item->errorDetail.value_or(QString()).toStdString();
            EXPECT_EQ(item->status, "✓ Done → " + QFileInfo(*item->output).fileName());
            EXPECT_EQ(QFileInfo(*item->output).path(), path("p"));
        } else {
            EXPECT_EQ(item->status, "✗ Script rejected");
            EXPECT_EQ(item->errorDetail, c.detail);
            EXPECT_TRUE(lines.contains("Skipped " + c.fileName + ": " + c.detail)) << lines.join(u'\n').toStdString();
        }
    }
    EXPECT_TRUE(leftovers(path("p")).isEmpty());
    EXPECT_TRUE(entries(path("out {x}")).isEmpty());
}

// An unavailable preset fails its item at once; a stop in the run's first turn, a stop
// mid-conversion, the queue's operations refused while the loop runs, and a later run that
// converts the stopped items from scratch and takes more.
TEST_F(ConvertRunnerTest, StopEndsTheConversionAndALaterRunStartsAfresh)
{
    ConvertRunner runner;
    runner.queue(QStringList{tone("s/retired.wav")}, "retired");
    runner.queue(QStringList{tone("s/a.wav", 20), tone("s/b.wav"), tone("s/c.wav")}, "job");
    const QStringList sources = entries(path("s"));

    // run() and cancel() in one turn: the loop has begun but nothing ran long enough to be seen.
    const StatusLines lines(runner);
    runner.run({slow("job")}, TestMedia::ffmpeg(), &m_store);
    runner.cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.isRunning(); }, runCap));
    EXPECT_EQ(runner.items()[0].status, "✗ Script unavailable");
    EXPECT_EQ(runner.items()[0].errorDetail, "The script 'retired' is not in the current preset list. Refresh scripts and retry.");
    EXPECT_TRUE(lines.contains("retired.wav: script 'retired' is unavailable.")) << lines.join(u'\n').toStdString();
    EXPECT_EQ(runner.items()[1].status, "Stopped");
    EXPECT_EQ(runner.statusLine(), "Stopped — 3 files still queued.");
    EXPECT_EQ(entries(path("s")), sources);

    runner.run({slow("job")}, TestMedia::ffmpeg(), &m_store);
    EXPECT_TRUE(conversionJobRuns());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !leftovers(path("s")).isEmpty(); }, runCap));
    ASSERT_EQ(runner.items()[0].succeeded, false);
    const QList<QueueItem> before = runner.items();
    runner.clearFinished();
    runner.retry(before[0].id);
    runner.remove(before[2].id);
    EXPECT_EQ(runner.items(), before);

    runner.cancel();
    EXPECT_EQ(runner.runState(), ConvertRunner::RunState::stopping);
    EXPECT_TRUE(runner.isRunning());
    runner.cancel(); // only a running loop can be stopped
    runner.clearFinished();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.isRunning(); }, runCap));
    EXPECT_EQ(runner.runState(), ConvertRunner::RunState::idle);
    EXPECT_EQ(lines.mid(lines.size() - 2), (QStringList{"Stopping…", "Stopped — 3 files still queued."}));
    EXPECT_EQ(runner.items()[1].status, "Stopped");
    EXPECT_TRUE(runner.items()[1].isPending());
    EXPECT_EQ(runner.items()[2].status, "Queued");
    EXPECT_FALSE(conversionJobRuns());
    EXPECT_EQ(entries(path("s")), sources);
    EXPECT_EQ(usageRequests(), 0);

    // The later run: a second run() meanwhile is refused (with this list the items would fail as
    // unavailable), and an item queued during the run is taken by it.
    const LogLines appLog("app");
    runner.run({fast("job")}, TestMedia::ffmpeg(), &m_store);
    runner.run({}, TestMedia::ffmpeg(), &m_store);
    runner.queue(QStringList{tone("s/d.wav")}, "job");
    EXPECT_EQ(runner.statusLine(), "1 file added to the queue.");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.isRunning(); }, runCap));
    EXPECT_EQ(runner.statusLine(), "Queue finished — 4 done, 1 failed.");
    EXPECT_EQ(entries(path("s")).filter("_out.wav").size(), 4);
    EXPECT_EQ(usageRequests(), 4);
    EXPECT_EQ(appLog.lines().filter("active job started: Conversion").size(), 1);

    // Clear takes the done and the failed items alike and keeps what waits.
    runner.queue(QStringList{tone("s/e.wav")}, "job");
    runner.clearFinished();
    ASSERT_EQ(runner.items().size(), 1);
    EXPECT_EQ(runner.items()[0].input, path("s/e.wav"));
}

TEST_F(ConvertRunnerTest, ARunnerDestroyedMidRunStopsItsFFmpegAndCleansUp)
{
    const QString source = tone("d/a.wav", 20);
    {
        ConvertRunner runner;
        runner.queue(QStringList{source}, "job");
        runner.run({slow("job")}, TestMedia::ffmpeg(), &m_store);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !leftovers(path("d")).isEmpty(); }, runCap));
    }
    EXPECT_FALSE(conversionJobRuns());
    ASSERT_TRUE(QTest::qWaitFor([&] { return leftovers(path("d")).isEmpty(); }, runCap));
    EXPECT_EQ(entries(path("d")), QStringList{"a.wav"});
}

// An ffmpeg that ignores the stop is killed and waited for, whichever step it was running.
TEST_F(ConvertRunnerTest, AnFFmpegThatIgnoresTheStopIsKilledAtEveryStep)
{
    const QString previous = QDir::currentPath();
    for (const QString step : {"probe", "measurement", "conversion"}) {
        SCOPED_TRACE(step.toStdString());
        const QString source = tone(step + "/a.wav", 2);
        Preset preset = scripted("job", "ffmpeg -i {input} {output_base}.wav");
        // It says it is ready (ignoring SIGTERM) with a file beside its last argument: the source
        // for the probe, the output for the conversion, and "-" (no output) in the working folder
        // for the measurement.
        QString ready = source + ".ready";
        if (step == "probe") {
            preset.maxChannels = 2;
        } else if (step == "measurement") {
            preset.command = "ffmpeg -i {input} -af volume={gain}dB {output_base}.wav";
            preset.loudness = service::LoudnessGoal{-20, -1};
            QDir::setCurrent(folder(step + "-cwd"));
            ready = path(step + "-cwd/-.ready");
        }
        ConvertRunner runner;
        runner.queue(QStringList{source}, preset.id);
        const LogLines log("convert");
        runner.run({preset}, VORLIK_STUBBORN_CHILD, &m_store);
        const bool started = QTest::qWaitFor([&] { return step == "conversion" ? !leftovers(path(step)).isEmpty() : QFileInfo::exists(ready); }, runCap);
        if (step == "measurement") {
            EXPECT_EQ(only(runner).status, "Measuring a.wav…");
        }
        runner.cancel();
        const bool ended = QTest::qWaitFor([&] { return !runner.isRunning(); }, runCap);
        QDir::setCurrent(previous);
        ASSERT_TRUE(started && ended);

        const QStringList killed = log.lines().filter("force-killing ffmpeg pid=");
        ASSERT_EQ(killed.size(), 1) << log.lines().join(u'\n').toStdString();
        EXPECT_NE(::kill(pid_t(killed.first().section(u'=', 1).toLongLong()), 0), 0); // gone, and waited for
        EXPECT_EQ(log.lines().filter("start preset=").isEmpty(), step == "probe"); // ffmpeg itself never ran
        EXPECT_TRUE(log.lines().filter("pass 1").isEmpty());
        EXPECT_EQ(only(runner).status, "Stopped");
        EXPECT_TRUE(only(runner).isPending());
        EXPECT_EQ(runner.statusLine(), "Stopped — 1 file still queued.");
        if (step == "probe") {
            EXPECT_TRUE(leftovers(path(step)).isEmpty()); // its ready file stays beside the source
        } else {
            EXPECT_EQ(entries(path(step)), QStringList{"a.wav"});
        }
    }
}

TEST_F(ConvertRunnerTest, AMeasuringPresetEndsWithAnHonestItem)
{
    // A 2 s tone at about -30 LUFS, to -20 LUFS.
    const QString gain = "ffmpeg -hide_banner -nostdin -y -i \"{input}\" -af volume={gain}dB -c:a pcm_s24le \"{output_base}.wav\"";
    const QString gained = QString(gain).replace("{gain}dB", "{gain}dB,volume=-3dB");
    // wrapper: shell lines run before the real ffmpeg; note: how the item's note begins (either empty for none).
    const struct { const char *name; QString script; QByteArray wrapper; bool lockFolder; QString status; int measurements;
                   QString note; } cases[] = {
        // The measured gain is applied: the output lands on the target.
        {"the gain is applied", gain, {}, false, "✓ Done → a_out.wav", 2, {}},
        // A script that never uses the gain: one pass, and the note says so.
        {"the gain is ignored", "ffmpeg -hide_banner -nostdin -y -i \"{input}\" -c:a pcm_s24le \"{output_base}.wav\"", {}, false,
         "✓ Done → a_out.wav", 2, "The preset did not apply the gain: the output stays at \u2212"},
        // The first pass lands 3 LU short; the second fails as a full disk would: the first is kept.
        {"a later pass fails", gained,
         "for a; do case \"$a\" in *-2.wav) echo 'Error writing trailer: No space left on device' >&2; exit 1;; esac; done\n", false,
         "✓ Done → a_out.wav", 2,
         "A further pass failed (Error writing trailer: No space left on device); the output of an earlier pass is kept. "
         "The output reaches \u2212"},
        // Nothing is measured for an output that could not be written.
        {"the folder cannot be written", gained, {}, true, "✗ Could not save output", 0, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString dir = folder("honest/" + QString::fromLatin1(c.name));
        const QString source = TestMedia::make(dir + "/a.wav", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=2,volume=-9dB"});
        const QString ffmpeg = c.wrapper.isEmpty() ? QString()
                                                   : TestMedia::script(dir + "-ffmpeg", c.wrapper + "exec " + TestMedia::ffmpeg().toUtf8() + " \"$@\"\n");
        if (c.lockFolder && !chattr("+i", dir))
            GTEST_SKIP() << "chattr +i is not available here";
        Preset preset = scripted("measuring", c.script);
        preset.loudness = service::LoudnessGoal{-20, -1};
        ConvertRunner runner;
        runner.queue(QStringList{source}, preset.id);
        const LogLines log("convert");
        const bool finished = runToEnd(runner, {preset}, ffmpeg);
        if (c.lockFolder)
            chattr("-i", dir);
        ASSERT_TRUE(finished);
        const QueueItem &item = only(runner);
        EXPECT_EQ(item.status, c.status) << item.errorDetail.value_or(QString()).toStdString();
        const QStringList lines = log.lines();
        EXPECT_EQ(std::count_if(lines.cbegin(), lines.cend(),
                                [](const QString &line) { return line.startsWith("measured I=") || line.startsWith("pass "); }),
                  c.measurements)
            << lines.join(u'\n').toStdString();
        EXPECT_TRUE(item.note.value_or(QString()).startsWith(c.note)) << item.note.value_or(QString()).toStdString();
        EXPECT_EQ(item.note.has_value(), !c.note.isEmpty());
        if (item.succeeded == true) {
            EXPECT_FALSE(item.errorDetail);
            EXPECT_EQ(entries(dir), (QStringList{"a.wav", "a_out.wav"}));
            if (c.script == gain) {
                EXPECT_NEAR(TestMedia::loudness(*item.output).integrated, -20, 0.2);
            }
        } else {
            EXPECT_EQ(item.errorDetail, "Could not write the converted file in " + dir + ": Operation not permitted");
            EXPECT_EQ(entries(dir), QStringList{"a.wav"});
        }
    }
}

// Conversions side by side: everything promised per item still holds for each.
class SideBySide : public ConvertRunnerTest {
protected:
    void SetUp() override
    {
        ConvertRunnerTest::SetUp();
        if (ConvertRunner::maximumSimultaneousConversions() < 2)
            GTEST_SKIP() << "one processor core: conversions never run side by side";
    }
};

// One runner's two lanes: same-named sources into one folder never pick the same name and each is
// reported once; fewer items waiting than lanes still finish (a lane that finds nothing left to take
// must not be started again and again); a stop reaches every process and leaves nothing behind.
TEST_F(SideBySide, NoSharedNameNoSpinningLaneAndAStopReachesEveryProcess)
{
    const Preset job = fast("job");
    ConvertRunner runner;
    runner.setSimultaneousConversions(2);
    exportTo(folder("out"));
    for (const QString from : {"a", "b", "c"})
        runner.queue(QStringList{tone(from + "/take.wav", 2)}, job.id);
    exportTo(std::nullopt);
    const LogLines log("convert");
    ASSERT_TRUE(runToEnd(runner, {job}));
    // Each item keeps the name chosen for it when it started; no two chose the same.
    QStringList chosen;
    for (const QString &line : log.lines().filter("start preset="))
        chosen.append(QFileInfo(line.section(" output=", 1)).fileName());
    chosen.sort();
    const QStringList expected{"take_out (1).wav", "take_out (2).wav", "take_out.wav"};
    EXPECT_EQ(chosen, expected) << log.lines().join(u'\n').toStdString();
    EXPECT_EQ(entries(path("out")), expected);
    EXPECT_EQ(runner.statusLine(), "Queue finished — 3 done, 0 failed.");
    EXPECT_EQ(usageRequests(), 3);

    // presets: one item each, in this order ("retired" is not offered); queueDuringRun: the last is queued after run().
    const struct { const char *name; QStringList presets; bool queueDuringRun; QString status; } cases[] = {
        {"one item, two lanes", {"job"}, false, "Queue finished — 1 done, 0 failed."},
        {"two items, the first unavailable", {"retired", "job"}, false, "Queue finished — 1 done, 1 failed."},
        {"an unavailable item queued during a run", {"slow", "retired"}, true, "Queue finished — 1 done, 1 failed."},
    };
    int index = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const HangGuard guard;
        runner.clearFinished();
        ++index;
        for (qsizetype i = 0; i < c.presets.size() - (c.queueDuringRun ? 1 : 0); ++i)
            runner.queue(QStringList{tone(u"f%1/%2.wav"_s.arg(index).arg(i), 2)}, c.presets[i]);
        runner.run({job, slow("slow")}, TestMedia::ffmpeg(), &m_store);
        if (c.queueDuringRun)
            runner.queue(QStringList{tone(u"f%1/late.wav"_s.arg(index))}, c.presets.last());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.isRunning(); }, runCap));
        EXPECT_EQ(runner.statusLine(), c.status);
    }

    // Both children say they are ready (ignoring SIGTERM), each with a file beside its output.
    runner.clearFinished();
    runner.queue(QStringList{tone("k/a.wav"), tone("k/b.wav")}, job.id);
    runner.run({scripted("job", "ffmpeg -i {input} {output_base}.wav")}, VORLIK_STUBBORN_CHILD, &m_store);
    ASSERT_TRUE(QTest::qWaitFor([&] { return leftovers(path("k")).size() == 2; }, runCap));
    EXPECT_TRUE(conversionJobRuns());
    runner.cancel();
    // The children give up by themselves after a minute: well before that, both must be gone.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.isRunning(); }, 30000));
    const QStringList killed = log.lines().filter("force-killing ffmpeg pid=");
    ASSERT_EQ(killed.size(), 2) << log.lines().join(u'\n').toStdString();
    for (const QString &line : killed)
        EXPECT_NE(::kill(pid_t(line.section(u'=', 1).toLongLong()), 0), 0) << line.toStdString();
    for (const QueueItem &item : runner.items())
        EXPECT_EQ(item.status, "Stopped");
    EXPECT_EQ(runner.statusLine(), "Stopped — 2 files still queued.");
    EXPECT_EQ(entries(path("k")), (QStringList{"a.wav", "b.wav"}));
}

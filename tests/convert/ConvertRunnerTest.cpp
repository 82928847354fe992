// The convert runner's loop with real ffmpeg, real files and the real stand-in service: outputs
// and their names, every failure text, stopping, force-killing, usage reports.
#include "RunnerFixture.h"

#include "app/ActiveJobs.h"

#include <QFile>

using namespace vorlik;
using namespace vorlik::test;
using convert::ConvertRunner;
using convert::QueueItem;
using service::Preset;
using service::SessionStore;

namespace {

const QString usagePath = QStringLiteral("/v1/usage/convert");

class ConvertRunnerTest : public RunnerFixture {
protected:
    // The service's -14 LUFS preset under the suffix "_norm".
    Preset norm() const
    {
        Preset preset = this->preset(QStringLiteral("normalise-14lufs"));
        preset.suffix = QStringLiteral("_norm");
        return preset;
    }

    // A preset with its own script, output extension ".wav" and suffix "_out".
    static Preset scripted(const QString &id, const QString &command)
    {
        Preset preset;
        preset.id = id;
        preset.name = id;
        preset.suffix = QStringLiteral("_out");
        preset.outputExt = QStringLiteral(".wav");
        preset.kind = QStringLiteral("normalise");
        preset.command = command;
        return preset;
    }

    // Converts in real time, so that it runs until stopped.
    static Preset slow(const QString &id)
    {
        return scripted(id, QStringLiteral("ffmpeg -hide_banner -nostdin -y -re -i \"{input}\" -c:a pcm_s16le \"{output_base}.wav\""));
    }
    static Preset fast(const QString &id)
    {
        return scripted(id, QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -c:a pcm_s16le \"{output_base}.wav\""));
    }

    static bool chattr(const QString &flag, const QString &path)
    {
        return QProcess::execute(QStringLiteral("chattr"), {flag, path}) == 0;
    }

    static int usageRequests() { return int(requestsTo(usagePath).size()); }
};

} // namespace

TEST_F(ConvertRunnerTest, ConvertsBesideTheSourceUnderTheFirstFreeName)
{
    const QString source = tone(QStringLiteral("media/Take 1.flac"), 0.5);
    vorlik::test::writeFile(path(QStringLiteral("media/Take 1_norm.wav")), "user file");
    vorlik::test::writeFile(path(QStringLiteral("media/Take 1_norm (1).wav")), "user file 1");
    ConvertRunner runner;
    runner.queue(QStringList{source}, QStringLiteral("normalise-14lufs"));
    const LogLines log(QStringLiteral("convert"));
    ASSERT_TRUE(runToEnd(runner, {norm()}));

    const QueueItem &item = only(runner);
    EXPECT_EQ(item.status, QStringLiteral("✓ Done → Take 1_norm (2).wav"));
    EXPECT_EQ(item.succeeded, true);
    EXPECT_EQ(item.output, path(QStringLiteral("media/Take 1_norm (2).wav")));
    EXPECT_FALSE(item.errorDetail);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished — 1 done, 0 failed."));
    EXPECT_EQ(runner.runState(), ConvertRunner::RunState::idle);
    EXPECT_FALSE(runner.hasPending());

    // The user's files are untouched and nothing temporary is left.
    EXPECT_EQ(vorlik::test::readFile(path(QStringLiteral("media/Take 1_norm.wav"))), QByteArray("user file"));
    EXPECT_EQ(vorlik::test::readFile(path(QStringLiteral("media/Take 1_norm (1).wav"))), QByteArray("user file 1"));
    EXPECT_EQ(entries(path(QStringLiteral("media"))),
              (QStringList{QStringLiteral("Take 1.flac"), QStringLiteral("Take 1_norm (1).wav"),
                           QStringLiteral("Take 1_norm (2).wav"), QStringLiteral("Take 1_norm.wav")}));

    const QList<QJsonObject> streams = TestMedia::streams(*item.output);
    ASSERT_EQ(streams.size(), 1);
    EXPECT_EQ(streams[0].value(QStringLiteral("codec_name")).toString(), QStringLiteral("pcm_s24le"));
    EXPECT_EQ(streams[0].value(QStringLiteral("channels")).toInt(), 1);
    EXPECT_EQ(streams[0].value(QStringLiteral("sample_rate")).toString(), QStringLiteral("48000"));

    // The loudness preset measures the source and its one output between start and done.
    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 4) << lines.join(u'\n').toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("start preset=normalise-14lufs input=") + source + QStringLiteral(" output=")
                            + *item.output);
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("measured I="))) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("pass 1 gain="))) << lines[2].toStdString();
    EXPECT_EQ(lines[3], QStringLiteral("done output=") + *item.output);
}

TEST_F(ConvertRunnerTest, ReportsTheUsageOfEachConversionWithTheSourcesName)
{
    const QString source = tone(QStringLiteral("archive.tar.flac"));
    const qint64 size = QFileInfo(source).size();
    const qint64 before = usageTotal();
    ConvertRunner runner;
    runner.queue(QStringList{source}, QStringLiteral("normalise-16lufs"));
    ASSERT_TRUE(runToEnd(runner, m_store.presets()));

    EXPECT_EQ(only(runner).status, QStringLiteral("✓ Done → archive.tar_-16LUFS.wav"));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished — 1 done, 0 failed."));
    ASSERT_EQ(usageTotal(), before + 1);
    const QJsonArray reports = server().usage().value(QStringLiteral("reports")).toArray();
    const QJsonObject last = reports.last().toObject();
    EXPECT_EQ(last.value(QStringLiteral("process_key")).toString(), QStringLiteral("normalise-16lufs"));
    EXPECT_EQ(last.value(QStringLiteral("filename")).toString(), QStringLiteral("archive.tar.flac"));
    EXPECT_EQ(last.value(QStringLiteral("file_count")).toInteger(), 1);
    EXPECT_EQ(last.value(QStringLiteral("input_bytes")).toInteger(), size);
    EXPECT_EQ(bearerOf(requestsTo(usagePath).last()), m_store.session()->accessToken);
    EXPECT_EQ(m_store.pendingUsageCount(), 0);
}

TEST_F(ConvertRunnerTest, WithoutASessionNothingIsReported)
{
    const QString source = tone(QStringLiteral("a.wav"));
    SessionStore signedOut;
    ConvertRunner runner;
    runner.queue(QStringList{source}, QStringLiteral("normalise-23lufs"));
    ASSERT_TRUE(runToEnd(runner, m_store.presets(), TestMedia::ffmpeg(), &signedOut));
    EXPECT_EQ(only(runner).status, QStringLiteral("✓ Done → a_-23LUFS.wav"));
    EXPECT_EQ(usageRequests(), 0);
    EXPECT_EQ(signedOut.pendingUsageCount(), 0);
}

TEST_F(ConvertRunnerTest, AReportThatFailsIsQueuedAndSaidSo)
{
    server().addFault(fault(QStringLiteral("POST"), usagePath, QStringLiteral("status"), 500));
    const QString source = tone(QStringLiteral("a.wav"));
    ConvertRunner runner;
    runner.queue(QStringList{source}, QStringLiteral("normalise-14lufs"));
    ASSERT_TRUE(runToEnd(runner, m_store.presets()));
    EXPECT_EQ(only(runner).status, QStringLiteral("✓ Done → a_-14LUFS.wav (usage not reported)"));
    EXPECT_EQ(only(runner).succeeded, true);
    // The loop's own last line follows it.
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished — 1 done, 0 failed."));
    EXPECT_EQ(m_store.pendingUsageCount(), 1);
    EXPECT_EQ(m_store.pendingUsage().first().filename, QStringLiteral("a.wav"));
}

TEST_F(ConvertRunnerTest, TheUsageLineShowsWhileTheNextItemWaits)
{
    server().addFault(fault(QStringLiteral("POST"), usagePath, QStringLiteral("status"), 500));
    ConvertRunner runner;
    runner.queue(QStringList{tone(QStringLiteral("a.wav")), tone(QStringLiteral("b.wav"))}, QStringLiteral("normalise-14lufs"));
    QStringList lines;
    QObject::connect(&runner, &ConvertRunner::statusLineChanged, [&] { lines.append(runner.statusLine()); });
    ASSERT_TRUE(runToEnd(runner, m_store.presets()));
    EXPECT_EQ(lines, (QStringList{QStringLiteral("Running…"), QStringLiteral("Measuring a.wav…"),
                                  QStringLiteral("Converting a.wav…"), QStringLiteral("Checking a.wav…"),
                                  QStringLiteral("✓ a_-14LUFS.wav — usage reporting failed and will retry."),
                                  QStringLiteral("Measuring b.wav…"), QStringLiteral("Converting b.wav…"),
                                  QStringLiteral("Checking b.wav…"), QStringLiteral("Queue finished — 2 done, 0 failed.")}));
}

TEST_F(ConvertRunnerTest, AnUnknownPresetFailsItsItemOnly)
{
    ConvertRunner runner;
    runner.queue(QStringList{tone(QStringLiteral("a.wav"))}, QStringLiteral("retired-preset"));
    runner.queue(QStringList{tone(QStringLiteral("b.wav"))}, QStringLiteral("normalise-14lufs"));
    QStringList lines;
    QObject::connect(&runner, &ConvertRunner::statusLineChanged, [&] { lines.append(runner.statusLine()); });
    ASSERT_TRUE(runToEnd(runner, m_store.presets()));
    const QueueItem &failed = runner.items()[0];
    EXPECT_EQ(failed.status, QStringLiteral("✗ Script unavailable"));
    EXPECT_EQ(failed.succeeded, false);
    EXPECT_EQ(failed.errorDetail,
              QStringLiteral("The script 'retired-preset' is not in the current preset list. Refresh scripts and retry."));
    EXPECT_TRUE(lines.contains(QStringLiteral("a.wav: script 'retired-preset' is unavailable.")));
    EXPECT_EQ(runner.items()[1].succeeded, true);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished — 1 done, 1 failed."));
}

TEST_F(ConvertRunnerTest, AScriptWritingAnotherExtensionProducesNothingAndLeavesNothing)
{
    const QString source = tone(QStringLiteral("w/a.wav"));
    const Preset flac = scripted(QStringLiteral("wrong-ext"),
                                 QStringLiteral("ffmpeg -hide_banner -nostdin -y -i {input} {output_base}.flac"));
    ConvertRunner runner;
    runner.queue(QStringList{source}, flac.id);
    QStringList lines;
    QObject::connect(&runner, &ConvertRunner::statusLineChanged, [&] { lines.append(runner.statusLine()); });
    ASSERT_TRUE(runToEnd(runner, {flac}));
    const QueueItem &item = only(runner);
    EXPECT_EQ(item.status, QStringLiteral("✗ No output produced"));
    EXPECT_EQ(item.succeeded, false);
    EXPECT_EQ(item.errorDetail, QStringLiteral("The script finished but did not create the expected output file."));
    EXPECT_TRUE(lines.contains(QStringLiteral("Failed a.wav: the script produced no output.")));
    EXPECT_EQ(entries(path(QStringLiteral("w"))), QStringList{QStringLiteral("a.wav")}); // the stray .flac is gone
    EXPECT_EQ(usageRequests(), 0);
}

TEST_F(ConvertRunnerTest, AFailingScriptShowsItsExitCodeAndLastErrorLine)
{
    const QString source = tone(QStringLiteral("f/a.wav"));
    const Preset broken = scripted(QStringLiteral("broken"),
                                   QStringLiteral("ffmpeg -hide_banner -nostdin -y -i {input} -af 'volume=bogus(' {output_base}.wav"));
    ConvertRunner runner;
    runner.queue(QStringList{source}, broken.id);
    const LogLines log(QStringLiteral("convert"));
    QStringList lines;
    QObject::connect(&runner, &ConvertRunner::statusLineChanged, [&] { lines.append(runner.statusLine()); });
    ASSERT_TRUE(runToEnd(runner, {broken}));
    const QueueItem &item = only(runner);
    EXPECT_EQ(item.status, QStringLiteral("✗ Failed (exit 1)"));
    // The last line that speaks of an error, not the "Conversion failed!" after it.
    EXPECT_EQ(item.errorDetail, QStringLiteral("Error while processing the decoded data for stream #0:0"));
    EXPECT_TRUE(lines.contains(QStringLiteral("Failed a.wav: ") + *item.errorDetail));
    EXPECT_TRUE(log.lines().contains(QStringLiteral("failed exit=1 stderr=") + *item.errorDetail));
    EXPECT_EQ(entries(path(QStringLiteral("f"))), QStringList{QStringLiteral("a.wav")});
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished — 0 done, 1 failed."));
}

TEST_F(ConvertRunnerTest, ASourceThatVanishedFailsWithTheReason)
{
    const QString source = tone(QStringLiteral("v/gone.wav"));
    ConvertRunner runner;
    runner.queue(QStringList{source}, QStringLiteral("audio-m4a")); // with the channel probe too
    QFile::remove(source);
    ASSERT_TRUE(runToEnd(runner, m_store.presets()));
    const QueueItem &item = only(runner);
    EXPECT_EQ(item.status, QStringLiteral("✗ Failed (exit 1)"));
    ASSERT_TRUE(item.errorDetail);
    EXPECT_TRUE(item.errorDetail->contains(QStringLiteral("No such file or directory"))) << item.errorDetail->toStdString();
    EXPECT_TRUE(entries(path(QStringLiteral("v"))).isEmpty());
}

TEST_F(ConvertRunnerTest, ADeletedExportFolderFailsTheItem)
{
    const QString source = tone(QStringLiteral("src/a.wav"));
    const QString out = folder(QStringLiteral("out"));
    platform::Settings::standard().setValue(QStringLiteral("exportLocation"), QStringLiteral("customFolder"));
    platform::Settings::standard().setValue(QStringLiteral("exportFolderPath"), out);
    ConvertRunner runner;
    runner.queue(QStringList{source}, QStringLiteral("job"));
    ASSERT_TRUE(QDir(out).removeRecursively());
    ASSERT_TRUE(runToEnd(runner, {fast(QStringLiteral("job"))}));
    const QueueItem &item = only(runner);
    EXPECT_EQ(item.status, QStringLiteral("✗ Failed (exit 1)"));
    // ffmpeg names the reason without the word "error": its own words are the summary.
    ASSERT_TRUE(item.errorDetail);
    EXPECT_TRUE(item.errorDetail->endsWith(QStringLiteral(": No such file or directory"))) << item.errorDetail->toStdString();
    EXPECT_FALSE(QFileInfo::exists(out)); // not created behind the user's back
    EXPECT_EQ(entries(path(QStringLiteral("src"))), QStringList{QStringLiteral("a.wav")});
}

TEST_F(ConvertRunnerTest, AReadOnlyExportFolderFailsTheItem)
{
    const QString source = tone(QStringLiteral("ro/a.wav"));
    ConvertRunner runner;
    runner.queue(QStringList{source}, QStringLiteral("job"));
    // Permission bits do not stop root; an immutable folder stops everyone.
    if (!chattr(QStringLiteral("+i"), path(QStringLiteral("ro"))))
        GTEST_SKIP() << "chattr +i is not available here";
    const bool finished = runToEnd(runner, {fast(QStringLiteral("job"))});
    chattr(QStringLiteral("-i"), path(QStringLiteral("ro")));
    ASSERT_TRUE(finished);
    const QueueItem &item = only(runner);
    EXPECT_EQ(item.status, QStringLiteral("✗ Failed (exit 1)"));
    EXPECT_EQ(item.succeeded, false);
    EXPECT_EQ(entries(path(QStringLiteral("ro"))), QStringList{QStringLiteral("a.wav")});
}

TEST_F(ConvertRunnerTest, AMoveThatFailsKeepsNothingHalfDone)
{
    const QString source = tone(QStringLiteral("mv/a.wav"));
    if (!chattr(QStringLiteral("+i"), path(QStringLiteral("mv"))) || !chattr(QStringLiteral("-i"), path(QStringLiteral("mv"))))
        GTEST_SKIP() << "chattr +i is not available here";
    // Writes its output, then makes the folder immutable before the runner moves it.
    const QString ffmpeg = TestMedia::script(path(QStringLiteral("tools/ffmpeg")),
                                             "for last; do :; done\necho converted > \"$last\"\nchattr +i \"$(dirname \"$last\")\"\n");
    const Preset preset = scripted(QStringLiteral("locks"), QStringLiteral("ffmpeg {output_base}.wav"));
    ConvertRunner runner;
    runner.queue(QStringList{source}, preset.id);
    QStringList lines;
    QObject::connect(&runner, &ConvertRunner::statusLineChanged, [&] { lines.append(runner.statusLine()); });
    const bool finished = runToEnd(runner, {preset}, ffmpeg, &m_store);
    chattr(QStringLiteral("-i"), path(QStringLiteral("mv")));
    ASSERT_TRUE(finished);
    const QueueItem &item = only(runner);
    EXPECT_EQ(item.status, QStringLiteral("✗ Could not save output"));
    EXPECT_EQ(item.succeeded, false);
    EXPECT_EQ(item.errorDetail, QStringLiteral("Could not move the converted file to ") + path(QStringLiteral("mv/a_out.wav"))
                                    + QStringLiteral(": Operation not permitted"));
    EXPECT_TRUE(lines.contains(QStringLiteral("Failed a.wav: ") + *item.errorDetail));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("mv/a_out.wav"))));
    EXPECT_EQ(usageRequests(), 0);
}

TEST_F(ConvertRunnerTest, ANameTakenDuringTheConversionIsNeverReplaced)
{
    const QString source = tone(QStringLiteral("race/Take 1.wav"));
    // Another program takes the chosen name while ffmpeg runs.
    const QString ffmpeg = TestMedia::script(path(QStringLiteral("tools/ffmpeg")),
                                             "for last; do :; done\necho converted > \"$last\"\n"
                                             "echo intruder > \"$(dirname \"$last\")/Take 1_out.wav\"\n");
    const Preset preset = scripted(QStringLiteral("race"), QStringLiteral("ffmpeg {output_base}.wav"));
    ConvertRunner runner;
    runner.queue(QStringList{source}, preset.id);
    ASSERT_TRUE(runToEnd(runner, {preset}, ffmpeg, &m_store));
    const QueueItem &item = only(runner);
    EXPECT_EQ(item.status, QStringLiteral("✓ Done → Take 1_out (1).wav"));
    EXPECT_EQ(vorlik::test::readFile(path(QStringLiteral("race/Take 1_out.wav"))), QByteArray("intruder\n"));
    EXPECT_EQ(vorlik::test::readFile(path(QStringLiteral("race/Take 1_out (1).wav"))), QByteArray("converted\n"));
    EXPECT_TRUE(leftovers(path(QStringLiteral("race"))).isEmpty());
}

TEST_F(ConvertRunnerTest, SideFilesOfTheTemporaryBaseAreRemovedAfterSuccess)
{
    const QString source = tone(QStringLiteral("side/a.wav"));
    const QString ffmpeg = TestMedia::script(path(QStringLiteral("tools/ffmpeg")),
                                             "for last; do :; done\necho converted > \"$last\"\n"
                                             "echo log > \"${last%.wav}.log\"\nmkdir \"${last%.wav}-frames\"\n");
    const Preset preset = scripted(QStringLiteral("side"), QStringLiteral("ffmpeg {output_base}.wav"));
    ConvertRunner runner;
    runner.queue(QStringList{source}, preset.id);
    ASSERT_TRUE(runToEnd(runner, {preset}, ffmpeg, &m_store));
    EXPECT_EQ(only(runner).status, QStringLiteral("✓ Done → a_out.wav"));
    EXPECT_EQ(entries(path(QStringLiteral("side"))), (QStringList{QStringLiteral("a.wav"), QStringLiteral("a_out.wav")}));
}

struct PathCase {
    const char *name;
    QString fileName;
    QString detail; // empty: converts
};

void PrintTo(const PathCase &c, std::ostream *out) { *out << c.name; }

class ConvertRunnerPaths : public ConvertRunnerTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(ConvertRunnerPaths, AreOneArgumentOrRefused)
{
    const QString source = tone(QStringLiteral("p/") + GetParam().fileName);
    ConvertRunner runner;
    runner.queue(QStringList{source}, QStringLiteral("normalise-14lufs"));
    QStringList lines;
    QObject::connect(&runner, &ConvertRunner::statusLineChanged, [&] { lines.append(runner.statusLine()); });
    ASSERT_TRUE(runToEnd(runner, m_store.presets()));
    const QueueItem &item = only(runner);
    if (GetParam().detail.isEmpty()) {
        EXPECT_EQ(item.succeeded, true) << item.errorDetail.value_or(QString()).toStdString();
        EXPECT_EQ(item.status, QStringLiteral("✓ Done → ") + QFileInfo(*item.output).fileName());
        EXPECT_EQ(QFileInfo(*item.output).path(), path(QStringLiteral("p")));
    } else {
        EXPECT_EQ(item.status, QStringLiteral("✗ Script rejected"));
        EXPECT_EQ(item.succeeded, false);
        EXPECT_EQ(item.errorDetail, GetParam().detail);
        EXPECT_TRUE(lines.contains(QStringLiteral("Skipped ") + GetParam().fileName + QStringLiteral(": ") + GetParam().detail));
    }
    EXPECT_TRUE(leftovers(path(QStringLiteral("p"))).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConvertRunnerPaths,
    ::testing::Values(
        PathCase{"braces", QStringLiteral("take {1}.wav"),
                 QStringLiteral("The script uses an unsupported placeholder in '{input}'.")},
        PathCase{"a placeholder's name", QStringLiteral("{output_base}.wav"),
                 QStringLiteral("The script uses an unsupported placeholder in '{input}'.")},
        PathCase{"line feed", QStringLiteral("two\nlines.wav"), QStringLiteral("The script contains unsupported control characters.")},
        PathCase{"carriage return", QStringLiteral("two\rlines.wav"),
                 QStringLiteral("The script contains unsupported control characters.")},
        PathCase{"quotes, spaces and backslashes", QStringLiteral("it's \"a\" \\ take.wav"), QString()},
        PathCase{"unicode", QStringLiteral("\u00C9t\u00E9 \u6771\u4EAC \U0001F3B5.wav"), QString()},
        PathCase{"leading dash", QStringLiteral("-y.wav"), QString()}),
    [](const auto &info) { return std::to_string(info.index); });

TEST_F(ConvertRunnerTest, BracesInTheExportFolderAreRefusedToo)
{
    const QString source = tone(QStringLiteral("src/a.wav"));
    platform::Settings::standard().setValue(QStringLiteral("exportLocation"), QStringLiteral("customFolder"));
    platform::Settings::standard().setValue(QStringLiteral("exportFolderPath"), folder(QStringLiteral("out {x}")));
    ConvertRunner runner;
    runner.queue(QStringList{source}, QStringLiteral("normalise-14lufs"));
    ASSERT_TRUE(runToEnd(runner, m_store.presets()));
    EXPECT_EQ(only(runner).status, QStringLiteral("✗ Script rejected"));
    EXPECT_EQ(only(runner).errorDetail, QStringLiteral("The script uses an unsupported placeholder in '{output_base}.wav'."));
    EXPECT_TRUE(entries(path(QStringLiteral("out {x}"))).isEmpty());
}

TEST_F(ConvertRunnerTest, AMissingOrNonExecutableFFmpegFailsEachItem)
{
    const QString source = tone(QStringLiteral("x/a.wav"));
    const QString plain = path(QStringLiteral("tools/ffmpeg"));
    vorlik::test::writeFile(plain, "#!/bin/sh\nexit 0\n");
    const struct {
        QString ffmpeg;
        QString reason;
    } cases[] = {{path(QStringLiteral("tools/missing")), QStringLiteral("No such file or directory")},
                 {plain, QStringLiteral("Permission denied")}};
    for (const auto &c : cases) {
        ConvertRunner runner;
        runner.queue(QStringList{source}, QStringLiteral("audio-m4a")); // the probe fails to launch first
        ASSERT_TRUE(runToEnd(runner, m_store.presets(), c.ffmpeg, &m_store));
        const QueueItem &item = only(runner);
        EXPECT_EQ(item.status, QStringLiteral("✗ Failed (exit -1)"));
        ASSERT_TRUE(item.errorDetail);
        EXPECT_TRUE(item.errorDetail->contains(c.reason)) << item.errorDetail->toStdString();
        EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished — 0 done, 1 failed."));
        EXPECT_EQ(entries(path(QStringLiteral("x"))), QStringList{QStringLiteral("a.wav")});
    }
}

TEST_F(ConvertRunnerTest, StopEndsTheConversionAndALaterRunStartsAfresh)
{
    const QString source = tone(QStringLiteral("s/a.wav"), 20);
    ConvertRunner runner;
    runner.queue(QStringList{source}, QStringLiteral("job"));
    QStringList lines;
    QObject::connect(&runner, &ConvertRunner::statusLineChanged, [&] { lines.append(runner.statusLine()); });
    runner.run({slow(QStringLiteral("job"))}, TestMedia::ffmpeg(), &m_store);
    EXPECT_TRUE(app::ActiveJobs::shared().runningKeys().contains(QStringLiteral("Conversion")));
    ASSERT_TRUE(waitUntil([&] { return !leftovers(path(QStringLiteral("s"))).isEmpty(); }));

    runner.cancel();
    EXPECT_EQ(runner.runState(), ConvertRunner::RunState::stopping);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Stopping…"));
    EXPECT_TRUE(runner.isRunning());
    runner.cancel(); // only a running loop can be stopped
    runner.clearFinished();
    ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }));

    EXPECT_EQ(runner.runState(), ConvertRunner::RunState::idle);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Stopped — 1 file still queued."));
    EXPECT_EQ(lines.mid(lines.size() - 2), (QStringList{QStringLiteral("Stopping…"), QStringLiteral("Stopped — 1 file still queued.")}));
    EXPECT_EQ(only(runner).status, QStringLiteral("Stopped"));
    EXPECT_TRUE(only(runner).isPending());
    EXPECT_FALSE(app::ActiveJobs::shared().runningKeys().contains(QStringLiteral("Conversion")));
    EXPECT_EQ(entries(path(QStringLiteral("s"))), QStringList{QStringLiteral("a.wav")});
    EXPECT_EQ(usageRequests(), 0);

    // A later run converts it again, from scratch.
    ASSERT_TRUE(runToEnd(runner, {fast(QStringLiteral("job"))}));
    EXPECT_EQ(only(runner).status, QStringLiteral("✓ Done → a_out.wav"));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished — 1 done, 0 failed."));
    EXPECT_EQ(entries(path(QStringLiteral("s"))), (QStringList{QStringLiteral("a.wav"), QStringLiteral("a_out.wav")}));
    EXPECT_EQ(usageRequests(), 1);
}

TEST_F(ConvertRunnerTest, StopWithOtherItemsWaitingCountsThem)
{
    const QString first = tone(QStringLiteral("s/a.wav"), 20);
    ConvertRunner runner;
    runner.queue(QStringList{first, tone(QStringLiteral("s/b.wav")), tone(QStringLiteral("s/c.wav"))}, QStringLiteral("job"));
    runner.run({slow(QStringLiteral("job"))}, TestMedia::ffmpeg(), &m_store);
    ASSERT_TRUE(waitUntil([&] { return !leftovers(path(QStringLiteral("s"))).isEmpty(); }));
    runner.cancel();
    ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Stopped — 3 files still queued."));
    EXPECT_EQ(runner.items()[0].status, QStringLiteral("Stopped"));
    EXPECT_EQ(runner.items()[1].status, QStringLiteral("Queued"));
}

TEST_F(ConvertRunnerTest, AnFFmpegThatIgnoresTheStopIsKilled)
{
    const QString source = tone(QStringLiteral("k/a.wav"));
    const Preset preset = scripted(QStringLiteral("job"), QStringLiteral("ffmpeg -i {input} {output_base}.wav"));
    ConvertRunner runner;
    runner.queue(QStringList{source}, preset.id);
    const LogLines log(QStringLiteral("convert"));
    runner.run({preset}, QStringLiteral(VORLIK_STUBBORN_CHILD), &m_store);
    // It says it is ready (ignoring SIGTERM) with a file beside its output.
    ASSERT_TRUE(waitUntil([&] { return !leftovers(path(QStringLiteral("k"))).isEmpty(); }));
    runner.cancel();
    ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }));

    const QStringList killed = log.lines().filter(QStringLiteral("force-killing ffmpeg pid="));
    ASSERT_EQ(killed.size(), 1) << log.lines().join(u'\n').toStdString();
    const qint64 pid = killed.first().mid(QStringLiteral("force-killing ffmpeg pid=").size()).toLongLong();
    EXPECT_GT(pid, 0);
    EXPECT_NE(::kill(pid_t(pid), 0), 0); // gone, and waited for
    EXPECT_EQ(only(runner).status, QStringLiteral("Stopped"));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Stopped — 1 file still queued."));
    EXPECT_EQ(entries(path(QStringLiteral("k"))), QStringList{QStringLiteral("a.wav")});
}

TEST_F(ConvertRunnerTest, AStopDuringTheChannelProbeStopsTheItem)
{
    const QString source = tone(QStringLiteral("pr/a.wav"));
    Preset preset = scripted(QStringLiteral("job"), QStringLiteral("ffmpeg -i {input} {output_base}.wav"));
    preset.maxChannels = 2;
    ConvertRunner runner;
    runner.queue(QStringList{source}, preset.id);
    const LogLines log(QStringLiteral("convert"));
    runner.run({preset}, QStringLiteral(VORLIK_STUBBORN_CHILD), &m_store);
    // The probe's last argument is the source: its ready file appears beside it.
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(source + QStringLiteral(".ready")); }));
    runner.cancel();
    ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }));

    EXPECT_EQ(log.lines().filter(QStringLiteral("force-killing ffmpeg pid=")).size(), 1);
    EXPECT_TRUE(log.lines().filter(QStringLiteral("start preset=")).isEmpty()); // ffmpeg itself never ran
    EXPECT_EQ(only(runner).status, QStringLiteral("Stopped"));
    EXPECT_TRUE(only(runner).isPending());
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Stopped — 1 file still queued."));
    EXPECT_TRUE(leftovers(path(QStringLiteral("pr"))).isEmpty());
}

TEST_F(ConvertRunnerTest, AStopDuringTheMeasurementStopsTheItem)
{
    const QString source = tone(QStringLiteral("me/a.wav"), 2);
    Preset preset = scripted(QStringLiteral("job"), QStringLiteral("ffmpeg -i {input} -af volume={gain}dB {output_base}.wav"));
    preset.loudness = service::LoudnessGoal{-20, -1};
    // The measurement's last argument is "-" (no output file): its ready file appears in the
    // working folder, which the runner's children share with the test.
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder(QStringLiteral("cwd")));
    ConvertRunner runner;
    runner.queue(QStringList{source}, preset.id);
    const LogLines log(QStringLiteral("convert"));
    runner.run({preset}, QStringLiteral(VORLIK_STUBBORN_CHILD), &m_store);
    const bool measuring = waitUntil([&] { return QFileInfo::exists(path(QStringLiteral("cwd/-.ready"))); });
    EXPECT_EQ(only(runner).status, QStringLiteral("Measuring a.wav…"));
    runner.cancel();
    const bool ended = waitUntil([&] { return !runner.isRunning(); });
    QDir::setCurrent(previous);
    ASSERT_TRUE(measuring && ended);

    EXPECT_EQ(log.lines().filter(QStringLiteral("force-killing ffmpeg pid=")).size(), 1);
    EXPECT_TRUE(log.lines().filter(QStringLiteral("pass 1")).isEmpty()); // nothing was converted
    EXPECT_EQ(only(runner).status, QStringLiteral("Stopped"));
    EXPECT_TRUE(only(runner).isPending());
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Stopped — 1 file still queued."));
    EXPECT_EQ(entries(path(QStringLiteral("me"))), QStringList{QStringLiteral("a.wav")});
}

TEST_F(ConvertRunnerTest, MeasuredPlaceholdersWorkOnlyInAPresetThatMeasures)
{
    const QString script = QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -af volume={gain}dB "
                                          "-c:a pcm_s24le \"{output_base}.wav\"");
    const QString source = TestMedia::make(folder(QStringLiteral("pl")) + QStringLiteral("/a.wav"),
                                           {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                            QStringLiteral("sine=frequency=440:sample_rate=48000:duration=2")});
    ConvertRunner runner;
    runner.queue(QStringList{source}, QStringLiteral("plain"));
    ASSERT_TRUE(runToEnd(runner, {scripted(QStringLiteral("plain"), script)}));
    EXPECT_EQ(only(runner).status, QStringLiteral("✗ Script rejected"));
    EXPECT_EQ(only(runner).errorDetail,
              QStringLiteral("The script uses an unsupported placeholder in 'volume={gain}dB'."));

    Preset measuring = scripted(QStringLiteral("measuring"), script);
    measuring.loudness = service::LoudnessGoal{-20, -1};
    runner.queue(QStringList{source}, measuring.id);
    const LogLines log(QStringLiteral("convert"));
    ASSERT_TRUE(runToEnd(runner, {measuring}));
    const QueueItem &item = runner.items().at(1);
    EXPECT_EQ(item.succeeded, true) << item.status.toStdString();
    EXPECT_FALSE(item.note) << item.note.value_or(QString()).toStdString();
    EXPECT_EQ(log.lines().filter(QStringLiteral("measured I=")).size(), 1);
    EXPECT_NEAR(TestMedia::loudness(*item.output).integrated, -20, 0.2);
}

TEST_F(ConvertRunnerTest, AMeasuringPresetEndsWithAnHonestItem)
{
    // A 2 s tone at about -30 LUFS, to -20 LUFS.
    const QString gained = QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -af volume={gain}dB,volume=-3dB "
                                          "-c:a pcm_s24le \"{output_base}.wav\"");
    const struct {
        const char *name;
        QString script;
        QByteArray wrapper; // shell lines run before the real ffmpeg; empty for none
        bool lockFolder;
        QString status;
        int measurements;
        QString note; // how the item's note begins; empty for none
    } cases[] = {
        // A script that never uses the gain: one pass, and the note says so.
        {"the gain is ignored", QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -c:a pcm_s24le \"{output_base}.wav\""),
         {}, false, QStringLiteral("✓ Done → a_out.wav"), 2, QStringLiteral("The preset did not apply the gain: the output stays at \u2212")},
        // The first pass lands 3 LU short; the second fails as a full disk would: the first is kept.
        {"a later pass fails", gained,
         "for a; do case \"$a\" in *-2.wav) echo 'Error writing trailer: No space left on device' >&2; exit 1;; esac; done\n",
         false, QStringLiteral("✓ Done → a_out.wav"), 2,
         QStringLiteral("A further pass failed (Error writing trailer: No space left on device); the output of an earlier pass is kept. "
                        "The output reaches \u2212")},
        // Nothing is measured for an output that could not be written.
        {"the folder cannot be written", gained, {}, true, QStringLiteral("✗ Could not save output"), 0, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString dir = folder(QStringLiteral("honest/") + QString::fromLatin1(c.name));
        const QString source = TestMedia::make(dir + QStringLiteral("/a.wav"),
                                               {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                                QStringLiteral("sine=frequency=440:sample_rate=48000:duration=2,volume=-9dB")});
        const QString ffmpeg = c.wrapper.isEmpty()
            ? TestMedia::ffmpeg()
            : TestMedia::script(dir + QStringLiteral("-ffmpeg"), c.wrapper + "exec " + TestMedia::ffmpeg().toUtf8() + " \"$@\"\n");
        if (c.lockFolder && !chattr(QStringLiteral("+i"), dir))
            GTEST_SKIP() << "chattr +i is not available here";
        Preset preset = scripted(QStringLiteral("measuring"), c.script);
        preset.loudness = service::LoudnessGoal{-20, -1};
        ConvertRunner runner;
        runner.queue(QStringList{source}, preset.id);
        const LogLines log(QStringLiteral("convert"));
        const bool finished = runToEnd(runner, {preset}, ffmpeg, &m_store);
        if (c.lockFolder)
            chattr(QStringLiteral("-i"), dir);
        ASSERT_TRUE(finished);
        const QueueItem &item = only(runner);
        EXPECT_EQ(item.status, c.status) << item.errorDetail.value_or(QString()).toStdString();
        const QStringList lines = log.lines();
        EXPECT_EQ(std::count_if(lines.cbegin(), lines.cend(),
                                [](const QString &line) {
                                    return line.startsWith(QStringLiteral("measured I=")) || line.startsWith(QStringLiteral("pass "));
                                }),
                  c.measurements)
            << log.lines().join(u'\n').toStdString();
        EXPECT_TRUE(item.note.value_or(QString()).startsWith(c.note)) << item.note.value_or(QString()).toStdString();
        EXPECT_EQ(item.note.has_value(), !c.note.isEmpty());
        if (item.succeeded == true) {
            EXPECT_FALSE(item.errorDetail);
            EXPECT_EQ(entries(dir), (QStringList{QStringLiteral("a.wav"), QStringLiteral("a_out.wav")}));
        } else {
            EXPECT_EQ(item.errorDetail, QStringLiteral("Could not write the converted file in ") + dir
                                            + QStringLiteral(": Operation not permitted"));
            EXPECT_EQ(entries(dir), QStringList{QStringLiteral("a.wav")});
        }
        runner.clearFinished();
    }
}

TEST_F(ConvertRunnerTest, AStopBeforeTheFirstConversionStartsStopsIt)
{
    // run() and cancel() in one turn: the loop has begun but nothing ran long enough to be seen.
    const QString source = tone(QStringLiteral("early/a.wav"));
    ConvertRunner runner;
    runner.queue(QStringList{source}, QStringLiteral("job"));
    runner.run({slow(QStringLiteral("job"))}, TestMedia::ffmpeg(), &m_store);
    runner.cancel();
    ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }));
    EXPECT_EQ(only(runner).status, QStringLiteral("Stopped"));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Stopped — 1 file still queued."));
    EXPECT_EQ(entries(path(QStringLiteral("early"))), QStringList{QStringLiteral("a.wav")});
}

TEST_F(ConvertRunnerTest, ASecondRunInTheSameTurnIsRefused)
{
    ConvertRunner runner;
    runner.queue(QStringList{tone(QStringLiteral("a.wav")), tone(QStringLiteral("b.wav"))}, QStringLiteral("job"));
    int runStates = 0;
    QObject::connect(&runner, &ConvertRunner::runStateChanged, [&] { ++runStates; });
    const LogLines appLog(QStringLiteral("app"));
    runner.run({fast(QStringLiteral("job"))}, TestMedia::ffmpeg(), &m_store);
    EXPECT_TRUE(runner.isRunning());
    // Refused: with this list the items would fail as unavailable.
    runner.run({}, TestMedia::ffmpeg(), &m_store);
    ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }));
    EXPECT_EQ(runner.items()[0].succeeded, true);
    EXPECT_EQ(runner.items()[1].succeeded, true);
    EXPECT_EQ(runStates, 2); // running, then idle
    EXPECT_EQ(appLog.lines().filter(QStringLiteral("active job started: Conversion")).size(), 1);
}

TEST_F(ConvertRunnerTest, ItemsQueuedDuringARunArePickedUp)
{
    ConvertRunner runner;
    runner.queue(QStringList{tone(QStringLiteral("a.wav"))}, QStringLiteral("normalise-14lufs"));
    const QString later = tone(QStringLiteral("b.wav"));
    runner.run(m_store.presets(), TestMedia::ffmpeg(), &m_store);
    runner.queue(QStringList{later}, QStringLiteral("normalise-14lufs"));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("1 file added to the queue."));
    ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }));
    ASSERT_EQ(runner.items().size(), 2);
    EXPECT_EQ(runner.items()[1].status, QStringLiteral("✓ Done → b_-14LUFS.wav"));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished — 2 done, 0 failed."));
}

TEST_F(ConvertRunnerTest, FinishedItemsStayDuplicatesAndRetryRunsThemAgain)
{
    const QString good = tone(QStringLiteral("r/good.wav"));
    const QString bad = tone(QStringLiteral("r/bad.wav"));
    const QString waiting = tone(QStringLiteral("r/waiting.wav"));
    ConvertRunner runner;
    runner.queue(QStringList{good}, QStringLiteral("normalise-14lufs"));
    runner.queue(QStringList{bad}, QStringLiteral("retired"));
    ASSERT_TRUE(runToEnd(runner, m_store.presets()));
    runner.queue(QStringList{waiting}, QStringLiteral("normalise-14lufs"));
    ASSERT_EQ(runner.items().size(), 3);

    runner.queue(QStringList{good, bad}, QStringLiteral("normalise-14lufs"));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("1 file added to the queue.")); // bad.wav for this preset is new
    runner.queue(QStringList{good}, QStringLiteral("normalise-14lufs"));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Nothing new to add."));
    ASSERT_EQ(runner.items().size(), 4);

    // Retry makes the failed item pending again without starting anything.
    const QUuid failed = runner.items()[1].id;
    runner.retry(failed);
    EXPECT_EQ(runner.items()[1].status, QStringLiteral("Queued"));
    EXPECT_FALSE(runner.items()[1].succeeded || runner.items()[1].errorDetail || runner.items()[1].output);
    EXPECT_FALSE(runner.isRunning());

    // clearFinished keeps the pending ones in their order.
    runner.clearFinished();
    ASSERT_EQ(runner.items().size(), 3);
    EXPECT_EQ(runner.items()[0].input, bad);
    EXPECT_EQ(runner.items()[1].input, waiting);
    EXPECT_EQ(runner.items()[2].input, bad);
}

TEST_F(ConvertRunnerTest, ItemOperationsWaitWhileRunning)
{
    ConvertRunner runner;
    runner.queue(QStringList{tone(QStringLiteral("o/a.wav"))}, QStringLiteral("retired"));
    runner.queue(QStringList{tone(QStringLiteral("o/b.wav"), 20)}, QStringLiteral("job"));
    runner.run({slow(QStringLiteral("job"))}, TestMedia::ffmpeg(), &m_store);
    ASSERT_TRUE(waitUntil([&] { return !leftovers(path(QStringLiteral("o"))).isEmpty(); }));
    ASSERT_EQ(runner.items()[0].succeeded, false);
    const QList<QueueItem> before = runner.items();
    runner.clearFinished();
    runner.retry(before[0].id);
    runner.remove(before[1].id);
    EXPECT_EQ(runner.items(), before);
    runner.cancel();
    ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }));
    runner.clearFinished();
    ASSERT_EQ(runner.items().size(), 1);
    EXPECT_EQ(runner.items()[0].status, QStringLiteral("Stopped"));
}

TEST_F(ConvertRunnerTest, ARunnerDestroyedMidRunStopsItsFFmpegAndCleansUp)
{
    const QString source = tone(QStringLiteral("d/a.wav"), 20);
    {
        ConvertRunner runner;
        runner.queue(QStringList{source}, QStringLiteral("job"));
        runner.run({slow(QStringLiteral("job"))}, TestMedia::ffmpeg(), &m_store);
        ASSERT_TRUE(waitUntil([&] { return !leftovers(path(QStringLiteral("d"))).isEmpty(); }));
    }
    EXPECT_FALSE(app::ActiveJobs::shared().runningKeys().contains(QStringLiteral("Conversion")));
    ASSERT_TRUE(waitUntil([&] { return leftovers(path(QStringLiteral("d"))).isEmpty(); }));
    EXPECT_EQ(entries(path(QStringLiteral("d"))), QStringList{QStringLiteral("a.wav")});
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

TEST_F(SideBySide, SameNamedSourcesIntoOneFolderNeverPickTheSameNameAndEachIsReportedOnce)
{
    const QString out = folder(QStringLiteral("out"));
    platform::Settings::standard().setValue(QStringLiteral("exportLocation"), QStringLiteral("customFolder"));
    platform::Settings::standard().setValue(QStringLiteral("exportFolderPath"), out);
    const Preset preset = fast(QStringLiteral("normalise-14lufs"));
    ConvertRunner runner;
    runner.setSimultaneousConversions(2);
    for (const char *from : {"a", "b", "c"})
        runner.queue(QStringList{tone(QString::fromLatin1(from) + QStringLiteral("/take.wav"), 2)}, preset.id);
    const int reportsBefore = usageRequests();
    const LogLines log(QStringLiteral("convert"));
    ASSERT_TRUE(runToEnd(runner, {preset}));

    // Each item keeps the name chosen for it when it started; no two chose the same.
    QStringList chosen;
    for (const QString &line : log.lines().filter(QStringLiteral("start preset=")))
        chosen.append(QFileInfo(line.section(QStringLiteral(" output="), 1)).fileName());
    chosen.sort();
    const QStringList expected{QStringLiteral("take_out (1).wav"), QStringLiteral("take_out (2).wav"),
                               QStringLiteral("take_out.wav")};
    EXPECT_EQ(chosen, expected) << log.lines().join(u'\n').toStdString();
    EXPECT_EQ(entries(out), expected);
    for (const QueueItem &item : runner.items())
        EXPECT_TRUE(item.status.startsWith(QStringLiteral("✓ Done → "))) << item.status.toStdString();
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished — 3 done, 0 failed."));
    EXPECT_EQ(usageRequests(), reportsBefore + 3);
}

// A lane that finds nothing left to take must not be started again and again.
TEST_F(SideBySide, FewerItemsWaitingThanLanesStillFinish)
{
    const Preset preset = fast(QStringLiteral("job"));
    {
        const HangGuard guard("one item, two lanes");
        ConvertRunner runner;
        runner.setSimultaneousConversions(2);
        runner.queue(QStringList{tone(QStringLiteral("f/one.wav"))}, preset.id);
        ASSERT_TRUE(runToEnd(runner, {preset}));
        EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished — 1 done, 0 failed."));
    }
    {
        const HangGuard guard("two items, the first unavailable");
        ConvertRunner runner;
        runner.setSimultaneousConversions(2);
        runner.queue(QStringList{tone(QStringLiteral("g/a.wav"))}, QStringLiteral("retired"));
        runner.queue(QStringList{tone(QStringLiteral("g/b.wav"))}, preset.id);
        ASSERT_TRUE(runToEnd(runner, {preset}));
        EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished — 1 done, 1 failed."));
    }
    {
        const HangGuard guard("an unavailable item queued during a run");
        ConvertRunner runner;
        runner.setSimultaneousConversions(2);
        runner.queue(QStringList{tone(QStringLiteral("h/a.wav"), 2)}, QStringLiteral("slow"));
        runner.run({slow(QStringLiteral("slow"))}, TestMedia::ffmpeg(), &m_store);
        runner.queue(QStringList{tone(QStringLiteral("h/b.wav"))}, QStringLiteral("retired"));
        ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }));
        EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished — 1 done, 1 failed."));
    }
}

TEST_F(SideBySide, StopReachesEveryProcessAndLeavesNoTemporaryFile)
{
    const Preset preset = scripted(QStringLiteral("job"), QStringLiteral("ffmpeg -i {input} {output_base}.wav"));
    ConvertRunner runner;
    runner.setSimultaneousConversions(2);
    runner.queue(QStringList{tone(QStringLiteral("k/a.wav")), tone(QStringLiteral("k/b.wav"))}, preset.id);
    const LogLines log(QStringLiteral("convert"));
    runner.run({preset}, QStringLiteral(VORLIK_STUBBORN_CHILD), &m_store);
    // Both say they are ready (ignoring SIGTERM), each with a file beside its output.
    ASSERT_TRUE(waitUntil([&] { return leftovers(path(QStringLiteral("k"))).size() == 2; }));
    EXPECT_TRUE(app::ActiveJobs::shared().runningKeys().contains(ConvertRunner::jobKey));
    runner.cancel();
    // The children give up by themselves after a minute: well before that, both must be gone.
    ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }, 30000));

    const QStringList killed = log.lines().filter(QStringLiteral("force-killing ffmpeg pid="));
    ASSERT_EQ(killed.size(), 2) << log.lines().join(u'\n').toStdString();
    for (const QString &line : killed)
        EXPECT_NE(::kill(pid_t(line.section(u'=', 1).toLongLong()), 0), 0) << line.toStdString();
    for (const QueueItem &item : runner.items())
        EXPECT_EQ(item.status, QStringLiteral("Stopped"));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Stopped — 2 files still queued."));
    EXPECT_EQ(entries(path(QStringLiteral("k"))), (QStringList{QStringLiteral("a.wav"), QStringLiteral("b.wav")}));
}

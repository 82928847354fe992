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

TEST_F(ConvertRunnerTest, EachConversionIsReportedOnceWithTheSourcesNameAndNothingWithoutASession)
{
    SessionStore signedOut;
    ConvertRunner unreported;
    unreported.queue(QStringList{tone(QStringLiteral("a.wav"))}, QStringLiteral("normalise-23lufs"));
    ASSERT_TRUE(runToEnd(unreported, m_store.presets(), TestMedia::ffmpeg(), &signedOut));
    EXPECT_EQ(only(unreported).status, QStringLiteral("✓ Done → a_-23LUFS.wav"));
    EXPECT_EQ(usageRequests(), 0);
    EXPECT_EQ(signedOut.pendingUsageCount(), 0);

    const QString source = tone(QStringLiteral("archive.tar.flac"));
    const qint64 before = usageTotal();
    ConvertRunner runner;
    runner.queue(QStringList{source}, QStringLiteral("normalise-16lufs"));
    ASSERT_TRUE(runToEnd(runner, m_store.presets()));
    EXPECT_EQ(only(runner).status, QStringLiteral("✓ Done → archive.tar_-16LUFS.wav"));
    ASSERT_EQ(usageTotal(), before + 1);
    const QJsonObject last = server().usage().value(QStringLiteral("reports")).toArray().last().toObject();
    EXPECT_EQ(last.value(QStringLiteral("process_key")).toString(), QStringLiteral("normalise-16lufs"));
    EXPECT_EQ(last.value(QStringLiteral("filename")).toString(), QStringLiteral("archive.tar.flac"));
    EXPECT_EQ(last.value(QStringLiteral("file_count")).toInteger(), 1);
    EXPECT_EQ(last.value(QStringLiteral("input_bytes")).toInteger(), QFileInfo(source).size());
    EXPECT_EQ(bearerOf(requestsTo(usagePath).last()), m_store.session()->accessToken);
    EXPECT_EQ(m_store.pendingUsageCount(), 0);
}

// A report the service refused is kept for later and said so, the line staying while the next
// item waits; every conversion ends either reported or kept, once.
TEST_F(ConvertRunnerTest, AReportThatFailsIsKeptAndSaidSo)
{
    server().addFault(fault(QStringLiteral("POST"), usagePath, QStringLiteral("status"), 500));
    const qint64 before = usageTotal();
    ConvertRunner runner;
    runner.queue(QStringList{tone(QStringLiteral("a.wav")), tone(QStringLiteral("b.wav"))}, QStringLiteral("normalise-14lufs"));
    QStringList lines;
    QObject::connect(&runner, &ConvertRunner::statusLineChanged, [&] { lines.append(runner.statusLine()); });
    ASSERT_TRUE(runToEnd(runner, m_store.presets()));
    EXPECT_EQ(runner.items()[0].status, QStringLiteral("✓ Done → a_-14LUFS.wav (usage not reported)"));
    EXPECT_EQ(runner.items()[0].succeeded, true);
    EXPECT_EQ(lines, (QStringList{QStringLiteral("Running…"), QStringLiteral("Measuring a.wav…"),
                                  QStringLiteral("Converting a.wav…"), QStringLiteral("Checking a.wav…"),
                                  QStringLiteral("✓ a_-14LUFS.wav — usage reporting failed and will retry."),
                                  QStringLiteral("Measuring b.wav…"), QStringLiteral("Converting b.wav…"),
                                  QStringLiteral("Checking b.wav…"), QStringLiteral("Queue finished — 2 done, 0 failed.")}));
    EXPECT_EQ(usageTotal() - before + m_store.pendingUsageCount(), 2);
    if (m_store.pendingUsageCount() > 0) {
        EXPECT_EQ(m_store.pendingUsage().first().filename, QStringLiteral("a.wav"));
    }
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

// Each way a conversion fails ends its item with the reason, reports nothing and leaves the
// source's folder as it was.
TEST_F(ConvertRunnerTest, AFailedItemSaysWhyAndLeavesNothingBehind)
{
    vorlik::test::writeFile(path(QStringLiteral("tools/plain")), "#!/bin/sh\nexit 0\n");
    const QString moveBlocker = TestMedia::script(path(QStringLiteral("tools/locks")),
                                                  "for last; do :; done\necho converted > \"$last\"\nchattr +i \"$(dirname \"$last\")\"\n");
    const bool canLock = chattr(QStringLiteral("+i"), path(QStringLiteral("tools"))) && chattr(QStringLiteral("-i"), path(QStringLiteral("tools")));
    const struct {
        const char *name;
        Preset preset;
        QString ffmpeg;  // empty: the real one
        int setUp;       // 0 none, 1 source removed, 2 export folder removed, 3 folder locked during the run
        QString status;
        QString detail;  // "=" prefix: the whole detail (%1: the folder); otherwise a part of it
        QString line;    // a status line after "Failed a.wav: "; empty for none to check
    } cases[] = {
        {"another extension written", scripted(QStringLiteral("wrong-ext"), QStringLiteral("ffmpeg -hide_banner -nostdin -y -i {input} {output_base}.flac")),
         {}, 0, QStringLiteral("✗ No output produced"),
         QStringLiteral("=The script finished but did not create the expected output file."), QStringLiteral("the script produced no output.")},
        // The last line that speaks of an error, not the "Conversion failed!" after it.
        {"a failing script", scripted(QStringLiteral("broken"), QStringLiteral("ffmpeg -hide_banner -nostdin -y -i {input} -af 'volume=bogus(' {output_base}.wav")),
         {}, 0, QStringLiteral("✗ Failed (exit 1)"), QStringLiteral("=Error while processing the decoded data for stream #0:0"), QStringLiteral("=")},
        {"the source vanished", preset(QStringLiteral("audio-m4a")), {}, 1, QStringLiteral("✗ Failed (exit 1)"),
         QStringLiteral("No such file or directory"), {}},
        // ffmpeg names the reason without the word "error": its own words are the summary.
        {"the export folder was deleted", fast(QStringLiteral("job")), {}, 2, QStringLiteral("✗ Failed (exit 1)"),
         QStringLiteral(": No such file or directory"), {}},
        // Permission bits do not stop root; an immutable folder stops everyone.
        {"a read-only folder", fast(QStringLiteral("job")), {}, 3, QStringLiteral("✗ Failed (exit 1)"), {}, {}},
        {"the output cannot be moved", scripted(QStringLiteral("locks"), QStringLiteral("ffmpeg {output_base}.wav")), moveBlocker, 0,
         QStringLiteral("✗ Could not save output"), QStringLiteral("=Could not move the converted file to %1/a_out.wav: Operation not permitted"), QStringLiteral("=")},
        // The channel probe fails to launch first.
        {"a missing ffmpeg", preset(QStringLiteral("audio-m4a")), path(QStringLiteral("tools/missing")), 0,
         QStringLiteral("✗ Failed (exit -1)"), QStringLiteral("No such file or directory"), {}},
        {"a non-executable ffmpeg", preset(QStringLiteral("audio-m4a")), path(QStringLiteral("tools/plain")), 0,
         QStringLiteral("✗ Failed (exit -1)"), QStringLiteral("Permission denied"), {}},
    };
    int index = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if ((c.setUp == 3 || c.ffmpeg == moveBlocker) && !canLock)
            continue;
        const QString dir = folder(QStringLiteral("fail%1").arg(++index));
        const QString source = tone(QStringLiteral("fail%1/a.wav").arg(index));
        const QString out = folder(QStringLiteral("out%1").arg(index));
        platform::Settings &settings = platform::Settings::standard();
        if (c.setUp == 2) {
            settings.setValue(QStringLiteral("exportLocation"), QStringLiteral("customFolder"));
            settings.setValue(QStringLiteral("exportFolderPath"), out);
        }
        ConvertRunner runner;
        runner.queue(QStringList{source}, c.preset.id);
        if (c.setUp == 1)
            QFile::remove(source);
        if (c.setUp == 2) {
            ASSERT_TRUE(QDir(out).removeRecursively());
        }
        if (c.setUp == 3)
            chattr(QStringLiteral("+i"), dir);
        const LogLines log(QStringLiteral("convert"));
        QStringList lines;
        QObject::connect(&runner, &ConvertRunner::statusLineChanged, [&] { lines.append(runner.statusLine()); });
        const bool finished = runToEnd(runner, {c.preset}, c.ffmpeg.isEmpty() ? TestMedia::ffmpeg() : c.ffmpeg, &m_store);
        chattr(QStringLiteral("-i"), dir);
        settings.remove(QStringLiteral("exportLocation"));
        settings.remove(QStringLiteral("exportFolderPath"));
        ASSERT_TRUE(finished);
        const QueueItem &item = only(runner);
        EXPECT_EQ(item.status, c.status);
        EXPECT_EQ(item.succeeded, false);
        const QString detail = item.errorDetail.value_or(QString());
        if (c.detail.startsWith(u'=')) {
            EXPECT_EQ(detail, c.detail.mid(1).replace(QStringLiteral("%1"), dir));
        } else {
            EXPECT_TRUE(detail.contains(c.detail)) << detail.toStdString();
        }
        if (!c.line.isEmpty()) {
            EXPECT_TRUE(lines.contains(QStringLiteral("Failed a.wav: ") + (c.line == QStringLiteral("=") ? detail : c.line)))
                << lines.join(u'\n').toStdString();
        }
        EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished — 0 done, 1 failed."));
        if (c.ffmpeg == moveBlocker) {
            EXPECT_FALSE(entries(dir).contains(QStringLiteral("a_out.wav"))); // nothing half done
        } else {
            EXPECT_EQ(entries(dir), c.setUp == 1 ? QStringList{} : QStringList{QStringLiteral("a.wav")});
        }
        if (c.setUp == 2) {
            EXPECT_FALSE(QFileInfo::exists(out)); // not created behind the user's back
        }
        if (c.preset.id == QStringLiteral("broken")) {
            EXPECT_TRUE(log.lines().contains(QStringLiteral("failed exit=1 stderr=") + detail));
        }
    }
    EXPECT_EQ(usageRequests(), 0);
}

TEST_F(ConvertRunnerTest, ANameTakenDuringTheConversionIsNeverReplacedAndSideFilesGo)
{
    const QString source = tone(QStringLiteral("race/Take 1.wav"));
    // Another program takes the chosen name while ffmpeg runs, which leaves files beside its output.
    const QString ffmpeg = TestMedia::script(path(QStringLiteral("tools/ffmpeg")),
                                             "for last; do :; done\necho converted > \"$last\"\n"
                                             "echo log > \"${last%.wav}.log\"\nmkdir \"${last%.wav}-frames\"\n"
                                             "echo intruder > \"$(dirname \"$last\")/Take 1_out.wav\"\n");
    const Preset preset = scripted(QStringLiteral("race"), QStringLiteral("ffmpeg {output_base}.wav"));
    ConvertRunner runner;
    runner.queue(QStringList{source}, preset.id);
    ASSERT_TRUE(runToEnd(runner, {preset}, ffmpeg, &m_store));
    EXPECT_EQ(only(runner).status, QStringLiteral("✓ Done → Take 1_out (1).wav"));
    EXPECT_EQ(vorlik::test::readFile(path(QStringLiteral("race/Take 1_out.wav"))), QByteArray("intruder\n"));
    EXPECT_EQ(vorlik::test::readFile(path(QStringLiteral("race/Take 1_out (1).wav"))), QByteArray("converted\n"));
    EXPECT_EQ(entries(path(QStringLiteral("race"))), (QStringList{QStringLiteral("Take 1.wav"), QStringLiteral("Take 1_out (1).wav"),
                                                                QStringLiteral("Take 1_out.wav")}));
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

TEST_F(ConvertRunnerTest, StopEndsTheConversionAndALaterRunStartsAfresh)
{
    ConvertRunner runner;
    runner.queue(QStringList{tone(QStringLiteral("s/a.wav"), 20), tone(QStringLiteral("s/b.wav")), tone(QStringLiteral("s/c.wav"))},
                 QStringLiteral("job"));
    QStringList lines;
    QObject::connect(&runner, &ConvertRunner::statusLineChanged, [&] { lines.append(runner.statusLine()); });
    runner.run({slow(QStringLiteral("job"))}, TestMedia::ffmpeg(), &m_store);
    EXPECT_TRUE(app::ActiveJobs::shared().runningKeys().contains(QStringLiteral("Conversion")));
    ASSERT_TRUE(waitUntil([&] { return !leftovers(path(QStringLiteral("s"))).isEmpty(); }));

    runner.cancel();
    EXPECT_EQ(runner.runState(), ConvertRunner::RunState::stopping);
    EXPECT_TRUE(runner.isRunning());
    runner.cancel(); // only a running loop can be stopped
    runner.clearFinished();
    ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }));

    EXPECT_EQ(runner.runState(), ConvertRunner::RunState::idle);
    EXPECT_EQ(lines.mid(lines.size() - 2), (QStringList{QStringLiteral("Stopping…"), QStringLiteral("Stopped — 3 files still queued.")}));
    EXPECT_EQ(runner.items()[0].status, QStringLiteral("Stopped"));
    EXPECT_TRUE(runner.items()[0].isPending());
    EXPECT_EQ(runner.items()[1].status, QStringLiteral("Queued"));
    EXPECT_FALSE(app::ActiveJobs::shared().runningKeys().contains(QStringLiteral("Conversion")));
    EXPECT_EQ(entries(path(QStringLiteral("s"))), (QStringList{QStringLiteral("a.wav"), QStringLiteral("b.wav"), QStringLiteral("c.wav")}));
    EXPECT_EQ(usageRequests(), 0);

    // A later run converts them again, from scratch.
    ASSERT_TRUE(runToEnd(runner, {fast(QStringLiteral("job"))}));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished — 3 done, 0 failed."));
    EXPECT_EQ(entries(path(QStringLiteral("s"))).filter(QStringLiteral("_out.wav")).size(), 3);
    EXPECT_EQ(usageRequests(), 3);
}

// An ffmpeg that ignores the stop is killed and waited for, whichever step it was running.
TEST_F(ConvertRunnerTest, AnFFmpegThatIgnoresTheStopIsKilledAtEveryStep)
{
    const QString previous = QDir::currentPath();
    for (const char *step : {"probe", "measurement", "conversion"}) {
        SCOPED_TRACE(step);
        const QString name = QString::fromLatin1(step);
        const QString source = tone(name + QStringLiteral("/a.wav"), 2);
        Preset preset = scripted(QStringLiteral("job"), QStringLiteral("ffmpeg -i {input} -af volume={gain}dB {output_base}.wav"));
        // It says it is ready (ignoring SIGTERM) with a file beside its last argument: the source
        // for the probe, the output for the conversion, and "-" (no output) in the working folder
        // for the measurement.
        QString ready = source + QStringLiteral(".ready");
        if (name == QStringLiteral("probe")) {
            preset.command = QStringLiteral("ffmpeg -i {input} {output_base}.wav");
            preset.maxChannels = 2;
        } else if (name == QStringLiteral("measurement")) {
            preset.loudness = service::LoudnessGoal{-20, -1};
            QDir::setCurrent(folder(name + QStringLiteral("-cwd")));
            ready = path(name + QStringLiteral("-cwd/-.ready"));
        } else {
            preset.command = QStringLiteral("ffmpeg -i {input} {output_base}.wav");
        }
        ConvertRunner runner;
        runner.queue(QStringList{source}, preset.id);
        const LogLines log(QStringLiteral("convert"));
        runner.run({preset}, QStringLiteral(VORLIK_STUBBORN_CHILD), &m_store);
        const bool started = waitUntil([&] {
            return name == QStringLiteral("conversion") ? !leftovers(path(name)).isEmpty() : QFileInfo::exists(ready);
        });
        if (name == QStringLiteral("measurement")) {
            EXPECT_EQ(only(runner).status, QStringLiteral("Measuring a.wav…"));
        }
        runner.cancel();
        const bool ended = waitUntil([&] { return !runner.isRunning(); });
        QDir::setCurrent(previous);
        ASSERT_TRUE(started && ended);

        const QStringList killed = log.lines().filter(QStringLiteral("force-killing ffmpeg pid="));
        ASSERT_EQ(killed.size(), 1) << log.lines().join(u'\n').toStdString();
        EXPECT_NE(::kill(pid_t(killed.first().section(u'=', 1).toLongLong()), 0), 0); // gone, and waited for
        if (name == QStringLiteral("probe")) {
            EXPECT_TRUE(log.lines().filter(QStringLiteral("start preset=")).isEmpty()); // ffmpeg itself never ran
        }
        EXPECT_TRUE(log.lines().filter(QStringLiteral("pass 1")).isEmpty());
        EXPECT_EQ(only(runner).status, QStringLiteral("Stopped"));
        EXPECT_TRUE(only(runner).isPending());
        EXPECT_EQ(runner.statusLine(), QStringLiteral("Stopped — 1 file still queued."));
        if (name == QStringLiteral("probe")) {
            EXPECT_TRUE(leftovers(path(name)).isEmpty()); // its ready file stays beside the source
        } else {
            EXPECT_EQ(entries(path(name)), QStringList{QStringLiteral("a.wav")});
        }
    }
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

TEST_F(ConvertRunnerTest, ASecondRunIsRefusedAndItemsQueuedDuringARunArePickedUp)
{
    ConvertRunner runner;
    runner.queue(QStringList{tone(QStringLiteral("a.wav")), tone(QStringLiteral("b.wav"))}, QStringLiteral("job"));
    const QString later = tone(QStringLiteral("c.wav"));
    int runStates = 0;
    QObject::connect(&runner, &ConvertRunner::runStateChanged, [&] { ++runStates; });
    const LogLines appLog(QStringLiteral("app"));
    runner.run({fast(QStringLiteral("job"))}, TestMedia::ffmpeg(), &m_store);
    EXPECT_TRUE(runner.isRunning());
    // Refused: with this list the items would fail as unavailable.
    runner.run({}, TestMedia::ffmpeg(), &m_store);
    runner.queue(QStringList{later}, QStringLiteral("job"));
    EXPECT_EQ(runner.statusLine(), QStringLiteral("1 file added to the queue."));
    ASSERT_TRUE(waitUntil([&] { return !runner.isRunning(); }));
    ASSERT_EQ(runner.items().size(), 3);
    for (const QueueItem &item : runner.items())
        EXPECT_EQ(item.succeeded, true) << item.status.toStdString();
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Queue finished — 3 done, 0 failed."));
    EXPECT_EQ(runStates, 2); // running, then idle
    EXPECT_EQ(appLog.lines().filter(QStringLiteral("active job started: Conversion")).size(), 1);
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

// ffmpeg as a child process: outcomes, the error-stream tail, stopping, the channel probe and
// the removal of partial outputs, all on real processes and files.
#include "TestMedia.h"

#include "platform/CancellationToken.h"
#include "convert/ConvertRunner.h"
#include "convert/FFmpegProgress.h"
#include "platform/Graphemes.h"
#include "convert/ProcessBox.h"
#include "convert/StderrTail.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QCoroTimer>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <functional>
#include <optional>
#include <vector>
#include <sys/types.h>
#include <sys/wait.h>

using namespace std::chrono_literals;
using vorlik::platform::CancellationToken;
using vorlik::convert::ConvertRunner;
using vorlik::convert::FFmpegProgress;
using vorlik::platform::Graphemes;
using vorlik::convert::ProcessBox;
using vorlik::convert::ShellOutcome;
using vorlik::convert::StderrTail;
using vorlik::test::TestMedia;

namespace {

QStringList slowRun()
{
    // Real time, so it runs until stopped.
    return {QStringLiteral("-hide_banner"), QStringLiteral("-re"), QStringLiteral("-f"), QStringLiteral("lavfi"),
            QStringLiteral("-i"), QStringLiteral("sine=duration=600"), QStringLiteral("-f"), QStringLiteral("null"),
            QStringLiteral("-")};
}

QCoro::Task<> waitUntilRunning(QPointer<QProcess> &process)
{
    for (int i = 0; i < 500 && !(process && process->state() == QProcess::Running); ++i)
        co_await QCoro::sleepFor(10ms);
}

bool isAlive(qint64 pid) { return pid > 0 && ::kill(pid_t(pid), 0) == 0; }

bool isOurChild(qint64 pid)
{
    // A child that was waited for is gone; one that was not would still be reapable.
    return ::waitpid(pid_t(pid), nullptr, WNOHANG) != -1;
}

} // namespace

TEST(RunFFmpeg, SucceedsAndWritesItsOutput)
{
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("tone.wav"));
    const QStringList arguments{QStringLiteral("-hide_banner"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                                QStringLiteral("-i"), QStringLiteral("sine=duration=0.2"), output};
    bool called = false;
    const ShellOutcome outcome = vorlik::test::run(ConvertRunner::runFFmpeg(
        TestMedia::ffmpeg(), arguments, [&](QProcess &process) {
            called = true;
            EXPECT_EQ(process.state(), QProcess::NotRunning); // handed over before launch
        }));
    EXPECT_TRUE(outcome.isSuccess());
    EXPECT_TRUE(called);
    EXPECT_GT(QFileInfo(output).size(), 1000);
}

TEST(RunFFmpeg, FailureCarriesExitCodeAndErrorTail)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing.wav"));
    const ShellOutcome outcome = vorlik::test::run(ConvertRunner::runFFmpeg(
        TestMedia::ffmpeg(), {QStringLiteral("-hide_banner"), QStringLiteral("-i"), missing, dir.filePath("o.wav")}));
    ASSERT_FALSE(outcome.isSuccess());
    EXPECT_EQ(outcome.exitCode(), 1);
    EXPECT_TRUE(outcome.stderrTail().contains(QStringLiteral("No such file or directory")))
        << outcome.stderrTail().toStdString();
    EXPECT_TRUE(ConvertRunner::summarise(outcome.stderrTail()).contains(missing));
}

TEST(RunFFmpeg, TailKeepsTheLastCharactersIncludingTheFinalLines)
{
    QTemporaryDir dir;
    // 300 KB of status lines on the error stream (read for the progress too; each rewrites the
    // last, the final one ends its line as ffmpeg's does), then the line that matters, written
    // just before exit.
    const QString program = TestMedia::script(dir.filePath(QStringLiteral("noisy")),
        "i=0; while [ $i -lt 3000 ]; do printf 'frame=%5d fps=0.0 q=-1.0 size=   1kB time=00:%02d:%02d.00 bitrate=1.0kbits/s speed=1x progress progress progress\\r' $i $((i/60)) $((i%60)) >&2; i=$((i+1)); done\n"
        "printf '\\n' >&2\n"
        "printf 'caf\\303\\251 \\360\\237\\207\\251\\360\\237\\207\\252 Error: final line\\n' >&2\nexit 3\n");
    std::vector<qint64> positions;
    const ShellOutcome outcome = vorlik::test::run(ConvertRunner::runFFmpeg(
        program, {}, {}, {}, [&](const FFmpegProgress &progress) { positions.push_back(progress.position().count()); }));
    ASSERT_FALSE(outcome.isSuccess());
    ASSERT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), 2999000);
    EXPECT_EQ(outcome.exitCode(), 3);
    EXPECT_EQ(Graphemes::count(outcome.stderrTail()), StderrTail::limit);
    EXPECT_TRUE(outcome.stderrTail().endsWith(
        QStringLiteral("caf\u00E9 \U0001F1E9\U0001F1EA Error: final line\n")));
    EXPECT_EQ(ConvertRunner::summarise(outcome.stderrTail()),
              QStringLiteral("caf\u00E9 \U0001F1E9\U0001F1EA Error: final line"));
}

TEST(RunFFmpeg, CharacterSplitAcrossReadsSurvives)
{
    QTemporaryDir dir;
    // The two halves of "é" arrive in separate writes with a pause between them.
    const QString program = TestMedia::script(dir.filePath(QStringLiteral("split")),
        "printf 'caf\\303' >&2; sleep 0.3; printf '\\251 ok\\n' >&2; printf 'bad \\377 byte\\n' >&2; exit 2\n");
    const ShellOutcome outcome = vorlik::test::run(ConvertRunner::runFFmpeg(program, {}));
    ASSERT_FALSE(outcome.isSuccess());
    EXPECT_EQ(outcome.stderrTail(), QStringLiteral("caf\u00E9 ok\nbad \uFFFD byte\n"));
}

TEST(RunFFmpeg, AProgramThatCannotStartIsALaunchFailureWithTheSystemsReason)
{
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("ffmpeg"));
    vorlik::test::writeFile(plain, "#!/bin/sh\nexit 0\n");
    for (const auto &[program, reason] : {std::pair{dir.filePath(QStringLiteral("no-ffmpeg")), QStringLiteral("No such file or directory")},
                                          std::pair{plain, QStringLiteral("ermission")}}) {
        QPointer<QProcess> seen;
        const ShellOutcome outcome =
            vorlik::test::run(ConvertRunner::runFFmpeg(program, {}, [&](QProcess &process) { seen = &process; }));
        ASSERT_FALSE(outcome.isSuccess());
        EXPECT_EQ(outcome.exitCode(), -1);
        EXPECT_TRUE(outcome.stderrTail().contains(reason)) << outcome.stderrTail().toStdString();
        EXPECT_TRUE(seen.isNull()); // the process object does not outlive the call
    }
}

TEST(RunFFmpeg, KilledBySignalIsNeverSuccess)
{
    QPointer<QProcess> process;
    const ShellOutcome outcome = vorlik::test::run([&]() -> QCoro::Task<ShellOutcome> {
        auto running = ConvertRunner::runFFmpeg(TestMedia::ffmpeg(), slowRun(), [&](QProcess &p) { process = &p; });
        co_await waitUntilRunning(process);
        ::kill(pid_t(process->processId()), SIGKILL);
        co_return co_await running;
    }());
    ASSERT_FALSE(outcome.isSuccess());
    EXPECT_EQ(outcome.exitCode(), SIGKILL);
}

TEST(RunFFmpeg, CancelSendsTerminateAndWaitsForTheEnd)
{
    CancellationToken token;
    QPointer<QProcess> process;
    qint64 pid = 0;
    const ShellOutcome outcome = vorlik::test::run([&]() -> QCoro::Task<ShellOutcome> {
        auto running = ConvertRunner::runFFmpeg(TestMedia::ffmpeg(), slowRun(), [&](QProcess &p) { process = &p; }, token);
        co_await waitUntilRunning(process);
        pid = process->processId();
        co_await QCoro::sleepFor(300ms);
        token.cancel();
        co_return co_await running;
    }());
    EXPECT_FALSE(outcome.isSuccess());
    // ffmpeg leaves on SIGTERM with its own status after saying why.
    EXPECT_TRUE(outcome.exitCode() == 255 || outcome.exitCode() == SIGTERM) << outcome.exitCode();
    EXPECT_FALSE(isAlive(pid));
    EXPECT_FALSE(isOurChild(pid));
}

TEST(RunFFmpeg, CancelBeforeTheCallOrWhileBeingHandedOverStillEnds)
{
    CancellationToken before;
    before.cancel();
    EXPECT_FALSE(vorlik::test::run(ConvertRunner::runFFmpeg(TestMedia::ffmpeg(), slowRun(), {}, before)).isSuccess());
    // The stop arrives after the process was published but before it was launched.
    CancellationToken during;
    EXPECT_FALSE(vorlik::test::run(ConvertRunner::runFFmpeg(TestMedia::ffmpeg(), slowRun(),
                                                            [&](QProcess &) { during.cancel(); }, during))
                     .isSuccess());
}

TEST(RunFFmpeg, ProcessIgnoringTerminateIsStillWaitedFor)
{
    CancellationToken token;
    QPointer<QProcess> process;
    qint64 pid = 0;
    bool endedBeforeKill = true;
    bool aliveBeforeKill = false;
    const ShellOutcome outcome = vorlik::test::run([&]() -> QCoro::Task<ShellOutcome> {
        auto running = ConvertRunner::runFFmpeg(QStringLiteral(VORLIK_STUBBORN_CHILD), {},
                                                [&](QProcess &p) { process = &p; }, token);
        co_await waitUntilRunning(process);
        pid = process->processId();
        co_await QCoro::sleepFor(200ms); // let it install its handler
        token.cancel();
        co_await QCoro::sleepFor(700ms);
        endedBeforeKill = running.isReady();
        aliveBeforeKill = isAlive(pid);
        ::kill(pid_t(pid), SIGKILL);
        co_return co_await running;
    }());
    EXPECT_FALSE(endedBeforeKill);
    EXPECT_TRUE(aliveBeforeKill);
    ASSERT_FALSE(outcome.isSuccess());
    EXPECT_EQ(outcome.exitCode(), SIGKILL);
    EXPECT_TRUE(outcome.stderrTail().contains(QStringLiteral("ignoring SIGTERM")));
    EXPECT_FALSE(isAlive(pid));
}

TEST(ProcessBox, StopBeforeStoreTerminatesOnStore)
{
    // The runner's own box: a stop that comes before the process is published is not lost.
    ProcessBox box;
    EXPECT_TRUE(box.requestTermination().isEmpty());
    EXPECT_TRUE(box.terminationRequested());
    const ShellOutcome outcome = vorlik::test::run(ConvertRunner::runFFmpeg(
        TestMedia::ffmpeg(), slowRun(), [&](QProcess &process) { box.store(&process); }));
    box.clear();
    EXPECT_FALSE(outcome.isSuccess());
    EXPECT_TRUE(box.processes().isEmpty());

    box.reset();
    EXPECT_FALSE(box.terminationRequested());
}

TEST(ProcessBox, ReachesTheStoredProcess)
{
    ProcessBox box;
    QList<QPointer<QProcess>> reached;
    const ShellOutcome outcome = vorlik::test::run([&]() -> QCoro::Task<ShellOutcome> {
        QPointer<QProcess> process;
        auto running = ConvertRunner::runFFmpeg(TestMedia::ffmpeg(), slowRun(), [&](QProcess &p) {
            process = &p;
            box.store(&p);
        });
        co_await waitUntilRunning(process);
        reached = box.requestTermination();
        EXPECT_EQ(reached, QList<QPointer<QProcess>>{process});
        co_return co_await running;
    }());
    EXPECT_FALSE(outcome.isSuccess());
    EXPECT_TRUE(box.processes().isEmpty()); // the process is gone, the box does not dangle
}

TEST(CancellationToken, RunsActionsOnceAndLateOnesAtOnce)
{
    CancellationToken token;
    int first = 0;
    int removed = 0;
    auto keep = token.onCancel([&] { ++first; });
    {
        auto dropped = token.onCancel([&] { ++removed; });
    }
    CancellationToken copy = token;
    copy.cancel();
    token.cancel();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(removed, 0);
    EXPECT_TRUE(token.isCancelled());
    int late = 0;
    auto lateRegistration = token.onCancel([&] { ++late; });
    EXPECT_EQ(late, 1);
}

TEST(ProbeChannelCount, ReadsRealFiles)
{
    QTemporaryDir dir;
    const QString surround = TestMedia::silence(dir.filePath(QStringLiteral("surround.wav")), QStringLiteral("5.1"));
    const QString mono = TestMedia::sine(dir.filePath(QStringLiteral("mono.flac")));
    // The second audio stream decides when the first has no known layout.
    const QString two = TestMedia::make(dir.filePath(QStringLiteral("two.mov")),
        {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("anullsrc=channel_layout=hexagonal:sample_rate=48000"), QStringLiteral("-f"),
         QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("anullsrc=channel_layout=stereo:sample_rate=48000"),
         QStringLiteral("-map"), QStringLiteral("0"), QStringLiteral("-map"), QStringLiteral("1"), QStringLiteral("-c:a"),
         QStringLiteral("pcm_s16le"), QStringLiteral("-t"), QStringLiteral("0.3")});
    const QString video = TestMedia::make(dir.filePath(QStringLiteral("video.mkv")),
        {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc=duration=0.3:size=64x48"),
         QStringLiteral("-c:v"), QStringLiteral("ffv1")});
    const auto probe = [](const QString &ffmpeg, const QString &file) {
        return vorlik::test::run(ConvertRunner::probeChannelCount(ffmpeg, file));
    };
    EXPECT_EQ(probe(TestMedia::ffmpeg(), surround), 6);
    EXPECT_EQ(probe(TestMedia::ffmpeg(), mono), 1);
    EXPECT_EQ(probe(TestMedia::ffmpeg(), two), 2);
    // Video only, a missing file or a missing ffmpeg: no count.
    EXPECT_EQ(probe(TestMedia::ffmpeg(), video), std::nullopt);
    EXPECT_EQ(probe(TestMedia::ffmpeg(), dir.filePath("none.wav")), std::nullopt);
    EXPECT_EQ(probe(dir.filePath("no-ffmpeg"), video), std::nullopt);
}

TEST(CleanupPartial, RemovesEveryEntryWithTheBaseName)
{
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral(".vorlik-tmp-1234-Take 1"));
    vorlik::test::writeFile(base + QStringLiteral(".wav"), "partial");
    vorlik::test::writeFile(base + QStringLiteral(".log"), "side file");
    QDir(dir.path()).mkpath(QStringLiteral(".vorlik-tmp-1234-Take 1-frames/sub"));
    vorlik::test::writeFile(base + QStringLiteral("-frames/sub/1.png"), "frame");
    vorlik::test::writeFile(dir.filePath(QStringLiteral("Take 1.flac")), "the source");
    vorlik::test::writeFile(dir.filePath(QStringLiteral(".vorlik-tmp-9999-Take 1.wav")), "another run");

    ConvertRunner::cleanupPartial(base);
    const QStringList left = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    EXPECT_EQ(left, (QStringList{QStringLiteral(".vorlik-tmp-9999-Take 1.wav"), QStringLiteral("Take 1.flac")}));
}

TEST(CleanupPartial, MissingFolderOrEmptyBaseDoesNothing)
{
    QTemporaryDir dir;
    ConvertRunner::cleanupPartial(dir.filePath(QStringLiteral("gone/.vorlik-tmp-x")));
    vorlik::test::writeFile(dir.filePath(QStringLiteral("keep.wav")), "x");
    // A base that names no entry prefix must not match everything in the folder.
    ConvertRunner::cleanupPartial(dir.path() + u'/');
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("keep.wav"))));
}

TEST(StderrTail, KeepsTheLastCharactersOnEveryAppend)
{
    StderrTail tail;
    const QString flag = QStringLiteral("\U0001F1E9\U0001F1EA"); // one character, four code units
    for (int i = 0; i < 3000; ++i)
        tail.append(flag + flag + flag + QString::number(i % 10));
    const QString text = tail.text();
    EXPECT_EQ(Graphemes::count(text), StderrTail::limit);
    EXPECT_TRUE(text.endsWith(flag + QStringLiteral("9")));
    EXPECT_GT(text.size(), StderrTail::limit); // counted in characters, not code units
}

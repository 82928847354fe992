// ffmpeg as a child process: outcomes, the error-stream tail, stopping, the channel probe and
// the removal of partial outputs, all on real processes and files.
#include "TestMedia.h"

#include "convert/ConvertRunner.h"
#include "convert/FFmpegProgress.h"
#include "convert/ProcessBox.h"
#include "convert/StderrTail.h"
#include "platform/CancellationToken.h"
#include "platform/Graphemes.h"
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
#include <vector>
#include <sys/types.h>
#include <sys/wait.h>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using vorlik::convert::ConvertRunner;
using vorlik::convert::FFmpegProgress;
using vorlik::convert::ProcessBox;
using vorlik::convert::ShellOutcome;
using vorlik::convert::StderrTail;
using vorlik::platform::CancellationToken;
using vorlik::platform::Graphemes;
using vorlik::test::run;
using vorlik::test::TestMedia;

namespace {

// Real time, so it runs until stopped.
const QStringList slowRun{"-hide_banner", "-re", "-f", "lavfi", "-i", "sine=duration=600", "-f", "null", "-"};

QCoro::Task<> waitUntilRunning(QPointer<QProcess> &process)
{
    for (int i = 0; i < 500 && !(process && process->state() == QProcess::Running); ++i)
        co_await QCoro::sleepFor(10ms);
}

bool isAlive(qint64 pid) { return pid > 0 && ::kill(pid_t(pid), 0) == 0; }

} // namespace

TEST(RunFFmpeg, TailKeepsTheLastCharactersIncludingTheFinalLines)
{
    QTemporaryDir dir;
    // 300 KB of status lines on the error stream (read for the progress too; each rewrites the
    // last, the final one ends its line as ffmpeg's does), then the line that matters, written
    // just before exit.
    const QString program = TestMedia::script(dir.filePath("noisy"),
        "i=0; while [ $i -lt 3000 ]; do printf 'frame=%5d fps=0.0 q=-1.0 size=   1kB time=00:%02d:%02d.00 bitrate=1.0kbits/s speed=1x progress progress progress\\r' $i $((i/60)) $((i%60)) >&2; i=$((i+1)); done\n"
        "printf '\\n' >&2\n"
        "printf 'caf\\303\\251 \\360\\237\\207\\251\\360\\237\\207\\252 Error: final line\\n' >&2\nexit 3\n");
    std::vector<qint64> positions;
    const ShellOutcome outcome = run(ConvertRunner::runFFmpeg(
        program, {}, {}, {}, [&](const FFmpegProgress &progress) { positions.push_back(progress.position().count()); }));
    ASSERT_FALSE(outcome.isSuccess());
    ASSERT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), 2999000);
    EXPECT_EQ(outcome.exitCode(), 3);
    EXPECT_EQ(Graphemes::count(outcome.stderrTail()), StderrTail::limit);
    EXPECT_TRUE(outcome.stderrTail().endsWith("caf\u00E9 \U0001F1E9\U0001F1EA Error: final line\n"));
    EXPECT_EQ(ConvertRunner::summarise(outcome.stderrTail()), "caf\u00E9 \U0001F1E9\U0001F1EA Error: final line");
}

TEST(RunFFmpeg, CharacterSplitAcrossReadsSurvives)
{
    QTemporaryDir dir;
    // The two halves of "é" arrive in separate writes with a pause between them.
    const QString program = TestMedia::script(dir.filePath("split"),
        "printf 'caf\\303' >&2; sleep 0.3; printf '\\251 ok\\n' >&2; printf 'bad \\377 byte\\n' >&2; exit 2\n");
    const ShellOutcome outcome = run(ConvertRunner::runFFmpeg(program, {}));
    ASSERT_FALSE(outcome.isSuccess());
    EXPECT_EQ(outcome.stderrTail(), "caf\u00E9 ok\nbad \uFFFD byte\n");
}

TEST(RunFFmpeg, CancelSendsTerminateAndWaitsForTheEndWheneverItCame)
{
    CancellationToken token;
    QPointer<QProcess> process;
    qint64 pid = 0;
    const ShellOutcome outcome = run([&]() -> QCoro::Task<ShellOutcome> {
        auto running = ConvertRunner::runFFmpeg(TestMedia::ffmpeg(), slowRun, [&](QProcess &p) { process = &p; }, token);
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
    EXPECT_EQ(::waitpid(pid_t(pid), nullptr, WNOHANG), -1); // waited for: nothing left to reap

    // A stop before the call, or after the process was published but before it was launched.
    CancellationToken before;
    before.cancel();
    EXPECT_FALSE(run(ConvertRunner::runFFmpeg(TestMedia::ffmpeg(), slowRun, {}, before)).isSuccess());
    CancellationToken during;
    EXPECT_FALSE(run(ConvertRunner::runFFmpeg(TestMedia::ffmpeg(), slowRun, [&](QProcess &) { during.cancel(); }, during)).isSuccess());
}

TEST(RunFFmpeg, ProcessIgnoringTerminateIsStillWaitedFor)
{
    CancellationToken token;
    QPointer<QProcess> process;
    qint64 pid = 0;
    bool endedBeforeKill = true;
    bool aliveBeforeKill = false;
    const ShellOutcome outcome = run([&]() -> QCoro::Task<ShellOutcome> {
        auto running = ConvertRunner::runFFmpeg(VORLIK_STUBBORN_CHILD, {}, [&](QProcess &p) { process = &p; }, token);
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
    EXPECT_TRUE(outcome.stderrTail().contains("ignoring SIGTERM"));
    EXPECT_FALSE(isAlive(pid));
}

// The runner's box of running processes: a stop reaches the process stored in it, and a stop
// that comes before the process is published is not lost.
TEST(ProcessBox, AStopReachesTheStoredProcessEvenOneStoredLater)
{
    ProcessBox box;
    const ShellOutcome outcome = run([&]() -> QCoro::Task<ShellOutcome> {
        QPointer<QProcess> process;
        auto running = ConvertRunner::runFFmpeg(TestMedia::ffmpeg(), slowRun, [&](QProcess &p) {
            process = &p;
            box.store(&p);
        });
        co_await waitUntilRunning(process);
        EXPECT_EQ(box.requestTermination(), QList<QPointer<QProcess>>{process});
        co_return co_await running;
    }());
    EXPECT_FALSE(outcome.isSuccess());
    EXPECT_TRUE(box.processes().isEmpty()); // the process is gone, the box does not dangle

    box.reset();
    EXPECT_TRUE(box.requestTermination().isEmpty());
    EXPECT_TRUE(box.terminationRequested());
    EXPECT_FALSE(run(ConvertRunner::runFFmpeg(TestMedia::ffmpeg(), slowRun, [&](QProcess &process) { box.store(&process); })).isSuccess());
    box.clear();
    EXPECT_TRUE(box.processes().isEmpty());
    box.reset();
    EXPECT_FALSE(box.terminationRequested());
}

TEST(ProbeChannelCount, ReadsRealFiles)
{
    QTemporaryDir dir;
    const QString surround = TestMedia::silence(dir.filePath("surround.wav"), "5.1");
    // The second audio stream decides when the first has no known layout.
    const QString two = TestMedia::make(dir.filePath("two.mov"),
        {"-f", "lavfi", "-i", "anullsrc=channel_layout=hexagonal:sample_rate=48000", "-f", "lavfi", "-i",
         "anullsrc=channel_layout=stereo:sample_rate=48000", "-map", "0", "-map", "1", "-c:a", "pcm_s16le", "-t", "0.3"});
    const QString video = TestMedia::make(dir.filePath("video.mkv"), {"-f", "lavfi", "-i", "testsrc=duration=0.3:size=64x48", "-c:v", "ffv1"});
    const auto probe = [](const QString &ffmpeg, const QString &file) { return run(ConvertRunner::probeChannelCount(ffmpeg, file)); };
    EXPECT_EQ(probe(TestMedia::ffmpeg(), surround), 6);
    EXPECT_EQ(probe(TestMedia::ffmpeg(), two), 2);
    // Video only, a missing file or a missing ffmpeg: no count.
    EXPECT_EQ(probe(TestMedia::ffmpeg(), video), std::nullopt);
    EXPECT_EQ(probe(TestMedia::ffmpeg(), dir.filePath("none.wav")), std::nullopt);
    EXPECT_EQ(probe(dir.filePath("no-ffmpeg"), video), std::nullopt);
}

TEST(CleanupPartial, RemovesEveryEntryWithTheBaseNameAndNothingElse)
{
    QTemporaryDir dir;
    const QString base = dir.filePath(".vorlik-tmp-1234-Take 1");
    vorlik::test::writeFile(base + ".wav", "partial");
    vorlik::test::writeFile(base + ".log", "side file");
    QDir(dir.path()).mkpath(".vorlik-tmp-1234-Take 1-frames/sub");
    vorlik::test::writeFile(base + "-frames/sub/1.png", "frame");
    vorlik::test::writeFile(dir.filePath("Take 1.flac"), "the source");
    vorlik::test::writeFile(dir.filePath(".vorlik-tmp-9999-Take 1.wav"), "another run");
    ConvertRunner::cleanupPartial(base);
    // A missing folder, and a base that names no entry prefix (it must not match everything).
    ConvertRunner::cleanupPartial(dir.filePath("gone/.vorlik-tmp-x"));
    ConvertRunner::cleanupPartial(dir.path() + u'/');
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{".vorlik-tmp-9999-Take 1.wav", "Take 1.flac"}));
}

TEST(StderrTail, KeepsTheLastCharactersOnEveryAppend)
{
    StderrTail tail;
    const QString flag = "\U0001F1E9\U0001F1EA"; // one character, four code units
    for (int i = 0; i < 3000; ++i)
        tail.append(flag + flag + flag + QString::number(i % 10));
    const QString text = tail.text();
    EXPECT_EQ(Graphemes::count(text), StderrTail::limit);
    EXPECT_TRUE(text.endsWith(flag + "9"));
    EXPECT_GT(text.size(), StderrTail::limit); // counted in characters, not code units
}

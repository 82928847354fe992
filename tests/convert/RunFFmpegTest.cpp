#include "TestMedia.h"

#include "convert/ConversionProgress.h"
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
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <optional>
#include <vector>
#include <sys/types.h>
#include <sys/wait.h>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using vorlik::convert::ConvertRunner;
using vorlik::convert::FFmpegProgress;
using vorlik::convert::ProcessBox;
using vorlik::convert::ShellOutcome;
using vorlik::platform::CancellationToken;
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
    // last, the final one ends its line as ffmpeg's does), then "é" in two writes with a pause
    // between them, a byte that is no UTF-8, and the line that matters, written just before exit.
    const QString program = TestMedia::script(dir.filePath("noisy"),
        "i=0; while [ $i -lt 3000 ]; do printf 'frame=%5d fps=0.0 q=-1.0 size=   1kB time=00:%02d:%02d.00 bitrate=1.0kbits/s speed=1x progress progress progress\\r' $i $((i/60)) $((i%60)) >&2; i=$((i+1)); done\n"
        "printf '\\ncaf\\303' >&2; sleep 0.3; printf '\\251 ok\\nbad \\377 byte\\n' >&2\n"
        "printf 'caf\\303\\251 \\360\\237\\207\\251\\360\\237\\207\\252 Error: final line\\n' >&2\nexit 3\n");
    std::vector<qint64> positions;
    const ShellOutcome outcome = run(ConvertRunner::runFFmpeg(
        program, {}, {}, {}, [&](const FFmpegProgress &progress) { positions.push_back(progress.position().count()); }));
    ASSERT_FALSE(outcome.isSuccess());
    ASSERT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), 2999000);
    EXPECT_EQ(outcome.exitCode(), 3);
    EXPECT_EQ(vorlik::platform::Graphemes::count(outcome.stderrTail()), vorlik::convert::StderrTail::limit);
    EXPECT_TRUE(outcome.stderrTail().endsWith("\ncaf\u00E9 ok\nbad \uFFFD byte\ncaf\u00E9 \U0001F1E9\U0001F1EA Error: final line\n"));
    EXPECT_EQ(ConvertRunner::summarise(outcome.stderrTail()), "caf\u00E9 \U0001F1E9\U0001F1EA Error: final line");
}

// A stop reaches the running process through the runner's box of processes or through the
// run's cancellation token: SIGTERM, then its end is waited for, and the box does not dangle. A stop
// that comes before the call, before the launch or before the process is stored in the box is not lost.
TEST(RunFFmpeg, AStopTerminatesAndWaitsForTheEndWheneverItCame)
{
    for (const bool viaToken : {false, true}) {
        SCOPED_TRACE(viaToken ? "token" : "box");
        ProcessBox box;
        CancellationToken token;
        qint64 pid = 0;
        const ShellOutcome outcome = run([&]() -> QCoro::Task<ShellOutcome> {
            QPointer<QProcess> process;
            auto running = ConvertRunner::runFFmpeg(TestMedia::ffmpeg(), slowRun, [&](QProcess &p) {
                process = &p;
                box.store(&p);
            }, token);
            co_await waitUntilRunning(process);
            pid = process->processId();
            co_await QCoro::sleepFor(300ms);
            if (viaToken)
                token.cancel();
            else
                EXPECT_EQ(box.requestTermination(), QList<QPointer<QProcess>>{process});
            co_return co_await running;
        }());
        EXPECT_FALSE(outcome.isSuccess());
        // ffmpeg leaves on SIGTERM with its own status after saying why.
        EXPECT_TRUE(outcome.exitCode() == 255 || outcome.exitCode() == SIGTERM) << outcome.exitCode();
        EXPECT_FALSE(isAlive(pid));
        EXPECT_EQ(::waitpid(pid_t(pid), nullptr, WNOHANG), -1); // waited for: nothing left to reap
        EXPECT_TRUE(box.processes().isEmpty());
    }

    CancellationToken before;
    before.cancel();
    EXPECT_FALSE(run(ConvertRunner::runFFmpeg(TestMedia::ffmpeg(), slowRun, {}, before)).isSuccess());
    CancellationToken during;
    EXPECT_FALSE(run(ConvertRunner::runFFmpeg(TestMedia::ffmpeg(), slowRun, [&](QProcess &) { during.cancel(); }, during)).isSuccess());
    ProcessBox box;
    box.reset();
    EXPECT_TRUE(box.requestTermination().isEmpty());
    EXPECT_TRUE(box.terminationRequested());
    EXPECT_FALSE(run(ConvertRunner::runFFmpeg(TestMedia::ffmpeg(), slowRun, [&](QProcess &process) { box.store(&process); })).isSuccess());
    box.clear();
    EXPECT_TRUE(box.processes().isEmpty());
    box.reset();
    EXPECT_FALSE(box.terminationRequested());
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

// Each case converts a source to WAV and reads the run's error stream as it arrives, and again
// whole and in small pieces from a second run that nobody follows.
TEST(FFmpegProgress, DurationAndPositionOfRealRuns)
{
    QTemporaryDir dir;
    // An MP3 cut short: its header still says 3 s, the audio ends near 1.8 s; the run ends there
    // without ever reaching its stated length.
    const QString whole = TestMedia::make(dir.filePath("whole.mp3"),
                                          {"-f", "lavfi", "-i", "sine=sample_rate=44100:duration=3", "-c:a", "libmp3lame", "-b:a", "128k"});
    vorlik::test::writeFile(dir.filePath("cut.mp3"), vorlik::test::readFile(whole).first(30000));
    // Times in ms.
    const struct { const char *name; QStringList input; std::optional<qint64> duration; qint64 lastPosition; } cases[] = {
        {"known duration", {"-i", TestMedia::sine(dir.filePath("in.wav"), 3.0)}, 3000, 3000},
        // A generated stream has no length: the position alone.
        {"unknown duration", {"-f", "lavfi", "-i", "sine=sample_rate=48000:duration=2"}, std::nullopt, 2000},
        {"ends early", {"-i", dir.filePath("cut.mp3")}, 3030, 1820},
    };
    const auto durationOf = [](const FFmpegProgress &progress) {
        return progress.duration() ? std::optional<qint64>(progress.duration()->count()) : std::nullopt;
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString output = dir.filePath("out.wav");
        const QStringList arguments = QStringList{"-hide_banner", "-nostdin", "-y"} + c.input + QStringList{"-c:a", "pcm_s24le", output};
        std::vector<qint64> positions;
        std::optional<qint64> duration;
        const auto outcome = run(ConvertRunner::runFFmpeg(
            TestMedia::ffmpeg(), arguments, {}, {}, [&](const FFmpegProgress &progress) {
                positions.push_back(progress.position().count());
                if (progress.duration())
                    duration = durationOf(progress);
                const std::optional<double> fraction = progress.fraction();
                EXPECT_EQ(fraction.has_value(), progress.duration().has_value());
                EXPECT_TRUE(!fraction || (*fraction >= 0 && *fraction <= 1)) << fraction.value_or(-1);
            }));
        ASSERT_TRUE(outcome.isSuccess()) << outcome.stderrTail().toStdString();
        EXPECT_EQ(duration, c.duration);
        ASSERT_FALSE(positions.empty());
        EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
        EXPECT_NEAR(double(positions.back()), double(c.lastPosition), 60);

        // Followed or not, the run writes the same bytes; its stream, read whole and in pieces
        // that split every line somewhere, gives the same progress.
        const QByteArray followed = vorlik::test::readFile(output);
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(TestMedia::ffmpeg(), arguments);
        ASSERT_TRUE(process.waitForFinished(60000) && process.exitCode() == 0);
        const QString stream = QString::fromUtf8(process.readAllStandardError());
        EXPECT_EQ(vorlik::test::readFile(output), followed);
        for (qsizetype piece : {stream.size(), qsizetype(1), qsizetype(7)}) {
            FFmpegProgress progress;
            for (qsizetype at = 0; at < stream.size(); at += piece)
                progress.read(QStringView(stream).sliced(at, std::min(piece, stream.size() - at)));
            EXPECT_EQ(durationOf(progress), c.duration) << "pieces of " << piece;
            EXPECT_NEAR(double(progress.position().count()), double(c.lastPosition), 60) << "pieces of " << piece;
        }
    }
}

// A run that has passed its source's stated length goes on for a while: it is not done yet.
TEST(ConversionProgressText, PastTheStatedLengthHoldsAt99WithoutATimeLeft)
{
    using vorlik::convert::ConversionProgress;
    const ConversionProgress::Clock::time_point now = ConversionProgress::Clock::now();
    EXPECT_EQ((ConversionProgress{now - 10s, now - 10s, 1.0}.text(now)), "99%");
    EXPECT_EQ((ConversionProgress{now - 10s, now - 10s, 0.5}.text(now)), "50% \u00B7 0:10 left");
}

TEST(ChannelCount, FromALayoutOrACountOrAProbesFirstRecognisableAudioStream)
{
    const std::nullopt_t none = std::nullopt;
    const QList<std::pair<QString, std::optional<int>>> cases{
        {"6 channels", 6}, {"1 channel", 1}, {"6 Channels", 6}, {"6channels", 6}, {"6 ch", none}, {"48000 Hz", none},
        {"5.1(Side)", 6},  {"mono", 1},      {"Stereo", 2},     {"2.1", 3},       {"quad", 4},    {"5.0", 5},
        {"5.1", 6},        {"6.1", 7},       {"7.1", 8},        {"12 \tchannels", 12}, {"7.1(wide)", none},
        {"5.0(side)", none}, {"hexagonal", none}, {"octagonal", none}, {"channels", none}, {"6 channels extra", none},
        {"99999999999999999999 channels", none}, {QString(), none}};
    for (const auto &[descriptor, channels] : cases)
        EXPECT_EQ(ConvertRunner::channelCount(descriptor), channels) << descriptor.toStdString();

    // From a probe's output: the first audio stream whose channels can be read.
    const struct { const char *name; QString output; std::optional<int> channels; } probes[] = {
        {"video only",
         "Input #0, matroska,webm, from 'v.mkv':\n  Duration: 00:00:01.00\n  Stream #0:0: Video: h264 (High), yuv420p, 320x240, 25 fps\n"
         "At least one output file must be specified\n",
         std::nullopt},
        {"the next audio stream decides",
         "  Stream #0:0: Audio: pcm_s16le, 48000 Hz, hexagonal, s16\n  Stream #0:1: Audio: flac, 48000 Hz, 6 channels, s32\n", 6},
        {"first recognisable stream wins", "  Stream #0:0: Audio: pcm_s16le, 48000 Hz, mono, s16\n  Stream #0:1: Audio: flac, 48000 Hz, 5.1, s32\n", 1},
        {"lines without Audio: are passed over", "  Metadata: stereo\n  Stream #0:0: Video: 2 channels\n", std::nullopt},
        {"empty pieces and tabs", "Stream #0:0: Audio: pcm,,\t quad \t,", 4},
        {"empty output", QString(), std::nullopt},
    };
    for (const auto &c : probes)
        EXPECT_EQ(ConvertRunner::parseChannelCount(c.output), c.channels) << c.name;
}

TEST(Summarise, TakesTheLastErrorLineOrFFmpegsOwnWordsOrTheBeginning)
{
    // ffmpeg says some failures in words of its own; the input dump before them says nothing.
    const QString dump = "Guessed Channel Layout for Input Stream #0.0 : mono\nInput #0, wav, from 'a.wav':\n"
                         "  Duration: 00:00:01.00, bitrate: 768 kb/s\n";
    const QString longError = "Error: " + QString(300, u'x');
    QString plain;
    for (int i = 0; i < 40; ++i)
        plain += QString("line %1\n").arg(i);
    // An accented letter written with a combining mark is one character of two code units.
    QString accents;
    for (int i = 0; i < 300; ++i)
        accents += "e\u0301";
    const QList<std::pair<QString, QString>> cases{
        {"Input #0\nError opening first\nprogress\n[x] Invalid data found\nend\n\n", "[x] Invalid data found"},
        {"a\nsome error here\nb", "some error here"},
        {dump + "Stream map '0:a:0' matches no streams.\nTo ignore this, add a trailing '?' to the map.\n",
         "Stream map '0:a:0' matches no streams."},
        {"out.wav: Permission denied\n", "out.wav: Permission denied"},
        {dump + "missing.wav: No such file or directory\n", "missing.wav: No such file or directory"},
        {dump + "Could not write header\nConversion failed!\n", "Conversion failed!"},
        {dump + "[aac] Cannot allocate memory\nsize=0kB\n", "[aac] Cannot allocate memory"},
        // An "Error" line still wins over them.
        {"Error while filtering\nConversion failed!\n", "Error while filtering"},
        // "ERROR" and "invalid" are not among the markers: the beginning of the text is shown.
        {"first line\nERROR upper\ninvalid lower", "first line\nERROR upper\ninvalid lower"},
        // At most 220 characters as a reader counts them; without an error line, line breaks included.
        {"ok\n" + longError, longError.left(220)},
        {plain, plain.left(220)},
        {"Error " + accents, "Error " + accents.left(2 * 214)},
        {QString(), QString()},
    };
    for (const auto &[tail, summary] : cases)
        EXPECT_EQ(ConvertRunner::summarise(tail), summary);
}

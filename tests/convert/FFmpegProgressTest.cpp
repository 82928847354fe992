#include "TestMedia.h"

#include "convert/ConversionProgress.h"
#include "convert/ConvertRunner.h"
#include "convert/FFmpegProgress.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

using vorlik::convert::ConvertRunner;
using vorlik::convert::FFmpegProgress;
using vorlik::convert::ShellOutcome;
using vorlik::test::TestMedia;

namespace {

// How far a run is, read from real ffmpeg runs: each case converts a source to WAV and reads
// the run's error stream as it arrives, and again whole and in small pieces from a second run.
struct ProgressCase {
    const char *name;
    // Makes the source in the folder; returns the arguments that read it.
    std::function<QStringList(const QTemporaryDir &)> input;
    std::optional<qint64> duration; // ms
    qint64 lastPosition;            // ms
};

class ProgressFromRealRuns : public testing::TestWithParam<ProgressCase> {};

QString errorStreamOf(const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(TestMedia::ffmpeg(), arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0);
    return QString::fromUtf8(process.readAllStandardError());
}

} // namespace

TEST_P(ProgressFromRealRuns, DurationAndPosition)
{
    const ProgressCase &c = GetParam();
    QTemporaryDir dir;
    const QStringList arguments = QStringList{QStringLiteral("-hide_banner"), QStringLiteral("-nostdin"),
                                              QStringLiteral("-y")}
                                  + c.input(dir)
                                  + QStringList{QStringLiteral("-c:a"), QStringLiteral("pcm_s24le"),
                                                dir.filePath(QStringLiteral("out.wav"))};

    std::vector<qint64> positions;
    std::optional<qint64> duration;
    const ShellOutcome outcome = vorlik::test::run(ConvertRunner::runFFmpeg(
        TestMedia::ffmpeg(), arguments, {}, {}, [&](const FFmpegProgress &progress) {
            positions.push_back(progress.position().count());
            if (progress.duration())
                duration = progress.duration()->count();
            const std::optional<double> fraction = progress.fraction();
            EXPECT_EQ(fraction.has_value(), progress.duration().has_value());
            if (fraction)
                EXPECT_TRUE(*fraction >= 0 && *fraction <= 1) << *fraction;
        }));
    ASSERT_TRUE(outcome.isSuccess()) << outcome.stderrTail().toStdString();
    EXPECT_EQ(duration, c.duration);
    ASSERT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_NEAR(double(positions.back()), double(c.lastPosition), 60);

    // The same run without anyone following its progress writes the same bytes; its stream,
    // read whole and in pieces that split every line somewhere, gives the same progress.
    const QByteArray followed = vorlik::test::readFile(dir.filePath(QStringLiteral("out.wav")));
    const QString stream = errorStreamOf(arguments);
    EXPECT_EQ(vorlik::test::readFile(dir.filePath(QStringLiteral("out.wav"))), followed);
    for (qsizetype piece : {stream.size(), qsizetype(1), qsizetype(7)}) {
        FFmpegProgress progress;
        for (qsizetype at = 0; at < stream.size(); at += piece)
            progress.read(QStringView(stream).sliced(at, std::min(piece, stream.size() - at)));
        EXPECT_EQ(progress.duration() ? std::optional<qint64>(progress.duration()->count()) : std::nullopt, c.duration)
            << "pieces of " << piece;
        EXPECT_NEAR(double(progress.position().count()), double(c.lastPosition), 60) << "pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(
    RunFFmpeg, ProgressFromRealRuns,
    testing::Values(
        ProgressCase{"knownDuration",
                     [](const QTemporaryDir &dir) {
                         return QStringList{QStringLiteral("-i"),
                                            TestMedia::sine(dir.filePath(QStringLiteral("in.wav")), 3.0)};
                     },
                     3000, 3000},
        // A generated stream has no length: the position alone.
        ProgressCase{"unknownDuration",
                     [](const QTemporaryDir &) {
                         return QStringList{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                            QStringLiteral("sine=sample_rate=48000:duration=2")};
                     },
                     std::nullopt, 2000},
        // An MP3 cut short: its header still says 3 s, the audio ends near 1.8 s; the run ends
        // there without ever reaching its stated length.
        ProgressCase{"endsEarly",
                     [](const QTemporaryDir &dir) {
                         const QString whole = TestMedia::make(dir.filePath(QStringLiteral("whole.mp3")),
                             {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                              QStringLiteral("sine=sample_rate=44100:duration=3"), QStringLiteral("-c:a"),
                              QStringLiteral("libmp3lame"), QStringLiteral("-b:a"), QStringLiteral("128k")});
                         const QString cut = dir.filePath(QStringLiteral("cut.mp3"));
                         vorlik::test::writeFile(cut, vorlik::test::readFile(whole).first(30000));
                         return QStringList{QStringLiteral("-i"), cut};
                     },
                     3030, 1820}),
    [](const testing::TestParamInfo<ProgressCase> &info) { return std::string(info.param.name); });

// A run that has passed its source's stated length goes on for a while: it is not done yet.
TEST(ConversionProgressText, PastTheStatedLengthHoldsAt99WithoutATimeLeft)
{
    using vorlik::convert::ConversionProgress;
    const ConversionProgress::Clock::time_point now = ConversionProgress::Clock::now();
    const ConversionProgress past{now - std::chrono::seconds(10), now - std::chrono::seconds(10), 1.0};
    EXPECT_EQ(past.text(now).toStdString(), "99%");
    const ConversionProgress half{now - std::chrono::seconds(10), now - std::chrono::seconds(10), 0.5};
    EXPECT_EQ(half.text(now), QStringLiteral("50% \u00B7 0:10 left"));
}

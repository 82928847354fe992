// How far a run is, read from real ffmpeg runs, and the text that says it.
#include "TestMedia.h"

#include "convert/ConversionProgress.h"
#include "convert/ConvertRunner.h"
#include "convert/FFmpegProgress.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <optional>
#include <vector>

using vorlik::convert::ConvertRunner;
using vorlik::convert::FFmpegProgress;
using vorlik::test::TestMedia;

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
    const struct {
        const char *name;
        QStringList input;
        std::optional<qint64> duration; // ms
        qint64 lastPosition;            // ms
    } cases[] = {
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
        const auto outcome = vorlik::test::run(ConvertRunner::runFFmpeg(
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
    const ConversionProgress past{now - std::chrono::seconds(10), now - std::chrono::seconds(10), 1.0};
    EXPECT_EQ(past.text(now), "99%");
    const ConversionProgress half{now - std::chrono::seconds(10), now - std::chrono::seconds(10), 0.5};
    EXPECT_EQ(half.text(now), "50% \u00B7 0:10 left");
}

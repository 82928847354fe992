// Reading a channel count from ffmpeg's stream descriptions, and the one-line error summary.
#include "convert/ConvertRunner.h"

#include "TestMedia.h"

#include <gtest/gtest.h>

#include <optional>

using vorlik::convert::ConvertRunner;

TEST(ChannelCount, FromALayoutOrACount)
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
}

TEST(ChannelCount, FromAProbesOutputTheFirstRecognisableAudioStream)
{
    const struct {
        const char *name;
        QString output;
        std::optional<int> channels;
    } cases[] = {
        {"pcm stereo", "  Stream #0:0: Audio: pcm_s16le, 48000 Hz, stereo, s16, 1536 kb/s", 2},
        {"aac 5.1", "  Stream #0:1(eng): Audio: aac (LC), 48000 Hz, 5.1, fltp", 6},
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
    for (const auto &c : cases)
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

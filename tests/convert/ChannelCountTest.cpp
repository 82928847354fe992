// Reading a channel count from ffmpeg's stream descriptions, and the one-line error summary.
#include "convert/ConvertRunner.h"

#include "TestMedia.h"

#include <gtest/gtest.h>

#include <optional>

using vorlik::convert::ConvertRunner;

struct DescriptorCase {
    QString input;
    std::optional<int> channels;
};

class ChannelCountFromDescriptor : public ::testing::TestWithParam<DescriptorCase> {};

TEST_P(ChannelCountFromDescriptor, Reads)
{
    EXPECT_EQ(ConvertRunner::channelCount(GetParam().input), GetParam().channels) << GetParam().input.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChannelCountFromDescriptor,
    ::testing::Values(DescriptorCase{QStringLiteral("6 channels"), 6}, DescriptorCase{QStringLiteral("1 channel"), 1},
                      DescriptorCase{QStringLiteral("6 Channels"), 6}, DescriptorCase{QStringLiteral("6channels"), 6},
                      DescriptorCase{QStringLiteral("6 ch"), std::nullopt},
                      DescriptorCase{QStringLiteral("48000 Hz"), std::nullopt},
                      DescriptorCase{QStringLiteral("5.1(Side)"), 6}, DescriptorCase{QStringLiteral("mono"), 1},
                      DescriptorCase{QStringLiteral("Stereo"), 2}, DescriptorCase{QStringLiteral("2.1"), 3},
                      DescriptorCase{QStringLiteral("quad"), 4}, DescriptorCase{QStringLiteral("5.0"), 5},
                      DescriptorCase{QStringLiteral("5.1"), 6}, DescriptorCase{QStringLiteral("6.1"), 7},
                      DescriptorCase{QStringLiteral("7.1"), 8}, DescriptorCase{QStringLiteral("12 \tchannels"), 12},
                      DescriptorCase{QStringLiteral("7.1(wide)"), std::nullopt},
                      DescriptorCase{QStringLiteral("5.0(side)"), std::nullopt},
                      DescriptorCase{QStringLiteral("hexagonal"), std::nullopt},
                      DescriptorCase{QStringLiteral("octagonal"), std::nullopt},
                      DescriptorCase{QStringLiteral("channels"), std::nullopt},
                      DescriptorCase{QStringLiteral("6 channels extra"), std::nullopt},
                      DescriptorCase{QStringLiteral("99999999999999999999 channels"), std::nullopt},
                      DescriptorCase{QString(), std::nullopt}),
    [](const auto &info) { return std::to_string(info.index); });

struct ProbeCase {
    const char *name;
    QString output;
    std::optional<int> channels;
};

class ParseChannelCount : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(ParseChannelCount, Reads)
{
    EXPECT_EQ(ConvertRunner::parseChannelCount(GetParam().output), GetParam().channels) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseChannelCount,
    ::testing::Values(
        ProbeCase{"pcm stereo", QStringLiteral("  Stream #0:0: Audio: pcm_s16le, 48000 Hz, stereo, s16, 1536 kb/s"), 2},
        ProbeCase{"aac 5.1", QStringLiteral("  Stream #0:1(eng): Audio: aac (LC), 48000 Hz, 5.1, fltp"), 6},
        ProbeCase{"video only",
                  QStringLiteral("Input #0, matroska,webm, from 'v.mkv':\n  Duration: 00:00:01.00\n"
                                 "  Stream #0:0: Video: h264 (High), yuv420p, 320x240, 25 fps\n"
                                 "At least one output file must be specified\n"),
                  std::nullopt},
        ProbeCase{"the next audio stream decides",
                  QStringLiteral("  Stream #0:0: Audio: pcm_s16le, 48000 Hz, hexagonal, s16\n"
                                 "  Stream #0:1: Audio: flac, 48000 Hz, 6 channels, s32\n"),
                  6},
        ProbeCase{"first recognisable stream wins",
                  QStringLiteral("  Stream #0:0: Audio: pcm_s16le, 48000 Hz, mono, s16\n"
                                 "  Stream #0:1: Audio: flac, 48000 Hz, 5.1, s32\n"),
                  1},
        ProbeCase{"lines without Audio: are passed over",
                  QStringLiteral("  Metadata: stereo\n  Stream #0:0: Video: 2 channels\n"), std::nullopt},
        ProbeCase{"empty pieces and tabs", QStringLiteral("Stream #0:0: Audio: pcm,,\t quad \t,"), 4},
        ProbeCase{"empty output", QString(), std::nullopt}),
    [](const auto &info) { return std::to_string(info.index); });

TEST(Summarise, TakesTheLastErrorLineOrFFmpegsOwnWordsOrTheBeginning)
{
    // ffmpeg says some failures in words of its own; the input dump before them says nothing.
    const QString dump = QStringLiteral("Guessed Channel Layout for Input Stream #0.0 : mono\nInput #0, wav, from 'a.wav':\n"
                                        "  Duration: 00:00:01.00, bitrate: 768 kb/s\n");
    const QString longError = QStringLiteral("Error: ") + QString(300, u'x');
    QString plain;
    for (int i = 0; i < 40; ++i)
        plain += QStringLiteral("line %1\n").arg(i);
    const struct {
        QString tail;
        QString summary;
    } cases[] = {
        {QStringLiteral("Input #0\nError opening first\nprogress\n[x] Invalid data found\nend\n\n"),
         QStringLiteral("[x] Invalid data found")},
        {QStringLiteral("a\nsome error here\nb"), QStringLiteral("some error here")},
        {dump + QStringLiteral("Stream map '0:a:0' matches no streams.\nTo ignore this, add a trailing '?' to the map.\n"),
         QStringLiteral("Stream map '0:a:0' matches no streams.")},
        {QStringLiteral("out.wav: Permission denied\n"), QStringLiteral("out.wav: Permission denied")},
        {dump + QStringLiteral("missing.wav: No such file or directory\n"), QStringLiteral("missing.wav: No such file or directory")},
        {dump + QStringLiteral("Could not write header\nConversion failed!\n"), QStringLiteral("Conversion failed!")},
        {dump + QStringLiteral("[aac] Cannot allocate memory\nsize=0kB\n"), QStringLiteral("[aac] Cannot allocate memory")},
        // An "Error" line still wins over them.
        {QStringLiteral("Error while filtering\nConversion failed!\n"), QStringLiteral("Error while filtering")},
        // "ERROR" and "invalid" are not among the markers: the beginning of the text is shown.
        {QStringLiteral("first line\nERROR upper\ninvalid lower"), QStringLiteral("first line\nERROR upper\ninvalid lower")},
        // At most 220 characters; without an error line, line breaks included.
        {QStringLiteral("ok\n") + longError, longError.left(220)},
        {plain, plain.left(220)},
        {QString(), QString()},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ConvertRunner::summarise(c.tail), c.summary);
}

TEST(Summarise, CountsUserPerceivedCharacters)
{
    // An accented letter written with a combining mark is one character of two code units.
    QString accents;
    for (int i = 0; i < 300; ++i)
        accents += QStringLiteral("e\u0301");
    const QString summary = ConvertRunner::summarise(QStringLiteral("Error ") + accents);
    EXPECT_EQ(summary.size(), 6 + 2 * 214);
    EXPECT_TRUE(summary.endsWith(QStringLiteral("e\u0301")));
}

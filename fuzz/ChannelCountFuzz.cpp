// The channel probe's reading of ffmpeg's stream description: ConvertRunner::parseChannelCount.
// A count found is a whole number from a line that names an audio stream, and the same layout
// written into a plain stream line reads back as the same count.
#include "convert/ConvertRunner.h"
#include "fuzz/FuzzSupport.h"

using vorlik::convert::ConvertRunner;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString output = vorlik::fuzz::text(data, size);
    const std::optional<int> count = ConvertRunner::parseChannelCount(output);
    FUZZ_CHECK(ConvertRunner::parseChannelCount(output) == count, output);
    if (!count) {
        // No line that names an audio stream can carry a recognisable plain layout.
        FUZZ_CHECK(!output.contains(QStringLiteral("Audio: pcm_s16le, 48000 Hz, stereo,")), output);
        return 0;
    }
    FUZZ_CHECK(*count >= 0, QString::number(*count));
    FUZZ_CHECK(output.contains(QStringLiteral("Audio:")), output);
    const QString line = QStringLiteral("  Stream #0:0: Audio: pcm_s16le, 48000 Hz, %1 channels, s16, 1536 kb/s\n").arg(*count);
    FUZZ_CHECK(ConvertRunner::parseChannelCount(line) == count, line);
    // The first line that yields a count decides: one added after it changes nothing.
    FUZZ_CHECK(ConvertRunner::parseChannelCount(output + QStringLiteral("\nStream #0:1: Audio: aac, mono\n")) == count, output);
    return 0;
}

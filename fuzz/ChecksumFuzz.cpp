// The ffmpeg download's checksum file: FFmpegLocator::parseChecksum. The result is empty or 64
// or more lower-case hexadecimal digits, namely the first white-space separated word that is
// one (in any case).
#include "ffmpeg/FFmpegLocator.h"
#include "fuzz/FuzzSupport.h"

using vorlik::ffmpeg::FFmpegLocator;

namespace {

bool isDigest(const QString &word)
{
    return word.size() >= 64 && std::all_of(word.cbegin(), word.cend(), [](QChar c) {
               return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
           });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = vorlik::fuzz::text(data, size);
    const QString digest = FFmpegLocator::parseChecksum(text);
    FUZZ_CHECK(digest.isEmpty() || isDigest(digest), digest);

    QString expected;
    for (const QString &word : text.simplified().split(u' ', Qt::SkipEmptyParts)) {
        if (isDigest(word.toLower())) {
            expected = word.toLower();
            break;
        }
    }
    FUZZ_CHECK(digest == expected, digest + QStringLiteral(" vs ") + expected);
    return 0;
}

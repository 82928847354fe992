// Throughput of the preset script language: 10,000 scripts (the stand-in service's kinds of
// command lines with quotes, escapes, metadata and non-Latin text) tokenized and built into
// ffmpeg arguments. A figure only; there is no anchor to compare with.
#include "convert/ConvertRunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <limits>

using vorlik::convert::ConvertRunner;

namespace {

constexpr int scripts = 10000;
constexpr int rounds = 5;

QStringList makeScripts()
{
    const QStringList shapes{
        QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -map 0:a:0 -af loudnorm=I=-%1:TP=-1.5:LRA=11 "
                       "-ar 48000 -c:a pcm_s24le \"{output_base}.wav\""),
        QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -map 0:v:0 -map 0:a:0? -c:v libx264 -preset medium "
                       "-crf %1 -pix_fmt yuv420p -c:a aac -b:a 192k -movflags +faststart \"{output_base}.mp4\""),
        QStringLiteral("ffmpeg -i {input} -metadata title='Take %1 — caf\u00E9 \u6771\u4EAC \U0001F3B5' "
                       "-metadata comment=\"a \\\"quoted\\\" word\" title=Take\\ %1 \"\" {output_base}.m4a"),
        QStringLiteral("ffmpeg\t-i\n{input}\r\n-filter_complex '[0:a]pan=stereo|c0=c0|c1=c1[a]' -map \"[a]\" "
                       "-c:a flac {output_base}_%1.flac"),
    };
    QStringList result;
    result.reserve(scripts);
    for (int i = 0; i < scripts; ++i)
        result.append(shapes.at(i % shapes.size()).arg(i % 40 + 1));
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList all = makeScripts();
    qint64 characters = 0;
    for (const QString &script : all)
        characters += script.size();
    const QString input = QStringLiteral("/Volumes/Media/Shoot 3/Take 1 (\u00E9dit).flac");
    const QString base = QStringLiteral("/Volumes/Media/Shoot 3/.vorlik-tmp-6F1E0C2A-0000-4000-8000-000000000001-Take 1");

    qint64 best = std::numeric_limits<qint64>::max();
    qint64 arguments = 0;
    for (int round = 0; round < rounds; ++round) {
        arguments = 0;
        QElapsedTimer clock;
        clock.start();
        for (const QString &script : all)
            arguments += ConvertRunner::buildArguments(script, input, base).size();
        best = std::min(best, clock.nsecsElapsed());
    }
    const double seconds = best / 1e9;
    std::printf("%d scripts (%.1f MB of UTF-16 text, %lld arguments), best of %d: %.0f ms, %.0f scripts/s, "
                "%.1f us a script, %.1f MB/s\n",
                scripts, characters * 2 / 1e6, static_cast<long long>(arguments), rounds, best / 1e6, scripts / seconds,
                best / 1e3 / scripts, characters * 2 / 1e6 / seconds);
    return 0;
}

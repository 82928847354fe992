#include "devserver/Presets.h"

#include <QJsonArray>

namespace vorlik::devserver {

namespace {

// The audio filters of a loudness preset: the gain the client measured for ({gain}), then a
// true-peak limiter that holds the client's {limit} (dBTP) and leaves everything below it
// untouched; the client checks the finished output and lowers the limit when overs remain. The limiter
// works on the signal oversampled four times (the meter's own true-peak resolution); going back to
// 48 kHz band-limits what it flattened and brings back overs of up to a decibel on bright,
// heavily limited material, so it runs three times, each round on the returned signal catching the
// smaller overs of the one before. compand rather than alimiter: ffmpeg 5.1's alimiter mixes the
// channels of a stream with more than two whenever it limits, and compand works on each channel
// alone (so a hot LFE is held without ducking the rest). Its envelope starts at -90 dB, so the
// first moments are not held back. The curve stays flat at the limit up to an input of 200 dB:
// past its last point compand no longer holds the level, and a quiet recording's single-sample
// pops can need 70 dB of gain and more.
QString limitedGain()
{
    const QString points = QStringLiteral("points=-90/-90|{limit}/{limit}|200/{limit}:volume=-90");
    const QString lookAhead = QStringLiteral("compand=attacks=0.0005:decays=0.03:delay=0.0015:") + points;
    const QString instant = QStringLiteral("compand=attacks=0:decays=0.01:") + points;
    const QString up = QStringLiteral("aresample=192000");
    const QString down = QStringLiteral("aresample=48000");
    return QStringList{QStringLiteral("volume={gain}dB"), up, lookAhead, down, up, instant, down, up, instant}.join(u',');
}

// A loudness preset: linear gain to the target from the client's measurement, the limiter only
// where the peaks would pass the ceiling, and the client checks the result and adds what the
// limiter took. 24-bit PCM keeps the headroom.
PresetDefinition loudness(int lufs, const QString &use)
{
    PresetDefinition preset;
    preset.id = QStringLiteral("normalise-%1lufs").arg(lufs);
    preset.name = QStringLiteral("−%1 LUFS").arg(lufs);
    preset.description = QStringLiteral("Measures the source, then normalises it to −%1 LUFS integrated with linear gain; a true-peak limiter holds −1 dBTP only where the peaks need it (%2).").arg(lufs).arg(use);
    preset.suffix = QStringLiteral("_-%1LUFS").arg(lufs);
    preset.outputExt = QStringLiteral(".wav");
    preset.kind = QStringLiteral("normalise");
    preset.command = QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -map 0:a:0 -af \"%1\" "
                                    "-ar 48000 -c:a pcm_s24le \"{output_base}.wav\"")
                         .arg(limitedGain());
    preset.hint = QStringLiteral("%1 · 48 kHz 24-bit WAV").arg(use);
    preset.summary = QStringLiteral("−%1 LUFS integrated, −1 dBTP ceiling, measured first").arg(lufs);
    preset.loudness = PresetDefinition::Loudness{double(-lufs), -1.0};
    return preset;
}

std::vector<PresetDefinition> makePresets()
{
    std::vector<PresetDefinition> presets;

    PresetDefinition h264;
    h264.id = QStringLiteral("video-h264");
    h264.name = QStringLiteral("H.264 / AAC (MP4)");
    h264.description = QStringLiteral("Re-encodes the first video stream to H.264 (CRF 20) and the first audio stream to AAC 192 kb/s in an MP4 that starts playing before it has fully loaded.");
    h264.suffix = QStringLiteral("_h264");
    h264.outputExt = QStringLiteral(".mp4");
    h264.kind = QStringLiteral("video");
    h264.command = QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -map 0:v:0 -map 0:a:0? "
                                  "-c:v libx264 -preset medium -crf 20 -pix_fmt yuv420p "
                                  "-c:a aac -b:a 192k -movflags +faststart \"{output_base}.mp4\"");
    h264.hint = QStringLiteral("Plays everywhere");
    h264.summary = QStringLiteral("H.264 CRF 20 · AAC 192 kb/s · MP4");
    presets.push_back(h264);

    PresetDefinition hevc;
    hevc.id = QStringLiteral("video-hevc");
    hevc.name = QStringLiteral("HEVC / AAC (MP4)");
    hevc.description = QStringLiteral("Re-encodes the first video stream to HEVC (H.265, CRF 24) tagged hvc1 for Apple players and the first audio stream to AAC 192 kb/s, in an MP4 — about half the size of H.264 at the same quality.");
    hevc.suffix = QStringLiteral("_hevc");
    hevc.outputExt = QStringLiteral(".mp4");
    hevc.kind = QStringLiteral("video");
    hevc.command = QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -map 0:v:0 -map 0:a:0? "
                                  "-c:v libx265 -preset medium -crf 24 -tag:v hvc1 -pix_fmt yuv420p "
                                  "-x265-params log-level=error "
                                  "-c:a aac -b:a 192k -movflags +faststart \"{output_base}.mp4\"");
    hevc.hint = QStringLiteral("Smaller files, newer players");
    hevc.summary = QStringLiteral("HEVC CRF 24 · AAC 192 kb/s · MP4");
    presets.push_back(hevc);

    PresetDefinition m4a;
    m4a.id = QStringLiteral("audio-m4a");
    m4a.name = QStringLiteral("M4A (AAC 256 kb/s)");
    m4a.description = QStringLiteral("Encodes the first audio stream to AAC at 256 kb/s in an M4A file; sources with more than two channels are mixed down to stereo.");
    m4a.suffix = QStringLiteral("_aac");
    m4a.outputExt = QStringLiteral(".m4a");
    m4a.kind = QStringLiteral("audio");
    m4a.maxChannels = 2;
    m4a.command = QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -map 0:a:0 -vn "
                                 "-c:a aac -b:a 256k -movflags +faststart \"{output_base}.m4a\"");
    m4a.hint = QStringLiteral("Stereo AAC for music libraries");
    m4a.summary = QStringLiteral("AAC 256 kb/s · at most 2 channels · M4A");
    presets.push_back(m4a);

    presets.push_back(loudness(14, QStringLiteral("streaming platforms")));
    presets.push_back(loudness(16, QStringLiteral("podcasts")));
    presets.push_back(loudness(23, QStringLiteral("EBU R128 broadcast")));

    PresetDefinition videoLoudness;
    videoLoudness.id = QStringLiteral("normalise-video-14lkfs");
    videoLoudness.name = QStringLiteral("Video −14 LKFS");
    videoLoudness.description = QStringLiteral("Measures the first audio stream of a video, then normalises it to −14 LKFS with linear gain and a −1 dBTP true-peak limit where the peaks need it, in AAC 256 kb/s; the first video stream is copied untouched.");
    videoLoudness.suffix = QStringLiteral("_-14LKFS");
    videoLoudness.outputExt = QStringLiteral(".mp4");
    videoLoudness.kind = QStringLiteral("video");
    // The AAC encoder adds overs of its own; the client's check measures the encoded sound.
    videoLoudness.command = QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -map 0:v:0 -map 0:a:0 "
                                           "-c:v copy -af \"%1\" -ar 48000 "
                                           "-c:a aac -b:a 256k -movflags +faststart \"{output_base}.mp4\"")
                                .arg(limitedGain());
    videoLoudness.hint = QStringLiteral("Video passes through unchanged");
    videoLoudness.summary = QStringLiteral("Audio −14 LKFS, −1 dBTP, measured first · AAC 256 kb/s · video copied · MP4");
    videoLoudness.loudness = PresetDefinition::Loudness{-14.0, -1.0};
    presets.push_back(videoLoudness);

    return presets;
}

} // namespace

QJsonObject PresetDefinition::toJson() const
{
    QJsonObject object{{QStringLiteral("id"), id},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("description"), description},
                       {QStringLiteral("suffix"), suffix},
                       {QStringLiteral("output_ext"), outputExt},
                       {QStringLiteral("kind"), kind},
                       {QStringLiteral("command"), command},
                       {QStringLiteral("hint"), hint},
                       {QStringLiteral("summary"), summary}};
    if (maxChannels)
        object.insert(QStringLiteral("max_channels"), *maxChannels);
    if (loudness)
        object.insert(QStringLiteral("loudness"),
                      QJsonObject{{QStringLiteral("target"), loudness->target}, {QStringLiteral("ceiling"), loudness->ceiling}});
    return object;
}

const std::vector<PresetDefinition> &Presets::all()
{
    static const std::vector<PresetDefinition> presets = makePresets();
    return presets;
}

QJsonObject Presets::document(const QString &generatedAt)
{
    QJsonArray list;
    for (const PresetDefinition &preset : all())
        list.append(preset.toJson());
    return QJsonObject{{QStringLiteral("version"), 1},
                       {QStringLiteral("generated_at"), generatedAt},
                       {QStringLiteral("note"), QStringLiteral("Vorlik stand-in service presets: every script runs with the ffmpeg 5.1 that Debian 12 ships.")},
                       {QStringLiteral("presets"), list}};
}

} // namespace vorlik::devserver

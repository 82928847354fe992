#include "devserver/Presets.h"

#include <QJsonArray>

namespace vorlik::devserver {

namespace {

// A loudness preset: one-pass loudnorm to the target with a -1 dBTP ceiling. loudnorm works at
// 192 kHz internally, so the result is brought back to 48 kHz by the output's sample rate (an
// aresample filter after loudnorm fails to negotiate its format in ffmpeg 5.1); 24-bit PCM keeps
// the headroom. Its limiter aims half a decibel below the ceiling: the return to 48 kHz brings
// back inter-sample peaks of up to a few tenths of a decibel (loud pink noise measured -0.9 dBTP
// with the limiter at -1).
PresetDefinition loudness(int lufs, const QString &use)
{
    const QString target = QString::number(-lufs);
    PresetDefinition preset;
    preset.id = QStringLiteral("normalise-%1lufs").arg(lufs);
    preset.name = QStringLiteral("−%1 LUFS").arg(lufs);
    preset.description = QStringLiteral("Normalises to −%1 LUFS integrated with a −1 dBTP true-peak limit (%2).").arg(lufs).arg(use);
    preset.suffix = QStringLiteral("_-%1LUFS").arg(lufs);
    preset.outputExt = QStringLiteral(".wav");
    preset.kind = QStringLiteral("normalise");
    preset.command = QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -map 0:a:0 "
                                    "-af loudnorm=I=%1:TP=-1.5:LRA=11 -ar 48000 "
                                    "-c:a pcm_s24le \"{output_base}.wav\"")
                         .arg(target);
    preset.hint = QStringLiteral("%1 · 48 kHz 24-bit WAV").arg(use);
    preset.summary = QStringLiteral("−%1 LUFS integrated, −1 dBTP ceiling, LRA 11 LU").arg(lufs);
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
    videoLoudness.description = QStringLiteral("Normalises the first audio stream of a video to −14 LKFS with a −1 dBTP true-peak limit and AAC 256 kb/s; the first video stream is copied untouched.");
    videoLoudness.suffix = QStringLiteral("_-14LKFS");
    videoLoudness.outputExt = QStringLiteral(".mp4");
    videoLoudness.kind = QStringLiteral("video");
    videoLoudness.command = QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -map 0:v:0 -map 0:a:0 "
                                           "-c:v copy -af loudnorm=I=-14:TP=-1.5:LRA=11 -ar 48000 "
                                           "-c:a aac -b:a 256k -movflags +faststart \"{output_base}.mp4\"");
    videoLoudness.hint = QStringLiteral("Video passes through unchanged");
    videoLoudness.summary = QStringLiteral("Audio −14 LKFS, −1 dBTP · AAC 256 kb/s · video copied · MP4");
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

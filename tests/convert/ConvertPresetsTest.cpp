#include "RunnerFixture.h"

#include "convert/LoudnessSearch.h"

using namespace vorlik;
using namespace vorlik::test;
using convert::ConvertRunner;
using convert::QueueItem;

namespace {

class ConvertPresets : public RunnerFixture {
protected:
    // Converts one file with the service's preset; the finished item.
    QueueItem convert(const QString &source, const QString &presetID)
    {
        ConvertRunner runner;
        runner.queue(QStringList{source}, presetID);
        EXPECT_TRUE(runToEnd(runner, m_store.presets()));
        const QueueItem item = runner.items().value(0);
        EXPECT_EQ(item.succeeded, true) << item.status.toStdString() << ": " << item.errorDetail.value_or(QString()).toStdString();
        return item;
    }
    static QJsonObject stream(const QString &file, const QString &type)
    {
        for (const QJsonObject &candidate : TestMedia::streams(file))
            if (candidate.value("codec_type").toString() == type)
                return candidate;
        return {};
    }
};

// Quiet pink noise with a full-scale single-sample pop every 2 s: its loudness sits in the pops,
// which need far more limiting than any musical peak.
const QStringList quietNoiseWithPops{"-f", "lavfi", "-i", "anoisesrc=d=10:c=pink:r=48000:a=0.01",
                                     "-f", "lavfi", "-i", "aevalsrc='if(lt(mod(t*48000,96000),1),0.99,0)':s=48000:d=10"};

} // namespace

// A loudness preset lands on its target, never above it nor over the -1 dBTP ceiling; where it
// cannot, the item says what it reached.
TEST_F(ConvertPresets, LoudnessLandsOnTheTargetUnderTheCeilingOrSaysWhy)
{
    enum Outcome { onTarget, mayStopShort, outOfReach, tooShort };
    // make: the ffmpeg arguments that make the source.
    const struct { const char *name; QString presetID; double target; QString file; QStringList make; Outcome outcome; } cases[] = {
        {"sine at 44.1 kHz, -16", "normalise-16lufs", -16, "sine.wav", {"-f", "lavfi", "-i", "sine=frequency=1000:sample_rate=44100:duration=10"}, onTarget},
        {"loud pink noise, -14", "normalise-14lufs", -14, "noise.wav",
         {"-f", "lavfi", "-i", "anoisesrc=duration=10:color=pink:amplitude=0.9:sample_rate=48000"}, onTarget},
        {"quiet stereo noise, -23", "normalise-23lufs", -23, "noise.wav",
         {"-f", "lavfi", "-i", "anoisesrc=duration=10:color=pink:amplitude=0.02:sample_rate=48000,pan=stereo|c0=c0|c1=0.5*c0"}, onTarget},
        // A kick drum already at -13.5 LUFS whose clicks peak 2 dB over full scale between the
        // samples: the gain alone would break the ceiling, so the limiter holds the clicks and the
        // loudness it takes is made up.
        {"kick with inter-sample overs, -14", "normalise-14lufs", -14, "kick.wav",
         {"-f", "lavfi", "-i",
          "aevalsrc='0.78*sin(2*PI*(45*mod(t,0.6)+3.15*(1-exp(-mod(t,0.6)/0.03))))*exp(-mod(t,0.6)/0.09)"
          "+if(lt(mod(t,0.6),0.003),0.9*sin(2*PI*12000*t+PI/4),0)':s=48000:d=8"},
         onTarget},
        // The search may stop a little short (the encoder moves each pass's peaks).
        {"pops in quiet noise, -14", "normalise-14lufs", -14, "pops.wav",
         quietNoiseWithPops + QStringList{"-filter_complex", "[0][1]amix=inputs=2:normalize=0", "-c:a", "pcm_s16le"}, mayStopShort},
        {"pops in quiet noise, video", "normalise-video-14lkfs", -14, "pops.mov",
         quietNoiseWithPops + QStringList{"-f", "lavfi", "-i", "testsrc=size=64x64:rate=5", "-filter_complex", "[0][1]amix=inputs=2:normalize=0[a]",
                                          "-map", "2", "-map", "[a]", "-t", "10", "-c:v", "mpeg4", "-c:a", "pcm_s16le"},
         mayStopShort},
        // Isolated 3 ms clicks: their loudness is in the peaks the limiter must hold, so no gain
        // brings them to the target under the ceiling.
        {"clicks, -14", "normalise-14lufs", -14, "clicks.wav",
         {"-f", "lavfi", "-i", "aevalsrc='if(lt(mod(t,0.8),0.003),0.9*sin(2*PI*3000*t),0)':s=48000:d=6"}, outOfReach},
        // Too short for the loudness meter's gate, but its true peak is measured all the same.
        {"300 ms of full-scale noise, -16", "normalise-16lufs", -16, "burst.wav",
         {"-f", "lavfi", "-i", "anoisesrc=d=0.3:c=white:r=48000:a=1", "-c:a", "pcm_f32le"}, tooShort},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString source = TestMedia::make(path(c.file), c.make);
        const QueueItem item = convert(source, c.presetID);
        ASSERT_TRUE(item.output);
        const TestMedia::Loudness measured = TestMedia::loudness(*item.output);
        const QString note = item.note.value_or(QString());
        EXPECT_LE(measured.truePeak, -1.0);
        switch (c.outcome) {
        case onTarget: {
            const QJsonObject audio = stream(*item.output, "audio");
            EXPECT_EQ(audio.value("codec_name").toString(), "pcm_s24le");
            EXPECT_EQ(audio.value("sample_rate").toString(), "48000");
            EXPECT_EQ(audio.value("channels").toInt(), stream(source, "audio").value("channels").toInt());
            EXPECT_NEAR(measured.integrated, c.target, 0.5);
            EXPECT_FALSE(item.note) << note.toStdString();
            break;
        }
        case mayStopShort:
            EXPECT_LE(measured.integrated, c.target + 0.5);
            // Then the item must say so rather than claim the target.
            EXPECT_TRUE(measured.integrated >= c.target - 0.5 || note.contains("short of the"))
                << measured.integrated << " with note " << note.toStdString();
            break;
        case outOfReach:
            EXPECT_LT(measured.integrated, c.target - 0.5);
            EXPECT_EQ(note, "\u221214 LUFS is out of reach under the \u22121 dBTP ceiling: the output reaches "
                                + convert::LoudnessSearch::decibels(measured.integrated, 1) + " LUFS.");
            break;
        case tooShort: // only lowered, and the note says by how much
            EXPECT_TRUE(note.startsWith("The source is too short or too quiet to measure its loudness; it was lowered by ")) << note.toStdString();
            break;
        }
    }
}

// The video presets re-encode both streams, the video loudness preset copies the picture and
// normalises the sound, and M4A mixes down only what has more than two channels.
TEST_F(ConvertPresets, VideoAndM4APresets)
{
    const QString talk = TestMedia::make(path("talk.mp4"), {"-f", "lavfi", "-i", "testsrc=duration=10:size=160x120:rate=10", "-f", "lavfi",
                                                            "-i", "sine=frequency=500:duration=10", "-c:v", "mpeg4", "-c:a", "aac"});
    const struct { QString source, presetID, name, videoCodec; int channels; } cases[] = { // videoCodec empty: no video
        {talk, "video-h264", "talk_h264.mp4", "h264", 1}, {talk, "video-hevc", "talk_hevc.mp4", "hevc", 1},
        {talk, "normalise-video-14lkfs", "talk_-14LKFS.mp4", "mpeg4", 1},
        {TestMedia::silence(path("surround.wav"), "5.1"), "audio-m4a", "surround_aac.m4a", {}, 2},
        {TestMedia::sine(path("mono.flac")), "audio-m4a", "mono_aac.m4a", {}, 1}};
    const LogLines log("convert");
    for (const auto &c : cases) {
        const QueueItem item = convert(c.source, c.presetID);
        ASSERT_TRUE(item.output);
        EXPECT_EQ(QFileInfo(*item.output).fileName(), c.name);
        EXPECT_EQ(stream(*item.output, "video").value("codec_name").toString(), c.videoCodec);
        const QJsonObject audio = stream(*item.output, "audio");
        EXPECT_EQ(audio.value("codec_name").toString(), "aac");
        EXPECT_EQ(audio.value("channels").toInt(), c.channels) << c.name.toStdString();
    }
    EXPECT_EQ(log.lines().filter("downmix"), QStringList{"downmix 6ch -> 2ch for audio-m4a"});
    const TestMedia::Loudness measured = TestMedia::loudness(path("talk_-14LKFS.mp4"));
    EXPECT_NEAR(measured.integrated, -14, 0.5);
    EXPECT_LE(measured.truePeak, -1.0);
}

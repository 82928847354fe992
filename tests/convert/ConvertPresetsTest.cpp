// The stand-in service's presets run through the convert runner: what they produce, checked with
// ffprobe and ffmpeg's EBU R128 meter.
#include "RunnerFixture.h"

#include "convert/LoudnessPlaceholders.h"
#include "convert/LoudnessSearch.h"

#include <cmath>

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
        EXPECT_EQ(runner.items().size(), 1);
        const QueueItem item = runner.items().value(0);
        EXPECT_EQ(item.succeeded, true) << item.status.toStdString() << ": "
                                        << item.errorDetail.value_or(QString()).toStdString();
        return item;
    }

    static QJsonObject stream(const QString &file, const QString &type)
    {
        for (const QJsonObject &candidate : TestMedia::streams(file)) {
            if (candidate.value(QStringLiteral("codec_type")).toString() == type)
                return candidate;
        }
        return {};
    }
};

} // namespace

// Every script of the service builds into arguments; the loudness presets measure first, and
// only they can use the measured placeholders.
TEST_F(ConvertPresets, EveryPresetOfTheServiceBuilds)
{
    ASSERT_FALSE(m_store.presets().isEmpty());
    for (const service::Preset &preset : m_store.presets()) {
        const bool loudnessPreset = preset.id.contains(QStringLiteral("normalise"));
        EXPECT_EQ(preset.loudness.has_value(), loudnessPreset) << preset.id.toStdString();
        EXPECT_NO_THROW(ConvertRunner::buildArguments(preset.command, QStringLiteral("/in.wav"), QStringLiteral("/out"),
                                                      loudnessPreset ? convert::LoudnessPlaceholders::sample()
                                                                     : ConvertRunner::Placeholders{}))
            << preset.id.toStdString();
    }
}

struct LoudnessCase {
    const char *name;
    QString presetID;
    double target;
    QString signal; // lavfi source, 10 seconds
};

void PrintTo(const LoudnessCase &c, std::ostream *out) { *out << c.name; }

class ConvertLoudness : public ConvertPresets, public ::testing::WithParamInterface<LoudnessCase> {};

TEST_P(ConvertLoudness, LandsOnTheTargetUnderTheCeiling)
{
    const QString source = TestMedia::make(path(QStringLiteral("signal.wav")),
                                           {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), GetParam().signal});
    const QueueItem item = convert(source, GetParam().presetID);
    ASSERT_TRUE(item.output);
    const QJsonObject audio = stream(*item.output, QStringLiteral("audio"));
    EXPECT_EQ(audio.value(QStringLiteral("codec_name")).toString(), QStringLiteral("pcm_s24le"));
    EXPECT_EQ(audio.value(QStringLiteral("sample_rate")).toString(), QStringLiteral("48000"));
    EXPECT_EQ(audio.value(QStringLiteral("channels")).toInt(), stream(source, QStringLiteral("audio")).value(QStringLiteral("channels")).toInt());

    const TestMedia::Loudness measured = TestMedia::loudness(*item.output);
    EXPECT_NEAR(measured.integrated, GetParam().target, 0.5);
    EXPECT_LE(measured.truePeak, -1.0);
    EXPECT_FALSE(item.note) << item.note.value_or(QString()).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Presets, ConvertLoudness,
    ::testing::Values(
        LoudnessCase{"sine, -14", QStringLiteral("normalise-14lufs"), -14, QStringLiteral("sine=frequency=440:sample_rate=48000:duration=10")},
        LoudnessCase{"sine, -16", QStringLiteral("normalise-16lufs"), -16, QStringLiteral("sine=frequency=1000:sample_rate=44100:duration=10")},
        LoudnessCase{"sine, -23", QStringLiteral("normalise-23lufs"), -23, QStringLiteral("sine=frequency=440:sample_rate=48000:duration=12")},
        LoudnessCase{"loud pink noise, -14", QStringLiteral("normalise-14lufs"), -14,
                     QStringLiteral("anoisesrc=duration=10:color=pink:amplitude=0.9:sample_rate=48000")},
        LoudnessCase{"quiet stereo noise, -23", QStringLiteral("normalise-23lufs"), -23,
                     QStringLiteral("anoisesrc=duration=10:color=pink:amplitude=0.02:sample_rate=48000,pan=stereo|c0=c0|c1=0.5*c0")},
        // A kick drum already at -13.5 LUFS whose clicks peak 2 dB over full scale between the
        // samples: the gain alone would break the ceiling, so the limiter holds the clicks and the
        // loudness it takes is made up.
        LoudnessCase{"kick with inter-sample overs, -14", QStringLiteral("normalise-14lufs"), -14,
                     QStringLiteral("aevalsrc='0.78*sin(2*PI*(45*mod(t,0.6)+3.15*(1-exp(-mod(t,0.6)/0.03))))"
                                    "*exp(-mod(t,0.6)/0.09)+if(lt(mod(t,0.6),0.003),0.9*sin(2*PI*12000*t+PI/4),0)'"
                                    ":s=48000:d=8")}),
    [](const auto &info) { return std::to_string(info.index); });

TEST_F(ConvertPresets, ATargetOutOfReachIsSaidWithTheLevelReached)
{
    // Isolated 3 ms clicks: their loudness is in the peaks the limiter must hold, so no gain
    // brings them to -14 LUFS under the ceiling. The output is the loudest under the ceiling,
    // no louder than the target, and the item says what it reached.
    const QString source = TestMedia::make(path(QStringLiteral("clicks.wav")),
        {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("aevalsrc='if(lt(mod(t,0.8),0.003),0.9*sin(2*PI*3000*t),0)':s=48000:d=6")});
    const QueueItem item = convert(source, QStringLiteral("normalise-14lufs"));
    ASSERT_TRUE(item.output && item.note);
    const TestMedia::Loudness measured = TestMedia::loudness(*item.output);
    EXPECT_LE(measured.truePeak, -1.0);
    EXPECT_LT(measured.integrated, -14.5);
    EXPECT_EQ(*item.note, QStringLiteral("\u221214 LUFS is out of reach under the \u22121 dBTP ceiling: the output reaches ")
                              + convert::LoudnessSearch::decibels(measured.integrated, 1) + QStringLiteral(" LUFS."));
}

struct CeilingCase {
    const char *name;
    QString presetID;
    double target;
    QString file;
    QStringList make; // ffmpeg arguments that make the source
    bool reachable;   // the target can be met under the ceiling
};

void PrintTo(const CeilingCase &c, std::ostream *out) { *out << c.name; }

// Quiet pink noise with a full-scale single-sample pop every 2 s: its loudness sits in the pops,
// which need far more limiting than any musical peak.
QStringList quietNoiseWithPops(const QStringList &more = {})
{
    return QStringList{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                       QStringLiteral("anoisesrc=d=10:c=pink:r=48000:a=0.01"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                       QStringLiteral("-i"), QStringLiteral("aevalsrc='if(lt(mod(t*48000,96000),1),0.99,0)':s=48000:d=10")}
        + more;
}

class ConvertCeiling : public ConvertPresets, public ::testing::WithParamInterface<CeilingCase> {};

TEST_P(ConvertCeiling, NeverEndsDoneAboveTheCeilingOrTheTarget)
{
    const QString source = TestMedia::make(path(GetParam().file), GetParam().make);
    const QueueItem item = convert(source, GetParam().presetID);
    ASSERT_TRUE(item.output);
    const TestMedia::Loudness measured = TestMedia::loudness(*item.output);
    EXPECT_LE(measured.truePeak, -1.0);
    if (GetParam().reachable) {
        EXPECT_LE(measured.integrated, GetParam().target + 0.5);
        // The search may stop a little short (the encoder moves each pass's peaks); then the item
        // must say so rather than claim the target.
        if (measured.integrated < GetParam().target - 0.5)
            EXPECT_TRUE(item.note && item.note->contains(QStringLiteral("short of the")))
                << measured.integrated << " with note " << item.note.value_or(QString()).toStdString();
    } else {
        // Too short to measure: only lowered, and the note says by how much.
        EXPECT_TRUE(item.note && item.note->startsWith(QStringLiteral("The source is too short or too quiet to measure its loudness; it was lowered by ")))
            << item.note.value_or(QString()).toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Presets, ConvertCeiling,
    ::testing::Values(
        CeilingCase{"pops in quiet noise, -14", QStringLiteral("normalise-14lufs"), -14, QStringLiteral("pops.wav"),
                    quietNoiseWithPops({QStringLiteral("-filter_complex"), QStringLiteral("[0][1]amix=inputs=2:normalize=0"),
                                        QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")}),
                    true},
        CeilingCase{"pops in quiet noise, video", QStringLiteral("normalise-video-14lkfs"), -14, QStringLiteral("pops.mov"),
                    quietNoiseWithPops({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                        QStringLiteral("testsrc=size=64x64:rate=5"), QStringLiteral("-filter_complex"),
                                        QStringLiteral("[0][1]amix=inputs=2:normalize=0[a]"), QStringLiteral("-map"),
                                        QStringLiteral("2"), QStringLiteral("-map"), QStringLiteral("[a]"), QStringLiteral("-t"),
                                        QStringLiteral("10"), QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-c:a"),
                                        QStringLiteral("pcm_s16le")}),
                    true},
        // Too short for the loudness meter's gate, but its true peak is measured all the same.
        CeilingCase{"300 ms of full-scale noise, -16", QStringLiteral("normalise-16lufs"), -16, QStringLiteral("burst.wav"),
                    {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                     QStringLiteral("anoisesrc=d=0.3:c=white:r=48000:a=1"), QStringLiteral("-c:a"), QStringLiteral("pcm_f32le")},
                    false}),
    [](const auto &info) { return std::to_string(info.index); });

TEST_F(ConvertPresets, VideoPresetsReencodeBothStreams)
{
    const QString source = TestMedia::make(path(QStringLiteral("clip.mov")),
        {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc=duration=1:size=160x120:rate=25"),
         QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=duration=1"),
         QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")});
    const struct {
        QString presetID;
        QString videoCodec;
        QString name;
    } cases[] = {{QStringLiteral("video-h264"), QStringLiteral("h264"), QStringLiteral("clip_h264.mp4")},
                 {QStringLiteral("video-hevc"), QStringLiteral("hevc"), QStringLiteral("clip_hevc.mp4")}};
    for (const auto &c : cases) {
        const QueueItem item = convert(source, c.presetID);
        ASSERT_TRUE(item.output);
        EXPECT_EQ(QFileInfo(*item.output).fileName(), c.name);
        EXPECT_EQ(stream(*item.output, QStringLiteral("video")).value(QStringLiteral("codec_name")).toString(), c.videoCodec);
        EXPECT_EQ(stream(*item.output, QStringLiteral("audio")).value(QStringLiteral("codec_name")).toString(), QStringLiteral("aac"));
    }
}

TEST_F(ConvertPresets, VideoLoudnessCopiesThePictureAndNormalisesTheSound)
{
    const QString source = TestMedia::make(path(QStringLiteral("talk.mp4")),
        {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc=duration=10:size=160x120:rate=10"),
         QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=frequency=500:duration=10"),
         QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-c:a"), QStringLiteral("aac")});
    const QueueItem item = convert(source, QStringLiteral("normalise-video-14lkfs"));
    ASSERT_TRUE(item.output);
    EXPECT_EQ(QFileInfo(*item.output).fileName(), QStringLiteral("talk_-14LKFS.mp4"));
    EXPECT_EQ(stream(*item.output, QStringLiteral("video")).value(QStringLiteral("codec_name")).toString(), QStringLiteral("mpeg4"));
    EXPECT_EQ(stream(*item.output, QStringLiteral("audio")).value(QStringLiteral("codec_name")).toString(), QStringLiteral("aac"));
    const TestMedia::Loudness measured = TestMedia::loudness(*item.output);
    EXPECT_NEAR(measured.integrated, -14, 0.5);
    EXPECT_LE(measured.truePeak, -1.0);
}

TEST_F(ConvertPresets, M4AMixesDownOnlyWhatHasTooManyChannels)
{
    const QString surround = TestMedia::silence(path(QStringLiteral("surround.wav")), QStringLiteral("5.1"));
    const QString stereo = TestMedia::silence(path(QStringLiteral("stereo.wav")), QStringLiteral("stereo"));
    const QString mono = TestMedia::sine(path(QStringLiteral("mono.flac")));
    const LogLines log(QStringLiteral("convert"));
    const struct {
        QString source;
        int channels;
    } cases[] = {{surround, 2}, {stereo, 2}, {mono, 1}};
    for (const auto &c : cases) {
        const QueueItem item = convert(c.source, QStringLiteral("audio-m4a"));
        ASSERT_TRUE(item.output);
        const QJsonObject audio = stream(*item.output, QStringLiteral("audio"));
        EXPECT_EQ(audio.value(QStringLiteral("codec_name")).toString(), QStringLiteral("aac"));
        EXPECT_EQ(audio.value(QStringLiteral("channels")).toInt(), c.channels) << c.source.toStdString();
    }
    EXPECT_EQ(log.lines().filter(QStringLiteral("downmix")), QStringList{QStringLiteral("downmix 6ch -> 2ch for audio-m4a")});
}

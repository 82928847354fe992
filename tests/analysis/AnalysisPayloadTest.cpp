// The report records and the job status document: a full report, key conversion, the strict
// fields failing the whole document (with the first problem named), tolerant fields never
// failing, value equality, and hostile input (deep nesting, huge arrays, non-objects).
#include "analysis/AnalysisPayload.h"
#include "analysis/JobInfo.h"
#include "service/JsonFields.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include <functional>
#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

using namespace vorlik::analysis;
using vorlik::service::DecodingError;

namespace {

// A report shaped like the service's, every member present.
const QByteArray fullReport = R"json({
  "workflow": "audio_info",
  "generated_at": "2026-12-01T10:00:00Z",
  "file": {"name": "take 1.wav"},
  "engine": {"ffprobe": "ffprobe 5.1.4", "ffmpeg": "ffmpeg 5.1.4", "measurement_backend": "libebur128"},
  "container": {"format_name": "wav", "format_long_name": "WAV / WAVE (Waveform Audio)", "display_name": "WAV",
                "duration_sec": "12.500000", "duration_hms": "00:00:12.500", "bit_rate_bps": 1411200,
                "size_bytes": "2205078", "nb_streams": 1, "probe_score": 99, "tags": {"encoder": "Lavf59", "track": 3}},
  "audio_streams": [{"index": 0, "codec_type": "audio", "codec_name": "pcm_s16le",
                     "codec_long_name": "PCM signed 16-bit little-endian", "codec_tag_string": "[1][0][0][0]",
                     "sample_rate_hz": "44100", "channels": 2, "channel_layout": "stereo", "sample_fmt": "s16",
                     "bits_per_sample": 16, "bits_per_raw_sample": "16", "bit_depth": 16,
                     "bit_rate_bps": "1411200", "effective_bit_rate_bps": 1411200.0, "duration_sec": 12.5,
                     "duration_hms": "00:00:12.500", "language": "eng", "title": "Main", "tags": {}}],
  "other_streams": [{"index": 1, "codec_type": "video", "codec_name": "mjpeg"}],
  "chapters": [{"id": 0, "start_sec": 0, "end_sec": "6.25", "start_hms": "00:00:00.000",
                "end_hms": "00:00:06.250", "title": "Intro"}],
  "levels": {"peak_dbfs": -0.1, "astats_peak_dbfs": -0.12, "rms_dbfs": -18.5, "noise_floor_dbfs": -80,
             "flat_factor": 0, "peak_count": "2", "sample_count": 551250},
  "loudness": {"integrated_lufs": -16.2, "threshold_lufs": -26.3, "lra_lu": 5.1, "lra_low_lufs": -20.1,
               "lra_high_lufs": -15.0, "true_peak_dbfs": -0.3, "max_short_term_lufs": -12.0,
               "max_momentary_lufs": -10.5}
})json";

QByteArray jobWith(const QByteArray &analysis, const QByteArray &head = R"("status":"COMPLETED")")
{
    return "{" + head + R"(,"analysis":)" + analysis + "}";
}

QString decodeFailure(const std::function<void()> &decode)
{
    try {
        decode();
    } catch (const DecodingError &error) {
        return error.description();
    }
    return QStringLiteral("<decoded>");
}

TEST(AnalysisPayload, DecodesEveryField)
{
    const AnalysisPayload report = AnalysisPayload::fromJSON(fullReport);
    EXPECT_EQ(report.workflow, QStringLiteral("audio_info"));
    EXPECT_EQ(report.generatedAt, QStringLiteral("2026-12-01T10:00:00Z"));
    ASSERT_TRUE(report.file);
    EXPECT_EQ(report.file->name, QStringLiteral("take 1.wav"));
    ASSERT_TRUE(report.engine);
    EXPECT_EQ(report.engine->measurementBackend, QStringLiteral("libebur128"));

    ASSERT_TRUE(report.container);
    const AnalysisContainer &container = *report.container;
    EXPECT_EQ(container.formatLongName, QStringLiteral("WAV / WAVE (Waveform Audio)"));
    EXPECT_EQ(container.displayName, QStringLiteral("WAV"));
    EXPECT_EQ(container.durationSec, LooseDouble{12.5});
    EXPECT_EQ(container.bitRateBps, LooseDouble{1411200.0});
    EXPECT_EQ(container.sizeBytes, LooseDouble{2205078.0});
    EXPECT_EQ(container.nbStreams, LooseInt{1});
    EXPECT_EQ(container.probeScore, LooseDouble{99.0});
    ASSERT_TRUE(container.tags);
    EXPECT_EQ(container.tags->values, (QMap<QString, QString>{{"encoder", "Lavf59"}, {"track", "3"}}));

    ASSERT_TRUE(report.audioStreams);
    ASSERT_EQ(report.audioStreams->size(), 1);
    const AnalysisStream &stream = report.audioStreams->front();
    EXPECT_EQ(stream.index, LooseInt{0});
    EXPECT_EQ(stream.codecTagString, QStringLiteral("[1][0][0][0]"));
    EXPECT_EQ(stream.sampleRateHz, LooseDouble{44100.0});
    EXPECT_EQ(stream.channels, LooseInt{2});
    EXPECT_EQ(stream.sampleFmt, QStringLiteral("s16"));
    EXPECT_EQ(stream.bitsPerSample, LooseInt{16});
    EXPECT_EQ(stream.bitsPerRawSample, LooseInt{16});
    EXPECT_EQ(stream.bitDepth, LooseInt{16});
    EXPECT_EQ(stream.bitRateBps, LooseDouble{1411200.0});
    EXPECT_EQ(stream.effectiveBitRateBps, LooseDouble{1411200.0});
    EXPECT_EQ(stream.durationHms, QStringLiteral("00:00:12.500"));
    EXPECT_EQ(stream.language, QStringLiteral("eng"));
    EXPECT_EQ(stream.title, QStringLiteral("Main"));
    ASSERT_TRUE(stream.tags);
    EXPECT_TRUE(stream.tags->values.isEmpty());

    ASSERT_TRUE(report.otherStreams);
    ASSERT_EQ(report.otherStreams->size(), 1);
    EXPECT_EQ(report.otherStreams->front().codecType, QStringLiteral("video"));
    EXPECT_FALSE(report.otherStreams->front().channels);

    ASSERT_TRUE(report.chapters);
    EXPECT_EQ(report.chapters->front().endSec, LooseDouble{6.25});
    EXPECT_EQ(report.chapters->front().title, QStringLiteral("Intro"));

    ASSERT_TRUE(report.levels);
    EXPECT_EQ(report.levels->peakDbfs, -0.1);
    EXPECT_EQ(report.levels->noiseFloorDbfs, -80.0);
    EXPECT_EQ(report.levels->flatFactor, 0.0);
    EXPECT_EQ(report.levels->peakCount, LooseInt{2});
    EXPECT_EQ(report.levels->sampleCount, LooseInt{551250});

    ASSERT_TRUE(report.loudness);
    EXPECT_EQ(report.loudness->integratedLufs, -16.2);
    EXPECT_EQ(report.loudness->lraLu, 5.1);
    EXPECT_EQ(report.loudness->maxMomentaryLufs, -10.5);
}

TEST(AnalysisPayload, EmptyObjectLeavesEveryFieldEmpty)
{
    EXPECT_EQ(AnalysisPayload::fromJSON("{}"), AnalysisPayload{});
    const AnalysisPayload nulls = AnalysisPayload::fromJSON(
        R"({"workflow":null,"file":null,"container":null,"audio_streams":null,"levels":null,"loudness":null})");
    EXPECT_EQ(nulls, AnalysisPayload{});
    const AnalysisStream stream = AnalysisStream::decode(KeyedObject({}, {}));
    EXPECT_EQ(stream, AnalysisStream{});
}

// Members are matched by their snake_case or exact names (the first in key order wins),
// unknown ones are passed over, and a null or a tag map of the wrong shape is an empty field.
TEST(AnalysisPayload, NamesNullsAndUnknownMembers)
{
    const AnalysisPayload snake = AnalysisPayload::fromJSON(R"({"audio_streams":[{"bit_rate_bps":"320000"}]})");
    const AnalysisPayload exact = AnalysisPayload::fromJSON(R"({"audioStreams":[{"bitRateBps":320000}]})");
    ASSERT_TRUE(snake.audioStreams);
    EXPECT_EQ(snake.audioStreams->front().bitRateBps, LooseDouble{320000.0});
    EXPECT_EQ(snake, exact);
    // "bitRateBps" sorts before "bit_rate_bps".
    const AnalysisPayload both = AnalysisPayload::fromJSON(R"({"audio_streams":[{"bit_rate_bps":1,"bitRateBps":2}]})");
    EXPECT_EQ(both.audioStreams->front().bitRateBps, LooseDouble{2.0});

    // Doubled inner underscores still convert; kept leading or trailing ones do not match.
    const AnalysisPayload odd = AnalysisPayload::fromJSON(
        R"({"generated__at":"t","_workflow":"w","future":{"x":[1]},"loudness":{"lra_lu_":1.0},"levels":{"new_meter":"loud","rms_dbfs":-20,"peak_dbfs":null}})");
    EXPECT_EQ(odd.generatedAt, QStringLiteral("t"));
    EXPECT_FALSE(odd.workflow);
    ASSERT_TRUE(odd.loudness && odd.levels);
    EXPECT_FALSE(odd.loudness->lraLu);
    EXPECT_EQ(odd.levels->rmsDbfs, -20.0);
    EXPECT_FALSE(odd.levels->peakDbfs);

    const AnalysisPayload shapes = AnalysisPayload::fromJSON(
        R"({"container":{"tags":["a","b"],"format_name":"wav","nb_streams":null},"audio_streams":[{"tags":"x","channels":"2"}]})");
    ASSERT_TRUE(shapes.container && shapes.container->tags);
    EXPECT_TRUE(shapes.container->tags->values.isEmpty());
    EXPECT_FALSE(shapes.container->nbStreams);
    EXPECT_EQ(shapes.container->formatName, QStringLiteral("wav"));
    ASSERT_TRUE(shapes.audioStreams && shapes.audioStreams->front().tags);
    EXPECT_TRUE(shapes.audioStreams->front().tags->values.isEmpty());
    EXPECT_EQ(shapes.audioStreams->front().channels, LooseInt{2});
    EXPECT_FALSE(AnalysisPayload::fromJSON(R"({"container":{"tags":null}})").container->tags);
}

TEST(AnalysisPayload, TolerantFieldsNeverFail)
{
    // Every tolerant member given every JSON type: the report still decodes.
    for (const char *value : {"true", "\"x\"", "[]", "{}", "1e30", "-0.5", "\"nan\""}) {
        const QByteArray v(value);
        const QByteArray body = "{\"container\":{\"duration_sec\":" + v + ",\"nb_streams\":" + v + ",\"tags\":" + v
            + "},\"audio_streams\":[{\"index\":" + v + ",\"sample_rate_hz\":" + v + ",\"tags\":" + v
            + "}],\"chapters\":[{\"id\":" + v + ",\"start_sec\":" + v + "}],\"levels\":{\"peak_count\":" + v + "}}";
        EXPECT_EQ(decodeFailure([&] { AnalysisPayload::fromJSON(body); }), QStringLiteral("<decoded>")) << value;
    }
    const AnalysisPayload report =
        AnalysisPayload::fromJSON(R"({"container":{"nb_streams":1e30,"duration_sec":"inf"}})");
    ASSERT_TRUE(report.container && report.container->nbStreams && report.container->durationSec);
    EXPECT_FALSE(report.container->nbStreams->value);
    EXPECT_FALSE(report.container->durationSec->value);
}

struct StrictCase {
    const char *analysis;
    const char *message;
};

class StrictFieldTable : public ::testing::TestWithParam<StrictCase> {};

// A strict field of the wrong type fails the whole job document, naming the member as sent.
TEST_P(StrictFieldTable, FailsTheWholeJobDocument)
{
    const StrictCase &c = GetParam();
    EXPECT_EQ(decodeFailure([&] { JobInfo::fromJSON(jobWith(c.analysis)); }), QString::fromUtf8(c.message));
}

INSTANTIATE_TEST_SUITE_P(
    Fields, StrictFieldTable,
    ::testing::Values(
        StrictCase{R"({"loudness":{"integrated_lufs":"-16.2"}})",
                   R"(typeMismatch: "analysis.loudness.integrated_lufs" is a string, expected a number)"},
        StrictCase{R"({"levels":{"rms_dbfs":true}})",
                   R"(typeMismatch: "analysis.levels.rms_dbfs" is a boolean, expected a number)"},
        StrictCase{R"({"workflow":3})", R"(typeMismatch: "analysis.workflow" is a number, expected a string)"},
        StrictCase{R"({"file":"a.wav"})", R"(typeMismatch: "analysis.file" is a string, expected an object)"},
        StrictCase{R"({"file":{"name":["a"]}})",
                   R"(typeMismatch: "analysis.file.name" is an array, expected a string)"},
        StrictCase{R"({"audio_streams":{"index":0}})",
                   R"(typeMismatch: "analysis.audio_streams" is an object, expected an array)"},
        StrictCase{R"({"audio_streams":[{},{"codec_name":7}]})",
                   R"(typeMismatch: "analysis.audio_streams[1].codec_name" is a number, expected a string)"},
        StrictCase{R"({"other_streams":[null]})",
                   R"(typeMismatch: "analysis.other_streams[0]" is null, expected an object)"},
        StrictCase{R"({"chapters":[1]})", R"(typeMismatch: "analysis.chapters[0]" is a number, expected an object)"},
        StrictCase{R"({"container":{"durationHms":12}})",
                   R"(typeMismatch: "analysis.container.durationHms" is a number, expected a string)"},
        StrictCase{R"({"engine":{"measurement_backend":{}}})",
                   R"(typeMismatch: "analysis.engine.measurement_backend" is an object, expected a string)"},
        // A number no 64-bit float can hold is not a number the field can have.
        StrictCase{R"({"loudness":{"integrated_lufs":1e309}})",
                   R"(dataCorrupted: "analysis.loudness.integrated_lufs" is a number beyond the range of a 64-bit float)"},
        StrictCase{R"({"levels":{"rms_dbfs":-1e400}})",
                   R"(dataCorrupted: "analysis.levels.rms_dbfs" is a number beyond the range of a 64-bit float)"},
        // The first problem in field order is the one named.
        StrictCase{R"({"workflow":1,"loudness":{"lra_lu":"x"}})",
                   R"(typeMismatch: "analysis.workflow" is a number, expected a string)"}));

TEST(JobInfo, DecodesTheStatusDocument)
{
    const JobInfo info = JobInfo::fromJSON(
        R"({"status":"FAILED","error_summary":"ffprobe could not read the file","output_report":"report.txt"})");
    EXPECT_EQ(info.status, QStringLiteral("FAILED"));
    EXPECT_EQ(info.errorSummary, QStringLiteral("ffprobe could not read the file"));
    EXPECT_EQ(info.outputReport, QStringLiteral("report.txt"));
    EXPECT_FALSE(info.analysis);
    EXPECT_TRUE(info.isTerminal());
    EXPECT_FALSE(info.isCompleted());

    const JobInfo done = JobInfo::fromJSON(jobWith(fullReport));
    ASSERT_TRUE(done.analysis);
    EXPECT_EQ(*done.analysis, AnalysisPayload::fromJSON(fullReport));
    EXPECT_EQ(JobInfo::fromJSON("{}"), JobInfo{});
}

TEST(JobInfo, TerminalStatesCompareUpperCased)
{
    struct Case {
        const char *status;
        bool terminal;
        bool completed;
    };
    for (const Case &c : {Case{"COMPLETED", true, true}, Case{"completed", true, true}, Case{"Completed", true, true},
                          Case{"failed", true, false}, Case{"CANCELLED", true, false}, Case{"canceled", false, false},
                          Case{"RUNNING", false, false}, Case{"QUEUED", false, false}, Case{"", false, false},
                          Case{" COMPLETED", false, false}}) {
        JobInfo info;
        info.status = QString::fromLatin1(c.status);
        EXPECT_EQ(info.isTerminal(), c.terminal) << c.status;
        EXPECT_EQ(info.isCompleted(), c.completed) << c.status;
    }
    EXPECT_FALSE(JobInfo{}.isTerminal());
}

TEST(JobInfo, WrongTypesAtTheTopFail)
{
    EXPECT_EQ(decodeFailure([] { JobInfo::fromJSON(R"({"status":1})"); }),
              QStringLiteral(R"(typeMismatch: "status" is a number, expected a string)"));
    EXPECT_EQ(decodeFailure([] { JobInfo::fromJSON(R"({"error_summary":false})"); }),
              QStringLiteral(R"(typeMismatch: "error_summary" is a boolean, expected a string)"));
    EXPECT_EQ(decodeFailure([] { JobInfo::fromJSON(R"({"analysis":[]})"); }),
              QStringLiteral(R"(typeMismatch: "analysis" is an array, expected an object)"));
    EXPECT_EQ(decodeFailure([] { JobInfo::fromJSON(R"(["COMPLETED"])"); }),
              QStringLiteral("typeMismatch: the top level is an array, expected an object"));
    EXPECT_NE(decodeFailure([] { JobInfo::fromJSON("not json"); }), QStringLiteral("<decoded>"));
    EXPECT_NE(decodeFailure([] { JobInfo::fromJSON(""); }), QStringLiteral("<decoded>"));
    EXPECT_NE(decodeFailure([] { JobInfo::fromJSON(R"({"status":"COMPLETED")"); }), QStringLiteral("<decoded>"));
    EXPECT_NE(decodeFailure([] { JobInfo::fromJSON(R"({"analysis":{"levels":{"peak_dbfs":1e400}}})"); }),
              QStringLiteral("<decoded>"));
}

TEST(JobInfo, ANumberBeyondADoublesRangeLosesOnlyItsOwnValue)
{
    const QByteArray digits(400, '7');
    for (const QByteArray &n : {QByteArray("1e309"), QByteArray("-1e400"), QByteArray("1E+999"), digits, "-" + digits}) {
        SCOPED_TRACE(n.left(20).toStdString());
        const QByteArray body = R"({"status":"COMPLETED","eta_ms":)" + n + R"(,"analysis":{"extra":{"deep":[[)" + n
            + R"(]]},"container":{"duration_sec":)" + n + R"(,"nb_streams":)" + n + R"(,"tags":{"t":)" + n
            + R"(,"title":"A"}},"audio_streams":[{"sample_rate_hz":)" + n + R"(,"channels":2}],"levels":{"peak_count":)" + n
            + R"(},"loudness":{"integrated_lufs":-16.5}}})";
        JobInfo info;
        ASSERT_EQ(decodeFailure([&] { info = JobInfo::fromJSON(body); }), QStringLiteral("<decoded>"));
        EXPECT_TRUE(info.isCompleted());
        ASSERT_TRUE(info.analysis && info.analysis->container && info.analysis->audioStreams && info.analysis->levels);
        const AnalysisContainer &container = *info.analysis->container;
        EXPECT_EQ(container.durationSec, LooseDouble{});
        EXPECT_EQ(container.nbStreams, LooseInt{});
        EXPECT_EQ(container.tags, (LooseTags{{{"t", ""}, {"title", "A"}}}));
        EXPECT_EQ(info.analysis->audioStreams->front().sampleRateHz, LooseDouble{});
        EXPECT_EQ(info.analysis->audioStreams->front().channels, LooseInt{2});
        EXPECT_EQ(info.analysis->levels->peakCount, LooseInt{});
        EXPECT_EQ(info.analysis->loudness->integratedLufs, -16.5);
    }
    // Below the smallest step of a double a number is zero, as it would be written.
    const JobInfo tiny = JobInfo::fromJSON(
        R"({"analysis":{"container":{"duration_sec":1e-400,"tags":{"t":-1e-999}},"loudness":{"lra_lu":1e-400}}})");
    EXPECT_EQ(tiny.analysis->container->durationSec, LooseDouble{0.0});
    EXPECT_EQ(tiny.analysis->container->tags->values.value("t"), QStringLiteral("0"));
    EXPECT_EQ(tiny.analysis->loudness->lraLu, 0.0);
}

TEST(JobInfo, HostileInputFailsOrDecodesWithoutCrashing)
{
    // Nesting far deeper than any parser stack should follow.
    QByteArray deep = R"({"status":"COMPLETED","analysis":{"container":{"tags":{"t":)";
    deep += QByteArray(200000, '[') + QByteArray(200000, ']') + "}}}}";
    EXPECT_NE(decodeFailure([&] { JobInfo::fromJSON(deep); }), QStringLiteral("<decoded>"));

    // Deep but within the parser's limit: the tag value shows as empty text.
    QByteArray nested = R"({"analysis":{"container":{"tags":{"t":)";
    nested += QByteArray(500, '[') + QByteArray(500, ']') + "}}}}";
    const JobInfo info = JobInfo::fromJSON(nested);
    ASSERT_TRUE(info.analysis && info.analysis->container && info.analysis->container->tags);
    EXPECT_EQ(info.analysis->container->tags->values.value("t", "missing"), QString());

    // A large list of streams decodes in full.
    QByteArray many = R"({"analysis":{"audio_streams":[)";
    for (int i = 0; i < 100000; ++i)
        many += (i ? "," : "") + QByteArray(R"({"index":)") + QByteArray::number(i) + "}";
    many += "]}}";
    const JobInfo big = JobInfo::fromJSON(many);
    ASSERT_TRUE(big.analysis && big.analysis->audioStreams);
    ASSERT_EQ(big.analysis->audioStreams->size(), 100000);
    EXPECT_EQ(big.analysis->audioStreams->back().index, LooseInt{99999});
}

TEST(AnalysisPayload, EqualityCoversEveryLevel)
{
    const AnalysisPayload original = AnalysisPayload::fromJSON(fullReport);
    EXPECT_EQ(original, AnalysisPayload::fromJSON(fullReport));

    AnalysisPayload changed = original;
    (*changed.audioStreams)[0].tags->values.insert("new", "tag");
    EXPECT_NE(changed, original);

    changed = original;
    changed.loudness->truePeakDbfs = -0.31;
    EXPECT_NE(changed, original);

    changed = original;
    changed.chapters->append(AnalysisChapter{});
    EXPECT_NE(changed, original);

    changed = original;
    changed.container->nbStreams = LooseInt{};
    EXPECT_NE(changed, original);

    changed = original;
    changed.file->name.reset();
    EXPECT_NE(changed, original);
}

} // namespace

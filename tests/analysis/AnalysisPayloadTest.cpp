#include "analysis/AnalysisPayload.h"
#include "analysis/JobInfo.h"
#include "analysis/KeyedObject.h"
#include "analysis/LooseValues.h"
#include "service/JsonFields.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>

using namespace vorlik::analysis;

namespace {

// One JSON value, parsed the way a report member is (inside a document).
QJsonValue jsonValue(const char *literal)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray("[") + literal + "]", &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << literal;
    return document.array().at(0);
}

constexpr std::nullopt_t none = std::nullopt;

TEST(LooseValues, NumbersAndNumericTextDecodeAnyValueHasADisplayTextAndNumbersTheShortestThatReadsBack)
{
    const std::pair<const char *, std::optional<double>> doubles[] = {
        {"320000", 320000.0}, {"0.5", 0.5}, {"-3.25e2", -325.0}, {"9223372036854775807", 9223372036854775807.0},
        {"1e30", 1e30}, {"\"320000\"", 320000.0}, {"\"  44100\t \"", 44100.0}, {"\"-1.5e3\"", -1500.0},
        {"\"+2.5\"", 2.5}, {"\".5\"", 0.5}, {"\"0x10\"", 16.0}, {"\"1,5\"", none}, {"\"abc\"", none}, {"\"inf\"", none},
        {"\"-Infinity\"", none}, {"\"nan\"", none}, {"\"NaN(123)\"", none}, {"\"1e400\"", none}, {"\"\"", none},
        {"\" \"", none}, {"\"\\n5\"", none}, {"\"5\\n\"", none}, {"\"5 5\"", none}, {"\"5\\u00005\"", none},
        {"true", none}, {"false", none}, {"null", none}, {"{\"a\":1}", none}, {"[1]", none}};
    for (const auto &[json, expected] : doubles)
        EXPECT_EQ(LooseDouble::fromJSON(jsonValue(json)).value, expected) << json;

    constexpr qint64 max = std::numeric_limits<qint64>::max(), min = std::numeric_limits<qint64>::min();
    const std::pair<const char *, std::optional<qint64>> ints[] = {
        {"2", 2}, {"2.0", 2}, {"-0", 0}, {"1e2", 100}, {"2.5", none}, {"1e30", none}, {"-1e30", none},
        {"9223372036854775807", max}, {"-9223372036854775808", min}, {"9223372036854775808", none}, {"1e19", none},
        {"\"+7\"", 7}, {"\"-7\"", -7}, {"\" \t42 \"", 42}, {"\"007\"", 7}, {"\"7.0\"", none}, {"\"7e0\"", none},
        {"\"\"", none}, {"\"  \"", none}, {"\"+\"", none}, {"\"+-7\"", none}, {"\"--7\"", none}, {"\"7 7\"", none},
        {"\"0x10\"", none}, {"\"\\u0667\"", none}, {"\"9223372036854775807\"", max}, {"\"-9223372036854775808\"", min},
        {"\"9223372036854775808\"", none}, {"\"99999999999999999999999\"", none}, {"true", none}, {"null", none},
        {"[]", none}, {"{}", none}};
    for (const auto &[json, expected] : ints)
        EXPECT_EQ(LooseInt::fromJSON(jsonValue(json)).value, expected) << json;

    const std::pair<const char *, const char *> cases[] = {
        {"\"A\"", "A"}, {"\"\"", ""}, {"\"Ünïcødé\"", "Ünïcødé"}, {"3", "3"}, {"3.0", "3"}, {"-12", "-12"},
        {"0.1", "0.1"}, {"-2.75", "-2.75"}, {"1e-7", "1e-07"}, {"123456.789", "123456.789"},
        // Plain notation from 0.0001 on, as the report's numbers, even where exponent notation
        // would be shorter.
        {"0.0001", "0.0001"}, {"-0.0003", "-0.0003"}, {"0.00001", "1e-05"}, {"1e-4", "0.0001"},
        {"9223372036854775807", "9223372036854775807"}, {"1e20", "1e+20"}, {"true", "true"}, {"false", "false"},
        {"null", ""}, {"{\"a\":1}", ""}, {"[1,2]", ""}};
    for (const auto &[json, text] : cases)
        EXPECT_EQ(AnyDecodable::fromJSON(jsonValue(json)).displayString, QString::fromUtf8(text)) << json;

    // Tags: members of any type become display text under their names as sent; anything but an
    // object is an empty map.
    const std::pair<const char *, QMap<QString, QString>> tags[] = {
        {R"({"title":"A","track":3,"gain":0.5,"live":false,"x":null,"y":[1,2],"z":{"deep":1},"":"empty"})",
         {{"title", "A"}, {"track", "3"}, {"gain", "0.5"}, {"live", "false"}, {"x", ""}, {"y", ""}, {"z", ""}, {"", "empty"}}},
        {"[\"a\",\"b\"]", {}}, {"3", {}}, {"\"title\"", {}}, {"true", {}}, {"{}", {}}};
    for (const auto &[json, values] : tags)
        EXPECT_EQ(LooseTags::fromJSON(jsonValue(json)).values, values) << json;

    for (double sample : {0.1, 1.0 / 3.0, -23.456789012345678, 5e-324, 1.7976931348623157e308, 44100.0, 1e21, -0.0}) {
        const QByteArray text = shortestRoundTripText(sample).toLatin1();
        double back = 0;
        const auto [end, error] = std::from_chars(text.cbegin(), text.cend(), back);
        EXPECT_TRUE(error == std::errc() && end == text.cend() && back == sample && std::signbit(back) == std::signbit(sample))
            << text.constData();
    }
    EXPECT_EQ(shortestRoundTripText(0.30000000000000004), QStringLiteral("0.30000000000000004"));
}

// A report shaped like the service's, every member present.
const QByteArray fullReport = R"json({
  "workflow": "audio_info", "generated_at": "2026-12-01T10:00:00Z", "file": {"name": "take 1.wav"},
  "engine": {"ffprobe": "ffprobe 5.1.4", "ffmpeg": "ffmpeg 5.1.4", "measurement_backend": "libebur128"},
  "container": {"format_name": "wav", "format_long_name": "WAV / WAVE (Waveform Audio)", "display_name": "WAV",
    "duration_sec": "12.500000", "duration_hms": "00:00:12.500", "bit_rate_bps": 1411200, "size_bytes": "2205078",
    "nb_streams": 1, "probe_score": 99, "tags": {"encoder": "Lavf59", "track": 3}},
  "audio_streams": [{"index": 0, "codec_type": "audio", "codec_name": "pcm_s16le",
    "codec_long_name": "PCM signed 16-bit little-endian", "codec_tag_string": "[1][0][0][0]", "sample_rate_hz": "44100",
    "channels": 2, "channel_layout": "stereo", "sample_fmt": "s16", "bits_per_sample": 16, "bits_per_raw_sample": "16",
    "bit_depth": 16, "bit_rate_bps": "1411200", "effective_bit_rate_bps": 1411200.0, "duration_sec": 12.5,
    "duration_hms": "00:00:12.500", "language": "eng", "title": "Main", "tags": {}}],
  "other_streams": [{"index": 1, "codec_type": "video", "codec_name": "mjpeg"}],
  "chapters": [{"id": 0, "start_sec": 0, "end_sec": "6.25", "start_hms": "00:00:00.000", "end_hms": "00:00:06.250",
    "title": "Intro"}],
  "levels": {"peak_dbfs": -0.1, "astats_peak_dbfs": -0.12, "rms_dbfs": -18.5, "noise_floor_dbfs": -80, "flat_factor": 0,
    "peak_count": "2", "sample_count": 551250},
  "loudness": {"integrated_lufs": -16.2, "threshold_lufs": -26.3, "lra_lu": 5.1, "lra_low_lufs": -20.1,
    "lra_high_lufs": -15.0, "true_peak_dbfs": -0.3, "max_short_term_lufs": -12.0, "max_momentary_lufs": -10.5}
})json";

QByteArray jobWith(const QByteArray &analysis, const QByteArray &head = R"("status":"COMPLETED")")
{
    return "{" + head + R"(,"analysis":)" + analysis + "}";
}

QString decodeFailure(const std::function<void()> &decode)
{
    try {
        decode();
    } catch (const vorlik::service::DecodingError &error) {
        return error.description();
    }
    return QStringLiteral("<decoded>");
}

TEST(AnalysisPayload, DecodesEveryKindOfMemberBySnakeCaseOrExactNameAndPassesOverNullsAndUnknownMembers)
{
    const AnalysisPayload report = AnalysisPayload::fromJSON(fullReport);
    ASSERT_TRUE(report.file && report.engine && report.container && report.audioStreams && report.otherStreams
                && report.chapters && report.levels && report.loudness);
    EXPECT_EQ(report.engine->measurementBackend, QStringLiteral("libebur128"));
    EXPECT_EQ(report.container->sizeBytes, LooseDouble{2205078.0});
    EXPECT_EQ(report.container->tags->values, (QMap<QString, QString>{{"encoder", "Lavf59"}, {"track", "3"}}));
    const AnalysisStream &stream = report.audioStreams->front();
    EXPECT_EQ(stream.codecTagString, QStringLiteral("[1][0][0][0]"));
    EXPECT_EQ(stream.bitsPerRawSample, LooseInt{16});
    EXPECT_EQ(stream.effectiveBitRateBps, LooseDouble{1411200.0});
    EXPECT_TRUE(stream.tags && stream.tags->values.isEmpty());
    EXPECT_FALSE(report.otherStreams->front().channels);
    EXPECT_EQ(report.chapters->front().endSec, LooseDouble{6.25});
    EXPECT_EQ(report.levels->peakCount, LooseInt{2});
    EXPECT_EQ(report.loudness->maxMomentaryLufs, -10.5);

    // Equality looks into every level.
    EXPECT_EQ(report, AnalysisPayload::fromJSON(fullReport));
    const std::function<void(AnalysisPayload &)> changes[] = {
        [](AnalysisPayload &r) { (*r.audioStreams)[0].tags->values.insert("new", "tag"); },
        [](AnalysisPayload &r) { r.loudness->truePeakDbfs = -0.31; },
        [](AnalysisPayload &r) { r.chapters->append(AnalysisChapter{}); },
        [](AnalysisPayload &r) { r.container->nbStreams = LooseInt{}; },
        [](AnalysisPayload &r) { r.file->name.reset(); },
    };
    for (const auto &change : changes) {
        AnalysisPayload changed = report;
        change(changed);
        EXPECT_NE(changed, report);
    }

    // Members are matched by their snake_case or exact names (the first in key order wins), unknown
    // ones are passed over, and a null or a tag map of the wrong shape is an empty field: each
    // document decodes to the same report as the plain one beside it.
    const std::pair<const char *, const char *> keys[] = {
        {"bits_per_raw_sample", "bitsPerRawSample"}, {"bitRateBps", "bitRateBps"}, {"_id", "_id"}, {"id_", "id_"},
        {"__bit_rate__", "__bitRate__"}, {"a__b", "aB"}, {"a___b_c", "aBC"}, {"_", "_"}, {"___", "___"}, {"", ""},
        {"a_1b", "a1b"}, {"Bit_RATE", "BitRATE"}, {"x_é", "xÉ"}};
    for (const auto &[wire, converted] : keys)
        EXPECT_EQ(KeyedObject::convertFromSnakeCase(QString::fromUtf8(wire)), QString::fromUtf8(converted));
    EXPECT_EQ(AnalysisPayload::fromJSON(R"({"audioStreams":[{"bitRateBps":320000}]})").audioStreams->front().bitRateBps,
              LooseDouble{320000.0});
    const std::pair<const char *, const char *> cases[] = {
        {R"({"workflow":null,"file":null,"container":null,"audio_streams":null,"levels":null})", "{}"},
        {R"({"audio_streams":[{"bit_rate_bps":"320000"}]})", R"({"audioStreams":[{"bitRateBps":320000}]})"},
        // "bitRateBps" sorts before "bit_rate_bps".
        {R"({"audio_streams":[{"bit_rate_bps":1,"bitRateBps":2}]})", R"({"audioStreams":[{"bitRateBps":2}]})"},
        // Doubled inner underscores still convert; kept leading or trailing ones do not match.
        {R"({"generated__at":"t","_workflow":"w","future":{"x":[1]},"loudness":{"lra_lu_":1.0},
            "levels":{"new_meter":"loud","rms_dbfs":-20,"peak_dbfs":null}})",
         R"({"generatedAt":"t","loudness":{},"levels":{"rmsDbfs":-20}})"},
        {R"({"container":{"tags":["a","b"],"format_name":"wav","nb_streams":null},"audio_streams":[{"tags":"x","channels":"2"}]})",
         R"({"container":{"tags":{},"formatName":"wav"},"audioStreams":[{"tags":{},"channels":2}]})"},
        {R"({"container":{"tags":null}})", R"({"container":{}})"},
    };
    for (const auto &[sent, plain] : cases)
        EXPECT_EQ(AnalysisPayload::fromJSON(sent), AnalysisPayload::fromJSON(plain)) << sent;
    EXPECT_NE(AnalysisPayload::fromJSON(R"({"container":{"tags":{}}})"), AnalysisPayload::fromJSON(R"({"container":{}})"));

    // Every tolerant member given every JSON type: the report still decodes.
    for (const char *value : {"true", "\"x\"", "[]", "{}", "1e30", "-0.5", "\"nan\""}) {
        const QByteArray v(value);
        const QByteArray body = "{\"container\":{\"duration_sec\":" + v + ",\"nb_streams\":" + v + ",\"tags\":" + v
            + "},\"audio_streams\":[{\"index\":" + v + ",\"sample_rate_hz\":" + v + ",\"tags\":" + v
            + "}],\"chapters\":[{\"id\":" + v + ",\"start_sec\":" + v + "}],\"levels\":{\"peak_count\":" + v + "}}";
        EXPECT_EQ(decodeFailure([&] { AnalysisPayload::fromJSON(body); }), QStringLiteral("<decoded>")) << value;
    }
}

TEST(JobInfo, AStrictFieldOfTheWrongTypeFailsTheWholeDocument)
{
    const std::pair<const char *, const char *> cases[] = {
        {R"({"loudness":{"integrated_lufs":"-16.2"}})", R"("analysis.loudness.integrated_lufs" is a string, expected a number)"},
        {R"({"levels":{"rms_dbfs":true}})", R"("analysis.levels.rms_dbfs" is a boolean, expected a number)"},
        {R"({"workflow":3})", R"("analysis.workflow" is a number, expected a string)"},
        {R"({"file":"a.wav"})", R"("analysis.file" is a string, expected an object)"},
        {R"({"file":{"name":["a"]}})", R"("analysis.file.name" is an array, expected a string)"},
        {R"({"audio_streams":{"index":0}})", R"("analysis.audio_streams" is an object, expected an array)"},
        {R"({"audio_streams":[{},{"codec_name":7}]})", R"("analysis.audio_streams[1].codec_name" is a number, expected a string)"},
        {R"({"other_streams":[null]})", R"("analysis.other_streams[0]" is null, expected an object)"},
        {R"({"chapters":[1]})", R"("analysis.chapters[0]" is a number, expected an object)"},
        {R"({"container":{"durationHms":12}})", R"("analysis.container.durationHms" is a number, expected a string)"},
        {R"({"engine":{"measurement_backend":{}}})", R"("analysis.engine.measurement_backend" is an object, expected a string)"},
        {R"({"workflow":1,"loudness":{"lra_lu":"x"}})", R"("analysis.workflow" is a number, expected a string)"},
    };
    for (const auto &row : cases)
        EXPECT_EQ(decodeFailure([&] { JobInfo::fromJSON(jobWith(row.first)); }), QStringLiteral("typeMismatch: ") + row.second);
    // A number no 64-bit float can hold is not a number a strict field can have.
    for (const char *number : {"1e309", "-1e400"})
        EXPECT_EQ(decodeFailure([&] { JobInfo::fromJSON(jobWith(QByteArray(R"({"loudness":{"integrated_lufs":)") + number + "}}")); }),
                  QStringLiteral(R"(dataCorrupted: "analysis.loudness.integrated_lufs" is a number beyond the range of a 64-bit float)"));

    const std::pair<const char *, const char *> top[] = {
        {R"({"status":1})", R"(typeMismatch: "status" is a number, expected a string)"},
        {R"({"error_summary":false})", R"(typeMismatch: "error_summary" is a boolean, expected a string)"},
        {R"({"analysis":[]})", R"(typeMismatch: "analysis" is an array, expected an object)"},
        {R"(["COMPLETED"])", "typeMismatch: the top level is an array, expected an object"},
    };
    for (const auto &row : top)
        EXPECT_EQ(decodeFailure([&] { JobInfo::fromJSON(row.first); }), QString::fromUtf8(row.second));
    for (const char *body : {"not json", "", R"({"status":"COMPLETED")"})
        EXPECT_NE(decodeFailure([&] { JobInfo::fromJSON(body); }), QStringLiteral("<decoded>")) << body;
}

TEST(JobInfo, DecodesTheStatusDocumentAndKeepsWhatItCanOfNumbersBeyondADoubleAndHostileInput)
{
    const JobInfo info = JobInfo::fromJSON(
        R"({"status":"FAILED","error_summary":"ffprobe could not read the file","output_report":"report.txt"})");
    EXPECT_EQ(info, (JobInfo{.status = QStringLiteral("FAILED"), .errorSummary = QStringLiteral("ffprobe could not read the file"),
                             .outputReport = QStringLiteral("report.txt")}));
    const JobInfo done = JobInfo::fromJSON(jobWith(fullReport));
    ASSERT_TRUE(done.analysis);
    EXPECT_EQ(*done.analysis, AnalysisPayload::fromJSON(fullReport));
    EXPECT_EQ(JobInfo::fromJSON("{}"), JobInfo{});

    for (const auto &[status, terminal, completed] :
         {std::tuple{"COMPLETED", true, true}, {"completed", true, true}, {"Completed", true, true}, {"failed", true, false},
          {"CANCELLED", true, false}, {"canceled", false, false}, {"RUNNING", false, false}, {"", false, false},
          {" COMPLETED", false, false}}) {
        JobInfo job;
        job.status = QString::fromLatin1(status);
        EXPECT_EQ(job.isTerminal(), terminal) << status;
        EXPECT_EQ(job.isCompleted(), completed) << status;
    }

    // A number beyond a double's range decodes as empty text there would, and its neighbours keep
    // their values.
    const auto body = [](const QByteArray &n) {
        return R"({"status":"COMPLETED","eta_ms":)" + n + R"(,"analysis":{"extra":{"deep":[[)" + n + R"(]]},"container":{"duration_sec":)"
            + n + R"(,"nb_streams":)" + n + R"(,"tags":{"t":)" + n + R"(,"title":"A"}},"audio_streams":[{"sample_rate_hz":)" + n
            + R"(,"channels":2}],"levels":{"peak_count":)" + n + R"(},"loudness":{"integrated_lufs":-16.5}}})";
    };
    const JobInfo empty = JobInfo::fromJSON(body(R"("")"));
    ASSERT_TRUE(empty.analysis && empty.analysis->container && empty.analysis->audioStreams);
    EXPECT_EQ(empty.analysis->container->tags, (LooseTags{{{"t", ""}, {"title", "A"}}}));
    EXPECT_EQ(empty.analysis->audioStreams->front().channels, LooseInt{2});
    const QByteArray digits(400, '7');
    for (const QByteArray &n : {QByteArray("1e309"), QByteArray("-1e400"), QByteArray("1E+999"), digits, "-" + digits}) {
        JobInfo decoded;
        ASSERT_EQ(decodeFailure([&] { decoded = JobInfo::fromJSON(body(n)); }), QStringLiteral("<decoded>")) << n.left(20).toStdString();
        EXPECT_TRUE(decoded.isCompleted());
        EXPECT_EQ(decoded.analysis, empty.analysis) << n.left(20).toStdString();
    }
    // Below the smallest step of a double a number is zero, as it would be written.
    const JobInfo tiny = JobInfo::fromJSON(
        R"({"analysis":{"container":{"duration_sec":1e-400,"tags":{"t":-1e-999}},"loudness":{"lra_lu":1e-400}}})");
    EXPECT_EQ(tiny.analysis->container->durationSec, LooseDouble{0.0});
    EXPECT_EQ(tiny.analysis->container->tags->values.value("t"), QStringLiteral("0"));
    EXPECT_EQ(tiny.analysis->loudness->lraLu, 0.0);

    // Nesting far deeper than any parser stack should follow fails; within the parser's limit
    // the tag value shows as empty text.
    const QByteArray tags = R"({"status":"COMPLETED","analysis":{"container":{"tags":{"t":)";
    EXPECT_NE(decodeFailure([&] { JobInfo::fromJSON(tags + QByteArray(200000, '[') + QByteArray(200000, ']') + "}}}}"); }),
              QStringLiteral("<decoded>"));
    const JobInfo nested = JobInfo::fromJSON(tags + QByteArray(500, '[') + QByteArray(500, ']') + "}}}}");
    ASSERT_TRUE(nested.analysis && nested.analysis->container && nested.analysis->container->tags);
    EXPECT_EQ(nested.analysis->container->tags->values.value("t", "missing"), QString());

    // A large list of streams decodes in full.
    QByteArray many = R"({"analysis":{"audio_streams":[)";
    for (int i = 0; i < 100000; ++i)
        many += (i ? "," : "") + QByteArray(R"({"index":)") + QByteArray::number(i) + "}";
    const JobInfo big = JobInfo::fromJSON(many + "]}}");
    ASSERT_TRUE(big.analysis && big.analysis->audioStreams);
    ASSERT_EQ(big.analysis->audioStreams->size(), 100000);
    EXPECT_EQ(big.analysis->audioStreams->back().index, LooseInt{99999});
}

} // namespace

#include "analysis/ReportFormat.h"
#include "analysis/ReportSummary.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vorlik::analysis;
using namespace Qt::StringLiterals;

namespace {

QList<ReportSection> sectionsOf(const char *json)
{
    return ReportFormat::sections(AnalysisPayload::fromJSON(json));
}

// A section's rows as "label=value; label=value", or one row's value when `label` is given.
QString written(const char *json, const QString &title, const char *label)
{
    for (const ReportSection &section : sectionsOf(json)) {
        if (section.title != title)
            continue;
        QStringList rows;
        for (const ReportRow &row : section.rows) {
            if (label && row.label == QLatin1String(label))
                return row.value;
            rows << row.label + u'=' + row.value;
        }
        return label ? u"<no row>"_s : rows.join(u"; "_s);
    }
    return u"<no section>"_s;
}

TEST(ReportFormat, ValuesSectionsAndTheSummaryLineJoiningWhatTheReportHas)
{
    const auto fmt = [](std::optional<double> value, const QString &unit, int digits) { return ReportFormat::fmt(value, unit, digits); };
    const auto bytes = [](std::optional<double> value) { return ReportFormat::fmtBytes(value); };
    const std::pair<QString, QString> cases[] = {
        {fmt(12.345, u" s"_s, 2), u"12.35 s"_s}, {fmt(std::nullopt, u" s"_s, 2), QString()},
        {ReportFormat::fmt(std::optional<LooseDouble>(LooseDouble{}), u" s"_s, 2), QString()},
        {fmt(44100.4, u" Hz"_s, 0), u"44100 Hz"_s}, {fmt(-23.004, u" LUFS"_s, 2), u"-23.00 LUFS"_s},
        {fmt(0, u"%"_s, 1), u"0.0%"_s}, // the unit is text, never a format
        {bytes(std::nullopt), QString()}, {bytes(0), u"0 bytes"_s}, {bytes(1023), u"1023 bytes"_s}, {bytes(1536), u"1.5 KB"_s},
        {bytes(1048575), u"1024.0 KB"_s}, // 1023.999 KB, written with one decimal
        {bytes(1048576), u"1.0 MB"_s}, {bytes(5000000000.0), u"4.7 GB"_s},
        {bytes(std::pow(2.0, 42)), u"4096.0 GB"_s}, {ReportFormat::plainNumber(7), u"7.0"_s},
        {ReportFormat::plainNumber(-30), u"-30.0"_s}, {ReportFormat::plainNumber(0.1), u"0.1"_s},
        {ReportFormat::plainNumber(-20.4), u"-20.4"_s}, {ReportFormat::plainNumber(0.0001), u"0.0001"_s},
        {ReportFormat::plainNumber(0.00001), u"1e-05"_s}, {ReportFormat::plainNumber(1e20), u"1e+20"_s},
        {ReportFormat::plainNumber(std::numeric_limits<double>::infinity()), u"inf"_s},
        {ReportFormat::shown(QString()), u"\u2014"_s}, {ReportFormat::shown(u"0 bytes"_s), u"0 bytes"_s},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(text, expected);

    const std::pair<const char *, QString> channels[] = {
        {R"({"channels":2,"channel_layout":"stereo"})", u"2 (stereo)"_s}, {R"({"channels":2,"channel_layout":"unknown"})", u"2"_s},
        {R"({"channels":"6","channel_layout":""})", u"6"_s}, {R"({"channels":1})", u"1"_s},
        {R"({"channel_layout":"stereo"})", QString()}, {R"({"channels":"two","channel_layout":"stereo"})", QString()},
    };
    for (const auto &[stream, label] : channels) {
        const AnalysisPayload payload = AnalysisPayload::fromJSON(QByteArray(R"({"audio_streams":[)") + stream + "]}");
        EXPECT_EQ(ReportFormat::channelLabel(payload.audioStreams->front()), label) << stream;
    }

    const char *streams = R"({"audio_streams":[
        {"index":3,"codec_name":"pcm_s24le","codec_long_name":"PCM signed 24-bit little-endian","sample_rate_hz":"48000",
         "bit_depth":24,"channels":2,"channel_layout":"stereo","sample_fmt":"s32","bit_rate_bps":"2304000",
         "effective_bit_rate_bps":1,"duration_sec":1.5,"language":"eng","title":"Main"},
        {"codec_name":"aac","effective_bit_rate_bps":256000.4,"duration_hms":"00:00:01.500"}]})";
    const char *others = R"({
        "container":{"tags":{"title":"Take","artist":"Vorlik","Album":"B","track":3}},
        "other_streams":[{"codec_type":"video","index":0,"codec_name":"h264","codec_long_name":"H.264 / AVC"},
                         {"codec_name":"bin_data"},{}],
        "chapters":[{"id":7,"start_hms":"00:00:00.000","end_hms":"00:01:00.000","title":"Intro"},{"end_hms":"00:02:00.000"}]})";
    const char *levels = R"({
        "levels":{"peak_dbfs":-6.021,"rms_dbfs":-9.03,"noise_floor_dbfs":-90,"flat_factor":0},
        "loudness":{"integrated_lufs":-23.04,"lra_lu":7,"true_peak_dbfs":-5.9,"max_short_term_lufs":-20.5,
                    "max_momentary_lufs":-19.25,"threshold_lufs":-33}})";
    const QString loudness = u"Loudness (EBU R128 / ITU-R BS.1770)"_s;
    const QString emptyContainer = u"; Duration=; Size=; Overall bit rate=; Streams="_s;
    // A document, a section's title, one row's label (or none: every row), and what is written.
    const struct { const char *json; QString title; const char *label; QString written; } sections[] = {
        {R"({"container":{"format_name":"mov,mp4,m4a,3gp,3g2,mj2","format_long_name":"QuickTime / MOV"}})", u"Container"_s,
         nullptr, u"Type=QuickTime / MOV \u00B7 mov,mp4,m4a,3gp,3g2,mj2"_s + emptyContainer},
        {R"({"container":{"display_name":"WAV","format_name":"wav","format_long_name":"WAV / WAVE"}})", u"Container"_s,
         nullptr, u"Type=WAV"_s + emptyContainer},
        {R"({"container":{"format_name":"flac"}})", u"Container"_s, nullptr, u"Type=flac"_s + emptyContainer},
        {R"({"container":{"duration_sec":"12.345","size_bytes":1023,"bit_rate_bps":"1411200","nb_streams":"2"}})",
         u"Container"_s, nullptr, u"Type=; Duration=12.35 s; Size=1023 bytes; Overall bit rate=1411200 b/s; Streams=2"_s},
        {R"({"container":{"duration_hms":"00:00:12.345","duration_sec":1}})", u"Container"_s, "Duration", u"00:00:12.345"_s},
        {streams, u"Audio Stream #3"_s, nullptr,
         u"Codec=PCM signed 24-bit little-endian; Sample rate=48000 Hz; Bit depth=24 bits; Channels=2 (stereo); "
         "Sample format=s32; Bit rate=2304000 b/s; Duration=1.50 s; Language=eng; Title=Main"_s},
        // Without an index a stream is numbered by its position; without a bit rate the effective
        // one is shown; Language and Title only when present.
        {streams, u"Audio Stream #1"_s, nullptr,
         u"Codec=aac; Sample rate=; Bit depth=; Channels=; Sample format=; Bit rate=256000 b/s; Duration=00:00:01.500"_s},
        {R"({"audio_streams":[{"bit_rate_bps":"N/A","effective_bit_rate_bps":"128000"}]})", u"Audio Stream #0"_s, "Bit rate",
         u"128000 b/s"_s},
        {others, u"Other Streams"_s, nullptr, u"video 0=H.264 / AVC \u00B7 h264; stream ?=bin_data; stream ?="_s},
        {others, u"Metadata"_s, nullptr, u"Album=B; artist=Vorlik; title=Take; track=3"_s},
        {others, u"Chapters"_s, nullptr,
         u"Chapter 7=00:00:00.000 \u2192 00:01:00.000  Intro; Chapter 1=\u2014 \u2192 00:02:00.000  "_s},
        {levels, u"Levels"_s, nullptr, u"Peak level=-6.02 dBFS; RMS level=-9.03 dBFS"_s},
        {levels, loudness, nullptr,
         u"Integrated=-23.04 LUFS; LRA=7.0 LU; True peak=-5.90 dBFS; Max short-term=-20.50 LUFS; Max momentary=-19.25 LUFS"_s},
        {R"({"loudness":{"lra_low_lufs":-30,"lra_high_lufs":-20}})", loudness, "LRA", u"-30.0 \u2013 -20.0 LU"_s},
        {R"({"loudness":{"lra_low_lufs":-30.5}})", loudness, "LRA", u"-30.5 \u2013  LU"_s},
        {R"({"loudness":{"lra_lu":6.3,"lra_low_lufs":-30,"lra_high_lufs":-20}})", loudness, "LRA", u"6.3 LU"_s},
        {R"({"loudness":{"lra_high_lufs":-20}})", loudness, "LRA", QString()},
    };
    for (const auto &c : sections)
        EXPECT_EQ(written(c.json, c.title, c.label), c.written) << c.json;

    QStringList titles;
    for (const ReportSection &section : sectionsOf(others))
        titles << section.title;
    EXPECT_EQ(titles, (QStringList{u"Container"_s, u"Other Streams"_s, u"Metadata"_s, u"Chapters"_s}));
    // Empty lists and tag maps make no section.
    EXPECT_EQ(sectionsOf(R"({"container":{"tags":[]},"audio_streams":[],"other_streams":[],"chapters":[]})").size(), 1);
    EXPECT_TRUE(sectionsOf("{}").isEmpty());

    const std::pair<const char *, std::optional<QString>> summaries[] = {
        {R"({"audio_streams":[{"sample_rate_hz":"48000","channels":2,"bit_depth":24}],"loudness":{"integrated_lufs":-23.04}})",
         u"48000 Hz \u00B7 2 ch \u00B7 24-bit \u00B7 -23.0 LUFS"_s},
        {R"({"audio_streams":[{"sample_rate_hz":44100.4,"channels":"1"}]})", u"44100 Hz \u00B7 1 ch"_s},
        {R"({"loudness":{"integrated_lufs":-16.25}})", u"-16.2 LUFS"_s},
        {R"({"audio_streams":[{"channels":6},{"sample_rate_hz":8000}]})", u"6 ch"_s},
        {R"({"audio_streams":[{"bit_depth":16,"sample_rate_hz":"abc"}],"loudness":{}})", u"16-bit"_s},
        {R"({"audio_streams":[],"loudness":{"lra_lu":3}})", std::nullopt},
        {R"({"container":{"format_name":"wav"},"levels":{},"other_streams":[{"codec_type":"video"}]})", std::nullopt},
    };
    for (const auto &[report, line] : summaries)
        EXPECT_EQ(ReportSummary::line(AnalysisPayload::fromJSON(report)), line) << report;
}

} // namespace

// How a report is written on the Analysis page: the value formats and the seven kinds of
// section, from decoded report documents.
#include "analysis/ReportFormat.h"
#include "analysis/ReportSummary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace vorlik::analysis {
inline void PrintTo(const ReportRow &row, std::ostream *out)
{
    *out << '{' << row.label.toStdString() << ": " << row.value.toStdString() << '}';
}
inline void PrintTo(const ReportSection &section, std::ostream *out)
{
    *out << section.title.toStdString() << " [";
    for (const ReportRow &row : section.rows)
        PrintTo(row, out);
    *out << ']';
}
} // namespace vorlik::analysis

using namespace vorlik::analysis;

namespace {

const QString dash = QStringLiteral("\u2014");

QList<ReportSection> sectionsOf(const char *json)
{
    return ReportFormat::sections(AnalysisPayload::fromJSON(json));
}

// The section with that title, or an empty one (a failed expectation names what was missing).
ReportSection section(const QList<ReportSection> &sections, const QString &title)
{
    for (const ReportSection &candidate : sections)
        if (candidate.title == title)
            return candidate;
    ADD_FAILURE() << "no section " << title.toStdString();
    return {};
}

QString row(const ReportSection &section, const QString &label)
{
    for (const ReportRow &candidate : section.rows)
        if (candidate.label == label)
            return candidate.value;
    ADD_FAILURE() << "no row " << label.toStdString() << " in " << section.title.toStdString();
    return QStringLiteral("<missing>");
}

TEST(ReportFormat, FixedDecimalsWithUnit)
{
    const struct {
        std::optional<double> value;
        const char *unit;
        int digits;
        QString text;
    } cases[] = {
        {12.345, " s", 2, QStringLiteral("12.35 s")},
        {std::nullopt, " s", 2, QString()},
        {48000, " Hz", 0, QStringLiteral("48000 Hz")},
        {44100.4, " Hz", 0, QStringLiteral("44100 Hz")},
        {-23.004, " LUFS", 2, QStringLiteral("-23.00 LUFS")},
        {-0.5, " dBFS", 2, QStringLiteral("-0.50 dBFS")},
        {320000, " b/s", 0, QStringLiteral("320000 b/s")},
        {0, "%", 1, QStringLiteral("0.0%")}, // the unit is text, never a format
    };
    for (const auto &c : cases)
        EXPECT_EQ(ReportFormat::fmt(c.value, QString::fromUtf8(c.unit), c.digits), c.text);
    EXPECT_EQ(ReportFormat::fmt(std::optional<LooseDouble>(LooseDouble{}), QStringLiteral(" s"), 2), QString());
}

TEST(ReportFormat, ByteSizes)
{
    const struct {
        std::optional<double> bytes;
        QString text;
    } cases[] = {
        {std::nullopt, QString()},
        {0, QStringLiteral("0 bytes")},
        {1023, QStringLiteral("1023 bytes")},
        {1024, QStringLiteral("1.0 KB")},
        {1536, QStringLiteral("1.5 KB")},
        {1048575, QStringLiteral("1024.0 KB")}, // 1023.999 KB, written with one decimal
        {1048576, QStringLiteral("1.0 MB")},
        {5000000000.0, QStringLiteral("4.7 GB")},
        {std::pow(2.0, 42), QStringLiteral("4096.0 GB")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ReportFormat::fmtBytes(c.bytes), c.text) << (c.bytes ? *c.bytes : -1);
}

TEST(ReportFormat, PlainNumbers)
{
    const struct {
        double value;
        QString text;
    } cases[] = {
        {7, QStringLiteral("7.0")},
        {-30, QStringLiteral("-30.0")},
        {0, QStringLiteral("0.0")},
        {0.1, QStringLiteral("0.1")},
        {6.25, QStringLiteral("6.25")},
        {-20.4, QStringLiteral("-20.4")},
        {0.0001, QStringLiteral("0.0001")},
        {0.00001, QStringLiteral("1e-05")},
        {1e20, QStringLiteral("1e+20")},
        {std::numeric_limits<double>::infinity(), QStringLiteral("inf")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ReportFormat::plainNumber(c.value), c.text) << c.value;
}

TEST(ReportFormat, ChannelLabels)
{
    const struct {
        const char *stream;
        QString label;
    } cases[] = {
        {R"({"channels":2,"channel_layout":"stereo"})", QStringLiteral("2 (stereo)")},
        {R"({"channels":2,"channel_layout":"unknown"})", QStringLiteral("2")},
        {R"({"channels":"6","channel_layout":""})", QStringLiteral("6")},
        {R"({"channels":1})", QStringLiteral("1")},
        {R"({"channel_layout":"stereo"})", QString()},
        {R"({"channels":"two","channel_layout":"stereo"})", QString()},
    };
    for (const auto &c : cases) {
        const QByteArray report = QByteArray(R"({"audio_streams":[)") + c.stream + "]}";
        const AnalysisPayload payload = AnalysisPayload::fromJSON(report);
        EXPECT_EQ(ReportFormat::channelLabel(payload.audioStreams->front()), c.label) << c.stream;
    }
}

TEST(ReportFormat, EmptyValuesShowADash)
{
    EXPECT_EQ(ReportFormat::shown(QString()), dash);
    EXPECT_EQ(ReportFormat::shown(QStringLiteral("0 bytes")), QStringLiteral("0 bytes"));
}

TEST(ReportFormat, ContainerTypeAndRows)
{
    const struct {
        const char *container;
        QString type;
    } cases[] = {
        {R"({"format_name":"mov,mp4,m4a,3gp,3g2,mj2","format_long_name":"QuickTime / MOV"})",
         QStringLiteral("QuickTime / MOV \u00B7 mov,mp4,m4a,3gp,3g2,mj2")},
        {R"({"display_name":"WAV","format_name":"wav","format_long_name":"WAV / WAVE"})", QStringLiteral("WAV")},
        {R"({"format_name":"flac"})", QStringLiteral("flac")},
        {R"({})", QString()},
    };
    for (const auto &c : cases) {
        const QByteArray report = QByteArray(R"({"container":)") + c.container + "}";
        EXPECT_EQ(row(section(sectionsOf(report), QStringLiteral("Container")), QStringLiteral("Type")), c.type);
    }

    const ReportSection container = section(
        sectionsOf(R"({"container":{"duration_sec":"12.345","size_bytes":1023,"bit_rate_bps":"1411200","nb_streams":"2"}})"),
        QStringLiteral("Container"));
    const QList<ReportRow> expected = {
        {QStringLiteral("Type"), QString()},
        {QStringLiteral("Duration"), QStringLiteral("12.35 s")},
        {QStringLiteral("Size"), QStringLiteral("1023 bytes")},
        {QStringLiteral("Overall bit rate"), QStringLiteral("1411200 b/s")},
        {QStringLiteral("Streams"), QStringLiteral("2")},
    };
    EXPECT_EQ(container.rows, expected);
    EXPECT_EQ(row(section(sectionsOf(R"({"container":{"duration_hms":"00:00:12.345","duration_sec":1}})"),
                          QStringLiteral("Container")),
                  QStringLiteral("Duration")),
              QStringLiteral("00:00:12.345"));
}

TEST(ReportFormat, AudioStreamSections)
{
    const QList<ReportSection> sections = sectionsOf(R"({"audio_streams":[
        {"index":3,"codec_name":"pcm_s24le","codec_long_name":"PCM signed 24-bit little-endian","sample_rate_hz":"48000",
         "bit_depth":24,"channels":2,"channel_layout":"stereo","sample_fmt":"s32","bit_rate_bps":"2304000",
         "effective_bit_rate_bps":1,"duration_sec":1.5,"language":"eng","title":"Main"},
        {"codec_name":"aac","effective_bit_rate_bps":256000.4,"duration_hms":"00:00:01.500"}]})");
    ASSERT_EQ(sections.size(), 2);
    EXPECT_EQ(sections.at(0).title, QStringLiteral("Audio Stream #3"));
    const QList<ReportRow> first = {
        {QStringLiteral("Codec"), QStringLiteral("PCM signed 24-bit little-endian")},
        {QStringLiteral("Sample rate"), QStringLiteral("48000 Hz")},
        {QStringLiteral("Bit depth"), QStringLiteral("24 bits")},
        {QStringLiteral("Channels"), QStringLiteral("2 (stereo)")},
        {QStringLiteral("Sample format"), QStringLiteral("s32")},
        {QStringLiteral("Bit rate"), QStringLiteral("2304000 b/s")},
        {QStringLiteral("Duration"), QStringLiteral("1.50 s")},
        {QStringLiteral("Language"), QStringLiteral("eng")},
        {QStringLiteral("Title"), QStringLiteral("Main")},
    };
    EXPECT_EQ(sections.at(0).rows, first);

    // Without an index, the second stream is numbered by its position; without a bit rate the
    // effective one is shown; Language and Title rows only when present.
    EXPECT_EQ(sections.at(1).title, QStringLiteral("Audio Stream #1"));
    const QList<ReportRow> second = {
        {QStringLiteral("Codec"), QStringLiteral("aac")},
        {QStringLiteral("Sample rate"), QString()},
        {QStringLiteral("Bit depth"), QString()},
        {QStringLiteral("Channels"), QString()},
        {QStringLiteral("Sample format"), QString()},
        {QStringLiteral("Bit rate"), QStringLiteral("256000 b/s")},
        {QStringLiteral("Duration"), QStringLiteral("00:00:01.500")},
    };
    EXPECT_EQ(sections.at(1).rows, second);

    // A bit rate that is present but unusable also falls back to the effective one.
    EXPECT_EQ(row(sectionsOf(R"({"audio_streams":[{"bit_rate_bps":"N/A","effective_bit_rate_bps":"128000"}]})").front(),
                  QStringLiteral("Bit rate")),
              QStringLiteral("128000 b/s"));
}

TEST(ReportFormat, OtherStreamsMetadataAndChapters)
{
    const QList<ReportSection> sections = sectionsOf(R"({
        "container":{"tags":{"title":"Take","artist":"Vorlik","Album":"B","track":3}},
        "other_streams":[{"codec_type":"video","index":0,"codec_name":"h264","codec_long_name":"H.264 / AVC"},
                         {"codec_name":"bin_data"},{}],
        "chapters":[{"id":7,"start_hms":"00:00:00.000","end_hms":"00:01:00.000","title":"Intro"},{"end_hms":"00:02:00.000"}]})");
    QStringList titles;
    for (const ReportSection &s : sections)
        titles << s.title;
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Container"), QStringLiteral("Other Streams"),
                                   QStringLiteral("Metadata"), QStringLiteral("Chapters")}));

    const QList<ReportRow> other = {
        {QStringLiteral("video 0"), QStringLiteral("H.264 / AVC \u00B7 h264")},
        {QStringLiteral("stream ?"), QStringLiteral("bin_data")},
        {QStringLiteral("stream ?"), QString()},
    };
    EXPECT_EQ(section(sections, QStringLiteral("Other Streams")).rows, other);

    const QList<ReportRow> metadata = {
        {QStringLiteral("Album"), QStringLiteral("B")},
        {QStringLiteral("artist"), QStringLiteral("Vorlik")},
        {QStringLiteral("title"), QStringLiteral("Take")},
        {QStringLiteral("track"), QStringLiteral("3")},
    };
    EXPECT_EQ(section(sections, QStringLiteral("Metadata")).rows, metadata);

    const QList<ReportRow> chapters = {
        {QStringLiteral("Chapter 7"), QStringLiteral("00:00:00.000 \u2192 00:01:00.000  Intro")},
        {QStringLiteral("Chapter 1"), dash + QStringLiteral(" \u2192 00:02:00.000  ")},
    };
    EXPECT_EQ(section(sections, QStringLiteral("Chapters")).rows, chapters);
}

TEST(ReportFormat, EmptyListsAndTagMapsMakeNoSection)
{
    const QList<ReportSection> sections =
        sectionsOf(R"({"container":{"tags":[]},"audio_streams":[],"other_streams":[],"chapters":[]})");
    ASSERT_EQ(sections.size(), 1);
    EXPECT_EQ(sections.front().title, QStringLiteral("Container"));
    EXPECT_TRUE(sectionsOf("{}").isEmpty());
}

TEST(ReportFormat, LevelsAndLoudness)
{
    const QList<ReportSection> sections = sectionsOf(R"({
        "levels":{"peak_dbfs":-6.021,"rms_dbfs":-9.03,"noise_floor_dbfs":-90,"flat_factor":0},
        "loudness":{"integrated_lufs":-23.04,"lra_lu":7,"true_peak_dbfs":-5.9,"max_short_term_lufs":-20.5,
                    "max_momentary_lufs":-19.25,"threshold_lufs":-33}})");
    const QList<ReportRow> levels = {
        {QStringLiteral("Peak level"), QStringLiteral("-6.02 dBFS")},
        {QStringLiteral("RMS level"), QStringLiteral("-9.03 dBFS")},
    };
    EXPECT_EQ(section(sections, QStringLiteral("Levels")).rows, levels);
    const QList<ReportRow> loudness = {
        {QStringLiteral("Integrated"), QStringLiteral("-23.04 LUFS")},
        {QStringLiteral("LRA"), QStringLiteral("7.0 LU")},
        {QStringLiteral("True peak"), QStringLiteral("-5.90 dBFS")},
        {QStringLiteral("Max short-term"), QStringLiteral("-20.50 LUFS")},
        {QStringLiteral("Max momentary"), QStringLiteral("-19.25 LUFS")},
    };
    EXPECT_EQ(section(sections, QStringLiteral("Loudness (EBU R128 / ITU-R BS.1770)")).rows, loudness);
}

TEST(ReportFormat, LoudnessRange)
{
    const struct {
        const char *loudness;
        QString lra;
    } cases[] = {
        {R"({"lra_low_lufs":-30,"lra_high_lufs":-20})", QStringLiteral("-30.0 \u2013 -20.0 LU")},
        {R"({"lra_low_lufs":-30.5})", QStringLiteral("-30.5 \u2013  LU")},
        {R"({"lra_lu":6.3,"lra_low_lufs":-30,"lra_high_lufs":-20})", QStringLiteral("6.3 LU")},
        {R"({"lra_high_lufs":-20})", QString()},
        {R"({})", QString()},
    };
    for (const auto &c : cases) {
        const QByteArray report = QByteArray(R"({"loudness":)") + c.loudness + "}";
        EXPECT_EQ(row(section(sectionsOf(report), QStringLiteral("Loudness (EBU R128 / ITU-R BS.1770)")),
                      QStringLiteral("LRA")),
                  c.lra)
            << c.loudness;
    }
}

TEST(ReportFormat, NoSummaryWithoutStreamsAndLoudness)
{
    EXPECT_EQ(ReportSummary::line(AnalysisPayload::fromJSON(R"({"container":{"format_name":"wav"},"levels":{}})")),
              std::nullopt);
    EXPECT_EQ(ReportSummary::line(AnalysisPayload::fromJSON(R"({"loudness":{"integrated_lufs":-14.06}})")),
              std::optional<QString>(QStringLiteral("-14.1 LUFS")));
}

} // namespace

// The job status document with its analysis report: JobInfo::fromJSON (strict members, tolerant
// numbers and tags under snake-case key conversion). The report is only ever decoded by the
// program, so this target writes a decoded document back itself, in the service's spelling,
// and checks that it decodes to the same value.
//
// Numbers beyond a double's range: every "!" outside a string is replaced by one (the byte after
// it picks which: too large, too large and negative, 400 digits, or below the smallest step),
// at whatever depth it stands. Such a number must cost no more than its own value, so the
// document decodes exactly as it does with a value every field reads alike in its place:
// [true] for one too large (a strict member refuses both, a tolerant one reads neither, a tag
// shows neither), 0 for one too small.
#include "analysis/JobInfo.h"
#include "fuzz/FuzzSupport.h"
#include "service/JsonFields.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>

using namespace vorlik::analysis;
using vorlik::service::DecodingError;

namespace {

class Writer {
public:
    Writer &text(const char *key, const std::optional<QString> &value)
    {
        if (value)
            m_object.insert(QLatin1String(key), *value);
        return *this;
    }
    Writer &number(const char *key, const std::optional<double> &value)
    {
        if (value)
            m_object.insert(QLatin1String(key), *value);
        return *this;
    }
    // A tolerant value without a usable number is written as a string that reads as none.
    Writer &loose(const char *key, const std::optional<LooseDouble> &value)
    {
        if (value)
            m_object.insert(QLatin1String(key), value->value ? QJsonValue(*value->value) : QJsonValue(QString()));
        return *this;
    }
    Writer &loose(const char *key, const std::optional<LooseInt> &value)
    {
        if (value)
            m_object.insert(QLatin1String(key), value->value ? QJsonValue(*value->value) : QJsonValue(QString()));
        return *this;
    }
    Writer &loose(const char *key, const std::optional<LooseTags> &value)
    {
        if (!value)
            return *this;
        QJsonObject tags;
        for (auto it = value->values.cbegin(); it != value->values.cend(); ++it)
            tags.insert(it.key(), it.value());
        m_object.insert(QLatin1String(key), tags);
        return *this;
    }
    Writer &object(const char *key, const std::optional<QJsonObject> &value)
    {
        if (value)
            m_object.insert(QLatin1String(key), *value);
        return *this;
    }
    template <typename Record, typename Write>
    Writer &list(const char *key, const std::optional<QList<Record>> &records, Write write)
    {
        if (!records)
            return *this;
        QJsonArray array;
        for (const Record &record : *records)
            array.append(write(record));
        m_object.insert(QLatin1String(key), array);
        return *this;
    }
    QJsonObject done() const { return m_object; }

private:
    QJsonObject m_object;
};

template <typename Record, typename Write>
std::optional<QJsonObject> written(const std::optional<Record> &record, Write write)
{
    return record ? std::optional<QJsonObject>(write(*record)) : std::nullopt;
}

QJsonObject stream(const AnalysisStream &s)
{
    return Writer()
        .loose("index", s.index).text("codec_type", s.codecType).text("codec_name", s.codecName)
        .text("codec_long_name", s.codecLongName).text("codec_tag_string", s.codecTagString)
        .loose("sample_rate_hz", s.sampleRateHz).loose("channels", s.channels).text("channel_layout", s.channelLayout)
        .text("sample_fmt", s.sampleFmt).loose("bits_per_sample", s.bitsPerSample)
        .loose("bits_per_raw_sample", s.bitsPerRawSample).loose("bit_depth", s.bitDepth)
        .loose("bit_rate_bps", s.bitRateBps).loose("effective_bit_rate_bps", s.effectiveBitRateBps)
        .loose("duration_sec", s.durationSec).text("duration_hms", s.durationHms).text("language", s.language)
        .text("title", s.title).loose("tags", s.tags)
        .done();
}

QJsonObject chapter(const AnalysisChapter &c)
{
    return Writer()
        .loose("id", c.id).loose("start_sec", c.startSec).loose("end_sec", c.endSec).text("start_hms", c.startHms)
        .text("end_hms", c.endHms).text("title", c.title)
        .done();
}

QJsonObject payload(const AnalysisPayload &p)
{
    return Writer()
        .text("workflow", p.workflow)
        .text("generated_at", p.generatedAt)
        .object("file", written(p.file, [](const AnalysisFileInfo &f) { return Writer().text("name", f.name).done(); }))
        .object("engine", written(p.engine, [](const AnalysisEngineInfo &e) {
                    return Writer().text("ffprobe", e.ffprobe).text("ffmpeg", e.ffmpeg)
                        .text("measurement_backend", e.measurementBackend).done();
                }))
        .object("container", written(p.container, [](const AnalysisContainer &c) {
                    return Writer()
                        .text("format_name", c.formatName).text("format_long_name", c.formatLongName)
                        .text("display_name", c.displayName).loose("duration_sec", c.durationSec)
                        .text("duration_hms", c.durationHms).loose("bit_rate_bps", c.bitRateBps)
                        .loose("size_bytes", c.sizeBytes).loose("nb_streams", c.nbStreams)
                        .loose("probe_score", c.probeScore).loose("tags", c.tags)
                        .done();
                }))
        .list("audio_streams", p.audioStreams, stream)
        .list("other_streams", p.otherStreams, stream)
        .list("chapters", p.chapters, chapter)
        .object("levels", written(p.levels, [](const AnalysisLevels &l) {
                    return Writer()
                        .number("peak_dbfs", l.peakDbfs).number("astats_peak_dbfs", l.astatsPeakDbfs)
                        .number("rms_dbfs", l.rmsDbfs).number("noise_floor_dbfs", l.noiseFloorDbfs)
                        .number("flat_factor", l.flatFactor).loose("peak_count", l.peakCount)
                        .loose("sample_count", l.sampleCount)
                        .done();
                }))
        .object("loudness", written(p.loudness, [](const AnalysisLoudness &l) {
                    return Writer()
                        .number("integrated_lufs", l.integratedLufs).number("threshold_lufs", l.thresholdLufs)
                        .number("lra_lu", l.lraLu).number("lra_low_lufs", l.lraLowLufs)
                        .number("lra_high_lufs", l.lraHighLufs).number("true_peak_dbfs", l.truePeakDbfs)
                        .number("max_short_term_lufs", l.maxShortTermLufs)
                        .number("max_momentary_lufs", l.maxMomentaryLufs)
                        .done();
                }))
        .done();
}

struct Spliced {
    QByteArray numbers;    // with the numbers no double holds
    QByteArray equivalent; // with what every field must read the same way
};

Spliced splice(const QByteArray &json)
{
    static const QByteArray digits(400, '9');
    static const QByteArray tooLarge[] = {"1e309", "-1e400", digits, "-" + digits, "1E+99999"};
    // A splice that touches a number would make another number of both: such a "!" stays.
    const auto numberPart = [&](qsizetype at) {
        if (at < 0 || at >= json.size())
            return false;
        const char c = json.at(at);
        return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
    };
    Spliced out;
    bool inString = false;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json.at(i);
        if (inString || c != '!' || numberPart(i - 1) || numberPart(i + 2)) {
            if (inString && c == '\\' && i + 1 < json.size()) {
                out.numbers.append(json.mid(i, 2));
                out.equivalent.append(json.mid(i, 2));
                ++i;
                continue;
            }
            if (c == '"')
                inString = !inString;
            out.numbers.append(c);
            out.equivalent.append(c);
            continue;
        }
        const int pick = i + 1 < json.size() ? static_cast<unsigned char>(json.at(++i) - '0') % 7 : 0;
        if (pick < 5) {
            out.numbers.append(tooLarge[pick]);
            out.equivalent.append("[true]");
        } else {
            out.numbers.append(pick == 5 ? "1e-400" : "-2e-999");
            out.equivalent.append("0");
        }
    }
    return out;
}

std::optional<JobInfo> decoded(const QByteArray &json)
{
    try {
        return JobInfo::fromJSON(json);
    } catch (const DecodingError &error) {
        FUZZ_CHECK(!error.description().isEmpty(), QString::fromUtf8(json));
    }
    return std::nullopt;
}

QByteArray document(const JobInfo &job)
{
    const QJsonObject object = Writer()
                                   .text("status", job.status)
                                   .text("error_summary", job.errorSummary)
                                   .object("analysis", written(job.analysis, payload))
                                   .text("output_report", job.outputReport)
                                   .done();
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Spliced spliced = splice(vorlik::fuzz::bytes(data, size));
    const QByteArray &json = spliced.numbers;
    const std::optional<JobInfo> decodedJob = decoded(json);
    const std::optional<JobInfo> equivalent = decoded(spliced.equivalent);
    FUZZ_CHECK(decodedJob.has_value() == equivalent.has_value() && (!decodedJob || *decodedJob == *equivalent),
               QString::fromUtf8(json) + QStringLiteral(" against ") + QString::fromUtf8(spliced.equivalent));
    if (!decodedJob)
        return 0;
    const JobInfo &job = *decodedJob;
    FUZZ_CHECK(!job.isCompleted() || job.isTerminal(), job.status.value_or(QString()));
    // Tolerant numbers hold finite values only.
    if (job.analysis && job.analysis->container && job.analysis->container->durationSec
        && job.analysis->container->durationSec->value)
        FUZZ_CHECK(std::isfinite(*job.analysis->container->durationSec->value), QString::fromUtf8(json));

    if (vorlik::fuzz::escapesSurrogate(json))
        return 0;
    const QByteArray written = document(job);
    JobInfo again;
    try {
        again = JobInfo::fromJSON(written);
    } catch (const DecodingError &error) {
        vorlik::fuzz::fail("written job decodes", error.description() + QStringLiteral(" in ") + QString::fromUtf8(written));
    }
    FUZZ_CHECK(again == job, QString::fromUtf8(json) + QStringLiteral(" written as ") + QString::fromUtf8(written));
    return 0;
}

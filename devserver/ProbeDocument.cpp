#include "devserver/ProbeDocument.h"

#include <QJsonValue>

#include <cmath>

namespace vorlik::devserver {

namespace {

// ffprobe writes most numbers as strings; either form is read here.
std::optional<double> number(const QJsonValue &value)
{
    if (value.isDouble())
        return value.toDouble();
    if (!value.isString())
        return std::nullopt;
    bool ok = false;
    const double parsed = value.toString().toDouble(&ok);
    return ok && std::isfinite(parsed) ? std::optional<double>(parsed) : std::nullopt;
}

void copy(QJsonObject &to, const QString &key, const QJsonValue &value)
{
    if (!value.isUndefined() && !value.isNull())
        to.insert(key, value);
}

// A tag whose name matches case-insensitively (containers spell "TITLE", "title", "Title").
std::optional<QString> tag(const QJsonObject &tags, const QString &name)
{
    for (auto it = tags.begin(); it != tags.end(); ++it)
        if (it.key().compare(name, Qt::CaseInsensitive) == 0 && it.value().isString())
            return it.value().toString();
    return std::nullopt;
}

void addDuration(QJsonObject &to, const QJsonValue &duration)
{
    copy(to, QStringLiteral("duration_sec"), duration);
    if (const auto seconds = number(duration))
        if (const auto text = ProbeDocument::hms(*seconds))
            to.insert(QStringLiteral("duration_hms"), *text);
}

QJsonObject describeStream(const QJsonObject &stream, const std::optional<QJsonValue> &containerBitRate)
{
    QJsonObject out;
    copy(out, QStringLiteral("index"), stream.value(QStringLiteral("index")));
    copy(out, QStringLiteral("codec_type"), stream.value(QStringLiteral("codec_type")));
    copy(out, QStringLiteral("codec_name"), stream.value(QStringLiteral("codec_name")));
    copy(out, QStringLiteral("codec_long_name"), stream.value(QStringLiteral("codec_long_name")));
    copy(out, QStringLiteral("codec_tag_string"), stream.value(QStringLiteral("codec_tag_string")));
    const QJsonObject tags = stream.value(QStringLiteral("tags")).toObject();
    if (stream.value(QStringLiteral("codec_type")).toString() == QStringLiteral("audio")) {
        copy(out, QStringLiteral("sample_rate_hz"), stream.value(QStringLiteral("sample_rate")));
        copy(out, QStringLiteral("channels"), stream.value(QStringLiteral("channels")));
        copy(out, QStringLiteral("channel_layout"), stream.value(QStringLiteral("channel_layout")));
        copy(out, QStringLiteral("sample_fmt"), stream.value(QStringLiteral("sample_fmt")));
        copy(out, QStringLiteral("bits_per_sample"), stream.value(QStringLiteral("bits_per_sample")));
        copy(out, QStringLiteral("bits_per_raw_sample"), stream.value(QStringLiteral("bits_per_raw_sample")));
        // The depth the samples really carry: the raw depth when the codec states one (FLAC,
        // PCM), else the stored sample size; lossy codecs have neither and get no depth.
        const double raw = number(stream.value(QStringLiteral("bits_per_raw_sample"))).value_or(0);
        const double stored = number(stream.value(QStringLiteral("bits_per_sample"))).value_or(0);
        if (raw > 0)
            out.insert(QStringLiteral("bit_depth"), qint64(raw));
        else if (stored > 0)
            out.insert(QStringLiteral("bit_depth"), qint64(stored));
    }
    const QJsonValue bitRate = stream.value(QStringLiteral("bit_rate"));
    copy(out, QStringLiteral("bit_rate_bps"), bitRate);
    if (!bitRate.isUndefined())
        copy(out, QStringLiteral("effective_bit_rate_bps"), bitRate);
    else if (containerBitRate)
        copy(out, QStringLiteral("effective_bit_rate_bps"), *containerBitRate);
    addDuration(out, stream.value(QStringLiteral("duration")));
    if (const auto language = tag(tags, QStringLiteral("language")))
        out.insert(QStringLiteral("language"), *language);
    if (const auto title = tag(tags, QStringLiteral("title")))
        out.insert(QStringLiteral("title"), *title);
    if (!tags.isEmpty())
        out.insert(QStringLiteral("tags"), tags);
    return out;
}

} // namespace

std::optional<QString> ProbeDocument::hms(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0 || seconds > 1e9)
        return std::nullopt;
    const qint64 millis = std::llround(seconds * 1000);
    return QStringLiteral("%1:%2:%3.%4")
        .arg(millis / 3600000, 2, 10, QLatin1Char('0'))
        .arg(millis / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(millis / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(millis % 1000, 3, 10, QLatin1Char('0'));
}

std::optional<QString> ProbeDocument::displayName(const QString &formatName)
{
    static const QList<std::pair<QString, QString>> names{
        {QStringLiteral("wav"), QStringLiteral("WAV")},
        {QStringLiteral("w64"), QStringLiteral("Wave64")},
        {QStringLiteral("aiff"), QStringLiteral("AIFF")},
        {QStringLiteral("flac"), QStringLiteral("FLAC")},
        {QStringLiteral("mp3"), QStringLiteral("MP3")},
        {QStringLiteral("ogg"), QStringLiteral("Ogg")},
        {QStringLiteral("mov,mp4,m4a,3gp,3g2,mj2"), QStringLiteral("MPEG-4 / QuickTime")},
        {QStringLiteral("matroska,webm"), QStringLiteral("Matroska / WebM")},
        {QStringLiteral("aac"), QStringLiteral("ADTS AAC")},
        {QStringLiteral("caf"), QStringLiteral("Core Audio Format")},
        {QStringLiteral("asf"), QStringLiteral("ASF / WMA")},
    };
    for (const auto &[name, shown] : names)
        if (name == formatName)
            return shown;
    return std::nullopt;
}

ProbeDocument ProbeDocument::fromProbe(const QJsonObject &probe)
{
    ProbeDocument document;
    const QJsonObject format = probe.value(QStringLiteral("format")).toObject();
    const QJsonArray streams = probe.value(QStringLiteral("streams")).toArray();

    copy(document.container, QStringLiteral("format_name"), format.value(QStringLiteral("format_name")));
    copy(document.container, QStringLiteral("format_long_name"), format.value(QStringLiteral("format_long_name")));
    if (const auto shown = displayName(format.value(QStringLiteral("format_name")).toString()))
        document.container.insert(QStringLiteral("display_name"), *shown);
    addDuration(document.container, format.value(QStringLiteral("duration")));
    copy(document.container, QStringLiteral("bit_rate_bps"), format.value(QStringLiteral("bit_rate")));
    copy(document.container, QStringLiteral("size_bytes"), format.value(QStringLiteral("size")));
    copy(document.container, QStringLiteral("nb_streams"), format.value(QStringLiteral("nb_streams")));
    copy(document.container, QStringLiteral("probe_score"), format.value(QStringLiteral("probe_score")));
    copy(document.container, QStringLiteral("tags"), format.value(QStringLiteral("tags")));

    // A stream without a bit rate of its own (FLAC, Ogg) gets the container's when it is the
    // only stream, which is then its effective rate.
    std::optional<QJsonValue> containerBitRate;
    if (streams.size() == 1 && format.contains(QStringLiteral("bit_rate")))
        containerBitRate = format.value(QStringLiteral("bit_rate"));

    for (const QJsonValue &value : streams) {
        const QJsonObject stream = value.toObject();
        const bool audio = stream.value(QStringLiteral("codec_type")).toString() == QStringLiteral("audio");
        if (audio && document.audioStreams.isEmpty()) {
            document.channels = int(number(stream.value(QStringLiteral("channels"))).value_or(0));
            document.sampleRate = int(number(stream.value(QStringLiteral("sample_rate"))).value_or(0));
            document.channelLayout = stream.value(QStringLiteral("channel_layout")).toString();
        }
        (audio ? document.audioStreams : document.otherStreams).append(describeStream(stream, containerBitRate));
    }

    for (const QJsonValue &value : probe.value(QStringLiteral("chapters")).toArray()) {
        const QJsonObject chapter = value.toObject();
        QJsonObject out;
        copy(out, QStringLiteral("id"), chapter.value(QStringLiteral("id")));
        copy(out, QStringLiteral("start_sec"), chapter.value(QStringLiteral("start_time")));
        copy(out, QStringLiteral("end_sec"), chapter.value(QStringLiteral("end_time")));
        if (const auto start = number(chapter.value(QStringLiteral("start_time"))))
            if (const auto text = hms(*start))
                out.insert(QStringLiteral("start_hms"), *text);
        if (const auto end = number(chapter.value(QStringLiteral("end_time"))))
            if (const auto text = hms(*end))
                out.insert(QStringLiteral("end_hms"), *text);
        if (const auto title = tag(chapter.value(QStringLiteral("tags")).toObject(), QStringLiteral("title")))
            out.insert(QStringLiteral("title"), *title);
        document.chapters.append(out);
    }
    return document;
}

} // namespace vorlik::devserver

#include "devserver/ReportText.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QStringList>

#include <cmath>

namespace vorlik::devserver {

namespace {

class Writer {
public:
    void heading(const QString &title)
    {
        if (!m_text.isEmpty())
            m_text += QLatin1Char('\n');
        m_text += title + QLatin1Char('\n');
    }
    void row(const QString &label, const QString &value)
    {
        if (value.isEmpty())
            return;
        m_text += QStringLiteral("  ") + (label + QLatin1Char(':')).leftJustified(20) + value + QLatin1Char('\n');
    }
    void line(const QString &text) { m_text += text + QLatin1Char('\n'); }
    QByteArray bytes() const { return m_text.toUtf8(); }

private:
    QString m_text;
};

// A member as text: strings as they are, numbers in their shortest form.
QString plain(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 12);
    return {};
}

QString fixed(const QJsonValue &value, int digits, const QString &unit)
{
    bool ok = value.isDouble();
    double number = value.toDouble();
    if (value.isString())
        number = value.toString().toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return {};
    return QString::number(number, 'f', digits) + unit;
}

QString joined(const QStringList &parts)
{
    QStringList present;
    for (const QString &part : parts)
        if (!part.isEmpty())
            present << part;
    return present.join(QStringLiteral(" · "));
}

void stream(Writer &out, const QJsonObject &s)
{
    out.row(QStringLiteral("Codec"), joined({plain(s.value(QStringLiteral("codec_long_name"))),
                                             plain(s.value(QStringLiteral("codec_name")))}));
    out.row(QStringLiteral("Sample rate"), fixed(s.value(QStringLiteral("sample_rate_hz")), 0, QStringLiteral(" Hz")));
    QString channels = plain(s.value(QStringLiteral("channels")));
    const QString layout = plain(s.value(QStringLiteral("channel_layout")));
    if (!channels.isEmpty() && !layout.isEmpty())
        channels += QStringLiteral(" (") + layout + QLatin1Char(')');
    out.row(QStringLiteral("Channels"), channels);
    out.row(QStringLiteral("Sample format"), plain(s.value(QStringLiteral("sample_fmt"))));
    const QString depth = plain(s.value(QStringLiteral("bit_depth")));
    out.row(QStringLiteral("Bit depth"), depth.isEmpty() ? QString() : depth + QStringLiteral(" bits"));
    out.row(QStringLiteral("Bit rate"), fixed(s.value(QStringLiteral("bit_rate_bps")), 0, QStringLiteral(" b/s")));
    out.row(QStringLiteral("Duration"), plain(s.value(QStringLiteral("duration_hms"))));
    out.row(QStringLiteral("Language"), plain(s.value(QStringLiteral("language"))));
    out.row(QStringLiteral("Title"), plain(s.value(QStringLiteral("title"))));
}

} // namespace

QByteArray ReportText::render(const QJsonObject &analysis)
{
    Writer out;
    out.line(QStringLiteral("Vorlik audio analysis report"));
    out.row(QStringLiteral("File"), plain(analysis.value(QStringLiteral("file")).toObject().value(QStringLiteral("name"))));
    out.row(QStringLiteral("Workflow"), plain(analysis.value(QStringLiteral("workflow"))));
    out.row(QStringLiteral("Generated"), plain(analysis.value(QStringLiteral("generated_at"))));

    const QJsonObject container = analysis.value(QStringLiteral("container")).toObject();
    out.heading(QStringLiteral("Container"));
    out.row(QStringLiteral("Type"), joined({plain(container.value(QStringLiteral("format_long_name"))),
                                            plain(container.value(QStringLiteral("format_name")))}));
    out.row(QStringLiteral("Duration"), joined({plain(container.value(QStringLiteral("duration_hms"))),
                                                fixed(container.value(QStringLiteral("duration_sec")), 3, QStringLiteral(" s"))}));
    out.row(QStringLiteral("Size"), fixed(container.value(QStringLiteral("size_bytes")), 0, QStringLiteral(" bytes")));
    out.row(QStringLiteral("Overall bit rate"), fixed(container.value(QStringLiteral("bit_rate_bps")), 0, QStringLiteral(" b/s")));
    out.row(QStringLiteral("Streams"), plain(container.value(QStringLiteral("nb_streams"))));

    const QJsonArray audio = analysis.value(QStringLiteral("audio_streams")).toArray();
    for (qsizetype i = 0; i < audio.size(); ++i) {
        const QJsonObject s = audio.at(i).toObject();
        const QJsonValue index = s.value(QStringLiteral("index"));
        out.heading(QStringLiteral("Audio stream #") + (index.isDouble() ? plain(index) : QString::number(i)));
        stream(out, s);
    }
    const QJsonArray other = analysis.value(QStringLiteral("other_streams")).toArray();
    if (!other.isEmpty()) {
        out.heading(QStringLiteral("Other streams"));
        for (const QJsonValue &value : other) {
            const QJsonObject s = value.toObject();
            out.row(plain(s.value(QStringLiteral("codec_type"))) + QLatin1Char(' ') + plain(s.value(QStringLiteral("index"))),
                    joined({plain(s.value(QStringLiteral("codec_long_name"))), plain(s.value(QStringLiteral("codec_name")))}));
        }
    }
    const QJsonObject tags = container.value(QStringLiteral("tags")).toObject();
    if (!tags.isEmpty()) {
        out.heading(QStringLiteral("Metadata"));
        for (auto it = tags.begin(); it != tags.end(); ++it)
            out.row(it.key(), plain(it.value()));
    }
    const QJsonArray chapters = analysis.value(QStringLiteral("chapters")).toArray();
    if (!chapters.isEmpty()) {
        out.heading(QStringLiteral("Chapters"));
        for (qsizetype i = 0; i < chapters.size(); ++i) {
            const QJsonObject c = chapters.at(i).toObject();
            out.row(QStringLiteral("Chapter ") + QString::number(i),
                    plain(c.value(QStringLiteral("start_hms"))) + QStringLiteral(" → ") + plain(c.value(QStringLiteral("end_hms")))
                        + QStringLiteral("  ") + plain(c.value(QStringLiteral("title"))));
        }
    }

    const QJsonObject levels = analysis.value(QStringLiteral("levels")).toObject();
    out.heading(QStringLiteral("Levels"));
    out.row(QStringLiteral("Peak level"), fixed(levels.value(QStringLiteral("peak_dbfs")), 2, QStringLiteral(" dBFS")));
    out.row(QStringLiteral("RMS level"), fixed(levels.value(QStringLiteral("rms_dbfs")), 2, QStringLiteral(" dBFS")));
    out.row(QStringLiteral("Noise floor"), fixed(levels.value(QStringLiteral("noise_floor_dbfs")), 2, QStringLiteral(" dBFS")));
    out.row(QStringLiteral("Flat factor"), fixed(levels.value(QStringLiteral("flat_factor")), 2, QString()));
    out.row(QStringLiteral("Peak count"), plain(levels.value(QStringLiteral("peak_count"))));
    out.row(QStringLiteral("Samples"), plain(levels.value(QStringLiteral("sample_count"))));

    const QJsonObject loudness = analysis.value(QStringLiteral("loudness")).toObject();
    out.heading(QStringLiteral("Loudness (EBU R128 / ITU-R BS.1770)"));
    out.row(QStringLiteral("Integrated"), fixed(loudness.value(QStringLiteral("integrated_lufs")), 1, QStringLiteral(" LUFS")));
    out.row(QStringLiteral("Threshold"), fixed(loudness.value(QStringLiteral("threshold_lufs")), 1, QStringLiteral(" LUFS")));
    QString range = fixed(loudness.value(QStringLiteral("lra_lu")), 1, QStringLiteral(" LU"));
    if (!range.isEmpty())
        range += QStringLiteral(" (") + fixed(loudness.value(QStringLiteral("lra_low_lufs")), 1, QString()) + QStringLiteral(" – ")
            + fixed(loudness.value(QStringLiteral("lra_high_lufs")), 1, QStringLiteral(" LUFS)"));
    out.row(QStringLiteral("Loudness range"), range);
    out.row(QStringLiteral("True peak"), fixed(loudness.value(QStringLiteral("true_peak_dbfs")), 1, QStringLiteral(" dBTP")));
    out.row(QStringLiteral("Max short-term"), fixed(loudness.value(QStringLiteral("max_short_term_lufs")), 1, QStringLiteral(" LUFS")));
    out.row(QStringLiteral("Max momentary"), fixed(loudness.value(QStringLiteral("max_momentary_lufs")), 1, QStringLiteral(" LUFS")));

    const QJsonObject engine = analysis.value(QStringLiteral("engine")).toObject();
    out.heading(QStringLiteral("Engine"));
    out.row(QStringLiteral("ffprobe"), plain(engine.value(QStringLiteral("ffprobe"))));
    out.row(QStringLiteral("ffmpeg"), plain(engine.value(QStringLiteral("ffmpeg"))));
    out.row(QStringLiteral("Measurement"), plain(engine.value(QStringLiteral("measurement_backend"))));
    return out.bytes();
}

} // namespace vorlik::devserver

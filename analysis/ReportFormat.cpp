#include "analysis/ReportFormat.h"

#include <QStringList>

#include <cmath>
#include <cstdio>
#include <locale.h>

namespace vorlik::analysis {
namespace {

const QString separator = QStringLiteral(" \u00B7 ");

std::optional<double> valueOf(const std::optional<LooseDouble> &loose)
{
    return loose ? loose->value : std::nullopt;
}

std::optional<qint64> valueOf(const std::optional<LooseInt> &loose)
{
    return loose ? loose->value : std::nullopt;
}

QString integerText(const std::optional<LooseInt> &loose)
{
    const std::optional<qint64> value = valueOf(loose);
    return value ? QString::number(*value) : QString();
}

// The texts that are present, joined with " · ".
QString joinPresent(std::initializer_list<const std::optional<QString> *> parts)
{
    QStringList present;
    for (const std::optional<QString> *part : parts) {
        if (*part)
            present << **part;
    }
    return present.join(separator);
}

QString duration(const std::optional<QString> &hms, const std::optional<LooseDouble> &seconds)
{
    return hms ? *hms : ReportFormat::fmt(seconds, QStringLiteral(" s"), 2);
}

ReportSection containerSection(const AnalysisContainer &container)
{
    ReportSection section{QStringLiteral("Container"), {}};
    const QString type = container.displayName ? *container.displayName
                                               : joinPresent({&container.formatLongName, &container.formatName});
    section.rows = {
        {QStringLiteral("Type"), type},
        {QStringLiteral("Duration"), duration(container.durationHms, container.durationSec)},
        {QStringLiteral("Size"), ReportFormat::fmtBytes(container.sizeBytes)},
        {QStringLiteral("Overall bit rate"), ReportFormat::fmt(container.bitRateBps, QStringLiteral(" b/s"), 0)},
        {QStringLiteral("Streams"), integerText(container.nbStreams)},
    };
    return section;
}

ReportSection audioStreamSection(const AnalysisStream &stream, qsizetype position)
{
    const std::optional<qint64> index = valueOf(stream.index);
    ReportSection section{QStringLiteral("Audio Stream #") + QString::number(index ? *index : position), {}};
    const QString codec = stream.codecLongName ? *stream.codecLongName : stream.codecName.value_or(QString());
    const std::optional<qint64> bitDepth = valueOf(stream.bitDepth);
    const bool hasBitRate = valueOf(stream.bitRateBps).has_value();
    section.rows = {
        {QStringLiteral("Codec"), codec},
        {QStringLiteral("Sample rate"), ReportFormat::fmt(stream.sampleRateHz, QStringLiteral(" Hz"), 0)},
        {QStringLiteral("Bit depth"), bitDepth ? QString::number(*bitDepth) + QStringLiteral(" bits") : QString()},
        {QStringLiteral("Channels"), ReportFormat::channelLabel(stream)},
        {QStringLiteral("Sample format"), stream.sampleFmt.value_or(QString())},
        {QStringLiteral("Bit rate"),
         ReportFormat::fmt(hasBitRate ? stream.bitRateBps : stream.effectiveBitRateBps, QStringLiteral(" b/s"), 0)},
        {QStringLiteral("Duration"), duration(stream.durationHms, stream.durationSec)},
    };
    if (stream.language)
        section.rows.append({QStringLiteral("Language"), *stream.language});
    if (stream.title)
        section.rows.append({QStringLiteral("Title"), *stream.title});
    return section;
}

ReportSection otherStreamsSection(const QList<AnalysisStream> &streams)
{
    ReportSection section{QStringLiteral("Other Streams"), {}};
    for (const AnalysisStream &stream : streams) {
        const std::optional<qint64> index = valueOf(stream.index);
        const QString label = stream.codecType.value_or(QStringLiteral("stream")) + u' '
                              + (index ? QString::number(*index) : QStringLiteral("?"));
        section.rows.append({label, joinPresent({&stream.codecLongName, &stream.codecName})});
    }
    return section;
}

ReportSection metadataSection(const LooseTags &tags)
{
    ReportSection section{QStringLiteral("Metadata"), {}};
    // A QMap walks its keys in ascending order.
    for (auto it = tags.values.cbegin(); it != tags.values.cend(); ++it)
        section.rows.append({it.key(), it.value()});
    return section;
}

ReportSection chaptersSection(const QList<AnalysisChapter> &chapters)
{
    ReportSection section{QStringLiteral("Chapters"), {}};
    const QString none = QStringLiteral("\u2014");
    for (qsizetype position = 0; position < chapters.size(); ++position) {
        const AnalysisChapter &chapter = chapters.at(position);
        const std::optional<qint64> id = valueOf(chapter.id);
        const QString label = QStringLiteral("Chapter ") + QString::number(id ? *id : position);
        const QString value = chapter.startHms.value_or(none) + QStringLiteral(" \u2192 ") + chapter.endHms.value_or(none)
                              + QStringLiteral("  ") + chapter.title.value_or(QString());
        section.rows.append({label, value});
    }
    return section;
}

ReportSection levelsSection(const AnalysisLevels &levels)
{
    return {QStringLiteral("Levels"),
            {
                {QStringLiteral("Peak level"), ReportFormat::fmt(levels.peakDbfs, QStringLiteral(" dBFS"), 2)},
                {QStringLiteral("RMS level"), ReportFormat::fmt(levels.rmsDbfs, QStringLiteral(" dBFS"), 2)},
            }};
}

QString loudnessRange(const AnalysisLoudness &loudness)
{
    if (loudness.lraLu)
        return ReportFormat::plainNumber(*loudness.lraLu) + QStringLiteral(" LU");
    if (loudness.lraLowLufs) {
        const QString high = loudness.lraHighLufs ? ReportFormat::plainNumber(*loudness.lraHighLufs) : QString();
        return ReportFormat::plainNumber(*loudness.lraLowLufs) + QStringLiteral(" \u2013 ") + high + QStringLiteral(" LU");
    }
    return {};
}

ReportSection loudnessSection(const AnalysisLoudness &loudness)
{
    const QString lufs = QStringLiteral(" LUFS");
    return {QStringLiteral("Loudness (EBU R128 / ITU-R BS.1770)"),
            {
                {QStringLiteral("Integrated"), ReportFormat::fmt(loudness.integratedLufs, lufs, 2)},
                {QStringLiteral("LRA"), loudnessRange(loudness)},
                {QStringLiteral("True peak"), ReportFormat::fmt(loudness.truePeakDbfs, QStringLiteral(" dBFS"), 2)},
                {QStringLiteral("Max short-term"), ReportFormat::fmt(loudness.maxShortTermLufs, lufs, 2)},
                {QStringLiteral("Max momentary"), ReportFormat::fmt(loudness.maxMomentaryLufs, lufs, 2)},
            }};
}

} // namespace

QString ReportFormat::printf(const char *format, double value)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const locale_t previous = uselocale(cLocale);
    char buffer[400]; // "%.2f" of the largest double is 312 characters
    const int written = std::snprintf(buffer, sizeof buffer, format, value);
    uselocale(previous);
    return written < 0 ? QString() : QString::fromLatin1(buffer, std::min<int>(written, int(sizeof buffer) - 1));
}

QString ReportFormat::fmt(std::optional<double> value, const QString &unit, int digits)
{
    if (!value)
        return {};
    const QByteArray format = "%." + QByteArray::number(digits) + 'f';
    return printf(format.constData(), *value) + unit;
}

QString ReportFormat::fmt(const std::optional<LooseDouble> &value, const QString &unit, int digits)
{
    return fmt(valueOf(value), unit, digits);
}

QString ReportFormat::fmtBytes(std::optional<double> value)
{
    if (!value)
        return {};
    if (*value < 1024)
        return printf("%.0f", *value) + QStringLiteral(" bytes");
    static const char *const units[] = {"KB", "MB", "GB"};
    double scaled = *value / 1024;
    int divisions = 1;
    while (scaled >= 1024 && divisions < 3) {
        scaled /= 1024;
        ++divisions;
    }
    return printf("%.1f", scaled) + u' ' + QLatin1String(units[divisions - 1]);
}

QString ReportFormat::fmtBytes(const std::optional<LooseDouble> &value)
{
    return fmtBytes(valueOf(value));
}

QString ReportFormat::plainNumber(double value)
{
    return shortestRoundTripText(value);
}

QString ReportFormat::channelLabel(const AnalysisStream &stream)
{
    const std::optional<qint64> channels = valueOf(stream.channels);
    if (!channels)
        return {};
    const QString count = QString::number(*channels);
    if (stream.channelLayout && !stream.channelLayout->isEmpty() && *stream.channelLayout != QLatin1String("unknown"))
        return count + QStringLiteral(" (") + *stream.channelLayout + u')';
    return count;
}

QString ReportFormat::shown(const QString &value)
{
    return value.isEmpty() ? QStringLiteral("\u2014") : value;
}

QList<ReportSection> ReportFormat::sections(const AnalysisPayload &report)
{
    QList<ReportSection> sections;
    if (report.container)
        sections.append(containerSection(*report.container));
    if (report.audioStreams) {
        for (qsizetype position = 0; position < report.audioStreams->size(); ++position)
            sections.append(audioStreamSection(report.audioStreams->at(position), position));
    }
    if (report.otherStreams && !report.otherStreams->isEmpty())
        sections.append(otherStreamsSection(*report.otherStreams));
    if (report.container && report.container->tags && !report.container->tags->values.isEmpty())
        sections.append(metadataSection(*report.container->tags));
    if (report.chapters && !report.chapters->isEmpty())
        sections.append(chaptersSection(*report.chapters));
    if (report.levels)
        sections.append(levelsSection(*report.levels));
    if (report.loudness)
        sections.append(loudnessSection(*report.loudness));
    return sections;
}

} // namespace vorlik::analysis

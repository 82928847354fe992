#include "analysis/ReportSummary.h"

#include "analysis/ReportFormat.h"

#include <QStringList>

namespace vorlik::analysis {

std::optional<QString> ReportSummary::line(const AnalysisPayload &report)
{
    QStringList parts;
    if (report.audioStreams && !report.audioStreams->isEmpty()) {
        const AnalysisStream &stream = report.audioStreams->front();
        if (stream.sampleRateHz && stream.sampleRateHz->value)
            parts << ReportFormat::printf("%.0f Hz", *stream.sampleRateHz->value);
        if (stream.channels && stream.channels->value)
            parts << QString::number(*stream.channels->value) + QStringLiteral(" ch");
        if (stream.bitDepth && stream.bitDepth->value)
            parts << QString::number(*stream.bitDepth->value) + QStringLiteral("-bit");
    }
    if (report.loudness && report.loudness->integratedLufs)
        parts << ReportFormat::printf("%.1f LUFS", *report.loudness->integratedLufs);
    if (parts.isEmpty())
        return std::nullopt;
    return parts.join(QStringLiteral(" \u00B7 "));
}

} // namespace vorlik::analysis

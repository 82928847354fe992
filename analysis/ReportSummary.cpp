#include "analysis/ReportSummary.h"

#include <QStringList>

#include <clocale>
#include <cstdio>
#include <locale.h>

namespace vorlik::analysis {
namespace {

// printf's own formatting (ties of exact binary values round to even: -16.25 gives -16.2), in
// the "C" locale so a user's decimal comma never changes the text.
QString printfFormat(const char *format, double value)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const locale_t previous = uselocale(cLocale);
    char buffer[400]; // "%.0f" of the largest double is 309 digits
    const int written = std::snprintf(buffer, sizeof buffer, format, value);
    uselocale(previous);
    return written < 0 ? QString() : QString::fromLatin1(buffer, std::min<int>(written, int(sizeof buffer) - 1));
}

} // namespace

std::optional<QString> ReportSummary::line(const AnalysisPayload &report)
{
    QStringList parts;
    if (report.audioStreams && !report.audioStreams->isEmpty()) {
        const AnalysisStream &stream = report.audioStreams->front();
        if (stream.sampleRateHz && stream.sampleRateHz->value)
            parts << printfFormat("%.0f Hz", *stream.sampleRateHz->value);
        if (stream.channels && stream.channels->value)
            parts << QString::number(*stream.channels->value) + QStringLiteral(" ch");
        if (stream.bitDepth && stream.bitDepth->value)
            parts << QString::number(*stream.bitDepth->value) + QStringLiteral("-bit");
    }
    if (report.loudness && report.loudness->integratedLufs)
        parts << printfFormat("%.1f LUFS", *report.loudness->integratedLufs);
    if (parts.isEmpty())
        return std::nullopt;
    return parts.join(QStringLiteral(" \u00B7 "));
}

} // namespace vorlik::analysis

#include "convert/LoudnessMeter.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace vorlik::convert {

QStringList LoudnessMeter::arguments(const QString &file)
{
    // The per-frame lines go to the verbose level, so the error stream holds the summary and
    // little else; -nostats keeps the progress line out of it.
    return {QStringLiteral("-hide_banner"), QStringLiteral("-nostdin"), QStringLiteral("-nostats"),
            QStringLiteral("-i"), file, QStringLiteral("-map"), QStringLiteral("0:a:0"),
            QStringLiteral("-af"), QStringLiteral("ebur128=peak=true:framelog=verbose"),
            QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")};
}

namespace {

// A value in the summary: a decimal number or "-inf" (nothing at all), before its unit.
std::optional<double> valueAfter(QStringView summary, const QString &label, const QString &unit)
{
    const QRegularExpression pattern(QStringLiteral("^\\s*") + QRegularExpression::escape(label)
                                         + QStringLiteral(":\\s+(-?inf|-?[0-9]+(?:\\.[0-9]+)?) ")
                                         + QRegularExpression::escape(unit) + QStringLiteral("\\s*$"),
                                     QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = pattern.match(summary.toString());
    if (!match.hasMatch())
        return std::nullopt;
    const QStringView number = match.capturedView(1);
    if (number.endsWith(QStringLiteral("inf")))
        return number.startsWith(u'-') ? -std::numeric_limits<double>::infinity()
                                       : std::numeric_limits<double>::infinity();
    return number.toDouble();
}

} // namespace

std::optional<Loudness> LoudnessMeter::parseSummary(const QString &ffmpegOutput)
{
    // The summary is the last thing the meter prints; its sections come in a fixed order, and a
    // label such as "Threshold" appears in two of them.
    const qsizetype start = ffmpegOutput.lastIndexOf(QStringLiteral("Summary:"));
    if (start < 0)
        return std::nullopt;
    const QStringView summary = QStringView(ffmpegOutput).sliced(start);
    const qsizetype range = summary.indexOf(QStringLiteral("Loudness range:"));
    const qsizetype peak = summary.indexOf(QStringLiteral("True peak:"));
    if (range < 0 || peak < range)
        return std::nullopt;
    const QStringView integratedPart = summary.first(range);
    const QStringView rangePart = summary.sliced(range, peak - range);
    const QStringView peakPart = summary.sliced(peak);

    const auto integrated = valueAfter(integratedPart, QStringLiteral("I"), QStringLiteral("LUFS"));
    const auto threshold = valueAfter(integratedPart, QStringLiteral("Threshold"), QStringLiteral("LUFS"));
    const auto loudnessRange = valueAfter(rangePart, QStringLiteral("LRA"), QStringLiteral("LU"));
    const auto truePeak = valueAfter(peakPart, QStringLiteral("Peak"), QStringLiteral("dBFS"));
    if (!integrated || !threshold || !loudnessRange || !truePeak || std::isnan(*integrated))
        return std::nullopt;
    return Loudness{*integrated, *truePeak, *loudnessRange, *threshold};
}

QCoro::Task<LoudnessReading> LoudnessMeter::measure(QString ffmpeg, QString file, CancellationToken cancellation,
                                                    std::function<void(QProcess &)> onProcess)
{
    QCoro::Task<ShellOutcome> running = ConvertRunner::runFFmpeg(ffmpeg, arguments(file), std::move(onProcess),
                                                                 cancellation);
    LoudnessReading reading;
    reading.outcome = co_await running;
    if (reading.outcome.isSuccess())
        reading.loudness = parseSummary(reading.outcome.stderrTail());
    co_return reading;
}

} // namespace vorlik::convert

#include "analysis/AnalysisProgress.h"

#include "analysis/ReportFormat.h"
#include "convert/ProgressText.h"

#include <algorithm>

namespace vorlik::analysis {

std::optional<double> AnalysisProgress::fraction() const
{
    if (stage != Stage::uploading)
        return std::nullopt;
    return total > 0 ? std::clamp(double(sent) / double(total), 0.0, 1.0) : 0.0;
}

QString AnalysisProgress::text(std::chrono::steady_clock::time_point now) const
{
    if (stage == Stage::uploading)
        return ReportFormat::fmtBytes(double(sent)) + QStringLiteral(" of ") + ReportFormat::fmtBytes(double(total));
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - since);
    return QStringLiteral("Analysing\u2026 ") + convert::ProgressText::clock(elapsed);
}

} // namespace vorlik::analysis

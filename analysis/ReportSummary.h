#pragma once
// The one-line summary of a report that an item shows under its name: from the first audio
// stream its sample rate, channel count and bit depth, then the integrated loudness, those that
// exist joined with " · " ("48000 Hz · 2 ch · 24-bit · -23.0 LUFS").
#include "analysis/AnalysisPayload.h"

#include <QString>

#include <optional>

namespace vorlik::analysis {

class ReportSummary {
public:
    // None when the report has none of these values.
    static std::optional<QString> line(const AnalysisPayload &report);
};

} // namespace vorlik::analysis

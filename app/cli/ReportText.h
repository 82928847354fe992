#pragma once
// An analysis report as plain text for a terminal or a file: the Analysis page's sections, labels
// and values (the one ReportFormat writes them for both), each section's title on its own line
// and its rows under it with the values in one aligned column; an empty value shows "—".
#include "analysis/AnalysisPayload.h"

#include <QString>

namespace vorlik::app {

struct ReportText {
    static QString render(const analysis::AnalysisPayload &report);
};

} // namespace vorlik::app

#include "app/cli/ReportText.h"

#include "analysis/ReportFormat.h"

#include <algorithm>

namespace vorlik::app {

using analysis::ReportFormat;
using analysis::ReportRow;
using analysis::ReportSection;

QString ReportText::render(const analysis::AnalysisPayload &report)
{
    const QList<ReportSection> sections = ReportFormat::sections(report);
    qsizetype labelWidth = 0;
    for (const ReportSection &section : sections) {
        for (const ReportRow &row : section.rows)
            labelWidth = std::max(labelWidth, row.label.size());
    }
    QString text;
    for (const ReportSection &section : sections) {
        text += QStringLiteral("  ") + section.title + u'\n';
        for (const ReportRow &row : section.rows)
            text += QStringLiteral("    ") + row.label.leftJustified(labelWidth + 2) + ReportFormat::shown(row.value) + u'\n';
    }
    return text;
}

} // namespace vorlik::app

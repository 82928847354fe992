#include "app/cli/ReportText.h"

#include "analysis/ReportFormat.h"

#include <algorithm>

namespace vorlik::app {

using analysis::ReportFormat;
using analysis::ReportRow;
using analysis::ReportSection;

QString ReportText::printable(QString text)
{
    for (QChar &c : text) {
        const char16_t code = c.unicode();
        if (code < 0x20 || (code >= 0x7f && code <= 0x9f))
            c = QChar(0xFFFD);
    }
    return text;
}

QString ReportText::render(const analysis::AnalysisPayload &report)
{
    const QList<ReportSection> sections = ReportFormat::sections(report);
    qsizetype labelWidth = 0;
    for (const ReportSection &section : sections) {
        for (const ReportRow &row : section.rows)
            labelWidth = std::max(labelWidth, printable(row.label).size());
    }
    QString text;
    for (const ReportSection &section : sections) {
        text += QStringLiteral("  ") + printable(section.title) + u'\n';
        for (const ReportRow &row : section.rows) {
            text += QStringLiteral("    ") + printable(row.label).leftJustified(labelWidth + 2)
                    + printable(ReportFormat::shown(row.value)) + u'\n';
        }
    }
    return text;
}

} // namespace vorlik::app

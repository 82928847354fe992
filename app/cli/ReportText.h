#pragma once
// An analysis report as plain text for a terminal or a file: the Analysis page's sections, labels
// and values (the one ReportFormat writes them for both), each section's title on its own line
// and its rows under it with the values in one aligned column; an empty value shows "—". The
// service's strings may hold control characters (an escape sequence, a carriage return, a line
// break): each is shown as U+FFFD, so the text never moves the terminal's cursor or adds a line.
#include "analysis/AnalysisPayload.h"

#include <QString>

namespace vorlik::app {

struct ReportText {
    static QString render(const analysis::AnalysisPayload &report);
    // `text` with each C0 and C1 control character and DEL replaced by U+FFFD.
    static QString printable(QString text);
};

} // namespace vorlik::app

#pragma once
// The report file a user saves: the analysis of one job as readable plain text (UTF-8, LF line
// ends), made from the same JSON report the job status carries.
#include <QByteArray>
#include <QJsonObject>

namespace vorlik::devserver {

class ReportText {
public:
    static QByteArray render(const QJsonObject &analysis);
};

} // namespace vorlik::devserver

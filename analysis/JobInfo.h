#pragma once
// The job status document the service answers for GET /v1/jobs/{id}. A value; every member is
// optional and read strictly under snake-case conversion, the report with its tolerant fields.
#include "analysis/AnalysisPayload.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace vorlik::analysis {

struct JobInfo {
    std::optional<QString> status;          // "status": compared after upper-casing
    std::optional<QString> errorSummary;    // "error_summary": one-line reason of a failed job
    std::optional<AnalysisPayload> analysis; // "analysis": present once the job completed
    std::optional<QString> outputReport;    // "output_report": kept, not used further
    // The "analysis" member as the service sent it (`vorlik analyse --json` prints it).
    std::optional<QJsonObject> analysisDocument;

    // COMPLETED, FAILED and CANCELLED end a job; any other status, or none, is still running.
    bool isTerminal() const;
    bool isCompleted() const;

    // Throws service::DecodingError naming the first problem (a wrong type anywhere, the report
    // included, fails the whole document).
    static JobInfo fromJSON(const QByteArray &json);
    static JobInfo decode(const KeyedObject &object);
    bool operator==(const JobInfo &) const = default;
};

} // namespace vorlik::analysis

#include "analysis/JobInfo.h"

namespace vorlik::analysis {

bool JobInfo::isTerminal() const
{
    if (!status)
        return false;
    const QString state = status->toUpper();
    return state == QLatin1String("COMPLETED") || state == QLatin1String("FAILED")
        || state == QLatin1String("CANCELLED");
}

bool JobInfo::isCompleted() const
{
    return status && status->toUpper() == QLatin1String("COMPLETED");
}

JobInfo JobInfo::decode(const KeyedObject &object)
{
    JobInfo info;
    info.status = object.text(QStringLiteral("status"));
    info.errorSummary = object.text(QStringLiteral("errorSummary"));
    info.analysis = object.record<AnalysisPayload>(QStringLiteral("analysis"));
    info.outputReport = object.text(QStringLiteral("outputReport"));
    if (info.analysis)
        info.analysisDocument = object.member(QStringLiteral("analysis")).toObject();
    return info;
}

JobInfo JobInfo::fromJSON(const QByteArray &json)
{
    return decode(KeyedObject(service::json::parseObject(json), QString()));
}

} // namespace vorlik::analysis

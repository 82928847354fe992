#include "analysis/RunnerError.h"

namespace vorlik::analysis {

RunnerError RunnerError::tooLarge(const QString &fileName)
{
    return RunnerError(tooLargeCode, fileName + QStringLiteral(" is larger than the 128 MiB upload limit."));
}

RunnerError RunnerError::pollTimeout()
{
    return RunnerError(pollTimeoutCode,
                       QStringLiteral("The analysis is taking longer than expected \u2014 Retry resumes the running job."));
}

} // namespace vorlik::analysis

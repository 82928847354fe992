#pragma once
// The analysis runner's own errors, in the "Vorlik" domain: a file over the upload limit
// (code 4) and a job that did not end within the polling time limit (code 2). The runner tells
// the time-out from every other failure by its code.
#include "platform/Failure.h"

#include <QString>

namespace vorlik::analysis {

class RunnerError : public Failure {
public:
    static constexpr int pollTimeoutCode = 2;
    static constexpr int tooLargeCode = 4;

    // NAME + " is larger than the 128 MiB upload limit."
    static RunnerError tooLarge(const QString &fileName);
    // "The analysis is taking longer than expected — Retry resumes the running job."
    static RunnerError pollTimeout();

    QString domain() const { return QStringLiteral("Vorlik"); }
    int code() const { return m_code; }

private:
    RunnerError(int code, const QString &description) : Failure(description), m_code(code) {}
    int m_code;
};

} // namespace vorlik::analysis

#pragma once
// How an ffmpeg run ended: success (exit status 0), or failure with the exit status (the signal
// number for a process ended by a signal, -1 when it could not be launched) and the tail of its
// error stream (the launch error's description when it could not be launched). A success keeps
// the tail too: a measuring run's findings are in it.
#include <QString>

namespace vorlik::convert {

class ShellOutcome {
public:
    // An outcome not yet known counts as a failed launch, never as success.
    ShellOutcome() : ShellOutcome(false, -1, {}) {}
    static ShellOutcome success(QString stderrTail = {}) { return ShellOutcome(true, 0, std::move(stderrTail)); }
    static ShellOutcome failure(qint32 exitCode, QString stderrTail)
    {
        return ShellOutcome(false, exitCode, std::move(stderrTail));
    }

    bool isSuccess() const { return m_success; }
    qint32 exitCode() const { return m_exitCode; }
    const QString &stderrTail() const { return m_stderrTail; }

    bool operator==(const ShellOutcome &) const = default;

private:
    ShellOutcome(bool success, qint32 exitCode, QString stderrTail)
        : m_success(success), m_exitCode(exitCode), m_stderrTail(std::move(stderrTail)) {}
    bool m_success;
    qint32 m_exitCode;
    QString m_stderrTail;
};

} // namespace vorlik::convert

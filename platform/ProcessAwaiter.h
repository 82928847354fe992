#pragma once
// co_await ProcessAwaiter(process): launches a prepared QProcess and suspends until it has ended
// or failed to launch. The caller resumes from the event loop, never from inside one of the
// process's own signals, so it may destroy the process right after. If the awaiting coroutine is
// destroyed first, nothing resumes it.
#include <QObject>
#include <QProcess>
#include <QString>

#include <coroutine>
#include <memory>
#include <optional>

namespace vorlik::platform {

struct ProcessEnd {
    bool launched = false;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = -1;     // the signal number when exitStatus is CrashExit
    QString launchError;   // when not launched

    bool succeeded() const { return launched && exitStatus == QProcess::NormalExit && exitCode == 0; }
};

class ProcessAwaiter {
public:
    explicit ProcessAwaiter(QProcess &process);
    ProcessAwaiter(ProcessAwaiter &&) noexcept;
    ~ProcessAwaiter();

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiting);
    ProcessEnd await_resume();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace vorlik::platform

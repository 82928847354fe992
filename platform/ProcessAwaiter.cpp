#include "platform/ProcessAwaiter.h"

#include <QMetaObject>

namespace vorlik::platform {

struct ProcessAwaiter::State {
    explicit State(QProcess &p) : process(p) {}
    QProcess &process;
    QObject context; // connections and the queued resumption die with the awaiter
    std::coroutine_handle<> waiting;
    std::optional<ProcessEnd> end;

    void finish(ProcessEnd result)
    {
        if (end)
            return;
        end = std::move(result);
        QObject::disconnect(&process, nullptr, &context, nullptr);
        QMetaObject::invokeMethod(&context, [handle = waiting] { handle.resume(); }, Qt::QueuedConnection);
    }
};

ProcessAwaiter::ProcessAwaiter(QProcess &process) : m_state(std::make_unique<State>(process)) {}
ProcessAwaiter::ProcessAwaiter(ProcessAwaiter &&) noexcept = default;
ProcessAwaiter::~ProcessAwaiter() = default;

void ProcessAwaiter::await_suspend(std::coroutine_handle<> waiting)
{
    State *state = m_state.get();
    state->waiting = waiting;
    QObject::connect(&state->process, &QProcess::finished, &state->context,
                     [state](int exitCode, QProcess::ExitStatus status) {
                         state->finish(ProcessEnd{true, status, exitCode, {}});
                     });
    // Only a failed launch ends the wait here; a crash is followed by finished.
    QObject::connect(&state->process, &QProcess::errorOccurred, &state->context,
                     [state](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart)
                             state->finish(ProcessEnd{false, QProcess::NormalExit, -1, state->process.errorString()});
                     });
    state->process.start();
}

ProcessEnd ProcessAwaiter::await_resume() { return m_state->end.value_or(ProcessEnd{}); }

} // namespace vorlik::platform

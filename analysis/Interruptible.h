#pragma once
// Waiting for a piece of work unless a stop comes first. The work itself is not torn down: it
// goes on by itself and its result is dropped, so a request that cannot be aborted (one sent
// through the shared request frame) still ends the wait at once. A stop that came before the
// wait ends it before it starts.
#include "platform/CancellationToken.h"
#include "platform/Failure.h"
#include "service/SharedOutcome.h"

#include <QCoroTask>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

namespace vorlik::analysis {

// The wait ended because of the stop. Its text never reaches the user: the runner marks the
// item "Stopped" instead.
class Interrupted : public Failure {
public:
    Interrupted() : Failure(QStringLiteral("Stopped.")) {}
};

namespace detail {

template <typename T>
using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

template <typename T>
struct Ending {
    std::optional<Value<T>> value;
    std::exception_ptr error;
};

template <typename T>
using EndingOutcome = service::SharedOutcome<std::shared_ptr<Ending<T>>>;

// Runs on by itself (the task is dropped by the caller) and reports how the work ended.
template <typename T>
QCoro::Task<void> report(QCoro::Task<T> work, std::shared_ptr<EndingOutcome<T>> outcome)
{
    auto ending = std::make_shared<Ending<T>>();
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(work);
            ending->value.emplace();
        } else {
            ending->value.emplace(co_await std::move(work));
        }
    } catch (...) {
        ending->error = std::current_exception();
    }
    outcome->set(ending);
}

} // namespace detail

// The work's result or error; Interrupted when `stop` is cancelled first.
template <typename T>
QCoro::Task<T> interruptible(QCoro::Task<T> work, platform::CancellationToken stop)
{
    auto outcome = std::make_shared<detail::EndingOutcome<T>>();
    if (stop.isCancelled())
        throw Interrupted();
    detail::report<T>(std::move(work), outcome);
    const platform::CancellationToken::Registration registration =
        stop.onCancel([outcome] { outcome->set(std::make_shared<detail::Ending<T>>()); });
    const std::shared_ptr<detail::Ending<T>> ending = co_await outcome->wait();
    if (ending->error)
        std::rethrow_exception(ending->error);
    if (!ending->value)
        throw Interrupted();
    if constexpr (!std::is_void_v<T>)
        co_return std::move(*ending->value);
}

} // namespace vorlik::analysis

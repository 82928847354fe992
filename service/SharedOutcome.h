#pragma once
// One result that any number of coroutines can wait for: each `co_await outcome.wait()`
// suspends until set() and then yields a copy of the value. Keep it in a shared_ptr when the
// setter may outlive the object that handed it out; each waiter holds its own reference.
#include <coroutine>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace vorlik::service {

template <typename T>
class SharedOutcome : public std::enable_shared_from_this<SharedOutcome<T>> {
public:
    class Awaiter {
    public:
        explicit Awaiter(std::shared_ptr<SharedOutcome> outcome) : m_outcome(std::move(outcome)) {}
        bool await_ready() const noexcept { return m_outcome->m_value.has_value(); }
        void await_suspend(std::coroutine_handle<> waiter) { m_outcome->m_waiters.push_back(waiter); }
        T await_resume() const { return *m_outcome->m_value; }

    private:
        std::shared_ptr<SharedOutcome> m_outcome;
    };

    bool isSet() const { return m_value.has_value(); }

    // Stores the value and resumes the waiters in the order they began to wait. Later calls
    // are ignored: an outcome is decided once.
    void set(T value)
    {
        if (m_value)
            return;
        m_value = std::move(value);
        const auto keepAlive = this->shared_from_this(); // a waiter may drop the last other reference
        std::vector<std::coroutine_handle<>> waiters = std::exchange(m_waiters, {});
        for (std::coroutine_handle<> waiter : waiters)
            waiter.resume();
    }

    // Must be called on an object owned by a shared_ptr.
    Awaiter wait() { return Awaiter(this->shared_from_this()); }

private:
    std::optional<T> m_value;
    std::vector<std::coroutine_handle<>> m_waiters;
};

} // namespace vorlik::service

#pragma once
// One flag that every wait in the server watches, so a stop never waits out a delay.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vorlik::devserver {

class StopSignal {
public:
    void raise()
    {
        {
            std::lock_guard guard(m_lock);
            m_raised = true;
        }
        m_changed.notify_all();
    }

    bool raised() const
    {
        std::lock_guard guard(m_lock);
        return m_raised;
    }

    // Waits up to `duration`; true when the stop came first.
    template <typename Rep, typename Period>
    bool waitFor(std::chrono::duration<Rep, Period> duration) const
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, duration, [this] { return m_raised; });
    }

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    bool m_raised = false;
};

} // namespace vorlik::devserver

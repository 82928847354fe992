#pragma once
// A stop request shared between a task and whoever may stop it (the runner's stop command).
// Copies share one state. Work that can be interrupted registers an action; cancel() runs every
// registered action once, and an action registered after the cancel runs at once, so a stop that
// arrives early is never lost.
#include <QtGlobal>

#include <functional>
#include <memory>

namespace vorlik::platform {

class CancellationToken {
    struct State;

public:
    // Unregisters its action when destroyed.
    class Registration {
    public:
        Registration() = default;
        Registration(Registration &&other) noexcept;
        Registration &operator=(Registration &&other) noexcept;
        Registration(const Registration &) = delete;
        Registration &operator=(const Registration &) = delete;
        ~Registration();

    private:
        friend class CancellationToken;
        Registration(std::weak_ptr<State> state, quint64 id) : m_state(std::move(state)), m_id(id) {}
        std::weak_ptr<State> m_state;
        quint64 m_id = 0;
    };

    CancellationToken();

    void cancel() const;
    bool isCancelled() const;
    [[nodiscard]] Registration onCancel(std::function<void()> action) const;

private:
    std::shared_ptr<State> m_state;
};

} // namespace vorlik::platform

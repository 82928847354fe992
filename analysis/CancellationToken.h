#pragma once
// A stop request shared between an analysis call and whoever may stop it (the runner's stop
// command). Copies share one state; main thread only. Work that can be interrupted registers an
// action for as long as it runs; cancel() runs the registered actions once, and an action
// registered after the cancel runs at once, so an early stop is never lost.
#include <QtGlobal>

#include <functional>
#include <map>
#include <memory>

namespace vorlik::analysis {

class CancellationToken {
    struct State {
        bool cancelled = false;
        quint64 nextID = 1;
        std::map<quint64, std::function<void()>> actions;
    };

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
        void release();
        std::weak_ptr<State> m_state;
        quint64 m_id = 0;
    };

    CancellationToken();

    void cancel() const;
    bool isCancelled() const { return m_state->cancelled; }
    [[nodiscard]] Registration onCancel(std::function<void()> action) const;

private:
    std::shared_ptr<State> m_state;
};

} // namespace vorlik::analysis

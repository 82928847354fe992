#include "platform/CancellationToken.h"

#include <QtGlobal>

#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace vorlik::platform {

struct CancellationToken::State {
    std::mutex lock;
    bool cancelled = false;
    quint64 nextID = 1;
    std::map<quint64, std::function<void()>> actions;

    void remove(quint64 id)
    {
        std::lock_guard guard(lock);
        actions.erase(id);
    }
};

CancellationToken::CancellationToken() : m_state(std::make_shared<State>()) {}

void CancellationToken::cancel() const
{
    std::vector<std::function<void()>> toRun;
    {
        std::lock_guard guard(m_state->lock);
        if (m_state->cancelled)
            return;
        m_state->cancelled = true;
        for (auto &[id, action] : m_state->actions)
            toRun.push_back(std::move(action));
        m_state->actions.clear();
    }
    // Outside the lock: an action may register or unregister others.
    for (auto &action : toRun)
        action();
}

bool CancellationToken::isCancelled() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->cancelled;
}

CancellationToken::Registration CancellationToken::onCancel(std::function<void()> action) const
{
    {
        std::lock_guard guard(m_state->lock);
        if (!m_state->cancelled) {
            const quint64 id = m_state->nextID++;
            m_state->actions.emplace(id, std::move(action));
            return Registration(m_state, id);
        }
    }
    action();
    return {};
}

CancellationToken::Registration::Registration(Registration &&other) noexcept
    : m_state(std::move(other.m_state)), m_id(std::exchange(other.m_id, 0))
{
}

CancellationToken::Registration &CancellationToken::Registration::operator=(Registration &&other) noexcept
{
    if (this != &other) {
        if (auto state = m_state.lock(); state && m_id)
            state->remove(m_id);
        m_state = std::move(other.m_state);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

CancellationToken::Registration::~Registration()
{
    if (auto state = m_state.lock(); state && m_id)
        state->remove(m_id);
}

} // namespace vorlik::platform

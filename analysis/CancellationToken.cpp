#include "analysis/CancellationToken.h"

#include <utility>
#include <vector>

namespace vorlik::analysis {

CancellationToken::CancellationToken() : m_state(std::make_shared<State>()) {}

void CancellationToken::cancel() const
{
    if (m_state->cancelled)
        return;
    m_state->cancelled = true;
    // Taken out first: an action may register or unregister others while it runs.
    std::map<quint64, std::function<void()>> actions;
    actions.swap(m_state->actions);
    for (auto &[id, action] : actions)
        action();
}

CancellationToken::Registration CancellationToken::onCancel(std::function<void()> action) const
{
    if (m_state->cancelled) {
        action();
        return {};
    }
    const quint64 id = m_state->nextID++;
    m_state->actions.emplace(id, std::move(action));
    return Registration(m_state, id);
}

void CancellationToken::Registration::release()
{
    if (const std::shared_ptr<State> state = m_state.lock(); state && m_id)
        state->actions.erase(m_id);
    m_state.reset();
    m_id = 0;
}

CancellationToken::Registration::Registration(Registration &&other) noexcept
    : m_state(std::move(other.m_state)), m_id(std::exchange(other.m_id, 0))
{
}

CancellationToken::Registration &CancellationToken::Registration::operator=(Registration &&other) noexcept
{
    if (this != &other) {
        release();
        m_state = std::move(other.m_state);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

CancellationToken::Registration::~Registration() { release(); }

} // namespace vorlik::analysis

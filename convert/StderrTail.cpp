#include "convert/StderrTail.h"

#include "platform/Graphemes.h"

namespace vorlik::convert {

void StderrTail::append(const QString &chunk)
{
    if (chunk.isEmpty())
        return;
    std::lock_guard guard(m_lock);
    m_text += chunk;
    if (m_text.size() > limit)
        m_text = platform::Graphemes::suffix(m_text, limit);
}

QString StderrTail::text() const
{
    std::lock_guard guard(m_lock);
    return m_text;
}

} // namespace vorlik::convert

#include "devserver/RequestLog.h"

namespace vorlik::devserver {

std::shared_ptr<RequestLog::Entry> RequestLog::begin(const QJsonObject &fields)
{
    auto entry = std::make_shared<Entry>();
    entry->fields = fields;
    std::lock_guard guard(m_lock);
    m_entries.push_back(entry);
    return entry;
}

void RequestLog::keepBody(Entry &entry, const QByteArray &body)
{
    std::lock_guard guard(m_lock);
    entry.body = body;
    entry.bodyKept = true;
}

void RequestLog::clear()
{
    std::lock_guard guard(m_lock);
    m_entries.clear();
}

QJsonArray RequestLog::toJson() const
{
    std::lock_guard guard(m_lock);
    QJsonArray array;
    for (const auto &entry : m_entries) {
        QJsonObject object = entry->fields;
        object.insert(QStringLiteral("body_size"), entry->bodySize.load());
        if (entry->bodyKept)
            object.insert(QStringLiteral("body_base64"), QString::fromLatin1(entry->body.toBase64()));
        array.append(object);
    }
    return array;
}

} // namespace vorlik::devserver

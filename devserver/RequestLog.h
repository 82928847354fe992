#pragma once
// The log of every non-admin request since the last reset, oldest first, for tests to read
// what the client really sent (a captured body byte for byte).
#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace vorlik::devserver {

class RequestLog {
public:
    struct Entry {
        QJsonObject fields;            // method, path, query, headers
        std::atomic<qint64> bodySize{0};
        QByteArray body;               // set by keepBody() only; guarded by the log's lock
        bool bodyKept = false;
    };

    // Notes a request when it arrives; its body size is filled in once the body was read.
    std::shared_ptr<Entry> begin(const QJsonObject &fields);
    // Keeps the body of a request as it arrived (listed as "body_base64").
    void keepBody(Entry &entry, const QByteArray &body);
    void clear();
    QJsonArray toJson() const;

private:
    mutable std::mutex m_lock;
    std::vector<std::shared_ptr<Entry>> m_entries;
};

} // namespace vorlik::devserver

#pragma once
// A usage report the service has not accepted yet. It keeps the access token of its first
// attempt: retries send that token again, never a refreshed one.
#include <QString>

namespace vorlik::service {

struct PendingUsage {
    QString token;
    QString processKey; // the preset's id
    qint64 fileCount = 0;
    qint64 inputBytes = 0;
    QString filename;

    // Equal records are one report: the queue never holds two of them.
    friend bool operator==(const PendingUsage &, const PendingUsage &) = default;
};

} // namespace vorlik::service

#pragma once
// The usage count, kept in DATA/usage.json: every accepted report, written atomically after
// each one, so a restart (or a crash mid-write) never loses what was counted.
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <mutex>

namespace vorlik::devserver {

class UsageStore {
public:
    // Loads the file if it exists. A file that does not parse is moved aside (never overwritten)
    // and the count starts afresh; warning says so.
    explicit UsageStore(const QString &filePath, QString *warning = nullptr);

    // Appends a report and saves; returns the new total, or -1 (and error) when the save failed,
    // in which case the report is not counted.
    qint64 add(const QJsonObject &report, QString &error);
    QJsonObject toJson() const;   // {"total": N, "reports": [...]}

private:
    QString m_path;
    mutable std::mutex m_lock;
    QJsonArray m_reports;
};

} // namespace vorlik::devserver

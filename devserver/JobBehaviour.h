#pragma once
// How the next analysis jobs behave, for tests: a delay before they end, and an outcome other
// than a real analysis (an injected failure, or a job that stays RUNNING until released or
// cancelled). Queued like faults: the first behaviour with count left applies to a new job.
#include <QJsonObject>
#include <QString>

#include <mutex>
#include <optional>
#include <vector>

namespace vorlik::devserver {

struct JobBehaviour {
    enum class Outcome { complete, fail, hang };

    Outcome outcome = Outcome::complete;
    qint64 delayMs = 0;
    QString errorSummary = QStringLiteral("injected failure");
    int count = 1; // -1: every job until cleared

    // From the admin JSON object {"outcome","delay_ms","error_summary","count"}; sets error and
    // returns none when a member is wrong.
    static std::optional<JobBehaviour> fromJson(const QJsonObject &object, QString &error);
    QJsonObject toJson() const;
    static QString outcomeName(Outcome outcome);
};

class JobBehaviours {
public:
    // `defaultDelayMs` (the --job-delay-ms flag) applies to jobs no behaviour was set for.
    explicit JobBehaviours(qint64 defaultDelayMs) : m_defaultDelayMs(defaultDelayMs) {}

    void add(const JobBehaviour &behaviour);
    void clear();
    // The behaviour of a job starting now, with its count taken down by one.
    JobBehaviour take();
    std::vector<JobBehaviour> list() const;

private:
    const qint64 m_defaultDelayMs;
    mutable std::mutex m_lock;
    std::vector<JobBehaviour> m_behaviours;
};

} // namespace vorlik::devserver

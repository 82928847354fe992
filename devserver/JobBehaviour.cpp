#include "devserver/JobBehaviour.h"

#include <QJsonValue>

namespace vorlik::devserver {

namespace {

// A JSON number that is a whole number within [minimum, maximum].
std::optional<qint64> wholeNumber(const QJsonValue &value, qint64 minimum, qint64 maximum)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != double(qint64(number)) || number < double(minimum) || number > double(maximum))
        return std::nullopt;
    return qint64(number);
}

bool present(const QJsonValue &value) { return !value.isUndefined() && !value.isNull(); }

} // namespace

QString JobBehaviour::outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::complete: return QStringLiteral("complete");
    case Outcome::fail: return QStringLiteral("fail");
    case Outcome::hang: return QStringLiteral("hang");
    }
    return {};
}

std::optional<JobBehaviour> JobBehaviour::fromJson(const QJsonObject &object, QString &error)
{
    JobBehaviour behaviour;
    const QJsonValue outcome = object.value(QStringLiteral("outcome"));
    if (present(outcome)) {
        const QString name = outcome.toString();
        if (name == QStringLiteral("complete"))
            behaviour.outcome = Outcome::complete;
        else if (name == QStringLiteral("fail"))
            behaviour.outcome = Outcome::fail;
        else if (name == QStringLiteral("hang"))
            behaviour.outcome = Outcome::hang;
        else {
            error = QStringLiteral("\"outcome\" must be one of complete, fail, hang");
            return std::nullopt;
        }
    }
    const QJsonValue delay = object.value(QStringLiteral("delay_ms"));
    if (present(delay)) {
        const auto ms = wholeNumber(delay, 0, 24LL * 3600 * 1000);
        if (!ms) {
            error = QStringLiteral("\"delay_ms\" must be a whole number of milliseconds from 0 to one day");
            return std::nullopt;
        }
        behaviour.delayMs = *ms;
    }
    const QJsonValue summary = object.value(QStringLiteral("error_summary"));
    if (present(summary)) {
        if (!summary.isString()) {
            error = QStringLiteral("\"error_summary\" must be a string");
            return std::nullopt;
        }
        behaviour.errorSummary = summary.toString();
    }
    const QJsonValue count = object.value(QStringLiteral("count"));
    if (present(count)) {
        const auto n = wholeNumber(count, -1, 1000000);
        if (!n || *n == 0) {
            error = QStringLiteral("\"count\" must be a whole number >= 1, or -1 for every job");
            return std::nullopt;
        }
        behaviour.count = int(*n);
    }
    return behaviour;
}

QJsonObject JobBehaviour::toJson() const
{
    return QJsonObject{{QStringLiteral("outcome"), outcomeName(outcome)},
                       {QStringLiteral("delay_ms"), delayMs},
                       {QStringLiteral("error_summary"), errorSummary},
                       {QStringLiteral("count"), count}};
}

void JobBehaviours::add(const JobBehaviour &behaviour)
{
    std::lock_guard guard(m_lock);
    m_behaviours.push_back(behaviour);
}

void JobBehaviours::clear()
{
    std::lock_guard guard(m_lock);
    m_behaviours.clear();
}

JobBehaviour JobBehaviours::take()
{
    std::lock_guard guard(m_lock);
    if (m_behaviours.empty()) {
        JobBehaviour normal;
        normal.delayMs = m_defaultDelayMs;
        return normal;
    }
    JobBehaviour taken = m_behaviours.front();
    if (m_behaviours.front().count > 0 && --m_behaviours.front().count == 0)
        m_behaviours.erase(m_behaviours.begin());
    return taken;
}

std::vector<JobBehaviour> JobBehaviours::list() const
{
    std::lock_guard guard(m_lock);
    return m_behaviours;
}

} // namespace vorlik::devserver

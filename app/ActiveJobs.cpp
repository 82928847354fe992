#include "app/ActiveJobs.h"

#include "diagnostics/DiagnosticsLogger.h"

namespace vorlik::app {

ActiveJobs &ActiveJobs::shared()
{
    static auto *jobs = new ActiveJobs();
    return *jobs;
}

ActiveJobs::ActiveJobs(QObject *parent) : QObject(parent) {}

void ActiveJobs::begin(const QString &key)
{
    const bool added = !m_runningKeys.contains(key);
    m_runningKeys.insert(key);
    diagnostics::DiagnosticsLogger::shared().log(
        QStringLiteral("app"),
        QStringLiteral("active job started: %1 (now %2)").arg(key).arg(m_runningKeys.size()));
    if (added)
        emit runningKeysChanged();
}

void ActiveJobs::end(const QString &keyGiven)
{
    const QString key = keyGiven; // it may be the set's own element, which remove() frees
    const bool removed = m_runningKeys.remove(key);
    diagnostics::DiagnosticsLogger::shared().log(
        QStringLiteral("app"),
        QStringLiteral("active job ended: %1 (now %2)").arg(key).arg(m_runningKeys.size()));
    if (removed)
        emit runningKeysChanged();
}

} // namespace vorlik::app

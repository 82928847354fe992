#include "devserver/UsageStore.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

namespace vorlik::devserver {

UsageStore::UsageStore(const QString &filePath, QString *warning) : m_path(filePath)
{
    QFile file(m_path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    file.close();
    const QJsonValue reports = document.object().value(QStringLiteral("reports"));
    if (parseError.error == QJsonParseError::NoError && document.isObject() && reports.isArray()) {
        m_reports = reports.toArray();
        return;
    }
    const QString aside =
        m_path + QStringLiteral(".unreadable-") + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmss"));
    QFile::rename(m_path, aside);
    if (warning)
        *warning = m_path + QStringLiteral(" could not be read; kept as ") + aside + QStringLiteral(" and started afresh");
}

qint64 UsageStore::add(const QJsonObject &report, QString &error)
{
    std::lock_guard guard(m_lock);
    QJsonArray reports = m_reports;
    reports.append(report);
    const QJsonObject document{{QStringLiteral("total"), qint64(reports.size())}, {QStringLiteral("reports"), reports}};
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(document).toJson()) < 0 || !file.commit()) {
        error = QStringLiteral("could not save the usage count: ") + file.errorString();
        return -1;
    }
    m_reports = reports;
    return m_reports.size();
}

QJsonObject UsageStore::toJson() const
{
    std::lock_guard guard(m_lock);
    return QJsonObject{{QStringLiteral("total"), qint64(m_reports.size())}, {QStringLiteral("reports"), m_reports}};
}

} // namespace vorlik::devserver

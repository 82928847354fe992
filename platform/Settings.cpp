#include "platform/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace vorlik::platform {

Settings &Settings::standard()
{
    // Created on first use and kept for the life of the process, like the platform's defaults.
    static Settings *instance = [] {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        return new Settings(QDir(folder).filePath(QStringLiteral("Vorlik/Vorlik Desktop.conf")));
    }();
    return *instance;
}

Settings::Settings(const QString &filePath, QObject *parent)
    : QObject(parent), m_store(std::make_unique<QSettings>(filePath, QSettings::IniFormat))
{
}

Settings::~Settings() = default;

void Settings::applyArguments(const QStringList &arguments)
{
    for (qsizetype i = 0; i + 1 < arguments.size(); ++i) {
        const QString &name = arguments.at(i);
        if (name.size() < 2 || !name.startsWith(QLatin1Char('-')) || name.startsWith(QStringLiteral("--")))
            continue;
        setOverride(name.mid(1), arguments.at(i + 1));
        ++i;
    }
}

void Settings::setOverride(const QString &key, const QVariant &value)
{
    {
        QWriteLocker locker(&m_lock);
        m_overrides.insert(key, value);
    }
    emit changed(key);
}

void Settings::clearOverrides()
{
    QStringList keys;
    {
        QWriteLocker locker(&m_lock);
        keys = m_overrides.keys();
        m_overrides.clear();
    }
    for (const QString &key : keys)
        emit changed(key);
}

bool Settings::contains(const QString &key) const
{
    QReadLocker locker(&m_lock);
    return m_overrides.contains(key) || m_store->contains(key);
}

QVariant Settings::value(const QString &key) const
{
    QReadLocker locker(&m_lock);
    const auto overridden = m_overrides.constFind(key);
    if (overridden != m_overrides.constEnd())
        return *overridden;
    return m_store->value(key);
}

std::optional<QString> Settings::optionalString(const QString &key) const
{
    const QVariant stored = value(key);
    if (!stored.isValid() || stored.isNull())
        return std::nullopt;
    return stored.toString();
}

QString Settings::string(const QString &key, const QString &fallback) const
{
    return optionalString(key).value_or(fallback);
}

std::optional<bool> Settings::parseBoolean(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return std::nullopt;
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    const QString text = value.toString().trimmed().toLower();
    if (text == QLatin1String("yes") || text == QLatin1String("true") || text == QLatin1String("1"))
        return true;
    if (text == QLatin1String("no") || text == QLatin1String("false") || text == QLatin1String("0"))
        return false;
    return std::nullopt;
}

bool Settings::boolean(const QString &key, bool fallback) const
{
    return parseBoolean(value(key)).value_or(fallback);
}

std::optional<QDateTime> Settings::date(const QString &key) const
{
    const QVariant stored = value(key);
    if (!stored.isValid())
        return std::nullopt;
    QDateTime when = stored.typeId() == QMetaType::QDateTime
        ? stored.toDateTime()
        : QDateTime::fromString(stored.toString(), Qt::ISODateWithMs);
    if (!when.isValid())
        return std::nullopt;
    return when;
}

void Settings::setValue(const QString &key, const QVariant &value)
{
    {
        QWriteLocker locker(&m_lock);
        if (value.typeId() == QMetaType::QDateTime)
            m_store->setValue(key, value.toDateTime().toUTC().toString(Qt::ISODateWithMs));
        else
            m_store->setValue(key, value);
        m_store->sync();
    }
    emit changed(key);
}

void Settings::remove(const QString &key)
{
    {
        QWriteLocker locker(&m_lock);
        m_store->remove(key);
        m_store->sync();
    }
    emit changed(key);
}

} // namespace vorlik::platform

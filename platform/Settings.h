#pragma once
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QReadWriteLock>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>

namespace vorlik::platform {

// The per-user settings store. Values written here persist (QSettings, INI format under the
// XDG config folder); values given on the command line as "-key value" win over stored ones
// for this run only and are never written back. Safe to read from any thread; writes and the
// change signal belong to the main thread.
class Settings : public QObject {
    Q_OBJECT
public:
    // The application's store (~/.config/Vorlik/Vorlik Desktop.conf).
    static Settings &standard();
    // A store on a file of its own, for tests and tools.
    explicit Settings(const QString &filePath, QObject *parent = nullptr);
    ~Settings() override;

    // Reads "-key value" pairs (arguments that do not start with "-" or lack a value are skipped).
    void applyArguments(const QStringList &arguments);
    void setOverride(const QString &key, const QVariant &value);
    void clearOverrides();

    bool contains(const QString &key) const;
    QVariant value(const QString &key) const;
    std::optional<QString> optionalString(const QString &key) const;
    QString string(const QString &key, const QString &fallback = {}) const;
    // Booleans accept YES/NO, true/false and 1/0 in any case; anything else is the fallback.
    bool boolean(const QString &key, bool fallback = false) const;
    std::optional<QDateTime> date(const QString &key) const;

    void setValue(const QString &key, const QVariant &value);
    void remove(const QString &key);

    // Typed reads with the application's defaults.
    bool diagnosticsEnabled() const { return boolean(QStringLiteral("vorlikDiag")); }
    QString exportLocation() const { return string(QStringLiteral("exportLocation"), QStringLiteral("sameAsSource")); }
    QString exportFolderPath() const { return string(QStringLiteral("exportFolderPath")); }
    QString ffmpegPathOverride() const { return string(QStringLiteral("ffmpegPathOverride")); }
    bool autoStartConvert() const { return boolean(QStringLiteral("autoStartConvert")); }
    std::optional<QString> baseURL() const { return optionalString(QStringLiteral("baseURL")); }
    std::optional<QString> updateManifestURL() const { return optionalString(QStringLiteral("updateManifestURL")); }

    static std::optional<bool> parseBoolean(const QVariant &value);

signals:
    void changed(const QString &key);

private:
    mutable QReadWriteLock m_lock;
    std::unique_ptr<QSettings> m_store;  // guarded by m_lock
    QHash<QString, QVariant> m_overrides; // guarded by m_lock
};

} // namespace vorlik::platform

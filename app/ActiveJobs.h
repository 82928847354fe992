#pragma once
// The registry of long-running work ("Conversion", "Analysis"). Quitting and installing an
// update are refused while it holds a key. Main thread only.
#include <QObject>
#include <QSet>
#include <QString>

namespace vorlik::app {

class ActiveJobs : public QObject {
    Q_OBJECT
    Q_PROPERTY(QSet<QString> runningKeys READ runningKeys NOTIFY runningKeysChanged)
public:
    // The process's registry, created on first use and never destroyed.
    static ActiveJobs &shared();

    explicit ActiveJobs(QObject *parent = nullptr);

    void begin(const QString &key);
    // No effect on the set when `key` is absent; the count is logged either way.
    void end(const QString &key);
    const QSet<QString> &runningKeys() const { return m_runningKeys; }

signals:
    void runningKeysChanged();

private:
    QSet<QString> m_runningKeys;
};

} // namespace vorlik::app

#pragma once
// The opt-in activity log: one call, log(category, message), from any thread. While the
// "vorlikDiag" setting is on, each call becomes a timestamped, secret-masked line in a bounded
// in-memory buffer, in Logs/vorlik-debug.log (rotated at 5 MiB, two old files kept) and on
// standard output. All buffer and file work happens on the logger's own serial worker thread.
#include <QMetaObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>

namespace vorlik::platform {
class Settings;
}

namespace vorlik::diagnostics {

class DiagnosticsLogger {
public:
    static constexpr int bufferLimit = 20000;
    static constexpr qint64 rotationBytes = 5242880;

    // The application's logger (standard settings, AppPaths::logs()), created on first use.
    static DiagnosticsLogger &shared();

    // A logger of its own, for tests: its settings store and log folder.
    DiagnosticsLogger(platform::Settings &settings, QString logDirectory, bool echoToStandardOutput = true);
    ~DiagnosticsLogger();
    DiagnosticsLogger(const DiagnosticsLogger &) = delete;
    DiagnosticsLogger &operator=(const DiagnosticsLogger &) = delete;

    void log(const QString &category, const QString &message);
    // The "vorlikDiag" setting as last written, read without waiting: a write of the settings
    // holds their store while it goes to disk, and no log call may wait for that.
    bool isEnabled() const { return m_enabled.load(std::memory_order_relaxed); }
    void finalLog(const QString &category, const QString &message);
    void startIfEnabled();
    void stop();
    bool exportTXT(const QString &path);

    // Masks secrets in the query string of a message (see the source for the masked names).
    static QString redact(const QString &message);
    static QString environmentLine();

    // Blocks until every line queued so far has been handled and is in the file (tests,
    // shutdown, the crash loggers).
    void drain();
    // A copy of the in-memory buffer, taken on the worker after everything queued before.
    QStringList bufferSnapshot();
    QString logFilePath() const;

private:
    class Worker;
    void readEnabled();

    std::unique_ptr<Worker> m_worker;
    platform::Settings &m_settings;
    std::atomic<bool> m_enabled = false;
    std::mutex m_enabledReading; // one reading of the setting at a time, so the last one stands
    QMetaObject::Connection m_settingsWatch;
};

} // namespace vorlik::diagnostics

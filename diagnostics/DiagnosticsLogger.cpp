#include "diagnostics/DiagnosticsLogger.h"

#include "diagnostics/LineFormatter.h"
#include "platform/AppPaths.h"
#include "platform/BuildInfo.h"
#include "platform/Settings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace vorlik::diagnostics {
namespace {
const QString logFileName = QStringLiteral("vorlik-debug.log");
}

// The serial worker: tasks run one after another on its own thread, in the order queued.
// Callers only take the queue lock to append; the worker swaps the whole batch out and works
// on it without the lock, so no caller ever waits for a disk write.
class DiagnosticsLogger::Worker {
public:
    Worker(QString directory, bool echo)
        : m_directory(std::move(directory)), m_filePath(QDir(m_directory).filePath(logFileName)), m_echo(echo)
    {
        m_thread = std::thread([this] { loop(); });
    }

    ~Worker()
    {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_one();
        m_thread.join();
        closeFile();
    }

    void post(std::function<void()> task)
    {
        bool wasIdle;
        {
            std::lock_guard lock(m_mutex);
            wasIdle = m_tasks.empty();
            m_tasks.push_back(std::move(task));
        }
        // The worker only sleeps on an empty queue: waking it for every line would cost the
        // caller a system call each time.
        if (wasIdle)
            m_wake.notify_one();
    }

    // Runs `task` on the worker and waits for it.
    template <typename Result>
    Result sync(std::function<Result()> task)
    {
        std::promise<Result> promise;
        auto future = promise.get_future();
        post([&] { promise.set_value(task()); });
        return future.get();
    }

    const QString &filePath() const { return m_filePath; }

    // Everything below runs on the worker thread only.
    void append(const QString &line)
    {
        m_buffer.push_back(line);
        while (m_buffer.size() > bufferLimit)
            m_buffer.pop_front();
        rotateIfNeeded();
        write(line);
    }

    void writeOnly(const QString &line) { write(line); }

    void flush()
    {
        if (m_file)
            m_file->flush();
        if (m_echo)
            std::fflush(stdout);
    }

    void open()
    {
        if (m_file)
            return;
        QDir().mkpath(m_directory);
        auto file = std::make_unique<QFile>(filePath());
        if (file->open(QIODevice::WriteOnly | QIODevice::Append)) {
            m_fileSize = file->size();
            m_file = std::move(file);
        }
    }

    void closeFile()
    {
        if (!m_file)
            return;
        m_file->flush();
        m_file->close();
        m_file.reset();
    }

    bool isOpen() const { return bool(m_file); }
    QStringList buffer() const { return QStringList(m_buffer.begin(), m_buffer.end()); }

    QString previousSessionTail() const
    {
        for (const QString suffix : {QStringLiteral(".1"), QStringLiteral(".2")}) {
            QFile file(filePath() + suffix);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const qint64 size = file.size();
            if (size > rotationBytes)
                file.seek(size - rotationBytes);
            const QByteArray bytes = file.read(rotationBytes);
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString text = decoder.decode(bytes);
            if (!decoder.hasError() && !text.isEmpty())
                return text;
        }
        return {};
    }

private:
    void loop()
    {
        std::deque<std::function<void()>> batch;
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_quit || !m_tasks.empty(); });
                if (m_tasks.empty() && m_quit)
                    return;
                batch.swap(m_tasks);
            }
            for (auto &task : batch)
                task();
            batch.clear();
            // One write per batch: a quiet log reaches the disk line by line, a busy one in
            // large blocks.
            flush();
        }
    }

    void write(const QString &line)
    {
        const QByteArray bytes = line.toUtf8();
        if (m_file) {
            m_file->write(bytes); // a failed write is ignored: the log never stops its caller
            m_fileSize += bytes.size();
        }
        if (m_echo)
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    }

    void rotateIfNeeded()
    {
        // The open file's size is known from what was written to it; without an open file the
        // file on disk is asked.
        const QString &path = filePath();
        if (m_file) {
            if (m_fileSize < rotationBytes)
                return;
        } else {
            const QFileInfo info(path);
            if (!info.exists() || info.size() < rotationBytes)
                return;
        }
        closeFile();
        QFile::remove(path + QStringLiteral(".2"));
        if (QFile::exists(path + QStringLiteral(".1")))
            QFile::rename(path + QStringLiteral(".1"), path + QStringLiteral(".2"));
        QFile::rename(path, path + QStringLiteral(".1"));
        auto file = std::make_unique<QFile>(path);
        if (file->open(QIODevice::WriteOnly | QIODevice::Append)) {
            m_fileSize = file->size();
            m_file = std::move(file);
        }
    }

    const QString m_directory;
    const QString m_filePath;
    const bool m_echo;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks; // guarded by m_mutex
    bool m_quit = false;                       // guarded by m_mutex
    std::deque<QString> m_buffer;               // worker thread only
    std::unique_ptr<QFile> m_file;              // worker thread only
    qint64 m_fileSize = 0;                      // bytes in the open file, worker thread only
};

DiagnosticsLogger &DiagnosticsLogger::shared()
{
    // Never destroyed: lines may be logged from other threads until the process ends.
    static auto *logger = new DiagnosticsLogger(platform::Settings::standard(), platform::AppPaths::logs());
    return *logger;
}

DiagnosticsLogger::DiagnosticsLogger(platform::Settings &settings, QString logDirectory, bool echoToStandardOutput)
    : m_worker(std::make_unique<Worker>(std::move(logDirectory), echoToStandardOutput)), m_settings(settings)
{
    // On the thread that wrote the setting, once its write is done.
    m_settingsWatch = QObject::connect(&m_settings, &platform::Settings::changed, [this](const QString &key) {
        if (key == QLatin1String("vorlikDiag"))
            readEnabled();
    });
    readEnabled();
}

DiagnosticsLogger::~DiagnosticsLogger() { QObject::disconnect(m_settingsWatch); }

void DiagnosticsLogger::readEnabled()
{
    // Two writers may report at once: each reading happens after its own write, and the lock
    // keeps an older reading from being stored after a newer one.
    std::lock_guard reading(m_enabledReading);
    m_enabled.store(m_settings.diagnosticsEnabled(), std::memory_order_relaxed);
}

void DiagnosticsLogger::log(const QString &category, const QString &message)
{
    if (!isEnabled())
        return;
    QString line = formatLine(category, redact(message));
    Worker *worker = m_worker.get();
    worker->post([worker, line = std::move(line)] { worker->append(line); });
}

void DiagnosticsLogger::finalLog(const QString &category, const QString &message)
{
    QString line = formatLine(category, redact(message));
    Worker *worker = m_worker.get();
    worker->post([worker, line = std::move(line)] { worker->writeOnly(line); });
}

void DiagnosticsLogger::startIfEnabled()
{
    if (!isEnabled())
        return;
    Worker *worker = m_worker.get();
    worker->post([this, worker] {
        if (worker->isOpen())
            return;
        worker->open();
        // Logged from inside the queue, so it lands after lines the caller queued meanwhile.
        log(QStringLiteral("diagnostics"), QStringLiteral("session started — ") + environmentLine());
    });
}

void DiagnosticsLogger::stop()
{
    Worker *worker = m_worker.get();
    worker->post([worker] { worker->closeFile(); });
}

QString DiagnosticsLogger::environmentLine()
{
    // The platform label names the system this build runs on.
    return QStringLiteral("app=") + platform::appName() + QLatin1Char(' ') + platform::appVersion()
        + QStringLiteral(" (") + QString::number(platform::buildNumber()) + QStringLiteral(")  Linux=")
        + platform::operatingSystemVersion();
}

bool DiagnosticsLogger::exportTXT(const QString &path)
{
    Worker *worker = m_worker.get();
    const QString text = worker->sync<QString>([worker] {
        QString out = QStringLiteral("Vorlik Log — ") + QDateTime::currentDateTime().toString(Qt::TextDate)
            + QLatin1Char('\n') + environmentLine() + QLatin1Char('\n') + QString(60, QLatin1Char('='))
            + QStringLiteral("\n\n");
        const QString tail = worker->previousSessionTail();
        if (!tail.isEmpty())
            out += QStringLiteral("--- Earlier session (last 5120 KB of previous logs, may be truncated) ---\n\n")
                + tail + QLatin1Char('\n');
        out += QStringLiteral("--- Current session (last 20000 lines, may be truncated) ---\n\n");
        for (const QString &line : worker->buffer())
            out += line;
        return out;
    });
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size())
        return false;
    return file.commit();
}

void DiagnosticsLogger::drain()
{
    // The worker flushes at the end of a batch, which may be after this task: flush here, so
    // that what was logged is in the file when drain() returns (a crash handler aborts next).
    Worker *worker = m_worker.get();
    worker->sync<bool>([worker] {
        worker->flush();
        return true;
    });
}

QStringList DiagnosticsLogger::bufferSnapshot()
{
    Worker *worker = m_worker.get();
    return worker->sync<QStringList>([worker] { return worker->buffer(); });
}

QString DiagnosticsLogger::logFilePath() const { return m_worker->filePath(); }

} // namespace vorlik::diagnostics

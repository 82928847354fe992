#pragma once
// What the benchmarks share: a private home for the run, the process's memory figures from
// /proc, and large test files of random bytes.
#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>
#include <QString>
#include <QTemporaryDir>

#include <stdexcept>

namespace vorlik::bench {

// HOME and the XDG folders point into a temporary folder for the run, so that a benchmark never
// touches the user's settings, keyring entries or tools folder.
class PrivateHome {
public:
    PrivateHome()
    {
        qputenv("HOME", m_dir.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (m_dir.path() + QStringLiteral("/config")).toUtf8());
        qputenv("XDG_DATA_HOME", (m_dir.path() + QStringLiteral("/data")).toUtf8());
    }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

// A figure of /proc/self/status in KiB ("VmRSS:", "VmHWM:", ...); -1 when it cannot be read.
inline qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').front().toLongLong();
    return -1;
}

// Resets the peak (VmHWM) to the current resident size; false where the kernel does not allow it.
inline bool resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

// `bytes` (a multiple of 1 MiB) of random data from a fixed seed: the same file in every run,
// and nothing a compressing layer could shrink.
inline void writeRandomFile(const QString &path, qint64 bytes, quint32 seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the test file " + path.toStdString());
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qint64 written = 0; written < bytes; written += chunk.size()) {
        generator.fillRange(reinterpret_cast<quint32 *>(chunk.data()), chunk.size() / 4);
        if (file.write(chunk) != chunk.size())
            throw std::runtime_error("cannot write the test file " + path.toStdString());
    }
}

} // namespace vorlik::bench

#pragma once
// Runs ffprobe or ffmpeg from a job's worker thread: standard output is handed over as it
// arrives (so decoded audio is never held whole), the error stream's tail is kept, and the
// process is killed as soon as the job is cancelled. The worker must be a QThread.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace vorlik::devserver {

class ToolProcess {
public:
    struct Outcome {
        bool started = false;
        bool stopped = false;      // killed because stop() said so, or the output was refused
        bool crashed = false;
        int exitCode = -1;
        QString startError;        // why it did not start
        QByteArray errorTail;      // the last bytes of the error stream

        bool succeeded() const { return started && !stopped && !crashed && exitCode == 0; }
    };

    static constexpr qsizetype errorTailBytes = 256 * 1024;

    // `onOutput` receives standard output in pieces; returning false stops the process.
    // `stop` is asked about every 100 ms.
    static Outcome run(const QString &program, const QStringList &arguments,
                       const std::function<bool(const char *data, qsizetype size)> &onOutput,
                       const std::function<bool()> &stop);

    // The first line of `program -version`, or empty.
    static QString versionLine(const QString &program);
};

} // namespace vorlik::devserver

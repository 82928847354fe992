#pragma once
// The "audio_info" workflow: ffprobe describes the file (container, streams, chapters, tags),
// then ffmpeg decodes the first audio stream once, its astats filter taking the sample levels
// while the decoded samples stream through a pipe into the loudness meter. Runs on a job's
// worker thread (a QThread); the decoded audio is never held whole.
#include <QJsonObject>
#include <QString>

#include <functional>
#include <mutex>
#include <stdexcept>

namespace vorlik::devserver {

class AudioAnalyzer {
public:
    // The job failed; what() is its one-line error summary.
    struct Failure : std::runtime_error {
        using std::runtime_error::runtime_error;
    };
    // The job was cancelled while the analysis ran.
    struct Stopped {};

    // Finds ffprobe and ffmpeg on the PATH.
    AudioAnalyzer();

    // The report of the file at `path`, which the client called `fileName`. Throws Failure or
    // Stopped; `stop` is asked often and ends the work (and the tools) when it says so.
    QJsonObject analyse(const QString &path, const QString &fileName, const QString &workflow,
                        const std::function<bool()> &stop) const;

    // {"ffprobe","ffmpeg","measurement_backend"}: the tools' version lines, read once.
    QJsonObject engine() const;

private:
    QJsonObject probe(const QString &path, const QString &fileName, const std::function<bool()> &stop) const;

    QString m_ffprobe;
    QString m_ffmpeg;
    mutable std::once_flag m_engineOnce;
    mutable QJsonObject m_engine;
};

} // namespace vorlik::devserver

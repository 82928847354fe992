#pragma once
// The convert runner: the queue of files to convert and the loop that works through it, one file
// at a time (or a few side by side, when asked), with the ffmpeg it is handed. For each file it looks the preset up, picks a free
// output name, turns the preset's script into ffmpeg arguments, reduces the channel count where
// the preset asks for it, runs ffmpeg, moves the result into place and reports the usage.
// Main thread only; the loop suspends while ffmpeg runs, so the page stays live.
//
// Its static operations (the script language and the running of ffmpeg) are pure or
// self-contained, so they can be used and tested on their own. No shell is involved anywhere:
// arguments travel to the process as a list.
#include "convert/ConversionProgress.h"
#include "convert/FFmpegProgress.h"
#include "convert/ProcessBox.h"
#include "convert/QueueItem.h"
#include "convert/QueueProgress.h"
#include "convert/ShellOutcome.h"
#include "platform/CancellationToken.h"
#include "service/Preset.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace vorlik::platform {
class Settings;
}
namespace vorlik::service {
class SessionStore;
}

namespace vorlik::convert {

using platform::CancellationToken;

class ConvertRunner : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<vorlik::convert::QueueItem> items READ items NOTIFY itemsChanged)
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(QString statusLine READ statusLine WRITE setStatusLine NOTIFY statusLineChanged)
    Q_PROPERTY(RunState runState READ runState NOTIFY runStateChanged)

public:
    enum class RunState { idle, running, stopping };
    Q_ENUM(RunState)

    // The key the loop holds in ActiveJobs while it runs.
    static inline const QString jobKey = QStringLiteral("Conversion");
    // How long a stopped ffmpeg may take to leave before it is killed.
    static constexpr std::chrono::milliseconds forceKillDelay{3000};

    explicit ConvertRunner(QObject *parent = nullptr);
    ~ConvertRunner() override;

    const QList<QueueItem> &items() const { return m_items; }
    // The items of one preset, in queue order.
    QList<QueueItem> items(const QString &forPreset) const;
    bool isRunning() const { return m_isRunning; }
    const QString &statusLine() const { return m_statusLine; }
    // The page writes its own lines here too ("Cleared.", "Scripts refreshed from the VPS.").
    void setStatusLine(const QString &line);
    RunState runState() const { return m_runState; }
    bool hasPending() const;

    // How many conversions run side by side, 1 (one at a time) up to the processor cores; a
    // change takes effect at the next run.
    int simultaneousConversions() const { return m_simultaneous; }
    void setSimultaneousConversions(int count);
    static int maximumSimultaneousConversions();
    // The number stored under "simultaneousConversions" (or given as "-simultaneousConversions N"):
    // 1 unless it is a whole number above 1.
    static int simultaneousConversions(const platform::Settings &settings);
    // How far an item being converted has got; none for every other item.
    std::optional<ConversionProgress> progress(const QUuid &id) const;
    // The whole queue's progress, as of `now`.
    QueueProgress queueProgress(ConversionProgress::Clock::time_point now) const;

    // Adds the media files among `urls` (folders are walked) for the preset, each with the
    // folder its output goes to; a file already queued for the same preset and folder is not
    // added again. Callable in any state: a running loop picks new items up.
    void queue(const QList<QUrl> &urls, const QString &presetID);
    void queue(const QStringList &paths, const QString &presetID);
    // Starts the loop when idle; otherwise does nothing. The runner is running from the moment
    // this returns, so a second call in the same turn is refused as well. `store` gives the
    // access token for the usage reports and takes them.
    void run(QList<service::Preset> presets, QString ffmpeg, service::SessionStore *store);
    // Stops a running loop: SIGTERM to ffmpeg, SIGKILL if it is still there after
    // forceKillDelay. The item being converted stays pending ("Stopped").
    void cancel();
    // Stops a running or stopping loop without the grace: SIGKILL to every ffmpeg now (one that
    // starts later still gets cancel()'s SIGTERM). Temporary files go as after cancel().
    void cancelNow();
    // Idle only: drops every item that is not pending, keeping the order of the rest.
    void clearFinished();
    // Idle only.
    void remove(const QUuid &id);
    // Idle only: makes the item pending again ("Queued"); does not start a run.
    void retry(const QUuid &id);

    // Script templates.

    // Splits a script into tokens by its shell-like rules (quotes, backslash escapes, Unicode
    // white space between tokens). Never fails; empty tokens are never produced.
    static QStringList tokenize(const QString &script);
    // Placeholders beyond the two paths, by name without braces ("gain"), with their text. Only
    // a preset that measures its source has any; everywhere else such a name is unknown.
    using Placeholders = QList<std::pair<QString, QString>>;
    // The ffmpeg argument list (without the program name) for one file: "{input}",
    // "{output_base}" and the given placeholders are replaced inside each token. Throws
    // TemplateError.
    static QStringList buildArguments(const QString &scriptTemplate, const QString &inputPath,
                                      const QString &outputBasePath, const Placeholders &placeholders = {});

    // FFmpeg process execution.

    // Runs ffmpeg with the arguments (standard input and output on the null device, the error
    // stream's last 8192 characters kept). onProcess receives the process just before launch.
    // A cancel of `cancellation` sends SIGTERM; the call still waits for the process to end.
    // onProgress hears, on this thread, each time the run's position or duration changes.
    static QCoro::Task<ShellOutcome> runFFmpeg(QString ffmpeg, QStringList arguments,
                                               std::function<void(QProcess &)> onProcess = {},
                                               CancellationToken cancellation = {},
                                               std::function<void(const FFmpegProgress &)> onProgress = {});
    // The channel count of the input's first audio stream with a recognisable layout. The probe
    // process is handed to onProcess as in runFFmpeg.
    static QCoro::Task<std::optional<int>> probeChannelCount(QString ffmpeg, QString input,
                                                             CancellationToken cancellation = {},
                                                             std::function<void(QProcess &)> onProcess = {});
    static std::optional<int> parseChannelCount(const QString &probeOutput);
    static std::optional<int> channelCount(const QString &descriptor);
    // One line for the user: the last error line of an error stream, else its last line with
    // one of ffmpeg's other failure words ("matches no streams", "Permission denied", ...), else
    // its beginning.
    static QString summarise(const QString &text);
    // Deletes every entry beside baseURL whose name begins with baseURL's last component.
    static void cleanupPartial(const QString &basePath);

signals:
    void itemsChanged();
    void isRunningChanged();
    void statusLineChanged();
    void runStateChanged();
    // An item's progress began, moved or ended.
    void progressChanged(const QUuid &id);
    // After the status line of a run's end is written.
    void runFinished();

private:
    // What one run works with; the loop and its conversions hold the runner only weakly.
    struct Run;
    struct Reservation;
    struct ProgressScope;

    // One lane of the run: converts the next pending item no other lane has taken, until none
    // is left or the run stops; the last lane to end ends the run.
    static QCoro::Task<void> work(QPointer<ConvertRunner> self, std::shared_ptr<Run> run);
    // Starts lanes until the run has as many as it may.
    static void addLanes(QPointer<ConvertRunner> self, const std::shared_ptr<Run> &run);
    // The first pending item no lane of the run has taken, or the end.
    QList<QueueItem>::const_iterator nextUntaken(const Run &run) const;
    static QCoro::Task<void> convert(QPointer<ConvertRunner> self, std::shared_ptr<Run> run, QUuid itemID,
                                     service::Preset preset);
    // Runs one conversion and returns its output file; when there is none (stopped, failed, no
    // output) the item already says why.
    static QCoro::Task<std::optional<QString>> produce(QPointer<ConvertRunner> self, std::shared_ptr<Run> run,
                                                       QUuid itemID, QString name, QStringList arguments,
                                                       QString expectedFile);
    // What a conversion made: the file to keep, and the item's detail when it falls short.
    struct Produced {
        QString file;
        std::optional<QString> note;
    };
    // The conversion of a preset that measures its source first (ConvertRunnerLoudness.cpp).
    static QCoro::Task<std::optional<Produced>> produceMeasured(QPointer<ConvertRunner> self, std::shared_ptr<Run> run,
                                                                QUuid itemID, service::Preset preset,
                                                                QString temporaryBase, QStringList channelLimit);
    // `arguments` with the channel limit's two arguments put before the last one.
    static QStringList withChannelLimit(QStringList arguments, const QStringList &channelLimit);
    // Marks the item stopped (it stays pending).
    void markStopped(const QUuid &id);
    void markScriptRejected(const QUuid &id, const QString &name, const QString &description);
    static QCoro::Task<void> forceKillLater(QPointer<ConvertRunner> self, quint64 runNumber,
                                            QList<QPointer<QProcess>> remembered, std::shared_ptr<ProcessBox> box);
    void beginProgress(const QUuid &id);
    void advanceProgress(const QUuid &id, const FFmpegProgress &progress);
    void endProgress(const QUuid &id, bool finished);

    const QueueItem *find(const QUuid &id) const;
    // Applies change to the item with that id, if it is still in the queue.
    void updateItem(const QUuid &id, const std::function<void(QueueItem &)> &change);
    void setRunState(RunState state);
    void setIsRunning(bool running);
    void finishRun();
    static void log(const QString &message);

    QList<QueueItem> m_items;
    bool m_isRunning = false;
    QString m_statusLine;
    RunState m_runState = RunState::idle;
    bool m_stopRequested = false;
    quint64 m_runNumber = 0;
    CancellationToken m_runCancellation; // the running loop's stop request (its "runTask")
    std::shared_ptr<ProcessBox> m_processBox = std::make_shared<ProcessBox>();
    std::weak_ptr<Run> m_run; // the run going now, for items queued while it goes
    int m_simultaneous = 1;
    QHash<QUuid, ConversionProgress> m_progress; // the items being converted
    // How long the items finished in this run took, for the queue's estimate.
    std::chrono::milliseconds m_finishedTime{0};
    qsizetype m_finishedCount = 0;
};

} // namespace vorlik::convert

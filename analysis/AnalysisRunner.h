#pragma once
// The Analysis tab's queue of audio files and the one run that works through it: for each file
// it uploads the audio, starts a server job, polls it until it ends and keeps the report with
// the item. Stop cancels the job on the service too; retry resumes a job still running there
// (polling it again) instead of uploading anew; remove and clear tidy the list.
//
// A QObject of the main thread. The run loop is one coroutine that suspends while a request or
// a wait is in flight; it holds the runner weakly (destroying the runner ends it quietly) and
// looks every item up by id again after each suspension.
#include "analysis/AnalysisPayload.h"
#include "analysis/AnalysisProgress.h"
#include "analysis/JobInfo.h"
#include "platform/CancellationToken.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <chrono>
#include <optional>

namespace vorlik::service {
class SessionStore;
}

namespace vorlik::analysis {

class AnalysisRunner : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<vorlik::analysis::AnalysisRunner::Item> items READ items NOTIFY itemsChanged)
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(QString statusLine READ statusLine NOTIFY statusLineChanged)
    Q_PROPERTY(vorlik::analysis::AnalysisRunner::RunState runState READ runState NOTIFY runStateChanged)

public:
    // One queued file, compared by value over all fields.
    struct Item {
        QUuid id = QUuid::createUuid();
        QUrl input;
        QString status = QStringLiteral("Queued");
        std::optional<bool> succeeded;          // none: still to do
        std::optional<AnalysisPayload> analysis; // the report once the job completed
        std::optional<QJsonObject> analysisDocument; // the same report as the service sent it
        std::optional<QString> jobID;            // set once the job was started, never cleared
        // The job has ended without a report to show (failed, cancelled by a stop, completed
        // without one): polling it again could only repeat that, so the item starts over.
        bool jobEnded = false;
        std::optional<QString> errorMessage;     // why it failed

        bool operator==(const Item &) const = default;
    };

    enum class RunState { idle, running, stopping };
    Q_ENUM(RunState)

    using Progress = AnalysisProgress;

    static constexpr qint64 uploadLimitBytes = 134217728; // 128 MiB, inclusive
    static constexpr std::chrono::milliseconds defaultPollInterval{1500};
    static constexpr std::chrono::milliseconds defaultPollTimeLimit{900000};

    // The timings are for tests; the application uses the defaults.
    explicit AnalysisRunner(QObject *parent = nullptr, std::chrono::milliseconds pollInterval = defaultPollInterval,
                            std::chrono::milliseconds pollTimeLimit = defaultPollTimeLimit);
    ~AnalysisRunner() override;

    const QList<Item> &items() const { return m_items; }
    bool isRunning() const { return m_isRunning; }
    const QString &statusLine() const { return m_statusLine; }
    RunState runState() const { return m_runState; }
    // Successful analyses since the runner was made; never reset.
    qint64 analyzedCount() const { return m_analyzedCount; }
    // At least one item is still to do.
    bool hasPending() const;
    // None between items and outside a run.
    const std::optional<Progress> &progress() const { return m_progress; }
    // Cancels sent to the service by a stop that have not been answered yet. A program that
    // ends after a stop waits for them, or the job may run on there.
    int serviceCancelsInFlight() const { return m_serviceCancelsInFlight; }

    // Adds the audio files among the URLs (folders are walked); does not start a run.
    void queue(const QList<QUrl> &urls);
    // Starts a run when idle; the bearer of each item is the store's session at that moment.
    void run(service::SessionStore &store);
    // Requests a stop when running, and a cancel of the job being polled on the service.
    void cancel();
    // When idle: puts the item (by id) back to do; a job still running on the service is resumed,
    // not uploaded again; one that has ended is started over.
    void retry(const Item &item);
    // When idle: deletes the item with that id.
    void remove(const Item &item);
    // When idle: deletes the finished items (succeeded or failed) and says "Cleared.".
    void clear();
    // The page writes its own lines here too ("Report saved → …").
    void setStatusLine(const QString &line);

    // The first non-empty line of the text, cut to 140 characters plus "…" when longer. (The
    // status line's short form of a message.)
    static QString shortened(const QString &text);

signals:
    void itemsChanged();
    void isRunningChanged();
    void statusLineChanged();
    void runStateChanged();
    void progressChanged();
    // After the status line of a run's end is written.
    void runFinished();
    // The last cancel sent to the service was answered (or failed).
    void serviceCancelsSettled();

private:
    QCoro::Task<void> runLoop(QPointer<service::SessionStore> store);
    QCoro::Task<void> analyse(QUuid id, QPointer<service::SessionStore> store);
    QCoro::Task<JobInfo> pollJob(QString jobID, QString bearer);
    QCoro::Task<void> cancelOnService(QString jobID, QString bearer);

    Item *find(const QUuid &id);
    template <typename Change>
    void changeItem(const QUuid &id, Change change);
    void setRunState(RunState state);
    void setRunning(bool running);
    void finishRun();
    void setProgress(std::optional<Progress> progress);
    void uploadAdvanced(const QUuid &id, qint64 sent, qint64 total);
    void log(const QString &message) const;

    const std::chrono::milliseconds m_pollInterval;
    const std::chrono::milliseconds m_pollTimeLimit;
    QList<Item> m_items;
    bool m_isRunning = false;
    QString m_statusLine;
    RunState m_runState = RunState::idle;
    bool m_stopRequested = false;
    std::optional<QString> m_activeJobID;
    std::optional<QString> m_activeToken;
    qint64 m_analyzedCount = 0;
    int m_serviceCancelsInFlight = 0;
    std::optional<Progress> m_progress;
    std::chrono::steady_clock::time_point m_progressShown; // when an upload's step was last told
    // Ends the waits of the current run; a fresh one for every run.
    platform::CancellationToken m_stop;
};

template <typename Change>
void AnalysisRunner::changeItem(const QUuid &id, Change change)
{
    Item *item = find(id);
    if (!item)
        return; // it has vanished: the step is skipped
    change(*item);
    emit itemsChanged();
}

} // namespace vorlik::analysis

Q_DECLARE_METATYPE(vorlik::analysis::AnalysisRunner::Item)

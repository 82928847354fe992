#pragma once
// Analysis jobs: each runs on a worker thread of its own, so a long (or endless) job never holds
// up the server or other jobs. A job owns its upload's file from the start and removes it when
// it ends; the report stays with the job. Jobs belong to the client that started them; finished
// ones are forgotten after a while. Going away, the store cancels every job and waits for it.
#include "devserver/AudioAnalyzer.h"
#include "devserver/JobBehaviour.h"
#include "devserver/UploadStore.h"

#include <QByteArray>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

class QThread;

namespace vorlik::devserver {

class JobStore {
public:
    enum class State { queued, running, completed, failed, cancelled };
    enum class CancelOutcome { unknown, requested, alreadyEnded };

    static constexpr std::chrono::minutes finishedLifetime{60};

    JobStore(const QString &dataPath, JobBehaviours &behaviours, const AudioAnalyzer &analyzer);
    ~JobStore();

    // Starts a job on the upload, whose file it takes over; returns the job id.
    QString start(const UploadStore::Upload &upload, const QString &workflow);
    // The status document of the client's job: job_id, status, workflow, file_name, created_at,
    // updated_at, and error_summary (FAILED) or analysis and output_report (COMPLETED).
    std::optional<QJsonObject> status(const QString &id, const QString &clientId) const;
    // The job's state and, once it completed, its report text.
    std::optional<std::pair<State, QByteArray>> report(const QString &id, const QString &clientId) const;
    // The state after the request (CANCELLED for a job that was still going).
    std::pair<CancelOutcome, State> cancel(const QString &id, const QString &clientId);
    // Hanging jobs (outcome "hang") go on to a normal analysis.
    int releaseHanging();
    QJsonArray list() const;

    static QString stateName(State state);

private:
    struct Job;
    void run(const std::shared_ptr<Job> &job);
    // Waits until `done` holds or the job is cancelled (or the store stops); false for the latter.
    bool waitUntil(const std::shared_ptr<Job> &job, std::optional<std::chrono::milliseconds> limit,
                   const std::function<bool()> &done);
    void finish(const std::shared_ptr<Job> &job, State state, const QString &summary = {},
                const QJsonObject &analysis = {});
    void forgetOld(); // under m_lock
    QJsonObject describe(const Job &job) const; // under m_lock

    QDir m_folder;
    JobBehaviours &m_behaviours;
    const AudioAnalyzer &m_analyzer;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::atomic<bool> m_stopping{false};
    std::map<QString, std::shared_ptr<Job>> m_jobs;
    std::vector<std::unique_ptr<QThread>> m_finishedWorkers; // joined outside the lock
};

} // namespace vorlik::devserver

#include "devserver/JobStore.h"

#include "devserver/ReportText.h"

#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>
#include <QThread>

#include <atomic>

namespace vorlik::devserver {

struct JobStore::Job {
    QString id;
    QString clientId;
    QString uploadId;
    QString fileName;
    QString workflow;
    QString audioPath;
    JobBehaviour behaviour;
    QString createdAt;
    // Guarded by the store's lock:
    State state = State::queued;
    QString updatedAt;
    QString errorSummary;
    QJsonObject analysis;
    QByteArray report;
    bool released = false;
    std::chrono::steady_clock::time_point endedAt;
    std::unique_ptr<QThread> worker;
    bool workerDone = false;
    // Read by the worker without the lock:
    std::atomic<bool> cancelled{false};
};

namespace {

QString now() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs); }

QString randomID()
{
    quint64 words[2];
    QRandomGenerator::system()->fillRange(words);
    return QStringLiteral("job_") + QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex());
}

bool ended(JobStore::State state)
{
    return state == JobStore::State::completed || state == JobStore::State::failed
        || state == JobStore::State::cancelled;
}

} // namespace

QString JobStore::stateName(State state)
{
    switch (state) {
    case State::queued: return QStringLiteral("QUEUED");
    case State::running: return QStringLiteral("RUNNING");
    case State::completed: return QStringLiteral("COMPLETED");
    case State::failed: return QStringLiteral("FAILED");
    case State::cancelled: return QStringLiteral("CANCELLED");
    }
    return {};
}

JobStore::JobStore(const QString &dataPath, JobBehaviours &behaviours, const AudioAnalyzer &analyzer)
    : m_folder(QDir(dataPath).filePath(QStringLiteral("jobs"))), m_behaviours(behaviours), m_analyzer(analyzer)
{
    m_folder.mkpath(QStringLiteral("."));
    for (const QString &name : m_folder.entryList(QDir::Files | QDir::Hidden))
        m_folder.remove(name); // audio of jobs of an earlier run, which nobody can ask for now
}

JobStore::~JobStore()
{
    std::vector<std::unique_ptr<QThread>> workers;
    {
        std::lock_guard guard(m_lock);
        m_stopping = true;
        for (auto &[id, job] : m_jobs) {
            job->cancelled = true;
            if (job->worker)
                workers.push_back(std::move(job->worker));
        }
        for (auto &worker : m_finishedWorkers)
            workers.push_back(std::move(worker));
        m_finishedWorkers.clear();
    }
    m_changed.notify_all();
    for (auto &worker : workers)
        worker->wait();
    std::lock_guard guard(m_lock);
    for (auto &[id, job] : m_jobs)
        QFile::remove(job->audioPath);
}

QString JobStore::start(const UploadStore::Upload &upload, const QString &workflow)
{
    auto job = std::make_shared<Job>();
    job->id = randomID();
    job->clientId = upload.clientId;
    job->uploadId = upload.id;
    job->fileName = upload.fileName;
    job->workflow = workflow;
    job->audioPath = m_folder.filePath(job->id + QStringLiteral(".audio"));
    job->behaviour = m_behaviours.take();
    job->createdAt = now();
    job->updatedAt = job->createdAt;
    if (!QFile::rename(upload.path, job->audioPath))
        job->audioPath = upload.path; // another file system: the job reads it where it is

    std::vector<std::unique_ptr<QThread>> finished;
    {
        std::lock_guard guard(m_lock);
        forgetOld();
        finished.swap(m_finishedWorkers);
        m_jobs[job->id] = job;
        job->worker.reset(QThread::create([this, job] { run(job); }));
        job->worker->start();
    }
    for (auto &worker : finished)
        worker->wait();
    return job->id;
}

void JobStore::forgetOld()
{
    const auto limit = std::chrono::steady_clock::now() - finishedLifetime;
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
        Job &job = *it->second;
        if (job.workerDone && job.worker)
            m_finishedWorkers.push_back(std::move(job.worker));
        if (job.workerDone && ended(job.state) && job.endedAt < limit)
            it = m_jobs.erase(it);
        else
            ++it;
    }
}

bool JobStore::waitUntil(const std::shared_ptr<Job> &job, std::optional<std::chrono::milliseconds> limit,
                         const std::function<bool()> &done)
{
    std::unique_lock lock(m_lock);
    const auto over = [&] { return m_stopping || job->cancelled || done(); };
    if (limit)
        m_changed.wait_for(lock, *limit, over);
    else
        m_changed.wait(lock, over);
    return !m_stopping && !job->cancelled;
}

void JobStore::finish(const std::shared_ptr<Job> &job, State state, const QString &summary, const QJsonObject &analysis)
{
    std::lock_guard guard(m_lock);
    if (ended(job->state))
        return; // cancelled meanwhile: the cancel stands
    job->state = state;
    job->updatedAt = now();
    job->endedAt = std::chrono::steady_clock::now();
    job->errorSummary = summary;
    if (state == State::completed) {
        job->analysis = analysis;
        job->report = ReportText::render(analysis);
    }
}

void JobStore::run(const std::shared_ptr<Job> &job)
{
    {
        std::lock_guard guard(m_lock);
        if (job->state == State::queued) {
            job->state = State::running;
            job->updatedAt = now();
        }
    }
    const JobBehaviour &behaviour = job->behaviour;
    bool going = waitUntil(job, std::chrono::milliseconds(behaviour.delayMs), [] { return false; });
    if (going && behaviour.outcome == JobBehaviour::Outcome::hang)
        going = waitUntil(job, std::nullopt, [&job] { return job->released; });
    if (going && behaviour.outcome == JobBehaviour::Outcome::fail) {
        finish(job, State::failed, behaviour.errorSummary);
    } else if (going) {
        try {
            const QJsonObject analysis = m_analyzer.analyse(job->audioPath, job->fileName, job->workflow, [this, &job] {
                return job->cancelled.load() || m_stopping;
            });
            finish(job, State::completed, {}, analysis);
        } catch (const AudioAnalyzer::Failure &failure) {
            finish(job, State::failed, QString::fromStdString(failure.what()));
        } catch (const AudioAnalyzer::Stopped &) {
            // cancelled: the state says so already
        } catch (const std::exception &error) {
            finish(job, State::failed, QStringLiteral("internal error: ") + QString::fromUtf8(error.what()));
        }
    }
    // The audio is not needed once the job has ended, however it ended.
    QFile::remove(job->audioPath);
    std::lock_guard guard(m_lock);
    job->workerDone = true;
}

QJsonObject JobStore::describe(const Job &job) const
{
    QJsonObject document{{QStringLiteral("job_id"), job.id},
                         {QStringLiteral("status"), stateName(job.state)},
                         {QStringLiteral("workflow"), job.workflow},
                         {QStringLiteral("upload_id"), job.uploadId},
                         {QStringLiteral("file_name"), job.fileName},
                         {QStringLiteral("created_at"), job.createdAt},
                         {QStringLiteral("updated_at"), job.updatedAt}};
    if (job.state == State::failed)
        document.insert(QStringLiteral("error_summary"), job.errorSummary);
    if (job.state == State::completed) {
        document.insert(QStringLiteral("analysis"), job.analysis);
        document.insert(QStringLiteral("output_report"), QStringLiteral("/v1/jobs/") + job.id + QStringLiteral("/download/report"));
    }
    return document;
}

std::optional<QJsonObject> JobStore::status(const QString &id, const QString &clientId) const
{
    std::lock_guard guard(m_lock);
    const auto found = m_jobs.find(id);
    if (found == m_jobs.end() || found->second->clientId != clientId)
        return std::nullopt;
    return describe(*found->second);
}

std::optional<std::pair<JobStore::State, QByteArray>> JobStore::report(const QString &id, const QString &clientId) const
{
    std::lock_guard guard(m_lock);
    const auto found = m_jobs.find(id);
    if (found == m_jobs.end() || found->second->clientId != clientId)
        return std::nullopt;
    return std::make_pair(found->second->state, found->second->report);
}

std::pair<JobStore::CancelOutcome, JobStore::State> JobStore::cancel(const QString &id, const QString &clientId)
{
    std::pair<CancelOutcome, State> outcome{CancelOutcome::unknown, State::queued};
    {
        std::lock_guard guard(m_lock);
        const auto found = m_jobs.find(id);
        if (found == m_jobs.end() || found->second->clientId != clientId)
            return outcome;
        Job &job = *found->second;
        if (ended(job.state))
            return {CancelOutcome::alreadyEnded, job.state};
        job.state = State::cancelled;
        job.updatedAt = now();
        job.endedAt = std::chrono::steady_clock::now();
        job.cancelled = true;
        outcome = {CancelOutcome::requested, job.state};
    }
    m_changed.notify_all();
    return outcome;
}

int JobStore::releaseHanging()
{
    int released = 0;
    {
        std::lock_guard guard(m_lock);
        for (auto &[id, job] : m_jobs) {
            if (job->behaviour.outcome == JobBehaviour::Outcome::hang && !job->released && !ended(job->state)) {
                job->released = true;
                ++released;
            }
        }
    }
    m_changed.notify_all();
    return released;
}

QJsonArray JobStore::list() const
{
    std::lock_guard guard(m_lock);
    QJsonArray jobs;
    for (const auto &[id, job] : m_jobs) {
        QJsonObject entry = describe(*job);
        entry.remove(QStringLiteral("analysis"));
        entry.insert(QStringLiteral("client_id"), job->clientId);
        entry.insert(QStringLiteral("behaviour"), job->behaviour.toJson());
        entry.insert(QStringLiteral("audio_on_disk"), QFile::exists(job->audioPath));
        jobs.append(entry);
    }
    return jobs;
}

} // namespace vorlik::devserver

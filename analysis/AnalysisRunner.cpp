#include "analysis/AnalysisRunner.h"

#include "analysis/AnalysisEndpoints.h"
#include "analysis/FileError.h"
#include "analysis/Interruptible.h"
#include "analysis/RunnerError.h"
#include "app/ActiveJobs.h"
#include "platform/Graphemes.h"
#include "convert/MediaScanner.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "service/APIError.h"
#include "service/SessionStore.h"

#include <QCoroTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace vorlik::analysis {
namespace {

const QString activityKey = QStringLiteral("Analysis");
const QString workflow = QStringLiteral("audio_info");

QString plural(qint64 count) { return count == 1 ? QString() : QStringLiteral("s"); }

// The file's size from the file system; the system's reason when it cannot be read.
qint64 fileSize(const QUrl &input, const QString &name)
{
    struct stat attributes {};
    if (::stat(QFile::encodeName(input.toLocalFile()).constData(), &attributes) != 0)
        throw FileError(FileError::Operation::read, name, errno);
    return qint64(attributes.st_size);
}

} // namespace

AnalysisRunner::AnalysisRunner(QObject *parent, std::chrono::milliseconds pollInterval,
                               std::chrono::milliseconds pollTimeLimit)
    : QObject(parent), m_pollInterval(pollInterval), m_pollTimeLimit(pollTimeLimit)
{
}

AnalysisRunner::~AnalysisRunner()
{
    if (m_runState != RunState::idle)
        app::ActiveJobs::shared().end(activityKey);
    // The suspended run ends from the event loop, finding the runner gone.
    QTimer::singleShot(0, [stop = m_stop] { stop.cancel(); });
}

bool AnalysisRunner::hasPending() const
{
    return std::any_of(m_items.cbegin(), m_items.cend(), [](const Item &item) { return !item.succeeded; });
}

QString AnalysisRunner::shortened(const QString &text)
{
    const QStringList pieces = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString first = pieces.isEmpty() ? text : pieces.first();
    // At most 140 characters, and at most the room of 140 four-unit ones: a "character" of
    // endless combining marks does not make an endless status line.
    const QString kept = platform::Graphemes::prefix(first, 140, 4 * 140);
    return kept.size() < first.size() ? kept + QStringLiteral("\u2026") : first;
}

void AnalysisRunner::queue(const QList<QUrl> &urls)
{
    const QList<QUrl> found = convert::MediaScanner::collect(urls, convert::MediaScanner::audioExtensions());
    if (found.isEmpty()) {
        setStatusLine(QStringLiteral("No audio files found (wav, aiff, flac, mp3, m4a, aac, ogg\u2026)."));
        return;
    }
    qint64 added = 0;
    for (const QUrl &url : found) {
        const bool known = std::any_of(m_items.cbegin(), m_items.cend(), [&](const Item &item) { return item.input == url; });
        if (known)
            continue;
        Item item;
        item.input = url;
        m_items.append(item);
        ++added;
    }
    if (added == 0) {
        setStatusLine(QStringLiteral("Nothing new to add."));
        return;
    }
    emit itemsChanged();
    setStatusLine(QString::number(added) + QStringLiteral(" file") + plural(added)
                  + QStringLiteral(" queued \u2014 analysis runs on the Vorlik VPS."));
}

void AnalysisRunner::run(service::SessionStore &store)
{
    if (m_runState != RunState::idle)
        return;
    m_stopRequested = false;
    m_stop = platform::CancellationToken();
    runLoop(QPointer<service::SessionStore>(&store)); // runs on by itself; the token stops it
}

void AnalysisRunner::cancel()
{
    if (m_runState != RunState::running)
        return;
    m_stopRequested = true;
    setRunState(RunState::stopping);
    setStatusLine(QStringLiteral("Stopping\u2026"));
    // The current upload, request or wait ends from the event loop, never inside this call.
    QTimer::singleShot(0, [stop = m_stop] { stop.cancel(); });
    if (m_activeJobID && m_activeToken) {
        for (Item &item : m_items)
            if (item.jobID == m_activeJobID)
                item.jobEnded = true;
        ++m_serviceCancelsInFlight;
        cancelOnService(*m_activeJobID, *m_activeToken);
    }
}

// Sent on its own, so stopping never waits for the service; its outcome does not matter.
QCoro::Task<void> AnalysisRunner::cancelOnService(QString jobID, QString bearer)
{
    QPointer<AnalysisRunner> self(this);
    try {
        co_await AnalysisEndpoints::cancelJob(jobID, bearer);
    } catch (...) {
    }
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("analysis"),
                                                 QStringLiteral("server cancel requested for ") + jobID);
    if (self && --self->m_serviceCancelsInFlight == 0)
        emit self->serviceCancelsSettled();
}

void AnalysisRunner::retry(const Item &item)
{
    if (m_runState != RunState::idle)
        return;
    Item *found = find(item.id);
    if (!found)
        return;
    found->status = found->jobID && !found->jobEnded
        ? QStringLiteral("Resuming job ") + *found->jobID + QStringLiteral("\u2026")
        : QStringLiteral("Queued");
    found->succeeded.reset();
    found->analysis.reset();
    found->analysisDocument.reset();
    found->errorMessage.reset();
    const QString name = found->input.fileName();
    emit itemsChanged();
    setStatusLine(QStringLiteral("Re-queued ") + name + QStringLiteral("."));
}

void AnalysisRunner::remove(const Item &item)
{
    if (m_runState != RunState::idle)
        return;
    const qsizetype removed = m_items.removeIf([&](const Item &candidate) { return candidate.id == item.id; });
    if (removed > 0)
        emit itemsChanged();
}

void AnalysisRunner::clear()
{
    if (m_runState != RunState::idle)
        return;
    const qsizetype removed = m_items.removeIf([](const Item &item) { return item.succeeded.has_value(); });
    if (removed > 0)
        emit itemsChanged();
    setStatusLine(QStringLiteral("Cleared."));
}

QCoro::Task<void> AnalysisRunner::runLoop(QPointer<service::SessionStore> store)
{
    const QPointer<AnalysisRunner> self(this);
    setRunState(RunState::running);
    setRunning(true);
    app::ActiveJobs::shared().begin(activityKey);
    setStatusLine(QStringLiteral("Running\u2026"));
    while (m_runState == RunState::running) {
        const auto next = std::find_if(m_items.cbegin(), m_items.cend(), [](const Item &item) { return !item.succeeded; });
        if (next == m_items.cend())
            break;
        co_await analyse(next->id, store);
        if (!self)
            co_return;
        setProgress(std::nullopt);
    }
    finishRun();
}

void AnalysisRunner::finishRun()
{
    setProgress(std::nullopt);
    setRunState(RunState::idle);
    setRunning(false);
    app::ActiveJobs::shared().end(activityKey);
    m_activeJobID.reset();
    m_activeToken.reset();
    const qint64 failed = std::count_if(m_items.cbegin(), m_items.cend(), [](const Item &item) { return item.succeeded == false; });
    const qint64 pending = std::count_if(m_items.cbegin(), m_items.cend(), [](const Item &item) { return !item.succeeded; });
    const QString count = QString::number(m_analyzedCount);
    if (!m_stopRequested && failed > 0)
        setStatusLine(QStringLiteral("Queue finished \u2014 ") + count + QStringLiteral(" analysed, ") + QString::number(failed)
                      + QStringLiteral(" failed. Click a red card for details."));
    else if (!m_stopRequested)
        setStatusLine(QStringLiteral("Queue finished \u2014 ") + count + QStringLiteral(" file") + plural(m_analyzedCount)
                      + QStringLiteral(" analysed."));
    else if (pending > 0)
        setStatusLine(QStringLiteral("Stopped \u2014 ") + QString::number(pending) + QStringLiteral(" file") + plural(pending)
                      + QStringLiteral(" still queued."));
    else
        setStatusLine(QStringLiteral("Stopped."));
    m_stopRequested = false;
    emit runFinished();
}

QCoro::Task<void> AnalysisRunner::analyse(QUuid id, QPointer<service::SessionStore> store)
{
    const QPointer<AnalysisRunner> self(this);
    const platform::CancellationToken stop = m_stop;
    const Item *item = find(id);
    if (!item)
        co_return;
    const QUrl input = item->input;
    const QString name = input.fileName();

    if (!store || !store->session()) {
        const QString message = QStringLiteral("Connect with your client key to analyse files.");
        changeItem(id, [&](Item &it) {
            it.status = QStringLiteral("\u2717 Not connected");
            it.succeeded = false;
            it.errorMessage = message;
        });
        setStatusLine(message);
        co_return;
    }
    const QString token = store->session()->accessToken;
    log(QStringLiteral("start ") + name);
    // This item's job is the one a stop cancels on the service; a job of an earlier item that
    // failed (or timed out and is still running there) is not.
    m_activeJobID.reset();
    m_activeToken.reset();

    std::exception_ptr failure;
    std::optional<JobInfo> info;
    try {
        const qint64 size = fileSize(input, name);
        if (size > uploadLimitBytes)
            throw RunnerError::tooLarge(name);
        std::optional<QString> jobID = item->jobEnded ? std::nullopt : item->jobID;
        if (!jobID) {
            const QString uploading = QStringLiteral("Uploading ") + name + QStringLiteral("\u2026");
            changeItem(id, [&](Item &it) { it.status = uploading; });
            setStatusLine(uploading);
            if (m_runState != RunState::running)
                throw Interrupted();
            setProgress(Progress{id, Progress::Stage::uploading, 0, size, std::chrono::steady_clock::now()});
            const AnalysisEndpoints::UploadProgress advanced = [self, id](qint64 sent, qint64 total) {
                if (self)
                    self->uploadAdvanced(id, sent, total);
            };
            QCoro::Task<QString> sending = AnalysisEndpoints::uploadAudio(input, token, stop, advanced);
            const QString uploadID = co_await interruptible(std::move(sending), stop);
            if (!self)
                co_return;
            log(QStringLiteral("uploaded upload_id=") + uploadID);
            setProgress(Progress{id, Progress::Stage::analysing, 0, 0, std::chrono::steady_clock::now()});
            changeItem(id, [&](Item &it) { it.status = QStringLiteral("Analyzing ") + name + QStringLiteral("\u2026"); });
            setStatusLine(QStringLiteral("Analyzing ") + name + QStringLiteral(" on the VPS\u2026"));
            if (m_runState != RunState::running)
                throw Interrupted();
            // Not cut short by a stop: once the service has started a job, its id must be known
            // here, or a stop at this moment would leave the job running there.
            QCoro::Task<QString> starting = AnalysisEndpoints::processUpload(uploadID, workflow, token);
            const QString started = co_await starting;
            if (!self)
                co_return;
            jobID = started;
            const bool stopped = m_runState != RunState::running;
            changeItem(id, [&](Item &it) {
                it.jobID = started;
                it.jobEnded = stopped;
            });
            if (stopped) {
                ++m_serviceCancelsInFlight;
                cancelOnService(started, token);
                throw Interrupted();
            }
            m_activeJobID = started;
            m_activeToken = token;
            log(QStringLiteral("job started job_id=") + started);
        } else {
            changeItem(id, [&](Item &it) { it.status = QStringLiteral("Resuming job ") + *jobID + QStringLiteral("\u2026"); });
            setStatusLine(QStringLiteral("Resuming analysis for ") + name + QStringLiteral("\u2026"));
            setProgress(Progress{id, Progress::Stage::analysing, 0, 0, std::chrono::steady_clock::now()});
            m_activeJobID = jobID;
            m_activeToken = token;
        }
        info = co_await pollJob(*jobID, token);
        if (!self)
            co_return;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;

    if (failure) {
        if (m_runState != RunState::running) {
            changeItem(id, [](Item &it) { it.status = QStringLiteral("Stopped"); });
            co_return;
        }
        m_activeJobID.reset();
        m_activeToken.reset();
        bool timedOut = false;
        bool jobUnknown = false;
        QString message;
        try {
            std::rethrow_exception(failure);
        } catch (const RunnerError &error) {
            timedOut = error.code() == RunnerError::pollTimeoutCode;
            message = error.description();
        } catch (const service::APIError &error) {
            // A job the service does not know (it restarted, or forgot it) has ended without a
            // report: polling it again would only repeat this.
            jobUnknown = error.kind() == service::APIError::Case::badStatus && error.status() == 404;
            message = error.description();
        } catch (const std::exception &error) {
            message = describe(error);
        } catch (...) {
            message = QStringLiteral("Unknown error.");
        }
        changeItem(id, [&](Item &it) {
            it.status = timedOut ? QStringLiteral("Job ") + it.jobID.value_or(QStringLiteral("?")) + QStringLiteral(" still running")
                                 : QStringLiteral("\u2717 ") + name;
            it.errorMessage = message;
            it.succeeded = false;
            it.jobEnded = it.jobEnded || jobUnknown;
        });
        setStatusLine(QStringLiteral("Analysis failed for ") + name + QStringLiteral(": ") + shortened(message));
        co_return;
    }

    if (m_runState != RunState::running) {
        changeItem(id, [](Item &it) { it.status = QStringLiteral("Stopped"); });
        co_return;
    }
    const QString jobID = m_activeJobID.value_or(QString());
    m_activeJobID.reset();
    m_activeToken.reset();
    log(QStringLiteral("job finished job_id=") + jobID + QStringLiteral(" status=") + info->status.value_or(QStringLiteral("?"))
        + QStringLiteral(" error=") + info->errorSummary.value_or(QStringLiteral("none")));
    if (info->analysis && info->isCompleted()) {
        ++m_analyzedCount;
        changeItem(id, [&](Item &it) {
            it.analysis = info->analysis;
            it.analysisDocument = info->analysisDocument;
            it.status = QStringLiteral("\u2713 ") + name;
            it.succeeded = true;
        });
        setStatusLine(QStringLiteral("\u2713 ") + name + QStringLiteral(" \u2014 ") + QString::number(m_analyzedCount)
                      + QStringLiteral(" analysed this session."));
        co_return;
    }
    const QString message =
        info->errorSummary.value_or(QStringLiteral("status ") + info->status.value_or(QStringLiteral("unknown")));
    changeItem(id, [&](Item &it) {
        it.status = QStringLiteral("\u2717 ") + name;
        it.errorMessage = message;
        it.succeeded = false;
        it.jobEnded = true;
    });
    setStatusLine(QStringLiteral("Analysis failed for ") + name + QStringLiteral(": ") + shortened(message));
}

QCoro::Task<JobInfo> AnalysisRunner::pollJob(QString jobID, QString bearer)
{
    const QPointer<AnalysisRunner> self(this);
    const platform::CancellationToken stop = m_stop;
    const std::chrono::milliseconds interval = m_pollInterval;
    const auto deadline = std::chrono::steady_clock::now() + m_pollTimeLimit;
    for (;;) {
        if (std::chrono::steady_clock::now() >= deadline)
            throw RunnerError::pollTimeout();
        if (!self || m_runState != RunState::running)
            throw Interrupted();
        JobInfo info = co_await interruptible(AnalysisEndpoints::jobInfo(jobID, bearer), stop);
        if (info.isTerminal())
            co_return info;
        co_await interruptible(QCoro::sleepFor(interval), stop);
    }
}

AnalysisRunner::Item *AnalysisRunner::find(const QUuid &id)
{
    for (Item &item : m_items)
        if (item.id == id)
            return &item;
    return nullptr;
}

template <typename Change>
void AnalysisRunner::changeItem(const QUuid &id, Change change)
{
    Item *item = find(id);
    if (!item)
        return; // it has vanished: the step is skipped
    change(*item);
    emit itemsChanged();
}

void AnalysisRunner::setStatusLine(const QString &line)
{
    if (m_statusLine == line)
        return;
    m_statusLine = line;
    emit statusLineChanged();
}

void AnalysisRunner::setProgress(std::optional<Progress> progress)
{
    if (!progress && !m_progress)
        return;
    m_progress = std::move(progress);
    m_progressShown = std::chrono::steady_clock::now();
    emit progressChanged();
}

void AnalysisRunner::uploadAdvanced(const QUuid &id, qint64 sent, qint64 total)
{
    // A late word from an upload that was stopped, or from an earlier item, is not this item's.
    if (!m_progress || m_progress->item != id || m_progress->stage != Progress::Stage::uploading)
        return;
    m_progress->sent = sent;
    m_progress->total = total;
    // The network layer reports every few kilobytes: the page hears of it ten times a second.
    const auto now = std::chrono::steady_clock::now();
    if (sent < total && now - m_progressShown < std::chrono::milliseconds(100))
        return;
    m_progressShown = now;
    emit progressChanged();
}

void AnalysisRunner::setRunState(RunState state)
{
    if (m_runState == state)
        return;
    m_runState = state;
    emit runStateChanged();
}

void AnalysisRunner::setRunning(bool running)
{
    if (m_isRunning == running)
        return;
    m_isRunning = running;
    emit isRunningChanged();
}

void AnalysisRunner::log(const QString &message) const
{
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("analysis"), message);
}

} // namespace vorlik::analysis

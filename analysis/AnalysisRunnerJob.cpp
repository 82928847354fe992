#include "analysis/AnalysisRunner.h"

#include "analysis/AnalysisEndpoints.h"
#include "analysis/FileError.h"
#include "analysis/Interruptible.h"
#include "analysis/RunnerError.h"
#include "service/APIError.h"
#include "service/SessionStore.h"

#include <QCoroTimer>
#include <QFile>

#include <cerrno>
#include <sys/stat.h>

// One item's way through the service: upload, job, polling, and how it ended.
namespace vorlik::analysis {
namespace {

const QString workflow = QStringLiteral("audio_info");

// The file's size from the file system; the system's reason when it cannot be read.
qint64 fileSize(const QUrl &input, const QString &name)
{
    struct stat attributes {};
    if (::stat(QFile::encodeName(input.toLocalFile()).constData(), &attributes) != 0)
        throw FileError(FileError::Operation::read, name, errno);
    return qint64(attributes.st_size);
}

} // namespace

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

} // namespace vorlik::analysis

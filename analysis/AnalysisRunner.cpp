#include "analysis/AnalysisRunner.h"

#include "analysis/AnalysisEndpoints.h"
#include "app/ActiveJobs.h"
#include "platform/Graphemes.h"
#include "convert/MediaScanner.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "service/SessionStore.h"

#include <QTimer>

#include <algorithm>

namespace vorlik::analysis {
namespace {

const QString activityKey = QStringLiteral("Analysis");

QString plural(qint64 count) { return count == 1 ? QString() : QStringLiteral("s"); }

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

AnalysisRunner::Item *AnalysisRunner::find(const QUuid &id)
{
    for (Item &item : m_items)
        if (item.id == id)
            return &item;
    return nullptr;
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
    // The bar counts the file's bytes against its size, as shown from the start; the request's
    // multipart head and tail around them are spread over them.
    const qint64 size = m_progress->total;
    m_progress->sent = total > 0 ? qint64(double(std::min(sent, total)) / double(total) * double(size)) : 0;
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

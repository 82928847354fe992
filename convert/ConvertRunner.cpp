// The convert runner's queue and state: adding files, the item operations of an idle runner and
// the published properties. The loop itself is in ConvertRunnerLoop.cpp.
#include "convert/ConvertRunner.h"

#include "app/ActiveJobs.h"
#include "convert/MediaScanner.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "ffmpeg/Preferences.h"
#include "platform/Settings.h"
#include "convert/ConvertRunnerRun.h"

#include <QThread>

#include <algorithm>

namespace vorlik::convert {
namespace {

// "1 file" / "3 files".
QString files(qsizetype count)
{
    return QString::number(count) + (count == 1 ? QStringLiteral(" file") : QStringLiteral(" files"));
}

} // namespace

ConvertRunner::ConvertRunner(QObject *parent) : QObject(parent) {}

ConvertRunner::~ConvertRunner()
{
    if (m_runState == RunState::idle)
        return;
    // The loop notices the runner is gone when it resumes; its ffmpeg must not run on for nobody.
    m_runCancellation.cancel();
    m_processBox->requestTermination();
    app::ActiveJobs::shared().end(jobKey);
}

QList<QueueItem> ConvertRunner::items(const QString &forPreset) const
{
    QList<QueueItem> result;
    for (const QueueItem &item : m_items) {
        if (item.presetID == forPreset)
            result.append(item);
    }
    return result;
}

bool ConvertRunner::hasPending() const
{
    return std::any_of(m_items.cbegin(), m_items.cend(), [](const QueueItem &item) { return item.isPending(); });
}

void ConvertRunner::setStatusLine(const QString &line)
{
    if (line == m_statusLine)
        return;
    m_statusLine = line;
    emit statusLineChanged();
}

void ConvertRunner::setRunState(RunState state)
{
    if (state == m_runState)
        return;
    m_runState = state;
    emit runStateChanged();
}

void ConvertRunner::setIsRunning(bool running)
{
    if (running == m_isRunning)
        return;
    m_isRunning = running;
    emit isRunningChanged();
}

void ConvertRunner::queue(const QList<QUrl> &urls, const QString &presetID)
{
    QStringList paths;
    paths.reserve(urls.size());
    for (const QUrl &url : urls) {
        // Anything that is not a local file names no file: the scanner passes an empty path over.
        paths.append(url.isLocalFile() ? url.toLocalFile() : QString());
    }
    queue(paths, presetID);
}

void ConvertRunner::queue(const QStringList &paths, const QString &presetID)
{
    const QStringList found = MediaScanner::collect(paths, MediaScanner::mediaExtensions());
    qsizetype added = 0;
    qsizetype skipped = 0;
    for (const QString &file : found) {
        const std::optional<QString> destination = ffmpeg::Preferences::exportDirectory(file);
        if (!destination) {
            ++skipped;
            continue;
        }
        // The same file for the same preset and folder is one item, whatever its state: retry
        // is the way to run it again.
        const bool duplicate = std::any_of(m_items.cbegin(), m_items.cend(), [&](const QueueItem &item) {
            return item.input == file && item.presetID == presetID && item.destination == *destination;
        });
        if (duplicate)
            continue;
        QueueItem item;
        item.id = QUuid::createUuid();
        item.input = file;
        item.destination = *destination;
        item.presetID = presetID;
        item.status = QStringLiteral("Queued");
        m_items.append(std::move(item));
        ++added;
    }
    if (added > 0) {
        emit itemsChanged();
        // A run going now takes the new items up; lanes that found nothing left come back.
        if (const std::shared_ptr<Run> run = m_run.lock(); run && m_runState == RunState::running)
            addLanes(QPointer<ConvertRunner>(this), run);
    }

    QStringList sentences;
    if (added > 0)
        sentences.append(files(added) + QStringLiteral(" added to the queue."));
    else if (!paths.isEmpty() && skipped == 0)
        // Files skipped for want of a folder (all or none of them are) say so themselves.
        sentences.append(QStringLiteral("Nothing new to add."));
    if (skipped > 0)
        sentences.append(files(skipped) + QStringLiteral(" skipped — choose a valid export folder in Preferences."));
    setStatusLine(sentences.join(u' '));
}

void ConvertRunner::clearFinished()
{
    if (m_runState != RunState::idle)
        return;
    const qsizetype removed = m_items.removeIf([](const QueueItem &item) { return !item.isPending(); });
    if (removed > 0)
        emit itemsChanged();
}

void ConvertRunner::remove(const QUuid &id)
{
    if (m_runState != RunState::idle)
        return;
    if (m_items.removeIf([&](const QueueItem &item) { return item.id == id; }) > 0)
        emit itemsChanged();
}

void ConvertRunner::retry(const QUuid &id)
{
    if (m_runState != RunState::idle)
        return;
    updateItem(id, [](QueueItem &item) {
        item.status = QStringLiteral("Queued");
        item.succeeded.reset();
        item.output.reset();
        item.errorDetail.reset();
        item.note.reset();
    });
}

const QueueItem *ConvertRunner::find(const QUuid &id) const
{
    for (const QueueItem &item : m_items) {
        if (item.id == id)
            return &item;
    }
    return nullptr;
}

void ConvertRunner::updateItem(const QUuid &id, const std::function<void(QueueItem &)> &change)
{
    for (QueueItem &item : m_items) {
        if (item.id != id)
            continue;
        QueueItem changed = item;
        change(changed);
        if (changed == item)
            return;
        item = std::move(changed);
        emit itemsChanged();
        return;
    }
}

void ConvertRunner::finishRun()
{
    setRunState(RunState::idle);
    setIsRunning(false);
    m_processBox->clear();
    app::ActiveJobs::shared().end(jobKey);
    if (!m_stopRequested) {
        qsizetype done = 0;
        qsizetype failed = 0;
        for (const QueueItem &item : std::as_const(m_items)) {
            if (item.succeeded == true)
                ++done;
            else if (item.succeeded == false)
                ++failed;
        }
        setStatusLine(QStringLiteral("Queue finished — ") + QString::number(done) + QStringLiteral(" done, ")
                      + QString::number(failed) + QStringLiteral(" failed."));
    } else {
        const qsizetype pending = std::count_if(m_items.cbegin(), m_items.cend(),
                                                [](const QueueItem &item) { return item.isPending(); });
        setStatusLine(pending == 0 ? QStringLiteral("Stopped.")
                                   : QStringLiteral("Stopped — ") + files(pending) + QStringLiteral(" still queued."));
    }
    m_stopRequested = false;
    emit runFinished();
}

void ConvertRunner::setSimultaneousConversions(int count)
{
    m_simultaneous = std::clamp(count, 1, maximumSimultaneousConversions());
}

int ConvertRunner::simultaneousConversions(const platform::Settings &settings)
{
    bool ok = false;
    const int count = settings.string(QStringLiteral("simultaneousConversions")).trimmed().toInt(&ok);
    return ok && count > 1 ? count : 1;
}

int ConvertRunner::maximumSimultaneousConversions()
{
    return std::max(1, QThread::idealThreadCount());
}

std::optional<ConversionProgress> ConvertRunner::progress(const QUuid &id) const
{
    const auto found = m_progress.constFind(id);
    if (found == m_progress.constEnd())
        return std::nullopt;
    return *found;
}

QueueProgress ConvertRunner::queueProgress(ConversionProgress::Clock::time_point now) const
{
    std::optional<std::chrono::milliseconds> typical;
    if (m_finishedCount > 0)
        typical = m_finishedTime / m_finishedCount;
    return QueueProgress::of(m_items, m_progress, typical, m_simultaneous, now);
}

void ConvertRunner::beginProgress(const QUuid &id)
{
    const auto now = ConversionProgress::Clock::now();
    m_progress.insert(id, ConversionProgress{now, now, std::nullopt});
    emit progressChanged(id);
}

void ConvertRunner::advanceProgress(const QUuid &id, const FFmpegProgress &progress)
{
    const auto found = m_progress.find(id);
    if (found == m_progress.end())
        return;
    if (progress.position().count() == 0 && !progress.duration())
        found->passStarted = ConversionProgress::Clock::now(); // a new ffmpeg run
    const std::optional<double> fraction = progress.fraction();
    if (fraction == found->fraction && progress.position().count() != 0)
        return;
    found->fraction = fraction;
    emit progressChanged(id);
}

void ConvertRunner::endProgress(const QUuid &id, bool finished)
{
    const auto found = m_progress.find(id);
    if (found == m_progress.end())
        return;
    if (finished) {
        m_finishedTime += found->elapsed(ConversionProgress::Clock::now());
        ++m_finishedCount;
    }
    m_progress.erase(found);
    emit progressChanged(id);
}

void ConvertRunner::log(const QString &message)
{
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("convert"), message);
}

} // namespace vorlik::convert

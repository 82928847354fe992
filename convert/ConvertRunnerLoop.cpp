// The convert runner's loop: starting and stopping a run, and converting one item.
#include "convert/ConvertRunner.h"

#include "app/ActiveJobs.h"
#include "convert/ConvertRunnerRun.h"
#include "convert/LoudnessPlaceholders.h"
#include "convert/OutputName.h"
#include "convert/TemplateError.h"
#include "platform/Failure.h"
#include "service/SessionStore.h"

#include <QCoroTimer>
#include <QFileInfo>
#include <QThread>

namespace vorlik::convert {

using service::Preset;

// Frees an output name chosen for a conversion when the conversion ends: by then the file is in
// place under it, or there is none.
struct ConvertRunner::Reservation {
    std::shared_ptr<Run> run;
    QString name;
    ~Reservation() { run->reservedNames.remove(name); }
};

// Ends an item's progress however its conversion ends.
struct ConvertRunner::ProgressScope {
    QPointer<ConvertRunner> self;
    QUuid id;
    ~ProgressScope()
    {
        if (!self)
            return;
        const QueueItem *item = self->find(id);
        self->endProgress(id, item && !item->isPending());
    }
};

void ConvertRunner::run(QList<Preset> presets, QString ffmpeg, service::SessionStore *store)
{
    if (m_runState != RunState::idle)
        return;
    m_stopRequested = false;
    m_runCancellation = CancellationToken();
    m_processBox->reset();
    ++m_runNumber;
    m_finishedTime = std::chrono::milliseconds(0);
    m_finishedCount = 0;
    auto run = std::make_shared<Run>();
    run->presets = std::move(presets);
    run->ffmpeg = std::move(ffmpeg);
    run->store = store;
    run->cancellation = m_runCancellation;
    run->box = m_processBox;
    run->number = m_runNumber;
    run->lanes = m_simultaneous;
    m_run = run;

    // Running from here on, not only once the loop has begun: a second run in this turn is
    // refused, and a stop from now on reaches the loop.
    setRunState(RunState::running);
    setIsRunning(true);
    app::ActiveJobs::shared().begin(jobKey);
    setStatusLine(QStringLiteral("Running…"));
    addLanes(QPointer<ConvertRunner>(this), run);
}

void ConvertRunner::addLanes(QPointer<ConvertRunner> self, const std::shared_ptr<Run> &run)
{
    // Each lane is counted before it starts: one that finds nothing left ends the run at once,
    // and then no further lane starts. A lane runs until its first wait before work() returns,
    // so a further one starts only for an item no lane has taken yet; the first always starts,
    // so that an empty queue ends the run.
    while (self && self->m_runState == RunState::running && run->activeLanes < run->lanes
           && (run->activeLanes == 0 || self->nextUntaken(*run) != self->m_items.cend())) {
        ++run->activeLanes;
        work(self, run); // runs on by itself; holds the runner weakly
    }
}

QList<QueueItem>::const_iterator ConvertRunner::nextUntaken(const Run &run) const
{
    return std::find_if(m_items.cbegin(), m_items.cend(),
                        [&](const QueueItem &item) { return item.isPending() && !run.taken.contains(item.id); });
}

QCoro::Task<void> ConvertRunner::work(QPointer<ConvertRunner> self, std::shared_ptr<Run> run)
{
    while (self && self->m_runState == RunState::running) {
        auto next = self->nextUntaken(*run);
        if (next == self->m_items.cend())
            break;
        QUuid id = next->id;
        QString presetID = next->presetID;
        QString name = QFileInfo(next->input).fileName();
        run->taken.insert(id);

        auto preset = std::find_if(run->presets.cbegin(), run->presets.cend(),
                                   [&](const Preset &candidate) { return candidate.id == presetID; });
        if (preset == run->presets.cend()) {
            self->updateItem(id, [&](QueueItem &item) {
                item.status = QStringLiteral("✗ Script unavailable");
                item.succeeded = false;
                item.errorDetail = QStringLiteral("The script '") + presetID
                    + QStringLiteral("' is not in the current preset list. Refresh scripts and retry.");
            });
            self->setStatusLine(name + QStringLiteral(": script '") + presetID + QStringLiteral("' is unavailable."));
            continue;
        }
        QCoro::Task<void> converting = convert(self, run, id, *preset);
        co_await converting;
    }
    // Every lane leaves the run once; the last one ends it.
    if (--run->activeLanes == 0 && self && self->m_runNumber == run->number && self->m_runState != RunState::idle)
        self->finishRun();
}

QCoro::Task<void> ConvertRunner::convert(QPointer<ConvertRunner> self, std::shared_ptr<Run> run, QUuid itemID,
                                         Preset preset)
{
    const QueueItem *found = self->find(itemID);
    if (!found)
        co_return;
    QueueItem item = *found;
    QString name = QFileInfo(item.input).fileName();
    // A preset that measures its source says so from the start: that is what runs first.
    QString starting = (preset.loudness ? QStringLiteral("Measuring ") : QStringLiteral("Converting ")) + name
        + QStringLiteral("…");
    self->updateItem(itemID, [&](QueueItem &entry) { entry.status = starting; });
    self->setStatusLine(starting);

    // The report of this item goes out with the token of this moment, whatever happens later.
    std::optional<QString> token;
    if (run->store && run->store->session())
        token = run->store->session()->accessToken;

    QString stem = OutputName::stem(name);
    QString base = stem + preset.suffix;
    // A name chosen by a conversion running beside this one is not free, though nothing is there yet.
    QString finalPath = OutputName::firstFree(item.destination, base, preset.outputExt, run->reservedNames);
    run->reservedNames.insert(finalPath);
    const Reservation reservation{run, finalPath};
    self->beginProgress(itemID);
    const ProgressScope progressScope{self, itemID};
    QString temporaryBase = OutputName::temporaryBase(item.destination, stem);
    QString temporaryFile = temporaryBase + preset.outputExt;

    QStringList arguments;
    try {
        // A measuring script is checked with its placeholders filled, before anything is measured.
        arguments = buildArguments(preset.command, item.input, temporaryBase,
                                   preset.loudness ? LoudnessPlaceholders::sample() : Placeholders{});
    } catch (const TemplateError &error) {
        self->markScriptRejected(itemID, name, error.description());
        cleanupPartial(temporaryBase);
        co_return;
    }

    std::shared_ptr<ProcessBox> box = run->box;
    auto publish = [box](QProcess &process) { box->store(&process); };

    QStringList channelLimit;
    if (preset.maxChannels) {
        // The probe is published like the conversion, so a stop reaches it (and kills it when it
        // will not leave) the same way.
        QCoro::Task<std::optional<int>> probing = probeChannelCount(run->ffmpeg, item.input, run->cancellation, publish);
        std::optional<int> count = co_await probing;
        box->clear();
        if (!self) {
            cleanupPartial(temporaryBase);
            co_return;
        }
        if (count && *count > *preset.maxChannels) {
            QString limit = QString::number(*preset.maxChannels);
            channelLimit = {QStringLiteral("-ac"), limit};
            log(QStringLiteral("downmix ") + QString::number(*count) + QStringLiteral("ch -> ") + limit
                + QStringLiteral("ch for ") + preset.id);
        }
    }

    if (self->m_runState != RunState::running) {
        // Stopped during the probe: the row says so rather than keep its converting text.
        self->markStopped(itemID);
        cleanupPartial(temporaryBase);
        co_return;
    }

    log(QStringLiteral("start preset=") + preset.id + QStringLiteral(" input=") + item.input
        + QStringLiteral(" output=") + finalPath);
    std::optional<Produced> produced;
    if (preset.loudness) {
        QCoro::Task<std::optional<Produced>> measuring =
            produceMeasured(self, run, itemID, preset, temporaryBase, channelLimit);
        produced = co_await measuring;
    } else {
        QCoro::Task<std::optional<QString>> running =
            produce(self, run, itemID, name, withChannelLimit(arguments, channelLimit), temporaryFile);
        if (std::optional<QString> file = co_await running)
            produced = Produced{*file, std::nullopt};
    }
    if (!self || !produced) {
        cleanupPartial(temporaryBase);
        co_return;
    }

    QString placed;
    try {
        placed = OutputName::moveIntoPlace(produced->file, finalPath, item.destination, base, preset.outputExt,
                                           run->reservedNames);
    } catch (const Failure &error) {
        const QString description = error.description();
        self->updateItem(itemID, [&](QueueItem &entry) {
            entry.status = QStringLiteral("✗ Could not save output");
            entry.succeeded = false;
            entry.errorDetail = description;
        });
        self->setStatusLine(QStringLiteral("Failed ") + name + QStringLiteral(": ") + description);
        cleanupPartial(temporaryBase);
        co_return;
    }

    QString outputName = QFileInfo(placed).fileName();
    self->updateItem(itemID, [&](QueueItem &entry) {
        entry.status = QStringLiteral("✓ Done → ") + outputName;
        entry.succeeded = true;
        entry.output = placed;
        entry.note = produced->note;
    });
    self->endProgress(itemID, true); // done, whatever the usage report does next
    log(QStringLiteral("done output=") + placed);
    if (produced->note)
        log(QStringLiteral("short of the goal: ") + *produced->note);

    if (token && run->store) {
        qint64 size = QFileInfo(item.input).size(); // 0 when it cannot be read
        QCoro::Task<bool> reporting = run->store->reportUsage(*token, preset.id, 1, size, name);
        bool reported = co_await reporting;
        if (self && !reported) {
            self->updateItem(itemID,
                             [](QueueItem &entry) { entry.status += QStringLiteral(" (usage not reported)"); });
            self->setStatusLine(QStringLiteral("✓ ") + outputName
                                + QStringLiteral(" — usage reporting failed and will retry."));
        }
    }
    cleanupPartial(temporaryBase);
}

QCoro::Task<std::optional<QString>> ConvertRunner::produce(QPointer<ConvertRunner> self, std::shared_ptr<Run> run,
                                                           QUuid itemID, QString name, QStringList arguments,
                                                           QString expectedFile)
{
    std::shared_ptr<ProcessBox> box = run->box;
    auto publish = [box](QProcess &process) { box->store(&process); };
    auto advanced = [self, itemID](const FFmpegProgress &progress) {
        if (self)
            self->advanceProgress(itemID, progress);
    };
    if (self)
        self->advanceProgress(itemID, FFmpegProgress()); // a new ffmpeg run starts from nothing
    QCoro::Task<ShellOutcome> running = runFFmpeg(run->ffmpeg, arguments, publish, run->cancellation, advanced);
    ShellOutcome outcome = co_await running;
    box->clear();
    if (!self)
        co_return std::nullopt;

    if (self->m_runState != RunState::running || run->cancellation.isCancelled()) {
        self->markStopped(itemID);
        co_return std::nullopt;
    }

    if (!outcome.isSuccess()) {
        QString summary = summarise(outcome.stderrTail());
        QString code = QString::number(outcome.exitCode());
        self->updateItem(itemID, [&](QueueItem &entry) {
            entry.status = QStringLiteral("✗ Failed (exit ") + code + u')';
            entry.succeeded = false;
            entry.errorDetail = summary;
        });
        self->setStatusLine(QStringLiteral("Failed ") + name + QStringLiteral(": ") + summary);
        log(QStringLiteral("failed exit=") + code + QStringLiteral(" stderr=") + summary);
        co_return std::nullopt;
    }

    if (!QFileInfo::exists(expectedFile)) {
        self->updateItem(itemID, [](QueueItem &entry) {
            entry.status = QStringLiteral("✗ No output produced");
            entry.succeeded = false;
            entry.errorDetail = QStringLiteral("The script finished but did not create the expected output file.");
        });
        self->setStatusLine(QStringLiteral("Failed ") + name + QStringLiteral(": the script produced no output."));
        co_return std::nullopt;
    }
    co_return expectedFile;
}

QStringList ConvertRunner::withChannelLimit(QStringList arguments, const QStringList &channelLimit)
{
    if (channelLimit.isEmpty())
        return arguments;
    const qsizetype at = arguments.isEmpty() ? 0 : arguments.size() - 1;
    for (qsizetype i = 0; i < channelLimit.size(); ++i)
        arguments.insert(at + i, channelLimit.at(i));
    return arguments;
}

void ConvertRunner::markStopped(const QUuid &id)
{
    updateItem(id, [](QueueItem &entry) { entry.status = QStringLiteral("Stopped"); });
}

void ConvertRunner::markScriptRejected(const QUuid &id, const QString &name, const QString &description)
{
    updateItem(id, [&](QueueItem &entry) {
        entry.status = QStringLiteral("✗ Script rejected");
        entry.succeeded = false;
        entry.errorDetail = description;
    });
    setStatusLine(QStringLiteral("Skipped ") + name + QStringLiteral(": ") + description);
}

void ConvertRunner::cancel()
{
    if (m_runState != RunState::running)
        return;
    m_stopRequested = true;
    setRunState(RunState::stopping);
    setStatusLine(QStringLiteral("Stopping…"));
    // Ends a probe or conversion in progress (SIGTERM); one that has not started yet is
    // terminated the moment it starts.
    m_runCancellation.cancel();
    QList<QPointer<QProcess>> remembered = m_processBox->requestTermination();
    forceKillLater(QPointer<ConvertRunner>(this), m_runNumber, remembered, m_processBox);
}

void ConvertRunner::cancelNow()
{
    cancel();
    if (m_runState != RunState::stopping)
        return;
    for (const QPointer<QProcess> &process : m_processBox->processes()) {
        if (!process || process->state() == QProcess::NotRunning)
            continue;
        log(QStringLiteral("killing ffmpeg pid=") + QString::number(process->processId()));
        process->kill();
    }
}

QCoro::Task<void> ConvertRunner::forceKillLater(QPointer<ConvertRunner> self, quint64 runNumber,
                                                QList<QPointer<QProcess>> remembered, std::shared_ptr<ProcessBox> box)
{
    co_await QCoro::sleepFor(forceKillDelay);
    // A later run (stopped again) has its own timer.
    if (!self || self->m_runState != RunState::stopping || self->m_runNumber != runNumber)
        co_return;
    // The processes seen at the stop, and those started since.
    for (const QPointer<QProcess> &process : box->processes()) {
        if (!remembered.contains(process))
            remembered.append(process);
    }
    for (const QPointer<QProcess> &process : std::as_const(remembered)) {
        if (!process || process->state() == QProcess::NotRunning)
            continue;
        log(QStringLiteral("force-killing ffmpeg pid=") + QString::number(process->processId()));
        process->kill();
    }
}

} // namespace vorlik::convert

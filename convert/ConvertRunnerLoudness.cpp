// The conversion of a preset that measures its source first: the measurement, then as many
// conversions as the gain search needs, each measured in turn, and the output to keep.
#include "convert/ConvertRunner.h"

#include "convert/ConvertRunnerRun.h"
#include "convert/LoudnessMeter.h"
#include "convert/LoudnessPlaceholders.h"
#include "convert/LoudnessSearch.h"
#include "convert/TemplateError.h"

#include <QFile>
#include <QFileInfo>

namespace vorlik::convert {
namespace {

QString describe(const Loudness &loudness)
{
    return QStringLiteral("I=") + QString::number(loudness.integrated, 'f', 1) + QStringLiteral(" TP=")
        + QString::number(loudness.truePeak, 'f', 1) + QStringLiteral(" LRA=") + QString::number(loudness.range, 'f', 1)
        + QStringLiteral(" thresh=") + QString::number(loudness.threshold, 'f', 1);
}

} // namespace

QCoro::Task<std::optional<ConvertRunner::Produced>>
ConvertRunner::produceMeasured(QPointer<ConvertRunner> self, std::shared_ptr<Run> run, QUuid itemID,
                               service::Preset preset, QString temporaryBase, QStringList channelLimit)
{
    const QueueItem *found = self->find(itemID);
    if (!found)
        co_return std::nullopt;
    const QString input = found->input;
    const QString name = QFileInfo(input).fileName();
    std::shared_ptr<ProcessBox> box = run->box;
    auto publish = [box](QProcess &process) { box->store(&process); };

    // Measures a file; on failure the item says why and there is no reading.
    auto measured = [&](const QString &file) -> QCoro::Task<std::optional<Loudness>> {
        // A measurement has no fraction of its own: the row counts its seconds rather than keep
        // the last conversion's "100%", and the queue does not take the item for nearly done.
        if (self)
            self->advanceProgress(itemID, FFmpegProgress());
        QCoro::Task<LoudnessReading> measuring = LoudnessMeter::measure(run->ffmpeg, file, run->cancellation, publish);
        LoudnessReading reading = co_await measuring;
        box->clear();
        if (!self)
            co_return std::nullopt;
        if (self->m_runState != RunState::running || run->cancellation.isCancelled()) {
            self->markStopped(itemID);
            co_return std::nullopt;
        }
        if (reading.loudness)
            co_return reading.loudness;
        // A measuring run that failed reads like a conversion that failed; one that ended well
        // without the meter's summary is a measurement that failed.
        const ShellOutcome &outcome = reading.outcome;
        const QString status = outcome.isSuccess() ? QStringLiteral("✗ Measurement failed")
                                                   : QStringLiteral("✗ Failed (exit ") + QString::number(outcome.exitCode()) + u')';
        const QString summary = outcome.isSuccess()
            ? QStringLiteral("ffmpeg's loudness meter gave no result for ") + QFileInfo(file).fileName() + u'.'
            : summarise(outcome.stderrTail());
        self->updateItem(itemID, [&](QueueItem &entry) {
            entry.status = status;
            entry.succeeded = false;
            entry.errorDetail = summary;
        });
        self->setStatusLine(QStringLiteral("Failed ") + name + QStringLiteral(": ") + summary);
        log(QStringLiteral("measurement failed exit=") + QString::number(outcome.exitCode()) + QStringLiteral(" file=")
            + file + QStringLiteral(" stderr=") + summary);
        co_return std::nullopt;
    };

    // The measurement can take a minute; an output folder that cannot be written would only
    // fail after it.
    {
        QFile probe(temporaryBase + preset.outputExt);
        if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            const QString description = QStringLiteral("Could not write the converted file in ")
                + QFileInfo(temporaryBase).path() + QStringLiteral(": ") + probe.errorString();
            self->updateItem(itemID, [&](QueueItem &entry) {
                entry.status = QStringLiteral("✗ Could not save output");
                entry.succeeded = false;
                entry.errorDetail = description;
            });
            self->setStatusLine(QStringLiteral("Failed ") + name + QStringLiteral(": ") + description);
            co_return std::nullopt;
        }
        probe.remove();
    }

    QCoro::Task<std::optional<Loudness>> measuringSource = measured(input);
    const std::optional<Loudness> source = co_await measuringSource;
    if (!self || !source)
        co_return std::nullopt;
    log(QStringLiteral("measured ") + describe(*source) + QStringLiteral(" for ") + preset.id);

    LoudnessSearch search(*preset.loudness, *source);
    std::optional<LoudnessSearch::Setting> setting = search.first();
    QString kept; // the best output so far; every other one is removed as soon as it is beaten

    // A later pass that fails (a full disk, say) after an earlier one made an output under the
    // ceiling: that output is delivered, and the item says what happened.
    auto keepEarlier = [&]() -> std::optional<Produced> {
        if (!self || kept.isEmpty() || !search.holdsCeiling() || self->m_runState != RunState::running
            || run->cancellation.isCancelled())
            return std::nullopt;
        QString failure;
        self->updateItem(itemID, [&](QueueItem &entry) {
            failure = entry.errorDetail.value_or(entry.status);
            entry.status = QStringLiteral("Converting ") + name + QStringLiteral("…");
            entry.succeeded.reset();
            entry.errorDetail.reset();
        });
        self->setStatusLine(name + QStringLiteral(": a further pass failed; the output of an earlier one is kept."));
        log(QStringLiteral("keeping the output of an earlier pass: ") + failure);
        QString note = QStringLiteral("A further pass failed (") + failure
            + QStringLiteral("); the output of an earlier pass is kept.");
        if (const std::optional<QString> shortfall = search.shortfall())
            note += u' ' + *shortfall;
        return Produced{kept, note};
    };

    for (int pass = 1; setting; ++pass) {
        const QString base = pass == 1 ? temporaryBase : temporaryBase + u'-' + QString::number(pass);
        QStringList arguments;
        try {
            arguments = buildArguments(preset.command, input, base, LoudnessPlaceholders::of(*source, setting->gain, setting->limit));
        } catch (const TemplateError &error) {
            // Only a path can bring a new fault in here: the script itself was checked before.
            self->markScriptRejected(itemID, name, error.description());
            co_return std::nullopt;
        }

        const QString converting = QStringLiteral("Converting ") + name
            + (pass == 1 ? QStringLiteral("…") : QStringLiteral(" again…"));
        self->updateItem(itemID, [&](QueueItem &entry) { entry.status = converting; });
        self->setStatusLine(converting);
        QCoro::Task<std::optional<QString>> producing =
            produce(self, run, itemID, name, withChannelLimit(arguments, channelLimit), base + preset.outputExt);
        const std::optional<QString> file = co_await producing;
        if (!self)
            co_return std::nullopt;
        if (!file)
            co_return keepEarlier();

        const QString checking = QStringLiteral("Checking ") + name + QStringLiteral("…");
        self->updateItem(itemID, [&](QueueItem &entry) { entry.status = checking; });
        self->setStatusLine(checking);
        QCoro::Task<std::optional<Loudness>> measuringOutput = measured(*file);
        const std::optional<Loudness> result = co_await measuringOutput;
        if (!self)
            co_return std::nullopt;
        if (!result) {
            QFile::remove(*file);
            co_return keepEarlier();
        }
        log(QStringLiteral("pass ") + QString::number(pass) + QStringLiteral(" gain=")
            + QString::number(setting->gain, 'f', 2) + QStringLiteral(" limit=") + QString::number(setting->limit, 'f', 2)
            + QStringLiteral(" -> ") + describe(*result));

        setting = search.next({*setting, *result, *file});
        const QString best = search.best().file;
        if (!kept.isEmpty() && kept != best)
            QFile::remove(kept);
        if (*file != best)
            QFile::remove(*file);
        kept = best;
    }
    if (!search.holdsCeiling()) {
        // Never delivered: an output over the ceiling is the one thing this preset promises not to make.
        QFile::remove(kept);
        const QString detail = search.shortfall().value_or(QString());
        self->updateItem(itemID, [&](QueueItem &entry) {
            entry.status = QStringLiteral("✗ Ceiling not held");
            entry.succeeded = false;
            entry.errorDetail = detail;
        });
        self->setStatusLine(QStringLiteral("Failed ") + name + QStringLiteral(": ") + detail);
        log(QStringLiteral("ceiling not held: ") + detail);
        co_return std::nullopt;
    }
    co_return Produced{kept, search.shortfall()};
}

} // namespace vorlik::convert

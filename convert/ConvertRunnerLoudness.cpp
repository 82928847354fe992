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

    QCoro::Task<std::optional<Loudness>> measuringSource = measured(input);
    const std::optional<Loudness> source = co_await measuringSource;
    if (!self || !source)
        co_return std::nullopt;
    log(QStringLiteral("measured ") + describe(*source) + QStringLiteral(" for ") + preset.id);

    LoudnessSearch search(*preset.loudness, *source);
    std::optional<LoudnessSearch::Setting> setting = search.first();
    QString kept; // the best output so far; every other one is removed as soon as it is beaten
    for (int pass = 1; setting; ++pass) {
        const QString base = pass == 1 ? temporaryBase : temporaryBase + u'-' + QString::number(pass);
        QStringList arguments;
        try {
            arguments = buildArguments(preset.command, input, base, LoudnessPlaceholders::of(*source, setting->gain, setting->limit));
        } catch (const TemplateError &error) {
            // Only a path can bring a new fault in here: the script itself was checked before.
            const QString description = error.description();
            self->updateItem(itemID, [&](QueueItem &entry) {
                entry.status = QStringLiteral("✗ Script rejected");
                entry.succeeded = false;
                entry.errorDetail = description;
            });
            self->setStatusLine(QStringLiteral("Skipped ") + name + QStringLiteral(": ") + description);
            co_return std::nullopt;
        }

        const QString converting = QStringLiteral("Converting ") + name
            + (pass == 1 ? QStringLiteral("…") : QStringLiteral(" again…"));
        self->updateItem(itemID, [&](QueueItem &entry) { entry.status = converting; });
        self->setStatusLine(converting);
        QCoro::Task<std::optional<QString>> producing =
            produce(self, run, itemID, name, withChannelLimit(arguments, channelLimit), base + preset.outputExt);
        const std::optional<QString> file = co_await producing;
        if (!self || !file)
            co_return std::nullopt;

        const QString checking = QStringLiteral("Checking ") + name + QStringLiteral("…");
        self->updateItem(itemID, [&](QueueItem &entry) { entry.status = checking; });
        self->setStatusLine(checking);
        QCoro::Task<std::optional<Loudness>> measuringOutput = measured(*file);
        const std::optional<Loudness> result = co_await measuringOutput;
        if (!self || !result)
            co_return std::nullopt;
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
    co_return Produced{kept, search.shortfall()};
}

} // namespace vorlik::convert

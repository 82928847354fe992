#include "app/cli/ConvertCommand.h"

#include "app/cli/Commands.h"
#include "app/cli/ConnectCommand.h"
#include "app/cli/InterruptWatch.h"
#include "app/cli/TerminalProgress.h"
#include "convert/ConvertRunner.h"
#include "ffmpeg/Preferences.h"
#include "platform/Settings.h"
#include "service/SessionStore.h"

#include <QCoroSignal>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryFile>
#include <QTimer>


namespace vorlik::app {
namespace {

using convert::ConvertRunner;
using convert::QueueItem;

// "--jobs N": a whole number of at least 1.
std::optional<int> jobCount(const QString &text)
{
    bool ok = false;
    const int count = text.toInt(&ok);
    return ok && count >= 1 ? std::optional<int>(count) : std::nullopt;
}

// Why `folder` cannot take the outputs, if it cannot. Writing is tried, not judged from the
// folder's mode: the superuser passes every access check, also on a read-only file system.
std::optional<QString> outputFolderProblem(const QString &folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return QStringLiteral("no folder at ") + folder;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".vorlik-write-check-XXXXXX")));
    if (!probe.open())
        return QStringLiteral("cannot write into ") + folder;
    return std::nullopt;
}

// Prints the rows whose text changed since they were last printed, as the Convert page shows
// them: file name, preset name, status, and under it the done row's note. What went wrong with a
// failed row goes to the error stream ("✗ a.wav: Failed (exit 1) — …").
class RowPrinter {
public:
    RowPrinter(const ConvertRunner &runner, const QList<service::Preset> &presets, QTextStream &out, QTextStream &err)
        : m_runner(runner), m_out(out), m_err(err)
    {
        for (const service::Preset &preset : presets)
            m_presetNames.insert(preset.id, preset.name);
    }

    void print()
    {
        for (const QueueItem &item : m_runner.items()) {
            QString &shown = m_shown[item.id];
            if (shown == item.status)
                continue;
            shown = item.status;
            m_out << QFileInfo(item.input).fileName() << '\t' << m_presetNames.value(item.presetID, item.presetID) << '\t'
                  << item.status << Qt::endl;
            if (item.succeeded == false) {
                QString reason = item.status;
                if (reason.startsWith(QStringLiteral("✗ ")))
                    reason.remove(0, 2);
                if (item.errorDetail)
                    reason += QStringLiteral(" — ") + *item.errorDetail;
                m_err << "✗ " << QFileInfo(item.input).fileName() << ": " << reason << Qt::endl;
            }
            if (item.succeeded == true && item.note)
                m_out << "  " << *item.note << Qt::endl;
        }
    }

private:
    const ConvertRunner &m_runner;
    QTextStream &m_out;
    QTextStream &m_err;
    QHash<QString, QString> m_presetNames;
    QHash<QUuid, QString> m_shown;
};

} // namespace

QCoro::Task<int> runConvertCommand(CommandLine line, QTextStream &out, QTextStream &err, InterruptWatch &interrupt)
{
    // Before there is a run, a signal has nothing to stop or clean up; it is heard from here on,
    // so that the output folder's check never leaves its trial file behind.
    interrupt.listen([](int) { InterruptWatch::exitNow(exitFailed); });
    const std::optional<QString> presetID = line.option(QStringLiteral("preset"));
    if (!presetID || presetID->isEmpty()) {
        err << "vorlik: convert needs --preset ID (see 'vorlik help convert')" << Qt::endl;
        co_return exitUsage;
    }
    std::optional<int> jobs;
    if (const std::optional<QString> given = line.option(QStringLiteral("jobs"))) {
        jobs = jobCount(*given);
        if (!jobs) {
            err << "vorlik: --jobs needs a whole number of at least 1 (see 'vorlik help convert')" << Qt::endl;
            co_return exitUsage;
        }
    }
    if (const std::optional<QString> folder = line.option(QStringLiteral("output-dir"))) {
        // Said before signing in, so a run is never started only to skip or fail every file.
        if (const std::optional<QString> problem = outputFolderProblem(*folder)) {
            err << "vorlik: --output-dir: " << *problem << " (see 'vorlik help convert')" << Qt::endl;
            co_return exitUsage;
        }
        // The chosen-folder export location, for this run only.
        platform::Settings &settings = platform::Settings::standard();
        settings.setOverride(QStringLiteral("exportLocation"), QStringLiteral("customFolder"));
        settings.setOverride(QStringLiteral("exportFolderPath"), QFileInfo(*folder).absoluteFilePath());
    }
    QStringList files;
    for (const QString &argument : line.arguments)
        files << QFileInfo(argument).absoluteFilePath();

    std::optional<QString> ffmpeg = ffmpeg::Preferences::effectiveFFmpeg();
    if (!ffmpeg) {
        err << "✗ Install ffmpeg in Preferences to convert." << Qt::endl;
        co_return exitFailed;
    }

    service::SessionStore store;
    QCoro::Task<bool> signingIn = signIn(store, line, out, err);
    if (!co_await signingIn)
        co_return exitSignInFailed;
    if (presetListUnavailable(store, err))
        co_return exitFailed;

    ConvertRunner runner;
    runner.setSimultaneousConversions(jobs.value_or(ConvertRunner::simultaneousConversions(platform::Settings::standard())));
    RowPrinter rows(runner, store.presets(), out, err);
    TerminalProgress bar(err, TerminalProgress::errorStreamIsTerminal());
    QObject::connect(&runner, &ConvertRunner::itemsChanged, &runner, [&] {
        bar.clear();
        rows.print();
    });
    QObject::connect(&runner, &ConvertRunner::statusLineChanged, &runner, [&] {
        bar.clear();
        out << runner.statusLine() << Qt::endl;
    });
    // A bar per file converting, in queue order; a clock of its own keeps an item of unknown
    // length counting its seconds.
    auto drawBars = [&] {
        QList<TerminalProgress::Line> lines;
        const auto now = convert::ConversionProgress::Clock::now();
        for (const QueueItem &item : runner.items()) {
            if (const std::optional<convert::ConversionProgress> progress = runner.progress(item.id))
                lines.append({QFileInfo(item.input).fileName(), progress->fraction, progress->text(now)});
        }
        bar.show(lines);
    };
    QObject::connect(&runner, &ConvertRunner::progressChanged, &runner, drawBars);
    QTimer barClock;
    QObject::connect(&barClock, &QTimer::timeout, &runner, drawBars);
    barClock.start(1000);

    runner.queue(files, *presetID);
    if (!runner.hasPending())
        co_return exitFailed;

    // Ctrl-C is the page's Stop: each ffmpeg is ended and its temporary files removed. A second
    // one does not wait for ffmpeg to leave; later ones change nothing, and the run still ends
    // by removing what it leaves.
    interrupt.setOnInterrupt([&runner](int count) { count == 1 ? runner.cancel() : runner.cancelNow(); });

    runner.run(store.presets(), *ffmpeg, &store);
    while (runner.isRunning())
        co_await qCoro(&runner, &ConvertRunner::isRunningChanged);
    interrupt.setOnInterrupt([](int) { InterruptWatch::exitNow(exitFailed); });
    barClock.stop();
    bar.clear();

    const bool allDone = std::all_of(runner.items().cbegin(), runner.items().cend(),
                                     [](const QueueItem &item) { return item.succeeded == true; });
    co_return allDone ? exitSucceeded : exitFailed;
}

} // namespace vorlik::app

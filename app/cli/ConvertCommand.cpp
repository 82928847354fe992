#include "app/cli/ConvertCommand.h"

#include "app/cli/ConnectCommand.h"
#include "app/cli/TerminalProgress.h"
#include "convert/ConvertRunner.h"
#include "ffmpeg/Preferences.h"
#include "platform/Settings.h"
#include "service/SessionStore.h"

#include <QCoroSignal>
#include <QFileInfo>
#include <QHash>
#include <QTimer>

#include <atomic>
#include <csignal>

namespace vorlik::app {
namespace {

using convert::ConvertRunner;
using convert::QueueItem;

struct ConvertRequest {
    QString presetID;
    QStringList files;
    std::optional<int> jobs; // conversions side by side; the setting's when not given
    QString error;
};

// "--jobs N": a whole number of at least 1.
std::optional<int> jobCount(const QString &text)
{
    bool ok = false;
    const int count = text.toInt(&ok);
    return ok && count >= 1 ? std::optional<int>(count) : std::nullopt;
}

ConvertRequest parseRequest(const QStringList &arguments)
{
    ConvertRequest request;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &word = arguments.at(i);
        if (word == QLatin1String("--preset")) {
            if (i + 1 >= arguments.size())
                request.error = QStringLiteral("--preset needs a value");
            else
                request.presetID = arguments.at(++i);
        } else if (word.startsWith(QLatin1String("--preset="))) {
            request.presetID = word.mid(9);
        } else if (word == QLatin1String("--jobs") || word.startsWith(QLatin1String("--jobs="))) {
            const bool joined = word.size() > 6;
            if (!joined && i + 1 >= arguments.size()) {
                request.error = QStringLiteral("--jobs needs a value");
                continue;
            }
            request.jobs = jobCount(joined ? word.mid(7) : arguments.at(++i));
            if (!request.jobs)
                request.error = QStringLiteral("--jobs needs a whole number of at least 1");
        } else {
            request.files.append(QFileInfo(word).absoluteFilePath());
        }
    }
    if (request.error.isEmpty() && request.presetID.isEmpty())
        request.error = QStringLiteral("convert needs --preset ID");
    else if (request.error.isEmpty() && request.files.isEmpty())
        request.error = QStringLiteral("convert needs the files to convert");
    return request;
}

// The first Ctrl-C asks for a stop; a second one ends the program the usual way.
std::atomic<bool> interruptRequested{false};

void onInterrupt(int)
{
    interruptRequested = true;
    std::signal(SIGINT, SIG_DFL);
}

// Prints the rows whose text changed since they were last printed, as the Convert page shows
// them: file name, preset name, status, and under it the failed row's explanation or the done
// row's note.
class RowPrinter {
public:
    RowPrinter(const ConvertRunner &runner, const QList<service::Preset> &presets, QTextStream &out)
        : m_runner(runner), m_out(out)
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
            if (item.succeeded == false && item.errorDetail)
                m_out << "  " << *item.errorDetail << Qt::endl;
            if (item.succeeded == true && item.note)
                m_out << "  " << *item.note << Qt::endl;
        }
    }

private:
    const ConvertRunner &m_runner;
    QTextStream &m_out;
    QHash<QString, QString> m_presetNames;
    QHash<QUuid, QString> m_shown;
};

} // namespace

QCoro::Task<int> runConvertCommand(CommandLine line, QTextStream &out, QTextStream &err)
{
    ConvertRequest request = parseRequest(line.arguments);
    if (!request.error.isEmpty()) {
        err << "vorlik: " << request.error << "\n\n" << CommandLine::usage();
        co_return 2;
    }
    std::optional<QString> ffmpeg = ffmpeg::Preferences::effectiveFFmpeg();
    if (!ffmpeg) {
        err << "✗ Install ffmpeg in Preferences to convert." << Qt::endl;
        co_return 1;
    }

    service::SessionStore store;
    QCoro::Task<bool> signingIn = signIn(store, line, out, err);
    if (!co_await signingIn)
        co_return 1;

    ConvertRunner runner;
    runner.setSimultaneousConversions(request.jobs.value_or(ConvertRunner::simultaneousConversions(platform::Settings::standard())));
    RowPrinter rows(runner, store.presets(), out);
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

    runner.queue(request.files, request.presetID);
    if (!runner.hasPending())
        co_return 1;

    interruptRequested = false;
    const auto previousHandler = std::signal(SIGINT, onInterrupt);
    QTimer interruptWatch;
    QObject::connect(&interruptWatch, &QTimer::timeout, &runner, [&runner] {
        if (interruptRequested.exchange(false))
            runner.cancel();
    });
    interruptWatch.start(100);

    runner.run(store.presets(), *ffmpeg, &store);
    while (runner.isRunning())
        co_await qCoro(&runner, &ConvertRunner::isRunningChanged);
    interruptWatch.stop();
    barClock.stop();
    bar.clear();
    std::signal(SIGINT, previousHandler);

    const bool allDone = std::all_of(runner.items().cbegin(), runner.items().cend(),
                                     [](const QueueItem &item) { return item.succeeded == true; });
    co_return allDone ? 0 : 1;
}

} // namespace vorlik::app

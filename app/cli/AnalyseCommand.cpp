#include "app/cli/AnalyseCommand.h"

#include "analysis/AnalysisRunner.h"
#include "analysis/ReportSummary.h"
#include "app/cli/ConnectCommand.h"
#include "app/cli/TerminalProgress.h"
#include "service/SessionStore.h"

#include <QCoroSignal>
#include <QDir>
#include <QHash>
#include <QTimer>
#include <QUrl>

namespace vorlik::app {

using analysis::AnalysisRunner;

QCoro::Task<int> analyseCommand(CommandLine line, QTextStream &out, QTextStream &err)
{
    if (line.arguments.isEmpty()) {
        err << "vorlik: analyse needs at least one audio file or folder\n\n" << CommandLine::usage();
        co_return 2;
    }

    service::SessionStore store;
    if (!co_await signIn(store, line, out, err))
        co_return 1;

    AnalysisRunner runner;
    TerminalProgress bar(err, TerminalProgress::errorStreamIsTerminal());
    QObject::connect(&runner, &AnalysisRunner::statusLineChanged, &runner, [&] {
        bar.clear();
        out << runner.statusLine() << Qt::endl;
    });
    // The upload's bytes, then the job's seconds (a clock of its own counts them on).
    auto drawBar = [&] {
        const std::optional<AnalysisRunner::Progress> &progress = runner.progress();
        if (!progress)
            return;
        for (const AnalysisRunner::Item &item : runner.items()) {
            if (item.id == progress->item)
                bar.show(item.input.fileName(), progress->fraction(), progress->text(std::chrono::steady_clock::now()));
        }
    };
    QObject::connect(&runner, &AnalysisRunner::progressChanged, &runner, drawBar);
    QTimer barClock;
    QObject::connect(&barClock, &QTimer::timeout, &runner, drawBar);
    barClock.start(1000);
    // Each item's status when it changes, named by its file ("a.wav: Uploading a.wav…").
    QHash<QUuid, QString> shown;
    QObject::connect(&runner, &AnalysisRunner::itemsChanged, &runner, [&] {
        for (const AnalysisRunner::Item &item : runner.items()) {
            if (shown.value(item.id) == item.status)
                continue;
            shown.insert(item.id, item.status);
            bar.clear();
            out << item.input.fileName() << ": " << item.status << Qt::endl;
        }
    });

    QList<QUrl> urls;
    for (const QString &argument : line.arguments)
        urls << QUrl::fromLocalFile(QDir::current().absoluteFilePath(argument));
    runner.queue(urls);
    if (!runner.hasPending())
        co_return 1;
    runner.run(store);
    while (runner.isRunning())
        co_await qCoro(&runner, &AnalysisRunner::isRunningChanged);
    barClock.stop();
    bar.clear();

    bool failed = false;
    for (const AnalysisRunner::Item &item : runner.items()) {
        const QString name = item.input.fileName();
        if (item.succeeded == true && item.analysis) {
            if (const std::optional<QString> summary = analysis::ReportSummary::line(*item.analysis))
                out << name << ": " << *summary << Qt::endl;
        } else {
            failed = true;
            err << "✗ " << name << ": " << item.errorMessage.value_or(QStringLiteral("Unknown error.")) << Qt::endl;
        }
    }
    co_return failed ? 1 : 0;
}

} // namespace vorlik::app

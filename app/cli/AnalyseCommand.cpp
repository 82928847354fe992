#include "app/cli/AnalyseCommand.h"

#include "analysis/AnalysisEndpoints.h"
#include "analysis/AnalysisRunner.h"
#include "analysis/ReportFile.h"
#include "analysis/ReportSummary.h"
#include "app/cli/Commands.h"
#include "app/cli/ConnectCommand.h"
#include "app/cli/InterruptWatch.h"
#include "app/cli/ReportText.h"
#include "app/cli/TerminalProgress.h"
#include "convert/MediaScanner.h"
#include "platform/Failure.h"
#include "service/SessionStore.h"

#include <QCoroSignal>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QTimer>
#include <QUrl>

namespace vorlik::app {
namespace {

using analysis::AnalysisRunner;

const QString noAudioFound = QStringLiteral("No audio files found (wav, aiff, flac, mp3, m4a, aac, ogg\u2026).");

// Saves the service's report file of a finished item into `folder`, as the page's Save Report
// does, but under a free name; says so on `notes` ("Report saved → …") or on `err`.
QCoro::Task<bool> saveReport(AnalysisRunner::Item item, QString folder, service::SessionStore &store,
                             QTextStream &notes, QTextStream &err)
{
    QString failure;
    try {
        if (!store.session())
            throw Failure(QStringLiteral("Connect with your client key first."));
        QCoro::Task<QByteArray> download =
            analysis::AnalysisEndpoints::downloadReport(item.jobID.value_or(QString()), store.session()->accessToken);
        const QByteArray report = co_await download;
        const QString path = analysis::ReportFile::saveInto(folder, item.input.toLocalFile(), report);
        notes << "Report saved \u2192 " << QFileInfo(path).fileName() << Qt::endl;
        co_return true;
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    err << "\u2717 " << item.input.fileName() << ": Could not save report: " << failure << Qt::endl;
    co_return false;
}

} // namespace

QCoro::Task<int> analyseCommand(CommandLine line, QTextStream &out, QTextStream &err, InterruptWatch &interrupt)
{
    const std::optional<QString> reportFolder = line.option(QStringLiteral("save-report"));
    if (reportFolder && !QFileInfo(*reportFolder).isDir()) {
        err << "vorlik: --save-report: no folder at " << *reportFolder << " (see 'vorlik help analyse')" << Qt::endl;
        co_return exitUsage;
    }
    const bool json = line.has(QStringLiteral("json"));
    // With --json the standard output holds the documents alone; the texts go with the errors.
    QTextStream &notes = json ? err : out;

    // Before there is a run, a signal has nothing to stop or clean up.
    interrupt.listen([](int) { InterruptWatch::exitNow(exitFailed); });
    service::SessionStore store;
    if (!co_await signIn(store, line, notes, err))
        co_return exitSignInFailed;

    AnalysisRunner runner;
    TerminalProgress bar(err, TerminalProgress::errorStreamIsTerminal());
    QObject::connect(&runner, &AnalysisRunner::statusLineChanged, &runner, [&] {
        bar.clear();
        notes << runner.statusLine() << Qt::endl;
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
            notes << item.input.fileName() << ": " << item.status << Qt::endl;
        }
    });

    // A named file or folder the queue does not take fails the run, with the page's text for it.
    bool skipped = false;
    QList<QUrl> urls;
    for (const QString &argument : line.arguments) {
        const QUrl url = QUrl::fromLocalFile(QDir::current().absoluteFilePath(argument));
        if (convert::MediaScanner::collect(QList<QUrl>{url}, convert::MediaScanner::audioExtensions()).isEmpty()) {
            err << "\u2717 " << argument << ": " << noAudioFound << Qt::endl;
            skipped = true;
        }
        urls << url;
    }
    runner.queue(urls);
    if (!runner.hasPending())
        co_return exitFailed;
    // Ctrl-C is the page's Stop: the upload or the wait ends and the job is cancelled on the
    // service. The program waits for that cancel to reach the service; a third signal ends it
    // (nothing is being written then).
    interrupt.setOnInterrupt([&runner](int count) { count < 3 ? runner.cancel() : InterruptWatch::exitNow(exitFailed); });
    runner.run(store);
    while (runner.isRunning())
        co_await qCoro(&runner, &AnalysisRunner::isRunningChanged);
    // The stop's cancel must reach the service before the program ends, or the job runs on there.
    while (runner.serviceCancelsInFlight() > 0)
        co_await qCoro(&runner, &AnalysisRunner::serviceCancelsSettled);
    interrupt.setOnInterrupt([](int) { InterruptWatch::exitNow(exitFailed); });
    barClock.stop();
    bar.clear();

    bool failed = false;
    const QList<AnalysisRunner::Item> items = runner.items();
    for (const AnalysisRunner::Item &item : items) {
        const QString name = item.input.fileName();
        if (item.succeeded != true || !item.analysis) {
            failed = true;
            const QString fallback = item.succeeded.has_value() ? QStringLiteral("Unknown error.") : item.status;
            err << "\u2717 " << name << ": " << ReportText::printable(item.errorMessage.value_or(fallback)) << Qt::endl;
            continue;
        }
        if (json) {
            out << QString::fromUtf8(QJsonDocument(item.analysisDocument.value_or(QJsonObject())).toJson(QJsonDocument::Compact))
                << Qt::endl;
        } else {
            out << Qt::endl << name;
            if (const std::optional<QString> summary = analysis::ReportSummary::line(*item.analysis))
                out << ": " << ReportText::printable(*summary);
            out << Qt::endl << ReportText::render(*item.analysis);
        }
        if (reportFolder) {
            QCoro::Task<bool> saving = saveReport(item, *reportFolder, store, notes, err);
            if (!co_await saving)
                failed = true;
        }
    }
    out.flush();
    co_return failed || skipped ? exitFailed : exitSucceeded;
}

} // namespace vorlik::app

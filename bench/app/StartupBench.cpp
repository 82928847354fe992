// Time from process start to the main window's first picture, for the program without its web
// tabs ("-skipWebTabs YES"), the program with them, and a bare Qt window of the same shape
// (BareWindow, the anchor), five runs each with a fresh HOME, taken in turns so that the
// machine's load falls on all three alike. A run ends at the line "main window shown" on the
// program's standard output (its diagnostics log, switched on for the run, echoes it there).
// With the web tabs it also waits for the Correction page to finish loading from a stand-in
// service, to show that the page still loads after the window appears.
//
// Prints each median, the main thread's CPU time to the window and its time waiting for a CPU
// (from /proc/PID/schedstat: the rest is time spent blocked), the
// load average before and after, and the ratios against the aims: without web tabs at most 2×
// the bare window, with them at most 1.3× the time without.
#include "tests/support/DevServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

constexpr int runs = 5;
const QByteArray shownLine = "main window shown";

struct Variant {
    const char *name;
    QString program;
    QStringList arguments;
    bool waitsForCorrection = false;
    std::vector<double> shown{};
    std::vector<double> cpu{};
    std::vector<double> waiting{};
    std::vector<double> loaded{};
};

// The main thread's time on a CPU so far and its time runnable but waiting for one, from the
// scheduler's accounting: what is left of the wall time was spent blocked.
struct ThreadTimes {
    double runningMs = 0;
    double waitingMs = 0;
};

struct Run {
    std::optional<double> shownMs;
    std::optional<ThreadTimes> times;
    std::optional<double> loadedMs;
};

// The web tab logs "didFinish URL" when a page has loaded.
bool correctionLoaded(const QByteArray &output)
{
    for (const QByteArray &line : output.split('\n'))
        if (line.contains("[web] didFinish ") && line.contains("/correction"))
            return true;
    return false;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}



std::optional<ThreadTimes> mainThreadTimes(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/schedstat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString fields = QString::fromLatin1(file.readAll());
    return ThreadTimes{fields.section(QLatin1Char(' '), 0, 0).toDouble() / 1e6,
                       fields.section(QLatin1Char(' '), 1, 1).toDouble() / 1e6};
}

Run runOnce(const Variant &variant)
{
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    environment.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));

    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardErrorFile(QProcess::nullDevice());
    Run run;
    QElapsedTimer clock;
    clock.start();
    process.start(variant.program, variant.arguments);
    QByteArray pending;
    while (clock.elapsed() < 60000 && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(20);
        pending += process.readAllStandardOutput();
        if (!run.shownMs && pending.contains(shownLine)) {
            run.shownMs = clock.nsecsElapsed() / 1e6;
            run.times = mainThreadTimes(process.processId());
        }
        if (variant.waitsForCorrection && !run.loadedMs && correctionLoaded(pending))
            run.loadedMs = clock.nsecsElapsed() / 1e6;
        if (run.shownMs && (!variant.waitsForCorrection || run.loadedMs))
            break;
    }
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: startup_bench PROGRAM BARE_WINDOW\n");
        return 2;
    }
    vorlik::test::DevServer &server = vorlik::test::DevServer::shared();
    const QString baseURL = server.baseUrl().toString();
    // The stand-in service answers the start-up's calls (health, the update check, the pages).
    const QStringList common{QStringLiteral("-vorlikDiag"), QStringLiteral("YES"), QStringLiteral("-baseURL"), baseURL};
    std::vector<Variant> variants{
        {"bare window", arguments.at(2), {}},
        {"without web tabs", arguments.at(1), common + QStringList{QStringLiteral("-skipWebTabs"), QStringLiteral("YES")}},
        {"with web tabs", arguments.at(1), common, true},
    };

    const QString loadBefore = loadAverage();
    std::printf("start-up to the main window's first picture, median of %d runs (platform %s)\n", runs,
                qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("default")).toUtf8().constData());
    for (int round = 0; round < runs; ++round) {
        for (Variant &variant : variants) {
            const Run run = runOnce(variant);
            if (!run.shownMs) {
                std::fprintf(stderr, "%s: no \"main window shown\" within 60 s\n", variant.name);
                vorlik::test::DevServer::stopAll();
                return 1;
            }
            variant.shown.push_back(*run.shownMs);
            variant.cpu.push_back(run.times ? run.times->runningMs : 0);
            variant.waiting.push_back(run.times ? run.times->waitingMs : 0);
            if (run.loadedMs)
                variant.loaded.push_back(*run.loadedMs);
        }
    }
    for (const Variant &variant : variants) {
        std::printf("  %-18s %7.0f ms   (main thread on a CPU %4.0f ms, waiting for one %4.0f ms)", variant.name,
                    median(variant.shown), median(variant.cpu), median(variant.waiting));
        if (variant.waitsForCorrection)
            std::printf("   Correction loaded at %.0f ms (%zu of %d runs)", median(variant.loaded),
                        variant.loaded.size(), runs);
        std::printf("\n");
    }
    const double bare = median(variants[0].shown);
    const double noWeb = median(variants[1].shown);
    const double web = median(variants[2].shown);
    std::printf("  without web tabs / bare window: %.2f× (aim ≤ 2)\n", noWeb / bare);
    std::printf("  with web tabs / without:        %.2f× (aim ≤ 1.3)\n", web / noWeb);
    std::printf("  with web tabs / bare window:    %.2f×\n", web / bare);
    std::printf("  load average before %s, after %s\n", loadBefore.toUtf8().constData(),
                loadAverage().toUtf8().constData());
    vorlik::test::DevServer::stopAll();
    return 0;
}

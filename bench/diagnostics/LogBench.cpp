// What a log call costs its caller, and how many lines per second reach the log file, against
// a plain buffered fwrite loop of the same lines to a file in the same run (the anchor). And the
// slowest log calls while another thread writes settings in a loop (each write goes to disk),
// against the same calls while nothing writes (the anchor of that figure).
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using vorlik::diagnostics::DiagnosticsLogger;
using vorlik::platform::Settings;

namespace {

const QString message = QStringLiteral("GET /v1/jobs/4f1c?api_key=vk_live_abcdef&page=2&token=xyz -> 200 in 12ms");

// Median nanoseconds per call over batches of `batch` calls.
double medianCallNs(DiagnosticsLogger &logger, int batches, int batch)
{
    std::vector<double> samples;
    samples.reserve(size_t(batches));
    QElapsedTimer clock;
    for (int b = 0; b < batches; ++b) {
        clock.start();
        for (int i = 0; i < batch; ++i)
            logger.log(QStringLiteral("api"), message);
        samples.push_back(double(clock.nsecsElapsed()) / batch);
        if (b % 50 == 49)
            logger.drain(); // keep the queue from growing without bound while timing callers
    }
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

// Lines per second from the first call until every line is in the file.
double loggerLinesPerSecond(DiagnosticsLogger &logger, int lines)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < lines; ++i)
        logger.log(QStringLiteral("api"), message);
    logger.drain();
    logger.stop();
    logger.drain();
    return lines / (clock.nsecsElapsed() / 1e9);
}

double fwriteLinesPerSecond(const QString &path, int lines)
{
    const QByteArray line = ("2026-12-06 12:00:00.000 [api] " + DiagnosticsLogger::redact(message) + "\n").toUtf8();
    QElapsedTimer clock;
    clock.start();
    FILE *file = std::fopen(QFile::encodeName(path).constData(), "a");
    for (int i = 0; i < lines; ++i)
        std::fwrite(line.constData(), 1, size_t(line.size()), file);
    std::fclose(file);
    return lines / (clock.nsecsElapsed() / 1e9);
}

struct Latency {
    double worstUs = 0;
    double p999Us = 0;
};

// Each of `calls` log() calls timed on its own; with `writer`, another thread writes a setting
// to disk again and again meanwhile.
Latency logLatency(DiagnosticsLogger &logger, Settings &settings, bool writer, int calls)
{
    std::atomic<bool> stop = false;
    std::thread writing;
    if (writer) {
        writing = std::thread([&] {
            for (int i = 0; !stop; ++i)
                settings.setValue(QStringLiteral("benchCounter"), i);
        });
    }
    std::vector<double> samples;
    samples.reserve(size_t(calls));
    QElapsedTimer clock;
    for (int i = 0; i < calls; ++i) {
        clock.start();
        logger.log(QStringLiteral("api"), message);
        samples.push_back(double(clock.nsecsElapsed()) / 1000.0);
        if (i % 1000 == 999)
            logger.drain(); // the queue stays short; not timed
    }
    stop = true;
    if (writing.joinable())
        writing.join();
    std::sort(samples.begin(), samples.end());
    return {samples.back(), samples[size_t(double(samples.size()) * 0.999)]};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    Settings settings(folder.filePath(QStringLiteral("settings.conf")));
    settings.setValue(QStringLiteral("vorlikDiag"), true);
    constexpr int lines = 200000; // about 20 MiB: rotations are part of the cost

    const double callNs = [&] {
        DiagnosticsLogger logger(settings, folder.filePath(QStringLiteral("calls")), false);
        logger.startIfEnabled();
        logger.drain();
        return medianCallNs(logger, 2000, 100);
    }();
    DiagnosticsLogger logger(settings, folder.filePath(QStringLiteral("lines")), false);
    logger.startIfEnabled();
    logger.drain();
    const double loggerRate = loggerLinesPerSecond(logger, lines);
    const double fwriteRate = fwriteLinesPerSecond(folder.filePath(QStringLiteral("plain.log")), lines);

    std::printf("log() on the calling thread, masked query: median %.0f ns per call\n", callNs);
    std::printf("lines reaching the file:  %10.0f lines/s (DiagnosticsLogger, %d lines)\n", loggerRate, lines);
    std::printf("plain buffered fwrite:    %10.0f lines/s (anchor)\n", fwriteRate);
    std::printf("ratio (logger / fwrite): %.3f\n", loggerRate / fwriteRate);

    constexpr int calls = 20000;
    DiagnosticsLogger quiet(settings, folder.filePath(QStringLiteral("latency")), false);
    quiet.startIfEnabled();
    quiet.drain();
    const Latency alone = logLatency(quiet, settings, false, calls);
    const Latency busy = logLatency(quiet, settings, true, calls);
    std::printf("log() while another thread writes settings: worst %.0f us, 99.9th percentile %.1f us (%d calls)\n",
                busy.worstUs, busy.p999Us, calls);
    std::printf("log() while nothing writes settings:        worst %.0f us, 99.9th percentile %.1f us (anchor)\n",
                alone.worstUs, alone.p999Us);
    std::printf("ratio of the worst cases (writing / quiet): %.2f\n", busy.worstUs / alone.worstUs);
    return 0;
}

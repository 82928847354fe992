// The stand-in service's analysis of a 10-minute stereo 48 kHz file (ffprobe, one ffmpeg decode
// with astats, libebur128 with true peak) against `ffmpeg -af ebur128` on the same file, both
// in the same run, alternating. The job is timed from the process request to COMPLETED (polled
// every 10 ms); the anchor is ffmpeg's own loudness meter, once
// as `ebur128` and once as `ebur128=peak=true` (which, like the service, finds the true peak).
#include "analysis/AnalysisEndpoints.h"
#include "bench/support/BenchSupport.h"
#include "tests/support/DevServer.h"

#include <QCoreApplication>
#include <QCoroTimer>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>

using namespace vorlik;
using namespace std::chrono_literals;

namespace {

constexpr int rounds = 3;

void make10MinuteFile(const QString &path)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-y"), QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                  QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                  QStringLiteral("anoisesrc=d=600:c=pink:r=48000:a=0.25"), QStringLiteral("-af"),
                  QStringLiteral("volume='0.55+0.45*sin(2*PI*t/23)':eval=frame"), QStringLiteral("-ac"), QStringLiteral("2"),
                  QStringLiteral("-c:a"), QStringLiteral("pcm_s16le"), path});
    if (!ffmpeg.waitForFinished(300000) || ffmpeg.exitCode() != 0)
        throw std::runtime_error("ffmpeg could not make the test file: " + ffmpeg.readAllStandardError().toStdString());
}

QString activate(const test::DevServer &server)
{
    const QJsonObject fields{{QStringLiteral("api_key"), server.demoKey()},
                             {QStringLiteral("installation_label"), QStringLiteral("Vorlik Desktop")}};
    const auto [status, body] = server.call("POST", QStringLiteral("/v1/auth/activate"), QJsonDocument(fields).toJson());
    if (status != 200)
        throw std::runtime_error("activate failed");
    return QJsonDocument::fromJson(body).object().value(QStringLiteral("access_token")).toString();
}

struct JobTiming {
    qint64 observedNs = 0; // process request to COMPLETED seen
    QString failure;
};

// Uploads (not timed), then times the job. Failures come back as text: QCoro::waitFor (0.8)
// never returns from a task that throws after it suspended.
QCoro::Task<JobTiming> timeJob(QUrl file, QString bearer)
{
    JobTiming timing;
    try {
        const QString uploadID = co_await analysis::AnalysisEndpoints::uploadAudio(file, bearer);
        QElapsedTimer clock;
        clock.start();
        const QString jobID = co_await analysis::AnalysisEndpoints::processUpload(uploadID, QStringLiteral("audio_info"), bearer);
        for (;;) {
            const analysis::JobInfo info = co_await analysis::AnalysisEndpoints::jobInfo(jobID, bearer);
            if (info.isTerminal()) {
                timing.observedNs = clock.nsecsElapsed();
                if (!info.isCompleted())
                    timing.failure = info.errorSummary.value_or(QStringLiteral("the job did not complete"));
                break;
            }
            co_await QCoro::sleepFor(10ms);
        }
    } catch (const std::exception &error) {
        timing.failure = describe(error);
    }
    co_return timing;
}

qint64 ffmpegMeter(const QString &path, const QString &filter)
{
    QProcess ffmpeg;
    QElapsedTimer clock;
    clock.start();
    ffmpeg.start(QStringLiteral("ffmpeg"), {QStringLiteral("-nostats"), QStringLiteral("-hide_banner"), QStringLiteral("-i"), path,
                                            QStringLiteral("-af"), filter, QStringLiteral("-f"), QStringLiteral("null"),
                                            QStringLiteral("-")});
    if (!ffmpeg.waitForFinished(600000) || ffmpeg.exitCode() != 0)
        throw std::runtime_error("ffmpeg -af " + filter.toStdString() + " failed");
    return clock.nsecsElapsed();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bench::PrivateHome home;
    try {
        test::DevServer server;
        server.useAsService();
        const QString bearer = activate(server);
        const QString path = home.filePath(QStringLiteral("ten-minutes.wav"));
        make10MinuteFile(path);
        const QUrl file = QUrl::fromLocalFile(path);

        // Warm up both (page cache, the service's version lines, first allocations).
        if (const JobTiming warm = QCoro::waitFor(timeJob(file, bearer)); !warm.failure.isEmpty())
            throw std::runtime_error("the analysis failed: " + warm.failure.toStdString());
        ffmpegMeter(path, QStringLiteral("ebur128"));

        qint64 bestJob = std::numeric_limits<qint64>::max();
        qint64 bestPlain = std::numeric_limits<qint64>::max();
        qint64 bestPeak = std::numeric_limits<qint64>::max();
        for (int round = 0; round < rounds; ++round) {
            bestPlain = std::min(bestPlain, ffmpegMeter(path, QStringLiteral("ebur128")));
            bestPeak = std::min(bestPeak, ffmpegMeter(path, QStringLiteral("ebur128=peak=true")));
            const JobTiming timing = QCoro::waitFor(timeJob(file, bearer));
            if (!timing.failure.isEmpty())
                throw std::runtime_error("the analysis failed: " + timing.failure.toStdString());
            bestJob = std::min(bestJob, timing.observedNs);
        }
        std::printf("analysis of a 10-minute stereo 48 kHz file, best of %d:\n", rounds);
        std::printf("  stand-in service job (process -> COMPLETED): %.0f ms\n", bestJob / 1e6);
        std::printf("  ffmpeg -af ebur128:                          %.0f ms  (service/ffmpeg ratio %.2f)\n", bestPlain / 1e6,
                    double(bestJob) / double(bestPlain));
        std::printf("  ffmpeg -af ebur128=peak=true:                %.0f ms  (service/ffmpeg ratio %.2f)\n", bestPeak / 1e6,
                    double(bestJob) / double(bestPeak));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "analysis_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}

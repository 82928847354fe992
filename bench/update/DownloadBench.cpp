// A 512 MiB update image downloaded and verified from one local HTTPS stand-in service,
// alternately by UpdateManager::download (streamed to disk, then SHA-256 in 1 MiB reads) and
// by `curl -o` followed by `sha256sum` (the anchor), in one run. Prints the best time of each,
// the client's throughput as a ratio of the anchor's (aim: >= 0.8), and the client's peak
// resident memory above its idle level during a download (aim: <= 16 MiB).
#include "app/ActiveJobs.h"
#include "bench/support/BenchSupport.h"
#include "platform/Failure.h"
#include "platform/Settings.h"
#include "tests/support/DevServer.h"
#include "update/UpdateManager.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>

using namespace vorlik;

namespace {

constexpr qint64 imageBytes = 512ll * 1048576;
constexpr int rounds = 3;

// The failure is caught inside the coroutine: QCoro::waitFor (0.8) never returns from a task
// that throws after it suspended.
QCoro::Task<QString> downloadOrError(update::UpdateManager &manager, update::Manifest manifest)
{
    try {
        co_await manager.download(manifest);
    } catch (const std::exception &error) {
        co_return QStringLiteral("error: ") + describe(error);
    }
    co_return manager.phase().is(update::UpdatePhase::Kind::downloaded) ? manager.phase().path
                                                                         : QStringLiteral("error: ") + manager.phase().debugText();
}

qint64 clientDownload(update::UpdateManager &manager, const update::Manifest &manifest)
{
    QElapsedTimer clock;
    clock.start();
    const QString path = QCoro::waitFor(downloadOrError(manager, manifest));
    const qint64 elapsed = clock.nsecsElapsed();
    if (path.startsWith(QStringLiteral("error: ")))
        throw std::runtime_error("the client's download failed: " + path.toStdString());
    QFile::remove(path);
    return elapsed;
}

qint64 curlThenSha256sum(const QUrl &url, const QString &target, const QString &expected)
{
    QElapsedTimer clock;
    clock.start();
    QProcess curl;
    curl.start(QStringLiteral("curl"), {QStringLiteral("-sS"), QStringLiteral("--cacert"),
                                        QStringLiteral(VORLIK_TEST_TLS_DIR "/ca.pem"), QStringLiteral("-o"), target,
                                        url.toString()});
    if (!curl.waitForFinished(600000) || curl.exitCode() != 0)
        throw std::runtime_error("curl failed: " + curl.readAllStandardError().toStdString());
    QProcess sum;
    sum.start(QStringLiteral("sha256sum"), {target});
    if (!sum.waitForFinished(600000) || sum.exitCode() != 0)
        throw std::runtime_error("sha256sum failed");
    const qint64 elapsed = clock.nsecsElapsed();
    if (sum.readAllStandardOutput().left(64) != expected.toLatin1())
        throw std::runtime_error("curl's download does not match");
    QFile::remove(target);
    return elapsed;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bench::PrivateHome home;
    try {
        const QString updates = home.filePath(QStringLiteral("updates"));
        const QString downloads = home.filePath(QStringLiteral("downloads"));
        QDir().mkpath(updates);
        QDir().mkpath(downloads);
        bench::writeRandomFile(updates + QStringLiteral("/image.tar.gz"), imageBytes, 7);
        {
            QFile small(updates + QStringLiteral("/small.tar.gz"));
            if (!small.open(QIODevice::WriteOnly) || small.write(QByteArray(1 << 20, 'v')) != (1 << 20))
                throw std::runtime_error("cannot write the small image");
        }

        test::DevServer::trustTestCA();
        test::DevServer server(test::DevServer::tlsArguments() + QStringList{QStringLiteral("--updates"), updates});
        server.useAsService();
        // Both download into the same folder on the same disk.
        qputenv("TMPDIR", QFile::encodeName(downloads));

        QUrl url = server.baseUrl();
        url.setPath(QStringLiteral("/tools/desktop/image.tar.gz"));
        update::Manifest manifest;
        manifest.version = QStringLiteral("1.2.25");
        manifest.build = 28;
        manifest.dmg = url.toString();
        manifest.sha256 = update::UpdateManager::sha256(updates + QStringLiteral("/image.tar.gz"));

        app::ActiveJobs jobs;
        update::UpdateManager manager(platform::Settings::standard(), jobs);
        const QString curlTarget = downloads + QStringLiteral("/curl-image");

        // What a process spends once on its first download (TLS library, network thread, thread
        // pool), measured on a 1 MiB image, apart from what a download costs by its size.
        update::Manifest small = manifest;
        QUrl smallUrl = url;
        smallUrl.setPath(QStringLiteral("/tools/desktop/small.tar.gz"));
        small.dmg = smallUrl.toString();
        small.sha256 = update::UpdateManager::sha256(updates + QStringLiteral("/small.tar.gz"));
        const bool peakResets = bench::resetPeak();
        qint64 idle = bench::statusKiB("VmRSS:");
        clientDownload(manager, small);
        const qint64 startUpKiB = bench::statusKiB("VmHWM:") - idle;

        // Warm up both paths (page cache, TLS session); the first large download counts.
        bench::resetPeak();
        idle = bench::statusKiB("VmRSS:");
        clientDownload(manager, manifest);
        qint64 peakGrowthKiB = bench::statusKiB("VmHWM:") - idle;
        curlThenSha256sum(url, curlTarget, manifest.sha256);

        qint64 bestClient = std::numeric_limits<qint64>::max();
        qint64 bestCurl = std::numeric_limits<qint64>::max();
        for (int round = 0; round < rounds; ++round) {
            bestCurl = std::min(bestCurl, curlThenSha256sum(url, curlTarget, manifest.sha256));
            idle = bench::statusKiB("VmRSS:");
            bench::resetPeak();
            bestClient = std::min(bestClient, clientDownload(manager, manifest));
            peakGrowthKiB = std::max(peakGrowthKiB, bench::statusKiB("VmHWM:") - idle);
        }

        const double mib = double(imageBytes) / (1 << 20);
        const double clientRate = mib / (double(bestClient) / 1e9);
        const double curlRate = mib / (double(bestCurl) / 1e9);
        std::printf("download + SHA-256 of %.0f MiB over local HTTPS, best of %d: client %.0f ms (%.0f MiB/s), "
                    "curl -o + sha256sum %.0f ms (%.0f MiB/s)\n",
                    mib, rounds, bestClient / 1e6, clientRate, bestCurl / 1e6, curlRate);
        std::printf("throughput ratio client/anchor: %.2f (aim >= 0.80)\n", clientRate / curlRate);
        if (peakResets)
            std::printf("peak RSS growth above idle during a 512 MiB download: %.1f MiB (aim <= 16 MiB); "
                        "first download of the process, 1 MiB, for TLS and thread start-up: %.1f MiB\n",
                        peakGrowthKiB / 1024.0, startUpKiB / 1024.0);
        else
            std::printf("peak RSS growth: not measurable here (/proc/self/clear_refs refused)\n");
    } catch (const std::exception &error) {
        std::fprintf(stderr, "update_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}

// How long the window's event loop stalls while the settings window does its slow work, done
// the shell's way (off the main thread, the loop waiting) against the same work called on the
// main thread (the anchor). A 1 ms timer stamps the loop; the figure is the longest gap between
// two stamps during one operation, the median over alternating rounds.
//   export: the diagnostics export with 20000 buffered lines and a 5 MiB earlier log
//   keyring: remembering the client key in the Secret Service (run inside with-keyring)
#include "app/AccountSection.h"
#include "app/DiagnosticsSection.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/AppPaths.h"
#include "platform/Settings.h"
#include "service/KeychainStore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace vorlik;

namespace {

constexpr int rounds = 15;

// The longest gap between the loop's 1 ms ticks while `operation` runs until `done()` holds.
qint64 longestStall(const std::function<void()> &operation, const std::function<bool()> &done)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    ticker.start();
    QCoreApplication::processEvents();
    last = clock.nsecsElapsed();
    operation();
    // The gap a synchronous operation caused shows at the next tick.
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 5)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    return longest;
}

double medianMs(std::vector<qint64> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2] / 1e6;
}

void report(const char *what, const std::vector<qint64> &shell, const std::vector<qint64> &anchor)
{
    const double shellMs = medianMs(shell);
    const double anchorMs = medianMs(anchor);
    std::printf("%-8s longest stall, shell (off the main thread): %8.2f ms\n", what, shellMs);
    std::printf("%-8s longest stall, anchor (on the main thread): %8.2f ms\n", what, anchorMs);
    std::printf("%-8s ratio: %.3f\n", what, shellMs / anchorMs);
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    platform::Settings &settings = platform::Settings::standard();
    settings.setValue(QStringLiteral("vorlikDiag"), true);
    // A log of its own that keeps its lines off standard output.
    diagnostics::DiagnosticsLogger logger(settings, platform::AppPaths::logs(), false);
    QDir().mkpath(platform::AppPaths::logs());
    {
        QFile earlier(platform::AppPaths::logs() + QStringLiteral("/vorlik-debug.log.1"));
        earlier.open(QIODevice::WriteOnly);
        const QByteArray line(127, 'x');
        for (int written = 0; written < diagnostics::DiagnosticsLogger::rotationBytes; written += 128)
            earlier.write(line + '\n');
    }
    logger.startIfEnabled();
    for (int index = 0; index < diagnostics::DiagnosticsLogger::bufferLimit; ++index)
        logger.log(QStringLiteral("bench"), QStringLiteral("GET /v1/presets -> 200 in 3ms, line %1").arg(index));
    logger.drain();

    app::DiagnosticsSection diagnosticsSection(settings, logger);
    const QString target = home.filePath(QStringLiteral("export.txt"));
    std::vector<qint64> shellExport, anchorExport;
    for (int round = 0; round < rounds; ++round) {
        shellExport.push_back(longestStall([&] { diagnosticsSection.exportTo(target); },
                                           [&] { return !diagnosticsSection.isExporting(); }));
        anchorExport.push_back(longestStall([&] { logger.exportTXT(target); }, [] { return true; }));
    }
    report("export", shellExport, anchorExport);

    if (service::KeychainStore::remove().kind == service::KeychainStore::Result::Case::failure) {
        std::printf("keyring  skipped: no Secret Service here (run bench/responsiveness, which starts one)\n");
        return 0;
    }
    app::AccountSection account;
    account.keyField()->setText(QStringLiteral("vk_bench_key_0000000000000000"));
    std::vector<qint64> shellKeyring, anchorKeyring;
    for (int round = 0; round < rounds; ++round) {
        shellKeyring.push_back(longestStall([&] { account.remember(); }, [&] { return !account.isKeychainBusy(); }));
        anchorKeyring.push_back(longestStall([] { service::KeychainStore::save(QStringLiteral("vk_bench_key_0000000000000000")); },
                                             [] { return true; }));
    }
    report("keyring", shellKeyring, anchorKeyring);
    service::KeychainStore::remove();
    return 0;
}

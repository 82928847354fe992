// How long the main thread stops answering while the pages work: 200 WAV files dropped on the
// Convert page's M4A card (auto start on) and 20 dropped on the Analysis page's card, converted
// and analysed against a local stand-in service with the machine's ffmpeg, on the offscreen
// platform. A 1 ms timer records the longest gap between its ticks (the longest stall). The
// anchor is the same work done by the two runners alone, without pages, in the same run: the
// difference is what the pages add. Aim: the longest stall with the pages under 50 ms.
#include "analysis/AnalysisRunner.h"
#include "analysis/AnalysisView.h"
#include "analysis/CardDropTarget.h"
#include "bench/support/BenchSupport.h"
#include "convert/ConvertRunner.h"
#include "convert/ConvertView.h"
#include "convert/PresetCard.h"
#include "ffmpeg/Preferences.h"
#include "platform/Settings.h"
#include "service/SessionStore.h"
#include "tests/analysis/TestAudio.h"
#include "tests/support/DevServer.h"
#include "tests/support/DropEvents.h"
#include "tests/support/TestFiles.h"

#include <QApplication>
#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <fcntl.h>
#include <unistd.h>

using namespace vorlik;

namespace {

constexpr int convertFiles = 200;
constexpr int analyseFiles = 20;
constexpr int rounds = 2;
constexpr double largeSeconds = 713; // 44.1 kHz 16-bit stereo: about 120 MiB
const QString m4aPreset = QStringLiteral("audio-m4a");

// The main thread's time on a CPU and its time spent runnable but waiting for one, from the
// scheduler's own accounting (/proc/thread-self/schedstat, nanoseconds).
struct SchedulerTimes {
    qint64 running = 0;
    qint64 waiting = 0;
};

class SchedulerStats {
public:
    SchedulerStats() : m_fd(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC)) {}
    ~SchedulerStats()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SchedulerTimes read() const
    {
        char text[128] = {};
        if (m_fd < 0 || ::pread(m_fd, text, sizeof text - 1, 0) <= 0)
            return {};
        SchedulerTimes times;
        std::sscanf(text, "%lld %lld", reinterpret_cast<long long *>(&times.running),
                    reinterpret_cast<long long *>(&times.waiting));
        return times;
    }

private:
    int m_fd;
};

// Ticks every millisecond and keeps the longest gap between two ticks, with when it ended and how
// it was spent: working, waiting for a CPU (the machine is shared: other programs, and the
// ffmpeg and stand-in service processes of this very run, compete for two cores), or blocked in
// a call. It also keeps the longest gap of the program's own making: the gap less the time the
// thread only waited for a CPU.
class StallProbe : public QObject {
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, &StallProbe::tick);
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_lastTimes = m_stats.read();
        m_longest = 0;
        m_over16 = 0;
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    double longestMs() const { return m_longest / 1e6; }
    double longestAtMs() const { return m_longestAt / 1e6; }
    double longestWorkingMs() const { return m_longestTimes.running / 1e6; }
    double longestWaitingMs() const { return m_longestTimes.waiting / 1e6; }
    double longestOwnMs() const { return m_longestOwn / 1e6; }
    int over16() const { return m_over16; }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const SchedulerTimes times = m_stats.read();
        const qint64 gap = now - m_last;
        const SchedulerTimes spent{times.running - m_lastTimes.running, times.waiting - m_lastTimes.waiting};
        m_last = now;
        m_lastTimes = times;
        if (gap > 16000000)
            ++m_over16;
        if (gap > m_longest) {
            m_longest = gap;
            m_longestAt = now;
            m_longestTimes = spent;
        }
        m_longestOwn = std::max(m_longestOwn, gap - spent.waiting);
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    qint64 m_longestAt = 0;
    SchedulerStats m_stats;
    SchedulerTimes m_lastTimes;
    SchedulerTimes m_longestTimes;
    qint64 m_longestOwn = 0;
    int m_over16 = 0;
};

struct Outcome {
    double longestStallMs = 0;
    double longestAtMs = 0;
    double longestWorkingMs = 0;
    double longestWaitingMs = 0;
    double longestOwnMs = 0;
    int stallsOver16ms = 0;
    double seconds = 0;

    static Outcome of(const StallProbe &probe, const QElapsedTimer &clock)
    {
        return {probe.longestMs(),        probe.longestAtMs(), probe.longestWorkingMs(), probe.longestWaitingMs(),
                probe.longestOwnMs(),     probe.over16(),      clock.elapsed() / 1000.0};
    }
    void print(const char *name) const
    {
        std::printf("%s: longest main-thread stall %.1f ms at %.1f s (working %.1f ms, waiting for a CPU %.1f ms); "
                    "longest of its own making %.1f ms; %d stalls over 16 ms; %.1f s in all\n",
                    name, longestStallMs, longestAtMs / 1000, longestWorkingMs, longestWaitingMs, longestOwnMs,
                    stallsOver16ms, seconds);
    }
};

QList<QUrl> makeFiles(const QString &folder, int count, double seconds)
{
    QDir().mkpath(folder);
    const QByteArray wav = test::sineWAV(seconds);
    QList<QUrl> files;
    for (int i = 0; i < count; ++i) {
        const QString path = folder + QStringLiteral("/Take %1.wav").arg(i + 1);
        test::writeFile(path, wav);
        files.append(QUrl::fromLocalFile(path));
    }
    return files;
}

void waitUntil(const std::function<bool()> &done)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
        else if (clock.elapsed() > 900000)
            loop.exit(1);
    });
    poll.start(20);
    if (loop.exec() != 0)
        throw std::runtime_error("the work did not end within 15 minutes");
}

void check(const QList<convert::QueueItem> &converted, const QList<analysis::AnalysisRunner::Item> &analysed)
{
    if (converted.size() != convertFiles || analysed.size() != analyseFiles)
        throw std::runtime_error("not every file was queued");
    for (const convert::QueueItem &item : converted)
        if (item.succeeded != true)
            throw std::runtime_error("a conversion failed: " + item.status.toStdString());
    for (const analysis::AnalysisRunner::Item &item : analysed)
        if (item.succeeded != true)
            throw std::runtime_error("an analysis failed: " + item.errorMessage.value_or(item.status).toStdString());
}

// The anchor: both runners alone, started the way the pages start them.
Outcome runnersAlone(service::SessionStore &store, const QList<QUrl> &toConvert, const QList<QUrl> &toAnalyse,
                     const QString &ffmpeg)
{
    convert::ConvertRunner converter;
    analysis::AnalysisRunner analyser;
    StallProbe probe;
    QElapsedTimer clock;
    probe.start();
    clock.start();
    converter.queue(toConvert, m4aPreset);
    converter.run(store.presets(), ffmpeg, &store);
    analyser.queue(toAnalyse);
    analyser.run(store);
    waitUntil([&] { return !converter.isRunning() && !analyser.isRunning(); });
    probe.stop();
    check(converter.items(), analyser.items());
    return Outcome::of(probe, clock);
}

// The same work through the pages, both shown in a window, files dropped on their cards.
Outcome throughPages(service::SessionStore &store, const QList<QUrl> &toConvert, const QList<QUrl> &toAnalyse)
{
    platform::Settings::standard().setValue(QStringLiteral("autoStartConvert"), true);
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    auto *convertPage = new convert::ConvertView(store);
    auto *analysisPage = new analysis::AnalysisView(store);
    layout->addWidget(convertPage);
    layout->addWidget(analysisPage);
    window.resize(2400, 780);
    window.show();
    convertPage->setActive(true);
    analysisPage->setActive(true);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    StallProbe probe;
    QElapsedTimer clock;
    probe.start();
    clock.start();
    QTimer::singleShot(0, convertPage, [&] {
        if (!test::dropFiles(convertPage->card(convert::ConvertView::audioCard)->dropTarget(), toConvert))
            throw std::runtime_error("the M4A card refused the drop");
    });
    QTimer::singleShot(5, analysisPage, [&] {
        if (!test::dropFiles(analysisPage->dropTarget(), toAnalyse))
            throw std::runtime_error("the analysis card refused the drop");
    });
    waitUntil([&] {
        return clock.elapsed() > 100 && !convertPage->runner().isRunning() && !analysisPage->runner().isRunning()
               && !convertPage->runner().items().isEmpty() && !analysisPage->runner().items().isEmpty();
    });
    probe.stop();
    check(convertPage->runner().items(), analysisPage->runner().items());
    return Outcome::of(probe, clock);
}

// One large file (about 120 MiB of audio) through the Analysis page alone: the upload's body is
// read from the file and written to the socket while the page runs.
Outcome largeUpload(service::SessionStore &store, const QList<QUrl> &file)
{
    analysis::AnalysisView page(store);
    page.resize(1200, 780);
    page.show();
    page.setActive(true);
    StallProbe probe;
    QElapsedTimer clock;
    probe.start();
    clock.start();
    QTimer::singleShot(0, &page, [&] {
        if (!test::dropFiles(page.dropTarget(), file))
            throw std::runtime_error("the analysis card refused the drop");
    });
    waitUntil([&] { return clock.elapsed() > 100 && !page.runner().isRunning() && !page.runner().items().isEmpty(); });
    probe.stop();
    if (page.runner().items().front().succeeded != true)
        throw std::runtime_error("the large analysis failed: " + page.runner().items().front().errorMessage.value_or(QString()).toStdString());
    return Outcome::of(probe, clock);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const bench::PrivateHome home;
    QApplication app(argc, argv);
    // --large: only the one large upload, without the rounds of many files before it.
    const bool largeOnly = app.arguments().contains(QStringLiteral("--large"));
    try {
        test::DevServer server;
        server.useAsService();
        service::SessionStore store;
        test::run(store.connect(server.demoKey()));
        if (!store.state().isConnected())
            throw std::runtime_error("could not connect to the stand-in service");
        const std::optional<QString> ffmpeg = ffmpeg::Preferences::effectiveFFmpeg();
        if (!ffmpeg)
            throw std::runtime_error("no ffmpeg");

        if (largeOnly) {
            largeUpload(store, makeFiles(home.filePath(QStringLiteral("large")), 1, largeSeconds))
                .print("one 120 MiB file through the Analysis page");
            return 0;
        }
        std::printf("%d files converted (M4A) and %d analysed at once, offscreen, local stand-in service, %d rounds "
                    "of each, alternately\n",
                    convertFiles, analyseFiles, rounds);
        Outcome worstAlone;
        Outcome worstPages;
        double ownAlone = 0;
        double ownPages = 0;
        for (int round = 1; round <= rounds; ++round) {
            // Each measurement has files of its own, so that nothing is skipped as done before.
            const QString prefix = QStringLiteral("round %1/").arg(round);
            const Outcome alone =
                runnersAlone(store, makeFiles(home.filePath(prefix + QStringLiteral("alone/convert")), convertFiles, 0.2),
                             makeFiles(home.filePath(prefix + QStringLiteral("alone/analyse")), analyseFiles, 1.0), *ffmpeg);
            alone.print(qPrintable(QStringLiteral("round %1, runners alone").arg(round)));
            const Outcome pages =
                throughPages(store, makeFiles(home.filePath(prefix + QStringLiteral("pages/convert")), convertFiles, 0.2),
                             makeFiles(home.filePath(prefix + QStringLiteral("pages/analyse")), analyseFiles, 1.0));
            pages.print(qPrintable(QStringLiteral("round %1, through the pages").arg(round)));
            if (alone.longestStallMs > worstAlone.longestStallMs)
                worstAlone = alone;
            if (pages.longestStallMs > worstPages.longestStallMs)
                worstPages = pages;
            ownAlone = std::max(ownAlone, alone.longestOwnMs);
            ownPages = std::max(ownPages, pages.longestOwnMs);
        }
        const Outcome large = largeUpload(store, makeFiles(home.filePath(QStringLiteral("large")), 1, largeSeconds));
        large.print("one 120 MiB file through the Analysis page");
        std::printf("longest stall through the pages %.1f ms, runners alone %.1f ms: ratio %.2f; against the 50 ms "
                    "aim: %.2f (aim < 1)\n",
                    worstPages.longestStallMs, worstAlone.longestStallMs,
                    worstPages.longestStallMs / std::max(worstAlone.longestStallMs, 0.001), worstPages.longestStallMs / 50.0);
        std::printf("longest stall of the program's own making (less the time spent waiting for a CPU) through the "
                    "pages %.1f ms, runners alone %.1f ms: ratio %.2f; against the 50 ms aim: %.2f (aim < 1)\n",
                    ownPages, ownAlone, ownPages / std::max(ownAlone, 0.001), ownPages / 50.0);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "stall_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}

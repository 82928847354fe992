// A soak run of the program's engines against the stand-in service (HTTPS) with faults switched
// on at random: the session store with its usage reports, the convert runner on real ffmpeg,
// the analysis runner, and the updater's check and download, side by side for a long time while
// connections drop, answers come as 500 or slowly or broken, every token expires at once and
// ffmpeg processes are killed. A line of counts every minute; at the end the checks:
//   - every usage report of a finished conversion is accepted by the service exactly once or
//     still queued in the client (the service's own record, GET /admin/usage, by file name);
//   - no temporary file is left in any destination or temporary folder;
//   - no file descriptor or child process has leaked (compared with the end of the first minute);
//   - resident memory has grown by at most 10% since the end of the first minute;
//   - the heap in use with the client's idle connections kept has grown by at most 2 MiB;
//   - resident memory while the engines run has grown by at most 10% from the fifth minute to
//     the last (from the first in a run shorter than six minutes).
// The at-rest measurements are taken with every engine at rest and the allocator's free memory
// returned; the resident figure after the connection caches are cleared.
//
//   soak_bench [--minutes N | --seconds N] [--seed N]     (default: 30 minutes)
// Exit status 0 when every check holds.
#include "analysis/AnalysisRunner.h"
#include "app/ActiveJobs.h"
#include "bench/reliability/AdminClient.h"
#include "bench/reliability/ProcessProbe.h"
#include "convert/ConvertRunner.h"
#include "platform/AppPaths.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "service/SessionStore.h"
#include "tests/support/DevServer.h"
#include "update/UpdateManager.h"

#include <QCoreApplication>
#include <QCoroTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include <csignal>

#include <malloc.h>

using namespace vorlik;
using namespace std::chrono_literals;

namespace {

const QStringList temporaryPrefixes{QStringLiteral(".vorlik-tmp-"), QStringLiteral("vorlik-upload-"),
                                    QStringLiteral("vorlik-update-"), QStringLiteral("vorlik-image-"),
                                    QStringLiteral("vorlik-ffmpeg-"), QStringLiteral("vorlik-install-")};
const QString imageName = QStringLiteral("Vorlik-Desktop-1.2.25.dmg");

// "take-123.wav" -> 123; -1 for a name of another shape.
qint64 numberIn(const QString &fileName)
{
    if (!fileName.startsWith(QStringLiteral("take-")) || !fileName.endsWith(QStringLiteral(".wav")))
        return -1;
    bool ok = false;
    const qint64 number = fileName.mid(5, fileName.size() - 9).toLongLong(&ok);
    return ok ? number : -1;
}

void say(const QString &line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void makeSource(const QString &ffmpeg, const QString &path, int channels, double seconds)
{
    QProcess process;
    process.start(ffmpeg, {QStringLiteral("-y"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                           QStringLiteral("lavfi"), QStringLiteral("-i"),
                           QStringLiteral("sine=frequency=440:sample_rate=48000:duration=%1").arg(seconds),
                           QStringLiteral("-ac"), QString::number(channels), path});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        throw std::runtime_error("could not make the source files with ffmpeg");
}

// Where the engines stand; the soak's own gate lets every driver come to rest for a measurement.
struct Gate {
    bool closed = false;
    int resting = 0;
};

class Soak {
public:
    Soak(test::DevServer &server, QString root, QString ffmpeg, std::chrono::seconds duration, quint32 seed)
        : m_server(server), m_admin(server.baseUrl()), m_root(std::move(root)), m_ffmpeg(std::move(ffmpeg)),
          m_duration(duration), m_random(seed),
          m_updates(platform::Settings::standard(), app::ActiveJobs::shared()),
          m_analysis(nullptr, 300ms)
    {
        QObject::connect(&m_runner, &convert::ConvertRunner::itemsChanged, [this] { noteConversionStarts(); });
    }

    QCoro::Task<int> run();

private:
    // --- drivers ---
    QCoro::Task<void> convertDriver();
    QCoro::Task<void> analysisDriver();
    QCoro::Task<void> updateDriver();
    QCoro::Task<void> sessionKeeper();
    QCoro::Task<void> faultDriver();
    QCoro::Task<void> cancelLater(bool conversion, int milliseconds);
    QCoro::Task<void> pass();
    QCoro::Task<void> nap(int milliseconds);
    QCoro::Task<void> restEverything();
    void wakeEverything() { m_gate.closed = false; }
    // The figures of one measurement at rest, in KiB.
    struct AtRest {
        qint64 rss = 0;
        qint64 heapWithConnections = 0;
        int descriptors = 0;
    };
    QCoro::Task<void> measureAtRest(AtRest &figures);

    void noteConversionStarts();
    void minuteLine();
    int pick(int below) { return int(m_random.bounded(below)); }
    QString copySource(const QString &folder, const QString &prefix);
    int killFFmpeg();

    test::DevServer &m_server;
    soak::AdminClient m_admin;
    QString m_root;
    QString m_ffmpeg;
    std::chrono::seconds m_duration;
    QRandomGenerator m_random;

    service::SessionStore m_store;
    convert::ConvertRunner m_runner;
    update::UpdateManager m_updates;
    analysis::AnalysisRunner m_analysis;
    QList<service::Preset> m_presets;
    QStringList m_sources;

    bool m_stopping = false;
    int m_driversRunning = 0;
    int m_cancelsPending = 0;
    Gate m_gate;
    QElapsedTimer m_clock;
    qint64 m_sequence = 0;

    // Usage reports: conversions that finished with a token, by source file name.
    QHash<QUuid, bool> m_tokenAtStart;
    QSet<qint64> m_reported; // the numbers in the source file names ("take-N.wav"), kept small
    qint64 m_acceptedAtOnce = 0;
    qint64 m_queuedAtFirst = 0;

    qint64 m_conversions = 0, m_converted = 0, m_convertFailed = 0, m_convertStopped = 0;
    qint64 m_analyses = 0, m_analysed = 0, m_analysisFailed = 0, m_analysisStopped = 0;
    qint64 m_checks = 0, m_downloads = 0, m_verified = 0, m_downloadFailed = 0;
    qint64 m_connects = 0;
    QMap<QString, qint64> m_faults;
    QStringList m_problems; // found on the way (temporary files after a batch, …)
    QList<qint64> m_rssCurve;
    QList<qint64> m_heapCurve;
    QList<int> m_fdCurve;
};

void Soak::noteConversionStarts()
{
    for (const convert::QueueItem &item : m_runner.items()) {
        // The runner takes the report's token in the same turn as it shows "Converting …".
        if (item.status.startsWith(QStringLiteral("Converting ")) && !m_tokenAtStart.contains(item.id))
            m_tokenAtStart.insert(item.id, m_store.session().has_value());
    }
}

QCoro::Task<void> Soak::nap(int milliseconds)
{
    co_await QCoro::sleepFor(std::chrono::milliseconds(milliseconds));
}

QCoro::Task<void> Soak::pass()
{
    if (!m_gate.closed)
        co_return;
    ++m_gate.resting;
    while (m_gate.closed)
        co_await QCoro::sleepFor(50ms);
    --m_gate.resting;
}

QCoro::Task<void> Soak::restEverything()
{
    m_gate.closed = true;
    // A pending stop request finishes on its own; only the drivers rest at the gate.
    while (m_gate.resting < m_driversRunning - m_cancelsPending)
        co_await QCoro::sleepFor(50ms);
}

QCoro::Task<void> Soak::measureAtRest(AtRest &figures)
{
    // Idle worker threads (the digest, the unpacking) each hold a wake-up descriptor until they
    // expire; waiting for the pool ends them, so the counts compare.
    QThreadPool::globalInstance()->waitForDone();
    co_await QCoro::sleepFor(500ms);
    // Memory the allocator holds free (per-thread arenas of the worker threads) goes back first,
    // so that the figure is what is live.
    ::malloc_trim(0);
    // What the client's idle connections hold is shown apart: Qt keeps them (and their buffers)
    // in its connection cache, which the program itself never clears.
    figures.heapWithConnections = soak::ProcessProbe::heapInUseKiB();
    const qsizetype repliesAlive = service::APIClient::networkSession().findChildren<QNetworkReply *>().size();
    service::APIClient::networkSession().clearConnectionCache();
    m_admin.dropConnections();
    co_await QCoro::sleepFor(500ms);
    ::malloc_trim(0);
    say(QStringLiteral("at rest: heap in use %1 MiB with the idle connections kept, %2 replies alive")
            .arg(double(figures.heapWithConnections) / 1024.0, 0, 'f', 2)
            .arg(repliesAlive));
    figures.rss = soak::ProcessProbe::residentKiB();
    figures.descriptors = soak::ProcessProbe::openDescriptors();
    say(QStringLiteral("at rest: rss %1 MiB (anonymous %2 MiB, heap in use %3 MiB), fds %4: %5")
            .arg(double(figures.rss) / 1024.0, 0, 'f', 1)
            .arg(double(soak::ProcessProbe::anonymousKiB()) / 1024.0, 0, 'f', 1)
            .arg(double(soak::ProcessProbe::heapInUseKiB()) / 1024.0, 0, 'f', 2)
            .arg(figures.descriptors)
            .arg(soak::ProcessProbe::descriptorTargets().join(u' ')));
}

QString Soak::copySource(const QString &folder, const QString &prefix)
{
    const QString source = m_sources.at(pick(int(m_sources.size())));
    const QString path = folder + u'/' + prefix + QString::number(++m_sequence) + QStringLiteral(".wav");
    QFile::copy(source, path);
    return path;
}

int Soak::killFFmpeg()
{
    int killed = 0;
    for (const soak::ProcessProbe::Child &child : soak::ProcessProbe::children())
        if (child.name == QStringLiteral("ffmpeg") && child.state != 'Z' && ::kill(child.pid, SIGKILL) == 0)
            ++killed;
    return killed;
}

QCoro::Task<void> Soak::cancelLater(bool conversion, int milliseconds)
{
    ++m_driversRunning; // the soak waits for it like for a driver
    ++m_cancelsPending;
    co_await QCoro::sleepFor(std::chrono::milliseconds(milliseconds));
    --m_cancelsPending;
    --m_driversRunning;
    if (conversion && m_runner.isRunning())
        m_runner.cancel();
    if (!conversion && m_analysis.isRunning())
        m_analysis.cancel();
}

QCoro::Task<void> Soak::convertDriver()
{
    ++m_driversRunning;
    const QString folder = m_root + QStringLiteral("/convert");
    while (!m_stopping) {
        co_await pass();
        if (!m_store.session() || m_presets.isEmpty()) {
            co_await nap(200);
            continue;
        }
        QDir().mkpath(folder);
        const int files = 1 + pick(4);
        QStringList paths;
        for (int i = 0; i < files; ++i)
            paths << copySource(folder, QStringLiteral("take-"));
        // Mostly the audio presets; now and then a video one, which fails on audio sources.
        QList<service::Preset> audio;
        for (const service::Preset &candidate : std::as_const(m_presets))
            if (candidate.kind != QStringLiteral("video"))
                audio << candidate;
        const QList<service::Preset> &from = audio.isEmpty() || pick(10) == 0 ? m_presets : audio;
        const service::Preset preset = from.at(pick(int(from.size())));
        m_runner.queue(paths, preset.id);
        m_runner.run(m_store.presets().isEmpty() ? m_presets : m_store.presets(), m_ffmpeg, &m_store);
        if (pick(25) == 0)
            cancelLater(true, 50 + pick(1500));
        while (m_runner.isRunning())
            co_await QCoro::sleepFor(50ms);

        for (const convert::QueueItem &item : m_runner.items()) {
            ++m_conversions;
            if (item.isPending()) {
                ++m_convertStopped;
            } else if (!*item.succeeded) {
                ++m_convertFailed;
            } else {
                ++m_converted;
                if (m_tokenAtStart.value(item.id)) {
                    m_reported.insert(numberIn(QFileInfo(item.input).fileName()));
                    if (item.status.endsWith(QStringLiteral("(usage not reported)")))
                        ++m_queuedAtFirst;
                    else
                        ++m_acceptedAtOnce;
                }
            }
        }
        const QStringList left = soak::ProcessProbe::leftovers({folder}, temporaryPrefixes);
        if (!left.isEmpty())
            m_problems << QStringLiteral("after a conversion batch: ") + left.join(QStringLiteral(", "));
        m_runner.clearFinished();
        for (const convert::QueueItem &item : QList<convert::QueueItem>(m_runner.items()))
            m_runner.remove(item.id);
        m_tokenAtStart.clear();
        QDir(folder).removeRecursively();
    }
    --m_driversRunning;
}

QCoro::Task<void> Soak::analysisDriver()
{
    ++m_driversRunning;
    const QString folder = m_root + QStringLiteral("/analysis");
    while (!m_stopping) {
        co_await pass();
        if (!m_store.session()) {
            co_await nap(200);
            continue;
        }
        QDir().mkpath(folder);
        const QString path = copySource(folder, QStringLiteral("clip-"));
        m_analysis.queue({QUrl::fromLocalFile(path)});
        m_analysis.run(m_store);
        if (pick(20) == 0)
            cancelLater(false, 100 + pick(2000));
        while (m_analysis.isRunning())
            co_await QCoro::sleepFor(100ms);
        for (const analysis::AnalysisRunner::Item &item : m_analysis.items()) {
            ++m_analyses;
            if (!item.succeeded)
                ++m_analysisStopped;
            else if (*item.succeeded)
                ++m_analysed;
            else
                ++m_analysisFailed;
        }
        const QStringList left = soak::ProcessProbe::leftovers({folder, platform::AppPaths::temporary()},
                                                               {QStringLiteral("vorlik-upload-")});
        if (!left.isEmpty())
            m_problems << QStringLiteral("after an analysis: ") + left.join(QStringLiteral(", "));
        m_analysis.clear();
        for (const analysis::AnalysisRunner::Item &item : QList<analysis::AnalysisRunner::Item>(m_analysis.items()))
            m_analysis.remove(item);
        QDir(folder).removeRecursively();
        co_await nap(pick(1500));
    }
    --m_driversRunning;
}

QCoro::Task<void> Soak::updateDriver()
{
    ++m_driversRunning;
    while (!m_stopping) {
        co_await pass();
        QCoro::Task<update::UpdatePhase> checking = m_updates.check();
        update::UpdatePhase phase = co_await checking;
        ++m_checks;
        if (phase.is(update::UpdatePhase::Kind::available)) {
            ++m_downloads;
            QCoro::Task<void> downloading = m_updates.download(phase.manifest);
            co_await downloading;
            if (m_updates.phase().is(update::UpdatePhase::Kind::downloaded) && QFileInfo::exists(m_updates.phase().path))
                ++m_verified;
            else
                ++m_downloadFailed;
        }
        for (int waited = 0, wait = 5000 + pick(15000); waited < wait && !m_stopping; waited += 250)
            co_await nap(250);
    }
    --m_driversRunning;
}

QCoro::Task<void> Soak::sessionKeeper()
{
    ++m_driversRunning;
    qint64 lastReconnect = 0;
    while (!m_stopping) {
        co_await pass();
        const auto kind = m_store.state().kind;
        const bool down = kind == service::ConnectionState::Case::disconnected
            || kind == service::ConnectionState::Case::failed;
        // A user who reconnects now and then sends the queued reports again.
        const bool reconnect = m_clock.elapsed() - lastReconnect > 90000;
        if (down || reconnect) {
            if (reconnect && !down)
                m_store.disconnect();
            lastReconnect = m_clock.elapsed();
            ++m_connects;
            QCoro::Task<void> connecting = m_store.connect(m_server.demoKey());
            co_await connecting;
            if (!m_store.presets().isEmpty())
                m_presets = m_store.presets();
        }
        co_await nap(300);
    }
    --m_driversRunning;
}

QCoro::Task<void> Soak::faultDriver()
{
    ++m_driversRunning;
    static const QStringList paths{QStringLiteral("/v1/usage/convert"), QStringLiteral("/v1/presets"),
                                   QStringLiteral("/v1/auth/refresh"),  QStringLiteral("/v1/auth/activate"),
                                   QStringLiteral("/v1/uploads"),       QStringLiteral("/tools/desktop/latest.json"),
                                   QStringLiteral("/tools/desktop/") + imageName};
    while (!m_stopping) {
        co_await nap(1000 + pick(3000));
        co_await pass();
        if (m_stopping)
            break;
        const int roll = pick(100);
        const QString path = paths.at(pick(int(paths.size())));
        QJsonObject fault{{QStringLiteral("path"), path}, {QStringLiteral("count"), 1 + pick(2)}};
        QString kind;
        if (roll < 25) {
            fault.insert(QStringLiteral("action"), QStringLiteral("close"));
            kind = QStringLiteral("dropped");
        } else if (roll < 45) {
            fault.insert(QStringLiteral("action"), QStringLiteral("status"));
            fault.insert(QStringLiteral("status"), 500);
            kind = QStringLiteral("500");
        } else if (roll < 60) {
            fault.insert(QStringLiteral("action"), QStringLiteral("delay"));
            fault.insert(QStringLiteral("delay_ms"), 1000 + pick(4000));
            kind = QStringLiteral("slow");
        } else if (roll < 68) {
            // A broken body in a 200 answer, where the client reads one. (On the usage endpoint
            // the stand-in would answer 200 without counting: a service that lies, not a fault
            // of the client.)
            static const QStringList decoded{QStringLiteral("/v1/presets"), QStringLiteral("/v1/auth/refresh"),
                                             QStringLiteral("/v1/auth/activate"), QStringLiteral("/tools/desktop/latest.json")};
            fault.insert(QStringLiteral("path"), decoded.at(pick(int(decoded.size()))));
            fault.insert(QStringLiteral("action"), QStringLiteral("malformed"));
            kind = QStringLiteral("malformed");
        } else if (roll < 82) {
            QCoro::Task<bool> expiring = m_admin.expireTokens();
            if (co_await expiring)
                ++m_faults[QStringLiteral("401")];
            continue;
        } else {
            const int killed = killFFmpeg();
            if (killed > 0)
                m_faults[QStringLiteral("killed")] += killed;
            continue;
        }
        QCoro::Task<bool> adding = m_admin.addFault(fault);
        if (co_await adding)
            ++m_faults[kind];
    }
    --m_driversRunning;
}

void Soak::minuteLine()
{
    const qint64 rss = soak::ProcessProbe::residentKiB();
    const qint64 heap = soak::ProcessProbe::heapInUseKiB();
    const int fds = soak::ProcessProbe::openDescriptors();
    m_rssCurve << rss;
    m_heapCurve << heap;
    m_fdCurve << fds;
    qint64 faults = 0;
    QStringList kinds;
    for (auto it = m_faults.cbegin(); it != m_faults.cend(); ++it) {
        faults += it.value();
        kinds << it.key() + u' ' + QString::number(it.value());
    }
    say(QStringLiteral("minute %1: reports %2 (at once %3, queued %4, queue now %5) | conversions %6 (ok %7, failed %8, "
                       "stopped %9) | analyses %10 (ok %11, failed %12, stopped %13) | updates %14 checks, %15 downloads "
                       "(%16 verified) | connects %17 | faults %18 (%19) | rss %20 MiB, heap %21 MiB, fds %22")
            .arg(m_rssCurve.size()) // the timer is coarse: the clock's minute may still read one less
            .arg(m_reported.size())
            .arg(m_acceptedAtOnce)
            .arg(m_queuedAtFirst)
            .arg(m_store.pendingUsageCount())
            .arg(m_conversions)
            .arg(m_converted)
            .arg(m_convertFailed)
            .arg(m_convertStopped)
            .arg(m_analyses)
            .arg(m_analysed)
            .arg(m_analysisFailed)
            .arg(m_analysisStopped)
            .arg(m_checks)
            .arg(m_downloads)
            .arg(m_verified)
            .arg(m_connects)
            .arg(faults)
            .arg(kinds.join(QStringLiteral(", ")))
            .arg(double(rss) / 1024.0, 0, 'f', 1)
            .arg(double(heap) / 1024.0, 0, 'f', 2)
            .arg(fds));
}

QCoro::Task<int> Soak::run()
{
    // Sources: stereo, six channels (the stereo presets mix it down after a probe) and mono.
    const QString sources = m_root + QStringLiteral("/sources");
    QDir().mkpath(sources);
    m_sources = {sources + QStringLiteral("/stereo.wav"), sources + QStringLiteral("/surround.wav"),
                 sources + QStringLiteral("/mono.wav")};
    makeSource(m_ffmpeg, m_sources[0], 2, 2.0);
    makeSource(m_ffmpeg, m_sources[1], 6, 1.5);
    makeSource(m_ffmpeg, m_sources[2], 1, 1.0);

    m_clock.start();
    ++m_connects;
    QCoro::Task<void> connecting = m_store.connect(m_server.demoKey());
    co_await connecting;
    m_presets = m_store.presets();
    if (m_presets.isEmpty()) {
        say(QStringLiteral("no presets from the service: ") + m_store.state().message);
        co_return 2;
    }

    QTimer minutes;
    minutes.setInterval(60000);
    QObject::connect(&minutes, &QTimer::timeout, [this] { minuteLine(); });
    minutes.start();

    convertDriver();
    analysisDriver();
    updateDriver();
    sessionKeeper();
    faultDriver();

    // The level after the first minute, with everything at rest.
    AtRest first;
    const qint64 firstMinute = std::min<qint64>(60000, std::chrono::milliseconds(m_duration).count() / 2);
    while (m_clock.elapsed() < firstMinute)
        co_await QCoro::sleepFor(250ms);
    QCoro::Task<void> resting = restEverything();
    co_await resting;
    QCoro::Task<void> measuring = measureAtRest(first);
    co_await measuring;
    wakeEverything();
    say(QStringLiteral("(the baseline, after %1 s)").arg(m_clock.elapsed() / 1000));

    while (m_clock.elapsed() < std::chrono::milliseconds(m_duration).count())
        co_await QCoro::sleepFor(250ms);
    m_stopping = true;
    minutes.stop();
    while (m_driversRunning > 0)
        co_await QCoro::sleepFor(100ms);
    QCoro::Task<bool> clearing = m_admin.clearFaults();
    co_await clearing;
    // The final check of the updater: a good image was verified, and a check now replaces it.
    QCoro::Task<update::UpdatePhase> checking = m_updates.check();
    co_await checking;
    minuteLine();

    AtRest end;
    QCoro::Task<void> measuringEnd = measureAtRest(end);
    co_await measuringEnd;

    // --- the checks ---
    int failures = 0;
    const auto check = [&](bool ok, const QString &line) {
        say((ok ? QStringLiteral("PASS  ") : QStringLiteral("FAIL  ")) + line);
        if (!ok)
            ++failures;
    };

    QCoro::Task<QJsonObject> asking = m_admin.usage();
    const QJsonObject usage = co_await asking;
    QHash<qint64, int> seen;
    for (const QJsonValue &report : usage.value(QStringLiteral("reports")).toArray())
        ++seen[numberIn(report.toObject().value(QStringLiteral("filename")).toString())];
    const qint64 serviceTotal = usage.value(QStringLiteral("total")).toInteger(-1);
    QHash<qint64, int> queued;
    for (const service::PendingUsage &report : m_store.pendingUsage())
        ++queued[numberIn(report.filename)];
    QList<qint64> lost, doubled, unknown;
    for (const qint64 name : std::as_const(m_reported)) {
        const int times = seen.value(name) + queued.value(name);
        if (times == 0)
            lost << name;
        else if (times > 1)
            doubled << name;
    }
    for (auto it = seen.cbegin(); it != seen.cend(); ++it)
        if (!m_reported.contains(it.key()))
            unknown << it.key();
    const qint64 clientAccepted = qint64(m_reported.size()) - m_store.pendingUsageCount();
    check(lost.isEmpty() && doubled.isEmpty() && unknown.isEmpty() && serviceTotal == clientAccepted,
          QStringLiteral("usage: %1 reports sent; the service counts %2, the client counts %3 accepted + %4 queued "
                         "(lost %5, counted twice %6, unknown %7)")
              .arg(m_reported.size())
              .arg(serviceTotal)
              .arg(clientAccepted)
              .arg(m_store.pendingUsageCount())
              .arg(lost.size())
              .arg(doubled.size())
              .arg(unknown.size()));

    QStringList left = soak::ProcessProbe::leftovers({m_root, platform::AppPaths::temporary()}, temporaryPrefixes);
    left += m_problems;
    check(left.isEmpty(), QStringLiteral("temporary files left: %1%2")
                              .arg(left.size())
                              .arg(left.isEmpty() ? QString() : QStringLiteral(" — ") + left.mid(0, 5).join(QStringLiteral(", "))));

    QStringList strays;
    for (const soak::ProcessProbe::Child &child : soak::ProcessProbe::children())
        if (child.name != QStringLiteral("vorlik-devserve"))
            strays << QStringLiteral("%1 %2 (%3)").arg(child.pid).arg(child.name).arg(QChar::fromLatin1(child.state));
    check(strays.isEmpty(), QStringLiteral("child processes left: %1%2")
                                .arg(strays.size())
                                .arg(strays.isEmpty() ? QString() : QStringLiteral(" — ") + strays.join(QStringLiteral(", "))));
    check(end.descriptors <= first.descriptors, QStringLiteral("file descriptors at rest: %1 after the first minute, %2 at the end")
                                                    .arg(first.descriptors)
                                                    .arg(end.descriptors));
    const auto percent = [](qint64 from, qint64 to) { return from > 0 ? 100.0 * double(to - from) / double(from) : 0.0; };
    check(double(end.rss) <= 1.10 * double(first.rss),
          QStringLiteral("resident memory at rest: %1 MiB after the first minute, %2 MiB at the end (%3%)")
              .arg(double(first.rss) / 1024.0, 0, 'f', 1)
              .arg(double(end.rss) / 1024.0, 0, 'f', 1)
              .arg(percent(first.rss, end.rss), 0, 'f', 1));
    check(end.heapWithConnections - first.heapWithConnections <= 2048,
          QStringLiteral("heap in use at rest with the idle connections kept: %1 MiB after the first minute, %2 MiB "
                         "at the end (%3 MiB, at most 2)")
              .arg(double(first.heapWithConnections) / 1024.0, 0, 'f', 2)
              .arg(double(end.heapWithConnections) / 1024.0, 0, 'f', 2)
              .arg(double(end.heapWithConnections - first.heapWithConnections) / 1024.0, 0, 'f', 2));
    // While running: from the fifth minute, once start-up (first uses, caches, thread pools) is
    // behind, to the last.
    const qsizetype from = m_rssCurve.size() >= 6 ? 4 : 0;
    const qint64 rssFrom = m_rssCurve.value(from), rssLast = m_rssCurve.isEmpty() ? 0 : m_rssCurve.last();
    check(double(rssLast) <= 1.10 * double(rssFrom),
          QStringLiteral("resident memory while running: %1 MiB at minute %2, %3 MiB at minute %4 (%5%, at most 10%)")
              .arg(double(rssFrom) / 1024.0, 0, 'f', 1)
              .arg(from + 1)
              .arg(double(rssLast) / 1024.0, 0, 'f', 1)
              .arg(m_rssCurve.size())
              .arg(percent(rssFrom, rssLast), 0, 'f', 1));

    QStringList rss, heap, fds;
    for (qint64 kib : std::as_const(m_rssCurve))
        rss << QString::number(double(kib) / 1024.0, 'f', 1);
    for (qint64 kib : std::as_const(m_heapCurve))
        heap << QString::number(double(kib) / 1024.0, 'f', 2);
    for (int n : std::as_const(m_fdCurve))
        fds << QString::number(n);
    say(QStringLiteral("rss per minute (MiB): ") + rss.join(u' '));
    say(QStringLiteral("heap in use per minute (MiB): ") + heap.join(u' '));
    say(QStringLiteral("fds per minute: ") + fds.join(u' '));
    co_return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    std::chrono::seconds duration = 30min;
    quint32 seed = quint32(QDateTime::currentMSecsSinceEpoch());
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray flag(argv[i]);
        const qint64 value = QByteArray(argv[i + 1]).toLongLong();
        if (flag == "--minutes")
            duration = std::chrono::minutes(value);
        else if (flag == "--seconds")
            duration = std::chrono::seconds(value);
        else if (flag == "--seed")
            seed = quint32(value);
        else {
            std::fprintf(stderr, "usage: soak_bench [--minutes N | --seconds N] [--seed N]\n");
            return 2;
        }
    }

    // A private home: settings, logs and the Updates folder of this run only.
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/vorlik-soak-XXXXXX"));
    const QByteArray home = root.path().toUtf8();
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/config");
    qputenv("XDG_DATA_HOME", home + "/data");
    qputenv("XDG_CACHE_HOME", home + "/cache");
    QCoreApplication app(argc, argv);

    const QString ffmpeg = QStringLiteral("/usr/bin/ffmpeg");
    const QString updates = root.path() + QStringLiteral("/served-updates");
    QDir().mkpath(updates);
    test::DevServer::trustTestCA();
    // Tokens that expire on their own too, so refreshes happen between the forced expiries.
    auto *server = new test::DevServer(test::DevServer::tlsArguments()
                                       + QStringList{QStringLiteral("--updates"), updates,
                                                     QStringLiteral("--token-lifetime"), QStringLiteral("45")});
    server->useAsService();
    // The client's temporary folder is its own (the server's files stay in the usual one).
    QDir().mkpath(root.path() + QStringLiteral("/tmp"));
    qputenv("TMPDIR", home + "/tmp");

    // The update the service offers: a small image and its description.
    {
        QFile image(updates + u'/' + imageName);
        image.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, Qt::Uninitialized);
        QRandomGenerator random(seed);
        for (int i = 0; i < 4; ++i) {
            random.fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
            image.write(block);
        }
        image.close();
        QUrl link = server->baseUrl();
        link.setPath(QStringLiteral("/tools/desktop/") + imageName);
        const QJsonObject manifest{{QStringLiteral("version"), QStringLiteral("1.2.25")},
                                   {QStringLiteral("build"), 28},
                                   {QStringLiteral("dmg"), link.toString()},
                                   {QStringLiteral("sha256"), update::UpdateManager::sha256(image.fileName())}};
        QFile latest(updates + QStringLiteral("/latest.json"));
        latest.open(QIODevice::WriteOnly);
        latest.write(QJsonDocument(manifest).toJson());
    }

    say(QStringLiteral("soak: %1 s against %2, seed %3").arg(duration.count()).arg(server->baseUrl().toString()).arg(seed));
    int status = 1;
    {
        Soak soak(*server, root.path(), ffmpeg, duration, seed);
        bool done = false;
        auto body = [&]() -> QCoro::Task<void> {
            try {
                QCoro::Task<int> running = soak.run();
                status = co_await running;
            } catch (const std::exception &error) {
                say(QStringLiteral("soak stopped: ") + QString::fromUtf8(error.what()));
            }
            done = true;
            QCoreApplication::quit();
        };
        auto task = body();
        if (!done)
            app.exec();
    }
    test::DevServer::stopAll();
    return status;
}

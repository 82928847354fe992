// A file of exactly the upload limit (128 MiB) sent to a local stand-in service, alternately
// through AnalysisEndpoints::uploadAudio and by `curl -F file=@…` (the anchor), over HTTP and
// over HTTPS, in one run. Prints, for each, the best time of each sender, the client's
// throughput as a ratio of curl's (aim: >= 0.8), and where the time went: the processor time
// of the sender and of the service during the upload (median of the rounds). Then the client's
// peak resident memory above its idle level during an upload (aim: <= 16 MiB).
#include "analysis/AnalysisEndpoints.h"
#include "bench/support/BenchSupport.h"
#include "tests/support/DevServer.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

using namespace vorlik;

namespace {

constexpr qint64 fileBytes = 134217728;
constexpr int rounds = 6; // the machine is shared: the best of several alternating rounds

QString activate(const test::DevServer &server)
{
    const QJsonObject fields{{QStringLiteral("api_key"), server.demoKey()},
                             {QStringLiteral("installation_label"), QStringLiteral("Vorlik Desktop")}};
    const auto [status, body] = server.call("POST", QStringLiteral("/v1/auth/activate"), QJsonDocument(fields).toJson());
    if (status != 200)
        throw std::runtime_error("activate failed");
    return QJsonDocument::fromJson(body).object().value(QStringLiteral("access_token")).toString();
}

// Processor time (user + system) in nanoseconds: of this process, of its waited-for children,
// or of another process (from /proc).
qint64 cpuNs(int who)
{
    rusage usage{};
    ::getrusage(who, &usage);
    const auto ns = [](const timeval &t) { return qint64(t.tv_sec) * 1000000000 + qint64(t.tv_usec) * 1000; };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

qint64 processCpuNs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // Fields after the command name (which may hold spaces): state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const qint64 ticks = fields.value(11).toLongLong() + fields.value(12).toLongLong();
    return ticks * (1000000000 / ::sysconf(_SC_CLK_TCK));
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().split(' ').mid(0, 3).join(' ')) : QString();
}

// The failure is caught inside the coroutine: QCoro::waitFor (0.8) never returns from a task
// that throws after it suspended.
QCoro::Task<QString> uploadOrError(QUrl file, QString bearer)
{
    try {
        co_return co_await analysis::AnalysisEndpoints::uploadAudio(file, bearer);
    } catch (const std::exception &error) {
        co_return QStringLiteral("error: ") + describe(error);
    }
}

struct Sample {
    qint64 wallNs = 0;
    qint64 senderCpuNs = 0;
    qint64 serviceCpuNs = 0;
};

Sample clientUpload(const test::DevServer &server, const QUrl &file, const QString &bearer)
{
    const qint64 serviceBefore = processCpuNs(server.processId());
    const qint64 before = cpuNs(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();
    const QString id = QCoro::waitFor(uploadOrError(file, bearer));
    Sample sample{clock.nsecsElapsed(), cpuNs(RUSAGE_SELF) - before, processCpuNs(server.processId()) - serviceBefore};
    if (id.isEmpty() || id.startsWith(QStringLiteral("error: ")))
        throw std::runtime_error("the client's upload failed: " + id.toStdString());
    return sample;
}

Sample curlUpload(const test::DevServer &server, const QString &path, const QString &bearer)
{
    QStringList arguments{QStringLiteral("-sS"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                          QStringLiteral("-w"), QStringLiteral("%{http_code}"),
                          QStringLiteral("-H"), QStringLiteral("Authorization: Bearer ") + bearer,
                          QStringLiteral("-F"), QStringLiteral("file=@") + path};
    if (server.baseUrl().scheme() == QStringLiteral("https"))
        arguments << QStringLiteral("--cacert") << QStringLiteral(VORLIK_TEST_TLS_DIR "/ca.pem");
    arguments << server.baseUrl().resolved(QUrl(QStringLiteral("/v1/uploads"))).toString();
    QProcess curl;
    const qint64 serviceBefore = processCpuNs(server.processId());
    const qint64 before = cpuNs(RUSAGE_CHILDREN);
    QElapsedTimer clock;
    clock.start();
    curl.start(QStringLiteral("curl"), arguments);
    if (!curl.waitForFinished(600000) || curl.exitCode() != 0)
        throw std::runtime_error("curl failed: " + curl.readAllStandardError().toStdString());
    Sample sample{clock.nsecsElapsed(), cpuNs(RUSAGE_CHILDREN) - before, processCpuNs(server.processId()) - serviceBefore};
    if (curl.readAllStandardOutput().trimmed() != "200")
        throw std::runtime_error("curl's upload was not answered 200");
    return sample;
}

qint64 median(std::vector<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Figures {
    std::vector<Sample> client, curl;
    qint64 peakGrowthKiB = 0;
    qint64 coldGrowthKiB = 0;

    qint64 best(const std::vector<Sample> &samples) const
    {
        qint64 best = std::numeric_limits<qint64>::max();
        for (const Sample &sample : samples)
            best = std::min(best, sample.wallNs);
        return best;
    }
    static qint64 medianOf(const std::vector<Sample> &samples, qint64 Sample::*field)
    {
        std::vector<qint64> values;
        for (const Sample &sample : samples)
            values.push_back(sample.*field);
        return median(values);
    }
};

Figures measure(const test::DevServer &server, const QString &path, bool peakResets)
{
    server.useAsService();
    const QString bearer = activate(server);
    const QUrl file = QUrl::fromLocalFile(path);
    Figures figures;
    // Warm up both paths (page cache, connection set-up, first allocations). The first upload's
    // growth is the cold figure: the network session and its buffers made anew.
    const qint64 coldIdle = bench::statusKiB("VmRSS:");
    if (peakResets)
        bench::resetPeak();
    clientUpload(server, file, bearer);
    figures.coldGrowthKiB = bench::statusKiB("VmHWM:") - coldIdle;
    curlUpload(server, path, bearer);
    for (int round = 0; round < rounds; ++round) {
        figures.curl.push_back(curlUpload(server, path, bearer));
        const qint64 idle = bench::statusKiB("VmRSS:");
        if (peakResets)
            bench::resetPeak();
        figures.client.push_back(clientUpload(server, file, bearer));
        figures.peakGrowthKiB = std::max(figures.peakGrowthKiB, bench::statusKiB("VmHWM:") - idle);
    }
    return figures;
}

void print(const char *scheme, const Figures &figures)
{
    const double mib = double(fileBytes) / (1 << 20);
    const qint64 client = figures.best(figures.client);
    const qint64 curl = figures.best(figures.curl);
    std::printf("%-5s best of %d: client %.0f ms (%.0f MiB/s), curl -F %.0f ms (%.0f MiB/s); ratio client/curl %.2f "
                "(aim >= 0.80)\n",
                scheme, rounds, client / 1e6, mib / (client / 1e9), curl / 1e6, mib / (curl / 1e9),
                double(curl) / double(client));
    std::printf("      processor time per upload (median): client %.0f ms, service %.0f ms | curl %.0f ms, "
                "service %.0f ms\n",
                Figures::medianOf(figures.client, &Sample::senderCpuNs) / 1e6,
                Figures::medianOf(figures.client, &Sample::serviceCpuNs) / 1e6,
                Figures::medianOf(figures.curl, &Sample::senderCpuNs) / 1e6,
                Figures::medianOf(figures.curl, &Sample::serviceCpuNs) / 1e6);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bench::PrivateHome home;
    try {
        test::DevServer::trustTestCA();
        test::DevServer plain;
        test::DevServer tls(test::DevServer::tlsArguments());
        const QString path = home.filePath(QStringLiteral("limit.wav"));
        bench::writeRandomFile(path, fileBytes, 7);
        const bool peakResets = bench::resetPeak();

        std::printf("upload of %.0f MiB; load average before: %s\n", double(fileBytes) / (1 << 20),
                    qPrintable(loadAverage()));
        const Figures http = measure(plain, path, peakResets);
        const Figures https = measure(tls, path, peakResets);
        print("http", http);
        print("https", https);
        if (peakResets)
            std::printf("peak RSS growth above idle: first upload %.1f MiB, later uploads %.1f MiB (aim <= 16 MiB)\n",
                        std::max(http.coldGrowthKiB, https.coldGrowthKiB) / 1024.0,
                        std::max(http.peakGrowthKiB, https.peakGrowthKiB) / 1024.0);
        else
            std::printf("peak RSS growth: not measurable here (/proc/self/clear_refs refused)\n");
        std::printf("load average after: %s\n", qPrintable(loadAverage()));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "upload_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}

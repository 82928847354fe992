// Loudness normalisation against the corpus of bench/loudness/make-corpus: for each file and each
// loudness preset of the stand-in service, three methods side by side in the same run:
//   one-pass   the one-pass loudnorm scripts the presets had before they measured (kept here)
//   two-pass   the common approach: loudnorm measures, then loudnorm in linear mode
//   measured   the stand-in service's measuring preset, run by the ConvertRunner
// Every output is measured with ffmpeg's ebur128=peak=true. Prints the input's I / TP / LRA and
// each method's, the measured preset's note when it fell short, whether it meets the aims, and
// its time (wall clock and CPU of the ffmpeg processes) as a ratio to one-pass.
//   loudness_bench CORPUS_FOLDER
#include "bench/support/BenchSupport.h"
#include "convert/ConvertRunner.h"
#include "convert/LoudnessMeter.h"
#include "convert/LoudnessSearch.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "ffmpeg/Preferences.h"
#include "platform/Settings.h"
#include "service/SessionStore.h"
#include "tests/support/DevServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

using namespace vorlik;
using convert::Loudness;

namespace {

// What the loudness presets ran before they measured their source.
QString onePassScript(const service::Preset &preset, double target)
{
    const QString loudnorm = QStringLiteral("loudnorm=I=%1:TP=-1.5:LRA=11").arg(target);
    if (preset.outputExt == QStringLiteral(".mp4"))
        return QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -map 0:v:0 -map 0:a:0 -c:v copy -af %1 "
                              "-ar 48000 -c:a aac -b:a 256k -movflags +faststart \"{output_base}.mp4\"")
            .arg(loudnorm);
    return QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -map 0:a:0 -af %1 -ar 48000 "
                          "-c:a pcm_s24le \"{output_base}.wav\"")
        .arg(loudnorm);
}

// Seconds of CPU that finished child processes have used so far.
double childCpu()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing {
    double wall = 0;
    double cpu = 0;
};

class Stopwatch {
public:
    Stopwatch() : m_cpu(childCpu()) { m_clock.start(); }
    Timing elapsed() const { return {m_clock.nsecsElapsed() / 1e9, childCpu() - m_cpu}; }

private:
    QElapsedTimer m_clock;
    double m_cpu;
};

// Runs ffmpeg to its end; its error stream.
QString ffmpeg(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error("ffmpeg failed: " + arguments.join(u' ').toStdString() + "\n"
                                 + process.readAllStandardError().right(2000).toStdString());
    return QString::fromUtf8(process.readAllStandardError());
}

Loudness measure(const QString &program, const QString &file)
{
    const std::optional<Loudness> loudness =
        convert::LoudnessMeter::parseSummary(ffmpeg(program, convert::LoudnessMeter::arguments(file)));
    if (!loudness)
        throw std::runtime_error("no loudness summary for " + file.toStdString());
    return *loudness;
}

// The script's arguments for a source and an output base, run to the end.
void runScript(const QString &program, const QString &script, const QString &input, const QString &base)
{
    ffmpeg(program, convert::ConvertRunner::buildArguments(script, input, base));
}

// loudnorm's measurement (its first pass), as the JSON it prints last.
QJsonObject loudnormMeasurement(const QString &program, const QString &input, double target, double range)
{
    const QString text = ffmpeg(program, {QStringLiteral("-hide_banner"), QStringLiteral("-nostdin"), QStringLiteral("-nostats"),
                                          QStringLiteral("-i"), input, QStringLiteral("-map"), QStringLiteral("0:a:0"),
                                          QStringLiteral("-af"),
                                          QStringLiteral("loudnorm=I=%1:TP=-1.5:LRA=%2:print_format=json").arg(target).arg(range),
                                          QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")});
    const qsizetype open = text.lastIndexOf(u'{');
    const qsizetype close = text.lastIndexOf(u'}');
    if (open < 0 || close < open)
        throw std::runtime_error("no loudnorm measurement for " + input.toStdString());
    return QJsonDocument::fromJson(text.sliced(open, close - open + 1).toUtf8()).object();
}

// Two-pass loudnorm as it is usually done: measure, then normalise in linear mode with the measured
// values (loudnorm still falls back to its dynamic mode where linear gain would break the ceiling).
void twoPass(const QString &program, const service::Preset &preset, double target, double sourceRange,
             const QString &input, const QString &base)
{
    // A range target below the source's own would make loudnorm refuse linear mode by itself.
    const double range = std::clamp(std::ceil(sourceRange) + 1.0, 11.0, 50.0);
    const QJsonObject measured = loudnormMeasurement(program, input, target, range);
    const auto value = [&](const char *key) { return measured.value(QLatin1String(key)).toString(); };
    const QString filter = QStringLiteral("loudnorm=I=%1:TP=-1.5:LRA=%2:measured_I=%3:measured_TP=%4:measured_LRA=%5:"
                                          "measured_thresh=%6:offset=%7:linear=true")
                               .arg(target)
                               .arg(range)
                               .arg(value("input_i"), value("input_tp"), value("input_lra"), value("input_thresh"),
                                    value("target_offset"));
    QString script = onePassScript(preset, target);
    script.replace(QRegularExpression(QStringLiteral("loudnorm=\\S+")), filter);
    runScript(program, script, input, base);
}

struct Converted {
    QString file;
    std::optional<QString> note;
    int passes = 0;
    QStringList log; // the runner's measurement and pass lines
};

// The measuring preset through the runner, counting its conversions from the item's statuses.
Converted measured(const service::Preset &preset, const QString &program, const QString &input)
{
    convert::ConvertRunner runner;
    Converted converted;
    const qsizetype logMark = diagnostics::DiagnosticsLogger::shared().bufferSnapshot().size();
    QString shown;
    QObject::connect(&runner, &convert::ConvertRunner::itemsChanged, &runner, [&] {
        const QString status = runner.items().value(0).status;
        if (status != shown && status.startsWith(QStringLiteral("Converting ")))
            ++converted.passes;
        shown = status;
    });
    runner.queue(QStringList{input}, preset.id);
    QEventLoop loop;
    QObject::connect(&runner, &convert::ConvertRunner::isRunningChanged, &loop, [&] {
        if (!runner.isRunning())
            loop.quit();
    });
    runner.run({preset}, program, nullptr);
    if (runner.isRunning())
        loop.exec();
    const convert::QueueItem item = runner.items().value(0);
    if (item.succeeded != true || !item.output)
        throw std::runtime_error("the measured conversion of " + input.toStdString() + " failed: "
                                 + item.status.toStdString() + " " + item.errorDetail.value_or(QString()).toStdString());
    converted.file = *item.output;
    converted.note = item.note;
    const QStringList log = diagnostics::DiagnosticsLogger::shared().bufferSnapshot().mid(logMark);
    for (const QString &line : log) {
        const qsizetype at = line.indexOf(QStringLiteral("[convert] "));
        if (at >= 0 && (line.contains(QStringLiteral("] pass ")) || line.contains(QStringLiteral("] measured "))))
            converted.log.append(line.mid(at + 10).trimmed());
    }
    return converted;
}

QString figures(const Loudness &loudness)
{
    return QString::asprintf("%6.1f %5.1f %4.1f", loudness.integrated, loudness.truePeak, loudness.range);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: loudness_bench CORPUS_FOLDER\n");
        return 2;
    }
    const QString corpus = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const bench::PrivateHome home;
    // The runner's own account of each measured conversion comes from the diagnostics log.
    platform::Settings::standard().setValue(QStringLiteral("vorlikDiag"), true);
    try {
        test::DevServer server;
        server.useAsService();
        service::SessionStore store;
        QCoro::waitFor(store.connect(server.demoKey()));
        if (!store.state().isConnected())
            throw std::runtime_error("could not connect to the stand-in service");
        const std::optional<QString> program = ffmpeg::Preferences::effectiveFFmpeg();
        if (!program)
            throw std::runtime_error("no ffmpeg");
        QList<service::Preset> audioPresets;
        QList<service::Preset> videoPresets;
        for (const service::Preset &preset : store.presets()) {
            if (!preset.loudness)
                continue;
            (preset.outputExt == QStringLiteral(".mp4") ? videoPresets : audioPresets).append(preset);
        }
        if (audioPresets.isEmpty() || videoPresets.isEmpty())
            throw std::runtime_error("the service offers no measuring loudness presets");

        const QString work = home.filePath(QStringLiteral("out"));
        QDir().mkpath(work);
        const QStringList files = QDir(corpus).entryList({QStringLiteral("*.wav"), QStringLiteral("*.mp4")}, QDir::Files, QDir::Name);
        if (files.isEmpty())
            throw std::runtime_error("no corpus files in " + corpus.toStdString());

        std::printf("%-13s %-7s | %-16s | %-16s | %-16s | %-16s | %-6s | %-4s | %s\n", "file", "target", "input I TP LRA",
                    "one-pass", "two-pass linear", "measured", "aims", "runs", "time / one-pass (wall, cpu)");
        Timing onePassTotal;
        Timing measuredTotal;
        int missed = 0;
        QStringList notes;
        QStringList passLog;
        for (const QString &name : files) {
            const QString input = QDir(corpus).filePath(name);
            const Loudness source = measure(*program, input);
            const QList<service::Preset> &presets = name.endsWith(QStringLiteral(".mp4")) ? videoPresets : audioPresets;
            for (const service::Preset &preset : presets) {
                const double target = preset.loudness->target;
                const double ceiling = preset.loudness->ceiling;
                const QString base = QDir(work).filePath(QFileInfo(name).completeBaseName());
                const QString ext = preset.outputExt;

                Stopwatch onePassClock;
                runScript(*program, onePassScript(preset, target), input, base + QStringLiteral("-one"));
                const Timing onePassTime = onePassClock.elapsed();
                const Loudness onePass = measure(*program, base + QStringLiteral("-one") + ext);

                twoPass(*program, preset, target, source.range, input, base + QStringLiteral("-two"));
                const Loudness twoPassResult = measure(*program, base + QStringLiteral("-two") + ext);

                QDir(work).removeRecursively();
                QDir().mkpath(work);
                const QString copy = QDir(work).filePath(name);
                QFile::copy(input, copy);
                Stopwatch measuredClock;
                const Converted converted = measured(preset, *program, copy);
                const Timing measuredTime = measuredClock.elapsed();
                const Loudness result = measure(*program, converted.file);

                // The aims: on target within 0.5 LU under the ceiling; or, where the preset says the
                // target is out of reach, under the ceiling, no louder than the target and at least
                // as loud as one-pass. Where the gain alone keeps the peaks under the limit, nothing
                // may touch the dynamics: the range stays within 0.5 LU of the input's.
                const bool linear = source.truePeak + (target - source.integrated)
                    <= ceiling - convert::LoudnessSearch::limitMargin;
                const bool rangeKept = !linear || std::abs(result.range - source.range) <= 0.5;
                const bool underCeiling = result.truePeak <= ceiling;
                const bool onTarget = std::abs(result.integrated - target) <= 0.5;
                const bool honestShortfall = converted.note && result.integrated <= target
                    && result.integrated >= onePass.integrated - 0.05;
                const bool met = underCeiling && rangeKept && (onTarget || honestShortfall);
                missed += met ? 0 : 1;
                if (converted.note)
                    notes.append(name + QStringLiteral(" ") + preset.id + QStringLiteral(": ") + *converted.note);
                passLog.append(name + QStringLiteral(" ") + preset.id + QStringLiteral(": ") + converted.log.join(QStringLiteral("; ")));

                onePassTotal.wall += onePassTime.wall;
                onePassTotal.cpu += onePassTime.cpu;
                measuredTotal.wall += measuredTime.wall;
                measuredTotal.cpu += measuredTime.cpu;
                std::printf("%-13s %-7.0f | %s | %s | %s | %s | %-6s | %-4d | %.2f, %.2f\n", qPrintable(name), target,
                            qPrintable(figures(source)), qPrintable(figures(onePass)), qPrintable(figures(twoPassResult)),
                            qPrintable(figures(result)), met ? (onTarget ? "ok" : "short") : "MISSED",
                            converted.passes, measuredTime.wall / onePassTime.wall, measuredTime.cpu / onePassTime.cpu);
                std::fflush(stdout);
            }
        }
        std::printf("\nnotes of the measured presets:\n");
        for (const QString &note : notes)
            std::printf("  %s\n", qPrintable(note));
        std::printf("\nwhat the runner measured and tried:\n");
        for (const QString &line : passLog)
            std::printf("  %s\n", qPrintable(line));
        std::printf("\nmeasured presets, total time as a ratio to one-pass: wall %.2f, cpu %.2f (aim <= 2.2)\n",
                    measuredTotal.wall / onePassTotal.wall, measuredTotal.cpu / onePassTotal.cpu);
        std::printf("outputs that miss the aims: %d\n", missed);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "loudness_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}

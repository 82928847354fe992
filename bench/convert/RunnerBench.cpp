// The convert runner's own cost: 50 one-second WAV files through the stand-in service's -14 LUFS
// preset by ConvertRunner (output naming, temporary files, the move, clean-up, usage reports to a
// local stand-in service), against the same 50 ffmpeg command lines run one after another by a
// plain shell loop (the anchor), alternately in one run. Prints the best time of each and the
// ratio runner/shell: one conversion at a time (aim: <= 1.05) and two side by side (aim: <= 0.6
// on two cores). Then the cost of following ffmpeg's progress: the same 50 command lines run by
// runFFmpeg with and without a progress listener (aim: <= 1.02).
#include "bench/support/BenchSupport.h"
#include "convert/ConvertRunner.h"
#include "ffmpeg/Preferences.h"
#include "platform/Settings.h"
#include "service/SessionStore.h"
#include "tests/support/DevServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <limits>
#include <stdexcept>

using namespace vorlik;

namespace {

constexpr int files = 50;
constexpr int rounds = 5;
const QString presetID = QStringLiteral("normalise-14lufs");

void makeSources(const QString &ffmpeg, const QString &folder)
{
    for (int i = 0; i < files; ++i) {
        QProcess process;
        process.start(ffmpeg, {QStringLiteral("-y"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                               QStringLiteral("lavfi"), QStringLiteral("-i"),
                               QStringLiteral("sine=frequency=%1:sample_rate=48000:duration=1").arg(200 + 10 * i),
                               folder + QStringLiteral("/Take %1.wav").arg(i + 1)});
        if (!process.waitForFinished(60000) || process.exitCode() != 0)
            throw std::runtime_error("could not make the test files");
    }
}

// Removes every output of a round, keeping the sources.
void removeOutputs(const QString &folder)
{
    QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden)) {
        if (!name.startsWith(QStringLiteral("Take ")) || name.contains(u'_') || name.contains(QStringLiteral("shell")))
            dir.remove(name);
    }
}

qint64 runnerRound(const QString &folder, const service::Preset &preset, const QString &ffmpeg,
                   service::SessionStore &store, int simultaneous)
{
    QElapsedTimer clock;
    clock.start();
    convert::ConvertRunner runner;
    runner.setSimultaneousConversions(simultaneous);
    runner.queue(QStringList{folder}, preset.id);
    QEventLoop loop;
    QObject::connect(&runner, &convert::ConvertRunner::isRunningChanged, &loop, [&] {
        if (!runner.isRunning())
            loop.quit();
    });
    runner.run({preset}, ffmpeg, &store);
    if (runner.isRunning())
        loop.exec();
    const qint64 elapsed = clock.nsecsElapsed();
    for (const convert::QueueItem &item : runner.items()) {
        if (item.succeeded != true)
            throw std::runtime_error("a conversion failed: " + item.status.toStdString());
    }
    if (runner.items().size() != files)
        throw std::runtime_error("not every file was queued");
    return elapsed;
}

QByteArray shellQuoted(const QString &argument)
{
    QByteArray quoted = QFile::encodeName(argument);
    quoted.replace('\'', "'\\''");
    return '\'' + quoted + '\'';
}

// The same command lines, written out for sh: one ffmpeg after another, error stream discarded.
QString writeShellLoop(const QString &folder, const service::Preset &preset, const QString &ffmpeg)
{
    QByteArray script;
    for (int i = 0; i < files; ++i) {
        const QString input = folder + QStringLiteral("/Take %1.wav").arg(i + 1);
        const QString base = folder + QStringLiteral("/Take %1 shell").arg(i + 1);
        script += shellQuoted(ffmpeg);
        for (const QString &argument : convert::ConvertRunner::buildArguments(preset.command, input, base))
            script += ' ' + shellQuoted(argument);
        script += " </dev/null >/dev/null 2>&1 || exit 1\n";
    }
    const QString path = folder + QStringLiteral("/../loop.sh");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size())
        throw std::runtime_error("could not write the shell loop");
    return path;
}

// The 50 command lines one after another through runFFmpeg, following the progress or not.
qint64 processRound(const QString &folder, const service::Preset &preset, const QString &ffmpeg, bool followed)
{
    qint64 steps = 0;
    std::function<void(const convert::FFmpegProgress &)> listener;
    if (followed)
        listener = [&steps](const convert::FFmpegProgress &) { ++steps; };
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < files; ++i) {
        const QString input = folder + QStringLiteral("/Take %1.wav").arg(i + 1);
        const QString base = folder + QStringLiteral("/Take %1 shell").arg(i + 1);
        const QStringList arguments = convert::ConvertRunner::buildArguments(preset.command, input, base);
        const convert::ShellOutcome outcome =
            QCoro::waitFor(convert::ConvertRunner::runFFmpeg(ffmpeg, arguments, {}, {}, listener));
        if (!outcome.isSuccess())
            throw std::runtime_error("a conversion failed");
    }
    const qint64 elapsed = clock.nsecsElapsed();
    if (followed && steps == 0)
        throw std::runtime_error("no progress was heard");
    return elapsed;
}

qint64 shellRound(const QString &script)
{
    QElapsedTimer clock;
    clock.start();
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"), {script});
    if (!shell.waitForFinished(600000) || shell.exitCode() != 0)
        throw std::runtime_error("the shell loop failed");
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
        service::SessionStore store;
        QCoro::waitFor(store.connect(server.demoKey()));
        if (!store.state().isConnected())
            throw std::runtime_error("could not connect to the stand-in service");
        const auto found = std::find_if(store.presets().cbegin(), store.presets().cend(),
                                        [](const service::Preset &preset) { return preset.id == presetID; });
        if (found == store.presets().cend())
            throw std::runtime_error("the service has no -14 LUFS preset");
        // The runner's own cost is measured on a plain one-pass script, so that the runner and the
        // shell loop run the very same command lines (a measuring preset adds runs of its own).
        service::Preset preset = *found;
        preset.loudness.reset();
        preset.command = QStringLiteral("ffmpeg -hide_banner -nostdin -y -i \"{input}\" -map 0:a:0 "
                                        "-af loudnorm=I=-14:TP=-1.5:LRA=11 -ar 48000 -c:a pcm_s24le \"{output_base}.wav\"");
        const std::optional<QString> ffmpeg = ffmpeg::Preferences::effectiveFFmpeg();
        if (!ffmpeg)
            throw std::runtime_error("no ffmpeg");

        const QString folder = home.filePath(QStringLiteral("media"));
        QDir().mkpath(folder);
        makeSources(*ffmpeg, folder);
        const QString loop = writeShellLoop(folder, preset, *ffmpeg);

        // Warm up both (page cache, ffmpeg's libraries, the connection).
        runnerRound(folder, preset, *ffmpeg, store, 1);
        removeOutputs(folder);
        shellRound(loop);
        removeOutputs(folder);

        qint64 bestRunner = std::numeric_limits<qint64>::max();
        qint64 bestParallel = std::numeric_limits<qint64>::max();
        qint64 bestShell = std::numeric_limits<qint64>::max();
        qint64 bestFollowed = std::numeric_limits<qint64>::max();
        qint64 bestUnfollowed = std::numeric_limits<qint64>::max();
        for (int round = 0; round < rounds; ++round) {
            bestShell = std::min(bestShell, shellRound(loop));
            removeOutputs(folder);
            bestRunner = std::min(bestRunner, runnerRound(folder, preset, *ffmpeg, store, 1));
            removeOutputs(folder);
            bestParallel = std::min(bestParallel, runnerRound(folder, preset, *ffmpeg, store, 2));
            removeOutputs(folder);
            bestUnfollowed = std::min(bestUnfollowed, processRound(folder, preset, *ffmpeg, false));
            removeOutputs(folder);
            bestFollowed = std::min(bestFollowed, processRound(folder, preset, *ffmpeg, true));
            removeOutputs(folder);
        }
        std::printf("%d one-second WAV files through %s, best of %d: ConvertRunner %.0f ms (%.1f ms a file), "
                    "shell loop %.0f ms (%.1f ms a file)\n",
                    files, qPrintable(presetID), rounds, bestRunner / 1e6, bestRunner / 1e6 / files, bestShell / 1e6,
                    bestShell / 1e6 / files);
        std::printf("runner overhead ratio runner/shell: %.3f (aim <= 1.05)\n", double(bestRunner) / double(bestShell));
        std::printf("2 simultaneous conversions: ConvertRunner %.0f ms; ratio runner/shell: %.3f (aim <= 0.6 on %d cores)\n",
                    bestParallel / 1e6, double(bestParallel) / double(bestShell),
                    convert::ConvertRunner::maximumSimultaneousConversions());
        std::printf("progress followed %.0f ms, not followed %.0f ms; ratio: %.3f (aim <= 1.02)\n", bestFollowed / 1e6,
                    bestUnfollowed / 1e6, double(bestFollowed) / double(bestUnfollowed));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "runner_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}

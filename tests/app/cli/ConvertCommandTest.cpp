#include "tests/app/cli/CliTest.h"
#include "tests/convert/TestMedia.h"
#include "tests/support/ChildProcesses.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>
#include <unistd.h>

using namespace vorlik::test;

namespace {

class ConvertCommand : public CliTest {
protected:
    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    QStringList entries(const QString &relative) const
    {
        return QDir(path(relative)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    static QStringList convert(const QString &preset, const QString &file) { return signedIn() << "convert" << "--preset" << preset << file; }

    QTemporaryDir m_dir;
};

qint64 usageTotal() { return DevServer::shared().usage().value(QStringLiteral("total")).toInteger(); }

TEST_F(ConvertCommand, ConvertsAFolderPrintingRowsAndStatusLines)
{
    QDir().mkpath(path("takes"));
    TestMedia::sine(path("takes/Take 10.wav"), 1);
    TestMedia::sine(path("takes/Take 2.flac"), 1);
    const qint64 before = usageTotal();
    const ProgramRun run = cli(convert("normalise-14lufs", path("takes")));
    ASSERT_EQ(run.status, 0) << run.out.toStdString() << run.err.toStdString();
    // The loudness preset measures the source, converts, and measures the result.
    expectInOrder(run.out, {"Connecting…\nConnected — ", "2 files added to the queue.\nRunning…\n",
                            "Take 2.flac\t−14 LUFS\tMeasuring Take 2.flac…\n", "Take 2.flac\t−14 LUFS\tConverting Take 2.flac…\n",
                            "Take 2.flac\t−14 LUFS\tChecking Take 2.flac…\n", "Take 2.flac\t−14 LUFS\t✓ Done → Take 2_-14LUFS.wav\n",
                            "Take 10.wav\t−14 LUFS\t✓ Done → Take 10_-14LUFS.wav\n", "Queue finished — 2 done, 0 failed.\n"});
    EXPECT_EQ(entries("takes"), (QStringList{"Take 10.wav", "Take 10_-14LUFS.wav", "Take 2.flac", "Take 2_-14LUFS.wav"}));
    EXPECT_EQ(usageTotal(), before + 2);
    EXPECT_FALSE(run.err.contains(u'\r')) << "no progress bar when the error stream is not a terminal";
}

TEST_F(ConvertCommand, OnATerminalTheFilesShowABarSideBySide)
{
    QDir().mkpath(path("bars"));
    TestMedia::sine(path("bars/one.wav"), 3);
    TestMedia::sine(path("bars/two.wav"), 3);
    QStringList words = QStringList{VORLIK_CLI_PATH} + convert("normalise-14lufs", path("bars")) << "--jobs" << "2";
    for (QString &word : words)
        word = u'\'' + word.replace(u'\'', QStringLiteral("'\\''")) + u'\'';
    // `script` runs the command on a pseudo-terminal and copies what it shows.
    const ProgramRun run = runProgram(QStringLiteral("script"), {"-qec", words.join(u' '), "/dev/null"});
    ASSERT_EQ(run.status, 0) << run.out.toStdString() << run.err.toStdString();
    // A line per file converting, drawn together: one.wav's bar with two.wav's right under it.
    static const QRegularExpression bothBars(QStringLiteral("\\r\\x1b\\[Jone\\.wav \\[[#-]+\\] [^\\n]*\\r?\\ntwo\\.wav \\["));
    EXPECT_TRUE(run.out.contains(bothBars)) << run.out.toStdString();
    for (const char *line : {"one.wav\t−14 LUFS\t✓ Done → one_-14LUFS.wav", "two.wav\t−14 LUFS\t✓ Done → two_-14LUFS.wav",
                             "Queue finished — 2 done, 0 failed."})
        EXPECT_TRUE(run.out.contains(QString::fromUtf8(line))) << line;
}

// What each outcome prints, its status and what it leaves. --output-dir is the run's export
// folder; one that is not there or cannot be written is a usage error, said before signing in.
TEST_F(ConvertCommand, EachOutcomesStatusWordsAndFiles)
{
    const QString source = TestMedia::sine(path("a.wav"), 1);
    writeFile(path("notes.txt"), "not media");
    QDir().mkpath(path("out"));
    QDir().mkpath(path("locked"));
    QFile(path("locked")).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    // The superuser writes into any folder of a normal file system; not into sysfs.
    const QString unwritable = ::geteuid() == 0 ? QStringLiteral("/sys") : path("locked");
    // A home of its own: another test may have installed a managed copy in the shared one.
    const QMap<QString, QString> noFFmpeg{{"PATH", path("empty")}, {"HOME", path("home")},
                                          {"XDG_DATA_HOME", path("home/data")}, {"XDG_CONFIG_HOME", path("home/config")}};
    const bool ffmpegOutsidePath =
        QFileInfo("/usr/local/bin/ffmpeg").isExecutable() || QFileInfo("/opt/homebrew/bin/ffmpeg").isExecutable();
    const QStringList toOut = signedIn() << "convert" << "--preset" << "audio-m4a" << "--output-dir";
    const struct Row {
        const char *what; QStringList arguments; int status; QStringList out; QString err;
        ProgramSetting setting = {};
        bool asksService = true;
    } rows[] = {
        // The row's status on the standard output; what went wrong on the error stream.
        {"retired preset", signedIn() << "convert" << "--preset=retired" << source, 1,
         {"a.wav\tretired\t✗ Script unavailable\n", "Queue finished — 0 done, 1 failed.\n$"},
         "^✗ a.wav: Script unavailable — The script 'retired' is not in the current preset list. Refresh scripts and retry.\n$"},
        {"nothing to queue", convert("normalise-14lufs", path("notes.txt")), 1, {"Nothing new to add.\n$"}, ""},
        {"wrong key", with("not-a-key") << "convert" << "--preset" << "normalise-14lufs" << source, 3, {"Sign in failed"}, "^✗ "},
        {"no ffmpeg", convert("normalise-14lufs", source), 1, {}, "^✗ Install ffmpeg in Preferences to convert.\n$", {noFFmpeg}},
        {"no output folder", toOut + QStringList{path("none"), source}, 2, {"^$"},
         "^vorlik: --output-dir: no folder at " + path("none"), {}, false},
        {"unwritable output folder", toOut + QStringList{unwritable, source}, 2, {"^$"},
         "^vorlik: --output-dir: cannot write into " + unwritable, {}, false},
        {"output folder", toOut + QStringList{path("out"), source}, 0, {"a.wav\tM4A (AAC 256 kb/s)\t✓ Done → a_aac.m4a\n"}, ""},
    };
    for (const Row &row : rows) {
        if (ffmpegOutsidePath && row.setting.environment == noFFmpeg)
            continue; // an ffmpeg outside PATH would be found
        server().reset();
        const ProgramRun run = cli(row.arguments, row.setting);
        expectRun(run, row.status, QString(), row.err, row.what);
        for (const QString &out : row.out)
            EXPECT_TRUE(says(run.out, out)) << row.what << " should say " << out.toStdString() << ":\n" << run.out.toStdString();
        EXPECT_TRUE(row.asksService || requestsTo() == 0) << row.what;
    }
    EXPECT_EQ(entries("out"), QStringList{"a_aac.m4a"});
    EXPECT_EQ(entries("locked"), QStringList());
    EXPECT_EQ(entries(QString()), (QStringList{"a.wav", "locked", "notes.txt", "out"})) << "nothing beside the sources";
}

// Ctrl-C, a kill or a hang-up stops the run as the page's Stop does; a second signal while
// stopping ends ffmpeg at once, and a later one, or one that comes after the run has ended,
// changes nothing. Either way nothing is left behind.
TEST_F(ConvertCommand, InterruptStopsTheRunAndLeavesNothingBehind)
{
    // Two minutes of sound take the loudness filter seconds to convert: time enough to interrupt.
    QDir().mkpath(path("long"));
    const QString file = TestMedia::make(path("long/long.wav"), {"-f", "lavfi", "-i", "sine=sample_rate=8000:duration=120"});
    // secondOnceStopped: the second signal waits for the run's last line.
    const struct { QList<int> sequence; bool secondOnceStopped; } cases[] = {{{SIGINT}, false}, {{SIGTERM}, false},
        {{SIGHUP}, false}, {{SIGINT, SIGINT}, false}, {{SIGINT, SIGINT}, true}, {{SIGINT, SIGINT, SIGINT}, false}};
    const QByteArray lastLine = "Stopped — 1 file still queued.\n";
    for (const auto &interruption : cases) {
        const std::string context = "case " + std::to_string(&interruption - cases) + ": ";
        QProcess process;
        // A program started in the background by a script inherits Ctrl-C ignored, and keeps it so.
        process.setChildProcessModifier([] { ::signal(SIGINT, SIG_DFL); });
        startProgram(process, QStringLiteral(VORLIK_CLI_PATH), convert("normalise-14lufs", file));
        QByteArray seen;
        auto readUntil = [&](const QByteArray &line) {
            while (!seen.contains(line) && process.state() == QProcess::Running) {
                process.waitForReadyRead(1000);
                seen += process.readAllStandardOutput();
            }
            seen += process.readAllStandardOutput();
        };
        readUntil("Converting long.wav…\n");
        ASSERT_TRUE(seen.contains("Converting long.wav…\n")) << seen.toStdString();
        // The status is told just before ffmpeg starts.
        QList<ChildProcess> children;
        for (int look = 0; look < 200 && children.isEmpty(); ++look) {
            children = childProcessesOf(pid_t(process.processId()));
            if (children.isEmpty())
                process.waitForReadyRead(50);
        }
        ASSERT_FALSE(children.isEmpty()) << "ffmpeg runs";
        for (qsizetype i = 0; i < interruption.sequence.size(); ++i) {
            if (i == 1 && interruption.secondOnceStopped)
                readUntil(lastLine);
            // Never a pid the program has left: another process may have it by now.
            if (process.state() == QProcess::Running)
                ::kill(pid_t(process.processId()), interruption.sequence.at(i));
        }
        ProgramRun run = finishProgram(process);
        run.out.prepend(QString::fromUtf8(seen));
        expectRun(run, 1, "Stopping…\n", "", context);
        EXPECT_TRUE(run.out.contains("long.wav\t−14 LUFS\tStopped\n")) << context;
        EXPECT_TRUE(run.out.endsWith(QString::fromUtf8(lastLine))) << context;
        EXPECT_EQ(entries("long"), QStringList{"long.wav"}) << context;
        for (const ChildProcess &child : children) {
            EXPECT_NE(::kill(child.pid, 0), 0) << context << ": ffmpeg " << child.pid << " outlived the program";
            ::kill(child.pid, SIGKILL);
        }
    }
}

} // namespace

// `vorlik convert` run as a user would, against the stand-in service, on real media.
#include "tests/convert/TestMedia.h"
#include "tests/support/ChildProcesses.h"
#include "tests/support/DevServer.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <unistd.h>

using vorlik::test::DevServer;
using vorlik::test::TestMedia;

namespace {

struct CliResult {
    int exitCode = -1;
    QString out;
    QString err;
};

class ConvertCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        server().reset();
        ASSERT_TRUE(m_dir.isValid());
    }

    static DevServer &server() { return DevServer::shared(); }

    QStringList common() const
    {
        return {QStringLiteral("--base-url"), server().baseUrl().toString(), QStringLiteral("--key"), server().demoKey()};
    }

    static void start(QProcess &process, const QStringList &arguments)
    {
        process.start(QStringLiteral(VORLIK_CLI_PATH), arguments);
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    static CliResult finish(QProcess &process)
    {
        process.waitForFinished(120000);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

    static CliResult runCli(const QStringList &arguments)
    {
        QProcess process;
        start(process, arguments);
        return finish(process);
    }
    static CliResult runCommand(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForStarted(10000));
        return finish(process);
    }

    QStringList entries(const QString &relative) const
    {
        return QDir(m_dir.filePath(relative)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    QTemporaryDir m_dir;
};

// The pids of the processes whose parent is `parent`.
QList<pid_t> childrenOf(pid_t parent)
{
    QList<pid_t> children;
    for (const vorlik::test::ChildProcess &child : vorlik::test::childProcessesOf(parent))
        children << child.pid;
    return children;
}

qint64 usageTotal() { return DevServer::shared().usage().value(QStringLiteral("total")).toInteger(); }

} // namespace

TEST_F(ConvertCommand, ConvertsAFolderPrintingRowsAndStatusLines)
{
    QDir().mkpath(m_dir.filePath(QStringLiteral("takes")));
    TestMedia::sine(m_dir.filePath(QStringLiteral("takes/Take 10.wav")), 1);
    TestMedia::sine(m_dir.filePath(QStringLiteral("takes/Take 2.flac")), 1);
    const qint64 before = usageTotal();

    const CliResult result = runCli(common() << QStringLiteral("convert") << QStringLiteral("--preset")
                                             << QStringLiteral("normalise-14lufs") << m_dir.filePath(QStringLiteral("takes")));
    ASSERT_EQ(result.exitCode, 0) << result.out.toStdString() << result.err.toStdString();
    EXPECT_TRUE(result.out.startsWith(QStringLiteral("Connecting…\nConnected — "))) << result.out.toStdString();
    const QStringList expectedInOrder{
        QStringLiteral("2 files added to the queue.\nRunning…\n"),
        // The loudness preset measures the source, converts, and measures the result.
        QStringLiteral("Take 2.flac\t−14 LUFS\tMeasuring Take 2.flac…\n"),
        QStringLiteral("Take 2.flac\t−14 LUFS\tConverting Take 2.flac…\n"),
        QStringLiteral("Take 2.flac\t−14 LUFS\tChecking Take 2.flac…\n"),
        QStringLiteral("Take 2.flac\t−14 LUFS\t✓ Done → Take 2_-14LUFS.wav\n"),
        QStringLiteral("Take 10.wav\t−14 LUFS\t✓ Done → Take 10_-14LUFS.wav\n"),
        QStringLiteral("Queue finished — 2 done, 0 failed.\n"),
    };
    qsizetype at = 0;
    for (const QString &expected : expectedInOrder) {
        const qsizetype found = result.out.indexOf(expected, at);
        ASSERT_GE(found, 0) << "missing or out of order: " << expected.toStdString() << "\nin:\n" << result.out.toStdString();
        at = found + expected.size();
    }
    EXPECT_EQ(entries(QStringLiteral("takes")),
              (QStringList{QStringLiteral("Take 10.wav"), QStringLiteral("Take 10_-14LUFS.wav"), QStringLiteral("Take 2.flac"),
                           QStringLiteral("Take 2_-14LUFS.wav")}));
    EXPECT_EQ(usageTotal(), before + 2);
    EXPECT_FALSE(result.err.contains(u'\r')) << "no progress bar when the error stream is not a terminal";
}

TEST_F(ConvertCommand, OnATerminalTheFilesShowABarSideBySide)
{
    QDir().mkpath(m_dir.filePath(QStringLiteral("bars")));
    TestMedia::sine(m_dir.filePath(QStringLiteral("bars/one.wav")), 3);
    TestMedia::sine(m_dir.filePath(QStringLiteral("bars/two.wav")), 3);
    QStringList words{QStringLiteral(VORLIK_CLI_PATH)};
    words << common() << QStringLiteral("convert") << QStringLiteral("--preset") << QStringLiteral("normalise-14lufs")
          << QStringLiteral("--jobs") << QStringLiteral("2") << m_dir.filePath(QStringLiteral("bars"));
    for (QString &word : words)
        word = u'\'' + word.replace(u'\'', QStringLiteral("'\\''")) + u'\'';
    // `script` runs the command on a pseudo-terminal and copies what it shows.
    const CliResult result = runCommand(QStringLiteral("script"),
                                        {QStringLiteral("-qec"), words.join(u' '), QStringLiteral("/dev/null")});
    ASSERT_EQ(result.exitCode, 0) << result.out.toStdString() << result.err.toStdString();
    // A line per file converting, drawn together: one.wav's bar with two.wav's right under it.
    static const QRegularExpression bothBars(QStringLiteral("\\r\\x1b\\[Jone\\.wav \\[[#-]+\\] [^\\n]*\\r?\\ntwo\\.wav \\["));
    EXPECT_TRUE(result.out.contains(bothBars)) << result.out.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("one.wav\t−14 LUFS\t✓ Done → one_-14LUFS.wav")));
    EXPECT_TRUE(result.out.contains(QStringLiteral("two.wav\t−14 LUFS\t✓ Done → two_-14LUFS.wav")));
    EXPECT_TRUE(result.out.contains(QStringLiteral("Queue finished — 2 done, 0 failed.")));
}

TEST_F(ConvertCommand, AFailedItemMakesTheExitCodeNonZero)
{
    const QString file = TestMedia::sine(m_dir.filePath(QStringLiteral("a.wav")));
    const CliResult result = runCli(common() << QStringLiteral("convert") << QStringLiteral("--preset=retired") << file);
    EXPECT_EQ(result.exitCode, 1);
    // The row's status on the standard output; what went wrong on the error stream.
    EXPECT_TRUE(result.out.contains(QStringLiteral("a.wav\tretired\t✗ Script unavailable\n"))) << result.out.toStdString();
    EXPECT_FALSE(result.out.contains(QStringLiteral("not in the current preset list")));
    EXPECT_EQ(result.err, QStringLiteral("✗ a.wav: Script unavailable — The script 'retired' is not in the current preset "
                                         "list. Refresh scripts and retry.\n"));
    EXPECT_TRUE(result.out.endsWith(QStringLiteral("Queue finished — 0 done, 1 failed.\n")));
}

TEST_F(ConvertCommand, NothingToQueueIsAFailure)
{
    const QString notes = m_dir.filePath(QStringLiteral("notes.txt"));
    vorlik::test::writeFile(notes, "not media");
    const CliResult result = runCli(common() << QStringLiteral("convert") << QStringLiteral("--preset")
                                             << QStringLiteral("normalise-14lufs") << notes);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.out.endsWith(QStringLiteral("Nothing new to add.\n"))) << result.out.toStdString();
    EXPECT_FALSE(result.out.contains(QStringLiteral("Running…")));
}

TEST_F(ConvertCommand, UnusableLinesAreRefusedBeforeSigningIn)
{
    const CliResult noPreset = runCli(common() << QStringLiteral("convert") << m_dir.filePath(QStringLiteral("a.wav")));
    EXPECT_EQ(noPreset.exitCode, 2);
    EXPECT_TRUE(noPreset.err.startsWith(QStringLiteral("vorlik: convert needs --preset ID"))) << noPreset.err.toStdString();
    const CliResult noFiles = runCli(common() << QStringLiteral("convert") << QStringLiteral("--preset") << QStringLiteral("x"));
    EXPECT_EQ(noFiles.exitCode, 2);
    EXPECT_TRUE(noFiles.err.startsWith(QStringLiteral("vorlik: convert needs the files to convert")));
    EXPECT_TRUE(noPreset.out.isEmpty() && noFiles.out.isEmpty());
}

TEST_F(ConvertCommand, AWrongKeyConvertsNothing)
{
    const QString file = TestMedia::sine(m_dir.filePath(QStringLiteral("a.wav")));
    const CliResult result = runCli({QStringLiteral("--base-url"), server().baseUrl().toString(), QStringLiteral("--key"),
                                     QStringLiteral("not-a-key"), QStringLiteral("convert"), QStringLiteral("--preset"),
                                     QStringLiteral("normalise-14lufs"), file});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_TRUE(result.out.contains(QStringLiteral("Sign in failed")));
    EXPECT_TRUE(result.err.startsWith(QStringLiteral("✗ "))) << result.err.toStdString();
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("a.wav")});
}

TEST_F(ConvertCommand, WithoutFFmpegItSaysWhatToDo)
{
    if (QFileInfo(QStringLiteral("/usr/local/bin/ffmpeg")).isExecutable()
        || QFileInfo(QStringLiteral("/opt/homebrew/bin/ffmpeg")).isExecutable())
        GTEST_SKIP() << "an ffmpeg outside PATH would be found";
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"), m_dir.filePath(QStringLiteral("empty")));
    // A home of its own: another test may have installed a managed copy in the shared one.
    environment.insert(QStringLiteral("HOME"), m_dir.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("home/data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("home/config")));
    process.setProcessEnvironment(environment);
    start(process, common() << QStringLiteral("convert") << QStringLiteral("--preset") << QStringLiteral("normalise-14lufs")
                            << m_dir.filePath(QStringLiteral("a.wav")));
    const CliResult result = finish(process);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, QStringLiteral("✗ Install ffmpeg in Preferences to convert.\n"));
}

// --output-dir is the chosen-folder export location for the run; a folder that is not there or
// cannot be written is a usage error, said before signing in.
TEST_F(ConvertCommand, OutputDirMissingUnwritableAndWritten)
{
    const QString source = TestMedia::sine(m_dir.filePath(QStringLiteral("a.wav")), 1);
    QDir().mkpath(m_dir.filePath(QStringLiteral("out")));
    QDir().mkpath(m_dir.filePath(QStringLiteral("locked")));
    QFile(m_dir.filePath(QStringLiteral("locked"))).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    // The superuser writes into any folder of a normal file system; not into sysfs.
    const QString unwritable = ::geteuid() == 0 ? QStringLiteral("/sys") : m_dir.filePath(QStringLiteral("locked"));
    const struct {
        QString folder;
        int exitCode;
        QString out; // where it is a usage error: nothing, not even the sign-in
        QString err;
        QStringList written;
    } cases[] = {
        {m_dir.filePath(QStringLiteral("none")), 2, QString(),
         QStringLiteral("vorlik: --output-dir: no folder at ") + m_dir.filePath(QStringLiteral("none")), {}},
        {unwritable, 2, QString(), QStringLiteral("vorlik: --output-dir: cannot write into ") + unwritable, {}},
        {m_dir.filePath(QStringLiteral("out")), 0, QStringLiteral("a.wav\tM4A (AAC 256 kb/s)\t✓ Done → a_aac.m4a\n"),
         QString(), {QStringLiteral("a_aac.m4a")}},
    };
    const qint64 requestsBefore = server().requests().size();
    for (const auto &output : cases) {
        const CliResult result = runCli(common() << QStringLiteral("convert") << QStringLiteral("--preset")
                                                 << QStringLiteral("audio-m4a") << QStringLiteral("--output-dir")
                                                 << output.folder << source);
        EXPECT_EQ(result.exitCode, output.exitCode) << output.folder.toStdString() << result.out.toStdString();
        if (output.out.isEmpty()) {
            EXPECT_EQ(result.out, QString()) << output.folder.toStdString();
            EXPECT_EQ(server().requests().size(), requestsBefore) << "the service is not asked";
        }
        EXPECT_TRUE(result.out.contains(output.out)) << result.out.toStdString() << result.err.toStdString();
        EXPECT_TRUE(result.err.startsWith(output.err)) << result.err.toStdString();
        if (output.folder != QLatin1String("/sys")) {
            EXPECT_EQ(QDir(output.folder).entryList(QDir::Files | QDir::Hidden), output.written);
        }
    }
    EXPECT_EQ(entries(QString()), (QStringList{QStringLiteral("a.wav"), QStringLiteral("locked"), QStringLiteral("out")}))
        << "nothing beside the source";
}

// Ctrl-C, a kill or a hang-up stops the run as the page's Stop does; a second signal while
// stopping ends ffmpeg at once, and a later one, or one that comes after the run has ended,
// changes nothing. Either way nothing is left behind.
TEST_F(ConvertCommand, InterruptStopsTheRunAndLeavesNothingBehind)
{
    // Two minutes of sound take the loudness filter seconds to convert: time enough to interrupt.
    QDir().mkpath(m_dir.filePath(QStringLiteral("long")));
    const QString file = TestMedia::make(m_dir.filePath(QStringLiteral("long/long.wav")),
                                         {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                          QStringLiteral("sine=sample_rate=8000:duration=120")});
    const struct {
        QList<int> sequence;
        bool secondOnceStopped; // the second signal waits for the run's last line
    } cases[] = {{{SIGINT}, false},         {{SIGTERM}, false},       {{SIGHUP}, false},
                 {{SIGINT, SIGINT}, false}, {{SIGINT, SIGINT}, true}, {{SIGINT, SIGINT, SIGINT}, false}};
    const QByteArray lastLine = "Stopped — 1 file still queued.\n";
    for (const auto &interruption : cases) {
        const std::string context = "signal " + QString::number(interruption.sequence.first()).toStdString() + " x"
                                    + std::to_string(interruption.sequence.size())
                                    + (interruption.secondOnceStopped ? " (once stopped)" : "") + ": ";
        QProcess process;
        // A program started in the background by a script inherits Ctrl-C ignored, and keeps it so.
        process.setChildProcessModifier([] { ::signal(SIGINT, SIG_DFL); });
        start(process, common() << QStringLiteral("convert") << QStringLiteral("--preset")
                                << QStringLiteral("normalise-14lufs") << file);
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
        QList<pid_t> children;
        for (int look = 0; look < 200 && children.isEmpty(); ++look) {
            children = childrenOf(pid_t(process.processId()));
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
        CliResult result = finish(process);
        result.out.prepend(QString::fromUtf8(seen));
        EXPECT_EQ(result.exitCode, 1) << context << result.out.toStdString() << result.err.toStdString();
        EXPECT_TRUE(result.out.contains(QStringLiteral("Stopping…\n"))) << context << result.out.toStdString();
        EXPECT_TRUE(result.out.contains(QStringLiteral("long.wav\t−14 LUFS\tStopped\n"))) << context;
        EXPECT_TRUE(result.out.endsWith(QString::fromUtf8(lastLine))) << context;
        EXPECT_EQ(entries(QStringLiteral("long")), QStringList{QStringLiteral("long.wav")}) << context;
        for (const pid_t child : children) {
            EXPECT_NE(::kill(child, 0), 0) << context << ": ffmpeg " << child << " outlived the program";
            ::kill(child, SIGKILL);
        }
    }
}

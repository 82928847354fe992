// The program's launch hooks and its last words: "exportLogAt" run on the real program, the
// crash loggers on a probe that fails on purpose, and the drag watch's lines.
#include "app/DragWatch.h"
#include "app/FatalSignalLogger.h"
#include "platform/Settings.h"
#include "tests/app/ShellTestSupport.h"

#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QUrl>
#include <QWidget>

#include <csignal>

namespace vorlik::test {
namespace {

// A program run with its own HOME, so that its settings and log are its own and can be read.
class ProgramRun {
public:
    explicit ProgramRun(const QString &program) : m_program(program)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(environment);
    }

    ~ProgramRun()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    void start(const QStringList &arguments) { m_process.start(m_program, arguments); }
    QProcess &process() { return m_process; }
    QString logFile() const { return m_home.filePath(QStringLiteral("data/Vorlik/Logs/vorlik-debug.log")); }
    QString path(const QString &name) const { return m_home.filePath(name); }

    // Reads standard output until a line starting with `prefix` arrives (or the cap passes).
    QString waitForLine(const QString &prefix, int capMilliseconds = 30000)
    {
        QString found;
        waitUntil(
            [&] {
                while (m_process.canReadLine()) {
                    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
                    if (line.startsWith(prefix))
                        found = line;
                }
                return !found.isEmpty() || m_process.state() == QProcess::NotRunning;
            },
            capMilliseconds);
        return found;
    }

private:
    QString m_program;
    QTemporaryDir m_home;
    QProcess m_process;
};

TEST(ExportLogHook, ExportsTheLogAfterLaunchAndSaysSoOrSaysFailed)
{
    ProgramRun run(QStringLiteral(VORLIK_DESKTOP_PATH));
    const QString target = run.path(QStringLiteral("exported log.txt"));
    run.start({QStringLiteral("-exportLogAt"), target, QStringLiteral("-vorlikDiag"), QStringLiteral("YES"),
               QStringLiteral("-skipWebTabs"), QStringLiteral("YES"), QStringLiteral("-baseURL"),
               shellServer().baseUrl().toString()});
    EXPECT_EQ(run.waitForLine(QStringLiteral("EXPORTLOG ")), QStringLiteral("EXPORTLOG ok ") + target);
    const QString exported = QString::fromUtf8(readFile(target));
    EXPECT_TRUE(exported.startsWith(QStringLiteral("Vorlik Log — ")));
    EXPECT_TRUE(exported.contains(QStringLiteral("[app] didFinishLaunching")));
    // Nothing of the hook went into the settings file: it was an override for this run.
    const QString stored = run.path(QStringLiteral("config/Vorlik/Vorlik Desktop.conf"));
    EXPECT_FALSE(QFile::exists(stored) && readFile(stored).contains("exportLogAt"));

    ProgramRun unwritable(QStringLiteral(VORLIK_DESKTOP_PATH));
    const QString nowhere = unwritable.path(QStringLiteral("no such folder/log.txt"));
    unwritable.start({QStringLiteral("-exportLogAt"), nowhere, QStringLiteral("-skipWebTabs"), QStringLiteral("YES"),
                      QStringLiteral("-baseURL"), shellServer().baseUrl().toString()});
    EXPECT_EQ(unwritable.waitForLine(QStringLiteral("EXPORTLOG ")), QStringLiteral("EXPORTLOG failed ") + nowhere);
    EXPECT_FALSE(QFile::exists(nowhere));
}

TEST(RealQuit, ClosingTheMainWindowEndsTheProgramCleanly)
{
    ProgramRun run(QStringLiteral(VORLIK_QUIT_PROBE_PATH));
    run.start({QStringLiteral("-baseURL"), shellServer().baseUrl().toString(), QStringLiteral("-vorlikDiag"),
               QStringLiteral("YES")});
    ASSERT_TRUE(run.process().waitForFinished(60000));
    const QString out = QString::fromUtf8(run.process().readAllStandardOutput());
    EXPECT_EQ(run.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.process().exitCode(), 0);
    EXPECT_TRUE(out.contains(QStringLiteral("closing the main window\nevent loop ended with 0\napplication gone\n")))
        << out.toStdString();
    // It went through the launch sequence first.
    EXPECT_TRUE(QString::fromUtf8(readFile(run.logFile())).contains(QStringLiteral("[app] didFinishLaunching")));
}

struct CrashCase {
    const char *name;
    const char *mode;
    bool diagnostics;
    int signal;
    QStringList expectedLines; // none: no log at all
};
void PrintTo(const CrashCase &crash, std::ostream *out) { *out << crash.name; }

class CrashLoggers : public ::testing::TestWithParam<CrashCase> {};

TEST_P(CrashLoggers, LeaveTheirLinesInTheLogAndStillDie)
{
    const CrashCase &crash = GetParam();
    ProgramRun run(QStringLiteral(VORLIK_CRASH_PROBE_PATH));
    QStringList arguments{QString::fromLatin1(crash.mode)};
    if (crash.diagnostics)
        arguments << QStringLiteral("-vorlikDiag") << QStringLiteral("YES");
    run.start(arguments);
    ASSERT_TRUE(run.process().waitForFinished(30000));
    EXPECT_EQ(run.process().exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(run.process().exitCode(), crash.signal);
    EXPECT_EQ(QFile::exists(run.logFile()), !crash.expectedLines.isEmpty());
    if (crash.expectedLines.isEmpty())
        return;
    const QString log = QString::fromUtf8(readFile(run.logFile()));
    for (const QString &expected : crash.expectedLines)
        EXPECT_TRUE(log.contains(expected)) << expected.toStdString() << "\nin:\n" << log.toStdString();
    if (QLatin1String(crash.name) != QLatin1String("throw"))
        return;
    // At most ten frames above the throw, the first one the function that threw, not the
    // runtime's machinery.
    const QStringList lines = log.mid(log.indexOf(QStringLiteral("uncaught exception"))).split(QLatin1Char('\n'));
    int frames = 0;
    while (frames + 1 < lines.size() && lines.at(frames + 1).startsWith(QString::number(frames) + QLatin1Char(' ')))
        ++frames;
    EXPECT_GE(frames, 3);
    EXPECT_LE(frames, 10);
    EXPECT_TRUE(lines.value(1).contains(QStringLiteral("failDeepInside"))) << lines.value(1).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CrashLoggers,
    ::testing::Values(
        CrashCase{"throw", "throw", true, SIGABRT,
                  {QStringLiteral("[crash] uncaught exception std::runtime_error: probe failure \n0 "),
                   QStringLiteral("[crash] fatal signal SIGABRT (6)")}},
        CrashCase{"terminate", "terminate", true, SIGABRT,
                  {QStringLiteral("[crash] uncaught exception (none): terminate called without an active exception"),
                   QStringLiteral("[crash] fatal signal SIGABRT (6)")}},
        CrashCase{"segv", "segv", true, SIGSEGV, {QStringLiteral("[crash] fatal signal SIGSEGV (11)")}},
        CrashCase{"abort", "abort", true, SIGABRT, {QStringLiteral("[crash] fatal signal SIGABRT (6)")}},
        CrashCase{"diagnosticsOff", "throw", false, SIGABRT, {}}),
    [](const ::testing::TestParamInfo<CrashCase> &info) { return std::string(info.param.name); });

TEST(FatalSignalLine, UsesTheLogsTimestampFormatInLocalTime)
{
    struct Case {
        qint64 when;
        int offset;
        int signal;
        const char *line;
    };
    // 1796598902123 is 2026-12-06 23:15:02.123 UTC, shown at UTC+1 and UTC-5; 951782400000 a leap day.
    for (const Case &c : {Case{1796598902123, 3600, SIGSEGV, "2026-12-07 00:15:02.123 [crash] fatal signal SIGSEGV (11)\n"},
                          Case{1796598902123, -5 * 3600, SIGBUS, "2026-12-06 18:15:02.123 [crash] fatal signal SIGBUS (7)\n"},
                          Case{0, 0, SIGFPE, "1970-01-01 00:00:00.000 [crash] fatal signal SIGFPE (8)\n"},
                          Case{951782400000, 0, SIGILL, "2000-02-29 00:00:00.000 [crash] fatal signal SIGILL (4)\n"}})
        EXPECT_EQ(app::FatalSignalLogger::formatLine(c.when, c.offset, c.signal), QByteArray(c.line));
}

// A drop target as the pages have them: it takes every drag that comes in.
class DropTarget : public QWidget {
protected:
    void dragEnterEvent(QDragEnterEvent *event) override { event->acceptProposedAction(); }
};

TEST(DragWatchCount, CountsEachNewDragOfFilesOnce)
{
    platform::Settings::standard().setValue(QStringLiteral("vorlikDiag"), true);
    DropTarget target;
    target.setAcceptDrops(true);
    target.resize(200, 200);
    target.show();
    app::DragWatch watch(&target);
    watch.start();
    LogLines app(QStringLiteral("app"));
    const auto enter = [&](const QMimeData &data) {
        QDragEnterEvent event(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&target, &event);
    };

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.wav")), QUrl::fromLocalFile(QStringLiteral("/tmp/b.wav"))});
    enter(files);
    EXPECT_TRUE(watch.fileDragInProgress());
    watch.tick();
    enter(files); // the same drag entering again (another widget) is not a new one
    EXPECT_EQ(watch.changeCount(), 1);
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(&target, &leave);
    EXPECT_FALSE(watch.fileDragInProgress());

    QMimeData text;
    text.setText(QStringLiteral("not files"));
    enter(text);
    EXPECT_EQ(watch.changeCount(), 2);
    EXPECT_FALSE(watch.fileDragInProgress());
    watch.tick();
    watch.tick(); // nothing changed since the last look: no line
    const QStringList lines = app.lines();
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(lines.at(0).startsWith(QStringLiteral("DRAGWATCH change=1 files=true mouse=")));
    EXPECT_TRUE(lines.at(1).startsWith(QStringLiteral("DRAGWATCH change=2 files=false mouse=")));
}

} // namespace
} // namespace vorlik::test

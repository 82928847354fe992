// The program's launch hooks and its last words: "exportLogAt" run on the real program, the
// crash loggers on a probe that fails on purpose, and the drag watch's lines.
#include "app/DragWatch.h"
#include "app/FatalSignalLogger.h"
#include "platform/Settings.h"
#include "tests/app/ShellTestSupport.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
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
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished(5000);
        }
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

TEST(ExportLogHook, ExportsTheLogAfterLaunchAndSaysSo)
{
    ProgramRun run(QStringLiteral(VORLIK_DESKTOP_PATH));
    const QString target = run.path(QStringLiteral("exported log.txt"));
    run.start({QStringLiteral("-exportLogAt"), target, QStringLiteral("-vorlikDiag"), QStringLiteral("YES"),
               QStringLiteral("-skipWebTabs"), QStringLiteral("YES"), QStringLiteral("-baseURL"),
               shellServer().baseUrl().toString()});
    const QString line = run.waitForLine(QStringLiteral("EXPORTLOG "));
    EXPECT_EQ(line, QStringLiteral("EXPORTLOG ok ") + target);
    ASSERT_TRUE(QFile::exists(target));
    const QString exported = QString::fromUtf8(readFile(target));
    EXPECT_TRUE(exported.startsWith(QStringLiteral("Vorlik Log — ")));
    EXPECT_TRUE(exported.contains(QStringLiteral("[app] didFinishLaunching")));
    // Nothing of the hook went into the settings file: it was an override for this run.
    const QString stored = run.path(QStringLiteral("config/Vorlik/Vorlik Desktop.conf"));
    EXPECT_FALSE(QFile::exists(stored) && readFile(stored).contains("exportLogAt"));
}

TEST(ExportLogHook, SaysFailedWhenThePathCannotBeWritten)
{
    ProgramRun run(QStringLiteral(VORLIK_DESKTOP_PATH));
    const QString target = run.path(QStringLiteral("no such folder/log.txt"));
    run.start({QStringLiteral("-exportLogAt"), target, QStringLiteral("-skipWebTabs"), QStringLiteral("YES"),
               QStringLiteral("-baseURL"), shellServer().baseUrl().toString()});
    EXPECT_EQ(run.waitForLine(QStringLiteral("EXPORTLOG ")), QStringLiteral("EXPORTLOG failed ") + target);
    EXPECT_FALSE(QFile::exists(target));
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
    const char *mode;
    int signal;
    QStringList expectedLines;
};

class CrashLoggers : public ::testing::TestWithParam<CrashCase> {};

TEST_P(CrashLoggers, LeaveTheirLinesInTheLogAndStillDie)
{
    const CrashCase &crash = GetParam();
    ProgramRun run(QStringLiteral(VORLIK_CRASH_PROBE_PATH));
    run.start({QString::fromLatin1(crash.mode), QStringLiteral("-vorlikDiag"), QStringLiteral("YES")});
    ASSERT_TRUE(run.process().waitForFinished(30000));
    EXPECT_EQ(run.process().exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(run.process().exitCode(), crash.signal);

    const QString log = QString::fromUtf8(readFile(run.logFile()));
    for (const QString &expected : crash.expectedLines)
        EXPECT_TRUE(log.contains(expected)) << expected.toStdString() << "\nin:\n" << log.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CrashLoggers,
    ::testing::Values(
        CrashCase{"throw", SIGABRT,
                  {QStringLiteral("[crash] uncaught exception std::runtime_error: probe failure \n0 "),
                   QStringLiteral("failDeepInside"), QStringLiteral("[crash] fatal signal SIGABRT (6)")}},
        CrashCase{"terminate", SIGABRT,
                  {QStringLiteral("[crash] uncaught exception (none): terminate called without an active exception"),
                   QStringLiteral("[crash] fatal signal SIGABRT (6)")}},
        CrashCase{"segv", SIGSEGV, {QStringLiteral("[crash] fatal signal SIGSEGV (11)")}},
        CrashCase{"abort", SIGABRT, {QStringLiteral("[crash] fatal signal SIGABRT (6)")}}),
    [](const ::testing::TestParamInfo<CrashCase> &info) { return std::string(info.param.mode); });

TEST(CrashLoggersOff, WriteNothingWhileDiagnosticsAreOff)
{
    ProgramRun run(QStringLiteral(VORLIK_CRASH_PROBE_PATH));
    run.start({QStringLiteral("throw")});
    ASSERT_TRUE(run.process().waitForFinished(30000));
    EXPECT_EQ(run.process().exitStatus(), QProcess::CrashExit);
    EXPECT_FALSE(QFile::exists(run.logFile()));
}

TEST(CrashLoggerStack, KeepsAtMostTenFramesAboveTheThrow)
{
    ProgramRun run(QStringLiteral(VORLIK_CRASH_PROBE_PATH));
    run.start({QStringLiteral("throw"), QStringLiteral("-vorlikDiag"), QStringLiteral("YES")});
    ASSERT_TRUE(run.process().waitForFinished(30000));
    const QString log = QString::fromUtf8(readFile(run.logFile()));
    const qsizetype start = log.indexOf(QStringLiteral("uncaught exception"));
    ASSERT_GE(start, 0) << log.toStdString();
    const QStringList lines = log.mid(start).split(QLatin1Char('\n'));
    int frames = 0;
    for (qsizetype index = 1; index < lines.size() && lines.at(index).startsWith(QString::number(frames) + QLatin1Char(' ')); ++index)
        ++frames;
    EXPECT_GE(frames, 3);
    EXPECT_LE(frames, 10);
    // The first frame is the function that threw, not the runtime's machinery.
    EXPECT_TRUE(lines.value(1).contains(QStringLiteral("failDeepInside"))) << lines.value(1).toStdString();
}

TEST(FatalSignalLine, UsesTheLogsTimestampFormatInLocalTime)
{
    // 2026-12-06 23:15:02.123 UTC, shown at UTC+1 and UTC-5.
    const qint64 when = 1796598902123;
    EXPECT_EQ(app::FatalSignalLogger::formatLine(when, 3600, SIGSEGV),
              QByteArray("2026-12-07 00:15:02.123 [crash] fatal signal SIGSEGV (11)\n"));
    EXPECT_EQ(app::FatalSignalLogger::formatLine(when, -5 * 3600, SIGBUS),
              QByteArray("2026-12-06 18:15:02.123 [crash] fatal signal SIGBUS (7)\n"));
    EXPECT_EQ(app::FatalSignalLogger::formatLine(0, 0, SIGFPE),
              QByteArray("1970-01-01 00:00:00.000 [crash] fatal signal SIGFPE (8)\n"));
    EXPECT_EQ(app::FatalSignalLogger::formatLine(951782400000, 0, SIGILL), // a leap day
              QByteArray("2000-02-29 00:00:00.000 [crash] fatal signal SIGILL (4)\n"));
}

TEST(DragWatchLine, SaysWhereTheCursorIsAndWhatIsDragged)
{
    EXPECT_EQ(app::DragWatch::line(3, true, QPoint(120, -4), true, false, QRect(10, 20, 1200, 780)),
              QStringLiteral("DRAGWATCH change=3 files=true mouse=120,-4 inWindow=true front=false frame=10,20 1200x780"));
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
    EXPECT_TRUE(watch.isRunning());
    LogLines app(QStringLiteral("app"));

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.wav")), QUrl::fromLocalFile(QStringLiteral("/tmp/b.wav"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &enter);
    EXPECT_EQ(watch.changeCount(), 1);
    EXPECT_TRUE(watch.fileDragInProgress());
    watch.tick();
    // The same drag entering again (another widget) is not a new one.
    QDragEnterEvent again(QPoint(8, 8), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &again);
    EXPECT_EQ(watch.changeCount(), 1);
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(&target, &leave);
    EXPECT_FALSE(watch.fileDragInProgress());

    QMimeData text;
    text.setText(QStringLiteral("not files"));
    QDragEnterEvent textDrag(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &textDrag);
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

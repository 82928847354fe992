#include "app/DragWatch.h"
#include "app/FatalSignalLogger.h"
#include "platform/Settings.h"
#include "tests/app/ShellTestSupport.h"
#include "tests/support/ProgramRun.h"

#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>

#include <csignal>

namespace vorlik::test {
namespace {

// A program run with its own HOME, so that its settings and log are its own and can be read.
struct OwnHomeRun {
    void start(const QString &program, const QStringList &arguments)
    {
        startProgram(process, program, arguments,
                     {{{"HOME", home.path()}, {"XDG_CONFIG_HOME", path("config")}, {"XDG_DATA_HOME", path("data")},
                       {"QT_QPA_PLATFORM", "offscreen"}}});
    }
    ~OwnHomeRun() { process.kill(); process.waitForFinished(5000); }
    QString path(const QString &name) const { return home.filePath(name); }
    QString logFile() const { return path("data/Vorlik/Logs/vorlik-debug.log"); }

    // Reads standard output until a line starting with `prefix` arrives (or the program ends).
    QString waitForLine(const QString &prefix)
    {
        QString found;
        (void)QTest::qWaitFor([&] {
            while (process.canReadLine() && found.isEmpty())
                if (const QString line = QString::fromUtf8(process.readLine()).trimmed(); line.startsWith(prefix))
                    found = line;
            return !found.isEmpty() || process.state() == QProcess::NotRunning;
        }, 30000);
        return found;
    }

    QTemporaryDir home;
    QProcess process;
};

TEST(ExportLogHook, ExportsTheLogAfterLaunchAndSaysSoOrSaysFailed)
{
    const QString service = shellServer().baseUrl().toString();
    OwnHomeRun run;
    const QString target = run.path("exported log.txt");
    run.start(VORLIK_DESKTOP_PATH, {"-exportLogAt", target, "-vorlikDiag", "YES", "-skipWebTabs", "YES", "-baseURL", service});
    EXPECT_EQ(run.waitForLine("EXPORTLOG "), "EXPORTLOG ok " + target);
    const QString exported = QString::fromUtf8(readFile(target));
    EXPECT_TRUE(exported.startsWith("Vorlik Log — ") && exported.contains("[app] didFinishLaunching")) << exported.toStdString();
    // Nothing of the hook went into the settings file: it was an override for this run.
    const QString stored = run.path("config/Vorlik/Vorlik Desktop.conf");
    EXPECT_FALSE(QFile::exists(stored) && readFile(stored).contains("exportLogAt"));

    OwnHomeRun unwritable;
    const QString nowhere = unwritable.path("no such folder/log.txt");
    unwritable.start(VORLIK_DESKTOP_PATH, {"-exportLogAt", nowhere, "-skipWebTabs", "YES", "-baseURL", service});
    EXPECT_EQ(unwritable.waitForLine("EXPORTLOG "), "EXPORTLOG failed " + nowhere);
    EXPECT_FALSE(QFile::exists(nowhere));
}

TEST(RealQuit, ClosingTheMainWindowEndsTheProgramCleanly)
{
    OwnHomeRun run;
    run.start(VORLIK_QUIT_PROBE_PATH, {"-baseURL", shellServer().baseUrl().toString(), "-vorlikDiag", "YES"});
    const ProgramRun ended = finishProgram(run.process);
    EXPECT_EQ(ended.status, 0);
    EXPECT_TRUE(ended.out.contains("closing the main window\nevent loop ended with 0\napplication gone\n")) << ended.out.toStdString();
    // It went through the launch sequence first.
    EXPECT_TRUE(readFile(run.logFile()).contains("[app] didFinishLaunching"));
}

TEST(CrashLoggers, LeaveTheirLinesInTheLogAndStillDie)
{
    const std::tuple<const char *, bool, int, QStringList> cases[]{
        {"throw", true, SIGABRT, {"[crash] uncaught exception std::runtime_error: probe failure \n0 ", "[crash] fatal signal SIGABRT (6)"}},
        {"terminate", true, SIGABRT,
         {"[crash] uncaught exception (none): terminate called without an active exception", "[crash] fatal signal SIGABRT (6)"}},
        {"segv", true, SIGSEGV, {"[crash] fatal signal SIGSEGV (11)"}},
        {"abort", true, SIGABRT, {"[crash] fatal signal SIGABRT (6)"}},
        {"throw", false, SIGABRT, {}}};
    for (const auto &[mode, diagnostics, signalNumber, expectedLines] : cases) {
        SCOPED_TRACE(std::string(mode) + (diagnostics ? "" : ", diagnostics off"));
        OwnHomeRun run;
        run.start(VORLIK_CRASH_PROBE_PATH, diagnostics ? QStringList{mode, "-vorlikDiag", "YES"} : QStringList{mode});
        ASSERT_TRUE(run.process.waitForFinished(30000));
        EXPECT_EQ(run.process.exitStatus(), QProcess::CrashExit);
        EXPECT_EQ(run.process.exitCode(), signalNumber);
        ASSERT_EQ(QFile::exists(run.logFile()), diagnostics);
        if (!diagnostics)
            continue;
        const QString log = QString::fromUtf8(readFile(run.logFile()));
        for (const QString &expected : expectedLines)
            EXPECT_TRUE(log.contains(expected)) << expected.toStdString() << "\nin:\n" << log.toStdString();
        if (std::string_view(mode) != "throw")
            continue;
        // At most ten frames above the throw, the first one the function that threw, not the runtime's machinery.
        const QStringList lines = log.mid(log.indexOf("uncaught exception")).split(u'\n');
        int frames = 0;
        while (frames + 1 < lines.size() && lines.at(frames + 1).startsWith(QString::number(frames) + u' '))
            ++frames;
        EXPECT_TRUE(frames >= 3 && frames <= 10) << frames;
        EXPECT_TRUE(lines.value(1).contains(QStringLiteral("failDeepInside"))) << lines.value(1).toStdString();
    }
}

TEST(FatalSignalLine, UsesTheLogsTimestampFormatInLocalTime)
{
    // 1796598902123 is 2026-12-06 23:15:02.123 UTC, shown at UTC+1 and UTC-5; 951782400000 a leap day.
    const std::tuple<qint64, int, int, const char *> cases[]{
        {1796598902123, 3600, SIGSEGV, "2026-12-07 00:15:02.123 [crash] fatal signal SIGSEGV (11)\n"},
        {1796598902123, -5 * 3600, SIGBUS, "2026-12-06 18:15:02.123 [crash] fatal signal SIGBUS (7)\n"},
        {0, 0, SIGFPE, "1970-01-01 00:00:00.000 [crash] fatal signal SIGFPE (8)\n"},
        {951782400000, 0, SIGILL, "2000-02-29 00:00:00.000 [crash] fatal signal SIGILL (4)\n"}};
    for (const auto &[when, offset, signalNumber, line] : cases)
        EXPECT_EQ(app::FatalSignalLogger::formatLine(when, offset, signalNumber), QByteArray(line));
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
    files.setUrls({QUrl::fromLocalFile("/tmp/a.wav"), QUrl::fromLocalFile("/tmp/b.wav")});
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
    ASSERT_EQ(lines.size(), 2) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith("DRAGWATCH change=1 files=true mouse=")
                && lines[1].startsWith("DRAGWATCH change=2 files=false mouse="));
}

} // namespace
} // namespace vorlik::test

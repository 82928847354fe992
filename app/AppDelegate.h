#pragma once
// The application's launch sequence and its quit guard.
//
// Launch, in order: unbuffered standard output; the main window in front and the application
// active; the diagnostics log started when it is switched on; the crash loggers; the
// "didFinishLaunching" line; then the developer hooks of the settings: "exportLogAt" (export
// the log there 4 s later and print "EXPORTLOG ok|failed PATH"), "dragWatch", and 0.5 s later
// "showPreferences" and "showAbout".
//
// Quitting (the menu's Quit, closing the main window, a quit request of the system) is refused
// while ActiveJobs holds running work: a warning says so and the application stays open.
#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace vorlik::diagnostics {
class DiagnosticsLogger;
}
namespace vorlik::platform {
class Settings;
}

namespace vorlik::app {

class ActiveJobs;
class AppWindows;
class DragWatch;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    static constexpr int exportLogDelayMilliseconds = 4000;
    static constexpr int windowHooksDelayMilliseconds = 500;

    AppDelegate(AppWindows &windows, ActiveJobs &jobs, platform::Settings &settings,
                diagnostics::DiagnosticsLogger &logger, QObject *parent = nullptr);
    ~AppDelegate() override;

    void setMainWindow(QWidget *window) { m_mainWindow = window; }

    void applicationDidFinishLaunching();

    // The quit guard: true when nothing runs; otherwise shows the modal "Work is still running"
    // warning and answers false once it is dismissed.
    bool applicationShouldTerminate();
    // A quit request: the guard, then the terminate action. True when the application quits.
    bool requestQuit();
    bool isTerminating() const { return m_terminating; }
    // What quitting does (QCoreApplication::quit by default).
    void setTerminateAction(std::function<void()> terminate) { m_terminate = std::move(terminate); }

    // "Active work (Analysis, Conversion) is still running. Stop it before quitting Vorlik."
    // The keys are sorted, so the text is the same on every run.
    static QString runningWorkText(const QSet<QString> &keys);

    DragWatch *dragWatch() const { return m_dragWatch.get(); }

signals:
    // The "exportLogAt" hook finished (its line is on standard output).
    void logExported(bool ok, const QString &path);

private:
    void activate();
    void installCrashLoggers();
    void scheduleLogExport(const QString &path);
    static QCoro::Task<void> exportLog(QPointer<AppDelegate> self, diagnostics::DiagnosticsLogger *logger,
                                       QString path);
    void runWindowHooks();

    AppWindows &m_windows;
    ActiveJobs &m_jobs;
    platform::Settings &m_settings;
    diagnostics::DiagnosticsLogger &m_logger;
    QPointer<QWidget> m_mainWindow;
    std::unique_ptr<DragWatch> m_dragWatch;
    std::function<void()> m_terminate;
    bool m_terminating = false;
};

} // namespace vorlik::app

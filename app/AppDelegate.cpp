#include "app/AppDelegate.h"

#include "app/ActiveJobs.h"
#include "app/AppWindows.h"
#include "app/CrashLogger.h"
#include "app/DragWatch.h"
#include "app/FatalSignalLogger.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"

#include <QApplication>
#include <QCoroFuture>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cstdio>

namespace vorlik::app {

AppDelegate::AppDelegate(AppWindows &windows, ActiveJobs &jobs, platform::Settings &settings,
                         diagnostics::DiagnosticsLogger &logger, QObject *parent)
    : QObject(parent), m_windows(windows), m_jobs(jobs), m_settings(settings), m_logger(logger),
      m_terminate([] { QCoreApplication::quit(); })
{
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching()
{
    // Log lines are echoed to standard output; tools that read it must see them at once.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    activate();
    m_logger.startIfEnabled();
    installCrashLoggers();
    m_logger.log(QStringLiteral("app"), QStringLiteral("didFinishLaunching"));

    if (const auto path = m_settings.optionalString(QStringLiteral("exportLogAt")); path && !path->isEmpty())
        scheduleLogExport(*path);
    if (m_settings.boolean(QStringLiteral("dragWatch"))) {
        m_dragWatch = std::make_unique<DragWatch>(m_mainWindow);
        m_dragWatch->start();
    }
    QTimer::singleShot(windowHooksDelayMilliseconds, this, &AppDelegate::runWindowHooks);
}

void AppDelegate::activate()
{
    if (!m_mainWindow)
        return;
    m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
}

void AppDelegate::installCrashLoggers()
{
    CrashLogger::install();
    FatalSignalLogger::install(m_logger.logFilePath(), m_settings.diagnosticsEnabled());
    connect(&m_settings, &platform::Settings::changed, this, [this](const QString &key) {
        if (key == QLatin1String("vorlikDiag"))
            FatalSignalLogger::setEnabled(m_settings.diagnosticsEnabled());
    });
}

void AppDelegate::scheduleLogExport(const QString &path)
{
    QTimer::singleShot(exportLogDelayMilliseconds, this,
                       [this, path] { exportLog(QPointer<AppDelegate>(this), &m_logger, path); });
}

QCoro::Task<void> AppDelegate::exportLog(QPointer<AppDelegate> self, diagnostics::DiagnosticsLogger *logger,
                                         QString path)
{
    // Gathering and writing the export is file work: off the main thread.
    // (A named future: g++ 12 destroys a lambda temporary inside a co_await twice.)
    QFuture<bool> exported = QtConcurrent::run([logger, path] { return logger->exportTXT(path); });
    const bool ok = co_await exported;
    const QByteArray line = "EXPORTLOG " + QByteArray(ok ? "ok" : "failed") + ' ' + path.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
    if (self)
        emit self->logExported(ok, path);
}

void AppDelegate::runWindowHooks()
{
    if (m_settings.boolean(QStringLiteral("showPreferences")))
        m_windows.showPreferences();
    if (m_settings.boolean(QStringLiteral("showAbout")))
        m_windows.showAbout();
}

QString AppDelegate::runningWorkText(const QSet<QString> &keys)
{
    QStringList sorted(keys.begin(), keys.end());
    std::sort(sorted.begin(), sorted.end());
    return QStringLiteral("Active work (") + sorted.join(QStringLiteral(", "))
        + QStringLiteral(") is still running. Stop it before quitting Vorlik.");
}

bool AppDelegate::applicationShouldTerminate()
{
    const QSet<QString> running = m_jobs.runningKeys();
    if (running.isEmpty())
        return true;
    QMessageBox alert(QMessageBox::Warning, QStringLiteral("Vorlik Desktop"), QStringLiteral("Work is still running"),
                      QMessageBox::NoButton, m_mainWindow);
    alert.setObjectName(QStringLiteral("quitGuardAlert"));
    alert.setInformativeText(runningWorkText(running));
    QPushButton *ok = alert.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    alert.setDefaultButton(ok);
    alert.setWindowModality(Qt::ApplicationModal);
    // Without a width of its own the box wraps the sentence into a narrow column.
    if (auto *grid = qobject_cast<QGridLayout *>(alert.layout()))
        grid->addItem(new QSpacerItem(380, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                      grid->columnCount());
    alert.exec();
    return false;
}

bool AppDelegate::requestQuit()
{
    if (m_terminating)
        return true;
    if (!applicationShouldTerminate())
        return false;
    m_terminating = true;
    m_terminate();
    return true;
}

} // namespace vorlik::app

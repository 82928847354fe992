#include "app/QueueEndNotice.h"

#include "analysis/AnalysisView.h"
#include "convert/ConvertView.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "web/DesktopNotification.h"

#include <QWidget>

namespace vorlik::app {

QueueEndNotice::QueueEndNotice(QWidget *page, const QString &title) : QObject(page), m_page(page), m_title(title) {}

void QueueEndNotice::watch(QWidget *page, const QString &title)
{
    auto *notice = new QueueEndNotice(page, title);
    if (auto *convertPage = qobject_cast<convert::ConvertView *>(page)) {
        convert::ConvertRunner &runner = convertPage->runner();
        connect(&runner, &convert::ConvertRunner::isRunningChanged, notice, [notice, &runner] {
            if (runner.isRunning())
                notice->started();
        });
        connect(&runner, &convert::ConvertRunner::runFinished, notice,
                [notice, &runner] { notice->ended(runner.statusLine()); });
    } else if (auto *analysisPage = qobject_cast<analysis::AnalysisView *>(page)) {
        analysis::AnalysisRunner &runner = analysisPage->runner();
        connect(&runner, &analysis::AnalysisRunner::isRunningChanged, notice, [notice, &runner] {
            if (runner.isRunning())
                notice->started();
        });
        connect(&runner, &analysis::AnalysisRunner::runFinished, notice,
                [notice, &runner] { notice->ended(runner.statusLine()); });
    }
}

void QueueEndNotice::started()
{
    m_started = std::chrono::steady_clock::now();
}

void QueueEndNotice::ended(const QString &summary)
{
    const auto ran = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_started);
    if (!worthNotice(ran, m_page->window()->isActiveWindow()))
        return;
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("app"), QStringLiteral("queue-end notice: ") + summary);
    web::DesktopNotification{QStringLiteral("queue-end"), m_title, summary}.post();
}

} // namespace vorlik::app

#include "app/DragWatch.h"

#include "diagnostics/DiagnosticsLogger.h"

#include <QApplication>
#include <QCursor>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QWidget>

namespace vorlik::app {

namespace {

QString yesNo(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

bool onlyLocalFiles(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return false;
    for (const QUrl &url : data->urls())
        if (!url.isLocalFile())
            return false;
    return true;
}

} // namespace

DragWatch::DragWatch(QWidget *mainWindow, QObject *parent)
    : QObject(parent), m_window(mainWindow), m_lastMouse(QCursor::pos())
{
    m_timer.setInterval(intervalMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, &DragWatch::tick);
}

DragWatch::~DragWatch()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

void DragWatch::start()
{
    if (m_timer.isActive())
        return;
    qApp->installEventFilter(this);
    m_timer.start();
}

bool DragWatch::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter: {
        const QMimeData *data = static_cast<QDragEnterEvent *>(event)->mimeData();
        if (data != m_currentDrag) {
            m_currentDrag = data;
            ++m_changeCount;
        }
        m_dragging = true;
        m_files = onlyLocalFiles(data);
        break;
    }
    case QEvent::DragMove:
        m_dragging = true;
        break;
    case QEvent::DragLeave:
        m_dragging = false;
        break;
    case QEvent::Drop:
        m_dragging = false;
        m_currentDrag = nullptr;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void DragWatch::tick()
{
    const QPoint mouse = QCursor::pos();
    if (m_changeCount == m_lastChange && mouse == m_lastMouse)
        return;
    m_lastChange = m_changeCount;
    m_lastMouse = mouse;

    bool inWindow = false;
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->frameGeometry().contains(mouse))
            inWindow = true;
    const bool front = QGuiApplication::applicationState() == Qt::ApplicationActive;
    const QRect frame = m_window ? m_window->frameGeometry() : QRect();
    diagnostics::DiagnosticsLogger::shared().log(
        QStringLiteral("app"), line(m_changeCount, fileDragInProgress(), mouse, inWindow, front, frame));
}

QString DragWatch::line(int changeCount, bool files, QPoint mouse, bool inWindow, bool front, QRect frame)
{
    return QStringLiteral("DRAGWATCH change=%1 files=%2 mouse=%3,%4 inWindow=%5 front=%6 frame=%7,%8 %9x%10")
        .arg(changeCount)
        .arg(yesNo(files))
        .arg(mouse.x())
        .arg(mouse.y())
        .arg(yesNo(inWindow), yesNo(front))
        .arg(frame.x())
        .arg(frame.y())
        .arg(frame.width())
        .arg(frame.height());
}

} // namespace vorlik::app

#include "web/VorlikWebView.h"

#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "web/Coordinator.h"
#include "web/InjectedScripts.h"
#include "web/PageScript.h"

#include <QChildEvent>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QWebEnginePage>

namespace vorlik::web {

VorlikWebView::VorlikWebView(QWidget *parent) : QWebEngineView(parent)
{
    setAcceptDrops(false);
}

VorlikWebView::~VorlikWebView() = default;

void VorlikWebView::setAcceptsFileDrops(bool accept)
{
    m_acceptsFileDrops = accept;
    setAcceptDrops(accept);
    if (QWidget *input = focusProxy())
        input->setAcceptDrops(accept);
}

QPointF VorlikWebView::pagePoint(QPointF viewPoint) const
{
    const qreal zoom = page() ? page()->zoomFactor() : 1.0;
    return zoom > 0 ? viewPoint / zoom : viewPoint;
}

QPointF VorlikWebView::viewPoint(QPointF pagePoint) const
{
    const qreal zoom = page() ? page()->zoomFactor() : 1.0;
    return pagePoint * zoom;
}

QWidget *VorlikWebView::inputWidget() const
{
    QWidget *input = focusProxy();
    return input ? input : const_cast<VorlikWebView *>(this);
}

QList<QUrl> VorlikWebView::fileUrls(const QMimeData *data)
{
    QList<QUrl> files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            files.append(url);
    }
    return files;
}

void VorlikWebView::childEvent(QChildEvent *event)
{
    if (event->added())
        event->child()->installEventFilter(this);
    QWebEngineView::childEvent(event);
}

bool VorlikWebView::eventFilter(QObject *watched, QEvent *event)
{
    if (handleDrag(watched, event))
        return true;
    return QWebEngineView::eventFilter(watched, event);
}

void VorlikWebView::dragEnterEvent(QDragEnterEvent *event)
{
    if (!handleDrag(this, event))
        QWebEngineView::dragEnterEvent(event);
}

void VorlikWebView::dragMoveEvent(QDragMoveEvent *event)
{
    if (!handleDrag(this, event))
        QWebEngineView::dragMoveEvent(event);
}

void VorlikWebView::dragLeaveEvent(QDragLeaveEvent *event)
{
    if (!handleDrag(this, event))
        QWebEngineView::dragLeaveEvent(event);
}

void VorlikWebView::dropEvent(QDropEvent *event)
{
    if (!handleDrag(this, event))
        QWebEngineView::dropEvent(event);
}

bool VorlikWebView::handleDrag(QObject *receiver, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter: {
        auto *drag = static_cast<QDragEnterEvent *>(event);
        const QList<QUrl> files = fileUrls(drag->mimeData());
        if (files.isEmpty())
            return false;
        if (!m_acceptsFileDrops) {
            drag->ignore();
            return true;
        }
        m_fileDragInside = true;
        trace(QStringLiteral("WEBVIEW draggingEntered files=%1").arg(files.size()));
        runScript(InjectedScripts::dragEntered());
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
    }
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (fileUrls(drag->mimeData()).isEmpty())
            return false;
        if (!m_acceptsFileDrops) {
            drag->ignore();
            return true;
        }
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
    }
    case QEvent::DragLeave:
        if (!m_fileDragInside)
            return false;
        m_fileDragInside = false;
        trace(QStringLiteral("WEBVIEW draggingExited"));
        runScript(InjectedScripts::dragExited());
        return true;
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QList<QUrl> files = fileUrls(drop->mimeData());
        if (files.isEmpty() && !m_fileDragInside)
            return false;
        m_fileDragInside = false;
        if (!m_acceptsFileDrops) {
            drop->ignore();
            return true;
        }
        QPointF point = drop->position();
        if (auto *widget = qobject_cast<QWidget *>(receiver); widget && widget != this)
            point = widget->mapTo(this, point);
        trace(QStringLiteral("WEBVIEW performDragOperation files=%1").arg(files.size()));
        diagnostics::DiagnosticsLogger::shared().log(
            QStringLiteral("drop"), QStringLiteral("performDragOperation files=%1 point=%2,%3")
                                        .arg(files.size())
                                        .arg(qint64(point.x()))
                                        .arg(qint64(point.y())));
        if (files.isEmpty()) {
            drop->ignore();
            return true;
        }
        runScript(InjectedScripts::dragExited());
        if (onFilesDropped)
            onFilesDropped(files, point);
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        return true;
    }
    default:
        return false;
    }
}

void VorlikWebView::runScript(const QString &source)
{
    if (QWebEnginePage *current = page())
        PageScript::start(*current, source);
}

void VorlikWebView::trace(const QString &line) const
{
    if (platform::Settings::standard().boolean(QStringLiteral("dropBridgeLog")))
        Coordinator::printConsole(line);
}

} // namespace vorlik::web

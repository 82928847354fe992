#include "analysis/CardDropTarget.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QEvent>
#include <QMimeData>
#include <QVBoxLayout>

#include <algorithm>

namespace vorlik::analysis {

CardDropTarget::CardDropTarget(QWidget *content, QWidget *parent) : QWidget(parent), m_content(content)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(content);
    content->installEventFilter(this);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAcceptDrops(true);
}

void CardDropTarget::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    setAcceptDrops(active);
    if (!active && m_hovering)
        targeted(false);
}

void CardDropTarget::remeasure()
{
    std::optional<int> height;
    if (m_content) {
        const bool byWidth = m_content->hasHeightForWidth() && width() > 0;
        height = byWidth ? m_content->heightForWidth(width()) : m_content->sizeHint().height();
    }
    if (height == m_measured)
        return;
    m_measured = height;
    updateGeometry();
}

int CardDropTarget::cardHeight() const
{
    return std::clamp(m_measured.value_or(minimumHeight), minimumHeight, maximumHeight);
}

QSize CardDropTarget::sizeHint() const
{
    const int width = m_content ? m_content->sizeHint().width() : 0;
    return {width, cardHeight()};
}

QSize CardDropTarget::minimumSizeHint() const
{
    const int width = m_content ? m_content->minimumSizeHint().width() : 0;
    return {width, cardHeight()};
}

void CardDropTarget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Wrapped texts take more or fewer lines at another width. Measured once this layout pass
    // is over: a new size asked for in the middle of it would be lost.
    if (m_measured)
        QMetaObject::invokeMethod(this, &CardDropTarget::remeasure, Qt::QueuedConnection);
}

bool CardDropTarget::event(QEvent *event)
{
    // The content asked for a new geometry (its size hint changed).
    if (event->type() == QEvent::LayoutRequest)
        remeasure();
    return QWidget::event(event);
}

bool CardDropTarget::eventFilter(QObject *watched, QEvent *event)
{
    // The content's layout changed (rows added, texts longer): its fitting height may have too.
    if (watched == m_content && event->type() == QEvent::LayoutRequest)
        remeasure();
    return QWidget::eventFilter(watched, event);
}

void CardDropTarget::targeted(bool on)
{
    m_hovering = on;
    if (m_onTargeted)
        m_onTargeted(on);
}

void CardDropTarget::dragEnterEvent(QDragEnterEvent *event)
{
    if (!m_active) {
        event->ignore();
        return;
    }
    targeted(true);
    // Answered with copy whatever is dragged; the drop itself takes files only.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CardDropTarget::dragMoveEvent(QDragMoveEvent *event)
{
    if (!m_active) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CardDropTarget::dragLeaveEvent(QDragLeaveEvent *event)
{
    if (m_hovering)
        targeted(false);
    event->accept();
}

void CardDropTarget::dropEvent(QDropEvent *event)
{
    if (!m_active) {
        event->ignore();
        return;
    }
    targeted(false);
    QList<QUrl> files;
    if (const QMimeData *data = event->mimeData()) {
        for (const QUrl &url : data->urls()) {
            if (url.isLocalFile())
                files.append(url);
        }
    }
    const bool accepted = !files.isEmpty() && m_onDrop && m_onDrop(files);
    if (accepted) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

} // namespace vorlik::analysis

#include "convert/QueueRowKeys.h"

#include "convert/QueueModel.h"
#include "convert/QueueRowAccess.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>

namespace vorlik::convert {

QueueRowKeys::QueueRowKeys(QListView *view) : QObject(view), m_view(view)
{
    view->setFocusPolicy(Qt::StrongFocus);
    view->setContextMenuPolicy(Qt::DefaultContextMenu);
    view->installEventFilter(this);
    view->viewport()->installEventFilter(this);
    QueueRowAccess::install();
}

QString QueueRowKeys::keysHint()
{
    return QStringLiteral("Delete removes, Return reveals or retries, the Menu key lists every action");
}

bool QueueRowKeys::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::FocusIn:
        if (watched == m_view && !m_view->currentIndex().isValid() && m_view->model()->rowCount() > 0)
            m_view->setCurrentIndex(m_view->model()->index(0, 0));
        return false;
    case QEvent::KeyPress: {
        if (watched != m_view)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if (modifiers != Qt::NoModifier && !(key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier))
            return false;
        switch (key->key()) {
        case Qt::Key_Delete:
        case Qt::Key_Backspace:
            trigger(QueueRowDelegate::Button::remove);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            const QList<QueueRowDelegate::Button> shown = QueueRowDelegate::buttons(m_view->currentIndex());
            trigger(shown.contains(QueueRowDelegate::Button::reveal) ? QueueRowDelegate::Button::reveal
                                                                     : QueueRowDelegate::Button::retry);
            return true;
        }
        case Qt::Key_Menu:
        case Qt::Key_F10:
            showMenu(m_view->visualRect(m_view->currentIndex()).center());
            return true;
        default:
            return false;
        }
    }
    case QEvent::ContextMenu: {
        const auto *menu = static_cast<QContextMenuEvent *>(event);
        if (menu->reason() == QContextMenuEvent::Mouse) {
            const QPoint at = watched == m_view ? m_view->viewport()->mapFrom(m_view, menu->pos()) : menu->pos();
            const QModelIndex row = m_view->indexAt(at);
            if (!row.isValid())
                return false;
            m_view->setCurrentIndex(row);
            showMenu(at);
        } else {
            showMenu(m_view->visualRect(m_view->currentIndex()).center());
        }
        return true;
    }
    default:
        return false;
    }
}

void QueueRowKeys::act(const QModelIndex &row, QueueRowDelegate::Button button)
{
    if (!row.isValid() || !QueueRowDelegate::buttons(row).contains(button))
        return;
    emit triggered(row.data(QueueModel::IdRole).toUuid(), button);
}

void QueueRowKeys::showMenu(const QPoint &where)
{
    const QModelIndex row = m_view->currentIndex();
    if (!row.isValid())
        return;
    QMenu menu(m_view);
    menu.setObjectName(QStringLiteral("queueRowMenu"));
    for (QueueRowDelegate::Button button : QueueRowDelegate::buttons(row)) {
        QAction *action = menu.addAction(QueueRowDelegate::title(button));
        connect(action, &QAction::triggered, this, [this, button] { trigger(button); });
    }
    menu.exec(m_view->viewport()->mapToGlobal(where));
}

} // namespace vorlik::convert

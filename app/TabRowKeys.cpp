#include "app/TabRowKeys.h"

#include <QAbstractButton>
#include <QKeyEvent>

namespace vorlik::app {

TabRowKeys::TabRowKeys(const QList<QAbstractButton *> &buttons) : QObject(buttons.front()), m_buttons(buttons) {}

void TabRowKeys::install(const QList<QAbstractButton *> &buttons)
{
    auto *keys = new TabRowKeys(buttons);
    for (QAbstractButton *button : buttons)
        button->installEventFilter(keys);
    showTabStop(buttons);
}

void TabRowKeys::showTabStop(const QList<QAbstractButton *> &buttons)
{
    for (QAbstractButton *button : buttons)
        button->setFocusPolicy(button->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
}

bool TabRowKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->modifiers() & ~Qt::KeypadModifier)
        return false;
    const qsizetype count = m_buttons.size();
    const qsizetype from = m_buttons.indexOf(static_cast<QAbstractButton *>(watched));
    qsizetype to = -1;
    switch (key->key()) {
    case Qt::Key_Left:
        to = (from + count - 1) % count;
        break;
    case Qt::Key_Right:
        to = (from + 1) % count;
        break;
    case Qt::Key_Home:
        to = 0;
        break;
    case Qt::Key_End:
        to = count - 1;
        break;
    default:
        return false;
    }
    QAbstractButton *target = m_buttons[to];
    // A press, so the key selects the tab exactly as a click does.
    if (!target->isChecked())
        target->click();
    target->setFocus(key->key() == Qt::Key_Left ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    return true;
}

} // namespace vorlik::app

#include "app/WindowKeys.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QShortcut>
#include <QWidget>

namespace vorlik::app {

void WindowKeys::install(QWidget *window, Closing closing)
{
    auto *keys = new WindowKeys(window);
    window->installEventFilter(keys);
    if (closing == Closing::onEscapeAndCtrlW) {
        for (const QKeySequence &sequence : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
            auto *shortcut = new QShortcut(sequence, window);
            connect(shortcut, &QShortcut::activated, window, &QWidget::close);
        }
    }
}

WindowKeys::WindowKeys(QWidget *window) : QObject(window), m_window(window) {}

bool WindowKeys::eventFilter(QObject *watched, QEvent *event)
{
    // A button that does not take Return itself lets the key travel up to its parents.
    if (watched != m_window || event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    const bool activates = (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
                           && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    auto *button = qobject_cast<QAbstractButton *>(QApplication::focusWidget());
    if (!activates || !button || !m_window->isAncestorOf(button) || !button->isEnabled())
        return false;
    button->click();
    return true;
}

} // namespace vorlik::app

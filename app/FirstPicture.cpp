#include "app/FirstPicture.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace vorlik::app {

void FirstPicture::whenShown(QWidget *widget, std::function<void()> then)
{
    new FirstPicture(widget, std::move(then));
}

FirstPicture::FirstPicture(QWidget *widget, std::function<void()> then)
    : QObject(widget), m_widget(widget), m_then(std::move(then))
{
    widget->installEventFilter(this);
    if (widget->isVisible())
        watchWindow();
}

bool FirstPicture::eventFilter(QObject *watched, QEvent *event)
{
    if (m_fired)
        return false;
    if (watched == m_widget && event->type() == QEvent::Show)
        watchWindow();
    else if (watched == m_window && event->type() == QEvent::Expose && m_window->isExposed())
        // The exposure draws the window before control returns to the event loop.
        fire();
    return false;
}

void FirstPicture::watchWindow()
{
    QWindow *window = m_widget->window()->windowHandle();
    if (!window || window == m_window)
        return;
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    if (window->isExposed())
        fire();
    else
        window->installEventFilter(this);
}

void FirstPicture::fire()
{
    if (m_fired)
        return;
    m_fired = true;
    m_widget->removeEventFilter(this);
    if (m_window)
        m_window->removeEventFilter(this);
    QTimer::singleShot(0, this, [this] {
        const std::function<void()> then = std::move(m_then);
        deleteLater();
        then();
    });
}

} // namespace vorlik::app

#include "app/WindowPresentation.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

namespace vorlik::app {

void presentWindow(QWidget *window)
{
    QScreen *screen = nullptr;
    if (QWidget *active = QApplication::activeWindow())
        screen = active->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = window->frameGeometry();
        if (!window->isVisible() && frame.size() != window->size())
            frame.setSize(window->size()); // no frame known before the first show
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    window->show();
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->raise();
    window->activateWindow();
}

} // namespace vorlik::app

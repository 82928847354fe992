#include "app/MainWindow.h"

#include "app/AppIcon.h"
#include "app/RootView.h"

#include <QCloseEvent>
#include <QScreen>

namespace vorlik::app {

MainWindow::MainWindow(RootView *root, QWidget *parent) : QMainWindow(parent), m_root(root)
{
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Vorlik Desktop"));
    setWindowIcon(AppIcon::icon());
    setCentralWidget(root);
    fitScreen();
}

void MainWindow::fitScreen()
{
    // A small or highly scaled screen (1920 × 1080 at 2× leaves about 960 × 520) takes a window
    // that fits inside it, room left for the frame, and one the user can shrink further: the
    // pages scroll.
    const QScreen *place = screen();
    if (!place) {
        m_root->setMinimumSize(minimumContentSize);
        resize(defaultSize);
        return;
    }
    const QSize available = place->availableGeometry().size();
    const QSize room = (available - frameAllowance).expandedTo(QSize(320, 240));
    m_root->setMinimumSize(minimumContentSize.boundedTo(room * 0.8));
    resize(defaultSize.boundedTo(room));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_mayClose && !m_mayClose()) {
        event->ignore();
        return;
    }
    event->accept();
}

} // namespace vorlik::app

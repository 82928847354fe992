#include "app/MainWindow.h"

#include "app/AppIcon.h"
#include "app/RootView.h"

#include <QCloseEvent>

namespace vorlik::app {

MainWindow::MainWindow(RootView *root, QWidget *parent) : QMainWindow(parent), m_root(root)
{
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Vorlik Desktop"));
    setWindowIcon(AppIcon::icon());
    setCentralWidget(root);
    root->setMinimumSize(minimumContentSize);
    resize(defaultSize);
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

// The anchor of the start-up benchmark: a bare Qt window of the same shape as the program's (a
// main window with four tabs, 1200 × 780), which says "main window shown" on standard output
// once its first picture is on screen, as the program's log does.
#include <QApplication>
#include <QMainWindow>
#include <QTabWidget>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace {

class FirstExposure : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_seen && event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed()) {
            m_seen = true;
            // The exposure paints before control returns to the event loop.
            QTimer::singleShot(0, [] {
                std::fputs("main window shown\n", stdout);
                std::fflush(stdout);
            });
        }
        return false;
    }

private:
    bool m_seen = false;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QMainWindow window;
    auto *tabs = new QTabWidget;
    for (const char *title : {"Correction", "Cinema", "Convert", "Analysis"})
        tabs->addTab(new QWidget, QString::fromLatin1(title));
    window.setCentralWidget(tabs);
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.resize(1200, 780);
    FirstExposure exposure;
    window.show();
    window.windowHandle()->installEventFilter(&exposure);
    return QApplication::exec();
}

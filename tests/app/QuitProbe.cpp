// The application started as the real program starts it, then closed through its main window
// once the launch has settled, so that a test can check that the program ends cleanly.
//   vorlik-test-quit-probe [-key value ...]
#include "app/MainWindow.h"
#include "app/RootView.h"
#include "app/VorlikDesktopApp.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    vorlik::platform::Settings::standard().applyArguments(QApplication::arguments());
    int status = 0;
    {
        vorlik::app::VorlikDesktopApp app;
        app.launch();
        QObject::connect(&app.rootView(), &vorlik::app::RootView::startupTaskFinished, &app, [&app] {
            QTimer::singleShot(500, &app, [&app] {
                std::printf("closing the main window\n");
                app.mainWindow().close();
            });
        });
        status = QApplication::exec();
        std::printf("event loop ended with %d\n", status);
    }
    vorlik::diagnostics::DiagnosticsLogger::shared().drain();
    std::printf("application gone\n");
    return status;
}

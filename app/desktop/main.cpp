// vorlik-desktop: the Vorlik Desktop application window.
#include "app/VorlikDesktopApp.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorlik Desktop"));
    // No display name: Qt would add it to every window's title ("Vorlik Desktop Settings — Vorlik
    // Desktop"); the titles name the program themselves, and applicationDisplayName() still
    // answers the application's name.
    QApplication::setDesktopFileName(QStringLiteral("com.vorlik.desktop"));
    // "-key value" arguments override stored settings for this run only.
    vorlik::platform::Settings::standard().applyArguments(QApplication::arguments());

    vorlik::app::VorlikDesktopApp app;
    app.launch();
    const int status = QApplication::exec();
    // The log's last lines reach the file before the process ends.
    vorlik::diagnostics::DiagnosticsLogger::shared().drain();
    return status;
}

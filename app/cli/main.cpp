// vorlik: the command-line client of the Vorlik service.
#include "app/cli/CommandLine.h"
#include "app/cli/Commands.h"
#include "app/cli/InterruptWatch.h"
#include "app/cli/KeyInput.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/BuildInfo.h"
#include "platform/Failure.h"
#include "platform/Settings.h"
#include "service/CertificateTrust.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char **argv)
{
    // First of all, and to the last line: no signal may meet the default action once a command
    // listens for it.
    vorlik::app::InterruptWatch interrupt;
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vorlik Desktop"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    vorlik::app::CommandLine line = vorlik::app::CommandLine::parse(QCoreApplication::arguments());
    if (!line.error.isEmpty()) {
        err << "vorlik: " << line.error << Qt::endl;
        return vorlik::app::exitUsage;
    }
    if (line.help) {
        out << line.helpText();
        return 0;
    }
    if (line.version) {
        out << "vorlik " << vorlik::platform::appVersion() << " (" << vorlik::platform::buildNumber() << ")" << Qt::endl;
        return 0;
    }
    try {
        // Only a command that needs the key reads it: a key file may be a pipe that waits.
        if (line.usesKey())
            line.key = vorlik::app::KeyInput::read(line);
    } catch (const vorlik::Failure &failure) {
        err << "vorlik: " << failure.description() << Qt::endl;
        return vorlik::app::exitUsage;
    }

    auto &settings = vorlik::platform::Settings::standard();
    settings.applyArguments(QStringList{QString()} + line.settingOverrides);
    if (line.baseUrl)
        settings.setOverride(QStringLiteral("baseURL"), *line.baseUrl);
    vorlik::diagnostics::DiagnosticsLogger::shared().startIfEnabled();
    QString trustProblem;
    vorlik::service::CertificateTrust::applyFromSettings(settings, &trustProblem);
    if (!trustProblem.isEmpty())
        err << "vorlik: " << trustProblem << Qt::endl;

    const int code = QCoro::waitFor(vorlik::app::runCommand(line, out, err, interrupt));
    out.flush();
    err.flush();
    vorlik::diagnostics::DiagnosticsLogger::shared().drain();
    return code;
}

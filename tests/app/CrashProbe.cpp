// A program that fails on purpose with the application's crash loggers installed, so that a
// test can read what they left in the diagnostics log.
//   vorlik-test-crash-probe throw|terminate|segv|abort [-vorlikDiag YES]
#include "app/CrashLogger.h"
#include "app/FatalSignalLogger.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>

// Visible to the dynamic symbol table (the probe exports its symbols), so that the stack in
// the log can name them.
[[gnu::noinline]] void failDeepInside() { throw std::runtime_error("probe failure"); }
[[gnu::noinline]] void failingCaller() { failDeepInside(); }

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    auto &settings = vorlik::platform::Settings::standard();
    settings.applyArguments(QCoreApplication::arguments());
    auto &logger = vorlik::diagnostics::DiagnosticsLogger::shared();
    logger.startIfEnabled();
    vorlik::app::CrashLogger::install();
    vorlik::app::FatalSignalLogger::install(logger.logFilePath(), settings.diagnosticsEnabled());
    logger.log(QStringLiteral("app"), QStringLiteral("probe ready"));
    logger.drain();

    const QString mode = QCoreApplication::arguments().value(1);
    if (mode == QLatin1String("throw"))
        failingCaller();
    else if (mode == QLatin1String("terminate"))
        std::terminate();
    else if (mode == QLatin1String("segv"))
        std::raise(SIGSEGV);
    else if (mode == QLatin1String("abort"))
        std::abort();
    std::fputs("unknown mode\n", stderr);
    return 2;
}

// A stand-in for the desktop program in the end-to-end install test, built twice with
// different compiled-in versions and bundled by the project's bundle rule.
//   probe install [-setting value]...   check, download and install like the start-up task
//                                      with automatic updates on, then quit for the relaunch
//   probe                              (as relaunched) append "VERSION (BUILD)" to the file
//                                      named by VORLIK_PROBE_OUT
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "service/CertificateTrust.h"
#include "update/UpdateManager.h"

#include <QFile>
#include <QTextStream>

#include <cstdio>

using vorlik::update::UpdateManager;
using vorlik::update::UpdatePhase;

namespace {

QCoro::Task<void> installNewest(UpdateManager &manager)
{
    QCoro::Task<UpdatePhase> checking = manager.check();
    UpdatePhase checked = co_await checking;
    if (checked.is(UpdatePhase::Kind::available)) {
        QCoro::Task<void> downloading = manager.download(checked.manifest);
        co_await downloading;
    }
    const UpdatePhase downloaded = manager.phase();
    if (!downloaded.is(UpdatePhase::Kind::downloaded)) {
        std::fprintf(stderr, "probe: %s\n", qPrintable(downloaded.debugText()));
        QCoreApplication::exit(1);
        co_return;
    }
    QObject::connect(&manager, &UpdateManager::phaseChanged, &manager, [&manager] {
        if (manager.phase().is(UpdatePhase::Kind::error)) {
            std::fprintf(stderr, "probe: %s\n", qPrintable(manager.phase().debugText()));
            QCoreApplication::exit(1);
        }
    });
    manager.installAndRelaunch(downloaded.manifest, downloaded.path);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) != QLatin1String("install")) {
        QFile out(qEnvironmentVariable("VORLIK_PROBE_OUT"));
        if (!out.open(QIODevice::Append))
            return 3;
        out.write(VORLIK_PROBE_VERSION " (" VORLIK_PROBE_BUILD ")\n");
        return 0;
    }

    auto &settings = vorlik::platform::Settings::standard();
    settings.applyArguments(arguments.mid(1));
    vorlik::service::CertificateTrust::applyFromSettings(settings);
    vorlik::diagnostics::DiagnosticsLogger::shared().startIfEnabled();
    installNewest(UpdateManager::shared());
    const int code = application.exec();
    vorlik::diagnostics::DiagnosticsLogger::shared().drain();
    return code;
}

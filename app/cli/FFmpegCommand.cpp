#include "app/cli/FFmpegCommand.h"

#include "ffmpeg/FFmpegInstaller.h"

namespace vorlik::app {

QCoro::Task<int> runFFmpegCommand(CommandLine line, QTextStream &out, QTextStream &err)
{
    const QStringList arguments = line.arguments;
    const bool fromFile = arguments.size() == 3 && arguments.at(1) == QLatin1String("--from");
    if (arguments.value(0) != QLatin1String("install") || (arguments.size() != 1 && !fromFile)) {
        err << "usage: vorlik ffmpeg install [--from PROGRAM]" << Qt::endl;
        co_return 2;
    }

    ffmpeg::FFmpegInstaller installer;
    QObject::connect(&installer, &ffmpeg::FFmpegInstaller::phaseChanged, &installer, [&] {
        if (installer.phase().kind != ffmpeg::InstallPhase::Kind::failed && !installer.statusText().isEmpty())
            out << installer.statusText() << Qt::endl;
    });
    if (fromFile) {
        QCoro::Task<void> adopting = installer.adopt(arguments.at(2));
        co_await adopting;
    } else {
        out << ffmpeg::FFmpegInstaller::explanation() << Qt::endl;
        QCoro::Task<void> installing = installer.installRecommended();
        co_await installing;
    }
    if (installer.installedProgram().isEmpty()) {
        err << "✗ " << installer.phase().message << Qt::endl;
        co_return 1;
    }
    out << "✓ ffmpeg installed: " << installer.installedProgram() << Qt::endl;
    co_return 0;
}

} // namespace vorlik::app

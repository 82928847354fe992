#include "app/cli/FFmpegCommand.h"

#include "ffmpeg/FFmpegInstaller.h"

namespace vorlik::app {

QCoro::Task<int> runFFmpegCommand(CommandLine line, QTextStream &out, QTextStream &err)
{
    // The command line's form (install, --from PROGRAM) was checked when it was read.
    const std::optional<QString> program = line.option(QStringLiteral("from"));

    ffmpeg::FFmpegInstaller installer;
    QObject::connect(&installer, &ffmpeg::FFmpegInstaller::phaseChanged, &installer, [&] {
        if (installer.phase().kind != ffmpeg::InstallPhase::Kind::failed && !installer.statusText().isEmpty())
            out << installer.statusText() << Qt::endl;
    });
    if (program) {
        QCoro::Task<void> adopting = installer.adopt(*program);
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

#include "ffmpeg/Preferences.h"

#include "ffmpeg/FFmpegLocator.h"
#include "platform/Settings.h"

#include <QDir>
#include <QFileInfo>

namespace vorlik::ffmpeg {

std::optional<QString> Preferences::effectiveFFmpeg()
{
    return effectiveFFmpeg(platform::Settings::standard());
}

std::optional<QString> Preferences::effectiveFFmpeg(const platform::Settings &settings)
{
    const QString override = FFmpegLocator::trimSpacesAndTabs(settings.ffmpegPathOverride());
    // An override that is set but cannot run is ignored without a word.
    if (!override.isEmpty() && FFmpegLocator::isExecutableFile(override))
        return override;
    return FFmpegLocator::locatedFFmpeg();
}

ExportLocation Preferences::exportLocation()
{
    return exportLocation(platform::Settings::standard());
}

ExportLocation Preferences::exportLocation(const platform::Settings &settings)
{
    return settings.exportLocation() == rawValue(ExportLocation::customFolder) ? ExportLocation::customFolder
                                                                               : ExportLocation::sameAsSource;
}

std::optional<QString> Preferences::exportDirectory(const QString &source)
{
    return exportDirectory(source, platform::Settings::standard());
}

std::optional<QString> Preferences::exportDirectory(const QString &source, const platform::Settings &settings)
{
    if (exportLocation(settings) == ExportLocation::sameAsSource)
        return QFileInfo(source).absolutePath();
    const QString folder = FFmpegLocator::trimSpacesAndTabs(settings.exportFolderPath());
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return std::nullopt;
    return QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

} // namespace vorlik::ffmpeg

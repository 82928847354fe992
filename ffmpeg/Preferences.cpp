#include "ffmpeg/Preferences.h"

#include "ffmpeg/FFmpegLocator.h"
#include "platform/Settings.h"

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

} // namespace vorlik::ffmpeg

#pragma once
// The ffmpeg the program uses: the user's override when it names an executable file, otherwise
// the one the locator finds.
#include <QString>

#include <optional>

namespace vorlik::platform {
class Settings;
}

namespace vorlik::ffmpeg {

struct Preferences {
    static std::optional<QString> effectiveFFmpeg();
    static std::optional<QString> effectiveFFmpeg(const platform::Settings &settings);
};

} // namespace vorlik::ffmpeg

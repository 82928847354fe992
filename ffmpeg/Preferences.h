#pragma once
// Stored choices that the conversion reads: the ffmpeg the program uses (the user's override
// when it names an executable file, otherwise the one the locator finds) and where converted
// files go.
#include "ffmpeg/ExportLocation.h"

#include <QString>

#include <optional>

namespace vorlik::platform {
class Settings;
}

namespace vorlik::ffmpeg {

struct Preferences {
    static std::optional<QString> effectiveFFmpeg();
    static std::optional<QString> effectiveFFmpeg(const platform::Settings &settings);

    // customFolder only when "exportLocation" holds exactly "customFolder".
    static ExportLocation exportLocation();
    static ExportLocation exportLocation(const platform::Settings &settings);
    // The folder that receives the output of `source`: its parent folder, or the chosen folder
    // ("exportFolderPath", trimmed of spaces and tabs) when that names an existing directory;
    // absent otherwise. Whether the folder can be written is not tested here.
    static std::optional<QString> exportDirectory(const QString &source);
    static std::optional<QString> exportDirectory(const QString &source, const platform::Settings &settings);
};

} // namespace vorlik::ffmpeg

#pragma once
// Where converted files go: beside their source, or into the one folder the user chose. Stored
// under "exportLocation" as its raw value.
#include <QString>

namespace vorlik::ffmpeg {

enum class ExportLocation { sameAsSource, customFolder };

// "sameAsSource" / "customFolder".
inline QString rawValue(ExportLocation location)
{
    return location == ExportLocation::customFolder ? QStringLiteral("customFolder") : QStringLiteral("sameAsSource");
}

} // namespace vorlik::ffmpeg

#pragma once
// Which of the service's presets each Convert card uses, from the current list (order kept):
// video presets (kind "video", id without "normalise") with the chosen codec, loudness presets
// (kind "normalise") with the chosen target, the first "audio" preset for M4A, and the preset
// "normalise-video-14lkfs" for video loudness.
#include "service/Preset.h"

#include <QList>
#include <QString>

#include <optional>

namespace vorlik::convert {

class PresetSelection {
public:
    static inline const QString videoLoudnessID = QStringLiteral("normalise-video-14lkfs");

    static QList<service::Preset> videoPresets(const QList<service::Preset> &presets);
    // The video preset with the chosen id, else the first one; none when there is none.
    static std::optional<service::Preset> selectedVideo(const QList<service::Preset> &presets,
                                                        const std::optional<QString> &chosenID);
    static QList<service::Preset> loudnessPresets(const QList<service::Preset> &presets);
    static std::optional<service::Preset> selectedLoudness(const QList<service::Preset> &presets,
                                                           const std::optional<QString> &chosenID);
    static std::optional<service::Preset> m4a(const QList<service::Preset> &presets);
    static std::optional<service::Preset> videoLoudness(const QList<service::Preset> &presets);
    // The preset's name in the list, else the id itself.
    static QString displayName(const QList<service::Preset> &presets, const QString &id);
};

} // namespace vorlik::convert

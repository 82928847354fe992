#include "convert/PresetSelection.h"

namespace vorlik::convert {
namespace {

using service::Preset;

std::optional<Preset> chosenOrFirst(const QList<Preset> &candidates, const std::optional<QString> &chosenID)
{
    if (chosenID) {
        for (const Preset &preset : candidates) {
            if (preset.id == *chosenID)
                return preset;
        }
    }
    if (candidates.isEmpty())
        return std::nullopt;
    return candidates.first();
}

template <typename Test>
std::optional<Preset> first(const QList<Preset> &presets, Test test)
{
    for (const Preset &preset : presets) {
        if (test(preset))
            return preset;
    }
    return std::nullopt;
}

} // namespace

QList<Preset> PresetSelection::videoPresets(const QList<Preset> &presets)
{
    QList<Preset> found;
    for (const Preset &preset : presets) {
        if (preset.kind == QLatin1String("video") && !preset.id.contains(QLatin1String("normalise")))
            found.append(preset);
    }
    return found;
}

std::optional<Preset> PresetSelection::selectedVideo(const QList<Preset> &presets, const std::optional<QString> &chosenID)
{
    return chosenOrFirst(videoPresets(presets), chosenID);
}

QList<Preset> PresetSelection::loudnessPresets(const QList<Preset> &presets)
{
    QList<Preset> found;
    for (const Preset &preset : presets) {
        if (preset.kind == QLatin1String("normalise"))
            found.append(preset);
    }
    return found;
}

std::optional<Preset> PresetSelection::selectedLoudness(const QList<Preset> &presets,
                                                        const std::optional<QString> &chosenID)
{
    return chosenOrFirst(loudnessPresets(presets), chosenID);
}

std::optional<Preset> PresetSelection::m4a(const QList<Preset> &presets)
{
    return first(presets, [](const Preset &preset) { return preset.kind == QLatin1String("audio"); });
}

std::optional<Preset> PresetSelection::videoLoudness(const QList<Preset> &presets)
{
    return first(presets, [](const Preset &preset) { return preset.id == videoLoudnessID; });
}

QString PresetSelection::displayName(const QList<Preset> &presets, const QString &id)
{
    const std::optional<Preset> preset = first(presets, [&](const Preset &candidate) { return candidate.id == id; });
    return preset ? preset->name : id;
}

} // namespace vorlik::convert

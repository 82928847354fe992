#pragma once
// The conversion presets the service hands out: working ffmpeg scripts in the preset script
// language ({input} and {output_base} placeholders; the script adds the extension itself). A
// loudness preset asks the client to measure the source first and uses the measured placeholders
// ({gain} and the others) that this brings.
#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

namespace vorlik::devserver {

struct PresetDefinition {
    QString id;
    QString name;
    QString description;
    QString suffix;
    QString outputExt;   // with its dot: the client appends it to the name as it stands
    QString kind;        // "video", "audio" or "normalise"
    std::optional<int> maxChannels;
    QString command;
    QString hint;
    QString summary;
    // "loudness": {"target": LUFS, "ceiling": dBTP} for a preset that measures its source first.
    struct Loudness {
        double target;
        double ceiling;
    };
    std::optional<Loudness> loudness;

    QJsonObject toJson() const;
};

class Presets {
public:
    static const std::vector<PresetDefinition> &all();
    // The preset list document: {"version", "generated_at", "note", "presets"}.
    static QJsonObject document(const QString &generatedAt);
};

} // namespace vorlik::devserver

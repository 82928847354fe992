#pragma once
// What a loudness preset asks of the runner before it converts: measure the source, then fill the
// script's measured placeholders so that the result lands on `target` (integrated loudness, LUFS)
// with its true peak at most `ceiling` (dBTP). A member of Preset ("loudness"), absent in presets
// that convert as they stand.
#include <QByteArray>
#include <QJsonValue>
#include <QString>

namespace vorlik::service {

struct LoudnessGoal {
    double target = 0;  // "target": integrated loudness, LUFS
    double ceiling = 0; // "ceiling": the highest true peak allowed, dBTP

    friend bool operator==(const LoudnessGoal &, const LoudnessGoal &) = default;

    // The goals a preset may ask for: a target from -70 to 0 LUFS (the meter's gate ends at -70),
    // a ceiling from -20 to 0 dBTP, and the ceiling above the target.
    static constexpr double lowestTarget = -70;
    static constexpr double lowestCeiling = -20;

    // Both members are required numbers in those ranges (DecodingError otherwise); `path` names
    // the object in errors ("presets[1].loudness").
    static LoudnessGoal fromJSON(const QJsonValue &value, const QString &path);
    // {"target":…,"ceiling":…}
    QByteArray toJSON() const;
};

} // namespace vorlik::service

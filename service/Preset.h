#pragma once
// One conversion script the service supplies. A value; its identity is `id`.
#include "service/LoudnessGoal.h"

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

namespace vorlik::service {

struct Preset {
    QString id;
    QString name;
    QString description;
    QString suffix;
    QString outputExt;                 // "output_ext"
    QString kind;                      // the Convert page's card for it
    std::optional<qint64> maxChannels; // "max_channels": absent when missing or null
    QString command;                   // the script template
    std::optional<QString> hint;
    std::optional<QString> summary;
    // "loudness": the runner measures the source first and fills the measured placeholders;
    // absent when missing or null.
    std::optional<LoudnessGoal> loudness;

    // Equal when all eleven members are; an optional matches when both lack it or hold the same.
    friend bool operator==(const Preset &, const Preset &) = default;

    // One element of a preset list; `path` names it in errors ("presets[2]").
    static Preset fromJSON(const QJsonValue &value, const QString &path);
    // Compact JSON: "id", "name", "description", "suffix", "kind", "command", "output_ext",
    // "max_channels", "hint", "summary", "loudness"; absent optionals are left out.
    QByteArray toJSON() const;
};

using PresetList = QList<Preset>; // compares element by element, in order

} // namespace vorlik::service

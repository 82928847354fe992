#include "service/Preset.h"

#include "service/JsonFields.h"

namespace vorlik::service {

Preset Preset::fromJSON(const QJsonValue &value, const QString &path)
{
    const json::ObjectReader reader = json::objectAt(value, path);
    Preset preset;
    preset.id = reader.string(QStringLiteral("id"));
    preset.name = reader.string(QStringLiteral("name"));
    preset.description = reader.string(QStringLiteral("description"));
    preset.suffix = reader.string(QStringLiteral("suffix"));
    preset.outputExt = reader.string(QStringLiteral("output_ext"));
    preset.kind = reader.string(QStringLiteral("kind"));
    preset.maxChannels = reader.optionalInteger(QStringLiteral("max_channels"));
    preset.command = reader.string(QStringLiteral("command"));
    preset.hint = reader.optionalString(QStringLiteral("hint"));
    preset.summary = reader.optionalString(QStringLiteral("summary"));
    if (const std::optional<QJsonValue> loudness = reader.optionalValue(QStringLiteral("loudness")))
        preset.loudness = LoudnessGoal::fromJSON(*loudness, reader.pathOf(QStringLiteral("loudness")));
    return preset;
}

QByteArray Preset::toJSON() const
{
    json::ObjectWriter writer;
    writer.string(QStringLiteral("id"), id)
        .string(QStringLiteral("name"), name)
        .string(QStringLiteral("description"), description)
        .string(QStringLiteral("suffix"), suffix)
        .string(QStringLiteral("kind"), kind)
        .string(QStringLiteral("command"), command)
        .string(QStringLiteral("output_ext"), outputExt)
        .optionalInteger(QStringLiteral("max_channels"), maxChannels)
        .optionalString(QStringLiteral("hint"), hint)
        .optionalString(QStringLiteral("summary"), summary);
    if (loudness)
        writer.raw(QStringLiteral("loudness"), loudness->toJSON());
    return writer.finish();
}

} // namespace vorlik::service

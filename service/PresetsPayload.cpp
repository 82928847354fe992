#include "service/PresetsPayload.h"

#include "service/JsonFields.h"

namespace vorlik::service {

PresetsPayload PresetsPayload::fromJSON(const QByteArray &json)
{
    const json::ObjectReader reader(json::parseObject(json));
    PresetsPayload payload;
    payload.version = reader.integer(QStringLiteral("version"));
    payload.generatedAt = reader.string(QStringLiteral("generated_at"));
    payload.note = reader.string(QStringLiteral("note"));
    const QJsonArray presets = reader.array(QStringLiteral("presets"));
    payload.presets.reserve(presets.size());
    const QString presetsPath = reader.pathOf(QStringLiteral("presets"));
    for (qsizetype index = 0; index < presets.size(); ++index)
        payload.presets.append(
            Preset::fromJSON(presets.at(index), presetsPath + QLatin1Char('[') + QString::number(index) + QLatin1Char(']')));
    return payload;
}

QByteArray PresetsPayload::toJSON() const
{
    QByteArray list("[");
    for (qsizetype index = 0; index < presets.size(); ++index) {
        if (index > 0)
            list.append(',');
        list.append(presets.at(index).toJSON());
    }
    list.append(']');
    return json::ObjectWriter()
        .integer(QStringLiteral("version"), version)
        .string(QStringLiteral("note"), note)
        .raw(QStringLiteral("presets"), list)
        .string(QStringLiteral("generated_at"), generatedAt)
        .finish();
}

} // namespace vorlik::service

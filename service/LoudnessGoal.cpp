#include "service/LoudnessGoal.h"

#include "service/JsonFields.h"

namespace vorlik::service {

LoudnessGoal LoudnessGoal::fromJSON(const QJsonValue &value, const QString &path)
{
    const json::ObjectReader reader = json::objectAt(value, path);
    LoudnessGoal goal;
    goal.target = reader.number(QStringLiteral("target"));
    goal.ceiling = reader.number(QStringLiteral("ceiling"));
    return goal;
}

QByteArray LoudnessGoal::toJSON() const
{
    return json::ObjectWriter().number(QStringLiteral("target"), target).number(QStringLiteral("ceiling"), ceiling).finish();
}

} // namespace vorlik::service

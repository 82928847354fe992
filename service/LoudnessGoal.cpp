#include "service/LoudnessGoal.h"

#include "service/JsonFields.h"

#include <QLocale>

namespace vorlik::service {

LoudnessGoal LoudnessGoal::fromJSON(const QJsonValue &value, const QString &path)
{
    const json::ObjectReader reader = json::objectAt(value, path);
    LoudnessGoal goal;
    goal.target = reader.number(QStringLiteral("target"));
    goal.ceiling = reader.number(QStringLiteral("ceiling"));
    // A goal outside these ranges is a broken preset, not material to chase for a few passes.
    const auto refuse = [&](const QString &key, double value, const QString &why) {
        throw DecodingError(QStringLiteral("dataCorrupted: \"%1\" is %2, %3")
                                .arg(reader.pathOf(key), QString::number(value, 'g', QLocale::FloatingPointShortest), why));
    };
    if (!(goal.target >= lowestTarget && goal.target <= 0))
        refuse(QStringLiteral("target"), goal.target, QStringLiteral("outside -70 to 0 LUFS"));
    if (!(goal.ceiling >= lowestCeiling && goal.ceiling <= 0))
        refuse(QStringLiteral("ceiling"), goal.ceiling, QStringLiteral("outside -20 to 0 dBTP"));
    if (goal.ceiling <= goal.target)
        refuse(QStringLiteral("ceiling"), goal.ceiling,
               QStringLiteral("not above the target of %1 LUFS").arg(QString::number(goal.target, 'g', QLocale::FloatingPointShortest)));
    return goal;
}

QByteArray LoudnessGoal::toJSON() const
{
    return json::ObjectWriter().number(QStringLiteral("target"), target).number(QStringLiteral("ceiling"), ceiling).finish();
}

} // namespace vorlik::service

#include "app/BuildTag.h"

#include "platform/BuildInfo.h"

namespace vorlik::app {

BuildTag::BuildTag(QWidget *parent) : analysis::ElidedLabel(parent, Qt::ElideRight)
{
    setObjectName(QStringLiteral("buildTag"));
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    setFont(small);
    setForegroundRole(QPalette::PlaceholderText);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setServerBuild(std::nullopt);
}

void BuildTag::setServerBuild(const std::optional<QString> &serverBuild)
{
    setFullText(tagText(serverBuild));
}

QString BuildTag::tagText(const std::optional<QString> &serverBuild)
{
    QString tag = platform::appVersion() + QStringLiteral(" (") + QString::number(platform::buildNumber())
        + QLatin1Char(')');
    if (serverBuild)
        tag += QStringLiteral(" · Server ") + *serverBuild;
    return tag;
}

} // namespace vorlik::app

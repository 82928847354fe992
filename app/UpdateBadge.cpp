#include "app/UpdateBadge.h"

#include "update/UpdateManager.h"

#include <QPainter>
#include <QPainterPath>

namespace vorlik::app {

UpdateBadge::UpdateBadge(update::UpdateManager &updater, QWidget *parent) : QToolButton(parent), m_updater(updater)
{
    setObjectName(QStringLiteral("updateBadge"));
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setCursor(Qt::PointingHandCursor);
    setAutoRaise(true);
    setIcon(symbol(palette().color(QPalette::Highlight)));
    setStyleSheet(QStringLiteral("QToolButton#updateBadge { color: palette(highlight); font-weight: 600;"
                                 " padding: 2px 6px; border-radius: 6px; }"
                                 "QToolButton#updateBadge:hover { background: palette(midlight); }"
                                 "QToolButton#updateBadge:focus { border: 2px solid palette(text); padding: 0px 4px; }"));
    connect(this, &QToolButton::clicked, this, [this] { m_updater.setShowSheet(true); });
    connect(&m_updater, &update::UpdateManager::updateAvailableChanged, this, &UpdateBadge::refresh);
    connect(&m_updater, &update::UpdateManager::latestVersionChanged, this, &UpdateBadge::refresh);
    refresh();
}

QString UpdateBadge::badgeText(const QString &version)
{
    return QStringLiteral("Update v") + version;
}

void UpdateBadge::refresh()
{
    setText(badgeText(m_updater.latestVersionText()));
    setVisible(m_updater.updateAvailable());
}

QIcon UpdateBadge::symbol(const QColor &colour)
{
    QPixmap image(32, 32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(1, 1, 30, 30));
    QPen arrow(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(arrow);
    painter.drawLine(QPointF(16, 8), QPointF(16, 23));
    QPainterPath head;
    head.moveTo(9.5, 16.5);
    head.lineTo(16, 23);
    head.lineTo(22.5, 16.5);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(head);
    return QIcon(image);
}

} // namespace vorlik::app

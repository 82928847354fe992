#include "app/AppIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace vorlik::app {

QPixmap AppIcon::pixmap(int size, qreal devicePixelRatio)
{
    QPixmap image(QSize(size, size) * devicePixelRatio);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 256.0, size / 256.0); // drawn on the 256-unit grid of the bundle icon

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1d, 0x2b, 0x4f));
    painter.drawRoundedRect(QRectF(8, 8, 240, 240), 56, 56);

    painter.setBrush(QColor(0x7f, 0xd1, 0xc7));
    const QRectF bars[] = {{52, 120, 12, 40}, {192, 108, 12, 64}, {212, 124, 12, 32}, {32, 130, 12, 20}};
    for (const QRectF &bar : bars)
        painter.drawRoundedRect(bar, 6, 6);

    QPainterPath vee;
    vee.moveTo(64, 72);
    vee.lineTo(128, 196);
    vee.lineTo(192, 72);
    QPen stroke(QColor(0xf5, 0xb8, 0x3d), 26, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(stroke);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(vee);
    return image;
}

QIcon AppIcon::icon()
{
    QIcon icon;
    for (int size : {16, 32, 64, 128, 256})
        icon.addPixmap(pixmap(size));
    return icon;
}

} // namespace vorlik::app

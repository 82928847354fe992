#include "analysis/SymbolIcon.h"

#include <QPainter>
#include <QPainterPath>

#include <array>
#include <functional>
#include <map>

namespace vorlik::analysis {
namespace {

// Each symbol draws into a 24 × 24 box with the pen and brush already set to the colour.
using Drawing = std::function<void(QPainter &, const QColor &)>;

void waveform(QPainter &p, const QColor &)
{
    const std::array<qreal, 7> heights{6, 12, 18, 10, 16, 8, 4};
    for (size_t i = 0; i < heights.size(); ++i) {
        const qreal x = 3 + qreal(i) * 3;
        p.drawLine(QPointF(x, 12 - heights[i] / 2), QPointF(x, 12 + heights[i] / 2));
    }
}

void filmFrame(QPainter &p, const QRectF &frame)
{
    p.drawRoundedRect(frame, 2, 2);
    p.drawLine(QPointF(frame.left() + 4, frame.top()), QPointF(frame.left() + 4, frame.bottom()));
    p.drawLine(QPointF(frame.right() - 4, frame.top()), QPointF(frame.right() - 4, frame.bottom()));
    const qreal middle = frame.center().y();
    p.drawLine(QPointF(frame.left(), middle), QPointF(frame.left() + 4, middle));
    p.drawLine(QPointF(frame.right() - 4, middle), QPointF(frame.right(), middle));
}

void film(QPainter &p, const QColor &) { filmFrame(p, QRectF(4, 3, 16, 18)); }

void filmStack(QPainter &p, const QColor &)
{
    p.drawLine(QPointF(7, 2), QPointF(19, 2));
    p.drawLine(QPointF(5, 4.5), QPointF(21, 4.5));
    filmFrame(p, QRectF(3, 7, 18, 15));
}

void headphones(QPainter &p, const QColor &color)
{
    p.drawArc(QRectF(4, 4, 16, 16), 0, 180 * 16);
    p.setBrush(color);
    p.drawRoundedRect(QRectF(3, 12, 4.5, 8), 1.5, 1.5);
    p.drawRoundedRect(QRectF(16.5, 12, 4.5, 8), 1.5, 1.5);
}

void warning(QPainter &p, const QColor &color)
{
    QPainterPath triangle;
    triangle.moveTo(12, 2.5);
    triangle.lineTo(22, 20.5);
    triangle.lineTo(2, 20.5);
    triangle.closeSubpath();
    p.setBrush(color);
    p.drawPath(triangle);
    QPen mark(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap);
    p.setPen(mark);
    p.drawLine(QPointF(12, 9), QPointF(12, 14));
    p.drawPoint(QPointF(12, 17.5));
}

void chevronDown(QPainter &p, const QColor &)
{
    p.drawPolyline(QPolygonF{QPointF(6, 9), QPointF(12, 15), QPointF(18, 9)});
}

void chevronRight(QPainter &p, const QColor &)
{
    p.drawPolyline(QPolygonF{QPointF(9, 6), QPointF(15, 12), QPointF(9, 18)});
}

void arrowClockwise(QPainter &p, const QColor &)
{
    p.drawArc(QRectF(4, 4, 16, 16), 100 * 16, 290 * 16);
    p.drawPolyline(QPolygonF{QPointF(9, 1.5), QPointF(12.5, 4.2), QPointF(9.5, 7.5)});
}

void saveDown(QPainter &p, const QColor &)
{
    p.drawPolyline(QPolygonF{QPointF(8, 10), QPointF(4, 10), QPointF(4, 21), QPointF(20, 21), QPointF(20, 10),
                             QPointF(16, 10)});
    p.drawLine(QPointF(12, 3), QPointF(12, 15));
    p.drawPolyline(QPolygonF{QPointF(8, 11.5), QPointF(12, 15.5), QPointF(16, 11.5)});
}

void personQuestion(QPainter &p, const QColor &color)
{
    p.drawEllipse(QRectF(2, 2, 20, 20));
    p.drawEllipse(QRectF(9, 6, 6, 6));
    p.drawArc(QRectF(6, 13, 12, 10), 20 * 16, 140 * 16);
    p.setBrush(color);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(15, 14, 9, 9));
    p.setPen(QPen(Qt::white, 1.4));
    QFont font = p.font();
    font.setPixelSize(8);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRectF(15, 14, 9, 9), Qt::AlignCenter, QStringLiteral("?"));
}

const std::map<QString, Drawing> &drawings()
{
    static const std::map<QString, Drawing> all{
        {QStringLiteral("waveform"), waveform},
        {QStringLiteral("film"), film},
        {QStringLiteral("film.stack"), filmStack},
        {QStringLiteral("headphones"), headphones},
        {QStringLiteral("exclamationmark.triangle.fill"), warning},
        {QStringLiteral("chevron.down"), chevronDown},
        {QStringLiteral("chevron.right"), chevronRight},
        {QStringLiteral("arrow.clockwise"), arrowClockwise},
        {QStringLiteral("square.and.arrow.down"), saveDown},
        {QStringLiteral("person.crop.circle.badge.questionmark"), personQuestion},
    };
    return all;
}

} // namespace

bool SymbolIcon::isKnown(const QString &name) { return drawings().count(name) > 0; }

QPixmap SymbolIcon::pixmap(const QString &name, int size, const QColor &color, qreal devicePixelRatio)
{
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    const auto found = drawings().find(name);
    if (found == drawings().end())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 24.0, size / 24.0);
    painter.setPen(QPen(color, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    found->second(painter, color);
    return pixmap;
}

QIcon SymbolIcon::icon(const QString &name, const QColor &color, int size)
{
    return QIcon(pixmap(name, size, color));
}

} // namespace vorlik::analysis

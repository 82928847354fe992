#include "app/BusyIndicator.h"

#include <QPainter>
#include <QTimerEvent>

namespace vorlik::app {

namespace {
constexpr int spokes = 8;
constexpr int frameMilliseconds = 90;
} // namespace

BusyIndicator::BusyIndicator(int diameter, QWidget *parent) : QWidget(parent), m_diameter(diameter)
{
    setFixedSize(diameter, diameter);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void BusyIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const double outer = m_diameter / 2.0;
    const double inner = outer * 0.45;
    QPen pen(palette().color(QPalette::WindowText));
    pen.setWidthF(qMax(1.5, m_diameter / 9.0));
    pen.setCapStyle(Qt::RoundCap);
    for (int index = 0; index < spokes; ++index) {
        // The spoke at the current step is the darkest; the ones behind it fade out.
        const int age = (m_step - index + spokes) % spokes;
        QColor colour = pen.color();
        colour.setAlphaF(1.0 - age * (0.8 / spokes));
        pen.setColor(colour);
        painter.setPen(pen);
        painter.save();
        painter.rotate(index * 360.0 / spokes);
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer + pen.widthF() / 2));
        painter.restore();
    }
}

void BusyIndicator::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer.start(frameMilliseconds, this);
}

void BusyIndicator::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_timer.stop();
}

void BusyIndicator::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId())
        return QWidget::timerEvent(event);
    m_step = (m_step + 1) % spokes;
    update();
}

} // namespace vorlik::app

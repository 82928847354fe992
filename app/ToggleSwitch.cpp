#include "app/ToggleSwitch.h"

#include <QPainter>

namespace vorlik::app {

namespace {
constexpr int labelGap = 8;
}

ToggleSwitch::ToggleSwitch(const QString &label, QWidget *parent) : QAbstractButton(parent)
{
    setText(label);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

QSize ToggleSwitch::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int labelWidth = text().isEmpty() ? 0 : labelGap + metrics.horizontalAdvance(text());
    return {trackWidth + labelWidth + 2, qMax(trackHeight, metrics.height()) + 2};
}

bool ToggleSwitch::hitButton(const QPoint &position) const
{
    return rect().contains(position);
}

void ToggleSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(1, (height() - trackHeight) / 2.0, trackWidth, trackHeight);
    const QColor on = palette().color(QPalette::Highlight);
    const QColor off = palette().color(QPalette::Mid);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? on : off);
    if (!isEnabled())
        painter.setOpacity(0.5);
    painter.drawRoundedRect(track, trackHeight / 2.0, trackHeight / 2.0);

    const double knob = trackHeight - 4;
    const double x = isChecked() ? track.right() - knob - 2 : track.left() + 2;
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));

    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(on, 1.5));
        painter.drawRoundedRect(track.adjusted(-1, -1, 1, 1), trackHeight / 2.0 + 1, trackHeight / 2.0 + 1);
    }

    if (!text().isEmpty()) {
        painter.setOpacity(isEnabled() ? 1.0 : 0.5);
        painter.setPen(palette().color(QPalette::WindowText));
        const QRect label = rect().adjusted(int(track.right()) + labelGap, 0, 0, 0);
        painter.drawText(label, Qt::AlignVCenter | Qt::AlignLeft, text());
    }
}

} // namespace vorlik::app

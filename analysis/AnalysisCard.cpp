#include "analysis/AnalysisCard.h"

#include <QPainter>

namespace vorlik::analysis {

AnalysisCard::AnalysisCard(QWidget *parent) : QFrame(parent)
{
    setFrameShape(QFrame::NoFrame);
    setAttribute(Qt::WA_StyledBackground, false);
}

// 5.6:1 on the failed card's fill: its text stays readable.
QColor AnalysisCard::failedColor() { return QColor(0xb4, 0x2a, 0x2a); }

void AnalysisCard::setFailed(bool failed)
{
    if (m_failed == failed)
        return;
    m_failed = failed;
    update();
}

void AnalysisCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QColor fill = m_failed ? QColor(0xfd, 0xed, 0xed) : QColor(0xf7, 0xf7, 0xf9);
    const QColor border = m_failed ? failedColor().lighter(130) : QColor(0xdf, 0xe0, 0xe4);
    painter.setPen(QPen(border, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(box, 10, 10);
}

} // namespace vorlik::analysis

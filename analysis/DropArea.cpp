#include "analysis/DropArea.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace vorlik::analysis {

DropArea::DropArea(const QString &title, const QString &hint, QWidget *parent)
    : QWidget(parent), m_title(new QLabel(this)), m_hint(new QLabel(this))
{
    m_title->setObjectName(QStringLiteral("dropTitle"));
    m_hint->setObjectName(QStringLiteral("dropHint"));
    for (QLabel *label : {m_title, m_hint}) {
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
    }
    QFont titleFont = m_title->font();
    titleFont.setWeight(QFont::DemiBold);
    m_title->setFont(titleFont);
    QPalette hintPalette = m_hint->palette();
    hintPalette.setColor(QPalette::WindowText, QColor(0x6b, 0x6e, 0x76));
    m_hint->setPalette(hintPalette);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(4);
    layout->addStretch(1);
    layout->addWidget(m_title);
    layout->addWidget(m_hint);
    layout->addStretch(1);
    setMinimumHeight(84);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    setTexts(title, hint);
}

void DropArea::setTexts(const QString &title, const QString &hint)
{
    m_title->setText(title);
    m_hint->setText(hint);
    m_hint->setVisible(!hint.isEmpty());
}

QString DropArea::title() const { return m_title->text(); }
QString DropArea::hint() const { return m_hint->text(); }

QColor DropArea::accentColor() { return QColor(0x2f, 0x6f, 0xed); }

void DropArea::setHighlighted(bool highlighted)
{
    if (m_highlighted == highlighted)
        return;
    m_highlighted = highlighted;
    update();
}

void DropArea::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal width = 1.5;
    QPen pen(m_highlighted ? accentColor() : QColor(0xa9, 0xad, 0xb5), width);
    // Qt measures dashes in pen widths: dashes and gaps of 10 pixels.
    pen.setDashPattern({10 / width, 10 / width});
    painter.setPen(pen);
    QColor fill = accentColor();
    fill.setAlpha(m_highlighted ? 28 : 0);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(width, width, -width, -width), 8, 8);
}

} // namespace vorlik::analysis

#include "analysis/ElidedLabel.h"

#include <QEvent>

namespace vorlik::analysis {

ElidedLabel::ElidedLabel(QWidget *parent, Qt::TextElideMode mode) : QLabel(parent), m_mode(mode)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString &text)
{
    if (text == m_full && !text.isEmpty())
        return;
    m_full = text;
    setToolTip(text);
    setAccessibleName(text);
    updateGeometry();
    elide();
}

void ElidedLabel::setLettersKept(int letters)
{
    m_kept = letters;
    updateGeometry();
}

QSize ElidedLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    return {fontMetrics().horizontalAdvance(m_full) + margins.left() + margins.right() + 1, QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    const QString least = m_full.size() <= m_kept ? m_full : m_full.left(m_kept) + QChar(0x2026);
    return {fontMetrics().horizontalAdvance(least) + margins.left() + margins.right(), QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        elide();
}

void ElidedLabel::showEvent(QShowEvent *event)
{
    QLabel::showEvent(event);
    elide();
}

void ElidedLabel::elide()
{
    // Whole until shown: a width before the first layout means nothing.
    const QString shown = isVisible() ? fontMetrics().elidedText(m_full, m_mode, contentsRect().width()) : m_full;
    if (shown != text())
        setText(shown);
}

} // namespace vorlik::analysis

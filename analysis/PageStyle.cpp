#include "analysis/PageStyle.h"

#include <QLabel>
#include <QPalette>
#include <QWidget>

namespace vorlik::analysis::style {

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

void setText(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
}

} // namespace vorlik::analysis::style

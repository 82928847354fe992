// The look the Convert and Analysis pages share: the grey of secondary text, and label helpers.
#pragma once

#include <QColor>
#include <QString>

class QLabel;
class QWidget;

namespace vorlik::analysis::style {

inline const QColor secondaryText{0x6b, 0x6e, 0x76};

void setTextColor(QWidget *widget, const QColor &color);

// Sets a label's text only when it changed: a queue of many files updates often.
void setText(QLabel *label, const QString &text);

} // namespace vorlik::analysis::style

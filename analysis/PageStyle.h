// The look the Convert and Analysis pages share: the grey of secondary text, and label helpers.
#pragma once

#include <QColor>
#include <QString>

class QLabel;
class QWidget;

namespace vorlik::analysis::style {

// Dark enough for 4.5:1 with room to spare on white and on a failed card's pink.
inline const QColor secondaryText{0x5f, 0x62, 0x6a};

void setTextColor(QWidget *widget, const QColor &color);

// Sets a label's text only when it changed: a queue of many files updates often.
void setText(QLabel *label, const QString &text);

} // namespace vorlik::analysis::style

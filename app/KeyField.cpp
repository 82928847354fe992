#include "app/KeyField.h"

#include <QKeyEvent>

namespace vorlik::app {

KeyField::KeyField(QWidget *parent) : QLineEdit(parent)
{
    setEchoMode(QLineEdit::Password);
    setAccessibleName(QStringLiteral("Client key"));
}

void KeyField::keyPressEvent(QKeyEvent *event)
{
    // Ctrl+Alt is how AltGr arrives on some systems, and it types letters such as @.
    const Qt::KeyboardModifiers held = event->modifiers();
    if ((held & Qt::AltModifier) && !(held & Qt::ControlModifier) && !event->text().isEmpty()) {
        event->ignore();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

} // namespace vorlik::app

#pragma once
#include <QWidget>

namespace vorlik::app {

// Shows a window the way the application's auxiliary windows appear: centred on the screen,
// in front of the others, and the application active.
void presentWindow(QWidget *window);

} // namespace vorlik::app

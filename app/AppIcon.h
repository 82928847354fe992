#pragma once
// The application's icon, drawn rather than loaded so that it needs no image plugin: the
// amber "V" over a waveform on a dark rounded square (the bundle's vorlik.svg).
#include <QIcon>
#include <QPixmap>

namespace vorlik::app {

struct AppIcon {
    static QPixmap pixmap(int size, qreal devicePixelRatio = 1.0);
    static QIcon icon();
};

} // namespace vorlik::app

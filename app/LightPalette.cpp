#include "app/LightPalette.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace vorlik::app {

void LightPalette::apply()
{
    // Fusion draws with the palette it is given everywhere, so a dark desktop theme cannot
    // leak into the window; its standard palette is the light one.
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    QPalette light = QApplication::style()->standardPalette();
    light.setColor(QPalette::Window, QColor(0xf5, 0xf5, 0xf7));
    light.setColor(QPalette::Base, Qt::white);
    light.setColor(QPalette::AlternateBase, QColor(0xf0, 0xf0, 0xf2));
    light.setColor(QPalette::Highlight, QColor(0x0a, 0x64, 0xd8));
    light.setColor(QPalette::HighlightedText, Qt::white);
    light.setColor(QPalette::PlaceholderText, QColor(0x6e, 0x6e, 0x73));
    light.setColor(QPalette::Link, QColor(0x0a, 0x64, 0xd8));
    QApplication::setPalette(light);
}

} // namespace vorlik::app

#pragma once
// The small line symbols of the page cards ("waveform", "film", "headphones", "film.stack",
// "exclamationmark.triangle.fill", "chevron.down", "chevron.right", "arrow.clockwise",
// "square.and.arrow.down", "person.crop.circle.badge.questionmark"), drawn as vectors so they
// need no icon theme or font. An unknown name draws nothing.
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace vorlik::analysis {

class SymbolIcon {
public:
    static QPixmap pixmap(const QString &name, int size, const QColor &color, qreal devicePixelRatio = 2.0);
    static QIcon icon(const QString &name, const QColor &color, int size = 16);
    static bool isKnown(const QString &name);
};

} // namespace vorlik::analysis

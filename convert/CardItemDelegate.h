#pragma once
// One line of a preset card's item list: the file's name, then its status in full. When the
// line is too narrow the name gives way (elided in the middle), then the output's name inside
// the status, never the status's mark: "✓ Done" must not become "✓ D…e", nor the source vanish.
#include <QStyledItemDelegate>

namespace vorlik::convert {

class CardItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    struct Line {
        QString name;
        QString status;
    };
    // The two parts as they fit in `width`; the status is cut only when it and a few letters of
    // the name are wider.
    static Line fit(const QString &name, const QString &status, const QFontMetrics &metrics, int width);
    static QString separator() { return QStringLiteral("  \u2014  "); }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

} // namespace vorlik::convert

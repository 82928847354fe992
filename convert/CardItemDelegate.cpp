#include "convert/CardItemDelegate.h"

#include "convert/QueueModel.h"

#include <QPainter>

#include <algorithm>

namespace vorlik::convert {

CardItemDelegate::Line CardItemDelegate::fit(const QString &name, const QString &status, const QFontMetrics &metrics,
                                             int width)
{
    const int statusWidth = metrics.horizontalAdvance(separator() + status);
    const int nameWidth = metrics.horizontalAdvance(name);
    // The source keeps at least a few letters: without them the line no longer says which file.
    const int nameFloor = std::min(nameWidth, metrics.horizontalAdvance(QString(10, u'x')));
    if (statusWidth + nameFloor <= width)
        return {metrics.elidedText(name, Qt::ElideMiddle, width - statusWidth), separator() + status};

    // The status gives way after its mark: "✓ Done → " stays, the output's name is shortened.
    const int statusRoom = std::max(0, width - nameFloor);
    const qsizetype arrow = status.indexOf(QStringLiteral(" \u2192 "));
    QString shortened;
    if (arrow >= 0) {
        const QString head = separator() + status.left(arrow + 3);
        const QString tail = metrics.elidedText(status.mid(arrow + 3), Qt::ElideMiddle,
                                                statusRoom - metrics.horizontalAdvance(head));
        shortened = tail.isEmpty() ? metrics.elidedText(head, Qt::ElideRight, statusRoom) : head + tail;
    } else {
        shortened = metrics.elidedText(separator() + status, Qt::ElideRight, statusRoom);
    }
    return {metrics.elidedText(name, Qt::ElideMiddle, width - metrics.horizontalAdvance(shortened)), shortened};
}

void CardItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem plain = option;
    initStyleOption(&plain, index);
    const QString status = index.data(QueueModel::StatusRole).toString();
    if (status.isEmpty()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QRect area = plain.rect.adjusted(4, 0, -4, 0);
    const Line line = fit(index.data(QueueModel::NameRole).toString(), status, plain.fontMetrics, area.width());
    painter->save();
    painter->setFont(plain.font);
    const QVariant colour = index.data(Qt::ForegroundRole);
    painter->setPen(colour.isValid() ? colour.value<QColor>() : plain.palette.color(QPalette::Text));
    const int nameWidth = plain.fontMetrics.horizontalAdvance(line.name);
    painter->drawText(QRect(area.left(), area.top(), nameWidth, area.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      line.name);
    painter->drawText(QRect(area.left() + nameWidth, area.top(), area.width() - nameWidth, area.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, line.status);
    painter->restore();
}

} // namespace vorlik::convert

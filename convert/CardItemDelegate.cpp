#include "convert/CardItemDelegate.h"

#include "convert/QueueModel.h"

#include <QPainter>

namespace vorlik::convert {

CardItemDelegate::Line CardItemDelegate::fit(const QString &name, const QString &status, const QFontMetrics &metrics,
                                             int width)
{
    const int statusWidth = metrics.horizontalAdvance(separator() + status);
    if (statusWidth >= width)
        return {QString(), metrics.elidedText(status, Qt::ElideRight, width)};
    return {metrics.elidedText(name, Qt::ElideMiddle, width - statusWidth), separator() + status};
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

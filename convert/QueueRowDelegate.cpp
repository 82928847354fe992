#include "convert/QueueRowDelegate.h"

#include "analysis/PageStyle.h"
#include "convert/QueueModel.h"

#include <QApplication>
#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>

namespace vorlik::convert {
namespace {

using analysis::style::secondaryText;

constexpr int verticalPadding = 8;
constexpr int horizontalPadding = 10;
constexpr int buttonSpacing = 6;
constexpr int buttonHeight = 24;

const QColor doneText = QueueModel::doneColor();
const QColor failedText = QueueModel::failedColor();
// A done item's note: the output is there, but not all the preset asked for.
const QColor noteText(0x9a, 0x5c, 0x00);
const QColor progressTrack(0xe3, 0xe5, 0xe9);

} // namespace

QueueRowDelegate::QueueRowDelegate(QObject *parent) : QStyledItemDelegate(parent) {}

QList<QueueRowDelegate::Button> QueueRowDelegate::buttons(const QModelIndex &index)
{
    QList<Button> shown;
    if (index.data(QueueModel::StateRole).toInt() == 0)
        shown.append(Button::retry);
    if (!index.data(QueueModel::OutputRole).toString().isEmpty())
        shown.append(Button::reveal);
    shown.append(Button::remove);
    return shown;
}

QString QueueRowDelegate::title(Button button)
{
    switch (button) {
    case Button::retry: return QStringLiteral("Retry");
    case Button::reveal: return QStringLiteral("Reveal");
    case Button::remove: return QStringLiteral("Remove");
    }
    return {};
}

int QueueRowDelegate::lineHeight(const QStyleOptionViewItem &option) const
{
    return option.fontMetrics.height() + 2;
}

QSize QueueRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const bool third = !index.data(QueueModel::DetailRole).toString().isEmpty()
        || index.data(QueueModel::ProgressRole).isValid();
    const int lines = third ? 3 : 2;
    return {300, std::max(lines * lineHeight(option), buttonHeight) + 2 * verticalPadding};
}

QRect QueueRowDelegate::buttonRect(const QStyleOptionViewItem &option, const QModelIndex &index, Button button) const
{
    const QList<Button> shown = buttons(index);
    if (!shown.contains(button))
        return {};
    const QFontMetrics &metrics = option.fontMetrics;
    const int top = option.rect.top() + verticalPadding + (2 * lineHeight(option) - buttonHeight) / 2;
    int right = option.rect.right() - horizontalPadding;
    for (qsizetype i = shown.size() - 1; i >= 0; --i) {
        const int width = metrics.horizontalAdvance(title(shown.at(i))) + 24;
        const QRect rect(right - width + 1, top, width, buttonHeight);
        if (shown.at(i) == button)
            return rect;
        right = rect.left() - buttonSpacing - 1;
    }
    return {};
}

void QueueRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    const QRect row = option.rect;
    painter->setPen(QColor(0xe6, 0xe7, 0xea));
    painter->drawLine(row.bottomLeft() + QPoint(horizontalPadding, 0), row.bottomRight() - QPoint(horizontalPadding, 0));

    const QList<Button> shown = buttons(index);
    const int textRight = buttonRect(option, index, shown.first()).left() - 12;
    const int left = row.left() + horizontalPadding;
    const int width = std::max(0, textRight - left);
    const int line = lineHeight(option);
    int top = row.top() + verticalPadding;

    QFont nameFont = option.font;
    nameFont.setWeight(QFont::DemiBold);
    painter->setFont(nameFont);
    painter->setPen(option.palette.color(QPalette::Text));
    const QString name = QFontMetrics(nameFont).elidedText(index.data(QueueModel::NameRole).toString(), Qt::ElideMiddle, width);
    painter->drawText(QRect(left, top, width, line), Qt::AlignLeft | Qt::AlignVCenter, name);
    top += line;

    painter->setFont(option.font);
    const QString presetName = index.data(QueueModel::PresetNameRole).toString() + QStringLiteral("  \u00B7  ");
    const int presetWidth = std::min(width, option.fontMetrics.horizontalAdvance(presetName) + 4);
    painter->setPen(secondaryText);
    painter->drawText(QRect(left, top, presetWidth, line), Qt::AlignLeft | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(presetName, Qt::ElideRight, presetWidth));
    const int state = index.data(QueueModel::StateRole).toInt();
    painter->setPen(state == 1 ? doneText : state == 0 ? failedText : option.palette.color(QPalette::Text));
    const int statusWidth = std::max(0, width - presetWidth);
    painter->drawText(QRect(left + presetWidth, top, statusWidth, line), Qt::AlignLeft | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(index.data(QueueModel::StatusRole).toString(), Qt::ElideRight, statusWidth));
    top += line;

    const QVariant progress = index.data(QueueModel::ProgressRole);
    if (progress.isValid())
        paintProgress(painter, option, QRect(left, top, row.width() - 2 * horizontalPadding, line), progress.toDouble(),
                      index.data(QueueModel::ProgressTextRole).toString());

    const QString detail = index.data(QueueModel::DetailRole).toString();
    if (!detail.isEmpty()) {
        painter->setPen(state == 0 ? failedText : noteText);
        const int detailWidth = row.width() - 2 * horizontalPadding;
        painter->drawText(QRect(left, top, detailWidth, line), Qt::AlignLeft | Qt::AlignVCenter,
                          option.fontMetrics.elidedText(detail, Qt::ElideRight, detailWidth));
    }

    QStyle *style = option.widget ? option.widget->style() : QApplication::style();
    for (Button button : shown) {
        QStyleOptionButton face;
        if (option.widget)
            face.initFrom(option.widget);
        face.rect = buttonRect(option, index, button);
        face.text = title(button);
        face.state = QStyle::State_Enabled | QStyle::State_Raised;
        face.fontMetrics = option.fontMetrics;
        style->drawControl(QStyle::CE_PushButton, &face, painter, option.widget);
    }
    // The row the keyboard acts on (QueueRowKeys), while the list has the focus.
    if (option.state & QStyle::State_HasFocus) {
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(option.palette.color(QPalette::Text), 2));
        painter->drawRoundedRect(QRectF(row).adjusted(2, 2, -2, -2), 5, 5);
    }
    painter->restore();
}

void QueueRowDelegate::paintProgress(QPainter *painter, const QStyleOptionViewItem &option, const QRect &line,
                                     double fraction, const QString &text) const
{
    const int barWidth = std::min(160, line.width() / 3);
    const QRect track(line.left(), line.center().y() - 3, barWidth, 6);
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(Qt::NoPen);
    painter->setBrush(progressTrack);
    painter->drawRoundedRect(track, 3, 3);
    painter->setBrush(option.palette.color(QPalette::Highlight));
    if (fraction >= 0) {
        const int filled = int(std::clamp(fraction, 0.0, 1.0) * track.width());
        if (filled > 0)
            painter->drawRoundedRect(QRect(track.left(), track.top(), filled, track.height()), 3, 3);
    } else {
        // The length is unknown: a block that moves along the track, one step a second.
        const int block = track.width() / 4;
        const qint64 step = QDateTime::currentSecsSinceEpoch() % 8;
        const int offset = int(step * (track.width() - block) / 7);
        painter->drawRoundedRect(QRect(track.left() + offset, track.top(), block, track.height()), 3, 3);
    }
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(secondaryText);
    const QRect textRect(track.right() + 10, line.top(), std::max(0, line.right() - track.right() - 10), line.height());
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(text, Qt::ElideRight, textRect.width()));
}

bool QueueRowDelegate::editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                                   const QModelIndex &index)
{
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease
        && event->type() != QEvent::MouseButtonDblClick)
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    const auto *mouse = static_cast<QMouseEvent *>(event);
    if (mouse->button() != Qt::LeftButton)
        return false;
    for (Button button : buttons(index)) {
        if (!buttonRect(option, index, button).contains(mouse->position().toPoint()))
            continue;
        if (event->type() == QEvent::MouseButtonRelease)
            emit clicked(index.data(QueueModel::IdRole).toUuid(), button);
        return true;
    }
    return false;
}

} // namespace vorlik::convert

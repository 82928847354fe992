#pragma once
// Draws one row of the Convert page's queue — the source file's name, the preset's name and the
// item's status, its error under a failed item, a bar with its percentage and time left under
// an item being converted — with the row's buttons: "Retry" on failed items,
// "Reveal" on items with an output, "Remove" on every item. A click on a button is reported by
// clicked(); nothing else of the row reacts.
#include <QList>
#include <QStyledItemDelegate>
#include <QUuid>

namespace vorlik::convert {

class QueueRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    enum class Button { retry, reveal, remove };

    explicit QueueRowDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;

    // The buttons a row offers, left to right.
    static QList<Button> buttons(const QModelIndex &index);
    static QString title(Button button);
    // Where a button of the row lies; empty when the row does not offer it.
    QRect buttonRect(const QStyleOptionViewItem &option, const QModelIndex &index, Button button) const;

signals:
    void clicked(const QUuid &item, vorlik::convert::QueueRowDelegate::Button button);

private:
    int lineHeight(const QStyleOptionViewItem &option) const;
    // A converting row's third line: its bar and, beside it, how far and how long.
    void paintProgress(QPainter *painter, const QStyleOptionViewItem &option, const QRect &line, double fraction,
                       const QString &text) const;

};

} // namespace vorlik::convert

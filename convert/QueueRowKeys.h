#pragma once
// The queue's rows by keyboard: the list takes the focus (its current row shows a ring), the
// arrow keys move between rows, Delete removes the row, Return reveals its output (or retries
// a failed row), and the context menu (the Menu key, Shift+F10 or a right click) lists every
// action of the row. The actions are the row's buttons, so they go the same way as a click.
#include "convert/QueueRowDelegate.h"

#include <QListView>
#include <QObject>

namespace vorlik::convert {

class QueueRowKeys : public QObject {
    Q_OBJECT
public:
    // Owned by `view`.
    explicit QueueRowKeys(QListView *view);

    // Delete, Return and the menu, for a screen reader's help and the row's tooltip.
    static QString keysHint();
    // Acts on `row` as its button would, when the row offers it (a screen reader's actions).
    void act(const QModelIndex &row, QueueRowDelegate::Button button);

signals:
    void triggered(const QUuid &item, vorlik::convert::QueueRowDelegate::Button button);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void trigger(QueueRowDelegate::Button button) { act(m_view->currentIndex(), button); }
    void showMenu(const QPoint &where);

    QListView *m_view;
};

} // namespace vorlik::convert

#pragma once
// The Convert page's queue: the heading "QUEUE" with the counts line and "Clear finished", the
// text shown while nothing is queued, and one row per item (drawn by QueueRowDelegate, whose
// button clicks it passes on). The list is as tall as its rows: the page scrolls, not the list.
#include "convert/QueueItem.h"
#include "convert/QueueRowDelegate.h"

#include <QList>
#include <QTimer>
#include <QWidget>

class QLabel;
class QListView;
class QProgressBar;
class QPushButton;

namespace vorlik::convert {

class QueueModel;

class QueueSection : public QWidget {
    Q_OBJECT
public:
    explicit QueueSection(QueueModel *model, QWidget *parent = nullptr);

    // The counts line, and the list or the empty-queue text.
    void showItems(const QList<QueueItem> &items);
    // D " done · " F " failed · " P " pending".
    static QString countsText(const QList<QueueItem> &items);

    QListView *view() const { return m_view; }
    QLabel *emptyLabel() const { return m_empty; }
    QLabel *countsLabel() const { return m_counts; }
    QPushButton *clearFinishedButton() const { return m_clearFinished; }
    // The whole queue's progress beside the counts while a run goes.
    QProgressBar *queueProgressBar() const { return m_queueBar; }
    QLabel *queueProgressLabel() const { return m_queueProgress; }
    // Where a row's button lies in the view's viewport; empty when the row has none.
    QRect buttonRect(int row, QueueRowDelegate::Button button) const;

signals:
    void clearFinishedRequested();
    void rowButtonClicked(const QUuid &id, vorlik::convert::QueueRowDelegate::Button button);

private:
    void act(const QUuid &id, QueueRowDelegate::Button button);
    void fit();
    void showQueueProgress();

    QueueModel *m_model;
    QListView *m_view;
    QueueRowDelegate *m_delegate;
    QLabel *m_empty;
    QLabel *m_counts;
    QPushButton *m_clearFinished;
    QProgressBar *m_queueBar;
    QLabel *m_queueProgress;
    QTimer m_tick;
};

} // namespace vorlik::convert

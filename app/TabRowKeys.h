#pragma once
// The arrow keys of the tab row: Left and Right press the previous or next tab (round the row,
// as Ctrl+Tab goes), Home and End the first or last, and the focus follows to the tab pressed.
// Only the selected tab is a Tab stop, so Tab leaves the row at once.
#include <QList>
#include <QObject>

class QAbstractButton;

namespace vorlik::app {

class TabRowKeys : public QObject {
    Q_OBJECT
public:
    // Owned by the row's first button; the buttons are in the row's order.
    static void install(const QList<QAbstractButton *> &buttons);
    // Makes the checked button the row's one Tab stop.
    static void showTabStop(const QList<QAbstractButton *> &buttons);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit TabRowKeys(const QList<QAbstractButton *> &buttons);

    QList<QAbstractButton *> m_buttons;
};

} // namespace vorlik::app

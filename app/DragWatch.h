#pragma once
// A developer aid ("dragWatch"): every 0.1 s, when the cursor or the drag state has changed,
// logs a "DRAGWATCH …" line (category "app") with the drag count, whether a drag of local
// files is in progress over the application, the cursor, whether it is over one of the
// application's windows, whether the application is active, and the main window's frame.
//
// There is no system drag pasteboard with a change count here. What stands for it is the
// number of drags that have entered the application's windows so far (a new drag shows up as
// a drag-enter carrying new drag data). Drags are seen where a widget accepts drops (the web
// views and the drop cards), as Qt delivers them nowhere else.
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QTimer>

class QWidget;

namespace vorlik::app {

class DragWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int intervalMilliseconds = 100;

    explicit DragWatch(QWidget *mainWindow, QObject *parent = nullptr);
    ~DragWatch() override;

    void start();
    bool isRunning() const { return m_timer.isActive(); }

    int changeCount() const { return m_changeCount; }
    bool fileDragInProgress() const { return m_dragging && m_files; }

    static QString line(int changeCount, bool files, QPoint mouse, bool inWindow, bool front, QRect frame);

    // One look at the state; logs when it changed. The timer calls it.
    void tick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_window;
    QTimer m_timer;
    int m_changeCount = 0;
    const void *m_currentDrag = nullptr; // identity of the drag data seen last, never dereferenced
    bool m_dragging = false;
    bool m_files = false;
    int m_lastChange = -1;
    QPoint m_lastMouse;
};

} // namespace vorlik::app

#pragma once
// Runs a function once, just after a widget's window has first been exposed and drawn: the
// moment the user first sees the window. Work that need not be in that first picture (the
// network, the keyring, the web engine) waits for it, so the window appears sooner.
#include <QObject>
#include <QPointer>

#include <functional>

class QWidget;
class QWindow;

namespace vorlik::app {

class FirstPicture : public QObject {
    Q_OBJECT
public:
    // Watches `widget` (from its first show on); `then` runs once, on the event loop, after
    // the window's first exposure. Owned by the widget.
    static void whenShown(QWidget *widget, std::function<void()> then);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    FirstPicture(QWidget *widget, std::function<void()> then);
    void watchWindow();
    void fire();

    QWidget *m_widget;
    QPointer<QWindow> m_window;
    std::function<void()> m_then;
    bool m_fired = false;
};

} // namespace vorlik::app

#pragma once
// The keys a window answers beyond Qt's own: Return and keypad Enter press the focused button
// as Space does (Qt's buttons take Return only inside dialogs), and, for the auxiliary windows,
// Escape and Ctrl+W close the window.
#include <QObject>

class QWidget;

namespace vorlik::app {

class WindowKeys : public QObject {
    Q_OBJECT
public:
    enum class Closing { no, onEscapeAndCtrlW };

    // Owned by `window`; the Return key applies to the buttons inside it (the main window's
    // content, or a whole window).
    static void install(QWidget *window, Closing closing = Closing::no);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit WindowKeys(QWidget *window);

    QWidget *m_window;
};

} // namespace vorlik::app

#pragma once
// The one main window ("Vorlik Desktop", 1200 × 780 at first, less where the screen is smaller)
// around the RootView. Closing it
// quits the application, subject to the quit guard: the close goes through `mayClose`.
#include <QMainWindow>

#include <functional>

namespace vorlik::app {

class RootView;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr QSize defaultSize{1200, 780};
    static constexpr QSize minimumContentSize{820, 560};
    // What a desktop's window frame and title bar take, at most.
    static constexpr QSize frameAllowance{16, 48};

    explicit MainWindow(RootView *root, QWidget *parent = nullptr);

    RootView *rootView() const { return m_root; }
    // Asked on every close; false keeps the window open.
    void setCloseGuard(std::function<bool()> mayClose) { m_mayClose = std::move(mayClose); }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void fitScreen();

    RootView *m_root;
    std::function<bool()> m_mayClose;
};

} // namespace vorlik::app

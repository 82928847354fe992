#pragma once
// The About window ("About Vorlik Desktop", 340 × 300): made once, shown again on each request.
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QWidget;

namespace vorlik::app {

class AboutView;

class AboutWindowController : public QObject {
    Q_OBJECT
public:
    explicit AboutWindowController(std::function<void()> showReleaseNotes, QObject *parent = nullptr);
    ~AboutWindowController() override;

    // Centres the window, brings it to front and activates the application.
    void show();
    QWidget *window() const { return m_window.get(); }
    AboutView *view() const { return m_view; }

private:
    std::unique_ptr<QWidget> m_window;
    AboutView *m_view;
};

} // namespace vorlik::app

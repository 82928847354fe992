#pragma once
// The release-notes window ("Release Notes — Vorlik Desktop", 580 × 480, resizable): the
// bundled CHANGELOG.md as plain text. Made once, shown again on each request.
#include <QObject>

#include <memory>

class QPlainTextEdit;
class QWidget;

namespace vorlik::app {

class ReleaseNotesWindowController : public QObject {
    Q_OBJECT
public:
    explicit ReleaseNotesWindowController(QObject *parent = nullptr);
    ~ReleaseNotesWindowController() override;

    // Centres the window, brings it to front and activates the application.
    void show();
    QWidget *window() const { return m_window.get(); }
    QPlainTextEdit *textView() const { return m_text; }

private:
    std::unique_ptr<QWidget> m_window;
    QPlainTextEdit *m_text;
};

} // namespace vorlik::app

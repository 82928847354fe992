#pragma once
// The About window's content: icon, name, version, "Release Notes" and what the app is for.
#include <QWidget>

class QPushButton;

namespace vorlik::app {

class AboutView : public QWidget {
    Q_OBJECT
public:
    explicit AboutView(QWidget *parent = nullptr);

    static QString versionText(); // "Version 1.2.24 (27)"
    QPushButton *releaseNotesButton() const { return m_releaseNotes; }

signals:
    void releaseNotesRequested();

private:
    QPushButton *m_releaseNotes;
};

} // namespace vorlik::app

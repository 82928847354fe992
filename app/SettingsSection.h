#pragma once
// One titled group of the settings form: a heading over a framed panel of rows, and the small
// grey notes the sections put under their controls.
#include <QFrame>

class QLabel;
class QVBoxLayout;

namespace vorlik::app {

class SettingsSection : public QWidget {
    Q_OBJECT
public:
    explicit SettingsSection(const QString &title, QWidget *parent = nullptr);

    QVBoxLayout *body() const { return m_body; }

    // Small secondary text that wraps: help texts and status notes.
    static QLabel *makeNote(const QString &text, QWidget *parent);

private:
    QVBoxLayout *m_body;
};

} // namespace vorlik::app

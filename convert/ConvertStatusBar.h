#pragma once
// The Convert page's status bar: the status line, the output folder line, the "Preferences"
// button, and a middle dot with the program's name and version.
#include <QWidget>

class QLabel;
class QPushButton;

namespace vorlik::convert {

class ConvertStatusBar : public QWidget {
    Q_OBJECT
public:
    explicit ConvertStatusBar(QWidget *parent = nullptr);

    // Each label is set only when its text changed; the full text is its tool tip.
    void showTexts(const QString &status, const QString &output);

    QLabel *statusLabel() const { return m_status; }
    QLabel *outputLabel() const { return m_output; }
    QPushButton *preferencesButton() const { return m_preferences; }

signals:
    void preferencesRequested();

private:
    QLabel *m_status;
    QLabel *m_output;
    QPushButton *m_preferences;
};

} // namespace vorlik::convert

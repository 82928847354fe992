#pragma once
// The Analysis page's status bar: the status line, the counter "Files analysed this session:",
// the "Preferences" button, and the program's name and version.
#include <QWidget>

class QLabel;
class QPushButton;

namespace vorlik::analysis {

class ElidedLabel;

class AnalysisStatusBar : public QWidget {
    Q_OBJECT
public:
    explicit AnalysisStatusBar(QWidget *parent = nullptr);

    // The status label is set only when its text changed; shortened to its room, the full text
    // is its tool tip.
    void showStatus(const QString &status, qint64 analysedCount);

    QLabel *statusLabel() const;
    QLabel *counterLabel() const { return m_counter; }
    QPushButton *preferencesButton() const { return m_preferences; }

signals:
    void preferencesRequested();

private:
    ElidedLabel *m_status;
    QLabel *m_counter;
    QPushButton *m_preferences;
};

} // namespace vorlik::analysis

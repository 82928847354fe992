#pragma once
// The Convert page's toolbar, left to right: the "Auto start" switch, "Install FFmpeg" (while no
// ffmpeg is found), "Convert" (while auto start is off), "Stop" or "Stopping…" (while the runner
// runs) and "Refresh scripts". It shows the state it is given and reports clicks; the page acts.
#include <QWidget>

class QCheckBox;
class QPushButton;

namespace vorlik::convert {

class ConvertToolbar : public QWidget {
    Q_OBJECT
public:
    struct State {
        bool autoStart = false;
        bool hasFFmpeg = false;
        bool hasPending = false;
        bool running = false;
        bool stopping = false;
    };

    explicit ConvertToolbar(bool autoStart, QWidget *parent = nullptr);

    void showState(const State &state);

    QCheckBox *autoStartSwitch() const { return m_autoStartSwitch; }
    QPushButton *installButton() const { return m_installButton; }
    QPushButton *convertButton() const { return m_convertButton; }
    QPushButton *stopButton() const { return m_stopButton; }
    QPushButton *refreshButton() const { return m_refreshButton; }

signals:
    void autoStartToggled(bool on);
    void installRequested();
    void convertRequested();
    void stopRequested();
    void refreshRequested();

private:
    QCheckBox *m_autoStartSwitch;
    QPushButton *m_installButton;
    QPushButton *m_convertButton;
    QPushButton *m_stopButton;
    QPushButton *m_refreshButton;
};

} // namespace vorlik::convert

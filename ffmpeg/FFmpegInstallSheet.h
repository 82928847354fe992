#pragma once
// The sheet that installs ffmpeg, shown over the window (window-modal): the explanation, what
// the install is doing or why it failed, the download install, "Add Homebrew FFmpeg" when a
// Homebrew ffmpeg exists, and "Choose…" for a program the user picks. Bound to an
// FFmpegInstaller; it closes when an install succeeds (after telling installed(program)) and
// when the installer asks it to. Made once by its owner (the Convert page, the settings window)
// and shown again with present().
#include <QColor>
#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace vorlik::ffmpeg {

class FFmpegInstaller;

class FFmpegInstallSheet : public QDialog {
    Q_OBJECT
public:
    explicit FFmpegInstallSheet(QWidget *parent = nullptr);
    ~FFmpegInstallSheet() override;

    FFmpegInstaller &installer() const { return *m_installer; }
    // The colour of a failed install's text, on the window's background.
    static QColor failedColor();

    // Shows the sheet over its parent's window, offering the Homebrew button only when that
    // program exists now.
    void present();
    // The open panel for a program to copy into the tools folder.
    void pickExisting();

    // For tests and screenshots.
    QLabel *explanationLabel() const { return m_explanation; }
    QLabel *phaseLabel() const { return m_phase; }
    QProgressBar *busyIndicator() const { return m_busy; }
    QPushButton *installButton() const { return m_install; }
    QPushButton *homebrewButton() const { return m_homebrew; }
    QPushButton *chooseButton() const { return m_choose; }
    QPushButton *closeButton() const { return m_close; }

signals:
    // An install succeeded; the program now in the tools folder.
    void installed(const QString &program);

private:
    void showPhase();
    void fitHeight();

    FFmpegInstaller *m_installer;
    QLabel *m_explanation;
    QLabel *m_phase;
    QProgressBar *m_busy;
    QPushButton *m_install;
    QPushButton *m_homebrew;
    QPushButton *m_choose;
    QPushButton *m_close;
};

} // namespace vorlik::ffmpeg

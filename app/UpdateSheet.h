#pragma once
// The update sheet: a dialog on the main window bound to the update manager. It shows where the
// update stands (checking, up to date, a newer version with its notes, the download's progress,
// the error), offers the download while an update is available and "Install & Relaunch" once it
// is downloaded, and can check again. In a copy a package manager updates, it offers neither and
// says so instead. It is shown while the manager's showSheet is true; closing it sets showSheet
// false. Made once and reused.
#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace vorlik::update {
class UpdateManager;
}

namespace vorlik::app {

class UpdateSheet : public QDialog {
    Q_OBJECT
public:
    explicit UpdateSheet(update::UpdateManager &updater, QWidget *parent = nullptr);

    QLabel *statusLabel() const { return m_status; }
    QPlainTextEdit *notesView() const { return m_notes; }
    QProgressBar *progressBar() const { return m_progress; }
    QLabel *explanationLabel() const { return m_explanation; }
    QLabel *packageNoteLabel() const { return m_packageNote; }
    QPushButton *checkButton() const { return m_check; }
    QPushButton *downloadButton() const { return m_download; }
    QPushButton *installButton() const { return m_install; }
    QPushButton *closeButton() const { return m_close; }

protected:
    void done(int result) override;

private:
    void refresh();
    void followShowSheet();

    update::UpdateManager &m_updater;
    QLabel *m_status;
    QPlainTextEdit *m_notes;
    QProgressBar *m_progress;
    QLabel *m_explanation;
    QLabel *m_packageNote;
    QPushButton *m_check;
    QPushButton *m_download;
    QPushButton *m_install;
    QPushButton *m_close;
};

} // namespace vorlik::app

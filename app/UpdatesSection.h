#pragma once
// "Updates" in the settings window: "Check for Updates…" and where the update manager stands;
// in a copy a package manager updates, a note that updates come through it.
#include "app/SettingsSection.h"

class QLabel;
class QPushButton;

namespace vorlik::update {
class UpdateManager;
struct UpdatePhase;
} // namespace vorlik::update

namespace vorlik::app {

class UpdatesSection : public SettingsSection {
    Q_OBJECT
public:
    explicit UpdatesSection(update::UpdateManager &updater, QWidget *parent = nullptr);

    // "Downloading the update…", "You're up to date.", "1.2.25 is downloaded and verified.",
    // and for the other phases the update sheet's own sentence (empty while idle).
    static QString stateText(const update::UpdatePhase &phase, const QString &sheetText);

    QPushButton *checkButton() const { return m_check; }
    QLabel *stateLabel() const { return m_state; }
    QLabel *packageNoteLabel() const { return m_packageNote; }

private:
    void refresh();

    update::UpdateManager &m_updater;
    QPushButton *m_check;
    QLabel *m_state;
    QLabel *m_packageNote;
};

} // namespace vorlik::app

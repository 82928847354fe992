#pragma once
// "Updates" in the settings window: "Check for Updates…" and where the update manager stands.
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

private:
    void refresh();

    update::UpdateManager &m_updater;
    QPushButton *m_check;
    QLabel *m_state;
};

} // namespace vorlik::app

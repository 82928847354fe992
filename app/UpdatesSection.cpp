#include "app/UpdatesSection.h"

#include "update/UpdateManager.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorlik::app {

using update::UpdatePhase;

UpdatesSection::UpdatesSection(update::UpdateManager &updater, QWidget *parent)
    : SettingsSection(QStringLiteral("Updates"), parent), m_updater(updater),
      m_check(new QPushButton(QStringLiteral("Check for Updates…"), this)), m_state(new QLabel(this)),
      m_packageNote(makeNote(update::UpdateManager::packageManagerNote(), this))
{
    setObjectName(QStringLiteral("updatesSection"));
    m_check->setObjectName(QStringLiteral("checkForUpdatesButton"));
    m_state->setObjectName(QStringLiteral("updateState"));
    m_state->setWordWrap(true);

    auto *row = new QHBoxLayout;
    row->addWidget(m_check);
    row->addStretch(1);
    body()->addLayout(row);
    body()->addWidget(makeNote(QStringLiteral("Checks the Vorlik VPS for a newer version."), this));
    m_packageNote->setObjectName(QStringLiteral("updatePackageNote"));
    m_packageNote->setTextInteractionFlags(Qt::TextSelectableByMouse); // the package name can be copied
    body()->addWidget(m_packageNote);
    body()->addWidget(m_state);

    connect(m_check, &QPushButton::clicked, this, [this] { m_updater.check(); });
    connect(&m_updater, &update::UpdateManager::phaseChanged, this, &UpdatesSection::refresh);
    refresh();
}

QString UpdatesSection::stateText(const UpdatePhase &phase, const QString &sheetText)
{
    switch (phase.kind) {
    case UpdatePhase::Kind::downloading:
        return QStringLiteral("Downloading the update…");
    case UpdatePhase::Kind::upToDate:
        return QStringLiteral("You're up to date.");
    case UpdatePhase::Kind::downloaded:
        return phase.manifest.version + QStringLiteral(" is downloaded and verified.");
    default:
        return sheetText;
    }
}

void UpdatesSection::refresh()
{
    const UpdatePhase &phase = m_updater.phase();
    const QString text = stateText(phase, m_updater.statusText());
    const bool packaged = m_updater.packageManaged();
    m_state->setText(text);
    // The note stands once: a refused download or install says the same words.
    m_state->setVisible(!text.isEmpty() && !(packaged && text == update::UpdateManager::packageManagerNote()));
    m_packageNote->setVisible(packaged);
    const bool busy = phase.is(UpdatePhase::Kind::checking) || phase.is(UpdatePhase::Kind::downloading)
        || phase.is(UpdatePhase::Kind::installing);
    m_check->setEnabled(!busy);
}

} // namespace vorlik::app

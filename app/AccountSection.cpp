#include "app/AccountSection.h"

#include "app/KeyField.h"
#include "service/KeychainStore.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorlik::app {

using service::KeychainStore;

AccountSection::AccountSection(QWidget *parent)
    : SettingsSection(QStringLiteral("Account"), parent), m_key(new KeyField(this)),
      m_remember(new QPushButton(QStringLiteral("Remember"), this)),
      m_clear(new QPushButton(QStringLiteral("Clear"), this)), m_noteLabel(makeNote({}, this))
{
    setObjectName(QStringLiteral("accountSection"));
    m_key->setObjectName(QStringLiteral("rememberedKeyField"));
    m_key->setPlaceholderText(QStringLiteral("Paste your client key"));
    m_remember->setObjectName(QStringLiteral("rememberKeyButton"));
    m_clear->setObjectName(QStringLiteral("clearKeyButton"));
    m_noteLabel->setObjectName(QStringLiteral("keyNote"));
    m_noteLabel->setForegroundRole(QPalette::WindowText);
    m_noteLabel->hide();

    auto *row = new QHBoxLayout;
    row->addWidget(m_key, 1);
    row->addWidget(m_remember);
    row->addWidget(m_clear);
    body()->addLayout(row);
    body()->addWidget(makeNote(QStringLiteral("Stored securely in your system keyring. Clear removes it. "
                                              "Remember is separate from the current session's Sign out."),
                               this));
    body()->addWidget(m_noteLabel);

    connect(m_remember, &QPushButton::clicked, this, &AccountSection::remember);
    connect(m_clear, &QPushButton::clicked, this, &AccountSection::clear);
}

void AccountSection::remember()
{
    if (m_busy)
        return;
    const QString key = m_key->text().trimmed(); // white space and line breaks at both ends
    if (key.isEmpty()) {
        setNote(QStringLiteral("Enter a client key first."));
        return;
    }
    setBusy(true);
    runSave(QPointer<AccountSection>(this), key);
}

void AccountSection::clear()
{
    if (m_busy)
        return;
    setBusy(true);
    runRemove(QPointer<AccountSection>(this));
}

QCoro::Task<void> AccountSection::runSave(QPointer<AccountSection> self, QString key)
{
    const KeychainStore::Result result = co_await KeychainStore::saveInBackground(key);
    if (!self)
        co_return;
    self->setNote(KeychainStore::saveText(result));
    self->setBusy(false);
}

QCoro::Task<void> AccountSection::runRemove(QPointer<AccountSection> self)
{
    const KeychainStore::Result result = co_await KeychainStore::removeInBackground();
    if (!self)
        co_return;
    self->m_key->clear();
    self->setNote(KeychainStore::removeText(result));
    self->setBusy(false);
}

void AccountSection::setBusy(bool busy)
{
    m_busy = busy;
    m_remember->setEnabled(!busy);
    m_clear->setEnabled(!busy);
    emit keychainBusyChanged(busy);
}

void AccountSection::setNote(const std::optional<QString> &note)
{
    m_note = note;
    m_noteLabel->setText(note.value_or(QString()));
    m_noteLabel->setVisible(note.has_value());
    emit keyNoteChanged();
}

} // namespace vorlik::app

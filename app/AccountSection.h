#pragma once
// "Account" in the settings window: remember the client key in the system keyring, or clear
// it. Neither connects nor disconnects the current session. The keyring works off the main
// thread; both buttons stay disabled until it has answered.
#include "app/SettingsSection.h"

#include <QCoroTask>
#include <QPointer>

#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vorlik::app {

class AccountSection : public SettingsSection {
    Q_OBJECT
public:
    explicit AccountSection(QWidget *parent = nullptr);

    // Remember: the typed key trimmed of white space and line breaks; "Enter a client key
    // first." when nothing is left (the keyring is not touched), otherwise it is saved.
    void remember();
    // Clear: deletes the remembered key and empties the field.
    void clear();

    std::optional<QString> keyNote() const { return m_note; }
    bool isKeychainBusy() const { return m_busy; }

    QLineEdit *keyField() const { return m_key; }
    QPushButton *rememberButton() const { return m_remember; }
    QPushButton *clearButton() const { return m_clear; }

signals:
    void keyNoteChanged();
    void keychainBusyChanged(bool busy);

private:
    void setBusy(bool busy);
    void setNote(const std::optional<QString> &note);
    static QCoro::Task<void> runSave(QPointer<AccountSection> self, QString key);
    static QCoro::Task<void> runRemove(QPointer<AccountSection> self);

    QLineEdit *m_key;
    QPushButton *m_remember;
    QPushButton *m_clear;
    QLabel *m_noteLabel;
    std::optional<QString> m_note;
    bool m_busy = false;
};

} // namespace vorlik::app

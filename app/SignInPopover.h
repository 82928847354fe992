#pragma once
// The sign-in popover of the connection pill: "Sign in", a secure "Client key" field and a
// prominent "Connect" (also on Enter), with a busy indicator while a connect runs.
#include <QFrame>

class QLineEdit;
class QPushButton;

namespace vorlik::service {
class SessionStore;
}

namespace vorlik::app {

class BusyIndicator;

class SignInPopover : public QFrame {
    Q_OBJECT
public:
    explicit SignInPopover(service::SessionStore &store, QWidget *parent = nullptr);

    // Opens under `anchor`, right edges aligned, with the focus in the key field.
    void showBelow(QWidget *anchor);
    // Connect: the typed key trimmed of white space and line breaks; nothing happens when that
    // is empty, otherwise the popover closes, the field is cleared and the store connects.
    void submit();

    QLineEdit *keyField() const { return m_key; }
    QPushButton *connectButton() const { return m_connect; }
    BusyIndicator *busyIndicator() const { return m_busy; }

private:
    void refresh();

    service::SessionStore &m_store;
    QLineEdit *m_key;
    QPushButton *m_connect;
    BusyIndicator *m_busy;
};

} // namespace vorlik::app

#pragma once
// The connection control of the tab bar: shows the session store's state ("Connecting…" with a
// busy indicator, "Not connected", "Sign in failed", "Connected — client" and the usage reports
// still waiting). Clicked while not connected it asks for the sign-in popover; while connected
// it offers "Sign out".
#include <QAbstractButton>

class QLabel;
class QMenu;

namespace vorlik::service {
class SessionStore;
struct ConnectionState;
} // namespace vorlik::service

namespace vorlik::app {

class BusyIndicator;

class ConnectionPill : public QAbstractButton {
    Q_OBJECT
public:
    explicit ConnectionPill(service::SessionStore &store, QWidget *parent = nullptr);

    // text() is the whole text shown: the state, then the pending part when there is one.
    static QString stateText(const service::ConnectionState &state);
    // "· 2 usage pending" while reports wait, else empty.
    static QString pendingText(int pendingUsageCount);
    // The pending count's grey, and the pill's fill as it is, hovered or pressed.
    static QColor pendingColor();
    static QColor fillColor(const QPalette &palette, bool pressed, bool hovered);

    bool isBusy() const;
    QMenu *signOutMenu() const { return m_menu; }
    QSize sizeHint() const override;

signals:
    void signInRequested();
    void signOutRequested();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();
    void onClicked();

    service::SessionStore &m_store;
    QWidget *m_dot;
    BusyIndicator *m_busy;
    QLabel *m_status;
    QLabel *m_pending;
    QMenu *m_menu;
};

} // namespace vorlik::app

#include "app/SignInPopover.h"

#include "app/BusyIndicator.h"
#include "app/KeyField.h"
#include "service/SessionStore.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace vorlik::app {

SignInPopover::SignInPopover(service::SessionStore &store, QWidget *parent)
    : QFrame(parent, Qt::Popup), m_store(store), m_key(new KeyField(this)),
      m_connect(new QPushButton(QStringLiteral("Connect"), this)), m_busy(new BusyIndicator(14, this))
{
    setObjectName(QStringLiteral("signInPopover"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);

    auto *title = new QLabel(QStringLiteral("Sign in"), this);
    QFont heading = title->font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.1);
    title->setFont(heading);

    m_key->setObjectName(QStringLiteral("clientKeyField"));
    m_key->setPlaceholderText(QStringLiteral("Client key"));
    m_key->setMinimumWidth(260);

    m_connect->setObjectName(QStringLiteral("connectButton"));
    m_connect->setDefault(true);
    m_connect->setAutoDefault(true);
    m_connect->setStyleSheet(QStringLiteral(
        "QPushButton#connectButton { background: palette(highlight); color: palette(highlighted-text);"
        " border: none; border-radius: 5px; padding: 5px 16px; font-weight: 600; }"
        "QPushButton#connectButton:pressed { background: palette(dark); }"));

    auto *actions = new QHBoxLayout;
    actions->addWidget(m_busy);
    actions->addStretch(1);
    actions->addWidget(m_connect);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(10);
    layout->addWidget(title);
    layout->addWidget(m_key);
    layout->addLayout(actions);

    connect(m_connect, &QPushButton::clicked, this, &SignInPopover::submit);
    connect(m_key, &QLineEdit::returnPressed, this, &SignInPopover::submit);
    connect(&m_store, &service::SessionStore::stateChanged, this, &SignInPopover::refresh);
    refresh();
}

void SignInPopover::showBelow(QWidget *anchor)
{
    adjustSize();
    QPoint topLeft = anchor->mapToGlobal(QPoint(anchor->width() - width(), anchor->height() + 4));
    if (const QScreen *screen = anchor->screen()) {
        const QRect available = screen->availableGeometry();
        topLeft.setX(qBound(available.left(), topLeft.x(), available.right() - width()));
        topLeft.setY(qBound(available.top(), topLeft.y(), available.bottom() - height()));
    }
    move(topLeft);
    show();
    raise();
    activateWindow();
    m_key->setFocus(Qt::PopupFocusReason);
}

void SignInPopover::submit()
{
    // QString::trimmed drops spaces, tabs and line breaks at both ends.
    const QString key = m_key->text().trimmed();
    if (key.isEmpty())
        return;
    hide();
    m_key->clear();
    m_store.connect(key); // runs on by itself; the outcome shows in the store's state
}

void SignInPopover::refresh()
{
    m_busy->setVisible(m_store.state().kind == service::ConnectionState::Case::connecting);
}

} // namespace vorlik::app

#include "app/ConnectionPill.h"

#include "app/BusyIndicator.h"
#include "service/SessionStore.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>

namespace vorlik::app {

using service::ConnectionState;

namespace {

QColor dotColour(ConnectionState::Case kind)
{
    switch (kind) {
    case ConnectionState::Case::connected:
        return QColor(0x2e, 0xa0, 0x43);
    case ConnectionState::Case::failed:
        return QColor(0xd1, 0x3b, 0x2f);
    default:
        return QColor(0x9a, 0x9a, 0x9e);
    }
}

} // namespace

ConnectionPill::ConnectionPill(service::SessionStore &store, QWidget *parent)
    : QAbstractButton(parent), m_store(store), m_dot(new QWidget(this)), m_busy(new BusyIndicator(12, this)),
      m_status(new QLabel(this)), m_pending(new QLabel(this)), m_menu(new QMenu(this))
{
    setObjectName(QStringLiteral("connectionPill"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    m_dot->setFixedSize(8, 8);
    m_status->setObjectName(QStringLiteral("pillStatus"));
    m_pending->setObjectName(QStringLiteral("pillPending"));
    QPalette pendingLook = m_pending->palette();
    pendingLook.setColor(QPalette::WindowText, pendingColor());
    m_pending->setPalette(pendingLook);
    for (QWidget *child : {m_dot, static_cast<QWidget *>(m_status), static_cast<QWidget *>(m_pending)})
        child->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 3, 12, 3);
    layout->setSpacing(6);
    layout->addWidget(m_dot);
    layout->addWidget(m_busy);
    layout->addWidget(m_status);
    layout->addWidget(m_pending);

    QAction *signOut = m_menu->addAction(QStringLiteral("Sign out"));
    signOut->setObjectName(QStringLiteral("signOutAction"));
    connect(signOut, &QAction::triggered, this, &ConnectionPill::signOutRequested);

    connect(this, &QAbstractButton::clicked, this, &ConnectionPill::onClicked);
    connect(&m_store, &service::SessionStore::stateChanged, this, &ConnectionPill::refresh);
    connect(&m_store, &service::SessionStore::pendingUsageCountChanged, this, &ConnectionPill::refresh);
    refresh();
}

QString ConnectionPill::stateText(const ConnectionState &state)
{
    switch (state.kind) {
    case ConnectionState::Case::connecting:
        return QStringLiteral("Connecting…");
    case ConnectionState::Case::disconnected:
        return QStringLiteral("Not connected");
    case ConnectionState::Case::failed:
        return QStringLiteral("Sign in failed");
    case ConnectionState::Case::connected:
        return QStringLiteral("Connected — ") + state.clientId;
    }
    return {};
}

QString ConnectionPill::pendingText(int pendingUsageCount)
{
    if (pendingUsageCount <= 0)
        return {};
    return QStringLiteral("· ") + QString::number(pendingUsageCount) + QStringLiteral(" usage pending");
}

bool ConnectionPill::isBusy() const
{
    return m_store.state().kind == ConnectionState::Case::connecting;
}

void ConnectionPill::refresh()
{
    const ConnectionState state = m_store.state();
    const QString status = stateText(state);
    const QString pending = state.isConnected() ? pendingText(m_store.pendingUsageCount()) : QString();
    m_status->setText(status);
    m_pending->setText(pending);
    m_pending->setVisible(!pending.isEmpty());
    m_busy->setVisible(isBusy());
    m_dot->setVisible(!isBusy());
    m_dot->setStyleSheet(QStringLiteral("background: %1; border-radius: 4px;").arg(dotColour(state.kind).name()));
    setText(status + pending);
    // A failure's own text is worth a hover: the pill itself only says that it failed.
    setToolTip(state.kind == ConnectionState::Case::failed ? state.message : QString());
    updateGeometry();
    update();
}

void ConnectionPill::onClicked()
{
    if (m_store.state().isConnected())
        m_menu->popup(mapToGlobal(QPoint(0, height() + 2)));
    else
        emit signInRequested();
}

QSize ConnectionPill::sizeHint() const
{
    return layout() ? layout()->sizeHint() : QAbstractButton::sizeHint();
}

QColor ConnectionPill::pendingColor()
{
    // 4.5:1 and more on the pill's fill however dark a press makes it.
    return {0x52, 0x52, 0x5a};
}

QColor ConnectionPill::fillColor(const QPalette &palette, bool pressed, bool hovered)
{
    const QColor fill = palette.color(QPalette::Button);
    if (pressed)
        return fill.darker(112);
    if (hovered)
        return fill.darker(104);
    return fill;
}

void ConnectionPill::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setBrush(fillColor(palette(), isDown(), underMouse()));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRoundedRect(area, area.height() / 2, area.height() / 2);
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
        painter.drawRoundedRect(area.adjusted(1, 1, -1, -1), area.height() / 2 - 1, area.height() / 2 - 1);
    }
}

} // namespace vorlik::app

#include "app/RootView.h"

#include "app/AppWindows.h"
#include "app/BuildTag.h"
#include "app/ConnectionPill.h"
#include "app/PageFactory.h"
#include "app/SignInPopover.h"
#include "app/StartupTask.h"
#include "app/UpdateBadge.h"
#include "app/UpdateSheet.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "service/SessionStore.h"
#include "web/DropRouter.h"

#include <QButtonGroup>
#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace vorlik::app {

namespace {

int indexOf(AppTab tab)
{
    return int(tab);
}

bool isWebTab(AppTab tab)
{
    return tab == AppTab::analysis || tab == AppTab::cinema;
}

const QString tabStyle = QStringLiteral(
    "QPushButton[appTab=\"true\"] { border: none; border-radius: 6px; padding: 5px 12px; background: transparent; }"
    "QPushButton[appTab=\"true\"]:hover { background: palette(midlight); }"
    "QPushButton[appTab=\"true\"]:checked { background: palette(highlight); color: palette(highlighted-text); }");

} // namespace

RootView::RootView(service::SessionStore &store, AppWindows &windows, update::UpdateManager &updater,
                   platform::Settings &settings, QWidget *parent)
    : QWidget(parent), m_store(store), m_windows(windows), m_updater(updater), m_settings(settings)
{
    setObjectName(QStringLiteral("rootView"));
    m_stack = new QStackedWidget(this);
    m_stack->setObjectName(QStringLiteral("pageStack"));

    const PageFactory factory(store, [&windows] { windows.showPreferences(); }, settings);
    for (AppTab tab : allTabs) {
        m_pages[indexOf(tab)] = factory.make(tab, m_stack);
        m_stack->addWidget(m_pages[indexOf(tab)].view);
    }

    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Midlight);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeTabBar());
    layout->addWidget(divider);
    layout->addWidget(m_stack, 1);

    m_popover = new SignInPopover(store, this);
    m_updateSheet = new UpdateSheet(updater, this);
    connect(m_pill, &ConnectionPill::signInRequested, this, &RootView::showSignIn);
    connect(m_pill, &ConnectionPill::signOutRequested, this, [this] { signOut(); });

    // The first tab is selected from the start; that is no switch, so nothing is logged.
    web::DropRouter::shared().webTabActive = isWebTab(m_selected);
    m_stack->setCurrentIndex(indexOf(m_selected));
    m_tabButtons[indexOf(m_selected)]->setChecked(true);
    for (AppTab tab : allTabs)
        m_pages[indexOf(tab)].setActive(tab == m_selected);
}

RootView::~RootView() = default;

QWidget *RootView::makeTabBar()
{
    auto *bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("tabBar"));
    bar->setStyleSheet(tabStyle);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 8, 12, 8);
    row->setSpacing(4);

    m_tabGroup = new QButtonGroup(this);
    m_tabGroup->setExclusive(true);
    for (AppTab tab : allTabs) {
        auto *button = new QPushButton(title(tab), bar);
        button->setObjectName(QStringLiteral("tab") + title(tab));
        button->setProperty("appTab", true);
        button->setCheckable(true);
        button->setCursor(Qt::PointingHandCursor);
        m_tabGroup->addButton(button, indexOf(tab));
        m_tabButtons[indexOf(tab)] = button;
        row->addWidget(button);
    }
    connect(m_tabGroup, &QButtonGroup::idClicked, this, [this](int id) { select(AppTab(id)); });
    row->addStretch(1);

    m_updateBadge = new UpdateBadge(m_updater, bar);
    row->addWidget(m_updateBadge);
    row->addSpacing(4);
    m_buildTag = new BuildTag(bar);
    row->addWidget(m_buildTag);
    row->addSpacing(8);
    m_pill = new ConnectionPill(m_store, bar);
    row->addWidget(m_pill);
    return bar;
}

void RootView::select(AppTab tab)
{
    m_tabButtons[indexOf(tab)]->setChecked(true);
    if (tab == m_selected)
        return;
    m_selected = tab;
    // The page that goes away is told first, so two pages are never active at once.
    for (AppTab other : allTabs)
        if (other != tab)
            m_pages[indexOf(other)].setActive(false);
    // Native drops on a web view go to the selected web tab only while one is selected.
    web::DropRouter::shared().webTabActive = isWebTab(tab);
    m_stack->setCurrentIndex(indexOf(tab));
    m_pages[indexOf(tab)].setActive(true);
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("ui"), QStringLiteral("tab switched to ") + title(tab));
    emit selectedChanged(tab);
}

QWidget *RootView::page(AppTab tab) const
{
    return m_pages[indexOf(tab)].view;
}

QAbstractButton *RootView::tabButton(AppTab tab) const
{
    return m_tabButtons[indexOf(tab)];
}

void RootView::showSignIn()
{
    m_popover->showBelow(m_pill);
}

QCoro::Task<void> RootView::signOut()
{
    return runSignOut(QPointer<RootView>(this), &m_store);
}

QCoro::Task<void> RootView::runSignOut(QPointer<RootView>, service::SessionStore *store)
{
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("session"), QStringLiteral("sign out requested"));
    if (const auto session = store->session())
        co_await service::APIClient::logout(session->accessToken, session->refreshToken);
    store->disconnect();
}

void RootView::setServerBuild(const std::optional<QString> &build)
{
    if (m_serverBuild == build)
        return;
    m_serverBuild = build;
    m_buildTag->setServerBuild(build);
    emit serverBuildChanged();
}

void RootView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_startupStarted)
        return;
    m_startupStarted = true;
    runStartup(QPointer<RootView>(this));
}

QCoro::Task<void> RootView::runStartup(QPointer<RootView> self)
{
    // A named task: g++ 12 destroys a temporary argument of an awaited coroutine twice.
    StartupTask startup{self, &self->m_store, &self->m_windows, &self->m_updater, &self->m_settings};
    co_await StartupTask::run(std::move(startup));
    if (!self)
        co_return;
    self->m_startupFinished = true;
    emit self->startupTaskFinished();
}

} // namespace vorlik::app

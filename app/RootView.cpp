#include "app/RootView.h"

#include "app/AppWindows.h"
#include "app/BuildTag.h"
#include "app/ConnectionPill.h"
#include "app/FirstPicture.h"
#include "app/PageFactory.h"
#include "app/ShellAccessibility.h"
#include "app/TabRowKeys.h"
#include "app/SignInPopover.h"
#include "app/StartupTask.h"
#include "app/UpdateBadge.h"
#include "app/UpdateSheet.h"
#include "app/WebTabSlot.h"
#include "app/WebTabsModule.h"
#include "app/WindowKeys.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "service/SessionStore.h"
#include "web/DropRouter.h"
#include "web/WebTabsInterface.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>

#include <algorithm>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <functional>

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
    "QPushButton[appTab=\"true\"]:checked { background: palette(highlight); color: palette(highlighted-text); }"
    // The keyboard's place: a dark ring, clear on the bar and on the selected tab's fill alike.
    "QPushButton[appTab=\"true\"]:focus { border: 2px solid palette(text); padding: 3px 10px; }");

} // namespace

RootView::RootView(service::SessionStore &store, AppWindows &windows, update::UpdateManager &updater,
                   platform::Settings &settings, QWidget *parent)
    : QWidget(parent), m_store(store), m_windows(windows), m_updater(updater), m_settings(settings)
{
    ShellAccessibility::install();
    setObjectName(QStringLiteral("rootView"));
    m_stack = new QStackedWidget(this);
    m_stack->setObjectName(QStringLiteral("pageStack"));

    // Only the selected page belongs in the window's first picture: the others are made right
    // after it (or as soon as they are asked for), and an empty widget holds their place.
    m_factory = std::make_unique<PageFactory>(store, [&windows] { windows.showPreferences(); }, settings);
    for (std::size_t index = 0; index < allTabs.size(); ++index)
        m_stack->addWidget(new QWidget(m_stack));
    ensurePage(m_selected);

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
    TabRowKeys::showTabStop(QList<QAbstractButton *>(m_tabButtons.begin(), m_tabButtons.end()));

    for (QObject *control : {static_cast<QObject *>(m_tabBar), static_cast<QObject *>(m_popover)})
        ShellAccessibility::refresh(control);
    for (QAbstractButton *button : m_tabButtons)
        ShellAccessibility::refresh(button);
    addTabKeys();
    WindowKeys::install(this);

    FirstPicture::whenShown(this, [this] { onFirstPicture(); });
}

void RootView::addTabKeys()
{
    // Each key presses the tab's button, so a key switches tabs exactly as a click does.
    const auto bind = [this](const QList<QKeySequence> &keys, std::function<AppTab()> target) {
        for (const QKeySequence &key : keys) {
            auto *shortcut = new QShortcut(key, this);
            shortcut->setContext(Qt::WindowShortcut);
            connect(shortcut, &QShortcut::activated, this, [this, target] {
                QAbstractButton *button = m_tabButtons[indexOf(target())];
                if (!button->isChecked())
                    button->click();
            });
        }
    };
    const auto step = [this](int by) {
        return [this, by] { return allTabs[(indexOf(m_selected) + by + allTabs.size()) % allTabs.size()]; };
    };
    bind({QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)}, step(1));
    bind({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
          QKeySequence(Qt::CTRL | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::Key_PageUp)},
         step(-1));
    for (AppTab tab : allTabs)
        bind({QKeySequence(Qt::ALT | Qt::Key(Qt::Key_1 + indexOf(tab)))}, [tab] { return tab; });
}

RootView::~RootView() = default;

QWidget *RootView::makeTabBar()
{
    auto *bar = new QWidget(this);
    m_tabBar = bar;
    bar->setObjectName(QStringLiteral("tabBar"));
    bar->setStyleSheet(tabStyle);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 8, 12, 8);
    row->setSpacing(4);

    // No button group: its buttons make whichever was focused last the Tab stop, where the
    // selected tab should be.
    for (AppTab tab : allTabs) {
        auto *button = new QPushButton(title(tab), bar);
        button->setObjectName(QStringLiteral("tab") + title(tab));
        button->setProperty("appTab", true);
        button->setCheckable(true);
        button->setCursor(Qt::PointingHandCursor);
        button->setToolTip(QStringLiteral("%1 (Alt+%2)").arg(title(tab)).arg(indexOf(tab) + 1));
        connect(button, &QPushButton::clicked, this, [this, tab] { select(tab); });
        m_tabButtons[indexOf(tab)] = button;
        row->addWidget(button);
    }
    TabRowKeys::install(QList<QAbstractButton *>(m_tabButtons.begin(), m_tabButtons.end()));
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

Page &RootView::ensurePage(AppTab tab)
{
    Page &made = m_pages[indexOf(tab)];
    if (made.view)
        return made;
    made = m_factory->make(tab, m_stack);
    QWidget *placeholder = m_stack->widget(indexOf(tab));
    m_stack->insertWidget(indexOf(tab), made.view);
    m_stack->removeWidget(placeholder);
    delete placeholder;
    m_stack->setCurrentIndex(indexOf(m_selected));
    made.setActive(tab == m_selected);
    return made;
}

void RootView::select(AppTab tab)
{
    // With the focus in the tab row, it follows the selected tab, whatever selected it.
    const bool focusInRow = std::any_of(m_tabButtons.begin(), m_tabButtons.end(),
                                        [](const QAbstractButton *button) { return button->hasFocus(); });
    for (AppTab each : allTabs)
        m_tabButtons[indexOf(each)]->setChecked(each == tab);
    TabRowKeys::showTabStop(QList<QAbstractButton *>(m_tabButtons.begin(), m_tabButtons.end()));
    if (focusInRow)
        m_tabButtons[indexOf(tab)]->setFocus(Qt::TabFocusReason);
    if (tab == m_selected)
        return;
    ensurePage(tab);
    m_selected = tab;
    // The page that goes away is told first, so two pages are never active at once.
    for (AppTab other : allTabs)
        if (other != tab && m_pages[indexOf(other)].view)
            m_pages[indexOf(other)].setActive(false);
    // Native drops on a web view go to the selected web tab only while one is selected.
    web::DropRouter::shared().webTabActive = isWebTab(tab);
    m_stack->setCurrentIndex(indexOf(tab));
    m_pages[indexOf(tab)].setActive(true);
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("ui"), QStringLiteral("tab switched to ") + title(tab));
    emit selectedChanged(tab);
}

QWidget *RootView::page(AppTab tab)
{
    return ensurePage(tab).view;
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

void RootView::onFirstPicture()
{
    m_shown = true;
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("app"), QStringLiteral("main window shown"));
    runStartup(QPointer<RootView>(this));
    // The pages not in the first picture, one per turn of the event loop.
    for (AppTab tab : allTabs)
        QTimer::singleShot(0, this, [this, tab] { ensurePage(tab); });
    QTimer::singleShot(0, this, [this] { startWebTabs(); });
    emit shown();
}

void RootView::startWebTabs()
{
    QList<QPointer<WebTabSlot>> waiting;
    for (AppTab tab : allTabs)
        if (auto *place = qobject_cast<WebTabSlot *>(ensurePage(tab).view))
            waiting.append(place);
    if (waiting.isEmpty())
        return;
    const web::WebTabsInterface *module = WebTabsModule::load();
    if (!module) {
        for (const QPointer<WebTabSlot> &place : waiting)
            place->showUnavailable(WebTabsModule::failure(), diagnostics::DiagnosticsLogger::shared().logFilePath());
        return;
    }
    // One tab per turn of the event loop, Correction first: its page starts loading while the
    // other tab is made.
    for (const QPointer<WebTabSlot> &place : waiting) {
        QTimer::singleShot(0, this, [this, module, place] {
            if (!place)
                return;
            QWidget *tab = module->makeTab(place->isCorrection(), m_store, place->isActive(), place);
            place->attach(tab, module->setActive);
        });
    }
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

#pragma once
// The main window's content: the tab bar row (the four tabs, the update badge, the build tag
// and the connection pill), a divider, and the four pages, made once and kept alive. Only the
// selected page is visible and receives input; each page is told whether it is the active one.
// Once the window's first picture is on screen ("main window shown" in the log) the start-up
// task restores the connection and asks the service for its build, and the web engine starts
// and fills the two web tabs: none of that holds up the window's appearance.
// Ctrl+Tab / Ctrl+Shift+Tab, Ctrl+PgDn / Ctrl+PgUp and Alt+1…4 press a tab's button, so a key
// switches tabs exactly as a click does.
#include "app/AppTab.h"
#include "app/Page.h"

#include <QCoroTask>
#include <QPointer>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>

class QAbstractButton;
class QStackedWidget;

namespace vorlik::platform {
class Settings;
}
namespace vorlik::service {
class SessionStore;
}
namespace vorlik::update {
class UpdateManager;
}

namespace vorlik::app {

class AppWindows;
class BuildTag;
class ConnectionPill;
class PageFactory;
class SignInPopover;
class UpdateBadge;
class UpdateSheet;

class RootView : public QWidget {
    Q_OBJECT
public:
    RootView(service::SessionStore &store, AppWindows &windows, update::UpdateManager &updater,
             platform::Settings &settings, QWidget *parent = nullptr);
    ~RootView() override;

    AppTab selected() const { return m_selected; }
    void select(AppTab tab);
    // The page of a tab, made now if it was not yet.
    QWidget *page(AppTab tab);
    QAbstractButton *tabButton(AppTab tab) const;

    ConnectionPill *pill() const { return m_pill; }
    SignInPopover *signInPopover() const { return m_popover; }
    BuildTag *buildTag() const { return m_buildTag; }
    UpdateBadge *updateBadge() const { return m_updateBadge; }
    UpdateSheet *updateSheet() const { return m_updateSheet; }

    // Sign out: "sign out requested", the service's logout (awaited, its outcome does not
    // matter), then the store disconnects.
    QCoro::Task<void> signOut();

    std::optional<QString> serverBuild() const { return m_serverBuild; }
    void setServerBuild(const std::optional<QString> &build);
    bool isStartupFinished() const { return m_startupFinished; }
    // The window has been on screen and the work that waited for it has started.
    bool wasShown() const { return m_shown; }

signals:
    void selectedChanged(vorlik::app::AppTab tab);
    void serverBuildChanged();
    void startupTaskFinished();
    void shown();

private:
    QWidget *makeTabBar();
    void addTabKeys();
    Page &ensurePage(AppTab tab);
    void onFirstPicture();
    void startWebTabs();
    void showSignIn();
    static QCoro::Task<void> runSignOut(QPointer<RootView> self, service::SessionStore *store);
    static QCoro::Task<void> runStartup(QPointer<RootView> self);

    service::SessionStore &m_store;
    AppWindows &m_windows;
    update::UpdateManager &m_updater;
    platform::Settings &m_settings;
    AppTab m_selected = AppTab::analysis;
    std::unique_ptr<PageFactory> m_factory;
    std::array<Page, allTabs.size()> m_pages;
    std::array<QAbstractButton *, allTabs.size()> m_tabButtons{};
    QWidget *m_tabBar = nullptr;
    QStackedWidget *m_stack = nullptr;
    UpdateBadge *m_updateBadge = nullptr;
    UpdateSheet *m_updateSheet = nullptr;
    BuildTag *m_buildTag = nullptr;
    ConnectionPill *m_pill = nullptr;
    SignInPopover *m_popover = nullptr;
    std::optional<QString> m_serverBuild;
    bool m_shown = false;
    bool m_startupFinished = false;
};

} // namespace vorlik::app

// The main window's content against the stand-in service: signing in through the popover,
// a refused key, signing out (also with the service gone), the usage reports still waiting,
// the build tag, and tabs that keep their pages alive.
#include "app/AppTab.h"
#include "app/AppWindows.h"
#include "app/LightPalette.h"
#include "app/BuildTag.h"
#include "app/ConnectionPill.h"
#include "app/RootView.h"
#include "app/SignInPopover.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "service/KeychainStore.h"
#include "service/SessionStore.h"
#include "tests/app/ShellTestSupport.h"
#include "update/UpdateManager.h"
#include "tests/support/TestFiles.h"

#include <QAction>
#include <QJsonDocument>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

#include <memory>

namespace vorlik::test {
namespace {

using app::AppTab;
using app::ConnectionPill;
using app::RootView;
using platform::Settings;
using service::ConnectionState;
using service::SessionStore;

class RootViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        service::KeychainStore::remove(); // the start-up task must find no remembered key
        app::LightPalette::apply(); // as the application shows itself
        shellServer().reset();
        shellServer().useAsService();
        Settings::standard().setValue(QStringLiteral("vorlikDiag"), true);
        Settings::standard().setValue(QStringLiteral("skipWebTabs"), true);
        store = std::make_unique<SessionStore>();
        windows = std::make_unique<app::AppWindows>(Settings::standard(), diagnostics::DiagnosticsLogger::shared(), update::UpdateManager::shared());
        view = std::make_unique<RootView>(*store, *windows, update::UpdateManager::shared(), Settings::standard());
        view->resize(1200, 780);
    }

    void TearDown() override
    {
        view.reset();
        windows.reset();
        store.reset();
        Settings::standard().clearOverrides();
        shellServer().reset();
    }

    // Shows the view and waits for its start-up task (keyring, health probe) to end.
    void showAndSettle()
    {
        view->show();
        ASSERT_TRUE(waitUntil([&] { return view->isStartupFinished(); }));
    }

    // Types `key` into the sign-in popover and presses Enter.
    void signInThroughPopover(const QString &key)
    {
        QTest::mouseClick(view->pill(), Qt::LeftButton);
        ASSERT_TRUE(view->signInPopover()->isVisible());
        QTest::keyClicks(view->signInPopover()->keyField(), key);
        QTest::keyClick(view->signInPopover()->keyField(), Qt::Key_Return);
    }

    // Every text the pill showed from now on, one per change of the store's state.
    void recordPillTexts()
    {
        auto texts = std::make_shared<QStringList>();
        QObject::connect(store.get(), &SessionStore::stateChanged, view.get(),
                         [this, texts] { texts->append(view->pill()->text()); });
        m_recorded = texts;
    }
    QStringList recorded() const { return *m_recorded; }

    std::unique_ptr<SessionStore> store;
    std::unique_ptr<app::AppWindows> windows;
    std::unique_ptr<RootView> view;

private:
    std::shared_ptr<QStringList> m_recorded;
};

TEST(ConnectionPillText, FollowsTheStateAndThePendingReports)
{
    struct Row {
        ConnectionState state;
        QString expected;
    };
    const Row rows[] = {
        {ConnectionState::disconnected(), QStringLiteral("Not connected")},
        {ConnectionState::connecting(), QStringLiteral("Connecting…")},
        {ConnectionState::failed(QStringLiteral("Server error 401: nope")), QStringLiteral("Sign in failed")},
        {ConnectionState::connected(QStringLiteral("client-7")), QStringLiteral("Connected — client-7")},
    };
    for (const Row &row : rows)
        EXPECT_EQ(ConnectionPill::stateText(row.state), row.expected);
    EXPECT_EQ(ConnectionPill::pendingText(0), QString());
    EXPECT_EQ(ConnectionPill::pendingText(-1), QString());
    EXPECT_EQ(ConnectionPill::pendingText(1), QStringLiteral("· 1 usage pending"));
    EXPECT_EQ(ConnectionPill::pendingText(12), QStringLiteral("· 12 usage pending"));
}

TEST(BuildTagText, ShowsTheAppBuildAndTheServerBuildWhenKnown)
{
    EXPECT_EQ(app::BuildTag::tagText(std::nullopt), QStringLiteral("1.2.24 (27)"));
    EXPECT_EQ(app::BuildTag::tagText(QStringLiteral("2.0 (build 9)")), QStringLiteral("1.2.24 (27) · Server 2.0 (build 9)"));
}

TEST_F(RootViewTest, SigningInThroughThePopoverConnects)
{
    showAndSettle();
    EXPECT_EQ(view->pill()->text(), QStringLiteral("Not connected"));
    recordPillTexts();

    QTest::mouseClick(view->pill(), Qt::LeftButton);
    ASSERT_TRUE(view->signInPopover()->isVisible());
    EXPECT_EQ(view->signInPopover()->keyField()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(view->signInPopover()->keyField()->placeholderText(), QStringLiteral("Client key"));
    EXPECT_EQ(view->signInPopover()->connectButton()->text(), QStringLiteral("Connect"));
    QTest::keyClicks(view->signInPopover()->keyField(), QStringLiteral("  ") + shellServer().demoKey() + QStringLiteral("  "));
    saveScreenshot(view->signInPopover(), QStringLiteral("sign-in-popover"));
    QTest::keyClick(view->signInPopover()->keyField(), Qt::Key_Return);

    EXPECT_FALSE(view->signInPopover()->isVisible());
    EXPECT_TRUE(view->signInPopover()->keyField()->text().isEmpty());
    ASSERT_TRUE(waitUntil([&] { return store->state().isConnected(); }));
    EXPECT_EQ(recorded(), (QStringList{QStringLiteral("Connecting…"), QStringLiteral("Connected — demo-client")}));
    EXPECT_EQ(view->pill()->text(), QStringLiteral("Connected — demo-client"));

    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/activate")).size(), 1);
}

TEST_F(RootViewTest, TheConnectButtonConnectsAndAnEmptyKeyDoesNothing)
{
    showAndSettle();
    QTest::mouseClick(view->pill(), Qt::LeftButton);
    QTest::keyClicks(view->signInPopover()->keyField(), QStringLiteral("   "));
    QTest::mouseClick(view->signInPopover()->connectButton(), Qt::LeftButton);
    EXPECT_TRUE(view->signInPopover()->isVisible()); // nothing to send: the popover stays
    EXPECT_EQ(store->state(), ConnectionState::disconnected());

    view->signInPopover()->keyField()->setText(shellServer().demoKey());
    QTest::mouseClick(view->signInPopover()->connectButton(), Qt::LeftButton);
    EXPECT_FALSE(view->signInPopover()->isVisible());
    EXPECT_EQ(store->state(), ConnectionState::connecting());
    ASSERT_TRUE(waitUntil([&] { return store->state().isConnected(); }));
    EXPECT_TRUE(requestsTo(QStringLiteral("/v1/auth/activate")).size() == 1);
}

TEST_F(RootViewTest, ARefusedKeyShowsSignInFailed)
{
    showAndSettle();
    recordPillTexts();
    signInThroughPopover(QStringLiteral("vk_not_a_known_key"));
    ASSERT_TRUE(waitUntil([&] { return store->state().kind == ConnectionState::Case::failed; }));
    EXPECT_EQ(recorded(), (QStringList{QStringLiteral("Connecting…"), QStringLiteral("Sign in failed")}));
    EXPECT_EQ(view->pill()->text(), QStringLiteral("Sign in failed"));
    // The reason is a hover away.
    EXPECT_TRUE(view->pill()->toolTip().startsWith(QStringLiteral("Server error 401"))) << view->pill()->toolTip().toStdString();
    saveScreenshot(view.get(), QStringLiteral("main-sign-in-failed"));

    // A failed pill opens the popover again rather than offering to sign out.
    QTest::mouseClick(view->pill(), Qt::LeftButton);
    EXPECT_TRUE(view->signInPopover()->isVisible());
    view->signInPopover()->hide();
}

TEST_F(RootViewTest, SigningOutLogsOutOnTheServiceThenDisconnects)
{
    showAndSettle();
    run(store->connect(shellServer().demoKey()));
    ASSERT_TRUE(store->state().isConnected());
    const QString refreshToken = store->session()->refreshToken;
    LogLines session(QStringLiteral("session"));

    // While connected the pill offers "Sign out" instead of the popover.
    QTest::mouseClick(view->pill(), Qt::LeftButton);
    EXPECT_FALSE(view->signInPopover()->isVisible());
    QMenu *menu = view->pill()->signOutMenu();
    ASSERT_TRUE(menu->isVisible());
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->text(), QStringLiteral("Sign out"));
    menu->actions().first()->trigger();
    menu->hide();

    ASSERT_TRUE(waitUntil([&] { return store->state() == ConnectionState::disconnected(); }));
    EXPECT_EQ(view->pill()->text(), QStringLiteral("Not connected"));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/logout")).size(), 1);
    const QStringList lines = session.lines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines.first(), QStringLiteral("sign out requested"));
    EXPECT_TRUE(lines.contains(QStringLiteral("disconnect")));
    // The refresh token was given up on the service: it no longer works.
    const auto [status, body] = shellServer().call(
        "POST", QStringLiteral("/v1/auth/refresh"),
        QJsonDocument(QJsonObject{{QStringLiteral("refresh_token"), refreshToken}}).toJson());
    EXPECT_EQ(status, 401);
}

TEST_F(RootViewTest, SigningOutWithTheServiceUnreachableStillDisconnects)
{
    showAndSettle();
    run(store->connect(shellServer().demoKey()));
    ASSERT_TRUE(store->state().isConnected());
    // Nothing listens on the discard port of this machine.
    Settings::standard().setOverride(QStringLiteral("baseURL"), QStringLiteral("http://127.0.0.1:9"));
    LogLines api(QStringLiteral("api"));

    run(view->signOut());

    EXPECT_EQ(store->state(), ConnectionState::disconnected());
    EXPECT_FALSE(store->session().has_value());
    EXPECT_EQ(view->pill()->text(), QStringLiteral("Not connected"));
    bool logged = false;
    for (const QString &line : api.lines())
        logged = logged || line.startsWith(QStringLiteral("logout request failed: "));
    EXPECT_TRUE(logged) << api.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(requestsTo(QStringLiteral("/v1/auth/logout")).isEmpty());
}

TEST_F(RootViewTest, ThePillCountsUsageReportsStillWaiting)
{
    showAndSettle();
    run(store->connect(shellServer().demoKey()));
    ASSERT_TRUE(store->state().isConnected());
    shellServer().addFault(fault(QStringLiteral("POST"), QStringLiteral("/v1/usage/convert"), QStringLiteral("status"), 500, 2));

    const QString token = store->session()->accessToken;
    EXPECT_FALSE(run(store->reportUsage(token, QStringLiteral("m4a"), 1, 1000, QStringLiteral("a.wav"))));
    EXPECT_EQ(view->pill()->text(), QStringLiteral("Connected — demo-client· 1 usage pending"));
    EXPECT_FALSE(run(store->reportUsage(token, QStringLiteral("m4a"), 1, 2000, QStringLiteral("b.wav"))));
    EXPECT_EQ(view->pill()->text(), QStringLiteral("Connected — demo-client· 2 usage pending"));
    saveScreenshot(view.get(), QStringLiteral("main-usage-pending"));

    // The next connect delivers them and the count goes away.
    run(store->connect(shellServer().demoKey()));
    ASSERT_TRUE(waitUntil([&] { return store->pendingUsageCount() == 0; }));
    EXPECT_EQ(view->pill()->text(), QStringLiteral("Connected — demo-client"));
}

TEST_F(RootViewTest, TheBuildTagShowsTheServersBuild)
{
    showAndSettle();
    ASSERT_TRUE(view->serverBuild().has_value());
    EXPECT_TRUE(view->serverBuild()->startsWith(QStringLiteral("devserver"))) << view->serverBuild()->toStdString();
    EXPECT_EQ(view->buildTag()->text(), QStringLiteral("1.2.24 (27) · Server ") + *view->serverBuild());
    EXPECT_EQ(requestsTo(QStringLiteral("/health")).size(), 1);
}

TEST_F(RootViewTest, AnUnreachableServiceLeavesTheServerBuildOut)
{
    Settings::standard().setOverride(QStringLiteral("baseURL"), QStringLiteral("http://127.0.0.1:9"));
    showAndSettle();
    EXPECT_FALSE(view->serverBuild().has_value());
    EXPECT_EQ(view->buildTag()->text(), QStringLiteral("1.2.24 (27)"));
}

TEST_F(RootViewTest, SwitchingTabsKeepsEveryPageAlive)
{
    showAndSettle();
    LogLines ui(QStringLiteral("ui"));
    QList<QPointer<QWidget>> pages;
    for (AppTab tab : app::allTabs)
        pages.append(view->page(tab));
    EXPECT_EQ(view->selected(), AppTab::analysis);

    const AppTab order[] = {AppTab::convert, AppTab::analysis, AppTab::audioInfo, AppTab::cinema, AppTab::analysis};
    QStringList expectedLines;
    for (AppTab tab : order) {
        QTest::mouseClick(view->tabButton(tab), Qt::LeftButton);
        expectedLines.append(QStringLiteral("tab switched to ") + app::title(tab));
        EXPECT_EQ(view->selected(), tab);
        for (AppTab other : app::allTabs) {
            QWidget *page = view->page(other);
            ASSERT_TRUE(pages.at(int(other))) << "a page was destroyed";
            EXPECT_EQ(page, pages.at(int(other)).data());
            EXPECT_EQ(page->isVisible(), other == tab) << app::title(other).toStdString();
            EXPECT_EQ(page->property("active").toBool(), other == tab) << app::title(other).toStdString();
            EXPECT_EQ(view->tabButton(other)->isChecked(), other == tab);
        }
    }
    EXPECT_EQ(ui.lines(), expectedLines);

    // Clicking the selected tab again is no switch.
    QTest::mouseClick(view->tabButton(AppTab::analysis), Qt::LeftButton);
    EXPECT_EQ(ui.lines().size(), expectedLines.size());
}

TEST_F(RootViewTest, TheTabBarHoldsTheFourTabsInOrder)
{
    QStringList titles;
    for (AppTab tab : app::allTabs)
        titles.append(view->tabButton(tab)->text());
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Correction"), QStringLiteral("Cinema"), QStringLiteral("Convert"),
                                   QStringLiteral("Analysis")}));
}

} // namespace
} // namespace vorlik::test

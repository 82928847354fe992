#include "app/BuildTag.h"
#include "app/PlaceholderPage.h"
#include "app/SignInPopover.h"
#include "tests/app/ShellWindowTest.h"

#include <QAction>
#include <QJsonDocument>
#include <QMenu>

namespace vorlik::test {
namespace {

using platform::Settings;
using service::ConnectionState;
using service::KeychainStore;

using RootViewTest = ShellWindowTest;

const QString unreachable = QStringLiteral("http://127.0.0.1:9"); // nothing listens on the discard port

TEST_F(RootViewTest, WithoutARememberedKeyOnlyTheHealthProbeGoesOutThenSignInCountUsageStillWaitingAndSignOut)
{
    shownView();
    EXPECT_EQ(view->pill()->text(), QStringLiteral("Not connected"));
    for (const QJsonValue &request : shellServer().requests())
        EXPECT_FALSE(request["path"].toString().startsWith("/v1/") || request["path"] == "/correction");
    // Under "skipWebTabs" placeholders stand in for the web tabs.
    for (app::AppTab tab : {app::AppTab::analysis, app::AppTab::cinema})
        EXPECT_NE(qobject_cast<app::PlaceholderPage *>(view->page(tab)), nullptr);
    for (const QWidget *widget : view->findChildren<QWidget *>())
        EXPECT_FALSE(widget->inherits("QWebEngineView")) << "a web view under skipWebTabs";
    ASSERT_TRUE(view->serverBuild().has_value());
    EXPECT_TRUE(view->serverBuild()->startsWith(QStringLiteral("devserver"))) << view->serverBuild()->toStdString();
    EXPECT_EQ(view->buildTag()->text(), QStringLiteral("1.2.24 (27) · Server ") + *view->serverBuild());
    // The start-up task runs once however often the window appears.
    view->hide();
    view->show();
    QTest::qWait(200);
    EXPECT_EQ(requestsTo(QStringLiteral("/health")).size(), 1);
    EXPECT_TRUE(pillTexts.isEmpty());

    app::SignInPopover *popover = view->signInPopover();

    // Only spaces: nothing is sent and the popover stays.
    QTest::mouseClick(view->pill(), Qt::LeftButton);
    ASSERT_TRUE(popover->isVisible());
    EXPECT_EQ(popover->keyField()->echoMode(), QLineEdit::Password);
    QTest::keyClicks(popover->keyField(), QStringLiteral("   "));
    QTest::mouseClick(popover->connectButton(), Qt::LeftButton);
    EXPECT_TRUE(popover->isVisible());
    EXPECT_EQ(store->state(), ConnectionState::disconnected());

    // A refused key, sent with Return: the reason is a hover away, and the failed pill opens the
    // popover again rather than offering to sign out.
    popover->keyField()->setText(QStringLiteral("vk_not_a_known_key"));
    QTest::keyClick(popover->keyField(), Qt::Key_Return);
    EXPECT_FALSE(popover->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return store->state().kind == ConnectionState::Case::failed; }, 30000));
    EXPECT_TRUE(view->pill()->toolTip().startsWith(QStringLiteral("Server error 401"))) << view->pill()->toolTip().toStdString();
    saveScreenshot(view.get(), QStringLiteral("main-sign-in-failed"));
    QTest::mouseClick(view->pill(), Qt::LeftButton);
    ASSERT_TRUE(popover->isVisible());
    EXPECT_TRUE(popover->keyField()->text().isEmpty());

    // The key as pasted, spaces around it, sent with Connect.
    QTest::keyClicks(popover->keyField(), QStringLiteral("  ") + shellServer().demoKey() + QStringLiteral("  "));
    saveScreenshot(popover, QStringLiteral("sign-in-popover"));
    QTest::mouseClick(popover->connectButton(), Qt::LeftButton);
    EXPECT_FALSE(popover->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return store->state().isConnected(); }, 30000));
    EXPECT_TRUE(popover->keyField()->text().isEmpty());
    EXPECT_EQ(pillTexts, (QStringList{"Connecting…", "Sign in failed", "Connecting…", "Connected — demo-client"}));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/activate")).size(), 2);

    run(store->connect(shellServer().demoKey()));
    ASSERT_TRUE(store->state().isConnected());
    shellServer().addFault({{"method", "POST"}, {"path", "/v1/usage/convert"}, {"action", "status"}, {"status", 500}, {"count", 2}});
    const QString token = store->session()->accessToken;
    for (int pending : {1, 2}) {
        EXPECT_FALSE(run(store->reportUsage(token, "m4a", 1, 1000 * pending, QString("%1.wav").arg(pending))));
        EXPECT_EQ(view->pill()->text(), QString("Connected — demo-client· %1 usage pending").arg(pending));
    }
    saveScreenshot(view.get(), QStringLiteral("main-usage-pending"));

    // The next connect delivers them and the count goes away.
    run(store->connect(shellServer().demoKey()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return store->pendingUsageCount() == 0; }, 30000));
    EXPECT_EQ(view->pill()->text(), QStringLiteral("Connected — demo-client"));

    const QString refreshToken = store->session()->refreshToken;
    LogLines session(QStringLiteral("session"));

    // While connected the pill offers "Sign out" instead of the popover.
    QTest::mouseClick(view->pill(), Qt::LeftButton);
    EXPECT_FALSE(view->signInPopover()->isVisible());
    QMenu *menu = view->pill()->signOutMenu();
    ASSERT_TRUE(menu->isVisible());
    ASSERT_EQ(menu->actions().size(), 1);
    menu->actions().first()->trigger();
    menu->hide();
    ASSERT_TRUE(QTest::qWaitFor([&] { return store->state() == ConnectionState::disconnected(); }, 30000));
    EXPECT_EQ(view->pill()->text(), QStringLiteral("Not connected"));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/logout")).size(), 1);
    EXPECT_TRUE(session.lines().value(0) == "sign out requested" && session.lines().contains("disconnect"))
        << session.lines().join(u'\n').toStdString();
    // The refresh token was given up on the service: it no longer works.
    const QByteArray refresh = QJsonDocument(QJsonObject{{"refresh_token", refreshToken}}).toJson();
    EXPECT_EQ(shellServer().call("POST", "/v1/auth/refresh", refresh).first, 401);

    run(store->connect(shellServer().demoKey()));
    ASSERT_TRUE(store->state().isConnected());
    Settings::standard().setOverride(QStringLiteral("baseURL"), unreachable);
    LogLines api(QStringLiteral("api"));
    run(view->signOut());
    EXPECT_EQ(store->state(), ConnectionState::disconnected());
    EXPECT_FALSE(store->session().has_value());
    EXPECT_EQ(api.lines().filter(QStringLiteral("logout request failed: ")).size(), 1) << api.lines().join(u'\n').toStdString();
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/logout")).size(), 1);
}

TEST_F(RootViewTest, ARememberedKeyConnectsByItself)
{
    ASSERT_EQ(KeychainStore::save(shellServer().demoKey()), KeychainStore::Result::success());
    shownView();
    EXPECT_EQ(store->state(), ConnectionState::connected(QStringLiteral("demo-client")));
    EXPECT_EQ(pillTexts, (QStringList{QStringLiteral("Connecting…"), QStringLiteral("Connected — demo-client")}));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/activate")).size(), 1);
}

TEST_F(RootViewTest, ARememberedKeyWithNoServiceEndsInSignInFailedAndTheBuildTagAlone)
{
    ASSERT_EQ(KeychainStore::save(shellServer().demoKey()), KeychainStore::Result::success());
    Settings::standard().setOverride(QStringLiteral("baseURL"), unreachable);
    shownView();
    EXPECT_EQ(pillTexts, (QStringList{QStringLiteral("Connecting…"), QStringLiteral("Sign in failed")}));
    EXPECT_FALSE(view->serverBuild().has_value());
    EXPECT_EQ(view->buildTag()->text(), QStringLiteral("1.2.24 (27)"));
    saveScreenshot(view.get(), QStringLiteral("main-remembered-key-no-network"));
}

TEST_F(RootViewTest, AConnectAlreadyUnderWayIsNotReplacedByTheRememberedKey)
{
    ASSERT_EQ(KeychainStore::save(QStringLiteral("vk_remembered_but_unknown")), KeychainStore::Result::success());
    store->connect(shellServer().demoKey()); // as a page's "connectKey" hook does
    shownView();
    ASSERT_TRUE(QTest::qWaitFor([&] { return store->state().isConnected(); }, 30000));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/activate")).size(), 1);
}

} // namespace
} // namespace vorlik::test

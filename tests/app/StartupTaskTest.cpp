// The window's start-up task: the key remembered in the keyring connects by itself (or fails
// visibly when the service cannot be reached); without one nothing is sent.
#include "app/AppWindows.h"
#include "app/ConnectionPill.h"
#include "app/LightPalette.h"
#include "app/RootView.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "service/KeychainStore.h"
#include "service/SessionStore.h"
#include "tests/app/ShellTestSupport.h"
#include "update/UpdateManager.h"

#include <memory>

namespace vorlik::test {
namespace {

using platform::Settings;
using service::ConnectionState;
using service::KeychainStore;
using service::SessionStore;

class StartupTaskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app::LightPalette::apply();
        ASSERT_NE(KeychainStore::remove().kind, KeychainStore::Result::Case::failure) << "no keyring";
        shellServer().reset();
        shellServer().useAsService();
        Settings::standard().setValue(QStringLiteral("skipWebTabs"), true);
        Settings::standard().setValue(QStringLiteral("vorlikDiag"), true);
        store = std::make_unique<SessionStore>();
        windows = std::make_unique<app::AppWindows>(Settings::standard(), diagnostics::DiagnosticsLogger::shared(), update::UpdateManager::shared());
        view = std::make_unique<app::RootView>(*store, *windows, update::UpdateManager::shared(), Settings::standard());
        view->resize(1200, 780);
        QObject::connect(store.get(), &SessionStore::stateChanged, view.get(),
                         [this] { pillTexts.append(view->pill()->text()); });
    }

    void TearDown() override
    {
        view.reset();
        windows.reset();
        store.reset();
        KeychainStore::remove();
        Settings::standard().clearOverrides();
    }

    void showAndFinishStartup()
    {
        view->show();
        ASSERT_TRUE(waitUntil([&] { return view->isStartupFinished(); }));
    }

    std::unique_ptr<SessionStore> store;
    std::unique_ptr<app::AppWindows> windows;
    std::unique_ptr<app::RootView> view;
    QStringList pillTexts;
};

TEST_F(StartupTaskTest, ARememberedKeyConnectsByItself)
{
    ASSERT_EQ(KeychainStore::save(shellServer().demoKey()), KeychainStore::Result::success());
    showAndFinishStartup();
    EXPECT_EQ(store->state(), ConnectionState::connected(QStringLiteral("demo-client")));
    EXPECT_EQ(pillTexts, (QStringList{QStringLiteral("Connecting…"), QStringLiteral("Connected — demo-client")}));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/activate")).size(), 1);
}

TEST_F(StartupTaskTest, ARememberedKeyWithNoNetworkEndsInSignInFailed)
{
    ASSERT_EQ(KeychainStore::save(shellServer().demoKey()), KeychainStore::Result::success());
    Settings::standard().setOverride(QStringLiteral("baseURL"), QStringLiteral("http://127.0.0.1:9"));
    showAndFinishStartup();
    EXPECT_EQ(store->state().kind, ConnectionState::Case::failed);
    EXPECT_EQ(view->pill()->text(), QStringLiteral("Sign in failed"));
    EXPECT_EQ(pillTexts, (QStringList{QStringLiteral("Connecting…"), QStringLiteral("Sign in failed")}));
    saveScreenshot(view.get(), QStringLiteral("main-remembered-key-no-network"));
}

TEST_F(StartupTaskTest, WithoutARememberedKeyNothingIsSent)
{
    showAndFinishStartup();
    EXPECT_EQ(store->state(), ConnectionState::disconnected());
    EXPECT_EQ(view->pill()->text(), QStringLiteral("Not connected"));
    EXPECT_TRUE(pillTexts.isEmpty());
    // Only the health probe (and the update check, once it exists) went out: nothing of the
    // session's.
    for (const QString &path : requestedPaths())
        EXPECT_FALSE(path.startsWith(QStringLiteral("/v1/"))) << path.toStdString();
    EXPECT_EQ(requestsTo(QStringLiteral("/health")).size(), 1);
}

TEST_F(StartupTaskTest, AConnectAlreadyUnderWayIsNotReplacedByTheRememberedKey)
{
    ASSERT_EQ(KeychainStore::save(QStringLiteral("vk_remembered_but_unknown")), KeychainStore::Result::success());
    store->connect(shellServer().demoKey()); // as a page's "connectKey" hook does
    showAndFinishStartup();
    ASSERT_TRUE(waitUntil([&] { return store->state().isConnected(); }));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/activate")).size(), 1);
}

TEST_F(StartupTaskTest, TheStartupTaskRunsOnceHoweverOftenTheWindowAppears)
{
    showAndFinishStartup();
    view->hide();
    view->show();
    spinEventLoop(200);
    EXPECT_EQ(requestsTo(QStringLiteral("/health")).size(), 1);
}

} // namespace
} // namespace vorlik::test

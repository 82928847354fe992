#pragma once
// The main window against the stand-in service, signed out, without its web tabs, in the light
// palette, diagnostics on: the set-up of every test of the window. A test changes settings
// before it asks for the window.
#include "app/AppWindows.h"
#include "app/ConnectionPill.h"
#include "app/LightPalette.h"
#include "app/RootView.h"
#include "platform/Settings.h"
#include "service/KeychainStore.h"
#include "service/SessionStore.h"
#include "tests/app/ShellTestSupport.h"
#include "update/UpdateManager.h"


namespace vorlik::test {

class ShellWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        service::KeychainStore::remove(); // the start-up task must find no remembered key
        app::LightPalette::apply();
        shellServer().reset();
        shellServer().useAsService();
        platform::Settings::standard().setValue(QStringLiteral("vorlikDiag"), true);
        platform::Settings::standard().setValue(QStringLiteral("skipWebTabs"), true);
        store = std::make_unique<service::SessionStore>();
        windows = std::make_unique<app::AppWindows>(platform::Settings::standard(),
                                                    diagnostics::DiagnosticsLogger::shared(),
                                                    update::UpdateManager::shared());
    }

    void TearDown() override
    {
        view.reset();
        windows.reset();
        store.reset();
        service::KeychainStore::remove();
        platform::Settings::standard().clearOverrides();
    }

    // The window, shown, active and past its start-up task (keyring, health probe). Every text
    // the connection pill shows from then on is in pillTexts, one per change of the session.
    app::RootView &shownView()
    {
        view = std::make_unique<app::RootView>(*store, *windows, update::UpdateManager::shared(),
                                               platform::Settings::standard());
        view->resize(1200, 780);
        QObject::connect(store.get(), &service::SessionStore::stateChanged, view.get(),
                         [this] { pillTexts.append(view->pill()->text()); });
        showActive(view.get());
        EXPECT_TRUE(QTest::qWaitFor([&] { return view->isStartupFinished(); }, 30000));
        return *view;
    }

    static void showActive(QWidget *window)
    {
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    }

    std::unique_ptr<service::SessionStore> store;
    std::unique_ptr<app::AppWindows> windows;
    std::unique_ptr<app::RootView> view;
    QStringList pillTexts;
};

} // namespace vorlik::test

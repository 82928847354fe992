#pragma once
// The main window against the stand-in service, signed out, without its web tabs, in the light
// palette: the set-up of the keyboard and accessibility tests.
#include "app/AppWindows.h"
#include "app/LightPalette.h"
#include "app/RootView.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "service/KeychainStore.h"
#include "service/SessionStore.h"
#include "tests/app/ShellTestSupport.h"
#include "update/UpdateManager.h"

#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>
#include <memory>

namespace vorlik::test {

class ShellWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        service::KeychainStore::remove();
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
        platform::Settings::standard().clearOverrides();
    }

    // The window, shown, active and past its start-up.
    app::RootView &shownView()
    {
        view = std::make_unique<app::RootView>(*store, *windows, update::UpdateManager::shared(),
                                               platform::Settings::standard());
        view->resize(1200, 780);
        showActive(view.get());
        EXPECT_TRUE(waitUntil([&] { return view->isStartupFinished(); }));
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
};

} // namespace vorlik::test

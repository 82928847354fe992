// The web tabs as the window holds them: the service's Correction page in its web view, kept
// loaded while another tab is shown; none at all under "skipWebTabs"; the drop router told
// whether a web tab is selected.
#include "app/AppTab.h"
#include "app/AppWindows.h"
#include "app/LightPalette.h"
#include "app/PlaceholderPage.h"
#include "app/RootView.h"
#include "app/WebTabSlot.h"
#include "app/WebTabsModule.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "service/KeychainStore.h"
#include "service/SessionStore.h"
#include "tests/app/ShellTestSupport.h"
#include "update/UpdateManager.h"
#include "web/DropRouter.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>

namespace vorlik::test {
namespace {

using app::AppTab;
using platform::Settings;

class WebTabsInWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app::LightPalette::apply();
        // The web tabs' module lies beside the program, not beside this test.
        app::WebTabsModule::setProgramFolder(QFileInfo(QStringLiteral(VORLIK_DESKTOP_PATH)).absolutePath());
        service::KeychainStore::remove();
        shellServer().reset();
        shellServer().useAsService();
        Settings::standard().setValue(QStringLiteral("lastUpdateCheckSuccess"), QDateTime::currentDateTime());
        store = std::make_unique<service::SessionStore>();
        windows = std::make_unique<app::AppWindows>(Settings::standard(), diagnostics::DiagnosticsLogger::shared(),
                                                    update::UpdateManager::shared());
    }

    void TearDown() override
    {
        view.reset();
        windows.reset();
        store.reset();
        Settings::standard().remove(QStringLiteral("skipWebTabs"));
    }

    void makeView()
    {
        view = std::make_unique<app::RootView>(*store, *windows, update::UpdateManager::shared(), Settings::standard());
        view->resize(1200, 780);
        view->show();
    }

    std::unique_ptr<service::SessionStore> store;
    std::unique_ptr<app::AppWindows> windows;
    std::unique_ptr<app::RootView> view;
};

TEST_F(WebTabsInWindowTest, TheCorrectionPageStaysLoadedWhileAnotherTabIsShown)
{
    Settings::standard().setValue(QStringLiteral("skipWebTabs"), false);
    makeView();
    auto *correction = qobject_cast<app::WebTabSlot *>(view->page(AppTab::analysis));
    auto *cinema = qobject_cast<app::WebTabSlot *>(view->page(AppTab::cinema));
    ASSERT_NE(correction, nullptr);
    ASSERT_NE(cinema, nullptr);
    EXPECT_TRUE(correction->isCorrection());
    EXPECT_FALSE(cinema->isCorrection());
    // The web engine starts once the window is on screen.
    ASSERT_TRUE(waitUntil([&] { return correction->tab() && cinema->tab(); }, 30000));
    auto *correctionView = correction->tab()->findChild<QWebEngineView *>();
    auto *cinemaView = cinema->tab()->findChild<QWebEngineView *>();
    ASSERT_NE(correctionView, nullptr);
    ASSERT_NE(cinemaView, nullptr);
    EXPECT_EQ(cinemaView->page()->requestedUrl().scheme(), QStringLiteral("https"));
    EXPECT_EQ(cinemaView->page()->requestedUrl().path(), QStringLiteral("/cinema"));
    EXPECT_TRUE(correction->isActive());
    EXPECT_FALSE(cinema->isActive());
    EXPECT_TRUE(web::DropRouter::shared().webTabActive);

    QWebEnginePage *page = correctionView->page();
    ASSERT_TRUE(waitUntil([&] { return !page->title().isEmpty() && page->url().path() == QLatin1String("/correction"); }, 60000))
        << page->url().toString().toStdString();
    EXPECT_EQ(page->url(), shellServer().baseUrl().resolved(QUrl(QStringLiteral("/correction"))));
    spinEventLoop(300);
    saveScreenshot(view.get(), QStringLiteral("main-correction-page"));
    QSignalSpy reloads(page, &QWebEnginePage::loadStarted);
    const QPointer<QWebEnginePage> kept(page);

    QTest::mouseClick(view->tabButton(AppTab::convert), Qt::LeftButton);
    EXPECT_FALSE(correction->isActive());
    EXPECT_FALSE(correctionView->isVisible());
    EXPECT_FALSE(web::DropRouter::shared().webTabActive);
    spinEventLoop(200);
    QTest::mouseClick(view->tabButton(AppTab::analysis), Qt::LeftButton);
    EXPECT_TRUE(correction->isActive());
    EXPECT_TRUE(correctionView->isVisible());
    EXPECT_TRUE(web::DropRouter::shared().webTabActive);
    spinEventLoop(200);

    // The same page, never loaded again.
    EXPECT_EQ(view->page(AppTab::analysis), correction);
    EXPECT_TRUE(kept);
    EXPECT_EQ(correctionView->page(), page);
    EXPECT_EQ(reloads.count(), 0);
    EXPECT_EQ(page->url().path(), QStringLiteral("/correction"));
    EXPECT_EQ(requestsTo(QStringLiteral("/correction")).size(), 1);
}

TEST_F(WebTabsInWindowTest, SkipWebTabsCreatesNoWebView)
{
    Settings::standard().setValue(QStringLiteral("skipWebTabs"), true);
    makeView();
    EXPECT_NE(qobject_cast<app::PlaceholderPage *>(view->page(AppTab::analysis)), nullptr);
    EXPECT_NE(qobject_cast<app::PlaceholderPage *>(view->page(AppTab::cinema)), nullptr);
    EXPECT_TRUE(view->findChildren<QWebEngineView *>().isEmpty());
    spinEventLoop(200);
    EXPECT_TRUE(requestsTo(QStringLiteral("/correction")).isEmpty());
}

} // namespace
} // namespace vorlik::test

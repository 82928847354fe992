// The web tabs as the window holds them: the service's Correction page in its web view, kept
// loaded while another tab is shown; none at all under "skipWebTabs"; the drop router told
// whether a web tab is selected.
#include "app/AppTab.h"
#include "app/PlaceholderPage.h"
#include "app/WebTabSlot.h"
#include "app/WebTabsModule.h"
#include "tests/app/ShellWindowTest.h"
#include "web/DropRouter.h"

#include <QFileInfo>
#include <QPointer>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace vorlik::test {
namespace {

using app::AppTab;
using platform::Settings;

class WebTabsInWindowTest : public ShellWindowTest {
protected:
    void SetUp() override
    {
        ShellWindowTest::SetUp();
        // The web tabs' module lies beside the program, not beside this test.
        app::WebTabsModule::setProgramFolder(QFileInfo(QStringLiteral(VORLIK_DESKTOP_PATH)).absolutePath());
        Settings::standard().setValue(QStringLiteral("lastUpdateCheckSuccess"), QDateTime::currentDateTime());
    }
};

TEST_F(WebTabsInWindowTest, TheCorrectionPageStaysLoadedWhileAnotherTabIsShown)
{
    Settings::standard().setValue(QStringLiteral("skipWebTabs"), false);
    shownView();
    auto *correction = qobject_cast<app::WebTabSlot *>(view->page(AppTab::analysis));
    auto *cinema = qobject_cast<app::WebTabSlot *>(view->page(AppTab::cinema));
    ASSERT_NE(correction, nullptr);
    ASSERT_NE(cinema, nullptr);
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
    spinEventLoop(200);
    QTest::mouseClick(view->tabButton(AppTab::analysis), Qt::LeftButton);
    EXPECT_TRUE(correction->isActive());
    EXPECT_TRUE(correctionView->isVisible());
    spinEventLoop(200);

    // The same page, never loaded again.
    EXPECT_TRUE(kept);
    EXPECT_EQ(correctionView->page(), page);
    EXPECT_EQ(reloads.count(), 0);
    EXPECT_EQ(requestsTo(QStringLiteral("/correction")).size(), 1);
}

TEST_F(WebTabsInWindowTest, SkipWebTabsCreatesNoWebView)
{
    shownView();
    EXPECT_NE(qobject_cast<app::PlaceholderPage *>(view->page(AppTab::analysis)), nullptr);
    EXPECT_NE(qobject_cast<app::PlaceholderPage *>(view->page(AppTab::cinema)), nullptr);
    EXPECT_TRUE(view->findChildren<QWebEngineView *>().isEmpty());
    EXPECT_TRUE(requestsTo(QStringLiteral("/correction")).isEmpty());
}

} // namespace
} // namespace vorlik::test

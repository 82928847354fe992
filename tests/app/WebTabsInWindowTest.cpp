#include "app/WebTabSlot.h"
#include "app/WebTabsModule.h"
#include "tests/app/ShellWindowTest.h"
#include "web/DropRouter.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace vorlik::test {
namespace {

using app::AppTab;
using platform::Settings;
using WebTabsInWindowTest = ShellWindowTest;

TEST_F(WebTabsInWindowTest, TheCorrectionPageStaysLoadedWhileAnotherTabIsShown)
{
    // The web tabs' module lies beside the program, not beside this test.
    app::WebTabsModule::setProgramFolder(QFileInfo(VORLIK_DESKTOP_PATH).absolutePath());
    Settings::standard().setValue("lastUpdateCheckSuccess", QDateTime::currentDateTime());
    Settings::standard().setValue("skipWebTabs", false);
    shownView();
    auto *correction = qobject_cast<app::WebTabSlot *>(view->page(AppTab::analysis));
    auto *cinema = qobject_cast<app::WebTabSlot *>(view->page(AppTab::cinema));
    ASSERT_TRUE(correction && cinema);
    // The web engine starts once the window is on screen.
    ASSERT_TRUE(QTest::qWaitFor([&] { return correction->tab() && cinema->tab(); }, 30000));
    auto *correctionView = correction->tab()->findChild<QWebEngineView *>();
    auto *cinemaView = cinema->tab()->findChild<QWebEngineView *>();
    ASSERT_TRUE(correctionView && cinemaView);
    EXPECT_EQ(cinemaView->page()->requestedUrl().scheme() + cinemaView->page()->requestedUrl().path(), "https/cinema");
    EXPECT_TRUE(correction->isActive() && !cinema->isActive());
    EXPECT_TRUE(web::DropRouter::shared().webTabActive);

    QWebEnginePage *page = correctionView->page();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page->title().isEmpty() && page->url().path() == "/correction"; }, 60000))
        << page->url().toString().toStdString();
    EXPECT_EQ(page->url(), shellServer().baseUrl().resolved(QUrl("/correction")));
    QTest::qWait(300);
    saveScreenshot(view.get(), "main-correction-page");
    QSignalSpy reloads(page, &QWebEnginePage::loadStarted);
    const QPointer<QWebEnginePage> kept(page);

    QTest::mouseClick(view->tabButton(AppTab::convert), Qt::LeftButton);
    EXPECT_FALSE(correction->isActive() || correctionView->isVisible());
    QTest::qWait(200);
    QTest::mouseClick(view->tabButton(AppTab::analysis), Qt::LeftButton);
    EXPECT_TRUE(correction->isActive() && correctionView->isVisible());
    QTest::qWait(200);

    // The same page, never loaded again.
    EXPECT_TRUE(kept && correctionView->page() == page);
    EXPECT_EQ(reloads.count(), 0);
    EXPECT_EQ(requestsTo("/correction").size(), 1);
}

} // namespace
} // namespace vorlik::test

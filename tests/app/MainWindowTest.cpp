#include "app/ActiveJobs.h"
#include "app/AboutWindowController.h"
#include "app/AppDelegate.h"
#include "app/AppWindows.h"
#include "app/MainWindow.h"
#include "app/PreferencesWindowController.h"
#include "app/RootView.h"
#include "app/VorlikDesktopApp.h"
#include "platform/Settings.h"
#include "service/KeychainStore.h"
#include "tests/app/ShellTestSupport.h"

#include <QAction>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>


namespace vorlik::test {
namespace {

using app::ActiveJobs;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        service::KeychainStore::remove(); // the start-up task must find no remembered key
        shellServer().reset();
        shellServer().useAsService();
        platform::Settings::standard().setValue(QStringLiteral("skipWebTabs"), true);
        application = std::make_unique<app::VorlikDesktopApp>();
        application->delegate().setTerminateAction([this] { ++terminations; });
    }

    void TearDown() override
    {
        for (const QString &key : QSet<QString>(ActiveJobs::shared().runningKeys())) // a copy: end() changes the set
            ActiveJobs::shared().end(key);
        application.reset();
    }

    QAction *menuAction(const char *name) const { return application->mainWindow().menuBar()->findChild<QAction *>(name); }

    std::unique_ptr<app::VorlikDesktopApp> application;
    int terminations = 0;
};

TEST_F(MainWindowTest, FitsTheScreenIsLightItsMenuOpensTheOtherWindowsAndItsTabBarFitsASmallSize)
{
    app::MainWindow &window = application->mainWindow();
    // 1200 × 780 where that fits; the test screen is smaller, and the window fits inside it.
    const QSize available = window.screen()->availableGeometry().size();
    EXPECT_EQ(window.size(), app::MainWindow::defaultSize.boundedTo(available - app::MainWindow::frameAllowance));
    EXPECT_LE(window.minimumSizeHint().height(), available.height() - app::MainWindow::frameAllowance.height());
    EXPECT_LE(window.minimumSizeHint().width(), available.width() - app::MainWindow::frameAllowance.width());
    // Light whatever the desktop says: dark text on a light window.
    EXPECT_GT(QApplication::palette().color(QPalette::Window).lightness(), 200);
    EXPECT_LT(QApplication::palette().color(QPalette::WindowText).lightness(), 80);

    ASSERT_NE(menuAction("preferencesAction"), nullptr);
    EXPECT_EQ(menuAction("preferencesAction")->shortcutContext(), Qt::ApplicationShortcut);
    menuAction("preferencesAction")->trigger();
    EXPECT_TRUE(application->windows().preferences().window()->isVisible());
    menuAction("aboutAction")->trigger();
    EXPECT_TRUE(application->windows().about().window()->isVisible());
    application->windows().preferences().window()->close();
    application->windows().about().window()->close();

    // Pictures of every tab at two sizes.
    window.show();
    app::RootView &root = application->rootView();
    ASSERT_TRUE(QTest::qWaitFor([&] { return root.isStartupFinished(); }, 30000));
    for (const QSize size : {QSize(1200, 780), QSize(900, 600)}) {
        window.resize(size);
        for (app::AppTab tab : app::allTabs) {
            root.select(tab);
            saveScreenshot(&window, QString("main-%1-%2x%3").arg(app::title(tab).toLower()).arg(size.width()).arg(size.height()));
        }
    }
    // At the small size nothing of the tab bar is cut off.
    QWidget *pill = root.findChild<QWidget *>("connectionPill");
    ASSERT_NE(pill, nullptr);
    EXPECT_LE(pill->mapTo(&root, QPoint(pill->width(), 0)).x(), root.width());
    EXPECT_GE(root.tabButton(app::AppTab::audioInfo)->width(), root.tabButton(app::AppTab::audioInfo)->sizeHint().width());
}

TEST_F(MainWindowTest, QuittingWhileWorkRunsWarnsAndStaysOpenByTheMenuOrByClosingTheWindow)
{
    application->mainWindow().show();
    ActiveJobs::shared().begin(QStringLiteral("Conversion"));
    AlertAnswerer answerer([](QMessageBox *box) { saveScreenshot(box, "quit-guard-alert"); });
    QAction *quit = menuAction("quitAction");
    ASSERT_NE(quit, nullptr);
    EXPECT_EQ(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->trigger();
    ASSERT_EQ(answerer.seen().size(), 1);
    EXPECT_EQ(answerer.seen().first().text, "Work is still running");
    EXPECT_EQ(answerer.seen().first().informativeText, "Active work (Conversion) is still running. Stop it before quitting Vorlik.");
    EXPECT_EQ(answerer.seen().first().buttons, QStringList{"OK"});

    // Closing the window is a quit under the same guard; the work is named in a fixed order,
    // not the order it began in.
    ActiveJobs::shared().begin(QStringLiteral("Analysis"));
    EXPECT_FALSE(application->mainWindow().close());
    ASSERT_EQ(answerer.seen().size(), 2);
    EXPECT_EQ(answerer.seen().last().informativeText,
              "Active work (Analysis, Conversion) is still running. Stop it before quitting Vorlik.");
    EXPECT_TRUE(application->mainWindow().isVisible());
    EXPECT_EQ(terminations, 0);
    EXPECT_FALSE(application->delegate().isTerminating());

    // Once the work has ended, the same request quits without a word, and only once.
    ActiveJobs::shared().end("Analysis");
    ActiveJobs::shared().end("Conversion");
    EXPECT_TRUE(application->mainWindow().close());
    EXPECT_TRUE(application->delegate().isTerminating());
    quit->trigger();
    EXPECT_EQ(answerer.seen().size(), 2);
    EXPECT_EQ(terminations, 1);
}

} // namespace
} // namespace vorlik::test

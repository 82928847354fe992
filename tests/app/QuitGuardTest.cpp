// Quitting while work runs: the warning, its texts, and an application that stays open; with no
// work, quitting at once. Through the menu's Quit and through closing the main window.
#include "app/ActiveJobs.h"
#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "app/VorlikDesktopApp.h"
#include "platform/Settings.h"
#include "service/KeychainStore.h"
#include "tests/app/ShellTestSupport.h"

#include <QAction>
#include <QMenuBar>
#include <QMessageBox>

#include <memory>

namespace vorlik::test {
namespace {

using app::ActiveJobs;
using app::AppDelegate;
using platform::Settings;

class QuitGuardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        service::KeychainStore::remove(); // the start-up task must find no remembered key
        shellServer().useAsService();
        Settings::standard().setValue(QStringLiteral("skipWebTabs"), true);
        application = std::make_unique<app::VorlikDesktopApp>();
        application->delegate().setTerminateAction([this] { ++terminations; });
        application->mainWindow().show();
    }

    void TearDown() override
    {
        for (const QString &key : ActiveJobs::shared().runningKeys())
            ActiveJobs::shared().end(key);
        application.reset();
    }

    QAction *menuAction(const QString &name) const
    {
        return application->mainWindow().menuBar()->findChild<QAction *>(name);
    }

    std::unique_ptr<app::VorlikDesktopApp> application;
    int terminations = 0;
};

TEST(QuitGuardText, NamesTheRunningWorkInAFixedOrder)
{
    EXPECT_EQ(AppDelegate::runningWorkText({QStringLiteral("Conversion")}),
              QStringLiteral("Active work (Conversion) is still running. Stop it before quitting Vorlik."));
    EXPECT_EQ(AppDelegate::runningWorkText({QStringLiteral("Conversion"), QStringLiteral("Analysis")}),
              QStringLiteral("Active work (Analysis, Conversion) is still running. Stop it before quitting Vorlik."));
}

TEST_F(QuitGuardTest, QuitWhileAConversionRunsWarnsAndStaysOpen)
{
    ActiveJobs::shared().begin(QStringLiteral("Conversion"));
    AlertAnswerer answerer([](QMessageBox *box) { saveScreenshot(box, QStringLiteral("quit-guard-alert")); });

    QAction *quit = menuAction(QStringLiteral("quitAction"));
    ASSERT_NE(quit, nullptr);
    EXPECT_EQ(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->trigger();

    ASSERT_EQ(answerer.seen().size(), 1);
    EXPECT_EQ(answerer.seen().first().text, QStringLiteral("Work is still running"));
    EXPECT_EQ(answerer.seen().first().informativeText,
              QStringLiteral("Active work (Conversion) is still running. Stop it before quitting Vorlik."));
    EXPECT_EQ(answerer.seen().first().buttons, QStringList{QStringLiteral("OK")});
    EXPECT_EQ(terminations, 0);
    EXPECT_FALSE(application->delegate().isTerminating());
    EXPECT_TRUE(application->mainWindow().isVisible());

    // Once the work has ended, the same request quits without a word.
    ActiveJobs::shared().end(QStringLiteral("Conversion"));
    quit->trigger();
    EXPECT_EQ(answerer.seen().size(), 1);
    EXPECT_EQ(terminations, 1);
}

TEST_F(QuitGuardTest, ClosingTheMainWindowIsAQuitUnderTheSameGuard)
{
    ActiveJobs::shared().begin(QStringLiteral("Analysis"));
    ActiveJobs::shared().begin(QStringLiteral("Conversion"));
    AlertAnswerer answerer;

    EXPECT_FALSE(application->mainWindow().close());
    ASSERT_EQ(answerer.seen().size(), 1);
    EXPECT_EQ(answerer.seen().first().informativeText,
              QStringLiteral("Active work (Analysis, Conversion) is still running. Stop it before quitting Vorlik."));
    EXPECT_TRUE(application->mainWindow().isVisible());
    EXPECT_EQ(terminations, 0);

    ActiveJobs::shared().end(QStringLiteral("Analysis"));
    ActiveJobs::shared().end(QStringLiteral("Conversion"));
    EXPECT_TRUE(application->mainWindow().close());
    EXPECT_EQ(answerer.seen().size(), 1);
    EXPECT_EQ(terminations, 1);
    EXPECT_TRUE(application->delegate().isTerminating());
}

TEST_F(QuitGuardTest, QuittingWithNoWorkQuitsAtOnce)
{
    AlertAnswerer answerer;
    EXPECT_TRUE(application->delegate().requestQuit());
    EXPECT_EQ(terminations, 1);
    spinEventLoop(100);
    EXPECT_TRUE(answerer.seen().isEmpty());
    // A second request while quitting does not quit twice.
    EXPECT_TRUE(application->delegate().requestQuit());
    EXPECT_EQ(terminations, 1);
}

} // namespace
} // namespace vorlik::test

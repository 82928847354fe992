// The main window as the program shows it: title, size, the application menu, and a picture of
// every tab at the default size and at a small one.
#include "app/AppTab.h"
#include "app/MainWindow.h"
#include "app/RootView.h"
#include "app/VorlikDesktopApp.h"
#include "platform/Settings.h"
#include "service/KeychainStore.h"
#include "tests/app/ShellTestSupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QPalette>

#include <memory>

namespace vorlik::test {
namespace {

using platform::Settings;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        service::KeychainStore::remove(); // the start-up task must find no remembered key
        shellServer().reset();
        shellServer().useAsService();
        Settings::standard().setValue(QStringLiteral("skipWebTabs"), true);
        application = std::make_unique<app::VorlikDesktopApp>();
    }

    void TearDown() override { application.reset(); }

    std::unique_ptr<app::VorlikDesktopApp> application;
};

TEST_F(MainWindowTest, IsTitledAndSizedAndLight)
{
    app::MainWindow &window = application->mainWindow();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Vorlik Desktop"));
    EXPECT_EQ(window.objectName(), QStringLiteral("main"));
    // 1200 × 780 where that fits; the test screen is smaller, and the window fits inside it.
    const QSize available = window.screen()->availableGeometry().size();
    EXPECT_EQ(window.size(), app::MainWindow::defaultSize.boundedTo(available - app::MainWindow::frameAllowance));
    EXPECT_LE(window.minimumSizeHint().height(), available.height() - app::MainWindow::frameAllowance.height());
    EXPECT_LE(window.minimumSizeHint().width(), available.width() - app::MainWindow::frameAllowance.width());
    // Light whatever the desktop says: dark text on a light window.
    const QPalette palette = QApplication::palette();
    EXPECT_GT(palette.color(QPalette::Window).lightness(), 200);
    EXPECT_LT(palette.color(QPalette::WindowText).lightness(), 80);
}

TEST_F(MainWindowTest, TheApplicationMenuHoldsAboutPreferencesAndQuit)
{
    QMenuBar *bar = application->mainWindow().menuBar();
    ASSERT_EQ(bar->actions().size(), 1);
    QMenu *menu = bar->actions().first()->menu();
    ASSERT_NE(menu, nullptr);
    QStringList entries;
    for (QAction *action : menu->actions())
        entries.append(action->isSeparator() ? QStringLiteral("—") : action->text());
    EXPECT_EQ(entries, (QStringList{QStringLiteral("About Vorlik Desktop"), QStringLiteral("—"),
                                    QStringLiteral("Preferences…"), QStringLiteral("—"),
                                    QStringLiteral("Quit Vorlik Desktop")}));
    auto *preferences = bar->findChild<QAction *>(QStringLiteral("preferencesAction"));
    ASSERT_NE(preferences, nullptr);
    EXPECT_EQ(preferences->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(preferences->shortcutContext(), Qt::ApplicationShortcut);
}

TEST_F(MainWindowTest, PicturesOfEveryTabAtTwoSizes)
{
    app::MainWindow &window = application->mainWindow();
    window.show();
    app::RootView &root = application->rootView();
    ASSERT_TRUE(waitUntil([&] { return root.isStartupFinished(); }));
    for (const QSize size : {QSize(1200, 780), QSize(900, 600)}) {
        window.resize(size);
        for (app::AppTab tab : app::allTabs) {
            root.select(tab);
            saveScreenshot(&window, QStringLiteral("main-%1-%2x%3")
                                        .arg(app::title(tab).toLower())
                                        .arg(size.width())
                                        .arg(size.height()));
        }
    }
    // At the small size nothing of the tab bar is cut off.
    QWidget *pill = root.findChild<QWidget *>(QStringLiteral("connectionPill"));
    ASSERT_NE(pill, nullptr);
    EXPECT_LE(pill->mapTo(&root, QPoint(pill->width(), 0)).x(), root.width());
    EXPECT_GE(root.tabButton(app::AppTab::audioInfo)->width(), root.tabButton(app::AppTab::audioInfo)->sizeHint().width());
}

} // namespace
} // namespace vorlik::test

// The window without a mouse: the tab keys (the same switch as a click, log line and drop
// router included), Return and keypad Enter on buttons, Escape and Ctrl+W on the auxiliary
// windows, and Tab reaching every control of a window in the order it is seen.
#include "analysis/AnalysisView.h"
#include "app/AboutWindowController.h"
#include "app/AppTab.h"
#include "app/AppWindows.h"
#include "app/ConnectionPill.h"
#include "app/LightPalette.h"
#include "app/PreferencesWindowController.h"
#include "app/RootView.h"
#include "app/SignInPopover.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "service/KeychainStore.h"
#include "service/SessionStore.h"
#include "tests/app/ShellWindowTest.h"
#include "tests/support/TestFiles.h"
#include "update/UpdateManager.h"
#include "web/DropRouter.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace vorlik::test {
namespace {

using app::AppTab;
using platform::Settings;

class KeyboardTest : public ShellWindowTest {};

TEST_F(KeyboardTest, TabKeysSwitchTabsAsAClickDoes)
{
    struct Case {
        const char *keys;
        AppTab from;
        AppTab to;
    };
    const Case cases[] = {
        {"Ctrl+Tab", AppTab::analysis, AppTab::cinema},
        {"Ctrl+Tab", AppTab::audioInfo, AppTab::analysis},
        {"Ctrl+Shift+Tab", AppTab::convert, AppTab::cinema},
        {"Ctrl+Shift+Tab", AppTab::analysis, AppTab::audioInfo},
        {"Ctrl+PgDown", AppTab::cinema, AppTab::convert},
        {"Ctrl+PgUp", AppTab::cinema, AppTab::analysis},
        {"Alt+1", AppTab::convert, AppTab::analysis},
        {"Alt+2", AppTab::analysis, AppTab::cinema},
        {"Alt+3", AppTab::analysis, AppTab::convert},
        {"Alt+4", AppTab::analysis, AppTab::audioInfo},
    };
    app::RootView &root = shownView();
    // From inside a page, where the focus usually is, and from the tab row, where the focus
    // follows the selected tab.
    for (const bool fromTabRow : {false, true}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(c.keys) + (fromTabRow ? " from the tab row" : " from the page"));
            root.select(c.from);
            LogLines ui(QStringLiteral("ui"));
            QWidget *focus = fromTabRow ? root.tabButton(c.from) : root.page(c.from);
            focus->setFocus(Qt::TabFocusReason);
            QTest::keySequence(QApplication::focusWidget() ? QApplication::focusWidget() : &root,
                               QKeySequence(QString::fromLatin1(c.keys)));
            EXPECT_EQ(root.selected(), c.to);
            EXPECT_TRUE(root.tabButton(c.to)->isChecked());
            EXPECT_TRUE(root.page(c.to)->isVisible());
            EXPECT_EQ(web::DropRouter::shared().webTabActive, c.to == AppTab::analysis || c.to == AppTab::cinema);
            EXPECT_EQ(ui.lines(), QStringList{QStringLiteral("tab switched to ") + app::title(c.to)});
            if (fromTabRow)
                EXPECT_TRUE(root.tabButton(c.to)->hasFocus());
        }
    }
}

TEST_F(KeyboardTest, ReturnAndEnterPressTheFocusedButton)
{
    app::RootView &root = shownView();
    root.tabButton(AppTab::convert)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(root.selected(), AppTab::convert);
    root.tabButton(AppTab::audioInfo)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(root.selected(), AppTab::audioInfo);

    root.pill()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(root.pill(), Qt::Key_Return);
    EXPECT_TRUE(waitUntil([&] { return root.signInPopover()->isVisible(); }, 2000));
    root.signInPopover()->close();
}

TEST_F(KeyboardTest, AltKeysAreNotTypedIntoTheKeyFields)
{
    app::RootView &root = shownView();
    struct Case {
        const char *field;
        std::function<QLineEdit *()> open;
    };
    const Case cases[] = {
        {"sign-in",
         [&] {
             QTest::mouseClick(root.pill(), Qt::LeftButton);
             EXPECT_TRUE(root.signInPopover()->isVisible());
             return root.signInPopover()->keyField();
         }},
        {"Preferences",
         [&] {
             windows->showPreferences();
             showActive(windows->preferences().window());
             return windows->preferences().window()->findChild<QLineEdit *>(QStringLiteral("rememberedKeyField"));
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.field);
        QLineEdit *field = c.open();
        ASSERT_NE(field, nullptr);
        field->setFocus();
        // With their text, through the window as a keyboard sends them.
        for (char digit : {'1', '2', '3', '4'})
            QTest::keyClick(field->window()->windowHandle(), digit, Qt::AltModifier);
        EXPECT_EQ(field->text(), QString());
        QTest::keyClicks(field, QStringLiteral("k1"));
        EXPECT_EQ(field->text(), QStringLiteral("k1"));
        field->clear();
        field->window()->close();
    }
}

TEST_F(KeyboardTest, EscapeAndCtrlWCloseTheAuxiliaryWindows)
{
    struct Case {
        const char *window;
        const char *keys;
    };
    for (const Case &c : {Case{"Preferences", "Esc"}, Case{"Preferences", "Ctrl+W"}, Case{"About", "Esc"},
                          Case{"About", "Ctrl+W"}}) {
        SCOPED_TRACE(std::string(c.window) + " " + c.keys);
        QWidget *window = QLatin1String(c.window) == QLatin1String("About") ? windows->about().window()
                                                                              : windows->preferences().window();
        showActive(window);
        QTest::keySequence(QApplication::focusWidget() ? QApplication::focusWidget() : window,
                           QKeySequence(QString::fromLatin1(c.keys)));
        EXPECT_FALSE(window->isVisible());
    }
}

// The controls Tab stops at, in the order Tab visits them from the window's first one.
QList<QWidget *> tabChain(QWidget *window)
{
    QList<QWidget *> visited;
    window->activateWindow();
    window->setFocus();
    QTest::keyClick(window, Qt::Key_Tab);
    while (QWidget *focus = QApplication::focusWidget()) {
        if (visited.contains(focus) || visited.size() > 200)
            break;
        visited.append(focus);
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    return visited;
}

QString describe(const QWidget *widget)
{
    return QStringLiteral("%1 %2").arg(QString::fromLatin1(widget->metaObject()->className()),
                                        widget->objectName().isEmpty() ? widget->accessibleName() : widget->objectName());
}

// Every control that takes the focus by Tab is reached, none twice, and none lies wholly above
// the control Tab came from unless it starts a column to its right.
void expectTabReachesAllInVisualOrder(QWidget *window)
{
    const QList<QWidget *> chain = tabChain(window);
    ASSERT_FALSE(chain.isEmpty());
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(window) || !widget->isEnabled() || !(widget->focusPolicy() & Qt::TabFocus)
            || widget->focusProxy())
            continue;
        EXPECT_TRUE(chain.contains(widget)) << describe(widget).toStdString() << " is not reached by Tab";
    }
    for (QWidget *widget : chain) {
        // A scroll area that takes the focus shows no mark of it.
        EXPECT_EQ(qobject_cast<QAbstractScrollArea *>(widget), nullptr) << describe(widget).toStdString();
    }
    for (qsizetype index = 1; index < chain.size(); ++index) {
        const QRect before(chain[index - 1]->mapTo(window, QPoint(0, 0)), chain[index - 1]->size());
        const QRect after(chain[index]->mapTo(window, QPoint(0, 0)), chain[index]->size());
        // The next column starts at the top again; going back up to the left is out of order.
        const bool nextColumn = after.left() >= before.right();
        EXPECT_FALSE(after.bottom() < before.top() && !nextColumn)
            << describe(chain[index]).toStdString() << " comes after " << describe(chain[index - 1]).toStdString()
            << " but lies above it";
    }
}

TEST_F(KeyboardTest, TabReachesEveryControlInVisualOrder)
{
    {
        SCOPED_TRACE("Preferences");
        windows->showPreferences();
        QWidget *preferences = windows->preferences().window();
        showActive(preferences);
        expectTabReachesAllInVisualOrder(preferences);
        preferences->close();
    }
    app::RootView &root = shownView();
    // Queued files give the Analysis page its item cards, whose controls come between the drop
    // card's and the status bar's.
    QTemporaryDir files;
    QList<QUrl> takes;
    for (const QString &name : {QStringLiteral("Take 1.wav"), QStringLiteral("Take 2.wav")}) {
        writeFile(files.filePath(name), QByteArray(64, '\0'));
        takes.append(QUrl::fromLocalFile(files.filePath(name)));
    }
    auto *analysisPage = qobject_cast<analysis::AnalysisView *>(root.page(AppTab::audioInfo));
    ASSERT_NE(analysisPage, nullptr);
    analysisPage->enqueue(takes);
    ASSERT_EQ(analysisPage->itemCards().size(), 2);
    for (AppTab tab : {AppTab::convert, AppTab::audioInfo}) {
        SCOPED_TRACE(app::title(tab).toStdString());
        root.select(tab);
        spinEventLoop(50);
        expectTabReachesAllInVisualOrder(&root);
    }
}

TEST_F(KeyboardTest, TheSelectedTabIsTheTabStopAndArrowsMoveBetweenTabs)
{
    struct Case {
        Qt::Key key;
        AppTab from;
        AppTab to;
    };
    const Case cases[] = {
        {Qt::Key_Right, AppTab::analysis, AppTab::cinema}, {Qt::Key_Right, AppTab::audioInfo, AppTab::analysis},
        {Qt::Key_Left, AppTab::cinema, AppTab::analysis},  {Qt::Key_Left, AppTab::analysis, AppTab::audioInfo},
        {Qt::Key_Home, AppTab::convert, AppTab::analysis}, {Qt::Key_End, AppTab::cinema, AppTab::audioInfo},
    };
    app::RootView &root = shownView();
    for (const Case &c : cases) {
        SCOPED_TRACE(app::title(c.from).toStdString() + " " + QKeySequence(c.key).toString().toStdString());
        // The tab last focused by a click is not the selected one.
        root.tabButton(AppTab::convert)->setFocus(Qt::MouseFocusReason);
        root.select(c.from);
        root.tabButton(c.from)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(root.tabButton(c.from), c.key);
        EXPECT_EQ(root.selected(), c.to);
        EXPECT_TRUE(root.tabButton(c.to)->hasFocus());
        QList<QWidget *> tabStops;
        for (QWidget *widget : tabChain(&root))
            if (widget->property("appTab").toBool())
                tabStops.append(widget);
        EXPECT_EQ(tabStops, QList<QWidget *>{root.tabButton(c.to)});
    }
}

} // namespace
} // namespace vorlik::test

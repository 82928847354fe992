#include "analysis/AnalysisView.h"
#include "app/AboutWindowController.h"
#include "app/PreferencesWindowController.h"
#include "app/SignInPopover.h"
#include "tests/app/ShellWindowTest.h"
#include "web/DropRouter.h"

#include <QAbstractScrollArea>
#include <QAccessible>

namespace vorlik::test {
namespace {

using app::AppTab;

using KeyboardTest = ShellWindowTest;

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

TEST_F(KeyboardTest, TabKeysArrowsReturnAndAScreenReadersPressSwitchTabsAsAClickDoes)
{
    // From inside a page, where the focus usually is; on the selected tab, where the focus
    // follows the selected tab; on another tab (Return, Enter); a screen reader's press; a click.
    enum Where { page, onSelected, onTarget, pressed, clicked };
    struct Case { const char *keys; Where where; AppTab from, to; };
    using enum AppTab;
    const Case cases[] = {
        {"Ctrl+Tab", page, analysis, cinema}, {"Ctrl+Tab", onSelected, audioInfo, analysis},
        {"Ctrl+Shift+Tab", page, convert, cinema}, {"Ctrl+Shift+Tab", onSelected, analysis, audioInfo},
        {"Ctrl+PgDown", onSelected, cinema, convert}, {"Ctrl+PgUp", page, cinema, analysis},
        {"Alt+1", page, convert, analysis}, {"Alt+2", onSelected, analysis, cinema},
        {"Alt+3", page, analysis, convert}, {"Alt+4", onSelected, analysis, audioInfo},
        {"Right", onSelected, analysis, cinema}, {"Right", onSelected, audioInfo, analysis},
        {"Left", onSelected, cinema, analysis}, {"Left", onSelected, analysis, audioInfo},
        {"Home", onSelected, convert, analysis}, {"End", onSelected, cinema, audioInfo},
        {"Return", onTarget, analysis, convert}, {"Num+Enter", onTarget, convert, audioInfo},
        {"", pressed, analysis, convert}, {"", clicked, cinema, audioInfo},
        {"", clicked, convert, convert}, // the selected tab again: no switch
    };
    app::RootView &root = shownView();
    QList<QPointer<QWidget>> pages;
    for (AppTab tab : app::allTabs)
        pages.append(root.page(tab));
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.keys) + " " + std::to_string(c.where) + " from " + app::title(c.from).toStdString());
        // The tab last focused by a click is not the selected one.
        root.tabButton(AppTab::convert)->setFocus(Qt::MouseFocusReason);
        root.select(c.from);
        LogLines ui(QStringLiteral("ui"));
        if (c.where == pressed) {
            QAccessibleInterface *tab = QAccessible::queryAccessibleInterface(root.tabButton(c.to));
            tab->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        } else if (c.where == clicked) {
            QTest::mouseClick(root.tabButton(c.to), Qt::LeftButton);
        } else {
            QWidget *focus = c.where == page ? root.page(c.from) : root.tabButton(c.where == onTarget ? c.to : c.from);
            focus->setFocus(Qt::TabFocusReason);
            QTest::keySequence(QApplication::focusWidget(), QKeySequence(c.keys));
        }
        EXPECT_EQ(root.selected(), c.to);
        EXPECT_EQ(web::DropRouter::shared().webTabActive, c.to == AppTab::analysis || c.to == AppTab::cinema);
        EXPECT_EQ(ui.lines(), c.from == c.to ? QStringList() : QStringList{"tab switched to " + app::title(c.to)});
        // Every page is kept alive; only the selected one is shown and active.
        for (AppTab tab : app::allTabs) {
            ASSERT_EQ(root.page(tab), pages.at(int(tab)).data()) << app::title(tab).toStdString();
            EXPECT_EQ(root.page(tab)->isVisible(), tab == c.to);
            EXPECT_EQ(root.page(tab)->property("active").toBool(), tab == c.to);
            EXPECT_EQ(root.tabButton(tab)->isChecked(), tab == c.to);
            EXPECT_EQ(QAccessible::queryAccessibleInterface(root.tabButton(tab))->state().selected, tab == c.to);
        }
        if (c.where == page || c.where == pressed || c.where == clicked)
            continue;
        EXPECT_TRUE(root.tabButton(c.to)->hasFocus());
        // The selected tab is the tab row's one Tab stop.
        QList<QWidget *> tabStops;
        for (QWidget *widget : tabChain(&root))
            if (widget->property("appTab").toBool())
                tabStops.append(widget);
        EXPECT_EQ(tabStops, QList<QWidget *>{root.tabButton(c.to)});
    }
}

std::string describe(const QWidget *widget)
{
    const QString name = widget->objectName().isEmpty() ? widget->accessibleName() : widget->objectName();
    return widget->metaObject()->className() + (" " + name).toStdString();
}

// Every control that takes the focus by Tab is reached, none twice, each named for a screen
// reader, no scroll area (it would show no mark of the focus), and none lies wholly above the
// control Tab came from unless it starts a column to its right.
void expectTabReachesAllInVisualOrder(QWidget *window)
{
    const QList<QWidget *> chain = tabChain(window);
    ASSERT_FALSE(chain.isEmpty());
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        if (widget->isVisibleTo(window) && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy()) {
            EXPECT_TRUE(chain.contains(widget)) << describe(widget) << " is not reached by Tab";
        }
    }
    for (qsizetype index = 0; index < chain.size(); ++index) {
        EXPECT_EQ(qobject_cast<QAbstractScrollArea *>(chain[index]), nullptr) << describe(chain[index]);
        EXPECT_FALSE(QAccessible::queryAccessibleInterface(chain[index])->text(QAccessible::Name).isEmpty())
            << describe(chain[index]) << " has no name for a screen reader";
        if (index == 0)
            continue;
        const QRect before(chain[index - 1]->mapTo(window, QPoint(0, 0)), chain[index - 1]->size());
        const QRect after(chain[index]->mapTo(window, QPoint(0, 0)), chain[index]->size());
        EXPECT_FALSE(after.bottom() < before.top() && after.left() < before.right())
            << describe(chain[index]) << " comes after " << describe(chain[index - 1]) << " but lies above it";
    }
}

TEST_F(KeyboardTest, AltKeysAreNotTypedEscapeOrCtrlWCloseTheAuxiliaryWindowsAndTabReachesEveryControlInVisualOrder)
{
    app::RootView &root = shownView();
    const std::function<QLineEdit *()> opens[] = {
        [&] {
            // Return on the pill opens the sign-in popover.
            root.pill()->setFocus(Qt::TabFocusReason);
            QTest::keyClick(root.pill(), Qt::Key_Return);
            EXPECT_TRUE(QTest::qWaitFor([&] { return root.signInPopover()->isVisible(); }, 30000));
            return root.signInPopover()->keyField();
        },
        [&] {
            windows->showPreferences();
            showActive(windows->preferences().window());
            return windows->preferences().window()->findChild<QLineEdit *>("rememberedKeyField");
        },
    };
    for (const auto &open : opens) {
        QLineEdit *field = open();
        ASSERT_NE(field, nullptr);
        SCOPED_TRACE(field->window()->windowTitle().toStdString());
        field->setFocus();
        // With their text, through the window as a keyboard sends them.
        for (char digit : {'1', '2', '3', '4'})
            QTest::keyClick(field->window()->windowHandle(), digit, Qt::AltModifier);
        EXPECT_EQ(field->text(), QString());
        QTest::keyClicks(field, "k1");
        EXPECT_EQ(field->text(), "k1");
        field->clear();
        field->window()->close();
    }
    for (QWidget *window : {windows->preferences().window(), windows->about().window()}) {
        for (const char *keys : {"Esc", "Ctrl+W"}) {
            SCOPED_TRACE(window->windowTitle().toStdString() + " " + keys);
            showActive(window);
            QTest::keySequence(QApplication::focusWidget() ? QApplication::focusWidget() : window, QKeySequence(keys));
            EXPECT_FALSE(window->isVisible());
        }
    }

    windows->showPreferences();
    showActive(windows->preferences().window());
    expectTabReachesAllInVisualOrder(windows->preferences().window());
    windows->preferences().window()->close();
    showActive(&root);
    // Queued files give the Analysis page its item cards, whose controls come between the drop
    // card's and the status bar's.
    QTemporaryDir files;
    QList<QUrl> takes;
    for (const QString name : {"Take 1.wav", "Take 2.wav"}) {
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
        QTest::qWait(50);
        expectTabReachesAllInVisualOrder(&root);
    }
}

} // namespace
} // namespace vorlik::test

#include "analysis/AnalysisCard.h"
#include "analysis/AnalysisItemCard.h"
#include "analysis/AnalysisStatusBar.h"
#include "analysis/AnalysisView.h"
#include "analysis/PageStyle.h"
#include "app/BuildTag.h"
#include "app/SignInPopover.h"
#include "app/UpdateBadge.h"
#include "app/WebTabsModule.h"
#include "convert/CardItemDelegate.h"
#include "convert/QueueModel.h"
#include "ffmpeg/FFmpegInstallSheet.h"
#include "tests/app/ShellWindowTest.h"

#include <QAccessible>
#include <QComboBox>
#include <QLibraryInfo>
#include <QListView>

#include <cmath>

namespace vorlik::test {
namespace {

using app::AppTab;

// WCAG 2.1 contrast ratio of two colours.
double contrast(const QColor &a, const QColor &b)
{
    const auto luminance = [](const QColor &colour) {
        const auto channel = [](double value) {
            return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
    };
    const double lighter = std::max(luminance(a), luminance(b));
    const double darker = std::min(luminance(a), luminance(b));
    return (lighter + 0.05) / (darker + 0.05);
}

// The strongest contrast between what focus changed in a control's picture (on the window's
// background, as seen) and what was there.
double focusMarkContrast(QWidget *widget)
{
    const auto picture = [widget] {
        return widget->window()->grab(QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size())).toImage();
    };
    widget->clearFocus();
    QTest::qWait(30);
    const QImage without = picture();
    widget->setFocus(Qt::TabFocusReason);
    QTest::qWait(30);
    EXPECT_TRUE(widget->hasFocus());
    const QImage with = picture();
    double strongest = 1;
    for (int y = 0; y < std::min(with.height(), without.height()); ++y)
        for (int x = 0; x < std::min(with.width(), without.width()); ++x)
            if (with.pixel(x, y) != without.pixel(x, y))
                strongest = std::max(strongest, contrast(with.pixelColor(x, y), without.pixelColor(x, y)));
    return strongest;
}

class AccessibilityTest : public ShellWindowTest {
protected:
    void SetUp() override
    {
        ShellWindowTest::SetUp();
        shownView();
    }
};

TEST_F(AccessibilityTest, FocusShowsTabsArePageTabsThePopoverIsADialogStatusTextsHaveContrastAndConvertControlsAreNamed)
{
    // A focus mark needs 3:1 against what it covers to be seen.
    view->updateBadge()->setVisible(true);
    for (QWidget *control :
         QList<QWidget *>{view->tabButton(AppTab::analysis), view->tabButton(AppTab::convert), view->updateBadge(), view->pill()})
        EXPECT_GE(focusMarkContrast(control), 3.0) << control->objectName().toStdString();
    view->updateBadge()->setVisible(false);
    view->tabButton(AppTab::convert)->setFocus(Qt::TabFocusReason);
    saveScreenshot(view.get(), "focus-on-tab-button");

    for (AppTab tab : app::allTabs) {
        QAccessibleInterface *button = QAccessible::queryAccessibleInterface(view->tabButton(tab));
        SCOPED_TRACE(app::title(tab).toStdString());
        EXPECT_EQ(button->role(), QAccessible::PageTab);
        EXPECT_EQ(button->text(QAccessible::Name), app::title(tab));
        EXPECT_EQ(button->parent()->role(), QAccessible::PageTabList);
        ASSERT_NE(button->actionInterface(), nullptr);
        EXPECT_EQ(button->actionInterface()->actionNames(), QStringList{QAccessibleActionInterface::pressAction()});
    }
    QTest::mouseClick(view->pill(), Qt::LeftButton);
    ASSERT_TRUE(view->signInPopover()->isVisible());
    QAccessibleInterface *popover = QAccessible::queryAccessibleInterface(view->signInPopover());
    EXPECT_EQ(popover->role(), QAccessible::Dialog);
    EXPECT_EQ(popover->text(QAccessible::Name), "Sign in");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(view->signInPopover()->keyField())->text(QAccessible::Name), "Client key");
    view->signInPopover()->close();

    using analysis::AnalysisView;
    using app::ConnectionPill;
    using service::ConnectionState;
    view->select(AppTab::audioInfo);
    QTest::qWait(50);
    auto *connection = view->page(AppTab::audioInfo)->findChild<QWidget *>("connectionLabel");
    ASSERT_NE(connection, nullptr);
    // The card's background as drawn, at the label's top-left corner.
    const QColor card = view->grab(QRect(connection->mapTo(view.get(), QPoint(1, 1)), QSize(1, 1))).toImage().pixelColor(0, 0);
    analysis::AnalysisCard failedCard;
    failedCard.setFailed(true);
    failedCard.resize(120, 60);
    const QColor failedFill = failedCard.grab().toImage().pixelColor(60, 30);
    view->select(AppTab::convert);
    QTest::qWait(50);
    auto *queue = view->page(AppTab::convert)->findChild<QListView *>("queueView");
    ASSERT_NE(queue, nullptr);
    const QColor row = queue->viewport()->palette().color(queue->viewport()->backgroundRole());
    const QPalette palette = view->palette();

    struct Case { const char *what; QColor text, background; };
    for (const Case &c : {
             Case{"Connected", AnalysisView::connectionColor(ConnectionState::connected("c")), card},
             Case{"Connecting", AnalysisView::connectionColor(ConnectionState::connecting()), card},
             Case{"Sign-in failed", AnalysisView::connectionColor(ConnectionState::failed("x")), card},
             Case{"Offline", AnalysisView::connectionColor(ConnectionState::disconnected()), card},
             Case{"failed card", analysis::AnalysisCard::failedColor(), failedFill},
             Case{"failed card's secondary text", analysis::style::secondaryText, failedFill},
             Case{"usage pending", ConnectionPill::pendingColor(), ConnectionPill::fillColor(palette, false, false)},
             Case{"usage pending, hovered", ConnectionPill::pendingColor(), ConnectionPill::fillColor(palette, false, true)},
             Case{"usage pending, pressed", ConnectionPill::pendingColor(), ConnectionPill::fillColor(palette, true, false)},
             Case{"queue done", convert::QueueModel::doneColor(), row}, Case{"queue failed", convert::QueueModel::failedColor(), row},
             Case{"FFmpeg install failed", ffmpeg::FFmpegInstallSheet::failedColor(), QApplication::palette().color(QPalette::Window)}})
        EXPECT_GE(contrast(c.text, c.background), 4.5)
            << c.what << ": " << c.text.name().toStdString() << " on " << c.background.name().toStdString();

    view->select(AppTab::convert);
    QStringList names;
    for (QWidget *card : view->page(AppTab::convert)->findChildren<QWidget *>())
        if (card->objectName().startsWith("presetCard-"))
            for (QAbstractButton *button : card->findChildren<QAbstractButton *>())
                if (button->text() == "Choose Files")
                    names.append(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name));
    EXPECT_EQ(names.size(), 4);
    names.removeDuplicates();
    EXPECT_EQ(names.size(), 4) << names.join(", ").toStdString();

    // A picker is named by its label; its value is the choice, and its choices are its items,
    // the current one selected.
    QStringList pickers;
    for (auto *picker : view->page(AppTab::convert)->findChildren<QComboBox *>("picker")) {
        const QSignalBlocker quiet(picker);
        if (picker->count() == 0) // signed out, no presets listed: any choices will do
            picker->addItems({"AAC 256 kbps", "MP3 320 kbps"});
        picker->setCurrentIndex(picker->count() - 1);
        QAccessibleInterface *shown = QAccessible::queryAccessibleInterface(picker);
        pickers.append(shown->text(QAccessible::Name));
        SCOPED_TRACE(pickers.back().toStdString());
        EXPECT_EQ(shown->text(QAccessible::Value), picker->currentText());
        ASSERT_EQ(shown->childCount(), picker->count());
        for (int row = 0; row < picker->count(); ++row) {
            QAccessibleInterface *item = shown->child(row);
            ASSERT_NE(item, nullptr) << row;
            EXPECT_EQ(item->role(), QAccessible::ListItem);
            EXPECT_EQ(item->text(QAccessible::Name), picker->itemText(row));
            EXPECT_EQ(item->state().selected, row == picker->currentIndex()) << row;
            EXPECT_EQ(item->parent(), shown);
            EXPECT_EQ(shown->indexOfChild(item), row);
        }
    }
    pickers.sort();
    EXPECT_EQ(pickers, (QStringList{"CODEC", "TARGET"}));
}

TEST(CardItemLine, TheNameGivesWayNeverTheStatus)
{
    using convert::CardItemDelegate;
    const QFontMetrics metrics(QApplication::font());
    const QString name = "a_tone_with_a_rather_long_name.wav", status = "✓ Done → a_tone_with_a_rather_long_name_aac.m4a";
    const int statusWidth = metrics.horizontalAdvance(CardItemDelegate::separator() + status);
    // Wide: the status whole, the name whole or shortened. Narrower: the output's name gives way
    // inside the status; the source keeps a part, and the status its mark.
    for (int room : {statusWidth + 400, statusWidth + 120, statusWidth, statusWidth * 2 / 3}) {
        const CardItemDelegate::Line line = CardItemDelegate::fit(name, status, metrics, room);
        SCOPED_TRACE(room);
        EXPECT_LE(metrics.horizontalAdvance(line.name + line.status), room);
        if (room > statusWidth) {
            EXPECT_EQ(line.status, CardItemDelegate::separator() + status);
            EXPECT_TRUE(line.name == name || line.name.contains(QChar(0x2026))) << line.name.toStdString();
            continue;
        }
        EXPECT_TRUE(line.status.startsWith(CardItemDelegate::separator() + "✓ Done → ") && line.status.endsWith(".m4a"))
            << line.status.toStdString();
        EXPECT_GE(line.name.size(), 6) << line.name.toStdString();
    }
}

TEST_F(AccessibilityTest, AnAnalysisCardsDisclosureTellsItsStateAndLongTextsAreShortenedNotCut)
{
    run(store->connect(shellServer().demoKey()));
    view->select(AppTab::audioInfo);
    auto *page = qobject_cast<analysis::AnalysisView *>(view->page(AppTab::audioInfo));
    ASSERT_NE(page, nullptr);
    QTemporaryDir files;
    const QString name = "A very long recording name from the second day of the session, take 14 (final mix).wav";
    writeFile(files.filePath(name), QByteArray(64, '\0'));
    page->enqueue({QUrl::fromLocalFile(files.filePath(name))});
    ASSERT_EQ(page->itemCards().size(), 1);
    analysis::AnalysisItemCard *card = page->itemCards().front();

    QAccessibleInterface *chevron = QAccessible::queryAccessibleInterface(card->chevron());
    EXPECT_EQ(chevron->role(), QAccessible::Button);
    EXPECT_TRUE(chevron->state().expandable && chevron->state().collapsed && !chevron->state().expanded);
    ASSERT_NE(chevron->actionInterface(), nullptr);
    for (const bool open : {true, false}) {
        chevron->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_EQ(page->isExpanded(card->itemID()), open);
        EXPECT_TRUE(chevron->state().expanded == open && chevron->state().collapsed == !open) << open;
        EXPECT_EQ(chevron->text(QAccessible::Name), open ? "Hide details" : "Show details");
    }

    // At the window's minimum width.
    ASSERT_TRUE(QTest::qWaitFor([&] { return card->clearButton()->isVisibleTo(card); }, 30000));
    const QString finished = "Queue finished — 12 analysed, 3 failed. Click a red card for details.";
    page->runner().setStatusLine(finished);
    view->resize(view->minimumSize());
    QTest::qWait(50);
    saveScreenshot(view.get(), "analysis-card-long-name-minimum-width");
    const QRect inCard(QPoint(0, 0), card->size());
    const auto shown = [&](QWidget *widget) { return QRect(widget->mapTo(card, QPoint(0, 0)), widget->size()); };
    EXPECT_TRUE(inCard.contains(shown(card->clearButton()))) << "Clear lies within its card";
    EXPECT_TRUE(inCard.contains(shown(card->statusLabel())));
    QLabel *cardStatus = card->statusLabel();
    EXPECT_GE(cardStatus->width(), cardStatus->fontMetrics().horizontalAdvance(cardStatus->text())) << "the status is whole";
    EXPECT_EQ(card->nameLabel()->toolTip(), name);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(card->nameLabel())->text(QAccessible::Name), name);
    EXPECT_TRUE(card->nameLabel()->text().contains(QChar(0x2026))) << "the name is shortened in its middle";

    QLabel *status = page->statusBar()->statusLabel();
    EXPECT_LE(status->fontMetrics().horizontalAdvance(status->text()), status->contentsRect().width())
        << "the status line fits: " << status->text().toStdString();
    EXPECT_TRUE(status->text().endsWith(QChar(0x2026))) << "the status line ends in an ellipsis";
    EXPECT_EQ(status->toolTip(), finished);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(status)->text(QAccessible::Name), finished);
    for (auto *program : view->findChildren<QLabel *>("appLabel"))
        EXPECT_TRUE(!program->isVisible() || program->mapTo(view.get(), QPoint(program->width(), 0)).x() <= view->width())
            << "the program's name and version end within the window";
    QLabel *tag = view->buildTag();
    EXPECT_LE(tag->fontMetrics().horizontalAdvance(tag->text()), tag->contentsRect().width()) << "the build tag fits";
    EXPECT_EQ(tag->toolTip(), app::BuildTag::tagText(view->serverBuild()));
}

using MissingWebModuleTest = ShellWindowTest;

TEST_F(MissingWebModuleTest, TheWebTabsSayWhyTheyCannotBeShown)
{
    QTemporaryDir empty;
    app::WebTabsModule::setProgramFolder(empty.path());
    platform::Settings::standard().setValue("skipWebTabs", false);
    shownView();
    for (AppTab tab : {AppTab::analysis, AppTab::cinema}) {
        QLabel *said = nullptr;
        ASSERT_TRUE(QTest::qWaitFor([&] { return (said = view->page(tab)->findChild<QLabel *>("webTabUnavailable")); }, 30000));
        const QString text = said->text();
        EXPECT_TRUE(text.contains(" cannot be shown: ") && text.contains("vorlik-web-tabs.so not found beside the program")
                    && text.endsWith(diagnostics::DiagnosticsLogger::shared().logFilePath())) << text.toStdString();
    }
    app::WebTabsModule::setProgramFolder({});

    // A library that is not the module: the reason is its own, not "Unknown error".
    const QString other = QLibraryInfo::path(QLibraryInfo::LibrariesPath) + "/libQt6Test.so.6";
    QString failure;
    EXPECT_EQ(app::WebTabsModule::open(other, &failure), nullptr);
    EXPECT_EQ(failure, other + ": the module has no entry point vorlik_web_tabs");
}

} // namespace
} // namespace vorlik::test

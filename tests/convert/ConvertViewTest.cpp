#include "analysis/CardDropTarget.h"
#include "analysis/DropArea.h"
#include "convert/ConvertView.h"
#include "convert/PresetCard.h"
#include "convert/PresetSelection.h"
#include "convert/QueueModel.h"
#include "ffmpeg/FFmpegInstallSheet.h"
#include "ffmpeg/FFmpegLocator.h"
#include "tests/convert/RunnerFixture.h"
#include "tests/support/DropEvents.h"
#include "tests/support/Screenshots.h"
#include "web/DropRouter.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QToolTip>

using namespace vorlik;
using namespace vorlik::test;
using convert::ConvertRunner;
using convert::ConvertView;
using convert::PresetSelection;
using convert::QueueModel;
using service::Preset;

namespace {

const QSize windowSize(1200, 780);

platform::Settings &settings() { return platform::Settings::standard(); }

const QStringList hookKeys{"autoStartConvert", "ffmpegPathOverride", "exportLocation", "exportFolderPath", "connectKey", "autoConvert"};

// No ffmpeg to be found while it lives: PATH leads nowhere and the managed copy is gone.
class NoFFmpeg {
public:
    NoFFmpeg() : m_path(qgetenv("PATH"))
    {
        QDir(ffmpeg::FFmpegLocator::toolsDir()).removeRecursively();
        qputenv("PATH", "/nonexistent-vorlik-bin");
    }
    ~NoFFmpeg() { qputenv("PATH", m_path); }

private:
    QByteArray m_path;
};

// The file manager's interface on the session bus, as a desktop offers it.
class FileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;

public slots:
    Q_SCRIPTABLE void ShowItems(const QStringList &uris, const QString &) { shown << uris; }
};

// Where QDesktopServices would have sent an address.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

QFileDialog *openDialog(QWidget *owner, const QString &name)
{
    QFileDialog *found = nullptr;
    (void)QTest::qWaitFor([&] { return (found = owner->findChild<QFileDialog *>(name)) != nullptr && found->isVisible(); }, 5000);
    return found;
}

// A list's item as a screen reader walks it: a leaf of its list, in the list's window, whose texts
// only the program changes.
void expectListItem(QAccessibleInterface *item, QAccessibleInterface *list, int index)
{
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->role(), QAccessible::ListItem);
    EXPECT_EQ(item->parent(), list);
    EXPECT_EQ(list->indexOfChild(item), index);
    EXPECT_EQ(item->window(), list->window());
    EXPECT_TRUE(item->childCount() == 0 && !item->child(0) && !item->childAt(0, 0) && !item->focusChild());
    EXPECT_TRUE(item->indexOfChild(list) == -1 && list->indexOfChild(list) == -1);
    const QString name = item->text(QAccessible::Name);
    item->setText(QAccessible::Name, "renamed");
    EXPECT_EQ(item->text(QAccessible::Name), name);
    EXPECT_TRUE(item->text(QAccessible::Value).isEmpty());
    EXPECT_FALSE(list->child(-1) || list->child(list->childCount()));
}

// Signed in with the demo key, no ffmpeg in the tools folder, no start-up hooks.
class ConvertViewTest : public RunnerFixture {
protected:
    void SetUp() override
    {
        RunnerFixture::SetUp();
        for (const QString &key : hookKeys)
            settings().remove(key);
        QDir(ffmpeg::FFmpegLocator::toolsDir()).removeRecursively();
    }
    void TearDown() override
    {
        for (const QString &key : hookKeys)
            settings().remove(key);
        web::DropRouter::shared() = web::DropRouter();
        RunnerFixture::TearDown();
    }

    QString clip(const QString &relative) const
    {
        return TestMedia::make(path(relative), {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=0.5", "-f", "lavfi", "-i",
                                                "sine=frequency=330:sample_rate=48000:duration=0.5", "-shortest", "-c:v", "libx264",
                                                "-pix_fmt", "yuv420p", "-c:a", "aac"});
    }
    // An ffmpeg that takes its time (and leaves a mark that it ran).
    QString slowFFmpeg(double seconds) const
    {
        return TestMedia::script(path("bin/slow-ffmpeg"), "echo ran >> '" + path("bin/ran").toUtf8() + "'\nsleep " + QByteArray::number(seconds)
                                                              + "\nexec '" + TestMedia::ffmpeg().toUtf8() + "' \"$@\"\n");
    }
    // The page as the selected tab shows it.
    static void show(ConvertView &view)
    {
        view.setActive(true);
        view.resize(windowSize);
        view.show();
    }
    static bool settled(ConvertView &view) { return QTest::qWaitFor([&] { return !view.runner().isRunning(); }, runCap); }
    static bool drop(ConvertView &view, const QString &card, const QStringList &files)
    {
        return dropFiles(view.card(card)->dropTarget(), files);
    }
};

// What the page's own runs do not reach: a stored choice that is gone, a name without a preset,
// and cards whose presets are missing.
TEST(PresetSelectionRules, FallBackOrFindNothing)
{
    Preset h264;
    h264.id = "video-h264";
    h264.kind = "video";
    EXPECT_EQ(PresetSelection::selectedVideo({h264}, u"gone"_s)->id, "video-h264");
    EXPECT_EQ(PresetSelection::displayName({h264}, "retired"), "retired");
    EXPECT_FALSE(PresetSelection::selectedVideo({}, std::nullopt));
    EXPECT_FALSE(PresetSelection::m4a({h264}));
    EXPECT_FALSE(PresetSelection::videoLoudness({h264}));
}

TEST_F(ConvertViewTest, withoutFFmpegThePageSaysWhatIsMissingAndOffersTheInstallOnce)
{
    NoFFmpeg none;
    m_store.disconnect();
    server().clearRequests();
    ConvertView view(m_store);
    EXPECT_FALSE(view.ffmpeg() || view.convertButton()->isEnabled());
    EXPECT_TRUE(view.visibleCards().isEmpty()) << "no presets, no cards";
    const QList<const QWidget *> shown{view.signInHint(), view.ffmpegCard(), view.installButton(), view.convertButton(),
                                       view.queueEmptyLabel()};
    for (const QWidget *widget : shown)
        EXPECT_FALSE(widget->isHidden()) << widget->metaObject()->className();
    EXPECT_TRUE(view.stopButton()->isHidden());
    EXPECT_EQ(view.statusLabel()->text(), "Sign in from the top-right connection menu to fetch the conversion scripts.");
    EXPECT_EQ(view.countsLabel()->text(), "0 done \u00B7 0 failed \u00B7 0 pending");
    EXPECT_TRUE(saveScreenshot(&view, "convert-signed-out", windowSize));
    EXPECT_FALSE(view.installSheet()) << "an inactive page prompts for nothing";
    int asked = 0;
    QObject::connect(&view, &ConvertView::preferencesRequested, [&] { ++asked; });
    QTest::mouseClick(view.preferencesButton(), Qt::LeftButton);
    EXPECT_EQ(asked, 1);
    QTest::mouseClick(view.refreshButton(), Qt::LeftButton);
    EXPECT_TRUE(server().requests().isEmpty()) << "no session, no refresh";

    // The output line follows the export settings, the stored text unchanged.
    EXPECT_EQ(view.outputLabel()->text(), "Output: same folder as each source");
    settings().setValue("exportFolderPath", " /srv/renders ");
    settings().setValue("exportLocation", "customFolder");
    EXPECT_EQ(view.outputLabel()->text(), "Output:  /srv/renders ");
    settings().setValue("exportLocation", "somewhere");
    EXPECT_EQ(view.outputLabel()->text(), "Output: same folder as each source");
    settings().remove("exportLocation");

    // A drop on the page while it is not selected belongs to the web tab that shows, if one does
    // (which tab takes it is the router's rule, tested with the web tabs).
    connectDemo(m_store);
    web::DropRouter &router = web::DropRouter::shared();
    QStringList received;
    router.correctionHandler = [&](const QList<QUrl> &files, QPointF at) {
        EXPECT_EQ(at, QPointF(0, 0));
        received << files.front().fileName();
    };
    EXPECT_FALSE(drop(view, ConvertView::audioCard, {tone("a.wav")})) << "no tab to take it";
    router.webTabActive = router.correctionActive = true;
    EXPECT_TRUE(drop(view, ConvertView::audioCard, {path("a.wav")}));
    EXPECT_EQ(received, QStringList{"a.wav"});
    EXPECT_TRUE(view.runner().items().isEmpty()) << "nothing was queued here";
    EXPECT_FALSE(view.card(ConvertView::audioCard)->dropArea()->isHighlighted());
    router = web::DropRouter();

    // Shown: the install sheet is offered once, auto start only queues, and what the sheet
    // installs is used at once.
    show(view);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.installSheet() && view.installSheet()->isVisible(); }, 5000))
        << "the prompt comes 0.6 s after the page shows";
    ffmpeg::FFmpegInstallSheet *sheet = view.installSheet();
    EXPECT_TRUE(view.didAutoPromptInstall());
    sheet->reject();
    view.setActive(false);
    view.setActive(true);
    settle(900);
    EXPECT_FALSE(sheet->isVisible()) << "prompted once only";

    QTest::mouseClick(view.autoStartSwitch(), Qt::LeftButton);
    ASSERT_TRUE(view.autoStart());
    EXPECT_TRUE(settings().autoStartConvert()) << "the switch is the stored setting";
    EXPECT_EQ(view.statusLabel()->text(), "Install ffmpeg in Preferences to convert.");
    ASSERT_TRUE(drop(view, ConvertView::audioCard, {path("a.wav")}));
    EXPECT_EQ(view.runner().items().size(), 1);
    EXPECT_FALSE(view.runner().isRunning());

    QTest::mouseClick(view.installButton(), Qt::LeftButton);
    EXPECT_EQ(view.installSheet(), sheet) << "made once and kept";
    ASSERT_TRUE(sheet->isVisible());
    // Choose a program: it is adopted into the tools folder, the sheet closes and the page uses
    // the managed copy from then on.
    QTest::mouseClick(sheet->chooseButton(), Qt::LeftButton);
    QFileDialog *dialog = openDialog(sheet, "chooseFFmpegDialog");
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(TestMedia::ffmpeg());
    static_cast<QDialog *>(dialog)->accept();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sheet->isVisible(); }, 30000)) << sheet->phaseLabel()->text().toStdString();
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_EQ(view.ffmpeg(), std::optional<QString>(ffmpeg::FFmpegLocator::managedCopy()));
    EXPECT_TRUE(view.ffmpegCard()->isHidden() && view.installButton()->isHidden());
}

TEST_F(ConvertViewTest, everyCardConvertsWhatIsDroppedOnItWithTheFFmpegInUse)
{
    settings().setValue("autoStartConvert", true);
    ConvertView view(m_store);
    show(view);
    ASSERT_EQ(view.ffmpeg(), std::optional<QString>(TestMedia::ffmpeg()));
    EXPECT_TRUE(view.signInHint()->isHidden() && view.ffmpegCard()->isHidden());
    EXPECT_TRUE(view.convertButton()->isHidden()) << "auto start on";
    EXPECT_EQ(view.statusLabel()->text(), "Auto start on \u2014 drop files to convert.");

    // The loudness presets measure first and limit only where the peaks need it: the hint says so.
    const QString measuring = "measured first \u00B7 limiter only where peaks pass \u22121 dBTP";
    const struct { QString key, hint, picker; } cards[] = { // picker: the preset its picker shows, if it has one
        {ConvertView::videoCard, "applied to every video", "H.264 / AAC (MP4)"},
        {ConvertView::audioCard, {}, {}},
        {ConvertView::normaliseCard, measuring, "\u221214 LUFS"},
        {ConvertView::videoLoudnessCard, measuring, {}},
    };
    ASSERT_EQ(view.visibleCards().size(), 4);
    for (const auto &c : cards) {
        convert::PresetCard *card = view.card(c.key);
        ASSERT_NE(card, nullptr);
        EXPECT_EQ(card->dropArea()->hint(), c.hint);
        EXPECT_EQ(card->picker() ? card->picker()->currentText() : QString(), c.picker);
    }
    EXPECT_TRUE(saveScreenshot(&view, "convert-ready", windowSize));

    // A picker is a collapsed list of its choices, which its action opens; the open list shows
    // where each choice is and which one is selected.
    QComboBox *codec = view.card(ConvertView::videoCard)->picker();
    QAccessibleInterface *picker = QAccessible::queryAccessibleInterface(codec);
    EXPECT_EQ(picker->actionInterface()->actionNames(), QStringList{QAccessibleActionInterface::showMenuAction()});
    for (const bool open : {false, true}) {
        SCOPED_TRACE(open ? "open" : "closed");
        if (open)
            picker->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
        EXPECT_TRUE(picker->state().expanded == open && picker->state().collapsed == !open);
        for (int row = 0; row < codec->count(); ++row) {
            QAccessibleInterface *choice = picker->child(row);
            expectListItem(choice, picker, row);
            EXPECT_TRUE(choice->state().selected == (row == codec->currentIndex()) && choice->state().invisible == !open);
            EXPECT_EQ(choice->rect().isEmpty(), !open);
        }
    }
    codec->hidePopup();

    // A hovering drag lights its card up.
    const auto hover = fileData({QUrl::fromLocalFile(tone("in/hover.wav"))});
    dragEnter(view.card(ConvertView::normaliseCard)->dropTarget(), *hover);
    EXPECT_TRUE(view.isDropping(ConvertView::normaliseCard) && view.card(ConvertView::normaliseCard)->dropArea()->isHighlighted());
    EXPECT_FALSE(view.isDropping(ConvertView::audioCard));
    dragLeave(view.card(ConvertView::normaliseCard)->dropTarget());
    EXPECT_FALSE(view.isDropping(ConvertView::normaliseCard) || view.card(ConvertView::normaliseCard)->dropArea()->isHighlighted());

    QList<bool> running;
    QObject::connect(&view.runner(), &ConvertRunner::isRunningChanged, &view, [&] { running << view.runner().isRunning(); });
    ASSERT_TRUE(drop(view, ConvertView::videoCard, {clip("in/clip.mp4")}));
    EXPECT_TRUE(view.runner().isRunning()) << "auto start with ffmpeg present starts at once";
    ASSERT_TRUE(drop(view, ConvertView::audioCard, {tone("in/song.wav")}));
    ASSERT_TRUE(drop(view, ConvertView::normaliseCard, {tone("in/voice.wav")}));
    ASSERT_TRUE(drop(view, ConvertView::videoLoudnessCard, {clip("in/film.mp4")}));
    EXPECT_EQ(view.runner().items().size(), 4);
    EXPECT_FALSE(view.stopButton()->isHidden());
    ASSERT_TRUE(settled(view));
    EXPECT_EQ(running, (QList<bool>{true, false})) << "one run took every drop";
    for (const QString output : {"in/clip_h264.mp4", "in/song_aac.m4a", "in/voice_-14LUFS.wav", "in/film_-14LKFS.mp4"})
        EXPECT_TRUE(QFileInfo(path(output)).isFile()) << output.toStdString();
    EXPECT_EQ(view.runner().items().at(2).status, "\u2713 Done \u2192 voice_-14LUFS.wav");
    EXPECT_EQ(view.statusLabel()->text(), "Queue finished \u2014 4 done, 0 failed.");
    EXPECT_EQ(view.countsLabel()->text(), "4 done \u00B7 0 failed \u00B7 0 pending");
    EXPECT_EQ(view.card(ConvertView::audioCard)->itemCount(), 1);
    EXPECT_TRUE(view.queueEmptyLabel()->isHidden());
    EXPECT_TRUE(saveScreenshot(&view, "convert-finished", windowSize));
    EXPECT_TRUE(saveScreenshot(&view, "convert-finished-small", QSize(800, 560)));
    EXPECT_FALSE(view.installSheet() || view.didAutoPromptInstall()) << "with ffmpeg nothing is prompted";

    // An ffmpeg override replaces the detected one at once; with none detected, it is all it takes.
    settings().setValue("ffmpegPathOverride", slowFFmpeg(0));
    EXPECT_EQ(view.ffmpeg(), std::optional<QString>(path("bin/slow-ffmpeg")));
    ASSERT_TRUE(drop(view, ConvertView::normaliseCard, {tone("a.wav")}));
    ASSERT_TRUE(settled(view));
    EXPECT_EQ(view.runner().items().back().succeeded, true);
    EXPECT_TRUE(QFile::exists(path("bin/ran"))) << "the override converted";
    NoFFmpeg none;
    settings().remove("ffmpegPathOverride");
    EXPECT_FALSE(view.ffmpeg());
    EXPECT_FALSE(view.ffmpegCard()->isHidden() || view.installButton()->isHidden());
    settings().setValue("ffmpegPathOverride", TestMedia::ffmpeg());
    EXPECT_EQ(view.ffmpeg(), std::optional<QString>(TestMedia::ffmpeg()));
    EXPECT_TRUE(view.ffmpegCard()->isHidden() && view.installButton()->isHidden());
}

// Without auto start the pickers choose the card's preset and Convert runs; Stop stops; drops
// during a later run join it; Clear and Delete wait for its end.
TEST_F(ConvertViewTest, convertStopAndDropsDuringARun)
{
    settings().setValue("ffmpegPathOverride", slowFFmpeg(0.5));
    ConvertView view(m_store);
    view.setActive(true);
    int runs = 0;
    QObject::connect(&view.runner(), &ConvertRunner::runStateChanged, &view, [&] {
        if (view.runner().runState() == ConvertRunner::RunState::running)
            ++runs;
    });
    QComboBox *target = view.card(ConvertView::normaliseCard)->picker();
    target->setCurrentIndex(target->findData("normalise-23lufs"));
    QComboBox *codec = view.card(ConvertView::videoCard)->picker();
    codec->setCurrentIndex(codec->findData("video-hevc"));
    EXPECT_EQ(view.presetFor(ConvertView::videoCard)->id, "video-hevc");
    ASSERT_TRUE(drop(view, ConvertView::normaliseCard, {tone("a.wav")}));
    EXPECT_EQ(view.runner().items().front().presetID, "normalise-23lufs");
    EXPECT_FALSE(view.runner().isRunning()) << "auto start off";
    EXPECT_EQ(view.statusLabel()->text(), "1 file added to the queue.");
    EXPECT_TRUE(view.stopButton()->isHidden());
    ASSERT_TRUE(view.convertButton()->isEnabled());

    QTest::mouseClick(view.convertButton(), Qt::LeftButton);
    EXPECT_TRUE(view.runner().isRunning());
    EXPECT_FALSE(view.convertButton()->isEnabled());
    EXPECT_FALSE(view.stopButton()->isHidden());
    EXPECT_EQ(view.stopButton()->text(), "Stop");
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(path("bin/ran")); }, runCap));
    QTest::mouseClick(view.stopButton(), Qt::LeftButton);
    EXPECT_EQ(view.stopButton()->text(), "Stopping…");
    EXPECT_FALSE(view.stopButton()->isEnabled());
    ASSERT_TRUE(settled(view));
    EXPECT_TRUE(view.stopButton()->isHidden());
    EXPECT_EQ(view.statusLabel()->text(), "Stopped — 1 file still queued.");
    ASSERT_TRUE(view.convertButton()->isEnabled());

    QTest::mouseClick(view.convertButton(), Qt::LeftButton);
    settings().setValue("autoStartConvert", true);
    EXPECT_TRUE(view.autoStartSwitch()->isChecked()) << "the switch follows the stored setting";
    ASSERT_TRUE(drop(view, ConvertView::audioCard, {tone("b.wav"), tone("c.wav")}));
    EXPECT_EQ(view.runner().items().size(), 3);
    // Clear on a card while converting: nothing happens.
    QTest::mouseClick(view.card(ConvertView::audioCard)->clearButton(), Qt::LeftButton);
    EXPECT_EQ(view.runner().items().size(), 3);
    EXPECT_NE(view.statusLabel()->text(), "Cleared.");
    // Delete on a row while converting: refused, and the row says why.
    view.queueView()->setCurrentIndex(view.queueView()->model()->index(0, 0));
    QTest::keyClick(view.queueView(), Qt::Key_Delete);
    EXPECT_EQ(view.runner().items().size(), 3);
    EXPECT_EQ(QToolTip::text(), "The queue changes once it stops: Stop, then Remove.");
    ASSERT_TRUE(settled(view));
    EXPECT_EQ(runs, 2) << "the running loop took the later files";
    EXPECT_EQ(view.statusLabel()->text(), "Queue finished — 3 done, 0 failed.");
    for (const QString output : {"a_-23LUFS.wav", "b_aac.m4a", "c_aac.m4a"})
        EXPECT_TRUE(QFileInfo(path(output)).isFile()) << output.toStdString();

    // Idle: Clear removes that card's items only.
    QTest::mouseClick(view.card(ConvertView::audioCard)->clearButton(), Qt::LeftButton);
    ASSERT_EQ(view.runner().items().size(), 1);
    EXPECT_EQ(view.runner().items().front().presetID, "normalise-23lufs");
    EXPECT_EQ(view.statusLabel()->text(), "Cleared.");
    EXPECT_EQ(view.card(ConvertView::audioCard)->itemCount(), 0);
    EXPECT_EQ(view.card(ConvertView::normaliseCard)->itemCount(), 1);
}

TEST_F(ConvertViewTest, refreshingScriptsReplacesThePresetsOrKeepsThemOnFailure)
{
    ConvertView view(m_store);
    const QList<Preset> full = m_store.presets();
    ASSERT_EQ(view.visibleCards().size(), 4);
    m_store.setPresets({*PresetSelection::m4a(full)});
    ASSERT_EQ(view.visibleCards().size(), 1) << "a card appears only with its preset";
    EXPECT_EQ(view.visibleCards().front()->key(), ConvertView::audioCard);

    server().addFault(fault("GET", "/v1/presets", "status", 503));
    run(view.refreshScripts());
    EXPECT_TRUE(view.statusLabel()->text().startsWith("Could not refresh scripts: ")) << view.statusLabel()->text().toStdString();
    EXPECT_EQ(m_store.presets().size(), 1) << "the old list stays";
    EXPECT_EQ(view.visibleCards().size(), 1);
    run(view.refreshScripts());
    EXPECT_EQ(view.statusLabel()->text(), "Scripts refreshed from the VPS.");
    EXPECT_EQ(m_store.presets(), full);
    EXPECT_EQ(view.visibleCards().size(), 4);

    // An answer that arrives after a sign-out, or after a sign-in with another key, belongs to
    // the session before: it changes neither the list nor the status line.
    for (const bool signIn : {false, true}) {
        SCOPED_TRACE(signIn ? "signed in again" : "signed out");
        connectDemo(m_store);
        server().clearRequests();
        server().addFault(fault("GET", "/v1/presets", "delay", 200, 1, 500));
        auto late = view.refreshScripts();
        ASSERT_TRUE(waitForRequests("/v1/presets"));
        if (signIn) {
            QJsonObject fewer = fault("GET", "/v1/presets", "status", 200);
            fewer.insert("body", R"({"version":1,"generated_at":"g","note":"n","presets":[]})");
            server().addFault(fewer);
            run(m_store.connect(secondKey));
            ASSERT_TRUE(m_store.state().isConnected());
        } else {
            m_store.disconnect();
        }
        view.runner().setStatusLine("Cleared.");
        run(std::move(late));
        EXPECT_TRUE(m_store.presets().isEmpty());
        EXPECT_EQ(view.statusLabel()->text(), "Cleared.");
    }
}

TEST_F(ConvertViewTest, queueRowsByMouseKeyboardAndScreenReader)
{
    ConvertView view(m_store);
    show(view);
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    const QString good = tone("good.wav");
    const QString bad = path("bad.wav");
    writeFile(bad, "this is not audio");
    ASSERT_TRUE(drop(view, ConvertView::normaliseCard, {good, bad}));
    view.convert();
    ASSERT_TRUE(settled(view));
    settle();
    ASSERT_EQ(view.runner().items().size(), 2);
    EXPECT_EQ(view.runner().items().at(0).input, bad) << "queued in name order";
    EXPECT_EQ(view.runner().items().at(0).succeeded, false);
    EXPECT_EQ(view.runner().items().at(1).succeeded, true);
    EXPECT_EQ(view.countsLabel()->text(), "1 done \u00B7 1 failed \u00B7 0 pending");

    QueueModel *model = view.queueModel();
    EXPECT_EQ(model->index(0).data(QueueModel::PresetNameRole).toString(), "\u221214 LUFS");
    EXPECT_FALSE(model->index(0).data(QueueModel::ErrorDetailRole).toString().isEmpty());
    EXPECT_EQ(model->index(0).data(QueueModel::DetailRole), model->index(0).data(QueueModel::ErrorDetailRole));
    // The good file is too short to measure (0.3 s): it is converted, and its row says what happened.
    EXPECT_EQ(model->index(1).data(QueueModel::DetailRole).toString(),
              "The source is silent or too short to measure; its level was left as it is.");
    EXPECT_EQ(view.queueView()->sizeHintForRow(0), view.queueView()->sizeHintForRow(1)) << "both have a line of their own";
    using Button = convert::QueueRowDelegate::Button;
    EXPECT_TRUE(view.queueButtonRect(1, Button::retry).isEmpty()) << "a done row has no Retry";
    EXPECT_TRUE(saveScreenshot(&view, "convert-queue", windowSize));

    // Each row tells a screen reader its status, its failure and its actions, which are the
    // actions of its interface.
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(view.queueView());
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->childCount(), 2);
    QAccessibleInterface *failedRow = list->child(0);
    ASSERT_TRUE(failedRow && failedRow->actionInterface() && list->child(1)->actionInterface());
    EXPECT_EQ(failedRow->role(), QAccessible::ListItem);
    EXPECT_TRUE(failedRow->text(QAccessible::Name).startsWith("bad.wav, \u2717 Failed (exit "));
    EXPECT_TRUE(failedRow->text(QAccessible::Description).endsWith("Actions: Retry, Remove"));
    EXPECT_TRUE(list->child(1)->text(QAccessible::Description).endsWith("Actions: Reveal, Remove"));
    EXPECT_EQ(failedRow->actionInterface()->actionNames(), (QStringList{"Retry", "Remove"}));
    EXPECT_EQ(list->child(1)->actionInterface()->actionNames(), (QStringList{"Reveal", "Remove"}));

    // Reveal: the file manager on the session bus is asked to show the output selected.
    const QString output = *view.runner().items().at(1).output;
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected()) << "the test runs on a private session bus";
    FileManager fileManager;
    ASSERT_TRUE(bus.registerObject("/org/freedesktop/FileManager1", &fileManager, QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(bus.registerService("org.freedesktop.FileManager1"));
    QTest::mouseClick(view.queueView()->viewport(), Qt::LeftButton, {}, view.queueButtonRect(1, Button::reveal).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fileManager.shown.isEmpty(); }, 10000));
    EXPECT_EQ(fileManager.shown, QStringList{QUrl::fromLocalFile(output).toString()});
    bus.unregisterService("org.freedesktop.FileManager1");
    bus.unregisterObject("/org/freedesktop/FileManager1");

    // Tab reaches the list; its first row is the current one, and shows it.
    view.queueView()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(view.queueView()->currentIndex().row(), 0);
    // Each row is where the list shows it, tells its tooltip as help, and is focused while current.
    for (int row = 0; row < 2; ++row) {
        QAccessibleInterface *item = list->child(row);
        expectListItem(item, list, row);
        EXPECT_EQ(item->text(QAccessible::Help), model->index(row).data(Qt::ToolTipRole).toString());
        EXPECT_EQ(list->childAt(item->rect().center().x(), item->rect().center().y()), item);
        EXPECT_TRUE(item->state().focused == (row == 0) && item->state().active == (row == 0) && !item->state().invisible);
    }
    EXPECT_EQ(list->focusChild(), failedRow);
    EXPECT_EQ(failedRow->actionInterface()->keyBindingsForAction("Remove"), QStringList{"Delete"});
    EXPECT_TRUE(failedRow->actionInterface()->keyBindingsForAction("Retry").isEmpty());
    EXPECT_TRUE(saveScreenshot(&view, "convert-queue-row-focus", windowSize));
    // Return on a done row reveals its output: without a file manager, its folder is opened.
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    QTest::keyClick(view.queueView(), Qt::Key_Down);
    QTest::keyClick(view.queueView(), Qt::Key_Return);
    const bool opened = QTest::qWaitFor([&] { return !catcher.opened.isEmpty(); }, 10000);
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_TRUE(opened);
    EXPECT_EQ(catcher.opened.front(), QUrl::fromLocalFile(m_dir.path()));
    // Return on a failed row retries it (and starts nothing).
    QTest::keyClick(view.queueView(), Qt::Key_Up);
    QTest::keyClick(view.queueView(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(view.runner().items().at(0).status, "Queued");
    EXPECT_FALSE(view.runner().items().at(0).succeeded);
    EXPECT_FALSE(view.runner().isRunning());
    ASSERT_EQ(list->child(0)->actionInterface()->actionNames(), QStringList{"Remove"});
    EXPECT_TRUE(model->index(0).data(Qt::ToolTipRole).toString().contains("Return does nothing"))
        << "a pending row says that Return has nothing to do on it";
    // Remove takes a row away, by a screen reader's action or by Delete; a pending item stays on Clear.
    QAccessibleInterface *removed = list->child(1);
    removed->actionInterface()->doAction("Remove");
    ASSERT_EQ(view.runner().items().size(), 1);
    EXPECT_TRUE(!removed->isValid() && removed->state().invalid && removed->rect().isEmpty() && list->indexOfChild(removed) == -1);
    EXPECT_TRUE(list->child(0)->text(QAccessible::Name).startsWith("bad.wav, ")) << "the row left is still the failed one";
    EXPECT_EQ(view.runner().items().front().input, bad);
    EXPECT_EQ(model->rowCount(), 1);
    QTest::mouseClick(view.clearFinishedButton(), Qt::LeftButton);
    EXPECT_EQ(view.runner().items().size(), 1) << "a pending item stays";
    view.queueView()->setCurrentIndex(model->index(0));
    QTest::keyClick(view.queueView(), Qt::Key_Delete);
    EXPECT_TRUE(view.runner().items().isEmpty());
}

// The start-up hooks connect and queue for M4A; the cards' pickers queue chosen files and folders.
TEST_F(ConvertViewTest, theStartUpHooksAndThePickersQueueForTheirCards)
{
    const QString a = tone("picked/a.wav");
    tone("picked/deeper/b.wav");
    m_store.disconnect();
    settings().setValue("connectKey", server().demoKey());
    settings().setValue("autoConvert", tone("hook/a.wav") + "," + tone("hook/b.wav") + ",");
    ConvertView view(m_store);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.runner().items().size() == 2; }, 30000));
    EXPECT_TRUE(m_store.state().isConnected());
    EXPECT_EQ(view.runner().items("audio-m4a").size(), 2);

    QTest::mouseClick(view.card(ConvertView::normaliseCard)->chooseFilesButton(), Qt::LeftButton);
    QFileDialog *files = openDialog(&view, "chooseFilesDialog");
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(files->fileMode(), QFileDialog::ExistingFiles);
    files->selectFile(a);
    static_cast<QDialog *>(files)->accept();
    EXPECT_EQ(view.runner().items("normalise-14lufs").size(), 1);

    QTest::mouseClick(view.card(ConvertView::audioCard)->chooseFolderButton(), Qt::LeftButton);
    QFileDialog *folder = openDialog(&view, "chooseFolderDialog");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->fileMode(), QFileDialog::Directory);
    folder->setDirectory(m_dir.path());
    folder->selectFile(path("picked"));
    static_cast<QDialog *>(folder)->accept();
    EXPECT_EQ(view.runner().items("audio-m4a").size(), 4);
}

TEST_F(ConvertViewTest, aQueueInProgressShowsEachConversionsBarAndTheQueuesEstimate)
{
    // A script that converts in real time, so that the conversions are caught half way.
    const Preset realTime = slow("real-time");
    m_store.setPresets(QList<Preset>(m_store.presets()) << realTime);
    settings().setValue("simultaneousConversions", 2);
    ConvertView view(m_store);
    show(view);
    view.enqueue({QUrl::fromLocalFile(tone("in/Interview.wav", 12)), QUrl::fromLocalFile(tone("in/Podcast.wav", 12)),
                  QUrl::fromLocalFile(tone("in/Outro.wav", 12))},
                 realTime);
    view.convert();
    settings().remove("simultaneousConversions");

    QueueModel *model = view.queueModel();
    auto fraction = [&](int row) { return model->index(row).data(QueueModel::ProgressRole); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return fraction(0).toDouble() > 0.3 && fraction(1).toDouble() > 0.3; }, 30000));
    EXPECT_FALSE(fraction(2).isValid()) << "the third waits for a free lane";
    const QString text = model->index(0).data(QueueModel::ProgressTextRole).toString();
    EXPECT_TRUE(text.contains("% \u00B7 ") && text.endsWith(" left")) << text.toStdString();
    EXPECT_EQ(model->index(0).data(QueueModel::StatusRole).toString(), "Converting Interview.wav\u2026");
    QLabel *queueLine = view.queueSection()->queueProgressLabel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return queueLine->text().contains("left"); }, 5000));
    EXPECT_TRUE(queueLine->text().startsWith("0 of 3 files \u00B7 about ")) << queueLine->text().toStdString();
    EXPECT_GT(view.queueView()->sizeHintForRow(0), view.queueView()->sizeHintForRow(2)) << "a converting row has a line for its bar";
    EXPECT_TRUE(saveScreenshot(&view, "convert-progress", windowSize));

    view.runner().cancel();
    ASSERT_TRUE(settled(view));
    EXPECT_TRUE(queueLine->isHidden());
    EXPECT_FALSE(fraction(0).isValid());
    EXPECT_EQ(view.runner().statusLine(), "Stopped \u2014 3 files still queued.");
    // The grace a stop gives ffmpeg before SIGKILL runs out on its own timer; it must fire before
    // the view goes, or its wait is never resumed.
    QTest::qWait(int(ConvertRunner::forceKillDelay.count()) + 500);
}

} // namespace

#include "ConvertViewTest.moc"

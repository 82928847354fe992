// The Convert page against the real stand-in service and real ffmpeg: files dropped on each card
// are converted, auto start with and without ffmpeg, drops during a run, the ffmpeg override
// taking effect at once, preset refreshes (and their failure), Clear during a run, the queue's
// rows and their buttons (Reveal through the file manager on the session bus), drops handed to
// the web tab that is showing, the install prompt and sheet, the texts, and the start-up hooks.
// Screenshots of the page go to build/screenshots.
#include "analysis/CardDropTarget.h"
#include "analysis/DropArea.h"
#include "app/ActiveJobs.h"
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
using convert::QueueRowDelegate;
using service::Preset;

namespace {

const QSize windowSize(1200, 780);
const QSize smallSize(800, 560);

platform::Settings &settings() { return platform::Settings::standard(); }

const QStringList hookKeys{QStringLiteral("autoStartConvert"), QStringLiteral("ffmpegPathOverride"),
                           QStringLiteral("exportLocation"),   QStringLiteral("exportFolderPath"),
                           QStringLiteral("connectKey"),       QStringLiteral("autoConvert")};

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
    Q_SCRIPTABLE void ShowItems(const QStringList &uris, const QString &startupId)
    {
        Q_UNUSED(startupId);
        shown << uris;
    }
};

// Where QDesktopServices would have sent an address.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

template <typename Dialog = QFileDialog>
Dialog *openDialog(QWidget *owner, const QString &name)
{
    Dialog *found = nullptr;
    waitUntil([&] { return (found = owner->findChild<Dialog *>(name)) != nullptr && found->isVisible(); }, 5000);
    return found;
}

class ConvertViewTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        ASSERT_TRUE(m_dir.isValid());
        for (const QString &key : hookKeys)
            settings().remove(key);
        QDir(ffmpeg::FFmpegLocator::toolsDir()).removeRecursively();
    }
    void TearDown() override
    {
        for (const QString &key : hookKeys)
            settings().remove(key);
        web::DropRouter &router = web::DropRouter::shared();
        router = web::DropRouter();
        SessionTest::TearDown();
    }

    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    QString tone(const QString &relative, double seconds = 0.3) const
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        return TestMedia::sine(path(relative), seconds);
    }
    QString clip(const QString &relative) const
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        return TestMedia::make(path(relative),
                               {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                QStringLiteral("testsrc=size=64x48:rate=10:duration=0.5"), QStringLiteral("-f"),
                                QStringLiteral("lavfi"), QStringLiteral("-i"),
                                QStringLiteral("sine=frequency=330:sample_rate=48000:duration=0.5"),
                                QStringLiteral("-shortest"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
                                QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-c:a"),
                                QStringLiteral("aac")});
    }
    // An ffmpeg that takes its time (and leaves a mark that it ran).
    QString slowFFmpeg(double seconds = 0.6) const
    {
        return TestMedia::script(path(QStringLiteral("bin/slow-ffmpeg")),
                                 "echo ran >> '" + path(QStringLiteral("bin/ran")).toUtf8() + "'\nsleep "
                                     + QByteArray::number(seconds) + "\nexec '" + TestMedia::ffmpeg().toUtf8()
                                     + "' \"$@\"\n");
    }

    static bool settled(ConvertView &view)
    {
        return waitUntil([&] { return !view.runner().isRunning(); });
    }

    static QString labelText(QWidget *widget) { return static_cast<QLabel *>(widget)->text(); }

    QTemporaryDir m_dir;
};

TEST(PresetSelectionRules, CardsFindTheirPresets)
{
    auto preset = [](const char *id, const char *kind) {
        Preset p;
        p.id = QString::fromUtf8(id);
        p.name = p.id.toUpper();
        p.kind = QString::fromUtf8(kind);
        return p;
    };
    const QList<Preset> presets{preset("video-h264", "video"),   preset("audio-m4a", "audio"),
                                preset("normalise-14lufs", "normalise"), preset("video-hevc", "video"),
                                preset("normalise-video-14lkfs", "video"), preset("audio-flac", "audio"),
                                preset("normalise-23lufs", "normalise")};
    QStringList videos;
    for (const Preset &p : PresetSelection::videoPresets(presets))
        videos << p.id;
    EXPECT_EQ(videos, (QStringList{QStringLiteral("video-h264"), QStringLiteral("video-hevc")}));
    EXPECT_EQ(PresetSelection::selectedVideo(presets, std::nullopt)->id, QStringLiteral("video-h264"));
    EXPECT_EQ(PresetSelection::selectedVideo(presets, QStringLiteral("video-hevc"))->id, QStringLiteral("video-hevc"));
    EXPECT_EQ(PresetSelection::selectedVideo(presets, QStringLiteral("gone"))->id, QStringLiteral("video-h264"));
    EXPECT_EQ(PresetSelection::selectedLoudness(presets, QStringLiteral("normalise-23lufs"))->id,
              QStringLiteral("normalise-23lufs"));
    EXPECT_EQ(PresetSelection::selectedLoudness(presets, std::nullopt)->id, QStringLiteral("normalise-14lufs"));
    EXPECT_EQ(PresetSelection::m4a(presets)->id, QStringLiteral("audio-m4a"));
    EXPECT_EQ(PresetSelection::videoLoudness(presets)->id, QStringLiteral("normalise-video-14lkfs"));
    EXPECT_EQ(PresetSelection::displayName(presets, QStringLiteral("audio-flac")), QStringLiteral("AUDIO-FLAC"));
    EXPECT_EQ(PresetSelection::displayName(presets, QStringLiteral("retired")), QStringLiteral("retired"));
    EXPECT_FALSE(PresetSelection::selectedVideo({}, std::nullopt));
    EXPECT_FALSE(PresetSelection::m4a({preset("video-h264", "video")}));
    EXPECT_FALSE(PresetSelection::videoLoudness({preset("normalise-14lufs", "normalise")}));
}

TEST_F(ConvertViewTest, aSignedOutPageWithoutFFmpegSaysWhatIsMissing)
{
    NoFFmpeg none;
    service::SessionStore store;
    ConvertView view(store);
    EXPECT_FALSE(view.ffmpeg());
    EXPECT_FALSE(view.signInHint()->isHidden());
    EXPECT_FALSE(view.ffmpegCard()->isHidden());
    EXPECT_TRUE(view.visibleCards().isEmpty()) << "no presets, no cards";
    EXPECT_EQ(view.statusLabel()->text(),
              QStringLiteral("Sign in from the top-right connection menu to fetch the conversion scripts."));
    EXPECT_FALSE(view.installButton()->isHidden());
    EXPECT_FALSE(view.convertButton()->isHidden());
    EXPECT_FALSE(view.convertButton()->isEnabled());
    EXPECT_TRUE(view.stopButton()->isHidden());
    EXPECT_FALSE(view.queueEmptyLabel()->isHidden());
    EXPECT_EQ(view.countsLabel()->text(), QStringLiteral("0 done \u00B7 0 failed \u00B7 0 pending"));
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("convert-signed-out"), windowSize));
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("convert-signed-out-small"), smallSize));
    EXPECT_FALSE(view.installSheet()) << "an inactive page prompts for nothing";

    int asked = 0;
    QObject::connect(&view, &ConvertView::preferencesRequested, [&] { ++asked; });
    QTest::mouseClick(view.preferencesButton(), Qt::LeftButton);
    EXPECT_EQ(asked, 1);
}

TEST_F(ConvertViewTest, everyCardConvertsWhatIsDroppedOnIt)
{
    service::SessionStore store;
    connectDemo(store);
    settings().setValue(QStringLiteral("autoStartConvert"), true);
    ConvertView view(store);
    view.setActive(true);
    view.resize(windowSize);
    view.show();
    ASSERT_EQ(view.ffmpeg(), std::optional<QString>(TestMedia::ffmpeg()));
    EXPECT_TRUE(view.signInHint()->isHidden());
    EXPECT_TRUE(view.ffmpegCard()->isHidden());
    EXPECT_TRUE(view.convertButton()->isHidden()) << "auto start on";
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Auto start on \u2014 drop files to convert."));

    // The loudness presets measure first and limit only where the peaks need it: the hint says so.
    const QString measuring = QStringLiteral("measured first \u00B7 limiter only where peaks pass \u22121 dBTP");
    const struct {
        QString key;
        QString hint;
        QString picker; // the preset the picker shows, if the card has one
    } cards[] = {
        {ConvertView::videoCard, QStringLiteral("applied to every video"), QStringLiteral("H.264 / AAC (MP4)")},
        {ConvertView::audioCard, QString(), QString()},
        {ConvertView::normaliseCard, measuring, QStringLiteral("\u221214 LUFS")},
        {ConvertView::videoLoudnessCard, measuring, QString()},
    };
    ASSERT_EQ(view.visibleCards().size(), 4);
    for (const auto &c : cards) {
        convert::PresetCard *card = view.card(c.key);
        ASSERT_NE(card, nullptr);
        EXPECT_EQ(card->dropArea()->hint(), c.hint);
        EXPECT_EQ(card->picker() ? card->picker()->currentText() : QString(), c.picker);
        EXPECT_GE(card->dropTarget()->height(), 255);
        EXPECT_LE(card->dropTarget()->height(), 600);
    }
    QStringList codecs;
    for (int i = 0; i < view.card(ConvertView::videoCard)->picker()->count(); ++i)
        codecs << view.card(ConvertView::videoCard)->picker()->itemText(i);
    EXPECT_EQ(codecs, (QStringList{QStringLiteral("H.264 / AAC (MP4)"), QStringLiteral("HEVC / AAC (MP4)")}));
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("convert-ready"), windowSize));

    // A hovering drag lights its card up.
    const auto hover = fileData({QUrl::fromLocalFile(tone(QStringLiteral("in/hover.wav")))});
    dragEnter(view.card(ConvertView::normaliseCard)->dropTarget(), *hover);
    EXPECT_TRUE(view.isDropping(ConvertView::normaliseCard));
    EXPECT_TRUE(view.card(ConvertView::normaliseCard)->dropArea()->isHighlighted());
    EXPECT_FALSE(view.isDropping(ConvertView::audioCard));
    dragLeave(view.card(ConvertView::normaliseCard)->dropTarget());
    EXPECT_FALSE(view.isDropping(ConvertView::normaliseCard));
    EXPECT_FALSE(view.card(ConvertView::normaliseCard)->dropArea()->isHighlighted());

    QList<bool> running;
    QObject::connect(&view.runner(), &ConvertRunner::isRunningChanged, &view,
                     [&] { running << view.runner().isRunning(); });
    ASSERT_TRUE(dropFiles(view.card(ConvertView::videoCard)->dropTarget(), QStringList{clip(QStringLiteral("in/clip.mp4"))}));
    EXPECT_TRUE(view.runner().isRunning()) << "auto start with ffmpeg present starts at once";
    ASSERT_TRUE(dropFiles(view.card(ConvertView::audioCard)->dropTarget(), QStringList{tone(QStringLiteral("in/song.wav"))}));
    ASSERT_TRUE(dropFiles(view.card(ConvertView::normaliseCard)->dropTarget(), QStringList{tone(QStringLiteral("in/voice.wav"))}));
    ASSERT_TRUE(dropFiles(view.card(ConvertView::videoLoudnessCard)->dropTarget(),
                          QStringList{clip(QStringLiteral("in/film.mp4"))}));
    EXPECT_EQ(view.runner().items().size(), 4);
    EXPECT_FALSE(view.stopButton()->isHidden());
    ASSERT_TRUE(settled(view));
    EXPECT_EQ(running, (QList<bool>{true, false})) << "one run took every drop";

    const QStringList outputs{QStringLiteral("in/clip_h264.mp4"), QStringLiteral("in/song_aac.m4a"),
                              QStringLiteral("in/voice_-14LUFS.wav"), QStringLiteral("in/film_-14LKFS.mp4")};
    for (const QString &output : outputs)
        EXPECT_TRUE(QFileInfo(path(output)).isFile()) << output.toStdString();
    for (const convert::QueueItem &item : view.runner().items())
        EXPECT_EQ(item.succeeded, true) << item.status.toStdString() << " " << item.errorDetail.value_or(QString()).toStdString();
    EXPECT_EQ(view.runner().items().at(2).status, QStringLiteral("\u2713 Done \u2192 voice_-14LUFS.wav"));
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Queue finished \u2014 4 done, 0 failed."));
    EXPECT_EQ(view.countsLabel()->text(), QStringLiteral("4 done \u00B7 0 failed \u00B7 0 pending"));
    EXPECT_EQ(view.card(ConvertView::audioCard)->itemCount(), 1);
    EXPECT_TRUE(view.queueEmptyLabel()->isHidden());
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("convert-finished"), windowSize));
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("convert-finished-small"), smallSize));
}

TEST_F(ConvertViewTest, withoutAutoStartTheConvertButtonRunsAndStopStops)
{
    service::SessionStore store;
    connectDemo(store);
    settings().setValue(QStringLiteral("ffmpegPathOverride"), slowFFmpeg(2));
    ConvertView view(store);
    view.setActive(true);
    // The pickers choose the card's preset.
    QComboBox *target = view.card(ConvertView::normaliseCard)->picker();
    target->setCurrentIndex(target->findData(QStringLiteral("normalise-23lufs")));
    QComboBox *codec = view.card(ConvertView::videoCard)->picker();
    codec->setCurrentIndex(codec->findData(QStringLiteral("video-hevc")));
    EXPECT_EQ(view.presetFor(ConvertView::videoCard)->id, QStringLiteral("video-hevc"));
    ASSERT_TRUE(dropFiles(view.card(ConvertView::normaliseCard)->dropTarget(), QStringList{tone(QStringLiteral("a.wav"))}));
    EXPECT_EQ(view.runner().items().front().presetID, QStringLiteral("normalise-23lufs"));
    EXPECT_FALSE(view.runner().isRunning()) << "auto start off";
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("1 file added to the queue."));
    EXPECT_TRUE(view.stopButton()->isHidden());
    ASSERT_TRUE(view.convertButton()->isEnabled());

    QTest::mouseClick(view.convertButton(), Qt::LeftButton);
    EXPECT_TRUE(view.runner().isRunning());
    EXPECT_FALSE(view.convertButton()->isEnabled());
    EXPECT_FALSE(view.stopButton()->isHidden());
    EXPECT_EQ(view.stopButton()->text(), QStringLiteral("Stop"));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(path(QStringLiteral("bin/ran"))); }));
    QTest::mouseClick(view.stopButton(), Qt::LeftButton);
    EXPECT_EQ(view.stopButton()->text(), QStringLiteral("Stopping\u2026"));
    EXPECT_FALSE(view.stopButton()->isEnabled());
    ASSERT_TRUE(settled(view));
    EXPECT_TRUE(view.stopButton()->isHidden());
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Stopped \u2014 1 file still queued."));
    EXPECT_TRUE(view.convertButton()->isEnabled());
}

TEST_F(ConvertViewTest, autoStartWithoutFFmpegOnlyQueues)
{
    service::SessionStore store;
    connectDemo(store);
    NoFFmpeg none;
    ConvertView view(store);
    view.setActive(true);
    QTest::mouseClick(view.autoStartSwitch(), Qt::LeftButton);
    ASSERT_TRUE(view.autoStart());
    EXPECT_TRUE(settings().autoStartConvert()) << "the switch is the stored setting";
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Install ffmpeg in Preferences to convert."));
    ASSERT_TRUE(dropFiles(view.card(ConvertView::audioCard)->dropTarget(), QStringList{tone(QStringLiteral("a.wav"))}));
    EXPECT_EQ(view.runner().items().size(), 1);
    EXPECT_FALSE(view.runner().isRunning());
    EXPECT_TRUE(view.runner().hasPending());
}

TEST_F(ConvertViewTest, anOverrideReplacesTheDetectedFFmpegAtOnce)
{
    service::SessionStore store;
    connectDemo(store);
    ConvertView view(store);
    view.setActive(true);
    ASSERT_EQ(view.ffmpeg(), std::optional<QString>(TestMedia::ffmpeg()));
    settle(900);
    EXPECT_FALSE(view.installSheet()) << "with ffmpeg nothing is prompted";
    EXPECT_FALSE(view.didAutoPromptInstall());

    const QString override = slowFFmpeg(0);
    settings().setValue(QStringLiteral("ffmpegPathOverride"), QStringLiteral("  ") + override + QStringLiteral("\t"));
    EXPECT_EQ(view.ffmpeg(), std::optional<QString>(override));
    settings().setValue(QStringLiteral("autoStartConvert"), true);
    EXPECT_TRUE(view.autoStart());
    EXPECT_TRUE(view.autoStartSwitch()->isChecked());
    ASSERT_TRUE(dropFiles(view.card(ConvertView::normaliseCard)->dropTarget(), QStringList{tone(QStringLiteral("a.wav"))}));
    ASSERT_TRUE(settled(view));
    EXPECT_EQ(view.runner().items().front().succeeded, true);
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("bin/ran")))) << "the override converted";

    // Not executable: ignored, the detected one is back.
    QFile::setPermissions(override, QFile::ReadOwner | QFile::WriteOwner);
    settings().setValue(QStringLiteral("ffmpegPathOverride"), override);
    EXPECT_EQ(view.ffmpeg(), std::optional<QString>(TestMedia::ffmpeg()));

    // With none detected, an override is all it takes.
    NoFFmpeg none;
    settings().remove(QStringLiteral("ffmpegPathOverride"));
    EXPECT_FALSE(view.ffmpeg());
    EXPECT_FALSE(view.ffmpegCard()->isHidden());
    EXPECT_FALSE(view.installButton()->isHidden());
    settings().setValue(QStringLiteral("ffmpegPathOverride"), TestMedia::ffmpeg());
    EXPECT_EQ(view.ffmpeg(), std::optional<QString>(TestMedia::ffmpeg()));
    EXPECT_TRUE(view.ffmpegCard()->isHidden());
    EXPECT_TRUE(view.installButton()->isHidden());
}

TEST_F(ConvertViewTest, dropsDuringARunJoinItAndClearWaitsForTheEnd)
{
    service::SessionStore store;
    connectDemo(store);
    settings().setValue(QStringLiteral("ffmpegPathOverride"), slowFFmpeg(0.5));
    settings().setValue(QStringLiteral("autoStartConvert"), true);
    ConvertView view(store);
    view.setActive(true);
    int runs = 0;
    QObject::connect(&view.runner(), &ConvertRunner::runStateChanged, &view, [&] {
        if (view.runner().runState() == ConvertRunner::RunState::running)
            ++runs;
    });
    ASSERT_TRUE(dropFiles(view.card(ConvertView::normaliseCard)->dropTarget(), QStringList{tone(QStringLiteral("a.wav"))}));
    ASSERT_TRUE(view.runner().isRunning());
    ASSERT_TRUE(dropFiles(view.card(ConvertView::audioCard)->dropTarget(),
                          QStringList{tone(QStringLiteral("b.wav")), tone(QStringLiteral("c.wav"))}));
    EXPECT_EQ(view.runner().items().size(), 3);

    // Clear on a card while converting: nothing happens.
    QTest::mouseClick(view.card(ConvertView::audioCard)->clearButton(), Qt::LeftButton);
    EXPECT_EQ(view.runner().items().size(), 3);
    EXPECT_NE(view.statusLabel()->text(), QStringLiteral("Cleared."));
    // Delete on a row while converting: refused, and the row says why.
    view.queueView()->setCurrentIndex(view.queueView()->model()->index(0, 0));
    QTest::keyClick(view.queueView(), Qt::Key_Delete);
    EXPECT_EQ(view.runner().items().size(), 3);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("The queue changes once it stops: Stop, then Remove."));

    ASSERT_TRUE(settled(view));
    EXPECT_EQ(runs, 1) << "the running loop took the later files";
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Queue finished \u2014 3 done, 0 failed."));
    for (const QString &output : {QStringLiteral("a_-14LUFS.wav"), QStringLiteral("b_aac.m4a"), QStringLiteral("c_aac.m4a")})
        EXPECT_TRUE(QFileInfo(path(output)).isFile()) << output.toStdString();

    // Idle: Clear removes that card's items only.
    QTest::mouseClick(view.card(ConvertView::audioCard)->clearButton(), Qt::LeftButton);
    ASSERT_EQ(view.runner().items().size(), 1);
    EXPECT_EQ(view.runner().items().front().presetID, QStringLiteral("normalise-14lufs"));
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Cleared."));
    EXPECT_EQ(view.card(ConvertView::audioCard)->itemCount(), 0);
    EXPECT_EQ(view.card(ConvertView::normaliseCard)->itemCount(), 1);
}

TEST_F(ConvertViewTest, refreshingScriptsReplacesThePresetsOrKeepsThemOnFailure)
{
    service::SessionStore store;
    ConvertView view(store);
    QTest::mouseClick(view.refreshButton(), Qt::LeftButton);
    EXPECT_TRUE(server().requests().isEmpty()) << "no session, no refresh";

    connectDemo(store);
    const QList<Preset> full = store.presets();
    ASSERT_EQ(view.visibleCards().size(), 4);
    store.setPresets({*PresetSelection::m4a(full)});
    ASSERT_EQ(view.visibleCards().size(), 1) << "a card appears only with its preset";
    EXPECT_EQ(view.visibleCards().front()->key(), ConvertView::audioCard);

    server().addFault(fault(QStringLiteral("GET"), QStringLiteral("/v1/presets"), QStringLiteral("status"), 503));
    run(view.refreshScripts());
    EXPECT_TRUE(view.statusLabel()->text().startsWith(QStringLiteral("Could not refresh scripts: ")))
        << view.statusLabel()->text().toStdString();
    EXPECT_EQ(store.presets().size(), 1) << "the old list stays";
    EXPECT_EQ(view.visibleCards().size(), 1);

    run(view.refreshScripts());
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Scripts refreshed from the VPS."));
    EXPECT_EQ(store.presets(), full);
    EXPECT_EQ(view.visibleCards().size(), 4);

    // An answer that arrives after a sign-out, or after a sign-in with another key, belongs to
    // the session before: it changes neither the list nor the status line.
    const QString emptyList = QStringLiteral(R"({"version":1,"generated_at":"g","note":"n","presets":[]})");
    for (const bool signIn : {false, true}) {
        SCOPED_TRACE(signIn ? "signed in again" : "signed out");
        connectDemo(store);
        server().clearRequests();
        server().addFault(fault(QStringLiteral("GET"), QStringLiteral("/v1/presets"), QStringLiteral("delay"), 200, 1, 500));
        auto late = view.refreshScripts();
        ASSERT_TRUE(waitForRequests(QStringLiteral("/v1/presets")));
        if (signIn) {
            QJsonObject fewer = fault(QStringLiteral("GET"), QStringLiteral("/v1/presets"), QStringLiteral("status"), 200);
            fewer.insert(QStringLiteral("body"), emptyList);
            server().addFault(fewer);
            run(store.connect(secondKey));
            ASSERT_TRUE(store.state().isConnected());
        } else {
            store.disconnect();
        }
        view.runner().setStatusLine(QStringLiteral("Cleared."));
        run(std::move(late));
        EXPECT_TRUE(store.presets().isEmpty());
        EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Cleared."));
    }
}

TEST_F(ConvertViewTest, queueRowsByMouseKeyboardAndScreenReader)
{
    service::SessionStore store;
    connectDemo(store);
    ConvertView view(store);
    view.setActive(true);
    view.resize(windowSize);
    view.show();
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    const QString good = tone(QStringLiteral("good.wav"));
    const QString bad = path(QStringLiteral("bad.wav"));
    writeFile(bad, "this is not audio");
    ASSERT_TRUE(dropFiles(view.card(ConvertView::normaliseCard)->dropTarget(), QStringList{good, bad}));
    view.convert();
    ASSERT_TRUE(settled(view));
    settle();
    ASSERT_EQ(view.runner().items().size(), 2);
    EXPECT_EQ(view.runner().items().at(0).input, bad) << "queued in name order";
    EXPECT_EQ(view.runner().items().at(0).succeeded, false);
    EXPECT_EQ(view.runner().items().at(1).succeeded, true);
    EXPECT_EQ(view.countsLabel()->text(), QStringLiteral("1 done \u00B7 1 failed \u00B7 0 pending"));

    convert::QueueModel *model = view.queueModel();
    EXPECT_EQ(model->index(0).data(convert::QueueModel::PresetNameRole).toString(), QStringLiteral("\u221214 LUFS"));
    EXPECT_FALSE(model->index(0).data(convert::QueueModel::ErrorDetailRole).toString().isEmpty());
    EXPECT_EQ(model->index(0).data(convert::QueueModel::DetailRole), model->index(0).data(convert::QueueModel::ErrorDetailRole));
    // The good file is too short to measure (0.3 s): it is converted, and its row says what happened.
    EXPECT_EQ(model->index(1).data(convert::QueueModel::DetailRole).toString(),
              QStringLiteral("The source is silent or too short to measure; its level was left as it is."));
    EXPECT_EQ(view.queueView()->sizeHintForRow(0), view.queueView()->sizeHintForRow(1)) << "both have a line of their own";
    EXPECT_EQ(QueueRowDelegate::buttons(model->index(0)),
              (QList<QueueRowDelegate::Button>{QueueRowDelegate::Button::retry, QueueRowDelegate::Button::remove}));
    EXPECT_EQ(QueueRowDelegate::buttons(model->index(1)),
              (QList<QueueRowDelegate::Button>{QueueRowDelegate::Button::reveal, QueueRowDelegate::Button::remove}));
    EXPECT_TRUE(view.queueButtonRect(1, QueueRowDelegate::Button::retry).isEmpty());
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("convert-queue"), windowSize));

    // Each row tells a screen reader its status, its failure and its actions, which are the
    // actions of its interface.
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(view.queueView());
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->childCount(), 2);
    QAccessibleInterface *failedRow = list->child(0);
    ASSERT_NE(failedRow, nullptr);
    EXPECT_EQ(failedRow->role(), QAccessible::ListItem);
    EXPECT_EQ(failedRow->parent(), list);
    EXPECT_EQ(list->indexOfChild(failedRow), 0);
    EXPECT_TRUE(failedRow->text(QAccessible::Name).startsWith(QStringLiteral("bad.wav, \u2717 Failed (exit ")));
    EXPECT_TRUE(failedRow->text(QAccessible::Description).endsWith(QStringLiteral("Actions: Retry, Remove")));
    EXPECT_TRUE(list->child(1)->text(QAccessible::Description).endsWith(QStringLiteral("Actions: Reveal, Remove")));
    ASSERT_NE(failedRow->actionInterface(), nullptr);
    EXPECT_EQ(failedRow->actionInterface()->actionNames(), (QStringList{QStringLiteral("Retry"), QStringLiteral("Remove")}));
    ASSERT_NE(list->child(1)->actionInterface(), nullptr);
    EXPECT_EQ(list->child(1)->actionInterface()->actionNames(),
              (QStringList{QStringLiteral("Reveal"), QStringLiteral("Remove")}));

    // Reveal: the file manager on the session bus is asked to show the output selected.
    const QString output = *view.runner().items().at(1).output;
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected()) << "the test runs on a private session bus";
    FileManager fileManager;
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager,
                                   QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    QTest::mouseClick(view.queueView()->viewport(), Qt::LeftButton, {},
                      view.queueButtonRect(1, QueueRowDelegate::Button::reveal).center());
    ASSERT_TRUE(waitUntil([&] { return !fileManager.shown.isEmpty(); }, 10000));
    EXPECT_EQ(fileManager.shown, QStringList{QUrl::fromLocalFile(output).toString()});
    bus.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    bus.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));

    // Tab reaches the list; its first row is the current one, and shows it.
    view.queueView()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(view.queueView()->currentIndex().row(), 0);
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("convert-queue-row-focus"), windowSize));
    // Return on a done row reveals its output: without a file manager, its folder is opened.
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    QTest::keyClick(view.queueView(), Qt::Key_Down);
    QTest::keyClick(view.queueView(), Qt::Key_Return);
    const bool opened = waitUntil([&] { return !catcher.opened.isEmpty(); }, 10000);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_TRUE(opened);
    EXPECT_EQ(catcher.opened.front(), QUrl::fromLocalFile(m_dir.path()));
    // Return on a failed row retries it (and starts nothing).
    QTest::keyClick(view.queueView(), Qt::Key_Up);
    QTest::keyClick(view.queueView(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(view.runner().items().at(0).status, QStringLiteral("Queued"));
    EXPECT_FALSE(view.runner().items().at(0).succeeded);
    EXPECT_FALSE(view.runner().isRunning());
    ASSERT_EQ(list->child(0)->actionInterface()->actionNames(), QStringList{QStringLiteral("Remove")});
    EXPECT_TRUE(model->index(0).data(Qt::ToolTipRole).toString().contains(QStringLiteral("Return does nothing")))
        << "a pending row says that Return has nothing to do on it";
    // Remove takes a row away, by a screen reader's action or by Delete; a pending item stays on Clear.
    list->child(1)->actionInterface()->doAction(QStringLiteral("Remove"));
    ASSERT_EQ(view.runner().items().size(), 1);
    EXPECT_EQ(view.runner().items().front().input, bad);
    EXPECT_EQ(model->rowCount(), 1);
    QTest::mouseClick(view.clearFinishedButton(), Qt::LeftButton);
    EXPECT_EQ(view.runner().items().size(), 1) << "a pending item stays";
    view.queueView()->setCurrentIndex(model->index(0));
    QTest::keyClick(view.queueView(), Qt::Key_Delete);
    EXPECT_TRUE(view.runner().items().isEmpty());
}

TEST_F(ConvertViewTest, aDropWhileAWebTabShowsGoesToThatTab)
{
    service::SessionStore store;
    connectDemo(store);
    ConvertView view(store); // not the selected tab
    web::DropRouter &router = web::DropRouter::shared();
    QList<QPair<QString, QPointF>> received;
    router.correctionHandler = [&](const QList<QUrl> &files, QPointF at) {
        received.append({QStringLiteral("correction:") + files.front().fileName(), at});
    };
    router.cinemaHandler = [&](const QList<QUrl> &files, QPointF at) {
        received.append({QStringLiteral("cinema:") + files.front().fileName(), at});
    };
    const QStringList files{tone(QStringLiteral("a.wav"))};
    analysis::CardDropTarget *target = view.card(ConvertView::audioCard)->dropTarget();

    router.webTabActive = false;
    EXPECT_FALSE(dropFiles(target, files)) << "no tab to take it";

    router.webTabActive = true;
    router.correctionActive = true;
    EXPECT_TRUE(dropFiles(target, files));
    router.correctionActive = false;
    EXPECT_TRUE(dropFiles(target, files));
    router.correctionActive = true;
    router.correctionHandler = nullptr;
    EXPECT_TRUE(dropFiles(target, files));
    router.cinemaHandler = nullptr;
    EXPECT_TRUE(dropFiles(target, files)) << "accepted even when no tab takes it";

    const QList<QPair<QString, QPointF>> expected{{QStringLiteral("correction:a.wav"), QPointF(0, 0)},
                                                  {QStringLiteral("cinema:a.wav"), QPointF(0, 0)},
                                                  {QStringLiteral("cinema:a.wav"), QPointF(0, 0)}};
    EXPECT_EQ(received, expected);
    EXPECT_TRUE(view.runner().items().isEmpty()) << "nothing was queued here";
    EXPECT_FALSE(view.card(ConvertView::audioCard)->dropArea()->isHighlighted());
}

TEST_F(ConvertViewTest, withoutFFmpegTheInstallSheetIsOfferedOnceAndItsInstallIsUsedAtOnce)
{
    service::SessionStore store;
    connectDemo(store);
    NoFFmpeg none;
    ConvertView view(store);
    view.resize(windowSize);
    view.show();
    view.setActive(true);
    ASSERT_TRUE(waitUntil([&] { return view.installSheet() && view.installSheet()->isVisible(); }, 5000))
        << "the prompt comes 0.6 s after the page shows";
    ffmpeg::FFmpegInstallSheet *sheet = view.installSheet();
    EXPECT_TRUE(view.didAutoPromptInstall());
    sheet->reject();
    view.setActive(false);
    view.setActive(true);
    settle(900);
    EXPECT_FALSE(sheet->isVisible()) << "prompted once only";

    QTest::mouseClick(view.installButton(), Qt::LeftButton);
    EXPECT_EQ(view.installSheet(), sheet) << "made once and kept";
    ASSERT_TRUE(sheet->isVisible());

    // Choose a program: it is adopted into the tools folder, the sheet closes and the page uses
    // the managed copy from then on.
    QTest::mouseClick(sheet->chooseButton(), Qt::LeftButton);
    QFileDialog *dialog = openDialog(sheet, QStringLiteral("chooseFFmpegDialog"));
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(TestMedia::ffmpeg());
    static_cast<QDialog *>(dialog)->accept();
    ASSERT_TRUE(waitUntil([&] { return !sheet->isVisible(); }, 30000)) << sheet->phaseLabel()->text().toStdString();
    EXPECT_EQ(view.ffmpeg(), std::optional<QString>(ffmpeg::FFmpegLocator::managedCopy()));
    EXPECT_TRUE(view.ffmpegCard()->isHidden());
    EXPECT_TRUE(view.installButton()->isHidden());
}

TEST_F(ConvertViewTest, theOutputLineFollowsTheExportSettings)
{
    service::SessionStore store;
    ConvertView view(store);
    EXPECT_EQ(view.outputLabel()->text(), QStringLiteral("Output: same folder as each source"));
    settings().setValue(QStringLiteral("exportLocation"), QStringLiteral("customFolder"));
    EXPECT_EQ(view.outputLabel()->text(), QStringLiteral("Output: "));
    settings().setValue(QStringLiteral("exportFolderPath"), QStringLiteral(" /srv/renders "));
    EXPECT_EQ(view.outputLabel()->text(), QStringLiteral("Output:  /srv/renders ")) << "the stored text unchanged";
    settings().setValue(QStringLiteral("exportLocation"), QStringLiteral("somewhere"));
    EXPECT_EQ(view.outputLabel()->text(), QStringLiteral("Output: same folder as each source"));
}

TEST_F(ConvertViewTest, chosenFilesAndFoldersAreQueuedForTheCard)
{
    service::SessionStore store;
    connectDemo(store);
    ConvertView view(store);
    const QString a = tone(QStringLiteral("picked/a.wav"));
    tone(QStringLiteral("picked/deeper/b.wav"));

    QTest::mouseClick(view.card(ConvertView::normaliseCard)->chooseFilesButton(), Qt::LeftButton);
    QFileDialog *files = openDialog(&view, QStringLiteral("chooseFilesDialog"));
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(files->fileMode(), QFileDialog::ExistingFiles);
    files->selectFile(a);
    static_cast<QDialog *>(files)->accept();
    ASSERT_EQ(view.runner().items().size(), 1);
    EXPECT_EQ(view.runner().items().front().presetID, QStringLiteral("normalise-14lufs"));

    QTest::mouseClick(view.card(ConvertView::audioCard)->chooseFolderButton(), Qt::LeftButton);
    QFileDialog *folder = openDialog(&view, QStringLiteral("chooseFolderDialog"));
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->fileMode(), QFileDialog::Directory);
    folder->setDirectory(m_dir.path());
    folder->selectFile(path(QStringLiteral("picked")));
    static_cast<QDialog *>(folder)->accept();
    ASSERT_EQ(view.runner().items().size(), 3);
    EXPECT_EQ(view.runner().items(QStringLiteral("audio-m4a")).size(), 2);
}

TEST_F(ConvertViewTest, theStartUpHooksConnectAndQueueForM4A)
{
    const QString a = tone(QStringLiteral("hook/a.wav"));
    const QString b = tone(QStringLiteral("hook/b.wav"));
    settings().setValue(QStringLiteral("connectKey"), server().demoKey());
    settings().setValue(QStringLiteral("autoConvert"), a + QStringLiteral(",") + b + QStringLiteral(","));
    service::SessionStore store;
    ConvertView view(store);
    ASSERT_TRUE(waitUntil([&] { return view.runner().items().size() == 2; }, 30000));
    EXPECT_TRUE(store.state().isConnected());
    for (const convert::QueueItem &item : view.runner().items())
        EXPECT_EQ(item.presetID, QStringLiteral("audio-m4a"));
}

} // namespace

#include "ConvertViewTest.moc"

TEST_F(ConvertViewTest, aQueueInProgressShowsEachConversionsBarAndTheQueuesEstimate)
{
    service::SessionStore store;
    connectDemo(store);
    // A script that converts in real time, so that the conversions are caught half way.
    Preset slow = *PresetSelection::m4a(store.presets());
    slow.id = QStringLiteral("real-time");
    slow.name = QStringLiteral("Real time");
    slow.suffix = QStringLiteral("_rt");
    slow.outputExt = QStringLiteral(".wav");
    slow.command = QStringLiteral("ffmpeg -hide_banner -nostdin -y -re -i \"{input}\" -c:a pcm_s16le \"{output_base}.wav\"");
    slow.maxChannels.reset();
    slow.loudness.reset();
    QList<Preset> presets = store.presets();
    presets.append(slow);
    store.setPresets(presets);
    settings().setValue(QStringLiteral("simultaneousConversions"), 2);
    ConvertView view(store);
    view.setActive(true);
    view.resize(windowSize);
    view.show();
    view.enqueue({QUrl::fromLocalFile(tone(QStringLiteral("in/Interview.wav"), 12)),
                  QUrl::fromLocalFile(tone(QStringLiteral("in/Podcast.wav"), 12)),
                  QUrl::fromLocalFile(tone(QStringLiteral("in/Outro.wav"), 12))},
                 slow);
    view.convert();
    settings().remove(QStringLiteral("simultaneousConversions"));

    convert::QueueModel *model = view.queueModel();
    auto fraction = [&](int row) { return model->index(row).data(convert::QueueModel::ProgressRole); };
    ASSERT_TRUE(waitUntil([&] { return fraction(0).toDouble() > 0.3 && fraction(1).toDouble() > 0.3; }, 30000));
    EXPECT_FALSE(fraction(2).isValid()) << "the third waits for a free lane";
    const QString text = model->index(0).data(convert::QueueModel::ProgressTextRole).toString();
    EXPECT_TRUE(text.contains(QStringLiteral("% \u00B7 ")) && text.endsWith(QStringLiteral(" left"))) << text.toStdString();
    EXPECT_EQ(model->index(0).data(convert::QueueModel::StatusRole).toString(), QStringLiteral("Converting Interview.wav\u2026"));
    QLabel *queueLine = view.queueSection()->queueProgressLabel();
    ASSERT_TRUE(waitUntil([&] { return queueLine->text().contains(QStringLiteral("left")); }, 5000));
    EXPECT_TRUE(queueLine->text().startsWith(QStringLiteral("0 of 3 files \u00B7 about "))) << queueLine->text().toStdString();
    EXPECT_GT(view.queueView()->sizeHintForRow(0), view.queueView()->sizeHintForRow(2)) << "a converting row has a line for its bar";
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("convert-progress"), windowSize));
    EXPECT_TRUE(saveScreenshot(view.queueSection(), QStringLiteral("convert-progress-queue")));

    view.runner().cancel();
    ASSERT_TRUE(settled(view));
    EXPECT_TRUE(queueLine->isHidden());
    EXPECT_FALSE(fraction(0).isValid());
    EXPECT_EQ(view.runner().statusLine(), QStringLiteral("Stopped \u2014 3 files still queued."));
    // The grace a stop gives ffmpeg before SIGKILL runs out on its own timer; it must fire before
    // the view goes, or its wait is never resumed.
    QTest::qWait(int(convert::ConvertRunner::forceKillDelay.count()) + 500);
}

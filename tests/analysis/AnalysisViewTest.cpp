// The Analysis page against the real stand-in service: drops on the drop card start a run when
// connected, finished cards open onto the report (the loudness section formatted from the
// service's numbers), failed cards show the error and retry, Save Report writes the service's
// bytes, the texts of the status bar and the connection label, and the start-up hooks.
// Screenshots of the page (empty, with items, with an open report) go to build/screenshots.
#include "analysis/AnalysisCard.h"
#include "analysis/AnalysisItemCard.h"
#include "analysis/AnalysisProgressRow.h"
#include "analysis/AnalysisView.h"
#include "analysis/CardDropTarget.h"
#include "analysis/DropArea.h"
#include "analysis/ReportFormat.h"
#include "analysis/ReportView.h"
#include "tests/analysis/TestAudio.h"
#include "tests/service/SessionTestSupport.h"
#include "tests/support/DropEvents.h"
#include "tests/support/Screenshots.h"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace vorlik;
using namespace vorlik::test;
using analysis::AnalysisItemCard;
using analysis::AnalysisRunner;
using analysis::AnalysisView;

namespace {

const QSize windowSize(1200, 780);
const QSize smallSize(760, 520);

bool waitUntil(const std::function<bool()> &done, int capMs = 60000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > capMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

template <typename Dialog = QFileDialog>
Dialog *openDialog(QWidget *owner, const QString &name)
{
    Dialog *found = nullptr;
    waitUntil([&] { return (found = owner->findChild<Dialog *>(name)) != nullptr && found->isVisible(); }, 5000);
    return found;
}

class AnalysisViewTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        ASSERT_TRUE(m_files.isValid());
        settings().remove(QStringLiteral("connectKey"));
        settings().remove(QStringLiteral("autoAnalyze"));
    }
    void TearDown() override
    {
        settings().remove(QStringLiteral("connectKey"));
        settings().remove(QStringLiteral("autoAnalyze"));
        SessionTest::TearDown();
    }

    static platform::Settings &settings() { return platform::Settings::standard(); }

    QString tone(const QString &name, double seconds = 0.5)
    {
        writeFile(m_files.filePath(name), sineWAV(seconds));
        return m_files.filePath(name);
    }

    static void behave(const QJsonObject &behaviour)
    {
        const auto [status, body] =
            server().call("POST", QStringLiteral("/admin/jobs"), QJsonDocument(behaviour).toJson());
        ASSERT_EQ(status, 200) << body.toStdString();
    }

    static bool finished(AnalysisView &view)
    {
        return waitUntil([&] { return !view.runner().isRunning() && !view.runner().hasPending(); });
    }

    QTemporaryDir m_files;
};

TEST_F(AnalysisViewTest, anEmptyPageSaysHowToStart)
{
    service::SessionStore store;
    AnalysisView view(store);
    view.setActive(true);
    EXPECT_FALSE(view.signInHint()->isHidden());
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Sign in from the top-right connection menu to start."));
    EXPECT_EQ(view.counterLabel()->text(), QStringLiteral("Files analysed this session: 0"));
    EXPECT_TRUE(view.connectionLabel()->text().endsWith(QStringLiteral("Offline")));
    EXPECT_TRUE(view.busyIndicator()->isHidden());
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("analysis-empty"), windowSize));
    EXPECT_EQ(view.dropTarget()->height(), 255) << "the card's content needs less at this width";
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("analysis-empty-small"), smallSize));

    // Queued while not connected: nothing starts.
    ASSERT_TRUE(dropFiles(view.dropTarget(), QStringList{tone(QStringLiteral("a.wav"))}));
    EXPECT_EQ(view.runner().items().size(), 1);
    EXPECT_FALSE(view.runner().isRunning());
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("1 file queued \u2014 analysis runs on the Vorlik VPS."));
    EXPECT_TRUE(server().requests().isEmpty());
}

TEST_F(AnalysisViewTest, theConnectionLabelFollowsTheStore)
{
    service::SessionStore store;
    AnalysisView view(store);
    QStringList seen;
    QObject::connect(&store, &service::SessionStore::stateChanged, &view,
                     [&] { seen << view.connectionLabel()->text().mid(2); });
    run(store.connect(QStringLiteral("vk_not_a_known_key_00000000000000")));
    EXPECT_EQ(seen, (QStringList{QStringLiteral("Connecting\u2026"), QStringLiteral("Sign-in failed")}));
    connectDemo(store);
    EXPECT_EQ(seen.last(), QStringLiteral("Connected"));
    EXPECT_TRUE(view.signInHint()->isHidden());
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Drop audio files to analyse them on the VPS."));

    const service::ConnectionState states[] = {service::ConnectionState::disconnected(),
                                               service::ConnectionState::connecting(),
                                               service::ConnectionState::connected(QStringLiteral("c")),
                                               service::ConnectionState::failed(QStringLiteral("x"))};
    QSet<QRgb> colours;
    for (const auto &state : states)
        colours.insert(AnalysisView::connectionColor(state).rgb());
    EXPECT_EQ(colours.size(), 4) << "each state has a colour of its own";
}

TEST_F(AnalysisViewTest, droppedFilesAreAnalysedAndTheReportOpens)
{
    service::SessionStore store;
    connectDemo(store);
    AnalysisView view(store);
    view.setActive(true);
    view.resize(windowSize);
    view.show();

    QList<bool> hover;
    const auto data = fileData({QUrl::fromLocalFile(tone(QStringLiteral("Take 1.wav")))});
    EXPECT_TRUE(dragEnter(view.dropTarget(), *data).accepted);
    EXPECT_TRUE(view.dropArea()->isHighlighted());
    dragLeave(view.dropTarget());
    EXPECT_FALSE(view.dropArea()->isHighlighted());

    ASSERT_TRUE(dropFiles(view.dropTarget(),
                          QStringList{tone(QStringLiteral("Take 1.wav")), tone(QStringLiteral("Take 2.wav"), 1.0)}));
    EXPECT_TRUE(view.runner().isRunning()) << "connected: the run starts with the drop";
    EXPECT_FALSE(view.busyIndicator()->isHidden());
    EXPECT_FALSE(view.stopButton()->isHidden());
    ASSERT_TRUE(finished(view)) << view.statusLabel()->text().toStdString();
    EXPECT_TRUE(view.busyIndicator()->isHidden());
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Queue finished \u2014 2 files analysed."));
    EXPECT_EQ(view.counterLabel()->text(), QStringLiteral("Files analysed this session: 2"));

    const QList<AnalysisItemCard *> cards = view.itemCards();
    ASSERT_EQ(cards.size(), 2);
    const AnalysisRunner::Item item = view.runner().items().front();
    ASSERT_TRUE(item.analysis && item.analysis->loudness && item.analysis->loudness->integratedLufs);
    AnalysisItemCard *first = cards.front();
    EXPECT_EQ(first->nameLabel()->text(), QStringLiteral("Take 1.wav"));
    EXPECT_EQ(first->statusLabel()->text(), QStringLiteral("\u2713 Take 1.wav"));
    EXPECT_EQ(first->symbolName(), QStringLiteral("waveform"));
    EXPECT_EQ(first->chevronName(), QStringLiteral("chevron.right"));
    EXPECT_EQ(first->summaryLabel()->text(),
              QStringLiteral("44100 Hz \u00B7 2 ch \u00B7 16-bit \u00B7 ")
                  + analysis::ReportFormat::printf("%.1f LUFS", *item.analysis->loudness->integratedLufs));
    EXPECT_EQ(first->report(), nullptr) << "the report's rows are made when the card opens";
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("analysis-items"), windowSize));

    QTest::mouseClick(first->chevron(), Qt::LeftButton);
    EXPECT_TRUE(view.isExpanded(item.id));
    EXPECT_EQ(first->chevronName(), QStringLiteral("chevron.down"));
    ASSERT_NE(first->report(), nullptr);
    const QString loudness = QStringLiteral("Loudness (EBU R128 / ITU-R BS.1770)");
    const QString integrated = first->report()->shownValue(loudness, QStringLiteral("Integrated"));
    EXPECT_EQ(integrated, analysis::ReportFormat::printf("%.2f", *item.analysis->loudness->integratedLufs)
                              + QStringLiteral(" LUFS"));
    EXPECT_NEAR(integrated.section(u' ', 0, 0).toDouble(), -6.0, 1.0) << "a -6 dBFS stereo sine";
    EXPECT_EQ(first->report()->shownValue(QStringLiteral("Container"), QStringLiteral("Type")).isEmpty(), false);
    EXPECT_EQ(first->report()->shownValue(QStringLiteral("Audio Stream #0"), QStringLiteral("Channels")),
              analysis::ReportFormat::channelLabel(item.analysis->audioStreams->front()));
    EXPECT_TRUE(first->report()->shownValue(QStringLiteral("Audio Stream #0"), QStringLiteral("Channels"))
                    .startsWith(QStringLiteral("2")));
    EXPECT_FALSE(first->saveButton()->isHidden());
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("analysis-report-open"), windowSize));
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("analysis-report-open-small"), smallSize));

    QTest::mouseClick(first->chevron(), Qt::LeftButton);
    EXPECT_FALSE(view.isExpanded(item.id));
    EXPECT_FALSE(first->report()->isVisibleTo(&view));

    // A card's Clear removes that finished item; the header's Clear the rest.
    QTest::mouseClick(first->clearButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return view.itemCards().size() == 1; }));
    EXPECT_EQ(view.runner().items().size(), 1);
    QTest::mouseClick(view.clearButton(), Qt::LeftButton);
    EXPECT_TRUE(view.runner().items().isEmpty());
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Cleared."));
    EXPECT_EQ(view.counterLabel()->text(), QStringLiteral("Files analysed this session: 2"));
}

TEST_F(AnalysisViewTest, anInactivePageTakesNoDrops)
{
    service::SessionStore store;
    connectDemo(store);
    AnalysisView view(store);
    EXPECT_FALSE(view.isActive());
    const auto data = fileData({QUrl::fromLocalFile(tone(QStringLiteral("a.wav")))});
    EXPECT_FALSE(dragEnter(view.dropTarget(), *data).accepted);
    EXPECT_FALSE(view.dropArea()->isHighlighted());
    EXPECT_FALSE(drop(view.dropTarget(), *data).accepted) << "no drag was taken, so there is no drop";
    EXPECT_TRUE(view.runner().items().isEmpty());

    view.setActive(true);
    EXPECT_TRUE(dropFiles(view.dropTarget(), QList<QUrl>{data->urls()}));
    EXPECT_EQ(view.runner().items().size(), 1);
    ASSERT_TRUE(finished(view));
}

TEST_F(AnalysisViewTest, aFailedJobIsARedCardWithItsErrorAndRetryStartsOver)
{
    service::SessionStore store;
    connectDemo(store);
    AnalysisView view(store);
    view.setActive(true);
    behave({{QStringLiteral("outcome"), QStringLiteral("fail")},
            {QStringLiteral("error_summary"), QStringLiteral("the file holds no audio stream")}});
    view.enqueue({QUrl::fromLocalFile(tone(QStringLiteral("broken.wav")))});
    ASSERT_TRUE(waitUntil([&] { return !view.runner().isRunning(); }));

    AnalysisItemCard *card = view.itemCards().value(0);
    ASSERT_NE(card, nullptr);
    EXPECT_TRUE(card->isFailed());
    EXPECT_EQ(card->symbolName(), QStringLiteral("exclamationmark.triangle.fill"));
    EXPECT_EQ(card->statusLabel()->text(), QStringLiteral("\u2717 broken.wav"));
    EXPECT_TRUE(card->summaryLabel()->isHidden());
    QTest::mouseClick(card->chevron(), Qt::LeftButton);
    EXPECT_EQ(card->errorLabel()->text(), QStringLiteral("the file holds no audio stream"));
    EXPECT_FALSE(card->retryButton()->isHidden());
    EXPECT_TRUE(card->saveButton()->isHidden());
    EXPECT_EQ(view.statusLabel()->text(),
              QStringLiteral("Queue finished \u2014 0 analysed, 1 failed. Click a red card for details."));
    view.resize(windowSize);
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("analysis-failed-open"), windowSize));

    // Retry starts a run at once; the failed job could only fail again, so the file is uploaded
    // anew and analysed by a new job.
    server().clearRequests();
    QTest::mouseClick(card->retryButton(), Qt::LeftButton);
    EXPECT_TRUE(view.runner().isRunning());
    ASSERT_TRUE(waitUntil([&] { return !view.runner().isRunning(); }));
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/uploads")).size(), 1);
    EXPECT_EQ(view.runner().items().front().succeeded, true);
    EXPECT_FALSE(view.itemCards().value(0)->isFailed());
}

TEST_F(AnalysisViewTest, saveReportWritesTheServicesBytes)
{
    service::SessionStore store;
    connectDemo(store);
    AnalysisView view(store);
    view.setActive(true);
    const QString input = tone(QStringLiteral("Mix v2.final.wav"));
    view.enqueue({QUrl::fromLocalFile(input)});
    ASSERT_TRUE(finished(view));
    const AnalysisRunner::Item item = view.runner().items().front();
    ASSERT_TRUE(item.jobID);
    view.toggleExpanded(item.id);
    AnalysisItemCard *card = view.itemCard(item.id);
    ASSERT_FALSE(card->saveButton()->isHidden());

    QTest::mouseClick(card->saveButton(), Qt::LeftButton);
    QFileDialog *dialog = openDialog(&view, QStringLiteral("saveReportDialog"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(QDir(dialog->directory()).absolutePath(), QDir(m_files.path()).absolutePath());
    ASSERT_EQ(dialog->selectedFiles().size(), 1);
    EXPECT_EQ(QFileInfo(dialog->selectedFiles().front()).fileName(), QStringLiteral("Mix v2.final_report.txt"));

    const QString target = m_files.filePath(QStringLiteral("saved/report.txt"));
    QDir().mkpath(QFileInfo(target).path());
    dialog->selectFile(target);
    static_cast<QDialog *>(dialog)->accept();
    ASSERT_TRUE(waitUntil([&] { return view.statusLabel()->text().startsWith(QStringLiteral("Report saved")); }))
        << view.statusLabel()->text().toStdString();
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Report saved \u2192 report.txt"));

    const auto [status, expected] = server().call("GET", QStringLiteral("/v1/jobs/") + *item.jobID + QStringLiteral("/download/report"),
                                                  {}, store.session()->accessToken);
    ASSERT_EQ(status, 200);
    EXPECT_FALSE(expected.isEmpty());
    EXPECT_EQ(readFile(target), expected);
    EXPECT_EQ(QDir(QFileInfo(target).path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("report.txt")})
        << "nothing left beside it";
}

TEST_F(AnalysisViewTest, aReportThatCannotBeSavedSaysWhyAndKeepsTheOldFile)
{
    service::SessionStore store;
    connectDemo(store);
    AnalysisView view(store);
    view.setActive(true);
    view.enqueue({QUrl::fromLocalFile(tone(QStringLiteral("a.wav")))});
    ASSERT_TRUE(finished(view));
    const QUuid id = view.runner().items().front().id;
    const QString jobPath = QStringLiteral("/v1/jobs/") + *view.runner().items().front().jobID;

    // The service refuses: an earlier file of that name stays as it was.
    const QString target = m_files.filePath(QStringLiteral("a_report.txt"));
    writeFile(target, "earlier report");
    server().addFault(fault(QStringLiteral("GET"), jobPath + QStringLiteral("/download/report"), QStringLiteral("status"), 500));
    run(view.saveReportTo(id, target));
    EXPECT_TRUE(view.statusLabel()->text().startsWith(QStringLiteral("Could not save report: ")))
        << view.statusLabel()->text().toStdString();
    EXPECT_EQ(readFile(target), QByteArray("earlier report"));

    // A folder that does not exist.
    run(view.saveReportTo(id, m_files.filePath(QStringLiteral("missing/folder/r.txt"))));
    EXPECT_TRUE(view.statusLabel()->text().startsWith(QStringLiteral("Could not save report: The file \u201Cr.txt\u201D")))
        << view.statusLabel()->text().toStdString();

    // Signed out meanwhile.
    store.disconnect();
    run(view.saveReportTo(id, target));
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Could not save report: Connect with your client key first."));
    EXPECT_EQ(readFile(target), QByteArray("earlier report"));
}

TEST_F(AnalysisViewTest, chosenFilesAndFoldersAreQueued)
{
    service::SessionStore store;
    AnalysisView view(store);
    const QString a = tone(QStringLiteral("a.wav"));
    QTest::mouseClick(view.chooseFilesButton(), Qt::LeftButton);
    QFileDialog *files = openDialog(&view, QStringLiteral("chooseFilesDialog"));
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(files->fileMode(), QFileDialog::ExistingFiles);
    files->selectFile(a);
    static_cast<QDialog *>(files)->accept();
    ASSERT_EQ(view.runner().items().size(), 1);
    EXPECT_EQ(view.runner().items().front().input, QUrl::fromLocalFile(a));

    const QString folder = m_files.filePath(QStringLiteral("session/day 2"));
    QDir().mkpath(folder);
    writeFile(folder + QStringLiteral("/b.flac"), sineWAV(0.1));
    QTest::mouseClick(view.chooseFolderButton(), Qt::LeftButton);
    QFileDialog *folders = openDialog(&view, QStringLiteral("chooseFolderDialog"));
    ASSERT_NE(folders, nullptr);
    EXPECT_EQ(folders->fileMode(), QFileDialog::Directory);
    folders->setDirectory(m_files.path());
    folders->selectFile(m_files.filePath(QStringLiteral("session")));
    static_cast<QDialog *>(folders)->accept();
    ASSERT_EQ(view.runner().items().size(), 2);
    EXPECT_EQ(view.runner().items().back().input.fileName(), QStringLiteral("b.flac"));
}

TEST_F(AnalysisViewTest, theStartUpHooksConnectAndAnalyse)
{
    const QString a = tone(QStringLiteral("hook a.wav"));
    const QString b = tone(QStringLiteral("hook b.wav"));
    settings().setValue(QStringLiteral("connectKey"), server().demoKey());
    settings().setValue(QStringLiteral("autoAnalyze"), a + QStringLiteral(",,") + b);
    service::SessionStore store;
    AnalysisView view(store);
    ASSERT_TRUE(waitUntil([&] { return view.runner().items().size() == 2; }));
    EXPECT_TRUE(store.state().isConnected());
    ASSERT_TRUE(finished(view));
    for (const AnalysisRunner::Item &item : view.runner().items())
        EXPECT_EQ(item.succeeded, true) << item.status.toStdString();
}

TEST_F(AnalysisViewTest, blankHooksDoNothingAndThePreferencesButtonAsksTheWindow)
{
    settings().setValue(QStringLiteral("connectKey"), QStringLiteral(" \t "));
    settings().setValue(QStringLiteral("autoAnalyze"), QStringLiteral("\t"));
    service::SessionStore store;
    AnalysisView view(store);
    QCoreApplication::processEvents();
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(store.state(), service::ConnectionState::disconnected());
    EXPECT_TRUE(view.runner().items().isEmpty());
    EXPECT_TRUE(server().requests().isEmpty());

    int asked = 0;
    QObject::connect(&view, &AnalysisView::preferencesRequested, [&] { ++asked; });
    QTest::mouseClick(view.preferencesButton(), Qt::LeftButton);
    EXPECT_EQ(asked, 1);
}

} // namespace

TEST_F(AnalysisViewTest, theItemShowsItsUploadThenHowLongItsJobHasRun)
{
    service::SessionStore store;
    connectDemo(store);
    // The service takes its time over the answer to the upload, then over the job.
    server().addFault(fault(QStringLiteral("POST"), QStringLiteral("/v1/uploads"), QStringLiteral("delay"), 200, 1, 2500));
    behave(QJsonObject{{QStringLiteral("outcome"), QStringLiteral("hang")}});
    AnalysisView view(store);
    view.setActive(true);
    view.resize(windowSize);
    view.show();
    ASSERT_TRUE(dropFiles(view.dropTarget(), QStringList{tone(QStringLiteral("Long take.wav"), 20.0), tone(QStringLiteral("Next.wav"))}));
    ASSERT_EQ(view.itemCards().size(), 2);
    AnalysisItemCard *card = view.itemCards().front();
    QProgressBar *bar = card->progressRow()->bar();
    QLabel *text = card->progressRow()->label();

    // The whole body is sent; the answer has not come yet.
    ASSERT_TRUE(waitUntil([&] { return bar->maximum() == 1000 && bar->value() == 1000; }, 10000));
    EXPECT_FALSE(card->progressRow()->isHidden());
    EXPECT_TRUE(text->text().contains(QStringLiteral(" MB of "))) << text->text().toStdString();
    EXPECT_TRUE(view.itemCards().back()->progressRow()->isHidden()) << "only the item worked on";
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("analysis-uploading"), windowSize));

    ASSERT_TRUE(waitUntil([&] { return text->text() == QStringLiteral("Analysing\u2026 0:01"); }, 10000))
        << text->text().toStdString();
    EXPECT_EQ(bar->maximum(), 0) << "the job says nothing of how far it is";
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("analysis-analysing"), windowSize));

    view.runner().cancel();
    ASSERT_TRUE(waitUntil([&] { return !view.runner().isRunning(); }, 10000));
    EXPECT_TRUE(card->progressRow()->isHidden());
    // A stop leaves the poll's pause and the job's last request to end on their own; they must
    // end before the view goes, or their waits are never resumed.
    QTest::qWait(int(AnalysisRunner::defaultPollInterval.count()) + 1500);
}

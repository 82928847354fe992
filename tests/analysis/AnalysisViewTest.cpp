#include "analysis/AnalysisCard.h"
#include "analysis/AnalysisItemCard.h"
#include "analysis/AnalysisProgressRow.h"
#include "analysis/AnalysisView.h"
#include "analysis/CardDropTarget.h"
#include "analysis/DropArea.h"
#include "analysis/ReportFormat.h"
#include "analysis/ReportView.h"
#include "tests/analysis/AnalysisSessionTest.h"
#include "tests/support/DropEvents.h"
#include "tests/support/Screenshots.h"

#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

using namespace vorlik;
using namespace vorlik::test;
using namespace Qt::StringLiterals;
using analysis::AnalysisItemCard;
using analysis::AnalysisRunner;
using analysis::AnalysisView;

namespace {

const QSize windowSize(1200, 780);
const QSize smallSize(760, 520);

QFileDialog *openDialog(QWidget *owner, const QString &name)
{
    QFileDialog *found = nullptr;
    return QTest::qWaitFor([&] { return (found = owner->findChild<QFileDialog *>(name)) && found->isVisible(); }, 5000) ? found : nullptr;
}

class AnalysisViewTest : public AnalysisSessionTest {
protected:
    void SetUp() override
    {
        AnalysisSessionTest::SetUp();
        settings().remove(u"connectKey"_s); // the start-up hooks a test before may have set
        settings().remove(u"autoAnalyze"_s);
    }

    static platform::Settings &settings() { return platform::Settings::standard(); }

    static bool finished(AnalysisView &view)
    {
        return QTest::qWaitFor([&] { return !view.runner().isRunning() && !view.runner().hasPending(); }, 60000);
    }
};

TEST_F(AnalysisViewTest, anEmptyPageSaysHowToStartFollowsTheStoreAndQueuesWhatIsChosen)
{
    settings().setValue(u"connectKey"_s, u" \t "_s);
    settings().setValue(u"autoAnalyze"_s, u"\t"_s);
    service::SessionStore store;
    AnalysisView view(store);
    view.setActive(true);
    QTest::qWait(300);
    EXPECT_EQ(store.state(), service::ConnectionState::disconnected());
    EXPECT_TRUE(view.runner().items().isEmpty() && server().requests().isEmpty());
    EXPECT_EQ(std::tuple(view.signInHint()->isHidden(), view.busyIndicator()->isHidden()), std::tuple(false, true));
    EXPECT_EQ((QStringList{view.statusLabel()->text(), view.counterLabel()->text(), view.connectionLabel()->text().right(7)}),
              (QStringList{u"Sign in from the top-right connection menu to start."_s, u"Files analysed this session: 0"_s, u"Offline"_s}));
    EXPECT_TRUE(saveScreenshot(&view, u"analysis-empty"_s, windowSize));
    EXPECT_EQ(view.dropTarget()->height(), 255) << "the card's content needs less at this width";
    EXPECT_TRUE(saveScreenshot(&view, u"analysis-empty-small"_s, smallSize));

    QStringList seen;
    QObject::connect(&store, &service::SessionStore::stateChanged, &view, [&] { seen << view.connectionLabel()->text().mid(2); });
    run(store.connect(u"vk_not_a_known_key_00000000000000"_s));
    EXPECT_EQ(seen, (QStringList{u"Connecting\u2026"_s, u"Sign-in failed"_s}));
    connectDemo(store);
    EXPECT_EQ(std::tuple(seen.last(), view.signInHint()->isHidden()), std::tuple(u"Connected"_s, true));
    EXPECT_EQ(view.statusLabel()->text(), u"Drop audio files to analyse them on the VPS."_s);

    // Queued while not connected: nothing starts. What was queued before, or a folder without
    // audio, adds nothing.
    store.disconnect();
    const QUrl a = tone(u"a.wav"_s);
    ASSERT_TRUE(dropFiles(view.dropTarget(), QList<QUrl>{a}));
    ASSERT_EQ(view.runner().items().size(), 1);
    EXPECT_EQ(view.runner().items().front().status, u"Queued"_s);
    EXPECT_TRUE(view.runner().hasPending() && !view.runner().isRunning());
    EXPECT_EQ(view.statusLabel()->text(), u"1 file queued \u2014 analysis runs on the Vorlik VPS."_s);
    view.runner().queue({a});
    EXPECT_EQ(view.statusLabel()->text(), u"Nothing new to add."_s);
    writeFile(m_files.filePath(u"no audio/notes.txt"_s), "words");
    view.runner().queue({QUrl::fromLocalFile(m_files.filePath(u"no audio"_s))});
    EXPECT_EQ(view.statusLabel()->toolTip(), u"No audio files found (wav, aiff, flac, mp3, m4a, aac, ogg\u2026)."_s);

    const QUrl b = tone(u"b.wav"_s);
    QTest::mouseClick(view.chooseFilesButton(), Qt::LeftButton);
    QFileDialog *files = openDialog(&view, u"chooseFilesDialog"_s);
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(files->fileMode(), QFileDialog::ExistingFiles);
    files->selectFile(b.toLocalFile());
    static_cast<QDialog *>(files)->accept();
    ASSERT_EQ(view.runner().items().size(), 2);
    EXPECT_EQ(view.runner().items().back().input, b);

    writeFile(m_files.filePath(u"session/day 2/c.flac"_s), sineWAV(0.1));
    writeFile(m_files.filePath(u"session/day 2/d.flac"_s), sineWAV(0.1));
    QTest::mouseClick(view.chooseFolderButton(), Qt::LeftButton);
    QFileDialog *folders = openDialog(&view, u"chooseFolderDialog"_s);
    ASSERT_NE(folders, nullptr);
    EXPECT_EQ(folders->fileMode(), QFileDialog::Directory);
    folders->setDirectory(m_files.path());
    folders->selectFile(m_files.filePath(u"session"_s));
    static_cast<QDialog *>(folders)->accept();
    ASSERT_EQ(view.runner().items().size(), 4);
    EXPECT_EQ(view.runner().items().at(2).input.fileName(), u"c.flac"_s);
    EXPECT_EQ(view.statusLabel()->toolTip(), u"2 files queued \u2014 analysis runs on the Vorlik VPS."_s);

    // A run without a session fails every item and sends nothing.
    server().clearRequests();
    QStringList lines;
    QObject::connect(&view.runner(), &AnalysisRunner::statusLineChanged, &view, [&] { lines << view.runner().statusLine(); });
    view.runner().run(store);
    ASSERT_TRUE(finished(view));
    EXPECT_TRUE(lines.contains(u"Connect with your client key to analyse files."_s)) << lines.join(u'\n').toStdString();
    for (const AnalysisRunner::Item &item : view.runner().items())
        EXPECT_EQ(std::tuple(item.status, item.errorMessage),
                  std::tuple(u"\u2717 Not connected"_s, std::optional(u"Connect with your client key to analyse files."_s)));
    EXPECT_EQ(view.statusLabel()->toolTip(), u"Queue finished \u2014 0 analysed, 4 failed. Click a red card for details."_s);
    EXPECT_TRUE(server().requests().isEmpty());

    int asked = 0;
    QObject::connect(&view, &AnalysisView::preferencesRequested, [&] { ++asked; });
    QTest::mouseClick(view.preferencesButton(), Qt::LeftButton);
    EXPECT_EQ(asked, 1);
}

TEST_F(AnalysisViewTest, droppedFilesAreAnalysedTheReportOpensAndIsSaved)
{
    service::SessionStore store;
    connectDemo(store);
    AnalysisView view(store);
    view.resize(windowSize);
    view.show();
    const QUrl take = tone(u"Mix v2.final.wav"_s);
    const auto data = fileData({take});
    EXPECT_FALSE(dragEnter(view.dropTarget(), *data).accepted) << "an inactive page takes no drags";
    EXPECT_FALSE(view.dropArea()->isHighlighted());
    EXPECT_FALSE(drop(view.dropTarget(), *data).accepted);
    EXPECT_TRUE(view.runner().items().isEmpty());

    view.setActive(true);
    EXPECT_TRUE(dragEnter(view.dropTarget(), *data).accepted);
    EXPECT_TRUE(view.dropArea()->isHighlighted());
    dragLeave(view.dropTarget());
    EXPECT_FALSE(view.dropArea()->isHighlighted());
    dragEnter(view.dropTarget(), *data);
    view.setActive(false);
    EXPECT_FALSE(view.dropArea()->isHighlighted()) << "going inactive ends a hover";
    view.setActive(true);
    ASSERT_TRUE(dropFiles(view.dropTarget(), QList<QUrl>{take, tone(u"Take 2.wav"_s, 1.0)}));
    EXPECT_EQ(std::tuple(view.runner().isRunning(), view.busyIndicator()->isHidden(), view.stopButton()->isHidden()),
              std::tuple(true, false, false)) << "connected: the run starts with the drop";
    ASSERT_TRUE(finished(view)) << view.statusLabel()->text().toStdString();
    EXPECT_TRUE(view.busyIndicator()->isHidden());
    EXPECT_EQ(view.statusLabel()->text(), u"Queue finished \u2014 2 files analysed."_s);
    EXPECT_EQ(view.counterLabel()->text(), u"Files analysed this session: 2"_s);

    const QList<AnalysisItemCard *> cards = view.itemCards();
    ASSERT_EQ(cards.size(), 2);
    const AnalysisRunner::Item item = view.runner().items().front();
    ASSERT_TRUE(item.jobID && item.analysis && item.analysis->loudness && item.analysis->loudness->integratedLufs);
    const double lufs = *item.analysis->loudness->integratedLufs;
    AnalysisItemCard *first = cards.front();
    EXPECT_EQ((QStringList{first->nameLabel()->text(), first->statusLabel()->text(), first->summaryLabel()->text(), first->chevronName()}),
              (QStringList{u"Mix v2.final.wav"_s, u"\u2713 Mix v2.final.wav"_s,
                           u"44100 Hz \u00B7 2 ch \u00B7 16-bit \u00B7 "_s + analysis::ReportFormat::printf("%.1f LUFS", lufs), u"chevron.right"_s}));
    EXPECT_EQ(first->report(), nullptr) << "the report's rows are made when the card opens";
    EXPECT_TRUE(saveScreenshot(&view, u"analysis-items"_s, windowSize));

    QTest::mouseClick(first->chevron(), Qt::LeftButton);
    EXPECT_EQ(std::tuple(view.isExpanded(item.id), first->chevronName()), std::tuple(true, u"chevron.down"_s));
    ASSERT_NE(first->report(), nullptr);
    const QString integrated = first->report()->shownValue(u"Loudness (EBU R128 / ITU-R BS.1770)"_s, u"Integrated"_s);
    EXPECT_EQ(integrated, analysis::ReportFormat::printf("%.2f", lufs) + u" LUFS"_s);
    EXPECT_TRUE(first->report()->shownValue(u"Audio Stream #0"_s, u"Channels"_s).startsWith(u"2"_s));
    EXPECT_TRUE(saveScreenshot(&view, u"analysis-report-open"_s, windowSize));
    EXPECT_TRUE(saveScreenshot(&view, u"analysis-report-open-small"_s, smallSize));

    // Save Report offers the item's name beside it; the saved file holds the service's bytes.
    ASSERT_FALSE(first->saveButton()->isHidden());
    QTest::mouseClick(first->saveButton(), Qt::LeftButton);
    QFileDialog *dialog = openDialog(&view, u"saveReportDialog"_s);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->selectedFiles(), QStringList{QDir(m_files.path()).absoluteFilePath(u"Mix v2.final_report.txt"_s)});
    const QString target = m_files.filePath(u"saved/report.txt"_s);
    QDir().mkpath(QFileInfo(target).path());
    dialog->selectFile(target);
    static_cast<QDialog *>(dialog)->accept();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.statusLabel()->text() == u"Report saved \u2192 report.txt"_s; }, 60000))
        << view.statusLabel()->text().toStdString();
    const QString reportPath = u"/v1/jobs/"_s + *item.jobID + u"/download/report"_s;
    const auto [status, expected] = server().call("GET", reportPath, {}, store.session()->accessToken);
    ASSERT_TRUE(status == 200 && !expected.isEmpty());
    EXPECT_EQ(readFile(target), expected);
    EXPECT_EQ(QDir(QFileInfo(target).path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"report.txt"_s})
        << "nothing left beside it";

    // The service refuses, the folder does not exist, or the user signed out meanwhile: the page
    // says why (the whole line is the shown line's tooltip), and an earlier file stays as it was.
    const auto saved = [&](const QString &path) { run(view.saveReportTo(item.id, path)); return view.statusLabel()->toolTip(); };
    server().addFault(fault(u"GET"_s, reportPath, u"status"_s, 500, 1, 0, u"not now"_s));
    EXPECT_EQ(saved(target), u"Could not save report: Server error 500: not now"_s);
    EXPECT_TRUE(saved(m_files.filePath(u"missing/r.txt"_s)).startsWith(u"Could not save report: The file \u201Cr.txt\u201D"_s))
        << view.statusLabel()->toolTip().toStdString();
    store.disconnect();
    EXPECT_EQ(saved(target), u"Could not save report: Connect with your client key first."_s);
    EXPECT_EQ(readFile(target), expected);

    QTest::mouseClick(first->chevron(), Qt::LeftButton);
    EXPECT_FALSE(view.isExpanded(item.id) || first->report()->isVisibleTo(&view));
    // A card's Clear removes that finished item; the header's Clear the rest.
    QTest::mouseClick(first->clearButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.itemCards().size() == 1; }, 60000));
    EXPECT_EQ(view.runner().items().size(), 1);
    QTest::mouseClick(view.clearButton(), Qt::LeftButton);
    EXPECT_TRUE(view.runner().items().isEmpty());
    EXPECT_EQ(view.statusLabel()->text(), u"Cleared."_s);
    EXPECT_EQ(view.counterLabel()->text(), u"Files analysed this session: 2"_s);
}

TEST_F(AnalysisViewTest, theStartUpHooksConnectAndAnalyseAndAFailedJobIsARedCardThatRetryStartsOver)
{
    const QString a = tone(u"broken.wav"_s).toLocalFile();
    const QString b = tone(u"hook b.wav"_s).toLocalFile();
    settings().setValue(u"connectKey"_s, server().demoKey());
    settings().setValue(u"autoAnalyze"_s, a + u",,"_s + b);
    behave({{u"outcome"_s, u"fail"_s}, {u"error_summary"_s, u"the file holds no audio stream"_s}});
    service::SessionStore store;
    AnalysisView view(store);
    view.setActive(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.runner().items().size() == 2; }, 60000));
    EXPECT_TRUE(store.state().isConnected());
    ASSERT_TRUE(finished(view));
    EXPECT_EQ(view.runner().items().at(1).succeeded, true) << view.runner().items().at(1).status.toStdString();

    AnalysisItemCard *card = view.itemCards().value(0);
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(std::tuple(card->isFailed(), card->symbolName(), card->statusLabel()->text(), card->summaryLabel()->isHidden()),
              std::tuple(true, u"exclamationmark.triangle.fill"_s, u"\u2717 broken.wav"_s, true));
    QTest::mouseClick(card->chevron(), Qt::LeftButton);
    EXPECT_EQ(std::tuple(card->errorLabel()->text(), card->retryButton()->isHidden(), card->saveButton()->isHidden()),
              std::tuple(u"the file holds no audio stream"_s, false, true));
    EXPECT_EQ(view.statusLabel()->text(), u"Queue finished \u2014 1 analysed, 1 failed. Click a red card for details."_s);
    view.resize(windowSize);
    EXPECT_TRUE(saveScreenshot(&view, u"analysis-failed-open"_s, windowSize));

    // Retry starts a run at once; the failed job could only fail again, so the file is uploaded
    // anew and analysed by a new job.
    server().clearRequests();
    QTest::mouseClick(card->retryButton(), Qt::LeftButton);
    EXPECT_TRUE(view.runner().isRunning());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.runner().isRunning(); }, 60000));
    EXPECT_EQ(requestsTo(u"/v1/uploads"_s).size(), 1);
    EXPECT_EQ(view.runner().items().front().succeeded, true);
    // The warning goes with the failure.
    EXPECT_EQ(std::tuple(view.itemCards().value(0)->isFailed(), view.itemCards().value(0)->symbolName()), std::tuple(false, u"waveform"_s));
}

TEST_F(AnalysisViewTest, theItemShowsItsUploadThenHowLongItsJobHasRun)
{
    service::SessionStore store;
    connectDemo(store);
    // The service takes its time over the answer to the upload, then over the job.
    server().addFault(fault(u"POST"_s, u"/v1/uploads"_s, u"delay"_s, 200, 1, 2500));
    behave(QJsonObject{{u"outcome"_s, u"hang"_s}});
    AnalysisView view(store);
    view.setActive(true);
    view.resize(windowSize);
    view.show();
    ASSERT_TRUE(dropFiles(view.dropTarget(), QList<QUrl>{tone(u"Long take.wav"_s, 20.0), tone(u"Next.wav"_s)}));
    ASSERT_EQ(view.itemCards().size(), 2);
    AnalysisItemCard *card = view.itemCards().front();
    QProgressBar *bar = card->progressRow()->bar();
    QLabel *text = card->progressRow()->label();

    // The whole body is sent; the answer has not come yet.
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->maximum() == 1000 && bar->value() == 1000; }, 10000));
    EXPECT_FALSE(card->progressRow()->isHidden());
    EXPECT_EQ(text->text(), u"3.4 MB of 3.4 MB"_s) << "the file's bytes sent, of its size";
    EXPECT_TRUE(view.itemCards().back()->progressRow()->isHidden()) << "only the item worked on";
    EXPECT_TRUE(saveScreenshot(&view, u"analysis-uploading"_s, windowSize));

    ASSERT_TRUE(QTest::qWaitFor([&] { return text->text() == u"Analysing\u2026 0:01"_s; }, 10000))
        << text->text().toStdString();
    EXPECT_EQ(bar->maximum(), 0) << "the job says nothing of how far it is";
    EXPECT_TRUE(saveScreenshot(&view, u"analysis-analysing"_s, windowSize));

    view.runner().cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.runner().isRunning(); }, 10000));
    EXPECT_TRUE(card->progressRow()->isHidden());
    // A stop leaves the poll's pause and the job's last request to end on their own; they must
    // end before the view goes, or their waits are never resumed.
    QTest::qWait(int(AnalysisRunner::defaultPollInterval.count()) + 1500);
}

} // namespace

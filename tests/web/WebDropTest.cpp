// Drop routing on the real engine: native drops on the view reach the stand-in pages through
// the bridge (bytes compared by the SHA-256 the page computes) or through the page's own file
// chooser, folders are expanded, the router follows the selected tab, and the diagnostic hooks.
#include "tests/web/WebTabFixture.h"

#include "platform/Settings.h"
#include "tests/support/TestFiles.h"
#include "web/DropRouter.h"
#include "web/BridgeInjection.h"
#include "web/PageScript.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileDialog>
#include <QRandomGenerator>
#include <QTimer>

using namespace vorlik;
using namespace vorlik::test;

namespace {

constexpr qint64 MiB = 1024 * 1024;

// Cancels every file dialog the program opens, noting what each was for.
class DialogCloser {
public:
    DialogCloser()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                seen << (dialog->acceptMode() == QFileDialog::AcceptSave ? QStringLiteral("save")
                         : dialog->fileMode() == QFileDialog::Directory  ? QStringLiteral("folder")
                                                                          : QStringLiteral("open"));
                dialog->reject();
            }
        });
        m_timer.start(50);
    }
    QStringList seen;

private:
    QTimer m_timer;
};

class WebDrop : public WebTabFixture {
protected:
    void SetUp() override
    {
        WebTabFixture::SetUp();
        platform::Settings::standard().setOverride(QStringLiteral("dropBridgeLog"), true);
    }

    QString randomFile(const QString &name, qint64 size)
    {
        QByteArray bytes(size, Qt::Uninitialized);
        QRandomGenerator generator{quint32(size)};
        generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
        const QString path = scratch(name);
        writeFile(path, bytes);
        return path;
    }
    QString bigSparseFile(const QString &name, qint64 size)
    {
        const QString path = scratch(name);
        writeSparseFile(path, size, QByteArray("HEAD of a large take ").repeated(100), QByteArray(" TAIL of a large take").repeated(100));
        return path;
    }
    // The view point over an element of the page.
    QPointF over(web::WebTabView &tab, const QString &selector)
    {
        const QPointF point = centreOf(tab.page(), selector);
        EXPECT_FALSE(point.isNull()) << "no " << selector.toStdString();
        return tab.webView()->viewPoint(point);
    }
    int arrived(web::WebTabView &tab) { return evaluate(tab, QStringLiteral("vorlikPage.files.length")).toInt(); }
    // A file the page received: name, size, via, hashKind, sha256.
    QVariantMap file(web::WebTabView &tab, int index)
    {
        return evaluate(tab, QStringLiteral("(function (f) { return f ? { name: f.name, size: f.size, via: f.via,"
                                            " hashKind: f.hashKind, sha256: f.sha256 } : null; })(vorlikPage.files[%1])")
                                 .arg(index))
            .toMap();
    }
    bool waitForHashes(web::WebTabView &tab, int count, int timeoutMs = 30000)
    {
        return waitForPage(tab, QStringLiteral("vorlikPage.files.length === %1 && vorlikPage.files.every(function (f) { return f.hashKind; })").arg(count),
                           timeoutMs);
    }
    static QList<QUrl> urls(const QStringList &paths)
    {
        QList<QUrl> list;
        for (const QString &path : paths)
            list << QUrl::fromLocalFile(path);
        return list;
    }
};

TEST_F(WebDrop, filesUpTo250MiBGoThroughTheBridgeOneCallPerFileAndArriveIntact)
{
    StdoutCapture console;
    web::WebTabView &tab = openCorrection();
    const QString big = randomFile(QStringLiteral("take 1.wav"), 10 * MiB);
    const QString small = randomFile(QStringLiteral("it's a \"note\".txt"), 1000);
    const QPointF point = over(tab, QStringLiteral("label[for=\"files\"]"));
    dropFiles(tab.webView(), urls({big, small}), point);

    ASSERT_TRUE(waitForHashes(tab, 2));
    const QVariantMap first = file(tab, 0);
    const QVariantMap second = file(tab, 1);
    EXPECT_EQ(first.value(QStringLiteral("name")).toString(), QStringLiteral("take 1.wav"));
    EXPECT_EQ(first.value(QStringLiteral("size")).toLongLong(), 10 * MiB);
    EXPECT_EQ(first.value(QStringLiteral("hashKind")).toString(), QStringLiteral("sha256"));
    EXPECT_EQ(first.value(QStringLiteral("sha256")).toString(), sha256Of(big));
    EXPECT_EQ(second.value(QStringLiteral("name")).toString(), QStringLiteral("it's a \"note\".txt"));
    EXPECT_EQ(second.value(QStringLiteral("sha256")).toString(), sha256Of(small));
    for (const QVariantMap &entry : {first, second})
        EXPECT_EQ(entry.value(QStringLiteral("via")).toString(), QStringLiteral("vorlikInjectFiles"));

    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] performDragOperation files=2 point=%1,%2").arg(qint64(point.x())).arg(qint64(point.y()))));
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] handle files=2 page=correction")));
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[drop] target=correction pagePoint=")), 1);
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] bridge injecting take 1.wav (13653 KB base64)")));
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] bridge injecting it's a \"note\".txt (1 KB base64)")));
    EXPECT_TRUE(console.waitFor(QStringLiteral("HANDLE bridge injected 2 file(s)")));
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[drop] click posted")), 0);
    EXPECT_FALSE(tab.coordinator()->pendingDroppedFiles().has_value());
    // The drag highlight is gone once the files are in.
    EXPECT_EQ(evaluate(tab, QStringLiteral("document.querySelectorAll('.drag-over').length")).toInt(), 0);
}

TEST_F(WebDrop, dropsMadeWhileTheBridgeIsBusyArriveWholeAndInDropOrder)
{
    StdoutCapture console;
    web::WebTabView &tab = openCorrection();
    const QStringList paths = {randomFile(QStringLiteral("first.wav"), 30 * MiB + 1), randomFile(QStringLiteral("second.wav"), 1000),
                               randomFile(QStringLiteral("third.wav"), 6 * MiB + 3)};
    const QPointF point = over(tab, QStringLiteral("label[for=\"files\"]"));
    dropFiles(tab.webView(), urls({paths[0]}), point);
    ASSERT_TRUE(m_log->waitFor(QStringLiteral("[drop] bridge injecting first.wav (40960 KB base64)")));
    // The next drops come while the first file's parts are on their way.
    for (int n = 1; n < 3; ++n) {
        dropFiles(tab.webView(), urls({paths[n]}), point);
        ASSERT_TRUE(waitUntil([&] { return m_log->countStartingWith(QStringLiteral("[drop] target=correction ")) == n + 1; }));
    }

    ASSERT_TRUE(waitForHashes(tab, 3, 60000));
    for (int n = 0; n < 3; ++n) {
        const QVariantMap entry = file(tab, n);
        EXPECT_EQ(entry.value(QStringLiteral("name")).toString(), QFileInfo(paths[n]).fileName());
        EXPECT_EQ(entry.value(QStringLiteral("size")).toLongLong(), QFileInfo(paths[n]).size());
        EXPECT_EQ(entry.value(QStringLiteral("sha256")).toString(), sha256Of(paths[n])) << n;
    }
    ASSERT_TRUE(console.waitFor(QStringLiteral("HANDLE bridge injected 1 file(s)")));
    settle(300);
    EXPECT_EQ(console.lines().count(QStringLiteral("HANDLE bridge injected 1 file(s)")), 3);
    EXPECT_EQ(arrived(tab), 3);
}

TEST_F(WebDrop, aFileTooLargeForTheBridgeIsHandedToThePagesOwnChooser)
{
    StdoutCapture console;
    web::WebTabView &tab = openCorrection();
    const QString huge = bigSparseFile(QStringLiteral("feature mix.wav"), 300 * MiB);
    dropFiles(tab.webView(), urls({huge}), over(tab, QStringLiteral("label[for=\"files\"]")));

    ASSERT_TRUE(waitForHashes(tab, 1));
    const QVariantMap entry = file(tab, 0);
    EXPECT_EQ(entry.value(QStringLiteral("name")).toString(), QStringLiteral("feature mix.wav"));
    EXPECT_EQ(entry.value(QStringLiteral("size")).toLongLong(), 300 * MiB);
    EXPECT_EQ(entry.value(QStringLiteral("via")).toString(), QStringLiteral("chooser"));
    // The page read a sample of the file, not all of it.
    EXPECT_EQ(entry.value(QStringLiteral("hashKind")).toString(), QStringLiteral("sample-sha256"));
    EXPECT_EQ(entry.value(QStringLiteral("sha256")).toString(), sampleSha256Of(huge));

    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[drop] click posted at ")), 1);
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] runOpenPanel page=correction pending=1")));
    EXPECT_TRUE(console.lines().contains(QStringLiteral("PANEL requested page=correction (pending=1)")));
    EXPECT_TRUE(console.lines().contains(QStringLiteral("PANEL consuming 1 pending files")));
    bool clicked = false;
    for (const QString &line : console.lines())
        clicked = clicked || (line.startsWith(QStringLiteral("HANDLE real click at ")) && line.endsWith(QStringLiteral(" target=correction")));
    EXPECT_TRUE(clicked);
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[drop] bridge injecting")), 0);
    EXPECT_FALSE(tab.coordinator()->pendingDroppedFiles().has_value());
    EXPECT_FALSE(tab.coordinator()->isRetryArmed());
}

TEST_F(WebDrop, whenThePageNeverAsksTheClickIsRetriedThreeTimesThenTheBridgeRefusesALargeDrop)
{
    StdoutCapture console;
    web::WebTabView &tab = openCorrection();
    evaluate(tab, QStringLiteral("document.getElementById('files').disabled = true; 1"));
    const QString huge = bigSparseFile(QStringLiteral("stems.wav"), 300 * MiB);
    dropFiles(tab.webView(), urls({huge}), over(tab, QStringLiteral("label[for=\"files\"]")));

    ASSERT_TRUE(console.waitFor(QStringLiteral("HANDLE bridge too large — leaving to click path"), 15000));
    const QStringList lines = console.lines();
    const qsizetype retry1 = lines.indexOf(QStringLiteral("HANDLE retry 1"));
    const qsizetype retry3 = lines.indexOf(QStringLiteral("HANDLE retry 3"));
    const qsizetype gaveUp = lines.indexOf(QStringLiteral("HANDLE panel never asked after 3 retries — injecting via page bridge"));
    EXPECT_GE(retry1, 0);
    EXPECT_TRUE(lines.contains(QStringLiteral("HANDLE retry 2")));
    EXPECT_GT(retry3, retry1);
    EXPECT_GT(gaveUp, retry3);
    EXPECT_FALSE(lines.contains(QStringLiteral("HANDLE retry 4")));
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[drop] click posted at ")), 4);
    for (int n = 1; n <= 3; ++n)
        EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] click retry %1").arg(n)));
    // The files stay pending for a request of the page; nothing arrived.
    ASSERT_TRUE(tab.coordinator()->pendingDroppedFiles().has_value());
    EXPECT_EQ(tab.coordinator()->pendingDroppedFiles()->size(), 1);
    EXPECT_EQ(arrived(tab), 0);
}

TEST_F(WebDrop, aFolderOf3000FilesDeliversTheFirst2000RegularVisibleFiles)
{
    const QDir folder(scratch(QStringLiteral("session")));
    QDir().mkpath(folder.path());
    for (int i = 0; i < 3000; ++i)
        writeFile(folder.filePath(QStringLiteral("f%1.wav").arg(i, 4, 10, QLatin1Char('0'))), QByteArray::number(i));
    writeFile(folder.filePath(QStringLiteral(".f0000-hidden.wav")), "hidden");
    web::WebTabView &tab = openCorrection();
    StdoutCapture console;
    dropFiles(tab.webView(), urls({folder.path()}), over(tab, QStringLiteral("label[for=\"files\"]")));

    ASSERT_TRUE(console.waitFor(QStringLiteral("HANDLE bridge injected 2000 file(s)"), 120000));
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] handle files=2000 page=correction")));
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[drop] bridge injecting ")), 2000);
    ASSERT_TRUE(waitForPage(tab, QStringLiteral("vorlikPage.files.length === 2000")));
    EXPECT_EQ(file(tab, 0).value(QStringLiteral("name")).toString(), QStringLiteral("f0000.wav"));
    EXPECT_EQ(file(tab, 1999).value(QStringLiteral("name")).toString(), QStringLiteral("f1999.wav"));
}

TEST_F(WebDrop, onTheCinemaPageTheZoneUnderTheDropOrTheFileTypeDecides)
{
    web::WebTabView &cinema = openCinema();
    const QString mxf = randomFile(QStringLiteral("atmos.mxf"), 4000);
    const QString wav = randomFile(QStringLiteral("stereo.wav"), 4000);
    const QPointF outside = cinema.webView()->viewPoint(QPointF(700, 650));
    const QPointF overImmersive = over(cinema, QStringLiteral("#immDropZone"));

    struct Case {
        QString file;
        QPointF point;
        QString via;
        QString target;
    };
    const Case cases[] = {
        {mxf, outside, QStringLiteral("vorlikInjectImmersiveFile"), QStringLiteral("immDropZone")},
        {wav, outside, QStringLiteral("vorlikInjectFile"), QStringLiteral("dropZone")},
        {wav, overImmersive, QStringLiteral("vorlikInjectImmersiveFile"), QStringLiteral("immDropZone")},
    };
    int n = 0;
    for (const Case &c : cases) {
        const int targets = m_log->countStartingWith(QStringLiteral("[drop] target=") + c.target + QStringLiteral(" "));
        dropFiles(cinema.webView(), urls({c.file}), c.point);
        ASSERT_TRUE(waitForHashes(cinema, ++n)) << c.via.toStdString();
        const QVariantMap entry = file(cinema, n - 1);
        EXPECT_EQ(entry.value(QStringLiteral("via")).toString(), c.via);
        EXPECT_EQ(entry.value(QStringLiteral("sha256")).toString(), sha256Of(c.file));
        EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[drop] target=") + c.target + QStringLiteral(" ")), targets + 1);
    }
    // A drop that replaces one still looking for its zone goes to its own zone.
    dropFiles(cinema.webView(), urls({mxf}), outside);
    dropFiles(cinema.webView(), urls({wav}), outside);
    ASSERT_TRUE(waitForHashes(cinema, ++n));
    settle(300);
    EXPECT_EQ(arrived(cinema), n);
    EXPECT_EQ(file(cinema, n - 1).value(QStringLiteral("name")).toString(), QStringLiteral("stereo.wav"));
    EXPECT_EQ(file(cinema, n - 1).value(QStringLiteral("via")).toString(), QStringLiteral("vorlikInjectFile"));
}

TEST_F(WebDrop, aDropGoesToTheSelectedTabWhicheverViewReceivedIt)
{
    web::WebTabView &correction = openCorrection();
    web::WebTabView &cinema = openCinema();
    const QString wav = randomFile(QStringLiteral("routed.wav"), 2000);

    // Correction selected: a drop that lands on the Cinema view still goes to Correction.
    dropFiles(cinema.webView(), urls({wav}), QPointF(50, 50));
    ASSERT_TRUE(waitForHashes(correction, 1));
    EXPECT_EQ(arrived(cinema), 0);

    // Cinema selected: the Correction view no longer takes drops, the Cinema page gets them.
    correction.setActive(false);
    EXPECT_FALSE(web::DropRouter::shared().correctionActive);
    dropFiles(correction.webView(), urls({wav}), QPointF(50, 50));
    dropFiles(cinema.webView(), urls({wav}), cinema.webView()->viewPoint(centreOf(cinema.page(), QStringLiteral("#dropZone"))));
    ASSERT_TRUE(waitForHashes(cinema, 1));
    EXPECT_EQ(file(cinema, 0).value(QStringLiteral("via")).toString(), QStringLiteral("vorlikInjectFile"));
    settle(200);
    EXPECT_EQ(arrived(correction), 1);
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[drop] performDragOperation")), 2);
}

TEST_F(WebDrop, withoutATargetTheFilesWaitForThePagesOwnChooserOrANewPage)
{
    StdoutCapture console;
    web::WebTabView &tab = openPlainPage();
    const QString wav = randomFile(QStringLiteral("waiting.wav"), 3000);

    dropFiles(tab.webView(), urls({wav}), QPointF(40, 40));
    ASSERT_TRUE(m_log->waitFor(QStringLiteral("[drop] no target found on page")));
    EXPECT_TRUE(console.waitFor(QStringLiteral("HANDLE no target")));
    ASSERT_TRUE(tab.coordinator()->pendingDroppedFiles().has_value());

    // The user opens the page's own chooser: the waiting files answer it.
    clickAt(tab.webView(), centreOf(tab.page(), QStringLiteral("#other")));
    ASSERT_TRUE(waitForPage(tab, QStringLiteral("vorlikPage.files.length === 1")));
    EXPECT_EQ(file(tab, 0).value(QStringLiteral("name")).toString(), QStringLiteral("waiting.wav"));
    EXPECT_EQ(file(tab, 0).value(QStringLiteral("via")).toString(), QStringLiteral("other"));
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] runOpenPanel page=plain pending=1")));
    EXPECT_FALSE(tab.coordinator()->pendingDroppedFiles().has_value());

    // A new navigation drops files still waiting.
    dropFiles(tab.webView(), urls({wav}), QPointF(40, 40));
    ASSERT_TRUE(waitUntil([&] { return m_log->count(QStringLiteral("[drop] no target found on page")) == 2; }));
    navigate(tab, web::WebTabView::correctionURL());
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] navigation invalidated pending drop")));
    EXPECT_FALSE(tab.coordinator()->pendingDroppedFiles().has_value());
}

TEST_F(WebDrop, droppedFilesAnswerOnlyAnOpenRequestThatAcceptsThem)
{
    web::WebTabView &tab = openPlainPage();
    const QString wav = randomFile(QStringLiteral("take.wav"), 2700);
    const QString before = sha256Of(wav);
    dropFiles(tab.webView(), urls({wav}), QPointF(40, 40));
    ASSERT_TRUE(m_log->waitFor(QStringLiteral("[drop] no target found on page")));

    // A save picker, a folder upload and a chooser for PDFs get the desktop's dialog; the
    // dropped file is neither handed out nor written.
    DialogCloser dialogs;
    clickAt(tab.webView(), centreOf(tab.page(), QStringLiteral("#save")));
    ASSERT_TRUE(waitForPage(tab, QStringLiteral("vorlikPage.saves.length === 1")));
    EXPECT_EQ(sha256Of(wav), before);
    EXPECT_EQ(QFileInfo(wav).size(), 2700);
    clickAt(tab.webView(), centreOf(tab.page(), QStringLiteral("#folder")));
    clickAt(tab.webView(), centreOf(tab.page(), QStringLiteral("#pdfOnly")));
    ASSERT_TRUE(waitUntil([&] { return dialogs.seen.size() == 3; })) << dialogs.seen.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(dialogs.seen, QStringList({QStringLiteral("save"), QStringLiteral("folder"), QStringLiteral("open")}));
    EXPECT_EQ(sha256Of(wav), before);
    EXPECT_EQ(arrived(tab), 0);
    ASSERT_TRUE(tab.coordinator()->pendingDroppedFiles().has_value());

    // The next request that takes the file gets it.
    clickAt(tab.webView(), centreOf(tab.page(), QStringLiteral("#other")));
    ASSERT_TRUE(waitForPage(tab, QStringLiteral("vorlikPage.files.length === 1")));
    EXPECT_EQ(file(tab, 0).value(QStringLiteral("via")).toString(), QStringLiteral("other"));
    EXPECT_EQ(file(tab, 0).value(QStringLiteral("size")).toLongLong(), 2700);
    EXPECT_EQ(dialogs.seen.size(), 3);
    EXPECT_FALSE(tab.coordinator()->pendingDroppedFiles().has_value());
    EXPECT_EQ(sha256Of(wav), before);
}

TEST_F(WebDrop, aClickedChooserForOtherTypesGetsOneDialogAndNoMoreClicks)
{
    web::WebTabView &tab = openCorrection();
    evaluate(tab, QStringLiteral("document.getElementById('files').accept = '.pdf'; 1"));
    DialogCloser dialogs;
    dropFiles(tab.webView(), urls({bigSparseFile(QStringLiteral("mix.wav"), 300 * MiB)}), over(tab, QStringLiteral("label[for=\"files\"]")));
    ASSERT_TRUE(waitUntil([&] { return dialogs.seen.size() == 1; }));
    settle(2 * int(web::Coordinator::retryInterval.count()));
    EXPECT_EQ(dialogs.seen, QStringList{QStringLiteral("open")});
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[drop] click posted at ")), 1);
    EXPECT_EQ(arrived(tab), 0);
    EXPECT_TRUE(tab.coordinator()->pendingDroppedFiles().has_value());
}

TEST_F(WebDrop, aChooserRequestFromAnotherPageGetsTheOpenPanelNotTheDroppedFiles)
{
    web::WebTabView &tab = openPlainPage();
    dropFiles(tab.webView(), urls({randomFile(QStringLiteral("kept.wav"), 100)}), QPointF(40, 40));
    ASSERT_TRUE(m_log->waitFor(QStringLiteral("[drop] no target found on page")));

    // The page moves on by itself (no new load): its address is another page's.
    evaluate(tab, QStringLiteral("history.pushState({}, '', '/pages/other'); 1"));
    DialogCloser dialogs;
    clickAt(tab.webView(), centreOf(tab.page(), QStringLiteral("#other")));
    ASSERT_TRUE(waitUntil([&] { return dialogs.seen == QStringList{QStringLiteral("open")}; }));
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] runOpenPanel page=other pending=1")));
    settle(200);
    EXPECT_EQ(arrived(tab), 0);
    EXPECT_TRUE(tab.coordinator()->pendingDroppedFiles().has_value());
}

TEST_F(WebDrop, aLargeFileReachesThePageInPartsThroughTheBridge)
{
    web::WebTabView &tab = openCorrection();
    const QString path = randomFile(QStringLiteral("it's \\ parts.wav"), 300000);
    struct Case {
        QString target;
        QString via;
    };
    const Case cases[] = {{QStringLiteral("correction"), QStringLiteral("vorlikInjectFiles")},
                          {QStringLiteral("dropZone"), QStringLiteral("vorlikInjectFile")},
                          {QStringLiteral("immDropZone"), QStringLiteral("vorlikInjectImmersiveFile")}};
    int n = 0;
    for (const Case &c : cases) {
        const web::BridgeInjection injection(c.target, QFileInfo(path).fileName(), readFile(path).toBase64(), 65536);
        ASSERT_EQ(injection.scriptCount(), 7 + 1); // 400,000 characters of Base64 in parts of 65,536, then the call
        for (qsizetype i = 0; i < injection.scriptCount(); ++i) {
            const web::ScriptOutcome outcome = test::run(web::PageScript::run(tab.page(), injection.script(i)));
            ASSERT_FALSE(outcome.error.has_value()) << outcome.error->toStdString();
        }
        ASSERT_TRUE(waitForHashes(tab, ++n));
        const QVariantMap entry = file(tab, n - 1);
        EXPECT_EQ(entry.value(QStringLiteral("name")).toString(), QFileInfo(path).fileName());
        EXPECT_EQ(entry.value(QStringLiteral("sha256")).toString(), sha256Of(path));
        EXPECT_EQ(entry.value(QStringLiteral("via")).toString(), c.via);
    }
    // Nothing of the parts stays in the page.
    EXPECT_EQ(evaluate(tab, QStringLiteral("window.__vorlikBridgeParts.length")).toInt(), 0);
    // A file with a part missing is refused, not handed on.
    const web::BridgeInjection cut(QStringLiteral("correction"), QStringLiteral("cut.wav"), readFile(path).toBase64(), 65536);
    for (qsizetype i = 0; i < cut.scriptCount(); ++i) {
        if (i == 3)
            continue;
        const web::ScriptOutcome outcome = test::run(web::PageScript::run(tab.page(), cut.script(i)));
        EXPECT_EQ(outcome.error.value_or(QString()), i + 1 < cut.scriptCount() ? QString() : QStringLiteral("Error: the file arrived incomplete"));
    }
    settle(100);
    EXPECT_EQ(arrived(tab), n);
    // A file that fits in one part is one call, the script as the page expects it.
    const web::BridgeInjection small(QStringLiteral("dropZone"), QStringLiteral("a'b.wav"), "AAAA");
    ASSERT_EQ(small.scriptCount(), 1);
    EXPECT_EQ(small.script(0), QStringLiteral("window.vorlikInjectFile(JSON.parse('[{\"name\":\"a\\'b.wav\",\"type\":\"audio/wav\",\"data\":\"AAAA\"}]')[0]);"));
}

TEST_F(WebDrop, anInjectionThePageRejectsIsReportedAndTheNextFileStillGoes)
{
    StdoutCapture console;
    web::WebTabView &tab = openCorrection();
    evaluate(tab, QStringLiteral("window.__inject = window.vorlikInjectFiles;"
                                 "window.vorlikInjectFiles = function (list) {"
                                 "  if (list[0].name === 'bad.wav') throw new Error('refused ' + list[0].name);"
                                 "  return window.__inject(list); }; 1"));
    const QString bad = randomFile(QStringLiteral("bad.wav"), 100);
    const QString good = randomFile(QStringLiteral("good.wav"), 100);
    dropFiles(tab.webView(), urls({bad, QUrl::fromLocalFile(scratch(QStringLiteral("missing.wav"))).toLocalFile(), good}),
              over(tab, QStringLiteral("label[for=\"files\"]")));
    // The refused file does not count as delivered.
    ASSERT_TRUE(console.waitFor(QStringLiteral("HANDLE bridge injected 1 file(s)")));
    EXPECT_TRUE(console.lines().contains(QStringLiteral("HANDLE bridge inject error: Error: refused bad.wav")));
    ASSERT_TRUE(waitForHashes(tab, 1));
    EXPECT_EQ(file(tab, 0).value(QStringLiteral("name")).toString(), QStringLiteral("good.wav"));
}

TEST_F(WebDrop, theDiagnosticHooksRunAtPageLoad)
{
    StdoutCapture console;
    const QString wav = randomFile(QStringLiteral("simulated.wav"), 5000);
    platform::Settings &settings = platform::Settings::standard();
    settings.applyArguments({QStringLiteral("vorlik"), QStringLiteral("-simulateDrop"), wav, QStringLiteral("-dropAreaDebug"),
                             QStringLiteral("YES"), QStringLiteral("-queueProbe"), QStringLiteral("1")});
    web::WebTabView &tab = openCorrection();

    ASSERT_TRUE(waitForHashes(tab, 1));
    EXPECT_EQ(file(tab, 0).value(QStringLiteral("sha256")).toString(), sha256Of(wav));
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] handle files=1 page=correction")));

    const QPointF area = centreOf(tab.page(), QStringLiteral(".file-input-area"));
    EXPECT_TRUE(console.waitFor(QStringLiteral("DROPAREA %1,%2").arg(qRound64(area.x())).arg(qRound64(area.y()))));
    const QString probe = QStringLiteral("QUEUE 1 file(s) received | rows=1 | drop=%1,%2").arg(qRound64(area.x())).arg(qRound64(area.y()));
    EXPECT_TRUE(console.waitFor(probe, 5000)) << console.text().toStdString();

    // Once per tab: a new load does not drop the file again.
    navigate(tab, web::WebTabView::correctionURL());
    settle(500);
    EXPECT_EQ(m_log->count(QStringLiteral("[drop] handle files=1 page=correction")), 1);
}

TEST_F(WebDrop, theChooseHookOpensThePagesChooserOnce)
{
    platform::Settings::standard().setOverride(QStringLiteral("clickChoose"), QStringLiteral("files"));
    DialogCloser dialogs;
    web::WebTabView &tab = openCorrection();
    ASSERT_TRUE(m_log->waitFor(QStringLiteral("[drop] runOpenPanel page=correction pending=0")));
    ASSERT_TRUE(waitUntil([&] { return dialogs.seen.size() == 1; }));
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[drop] click posted at ")), 1);

    navigate(tab, web::WebTabView::correctionURL());
    settle(800);
    EXPECT_EQ(dialogs.seen.size(), 1);
    EXPECT_EQ(arrived(tab), 0);
}

} // namespace

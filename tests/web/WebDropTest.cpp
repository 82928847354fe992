#include "tests/web/WebTabFixture.h"

#include "platform/Settings.h"
#include "tests/support/TestFiles.h"
#include "web/BridgeInjection.h"
#include "web/DropRouter.h"
#include "web/PageScript.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>

using namespace vorlik;
using namespace vorlik::test;

namespace {

constexpr qint64 MiB = 1024 * 1024;

// Cancels every file dialog the program opens, noting what each was for.
struct DialogCloser {
    QStringList seen;
    QTimer timer;
    DialogCloser()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                seen << (dialog->acceptMode() == QFileDialog::AcceptSave ? "save" : dialog->fileMode() == QFileDialog::Directory ? "folder" : "open");
                dialog->reject();
            }
        });
        timer.start(50);
    }
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
        QRandomGenerator{quint32(size)}.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
        writeFile(scratch(name), bytes);
        return scratch(name);
    }
    // Drops the files over the Correction page's file label (a point of the view).
    void dropOnLabel(web::WebTabView &tab, const QStringList &paths) { dropFiles(tab.webView()->inputWidget(), paths, labelPoint(tab)); }
    QPointF labelPoint(web::WebTabView &tab) { return tab.webView()->viewPoint(centreOf(tab.page(), QStringLiteral("label[for=\"files\"]"))); }
    int arrived(web::WebTabView &tab) { return evaluate(tab, QStringLiteral("vorlikPage.files.length")).toInt(); }
    // A field of a file the page received: name, size, via, hashKind, sha256.
    QVariant field(web::WebTabView &tab, int index, const char *name)
    {
        return evaluate(tab, QStringLiteral("(vorlikPage.files[%1] || {})['%2']").arg(index).arg(QLatin1String(name)));
    }
    void expectArrived(web::WebTabView &tab, int index, const QString &path, const QString &via)
    {
        EXPECT_EQ(field(tab, index, "name").toString(), QFileInfo(path).fileName()) << index;
        EXPECT_EQ(field(tab, index, "size").toLongLong(), QFileInfo(path).size()) << index;
        EXPECT_EQ(field(tab, index, "sha256").toString(), sha256Of(path)) << index;
        EXPECT_EQ(field(tab, index, "via").toString(), via) << index;
    }
    bool waitForHashes(web::WebTabView &tab, int count, int timeoutMs = 30000)
    {
        return waitForPage(tab, QStringLiteral("vorlikPage.files.length === %1 && vorlikPage.files.every(function (f) { return f.hashKind; })").arg(count),
                           timeoutMs);
    }
    int clicks() const { return m_log->countStartingWith(QStringLiteral("[drop] click posted at ")); }
};

TEST_F(WebDrop, bridgeDropsArriveWholeInDropOrderEvenWhileTheBridgeIsBusyAndARefusedFileIsNotCounted)
{
    StdoutCapture console;
    web::WebTabView &tab = openCorrection();
    const QStringList paths = {randomFile(QStringLiteral("take 1.wav"), 30 * MiB + 1), randomFile(QStringLiteral("it's a \"note\".txt"), 1000),
                               randomFile(QStringLiteral("second.wav"), 1000), randomFile(QStringLiteral("third.wav"), 6 * MiB + 3)};
    const QPointF point = labelPoint(tab);
    dropFiles(tab.webView()->inputWidget(), paths.mid(0, 2), point);
    ASSERT_TRUE(m_log->waitFor(QStringLiteral("[drop] bridge injecting take 1.wav (40960 KB base64)")));
    // The next drops come while the first file's parts are on their way.
    for (int n = 2; n < 4; ++n) {
        dropFiles(tab.webView()->inputWidget(), QStringList{paths[n]}, point);
        ASSERT_TRUE(waitUntil([&] { return m_log->countStartingWith(QStringLiteral("[drop] target=correction ")) == n; }));
    }
    ASSERT_TRUE(waitForHashes(tab, 4, 60000));
    for (int n = 0; n < 4; ++n) {
        expectArrived(tab, n, paths[n], QStringLiteral("vorlikInjectFiles"));
        EXPECT_EQ(field(tab, n, "hashKind").toString(), QStringLiteral("sha256"));
    }
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] performDragOperation files=2 point=%1,%2").arg(qint64(point.x())).arg(qint64(point.y()))));
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] handle files=2 page=correction")));
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] bridge injecting it's a \"note\".txt (1 KB base64)")));
    ASSERT_TRUE(console.waitFor(QStringLiteral("HANDLE bridge injected 2 file(s)")));
    ASSERT_TRUE(waitUntil([&] { return console.lines().count(QStringLiteral("HANDLE bridge injected 1 file(s)")) == 2; }));
    EXPECT_EQ(clicks(), 0);
    EXPECT_FALSE(tab.coordinator()->pendingDroppedFiles().has_value());
    EXPECT_EQ(evaluate(tab, QStringLiteral("document.querySelectorAll('.drag-over').length")).toInt(), 0); // the highlight is gone

    // A file the page refuses is reported and not counted; the next one still goes.
    evaluate(tab, QStringLiteral("window.__inject = window.vorlikInjectFiles; window.vorlikInjectFiles = function (list) {"
                                 "  if (list[0].name === 'bad.wav') throw new Error('refused ' + list[0].name);"
                                 "  return window.__inject(list); }; 1"));
    dropOnLabel(tab, {randomFile(QStringLiteral("bad.wav"), 100), scratch(QStringLiteral("missing.wav")), randomFile(QStringLiteral("good.wav"), 100)});
    ASSERT_TRUE(waitUntil([&] { return console.lines().count(QStringLiteral("HANDLE bridge injected 1 file(s)")) == 3; }));
    EXPECT_TRUE(console.lines().contains(QStringLiteral("HANDLE bridge inject error: Error: refused bad.wav")));
    ASSERT_TRUE(waitForHashes(tab, 5));
    EXPECT_EQ(field(tab, 4, "name").toString(), QStringLiteral("good.wav"));
}

TEST_F(WebDrop, aLargeFileReachesThePageInPartsOneWithAPartMissingIsRefusedAndAFolderGivesItsFirst2000RegularVisibleFiles)
{
    web::WebTabView &tab = openCorrection();
    const QString path = randomFile(QStringLiteral("it's \\ parts.wav"), 300000);
    const struct { const char *target, *via; } cases[] = {
        {"correction", "vorlikInjectFiles"}, {"dropZone", "vorlikInjectFile"}, {"immDropZone", "vorlikInjectImmersiveFile"}};
    int n = 0;
    for (const auto &c : cases) {
        const web::BridgeInjection injection(QLatin1String(c.target), QFileInfo(path).fileName(), readFile(path).toBase64(), 65536);
        ASSERT_EQ(injection.scriptCount(), 7 + 1); // 400,000 characters of Base64 in parts of 65,536, then the call
        for (qsizetype i = 0; i < injection.scriptCount(); ++i) {
            const web::ScriptOutcome outcome = test::run(web::PageScript::run(tab.page(), injection.script(i)));
            ASSERT_FALSE(outcome.error.has_value()) << outcome.error->toStdString();
        }
        ASSERT_TRUE(waitForHashes(tab, ++n));
        expectArrived(tab, n - 1, path, QLatin1String(c.via));
    }
    EXPECT_EQ(evaluate(tab, QStringLiteral("window.__vorlikBridgeParts.length")).toInt(), 0); // nothing of the parts stays
    const web::BridgeInjection cut(QStringLiteral("correction"), QStringLiteral("cut.wav"), readFile(path).toBase64(), 65536);
    for (qsizetype i = 0; i < cut.scriptCount(); ++i) {
        if (i == 3)
            continue;
        const web::ScriptOutcome outcome = test::run(web::PageScript::run(tab.page(), cut.script(i)));
        EXPECT_EQ(outcome.error.value_or(QString()), i + 1 < cut.scriptCount() ? QString() : QStringLiteral("Error: the file arrived incomplete"));
    }
    QTest::qWait(100);
    EXPECT_EQ(arrived(tab), n);

    // A dropped folder of 3000 files gives the first 2000 regular, visible ones.
    const QDir folder(scratch(QStringLiteral("session")));
    QDir().mkpath(folder.path());
    for (int i = 0; i < 3000; ++i)
        writeFile(folder.filePath(QStringLiteral("f%1.wav").arg(i, 4, 10, QLatin1Char('0'))), QByteArray::number(i));
    writeFile(folder.filePath(QStringLiteral(".f0000-hidden.wav")), "hidden");
    StdoutCapture console;
    dropOnLabel(tab, {folder.path()});
    ASSERT_TRUE(console.waitFor(QStringLiteral("HANDLE bridge injected 2000 file(s)"), 120000));
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] handle files=2000 page=correction")));
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[drop] bridge injecting ")), 2000);
    ASSERT_TRUE(waitForPage(tab, QStringLiteral("vorlikPage.files.length === %1").arg(n + 2000)));
    EXPECT_EQ(field(tab, n, "name").toString(), QStringLiteral("f0000.wav"));
    EXPECT_EQ(field(tab, n + 1999, "name").toString(), QStringLiteral("f1999.wav"));
}

TEST_F(WebDrop, aFileTooLargeForTheBridgeGoesToThePagesOwnChooserWhichGetsNoMoreClicksForOtherTypesAndThreeRetriesIfItNeverAsks)
{
    StdoutCapture console;
    web::WebTabView &tab = openCorrection();
    const QString huge = scratch(QStringLiteral("feature mix.wav"));
    writeSparseFile(huge, 300 * MiB, QByteArray("HEAD of a large take ").repeated(100), QByteArray(" TAIL of a large take").repeated(100));
    dropOnLabel(tab, {huge});
    ASSERT_TRUE(waitForHashes(tab, 1));
    // The page read a sample of the file, not all of it.
    EXPECT_EQ(field(tab, 0, "name").toString() + u' ' + field(tab, 0, "via").toString() + u' ' + field(tab, 0, "hashKind").toString(),
              QStringLiteral("feature mix.wav chooser sample-sha256"));
    EXPECT_EQ(field(tab, 0, "size").toLongLong(), 300 * MiB);
    EXPECT_EQ(field(tab, 0, "sha256").toString(), sampleSha256Of(huge));
    EXPECT_EQ(clicks(), 1);
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] runOpenPanel page=correction pending=1")));
    EXPECT_TRUE(console.lines().contains(QStringLiteral("PANEL consuming 1 pending files")));
    EXPECT_TRUE(console.text().contains(QRegularExpression(QStringLiteral("^HANDLE real click at .* target=correction$"),
                                                           QRegularExpression::MultilineOption)));
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[drop] bridge injecting")), 0);
    EXPECT_FALSE(tab.coordinator()->pendingDroppedFiles().has_value());
    EXPECT_FALSE(tab.coordinator()->isRetryArmed());

    evaluate(tab, QStringLiteral("document.getElementById('files').accept = '.pdf'; 1"));
    {
        DialogCloser dialogs;
        dropOnLabel(tab, {huge});
        ASSERT_TRUE(waitUntil([&] { return dialogs.seen.size() == 1; }));
        QTest::qWait(2 * int(web::Coordinator::retryInterval.count()));
        EXPECT_EQ(dialogs.seen, QStringList{QStringLiteral("open")});
        EXPECT_EQ(clicks(), 2);
        EXPECT_EQ(arrived(tab), 1);
        EXPECT_TRUE(tab.coordinator()->pendingDroppedFiles().has_value());
    }

    evaluate(tab, QStringLiteral("var input = document.getElementById('files'); input.accept = ''; input.disabled = true; 1"));
    dropOnLabel(tab, {huge});
    ASSERT_TRUE(console.waitFor(QStringLiteral("HANDLE bridge too large — leaving to click path"), 15000));
    const QStringList retries = console.lines().filter(QRegularExpression(QStringLiteral("^HANDLE (retry|panel never)")));
    EXPECT_EQ(retries, QStringList({QStringLiteral("HANDLE retry 1"), QStringLiteral("HANDLE retry 2"), QStringLiteral("HANDLE retry 3"),
                                    QStringLiteral("HANDLE panel never asked after 3 retries — injecting via page bridge")}));
    EXPECT_EQ(clicks(), 2 + 4);
    for (int n = 1; n <= 3; ++n)
        EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] click retry %1").arg(n)));
    // The files stay pending for a request of the page; nothing more arrived.
    ASSERT_TRUE(tab.coordinator()->pendingDroppedFiles().has_value());
    EXPECT_EQ(tab.coordinator()->pendingDroppedFiles()->size(), 1);
    EXPECT_EQ(arrived(tab), 1);
}

TEST_F(WebDrop, aDropGoesToTheSelectedTabWhicheverViewReceivedItAndOnCinemaTheZoneUnderItOrTheFileTypeDecides)
{
    web::WebTabView &correction = openCorrection();
    web::WebTabView &cinema = openCinema();
    const QString mxf = randomFile(QStringLiteral("atmos.mxf"), 4000);
    const QString wav = randomFile(QStringLiteral("stereo.wav"), 4000);

    // Correction selected: a drop that lands on the Cinema view still goes to Correction.
    dropFiles(cinema.webView()->inputWidget(), QStringList{wav}, QPointF(50, 50));
    ASSERT_TRUE(waitForHashes(correction, 1));
    EXPECT_EQ(arrived(cinema), 0);

    // Cinema selected: the Correction view no longer takes drops, the Cinema page gets them.
    correction.setActive(false);
    EXPECT_FALSE(web::DropRouter::shared().correctionActive);
    dropFiles(correction.webView()->inputWidget(), QStringList{wav}, QPointF(50, 50));
    const QPointF outside = cinema.webView()->viewPoint(QPointF(700, 650));
    const QPointF overImmersive = cinema.webView()->viewPoint(centreOf(cinema.page(), QStringLiteral("#immDropZone")));
    const struct { QString file; QPointF point; const char *via, *target; } cases[] = {
        {mxf, outside, "vorlikInjectImmersiveFile", "immDropZone"},
        {wav, outside, "vorlikInjectFile", "dropZone"},
        {wav, overImmersive, "vorlikInjectImmersiveFile", "immDropZone"},
    };
    int n = 0;
    for (const auto &c : cases) {
        const QString target = QStringLiteral("[drop] target=%1 ").arg(QLatin1String(c.target));
        const int targets = m_log->countStartingWith(target);
        dropFiles(cinema.webView()->inputWidget(), QStringList{c.file}, c.point);
        ASSERT_TRUE(waitForHashes(cinema, ++n)) << c.via;
        expectArrived(cinema, n - 1, c.file, QLatin1String(c.via));
        EXPECT_EQ(m_log->countStartingWith(target), targets + 1);
    }
    // A drop that replaces one still looking for its zone goes to its own zone.
    dropFiles(cinema.webView()->inputWidget(), QStringList{mxf}, outside);
    dropFiles(cinema.webView()->inputWidget(), QStringList{wav}, outside);
    ASSERT_TRUE(waitForHashes(cinema, ++n));
    QTest::qWait(300);
    EXPECT_EQ(arrived(cinema), n);
    expectArrived(cinema, n - 1, wav, QStringLiteral("vorlikInjectFile"));
    EXPECT_EQ(arrived(correction), 1);
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[drop] performDragOperation")), 1 + 3 + 2);
}

TEST_F(WebDrop, withoutATargetTheFilesWaitForAnOpenRequestThatAcceptsThemFromTheSamePage)
{
    StdoutCapture console;
    web::WebTabView &tab = openPlainPage();
    const QString wav = randomFile(QStringLiteral("take.wav"), 2700);
    const QString before = sha256Of(wav);
    const auto dropAndWait = [&](int drops) {
        dropFiles(tab.webView()->inputWidget(), QStringList{wav}, QPointF(40, 40));
        return waitUntil([&] { return m_log->count(QStringLiteral("[drop] no target found on page")) == drops; });
    };
    ASSERT_TRUE(dropAndWait(1));
    EXPECT_TRUE(console.waitFor(QStringLiteral("HANDLE no target")));
    ASSERT_TRUE(tab.coordinator()->pendingDroppedFiles().has_value());

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
    EXPECT_EQ(field(tab, 0, "via").toString(), QStringLiteral("other"));
    EXPECT_EQ(field(tab, 0, "size").toLongLong(), 2700);
    EXPECT_EQ(dialogs.seen.size(), 3);
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] runOpenPanel page=plain pending=1")));
    EXPECT_FALSE(tab.coordinator()->pendingDroppedFiles().has_value());
    EXPECT_EQ(sha256Of(wav), before);

    // A new navigation drops files still waiting.
    ASSERT_TRUE(dropAndWait(2));
    navigate(tab, http().baseUrl().resolved(QUrl(QStringLiteral("/pages/plain"))));
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] navigation invalidated pending drop")));
    EXPECT_FALSE(tab.coordinator()->pendingDroppedFiles().has_value());

    // A page that moved on by itself (no new load) is another page: its request gets the dialog.
    ASSERT_TRUE(dropAndWait(3));
    evaluate(tab, QStringLiteral("history.pushState({}, '', '/pages/other'); 1"));
    clickAt(tab.webView(), centreOf(tab.page(), QStringLiteral("#other")));
    ASSERT_TRUE(waitUntil([&] { return dialogs.seen.size() == 4; }));
    EXPECT_EQ(dialogs.seen.last(), QStringLiteral("open"));
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] runOpenPanel page=other pending=1")));
    QTest::qWait(200);
    EXPECT_EQ(arrived(tab), 0);
    EXPECT_TRUE(tab.coordinator()->pendingDroppedFiles().has_value());
}

TEST_F(WebDrop, theDiagnosticAndChooseHooksRunAtPageLoadOncePerTab)
{
    StdoutCapture console;
    const QString wav = randomFile(QStringLiteral("simulated.wav"), 5000);
    platform::Settings::standard().applyArguments({QStringLiteral("vorlik"), QStringLiteral("-simulateDrop"), wav, QStringLiteral("-dropAreaDebug"),
                                                   QStringLiteral("YES"), QStringLiteral("-queueProbe"), QStringLiteral("1")});
    platform::Settings::standard().setOverride(QStringLiteral("clickChoose"), QStringLiteral("files"));
    DialogCloser dialogs;
    web::WebTabView &tab = openCorrection();
    ASSERT_TRUE(waitForHashes(tab, 1));
    EXPECT_EQ(field(tab, 0, "sha256").toString(), sha256Of(wav));
    EXPECT_TRUE(m_log->contains(QStringLiteral("[drop] handle files=1 page=correction")));
    const QPointF area = centreOf(tab.page(), QStringLiteral(".file-input-area"));
    const QString at = QStringLiteral("%1,%2").arg(qRound64(area.x())).arg(qRound64(area.y()));
    EXPECT_TRUE(console.waitFor(QStringLiteral("DROPAREA ") + at));
    EXPECT_TRUE(console.waitFor(QStringLiteral("QUEUE 1 file(s) received | rows=1 | drop=") + at, 5000)) << console.text().toStdString();
    ASSERT_TRUE(m_log->waitFor(QStringLiteral("[drop] runOpenPanel page=correction pending=0")));
    ASSERT_TRUE(waitUntil([&] { return dialogs.seen.size() == 1; }));
    EXPECT_EQ(clicks(), 1);
    navigate(tab, web::WebTabView::correctionURL());
    QTest::qWait(800);
    EXPECT_EQ(m_log->count(QStringLiteral("[drop] handle files=1 page=correction")), 1);
    EXPECT_EQ(dialogs.seen.size(), 1);
    EXPECT_EQ(arrived(tab), 0);
}

} // namespace

// Rules of the web tabs that need no page: which pages and frame origins are trusted, download
// names, script escaping, the resource guard, drop routing, folder expansion and the bridge's
// size limit.
#include "tests/web/WebTabFixture.h"

#include "platform/ServiceConfig.h"
#include "platform/Settings.h"
#include "tests/support/TestFiles.h"
#include "web/Coordinator.h"
#include "web/DownloadDestination.h"
#include "web/DownloadInterruption.h"
#include "web/DropRouter.h"
#include "web/FileChooserRequest.h"
#include "web/InjectedScripts.h"
#include "web/PageScript.h"
#include "web/ResourceGuard.h"
#include "web/SecurityOrigin.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace vorlik;
using namespace vorlik::test;
using vorlik::platform::Settings;
using vorlik::web::Coordinator;
using vorlik::web::SecurityOrigin;

namespace {

// The service at a base URL of the test's choosing; its own host is vorlik.app.
class WebRules : public ::testing::Test {
protected:
    void SetUp() override { platform::ServiceConfig::setCurrentForTesting(QUrl(QStringLiteral("https://vorlik.app"))); }
    void TearDown() override
    {
        platform::ServiceConfig::setCurrentForTesting(QUrl());
        Settings::standard().clearOverrides();
    }
    static void useBase(const char *base) { Settings::standard().setOverride(QStringLiteral("baseURL"), QString::fromLatin1(base)); }
    QTemporaryDir m_folder;
};

TEST_F(WebRules, approvedPages)
{
    struct Case {
        const char *base;
        const char *url;
        bool approved;
    };
    const Case cases[] = {
        {"https://vorlik.app", "https://vorlik.app/correction", true},
        {"https://vorlik.app", "https://vorlik.app:8443/correction", true}, // the own host over https, any port
        {"https://vorlik.app", "http://vorlik.app/correction", false},
        {"https://vorlik.app", "https://www.vorlik.app/", false},
        {"https://vorlik.app", "https://evil.example/vorlik.app", false},
        {"https://vorlik.app", "file:///home/me/page.html", true},
        {"https://vorlik.app", "about:blank", false},
        {"https://vorlik.app", "data:text/html,hello", false},
        {"http://127.0.0.1:8080", "http://127.0.0.1:8080/correction", true},
        {"http://127.0.0.1:8080", "http://127.0.0.1:8081/correction", false},
        {"http://127.0.0.1:8080", "http://127.0.0.1/correction", false},
        {"http://127.0.0.1:8080", "http://localhost:8080/correction", false},
        {"http://127.0.0.1:8080", "https://127.0.0.1:8080/correction", false},
        {"http://127.0.0.1:8080", "https://vorlik.app/cinema", true},
        {"http://127.0.0.1:8080", "http://vorlik.app/cinema", false},
        {"staging.vorlik.app", "https://vorlik.app/x", true}, // no scheme: the built-in origin
        {"staging.vorlik.app", "https://staging.vorlik.app/x", false},
    };
    for (const Case &c : cases) {
        useBase(c.base);
        EXPECT_EQ(Coordinator::isApprovedPage(QUrl(QString::fromLatin1(c.url))), c.approved) << c.base << " " << c.url;
    }
}

TEST_F(WebRules, approvedFrameOrigins)
{
    struct Case {
        const char *base;
        SecurityOrigin origin;
        bool approved;
    };
    const Case cases[] = {
        {"https://vorlik.app", {QStringLiteral("https"), QStringLiteral("vorlik.app"), 0}, true},
        {"https://vorlik.app", {QStringLiteral("https"), QStringLiteral("vorlik.app"), 8443}, true},
        {"https://vorlik.app", {QStringLiteral("http"), QStringLiteral("vorlik.app"), 0}, false},
        {"https://vorlik.app", {QStringLiteral("https"), QStringLiteral("www.vorlik.app"), 0}, false},
        {"https://vorlik.app", {QStringLiteral("file"), QString(), 0}, false},
        {"https://vorlik.app", {}, false}, // an opaque origin
        {"http://127.0.0.1:8080", {QStringLiteral("http"), QStringLiteral("127.0.0.1"), 8080}, true},
        {"http://127.0.0.1:8080", {QStringLiteral("http"), QStringLiteral("127.0.0.1"), 0}, false},
        {"http://127.0.0.1:8080", {QStringLiteral("http"), QStringLiteral("localhost"), 8080}, false},
        {"http://127.0.0.1", {QStringLiteral("http"), QStringLiteral("127.0.0.1"), 0}, true},
        {"http://127.0.0.1", {QStringLiteral("http"), QStringLiteral("127.0.0.1"), 80}, false},
    };
    for (const Case &c : cases) {
        useBase(c.base);
        EXPECT_EQ(Coordinator::isApprovedSecurityOrigin(c.origin), c.approved) << c.base << " " << c.origin.description().toStdString();
    }
}

TEST_F(WebRules, originsReadAsPagesWriteThem)
{
    struct Case {
        const char *text;
        SecurityOrigin origin;
        const char *description;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8080", {QStringLiteral("http"), QStringLiteral("127.0.0.1"), 8080}, "http://127.0.0.1:8080"},
        {"https://vorlik.app", {QStringLiteral("https"), QStringLiteral("vorlik.app"), 0}, "https://vorlik.app"},
        {"http://vorlik.app:80", {QStringLiteral("http"), QStringLiteral("vorlik.app"), 0}, "http://vorlik.app"},
        {"https://localhost:8443", {QStringLiteral("https"), QStringLiteral("localhost"), 8443}, "https://localhost:8443"},
        {"file://", {QStringLiteral("file"), QString(), 0}, "file://"},
        {"null", {}, "null"},
    };
    for (const Case &c : cases) {
        const SecurityOrigin origin = SecurityOrigin::fromText(QString::fromLatin1(c.text));
        EXPECT_EQ(origin, c.origin) << c.text;
        EXPECT_EQ(origin.description(), QString::fromLatin1(c.description));
    }
}

TEST_F(WebRules, theSessionWatcherExpectsTheBaseURLsOrigin)
{
    struct Case {
        const char *base;
        const char *expected;
    };
    const Case cases[] = {
        {"https://vorlik.app", "https://vorlik.app"},
        {"http://127.0.0.1:8080/", "http://127.0.0.1:8080"},
        {"http://127.0.0.1:8080/api/v2", "http://127.0.0.1:8080"},
        {"staging.vorlik.app", "https://vorlik.app"},
    };
    for (const Case &c : cases) {
        useBase(c.base);
        EXPECT_EQ(Coordinator::expectedOrigin(), QString::fromLatin1(c.expected)) << c.base;
        EXPECT_TRUE(web::InjectedScripts::sessionWatcher(Coordinator::expectedOrigin())
                        .contains(QStringLiteral("var EXPECTED_ORIGIN = '") + QString::fromLatin1(c.expected) + QStringLiteral("';\n")));
    }
}

TEST_F(WebRules, downloadNames)
{
    struct Case {
        const char *suggested;
        const char *first;
        const char *second;
    };
    const Case cases[] = {
        {"report.pdf", "report.pdf", "report (1).pdf"},
        {"notes", "notes", "notes (1)"},
        {"take.final.wav", "take.final.wav", "take.final (1).wav"},
        {".profile", ".profile", ".profile (1)"},
        {"trailing.", "trailing.", "trailing. (1)"},
        {"../../etc/passwd", "passwd", "passwd (1)"},
        {"", "download", "download (1)"},
        {"..", "download", "download (1)"},
        {"folder/", "download", "download (1)"},
    };
    for (const Case &c : cases) {
        const QString name = web::DownloadDestination::fileName(QString::fromLatin1(c.suggested));
        EXPECT_EQ(web::DownloadDestination::candidate(name, 0), QString::fromLatin1(c.first)) << c.suggested;
        EXPECT_EQ(web::DownloadDestination::candidate(name, 1), QString::fromLatin1(c.second)) << c.suggested;
    }
    EXPECT_EQ(web::DownloadDestination::candidate(QStringLiteral("report.pdf"), 12), QStringLiteral("report (12).pdf"));
}

TEST_F(WebRules, downloadsTakeTheFirstFreeNameAndKeepWhatIsThere)
{
    const QDir folder(m_folder.filePath(QStringLiteral("Downloads")));
    const auto first = web::DownloadDestination::reserve(folder.path(), QStringLiteral("report.pdf"));
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, folder.filePath(QStringLiteral("report.pdf")));
    writeFile(*first, "the first report");
    // A folder of that name is taken too.
    QDir().mkpath(folder.filePath(QStringLiteral("report (1).pdf")));
    const auto second = web::DownloadDestination::reserve(folder.path(), QStringLiteral("report.pdf"));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(*second, folder.filePath(QStringLiteral("report (2).pdf")));
    EXPECT_EQ(readFile(*first), QByteArray("the first report"));
    EXPECT_TRUE(QFileInfo::exists(*second)); // held for the download until it is written

    // A Downloads folder that cannot be made gives no destination.
    writeFile(m_folder.filePath(QStringLiteral("plain-file")), "x");
    EXPECT_FALSE(web::DownloadDestination::reserve(m_folder.filePath(QStringLiteral("plain-file/Downloads")), QStringLiteral("a.pdf")));
}

TEST_F(WebRules, interruptedDownloadsAreDescribedTruthfully)
{
    EXPECT_EQ(web::DownloadInterruption::describe(38, QStringLiteral("Download canceled by the user")),
              QStringLiteral("The server sent less than it announced."));
    EXPECT_EQ(web::DownloadInterruption::describe(22, {}), QStringLiteral("The network connection was lost."));
    EXPECT_EQ(web::DownloadInterruption::describe(40, {}), QStringLiteral("The download was cancelled."));
    EXPECT_EQ(web::DownloadInterruption::describe(99, QStringLiteral("Something new")), QStringLiteral("Something new"));
    EXPECT_EQ(web::DownloadInterruption::describe(99, {}), QStringLiteral("The download failed."));
}

TEST_F(WebRules, scriptStringEscaping)
{
    struct Case {
        const char *text;
        const char *escaped;
    };
    const Case cases[] = {
        {"vk_plain", "vk_plain"},
        {"it's", "it\\'s"},
        {"back\\slash", "back\\\\slash"},
        {"\\'", "\\\\\\'"},
        {"''", "\\'\\'"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(web::InjectedScripts::escapeForSingleQuotes(QString::fromLatin1(c.text)), QString::fromLatin1(c.escaped)) << c.text;
    EXPECT_TRUE(web::InjectedScripts::offerConnectKey(QStringLiteral("a\\'b")).contains(QStringLiteral("    input.value = 'a\\'b';\n")));
}

TEST_F(WebRules, webContentMayNotLoadTheProgramsResourcesOrLocalFiles)
{
    struct Case {
        const char *request;
        const char *initiator;
        bool blocked;
    };
    const Case cases[] = {
        {"qrc:///qtwebchannel/qwebchannel.js", "", true},
        {"qrc:///qtwebchannel/qwebchannel.js", "http://127.0.0.1:8080", true},
        {"file:///etc/passwd", "http://127.0.0.1:8080", true},
        {"file:///etc/passwd", "https://vorlik.app", true},
        {"file:///home/me/page.html", "", false},        // the application opens a local page
        {"file:///home/me/style.css", "file://", false}, // which loads its own files
        {"https://vorlik.app/correction", "http://127.0.0.1:8080", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(web::ResourceGuard::isBlocked(QUrl(QString::fromLatin1(c.request)), QUrl(QString::fromLatin1(c.initiator))), c.blocked)
            << c.request << " from " << c.initiator;
}

TEST_F(WebRules, dropsGoToTheSelectedTab)
{
    struct Case {
        bool correctionActive;
        bool correctionHandler;
        bool cinemaHandler;
        const char *receiver;
    };
    const Case cases[] = {
        {true, true, true, "correction"}, {false, true, true, "cinema"}, {true, false, true, "cinema"},
        {true, false, false, ""},         {false, true, false, ""},
    };
    for (const Case &c : cases) {
        QString receiver;
        QList<QUrl> received;
        web::DropRouter router;
        router.correctionActive = c.correctionActive;
        if (c.correctionHandler)
            router.correctionHandler = [&](const QList<QUrl> &files, QPointF) { receiver = QStringLiteral("correction"); received = files; };
        if (c.cinemaHandler)
            router.cinemaHandler = [&](const QList<QUrl> &files, QPointF) { receiver = QStringLiteral("cinema"); received = files; };
        const QList<QUrl> files{QUrl::fromLocalFile(QStringLiteral("/tmp/a.wav"))};
        router.route(files, QPointF(3, 4));
        EXPECT_EQ(receiver, QString::fromLatin1(c.receiver));
        EXPECT_EQ(received, *c.receiver ? files : QList<QUrl>());
    }
}

TEST_F(WebRules, droppedFoldersExpandToTheirVisibleRegularFilesInOrder)
{
    const QDir root(m_folder.filePath(QStringLiteral("drop")));
    for (const char *path : {"a.wav", "b/c.wav", "b/.hidden.wav", ".git/config", "Thing.app/Contents/inside.wav", "z.txt"}) {
        const QString file = root.filePath(QString::fromLatin1(path));
        QDir().mkpath(QFileInfo(file).absolutePath());
        writeFile(file, path);
    }
    QFile::link(root.filePath(QStringLiteral("a.wav")), root.filePath(QStringLiteral("link.wav")));
    QFile::link(root.filePath(QStringLiteral("b")), root.filePath(QStringLiteral("loop")));

    const QList<QUrl> dropped{QUrl::fromLocalFile(root.filePath(QStringLiteral("z.txt"))),
                              QUrl::fromLocalFile(root.path()),
                              QUrl::fromLocalFile(root.filePath(QStringLiteral("a.wav"))),
                              QUrl::fromLocalFile(root.filePath(QStringLiteral("missing.wav"))),
                              QUrl(QStringLiteral("https://vorlik.app/remote.wav")),
                              QUrl::fromLocalFile(root.filePath(QStringLiteral("link.wav")))};
    const QList<QUrl> expected{QUrl::fromLocalFile(root.filePath(QStringLiteral("z.txt"))),
                               QUrl::fromLocalFile(root.filePath(QStringLiteral("a.wav"))),
                               QUrl::fromLocalFile(root.filePath(QStringLiteral("b/c.wav"))),
                               // A link dropped by itself is taken as the file it is.
                               QUrl::fromLocalFile(root.filePath(QStringLiteral("link.wav")))};
    EXPECT_EQ(Coordinator::expandToFiles(dropped, 2000), expected);
    EXPECT_EQ(Coordinator::expandToFiles(dropped, 2), expected.mid(0, 2));
    EXPECT_TRUE(Coordinator::expandToFiles({}, 2000).isEmpty());
}

TEST_F(WebRules, theBridgeTakesDropsOfAtMost250MiB)
{
    constexpr qint64 limit = Coordinator::bridgeByteLimit;
    ASSERT_EQ(limit, 262144000);
    const auto sparse = [&](const char *name, qint64 size) {
        const QString path = m_folder.filePath(QString::fromLatin1(name));
        writeSparseFile(path, size, "h", "t");
        return QUrl::fromLocalFile(path);
    };
    const QUrl exact = sparse("exact.wav", limit);
    const QUrl over = sparse("over.wav", limit + 1);
    const QUrl half = sparse("half.wav", limit / 2);
    const QUrl byte = sparse("byte.wav", 2);
    const QUrl missing = QUrl::fromLocalFile(m_folder.filePath(QStringLiteral("missing.wav")));
    EXPECT_TRUE(Coordinator::bridgeFits({}, limit));
    EXPECT_TRUE(Coordinator::bridgeFits({exact}, limit));
    EXPECT_FALSE(Coordinator::bridgeFits({over}, limit));
    EXPECT_TRUE(Coordinator::bridgeFits({half, half}, limit));
    EXPECT_FALSE(Coordinator::bridgeFits({half, half, byte}, limit));
    EXPECT_TRUE(Coordinator::bridgeFits({exact, missing}, limit)); // a size that cannot be read counts 0
}

TEST_F(WebRules, droppedFilesAnswerOnlyOpenRequestsThatAcceptThem)
{
    const QUrl wav = QUrl::fromLocalFile(m_folder.filePath(QStringLiteral("Take 1.WAV")));
    const QUrl pdf = QUrl::fromLocalFile(m_folder.filePath(QStringLiteral("notes.pdf")));
    const QUrl bare = QUrl::fromLocalFile(m_folder.filePath(QStringLiteral("README")));
    using Mode = QWebEnginePage::FileSelectionMode;
    struct Case {
        Mode mode;
        QStringList accepted;
        QList<QUrl> files;
        bool admitted;
    };
    const Case cases[] = {
        {Mode::FileSelectOpenMultiple, {}, {wav, pdf}, true},
        {Mode::FileSelectOpen, {}, {wav}, true},
        {Mode::FileSelectOpen, {}, {wav, pdf}, false}, // one file asked for, two dropped
        {Mode::FileSelectSave, {}, {wav}, false},
        {Mode::FileSelectUploadFolder, {}, {wav}, false},
        {Mode::FileSelectOpenMultiple, {}, {}, false},
        {Mode::FileSelectOpenMultiple, {QStringLiteral(".pdf"), QStringLiteral("application/pdf")}, {wav}, false},
        {Mode::FileSelectOpenMultiple, {QStringLiteral(".pdf"), QStringLiteral("application/pdf")}, {pdf}, true},
        {Mode::FileSelectOpenMultiple, {QStringLiteral(".wav")}, {wav, pdf}, false},
        {Mode::FileSelectOpenMultiple, {QStringLiteral(".wav")}, {wav}, true},
        {Mode::FileSelectOpenMultiple, {QStringLiteral("audio/*")}, {wav}, true},
        {Mode::FileSelectOpenMultiple, {QStringLiteral("audio/wav")}, {wav}, true}, // an alias of audio/x-wav
        {Mode::FileSelectOpenMultiple, {QStringLiteral("video/*")}, {wav}, false},
        {Mode::FileSelectOpenMultiple, {QStringLiteral("application/*")}, {wav}, false},
        {Mode::FileSelectOpenMultiple, {QStringLiteral("audio/*")}, {bare}, false},
        {Mode::FileSelectOpenMultiple, {QString()}, {bare}, true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(web::FileChooserRequest(c.mode, c.accepted).admits(c.files), c.admitted)
            << int(c.mode) << " " << c.accepted.join(QLatin1Char(',')).toStdString() << " files=" << c.files.size();
}

TEST_F(WebRules, scriptOutcomesTellErrorsFromValues)
{
    const web::ScriptOutcome failed = web::PageScript::outcomeOf(QVariantMap{{QStringLiteral("__vorlikScriptError"), QStringLiteral("TypeError: x")}});
    ASSERT_TRUE(failed.error.has_value());
    EXPECT_EQ(*failed.error, QStringLiteral("TypeError: x"));
    const QVariantMap page{{QStringLiteral("__vorlikScriptError"), 1}, {QStringLiteral("other"), 2}};
    EXPECT_FALSE(web::PageScript::outcomeOf(page).error.has_value());
    EXPECT_EQ(web::PageScript::outcomeOf(page).value, QVariant(page));
    EXPECT_EQ(web::PageScript::outcomeOf(QVariant(true)).value, QVariant(true));
}

} // namespace

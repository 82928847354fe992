#include "tests/web/WebTabFixture.h"

#include "platform/ServiceConfig.h"
#include "platform/Settings.h"
#include "tests/support/TestFiles.h"
#include "web/DownloadDestination.h"
#include "web/DownloadInterruption.h"
#include "web/FileChooserRequest.h"
#include "web/InjectedScripts.h"
#include "web/PageScript.h"
#include "web/ResourceGuard.h"

#include <QDir>
#include <QFile>

using namespace vorlik;
using namespace vorlik::test;
using vorlik::platform::Settings;
using vorlik::web::Coordinator;
using vorlik::web::SecurityOrigin;

namespace {

QString latin(const char *text) { return QString::fromLatin1(text); }
SecurityOrigin origin(const char *protocol, const char *host, int port) { return {latin(protocol), latin(host), port}; }

// The service at a base URL of the test's choosing; its own host is vorlik.app.
class WebRules : public ::testing::Test {
protected:
    void SetUp() override { platform::ServiceConfig::setCurrentForTesting(QUrl(QStringLiteral("https://vorlik.app"))); }
    void TearDown() override
    {
        platform::ServiceConfig::setCurrentForTesting(QUrl());
        Settings::standard().clearOverrides();
    }
    static void useBase(const char *base) { Settings::standard().setOverride(QStringLiteral("baseURL"), latin(base)); }
    QTemporaryDir m_folder;
};

TEST_F(WebRules, approvedPagesAndFrameOrigins)
{
    const char *app = "https://vorlik.app", *local = "http://127.0.0.1:8080";
    const struct { const char *base, *url; bool approved; } pages[] = {
        {app, "https://vorlik.app/correction", true}, {app, "https://vorlik.app:8443/correction", true}, // own host, any port
        {app, "http://vorlik.app/correction", false}, {app, "https://www.vorlik.app/", false},
        {app, "https://evil.example/vorlik.app", false}, {app, "file:///home/me/page.html", true},
        {app, "about:blank", false}, {app, "data:text/html,hello", false},
        {local, "http://127.0.0.1:8080/correction", true}, {local, "http://127.0.0.1:8081/correction", false},
        {local, "http://127.0.0.1/correction", false}, {local, "http://localhost:8080/correction", false},
        {local, "https://127.0.0.1:8080/correction", false}, {local, "https://vorlik.app/cinema", true},
        {local, "http://vorlik.app/cinema", false},
        {"staging.vorlik.app", "https://vorlik.app/x", true}, // no scheme: the built-in origin
        {"staging.vorlik.app", "https://staging.vorlik.app/x", false},
    };
    for (const auto &c : pages) {
        useBase(c.base);
        EXPECT_EQ(Coordinator::isApprovedPage(QUrl(latin(c.url))), c.approved) << c.base << " " << c.url;
    }
    const struct { const char *base; SecurityOrigin origin; bool approved; } frames[] = {
        {app, origin("https", "vorlik.app", 0), true}, {app, origin("https", "vorlik.app", 8443), true},
        {app, origin("http", "vorlik.app", 0), false}, {app, origin("https", "www.vorlik.app", 0), false},
        {app, origin("file", "", 0), false}, {app, {}, false}, // an opaque origin
        {local, origin("http", "127.0.0.1", 8080), true}, {local, origin("http", "127.0.0.1", 0), false},
        {local, origin("http", "localhost", 8080), false},
        {"http://127.0.0.1", origin("http", "127.0.0.1", 0), true}, {"http://127.0.0.1", origin("http", "127.0.0.1", 80), false},
    };
    for (const auto &c : frames) {
        useBase(c.base);
        EXPECT_EQ(Coordinator::isApprovedSecurityOrigin(c.origin), c.approved) << c.base << " " << c.origin.description().toStdString();
    }
}

TEST_F(WebRules, originsReadAsPagesWriteThemAndTheSessionWatcherExpectsTheBaseURLs)
{
    const struct { const char *text; SecurityOrigin origin; const char *description; } origins[] = {
        {"http://127.0.0.1:8080", origin("http", "127.0.0.1", 8080), "http://127.0.0.1:8080"},
        {"https://vorlik.app", origin("https", "vorlik.app", 0), "https://vorlik.app"},
        {"http://vorlik.app:80", origin("http", "vorlik.app", 0), "http://vorlik.app"},
        {"https://localhost:8443", origin("https", "localhost", 8443), "https://localhost:8443"},
        {"file://", origin("file", "", 0), "file://"},
        {"null", {}, "null"},
    };
    for (const auto &c : origins) {
        const SecurityOrigin read = SecurityOrigin::fromText(latin(c.text));
        EXPECT_EQ(read, c.origin) << c.text;
        EXPECT_EQ(read.description(), latin(c.description));
    }
    const struct { const char *base, *expected; } bases[] = {{"https://vorlik.app", "https://vorlik.app"},
        {"http://127.0.0.1:8080/", "http://127.0.0.1:8080"}, {"http://127.0.0.1:8080/api/v2", "http://127.0.0.1:8080"},
        {"staging.vorlik.app", "https://vorlik.app"}};
    for (const auto &c : bases) {
        useBase(c.base);
        EXPECT_EQ(Coordinator::expectedOrigin(), latin(c.expected)) << c.base;
        EXPECT_TRUE(web::InjectedScripts::sessionWatcher(Coordinator::expectedOrigin())
                        .contains(QStringLiteral("var EXPECTED_ORIGIN = '") + latin(c.expected) + QStringLiteral("';\n")));
    }
}

TEST_F(WebRules, downloadsTakeTheFirstFreeNameAndSayTruthfullyWhyTheyBrokeOff)
{
    const struct { const char *suggested, *first, *second; } names[] = {
        {"report.pdf", "report.pdf", "report (1).pdf"}, {"notes", "notes", "notes (1)"},
        {"take.final.wav", "take.final.wav", "take.final (1).wav"}, {".profile", ".profile", ".profile (1)"},
        {"trailing.", "trailing.", "trailing. (1)"}, {"../../etc/passwd", "passwd", "passwd (1)"},
        {"", "download", "download (1)"}, {"..", "download", "download (1)"}, {"folder/", "download", "download (1)"},
    };
    for (const auto &c : names) {
        const QString name = web::DownloadDestination::fileName(latin(c.suggested));
        EXPECT_EQ(web::DownloadDestination::candidate(name, 0), latin(c.first)) << c.suggested;
        EXPECT_EQ(web::DownloadDestination::candidate(name, 1), latin(c.second)) << c.suggested;
    }

    const QDir folder(m_folder.filePath(QStringLiteral("Downloads")));
    const auto first = web::DownloadDestination::reserve(folder.path(), QStringLiteral("report.pdf"));
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, folder.filePath(QStringLiteral("report.pdf")));
    writeFile(*first, "the first report");
    QDir().mkpath(folder.filePath(QStringLiteral("report (1).pdf"))); // a folder of that name is taken too
    const auto second = web::DownloadDestination::reserve(folder.path(), QStringLiteral("report.pdf"));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(*second, folder.filePath(QStringLiteral("report (2).pdf")));
    EXPECT_EQ(readFile(*first), QByteArray("the first report"));
    EXPECT_TRUE(QFileInfo::exists(*second)); // held for the download until it is written
    // A Downloads folder that cannot be made gives no destination.
    writeFile(m_folder.filePath(QStringLiteral("plain-file")), "x");
    EXPECT_FALSE(web::DownloadDestination::reserve(m_folder.filePath(QStringLiteral("plain-file/Downloads")), QStringLiteral("a.pdf")));

    const struct { int reason; const char *engine, *said; } reasons[] = {
        {38, "Download canceled by the user", "The server sent less than it announced."},
        {22, "", "The network connection was lost."}, {40, "", "The download was cancelled."},
        {99, "Something new", "Something new"}, {99, "", "The download failed."}};
    for (const auto &c : reasons)
        EXPECT_EQ(web::DownloadInterruption::describe(c.reason, latin(c.engine)), latin(c.said)) << c.reason;
}

TEST_F(WebRules, scriptOutcomesTellErrorsFromValues)
{
    const web::ScriptOutcome failed = web::PageScript::outcomeOf(QVariantMap{{QStringLiteral("__vorlikScriptError"), QStringLiteral("TypeError: x")}});
    EXPECT_EQ(failed.error.value_or(QString()), QStringLiteral("TypeError: x"));
    const QVariantMap page{{QStringLiteral("__vorlikScriptError"), 1}, {QStringLiteral("other"), 2}};
    EXPECT_FALSE(web::PageScript::outcomeOf(page).error.has_value());
    EXPECT_EQ(web::PageScript::outcomeOf(page).value, QVariant(page));
    EXPECT_EQ(web::PageScript::outcomeOf(QVariant(true)).value, QVariant(true));
}

TEST_F(WebRules, webContentMayNotLoadTheProgramsResourcesOrLocalFiles)
{
    const struct { const char *request, *initiator; bool blocked; } cases[] = {
        {"qrc:///qtwebchannel/qwebchannel.js", "", true}, {"qrc:///qtwebchannel/qwebchannel.js", "http://127.0.0.1:8080", true},
        {"file:///etc/passwd", "http://127.0.0.1:8080", true}, {"file:///etc/passwd", "https://vorlik.app", true},
        {"file:///home/me/page.html", "", false},        // the application opens a local page
        {"file:///home/me/style.css", "file://", false}, // which loads its own files
        {"https://vorlik.app/correction", "http://127.0.0.1:8080", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(web::ResourceGuard::isBlocked(QUrl(latin(c.request)), QUrl(latin(c.initiator))), c.blocked) << c.request << " from " << c.initiator;
}

TEST_F(WebRules, droppedFoldersExpandToTheirVisibleRegularFilesTheBridgeTakes250MiBAndOnlyRequestsThatAcceptThemGetThem)
{
    const QDir root(m_folder.filePath(QStringLiteral("drop")));
    const auto at = [&](const char *path) { return QUrl::fromLocalFile(root.filePath(latin(path))); };
    for (const char *path : {"a.wav", "b/c.wav", "b/.hidden.wav", ".git/config", "Thing.app/Contents/inside.wav", "z.txt"}) {
        QDir().mkpath(QFileInfo(root.filePath(latin(path))).absolutePath());
        writeFile(root.filePath(latin(path)), path);
    }
    QFile::link(root.filePath(QStringLiteral("a.wav")), root.filePath(QStringLiteral("link.wav")));
    QFile::link(root.filePath(QStringLiteral("b")), root.filePath(QStringLiteral("loop")));

    const QList<QUrl> dropped{at("z.txt"), QUrl::fromLocalFile(root.path()), at("a.wav"), at("missing.wav"),
                              QUrl(QStringLiteral("https://vorlik.app/remote.wav")), at("link.wav")};
    // A link dropped by itself is taken as the file it is.
    const QList<QUrl> expected{at("z.txt"), at("a.wav"), at("b/c.wav"), at("link.wav")};
    EXPECT_EQ(Coordinator::expandToFiles(dropped, 2000), expected);
    EXPECT_EQ(Coordinator::expandToFiles(dropped, 2), expected.mid(0, 2));
    EXPECT_TRUE(Coordinator::expandToFiles({}, 2000).isEmpty());

    constexpr qint64 limit = 250 * 1024 * 1024;
    const auto sparse = [&](const char *name, qint64 size) {
        writeSparseFile(m_folder.filePath(latin(name)), size, "h", "t");
        return QUrl::fromLocalFile(m_folder.filePath(latin(name)));
    };
    const QUrl exact = sparse("exact.wav", limit), over = sparse("over.wav", limit + 1), half = sparse("half.wav", limit / 2);
    const QUrl byte = sparse("byte.wav", 2), missing = QUrl::fromLocalFile(m_folder.filePath(QStringLiteral("missing.wav")));
    const std::pair<QList<QUrl>, bool> drops[] = {{{}, true}, {{exact}, true}, {{over}, false}, {{half, half}, true}, {{half, half, byte}, false},
                                                  {{exact, missing}, true}}; // a size that cannot be read counts 0
    for (const auto &[files, fits] : drops)
        EXPECT_EQ(Coordinator::bridgeFits(files, Coordinator::bridgeByteLimit), fits) << files.size();

    const QUrl wav = QUrl::fromLocalFile(m_folder.filePath(QStringLiteral("Take 1.WAV")));
    const QUrl pdf = QUrl::fromLocalFile(m_folder.filePath(QStringLiteral("notes.pdf")));
    const QUrl bare = QUrl::fromLocalFile(m_folder.filePath(QStringLiteral("README")));
    using Mode = QWebEnginePage::FileSelectionMode;
    const Mode many = Mode::FileSelectOpenMultiple;
    const QStringList pdfs{QStringLiteral(".pdf"), QStringLiteral("application/pdf")};
    const struct { Mode mode; QStringList accepted; QList<QUrl> files; bool admitted; } requests[] = {
        {many, {}, {wav, pdf}, true}, {Mode::FileSelectOpen, {}, {wav}, true},
        {Mode::FileSelectOpen, {}, {wav, pdf}, false}, // one file asked for, two dropped
        {Mode::FileSelectSave, {}, {wav}, false}, {Mode::FileSelectUploadFolder, {}, {wav}, false}, {many, {}, {}, false},
        {many, pdfs, {wav}, false}, {many, pdfs, {pdf}, true},
        {many, {QStringLiteral(".wav")}, {wav, pdf}, false}, {many, {QStringLiteral(".wav")}, {wav}, true},
        {many, {QStringLiteral("audio/*")}, {wav}, true}, {many, {QStringLiteral("audio/wav")}, {wav}, true}, // an alias of audio/x-wav
        {many, {QStringLiteral("video/*")}, {wav}, false}, {many, {QStringLiteral("application/*")}, {wav}, false},
        {many, {QStringLiteral("audio/*")}, {bare}, false}, {many, {QString()}, {bare}, true},
    };
    for (const auto &c : requests)
        EXPECT_EQ(web::FileChooserRequest(c.mode, c.accepted).admits(c.files), c.admitted)
            << int(c.mode) << " " << c.accepted.join(QLatin1Char(',')).toStdString() << " files=" << c.files.size();
}

} // namespace

#include "platform/ServiceConfig.h"
#include "service/APIClient.h"
#include "tests/support/TestFiles.h"
#include "tests/update/UpdateFixture.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSignalSpy>

using vorlik::platform::ServiceConfig;
using namespace vorlik::update;
namespace test = vorlik::test;

namespace {

const QString digest = QString(64, u'a');
const QString attemptKey = QStringLiteral("lastUpdateCheckAttempt");
const QString successKey = QStringLiteral("lastUpdateCheckSuccess");

QByteArray manifestJSON(const QString &version, qint64 build, const std::optional<QString> &dmg = std::nullopt,
                        const QString &sha = digest)
{
    const QString image = dmg.value_or(test::updateURL(QStringLiteral("image.tar.gz")).toString());
    return QJsonDocument(QJsonObject{{"version", version}, {"build", build}, {"dmg", image}, {"sha256", sha},
                                     {"notes", "What is new"}})
        .toJson();
}

class UpdateCheckTest : public test::ManagerTest {
protected:
    void SetUp() override
    {
        ManagerTest::SetUp();
        ServiceConfig::setCurrentForTesting(QUrl(QStringLiteral("https://vorlik.test")));
    }
    void TearDown() override
    {
        ServiceConfig::setCurrentForTesting({});
        ManagerTest::TearDown();
    }

    static vorlik::platform::Settings &settings() { return vorlik::platform::Settings::standard(); }
    static bool succeeded() { return settings().date(successKey).has_value(); }
    UpdatePhase check() { return test::run(m_manager.check()); }
    // A first check finds 1.3 (build 30), so that what a later one keeps or clears shows.
    void findUpdate()
    {
        test::writeLatest(manifestJSON(QStringLiteral("1.3"), 30));
        ASSERT_EQ(check().kind, UpdatePhase::Kind::available);
        settings().remove(successKey);
        test::takeUpdateLogLines();
    }
    static int manifestRequests() { return test::updateRequestsUnder(QStringLiteral("/tools/desktop/latest.json")); }
};

TEST_F(UpdateCheckTest, OffersOnlyANewerVersionOrBuildThanTheRunning_1_2_24_Build27)
{
    const std::tuple<const char *, qint64, bool> table[]{{"1.2.24", 27, false}, {"1.2.24", 28, true},
                                                         {"1.2.23", 99, false}, {"1.3", 1, true},
                                                         {"01.002.0024", 27, false}, {"1.2.24", 26, false}};
    for (const auto &[text, build, newer] : table) {
        const QString version = QString::fromLatin1(text);
        SCOPED_TRACE(version.toStdString() + " build " + std::to_string(build));
        settings().remove(attemptKey);
        settings().remove(successKey);
        const QByteArray json = manifestJSON(version, build);
        test::writeLatest(json);
        EXPECT_EQ(check(), newer ? UpdatePhase::available(Manifest::fromJSON(json)) : UpdatePhase::upToDate());
        EXPECT_TRUE(succeeded());
        EXPECT_TRUE(settings().date(attemptKey).has_value());
        EXPECT_EQ(m_manager.updateAvailable(), newer);
        EXPECT_EQ(m_manager.latestVersion(), newer ? std::optional(version) : std::nullopt);
        EXPECT_EQ(m_manager.canDownload(), newer);
        EXPECT_EQ(m_manager.statusText(), newer ? QStringLiteral("%1 (build %2) is available — you have 1.2.24").arg(version).arg(build)
                                                : QStringLiteral("You're up to date — 1.2.24"));
        EXPECT_EQ(m_manager.notes(), newer ? QStringLiteral("What is new") : QString());
    }
}

TEST_F(UpdateCheckTest, AMalformedVersionClearsAnEarlierFindAndAnUntrustworthyDescriptionChangesNothing)
{
    const QString server = test::updateURL(QStringLiteral("x.tar.gz")).toString();
    const UpdatePhase invalid = UpdatePhase::error(QStringLiteral("The update server sent an invalid update description."));
    const std::tuple<const char *, qint64, QString, QString, UpdatePhase> table[]{
        {"1.2.24.1", 99, "http://bad", "x", UpdatePhase::upToDate()}, {"", 99, "http://bad", "x", UpdatePhase::upToDate()},
        {"1.2.24-beta", 99, "http://bad", "x", UpdatePhase::upToDate()}, {"1.4", 30, server, QString(63, u'a'), invalid},
        {"1.4", 30, server, QString(63, u'a') + u'g', invalid}, {"1.4", 0, server, digest, invalid},
        {"1.4", 30, "http://127.0.0.1/tools/desktop/x.tar.gz", digest, invalid},
        {"1.4", 30, "https://downloads.example.com/x.tar.gz", digest, invalid},
        {"1.4", 30, "https://localhost/x.tar.gz", digest, invalid}, // the same machine under another name
        {"1.4", 30, "https://Vorlik.test/x.tar.gz", digest, invalid}, // as written, not as a URL parser normalises it
        {"1.4", 30, "https:///x.tar.gz", digest, invalid}, {"1.4", 30, "https://exa mple.com/x", digest, invalid},
        {"1.4", 30, "", digest, invalid}};
    for (const auto &[version, build, dmg, sha256, expected] : table) {
        SCOPED_TRACE(std::string(version) + " " + dmg.toStdString() + " " + sha256.toStdString() + " " + std::to_string(build));
        findUpdate();
        test::writeLatest(manifestJSON(QString::fromUtf8(version), build, dmg, sha256));
        EXPECT_EQ(check(), expected);
        EXPECT_EQ(m_manager.updateAvailable(), expected == invalid);
        EXPECT_EQ(m_manager.latestVersion(), expected == invalid ? std::optional(QStringLiteral("1.3")) : std::nullopt);
        EXPECT_FALSE(succeeded());
    }
}

TEST_F(UpdateCheckTest, TheImageMayComeFromTheManifestsHostOrTheServicesAsWritten)
{
    const QUrl manifest(QStringLiteral("https://updates.example.org/latest.json"));
    for (const char *url : {"https://updates.example.org/v.tar.gz", "https://vorlik.test/v.tar.gz", "https://www.vorlik.test/v.tar.gz",
                            "https://updates.example.org:8443/v.tar.gz", "https://someone@vorlik.test/v.tar.gz"})
        EXPECT_TRUE(UpdateManager::isAllowedDownloadURL(QString::fromLatin1(url), manifest)) << url;
    // The scheme and the host as the manifest writes them: a URL parser lower-cases both.
    for (const char *url : {"https://cdn.vorlik.test/v.tar.gz", "http://vorlik.test/v.tar.gz", "ftp://vorlik.test/v.tar.gz",
                            "https://example.org/v.tar.gz", "/relative/v.tar.gz", "HTTPS://vorlik.test/v.tar.gz",
                            "Https://updates.example.org/v.tar.gz", "https://VORLIK.test/v.tar.gz",
                            "https://Updates.Example.org/v.tar.gz", "https://vorlik%2Etest/v.tar.gz",
                            "https://vorlik.test./v.tar.gz", "https://updates.example.org@evil.example/v.tar.gz"})
        EXPECT_FALSE(UpdateManager::isAllowedDownloadURL(QString::fromLatin1(url), manifest)) << url;
}

TEST_F(UpdateCheckTest, ServerFailuresBecomeTheCheckErrorAndKeepTheLastFind)
{
    const QString unavailable = QStringLiteral("The update server is unavailable.");
    const QString latest = QStringLiteral("/tools/desktop/latest.json");
    const std::pair<QJsonObject, QString> cases[]{
        {{{"path", latest}, {"action", "status"}, {"status", 503}}, unavailable},
        {{{"path", latest}, {"action", "status"}, {"status", 302}}, unavailable},
        {{{"path", latest}, {"action", "malformed"}}, QStringLiteral("The data couldn’t be read because it isn’t in the correct format.")},
        {{{"path", latest}, {"action", "status"}, {"status", 200}, {"body", R"({"version":"1.3"})"}},
         QStringLiteral("The data couldn’t be read because it is missing.")},
    };
    findUpdate();
    for (const auto &[fault, expected] : cases) {
        test::updateServer().reset();
        test::updateServer().addFault(fault);
        EXPECT_EQ(check(), UpdatePhase::error(expected));
        EXPECT_EQ(m_manager.statusText(), expected);
        EXPECT_TRUE(m_manager.updateAvailable());
        EXPECT_EQ(m_manager.latestVersion(), QStringLiteral("1.3"));
        EXPECT_FALSE(succeeded());
    }

    settings().setValue(QStringLiteral("updateManifestURL"), QStringLiteral("https://127.0.0.1:1/latest.json"));
    const UpdatePhase refused = check();
    EXPECT_EQ(refused.kind, UpdatePhase::Kind::error);
    EXPECT_TRUE(refused.message.contains(QStringLiteral("refused"), Qt::CaseInsensitive)) << refused.message.toStdString();
}

TEST_F(UpdateCheckTest, TheManifestLocationFollowsTheOverrideWhenItParses)
{
    settings().setValue(QStringLiteral("updateManifestURL"), QStringLiteral("::: not a url :::"));
    EXPECT_EQ(m_manager.manifestURL(), vorlik::service::APIClient::url(QStringLiteral("/tools/desktop/latest.json")));
    // The same server under another name: the image must then come from that name.
    QUrl byName = test::updateURL(QStringLiteral("latest.json"));
    byName.setHost(QStringLiteral("localhost"));
    settings().setValue(QStringLiteral("updateManifestURL"), byName.toString());
    EXPECT_EQ(m_manager.manifestURL(), byName);
    test::writeLatest(manifestJSON(QStringLiteral("1.3"), 30));
    EXPECT_EQ(check().kind, UpdatePhase::Kind::error); // the image is on 127.0.0.1, not localhost
    test::writeLatest(manifestJSON(QStringLiteral("1.3"), 30, byName.resolved(QUrl(QStringLiteral("image.tar.gz"))).toString()));
    EXPECT_EQ(check().kind, UpdatePhase::Kind::available);
    EXPECT_TRUE(test::updateServer().requests().last()["headers"]["Host"].toString().startsWith(QStringLiteral("localhost")));
}

TEST_F(UpdateCheckTest, ACheckWhileDownloadingChangesNothing)
{
    // A download that hangs on the server keeps the phase at downloading(0.0).
    test::writeFile(test::updatesFolder() + QStringLiteral("/slow.bin"), QByteArray(1000, 'x'));
    test::updateServer().addFault({{"path", "/tools/desktop/slow.bin"}, {"action", "delay"}, {"delay_ms", 1500}});
    QCoro::Task<void> downloading = m_manager.download(test::manifestFor(QStringLiteral("slow.bin")));
    ASSERT_EQ(m_manager.phase(), UpdatePhase::downloading(0.0));
    const int requestsBefore = manifestRequests();

    EXPECT_EQ(check(), UpdatePhase::downloading(0.0));
    EXPECT_EQ(manifestRequests(), requestsBefore);
    EXPECT_FALSE(settings().contains(attemptKey));
    test::run(std::move(downloading));
    EXPECT_EQ(m_manager.phase().kind, UpdatePhase::Kind::downloaded);
}

TEST_F(UpdateCheckTest, TheAutomaticCheckIsThrottledByTheLastAttemptAndSuccessAndNeverShowsTheSheet)
{
    const auto autoCheckAsks = [&] {
        const int before = manifestRequests();
        m_manager.autoCheck();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !m_manager.phase().is(UpdatePhase::Kind::checking); }, 60000));
        return manifestRequests() > before;
    };
    const auto storedAgo = [](const QString &key, std::optional<qint64> seconds) {
        seconds ? settings().setValue(key, QDateTime::currentDateTimeUtc().addSecs(-*seconds)) : settings().remove(key);
    };
    test::writeLatest(manifestJSON(QStringLiteral("1.3"), 30));
    // Stored values that are not dates count as absent: the check runs, and is on record.
    settings().setValue(attemptKey, QStringLiteral("yesterday"));
    settings().setValue(successKey, 42);
    QSignalSpy sheet(&m_manager, &UpdateManager::showSheetChanged);
    EXPECT_TRUE(autoCheckAsks());
    EXPECT_TRUE(m_manager.updateAvailable());
    EXPECT_EQ(m_manager.latestVersion(), QStringLiteral("1.3"));
    EXPECT_EQ(sheet.count(), 0);
    EXPECT_FALSE(autoCheckAsks());

    const std::tuple<const char *, std::optional<qint64>, std::optional<qint64>, bool> cases[]{
        {"attempt an hour ago", 3600, std::nullopt, false}, {"attempt just under 6 hours ago", 21590, std::nullopt, false},
        {"attempt over 6 hours ago", 21700, std::nullopt, true}, {"success 23 hours ago, attempt long ago", 200000, 82800, false},
        {"success 25 hours ago, attempt 7 hours ago", 25200, 90000, true}, {"attempt in the future", -7200, std::nullopt, false},
        {"success in the future", std::nullopt, -7200, false}};
    for (const auto &[name, attemptAgo, successAgo, asks] : cases) {
        SCOPED_TRACE(name);
        storedAgo(attemptKey, attemptAgo);
        storedAgo(successKey, successAgo);
        EXPECT_EQ(autoCheckAsks(), asks);
    }
}

constexpr qint64 imageBytes = 3 * 1048576 + 12345; // not a whole number of blocks
const QString imageName = QStringLiteral("image.tar.gz");

class UpdateDownloadTest : public test::ManagerTest {
protected:
    static void SetUpTestSuite()
    {
        QByteArray bytes(imageBytes, Qt::Uninitialized);
        QRandomGenerator generator(11);
        for (char &byte : bytes)
            byte = char(generator.generate() & 0xff);
        test::writeFile(image(), bytes);
    }

    static QString image() { return test::updatesFolder() + u'/' + imageName; }
    static Manifest corrupted(Manifest manifest) { manifest.sha256[0] = manifest.sha256[0] == u'0' ? u'1' : u'0'; return manifest; }
    static QStringList leftovers() { return test::tempEntries(QStringLiteral("vorlik-update-")); }
    void download(const Manifest &manifest) { m_phases.clear(); test::run(m_manager.download(manifest)); }
};

TEST_F(UpdateDownloadTest, StreamsTheImageWithProgressVerifiesItAndKeepsOnlyTheImageThePhaseNamesWithOrWithoutALength)
{
    const Manifest manifest = test::manifestFor(imageName);
    EXPECT_EQ(manifest.sha256, QCryptographicHash::hash(test::readFile(image()), QCryptographicHash::Sha256).toHex());
    download(manifest);

    const UpdatePhase done = m_manager.phase();
    ASSERT_EQ(done.kind, UpdatePhase::Kind::downloaded) << done.debugText().toStdString();
    EXPECT_EQ(done.manifest, manifest);
    EXPECT_EQ(leftovers(), QStringList{QFileInfo(done.path).fileName()});
    EXPECT_TRUE(done.path.endsWith(QStringLiteral(".dmg")));
    EXPECT_EQ(QFileInfo(done.path).absolutePath(), QDir(m_temp.path()).absolutePath());
    EXPECT_EQ(test::readFile(done.path), test::readFile(image()));
    EXPECT_TRUE(m_manager.canInstall());
    EXPECT_EQ(test::takeUpdateLogLines(), QStringList{QStringLiteral("downloaded + SHA-256 verified: ") + done.path});

    // downloading(0.0) first, then one report per 256 KiB block, 1.0, and done.
    QList<UpdatePhase> expected{UpdatePhase::downloading(0.0)};
    for (qint64 received = 262144; received < imageBytes; received += 262144)
        expected << UpdatePhase::downloading(double(received) / double(imageBytes));
    EXPECT_EQ(m_phases, expected << UpdatePhase::downloading(1.0) << done);

    // A second download replaces the first image, and a failed one after it leaves nothing.
    download(manifest);
    ASSERT_EQ(m_manager.phase().kind, UpdatePhase::Kind::downloaded);
    EXPECT_NE(m_manager.phase().path, done.path);
    EXPECT_EQ(leftovers(), QStringList{QFileInfo(m_manager.phase().path).fileName()});
    download(corrupted(manifest));
    EXPECT_EQ(m_manager.phase().kind, UpdatePhase::Kind::error);
    EXPECT_EQ(leftovers(), QStringList());

    for (const QString &mode : {QStringLiteral("no_length=1"), QStringLiteral("no_length=close")}) {
        SCOPED_TRACE(mode.toStdString());
        download(test::manifestFor(imageName, mode));
        ASSERT_EQ(m_manager.phase().kind, UpdatePhase::Kind::downloaded) << m_manager.phase().debugText().toStdString();
        EXPECT_EQ(test::readFile(m_manager.phase().path), test::readFile(image()));
        // Without a length there is nothing to measure against: 0.0 until the end.
        EXPECT_EQ(m_phases, (QList<UpdatePhase>{UpdatePhase::downloading(0.0), m_manager.phase()}));
    }
}

TEST_F(UpdateDownloadTest, LinksThatMayNotBeFollowedNeverStartADownloadTheDigestDecidesAndAFailedOneLeavesNoFile)
{
    for (const QString &link : {QStringLiteral("http://127.0.0.1/tools/desktop/image.tar.gz"),
                                QStringLiteral("https://downloads.example.com/image.tar.gz"),
                                QStringLiteral("https://exa mple.com/x"), QString(), imageName}) {
        Manifest manifest = test::manifestFor(imageName);
        manifest.dmg = link;
        download(manifest);
        EXPECT_EQ(m_manager.phase(), UpdatePhase::error(QStringLiteral("The update link is invalid."))) << link.toStdString();
        EXPECT_FALSE(m_phases.contains(UpdatePhase::downloading(0.0))) << link.toStdString();
    }
    EXPECT_EQ(test::updateRequestsUnder(QStringLiteral("/tools/desktop/")), 0);
    EXPECT_EQ(leftovers(), QStringList());

    Manifest upper = test::manifestFor(imageName);
    upper.sha256 = upper.sha256.toUpper();
    download(upper);
    EXPECT_EQ(m_manager.phase().kind, UpdatePhase::Kind::downloaded);

    const QString digestFailed = QStringLiteral("The download failed its SHA-256 check.");
    Manifest unreachable = test::manifestFor(imageName);
    unreachable.dmg = QStringLiteral("https://127.0.0.1:1/tools/desktop/image.tar.gz");
    const std::tuple<Manifest, int, QString> cases[] = {
        {corrupted(test::manifestFor(imageName)), 0, digestFailed},
        // A body that ends with the connection cannot be told from a complete one: the digest can.
        {test::manifestFor(imageName, QStringLiteral("no_length=close&truncate=1000000")), 0, digestFailed},
        {test::manifestFor(QStringLiteral("no-such-image.tar.gz")), 0, digestFailed},
        // Also the statuses Qt files under codes of its own (an invalid operation, a proxy's demand).
        {test::manifestFor(imageName), 400, digestFailed}, {test::manifestFor(imageName), 407, digestFailed},
        {test::manifestFor(imageName), 418, digestFailed}, {test::manifestFor(imageName), 500, digestFailed},
        // A partial file's name is known to no one else: left here, it would stay forever.
        {test::manifestFor(imageName, QStringLiteral("truncate=1000000")), 0, QStringLiteral("Download failed: ")},
        {unreachable, 0, QStringLiteral("Download failed: Connection refused")},
    };
    for (const auto &[manifest, status, failure] : cases) {
        SCOPED_TRACE(manifest.dmg.toStdString() + " status " + std::to_string(status));
        if (status)
            test::updateServer().addFault({{"path", "/tools/desktop/image.tar.gz"}, {"action", "status"}, {"status", status}});
        download(manifest);
        EXPECT_EQ(m_manager.phase().kind, UpdatePhase::Kind::error);
        EXPECT_TRUE(m_manager.statusText().startsWith(failure)) << m_manager.statusText().toStdString();
        EXPECT_EQ(leftovers(), QStringList());
    }
    // Nor is one left for a caller of the download alone.
    EXPECT_THROW(test::run(UpdateManager::download(QUrl(test::manifestFor(imageName, QStringLiteral("truncate=300000")).dmg),
                                                   [](double) {})),
                 vorlik::Failure);
    EXPECT_EQ(leftovers(), QStringList());

    qputenv("TMPDIR", QFile::encodeName(m_temp.filePath(QStringLiteral("missing/folder"))));
    download(test::manifestFor(imageName));
    EXPECT_TRUE(m_manager.phase().message.startsWith(QStringLiteral("Download failed: Could not create ")))
        << m_manager.phase().debugText().toStdString();
}

TEST_F(UpdateDownloadTest, AShortBodyOverPlainHttpIsAFailedDownloadToo)
{
    // Qt does not always report a plain connection that closes early; the length check does.
    test::DevServer plain({QStringLiteral("--updates"), test::updatesFolder()});
    const QUrl url = plain.baseUrl().resolved(QUrl(QStringLiteral("/tools/desktop/image.tar.gz?truncate=1000000")));
    QString failure = QStringLiteral("(none: a short body passed)");
    try {
        test::run(UpdateManager::download(url, [](double) {}));
    } catch (const vorlik::Failure &error) {
        failure = error.description();
    }
    EXPECT_TRUE(failure == QStringLiteral("The connection closed after 1000000 of %1 bytes.").arg(imageBytes)
                || failure == QStringLiteral("Connection closed")) << failure.toStdString();
    EXPECT_THROW(UpdateManager::sha256(m_temp.filePath(QStringLiteral("missing"))), vorlik::Failure);
}

} // namespace

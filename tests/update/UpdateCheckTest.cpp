// The update check against the stand-in service over HTTPS: the version table, malformed and
// untrustworthy descriptions, server failures, the manifest location and the throttle.
#include "app/ActiveJobs.h"
#include "platform/ServiceConfig.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "tests/support/TestFiles.h"
#include "tests/update/UpdateFixture.h"
#include "update/UpdateManager.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

using vorlik::app::ActiveJobs;
using vorlik::platform::ServiceConfig;
using vorlik::platform::Settings;
using vorlik::update::Manifest;
using vorlik::update::UpdateManager;
using vorlik::update::UpdatePhase;
namespace test = vorlik::test;

namespace {

const QString digest = QString(64, u'a');

QByteArray manifestJSON(const QString &version, qint64 build, const std::optional<QString> &dmg = std::nullopt,
                        const QString &sha = digest)
{
    const QString image = dmg.value_or(test::imageURL(QStringLiteral("image.tar.gz")).toString());
    return QJsonDocument(QJsonObject{{QStringLiteral("version"), version},
                                     {QStringLiteral("build"), build},
                                     {QStringLiteral("dmg"), image},
                                     {QStringLiteral("sha256"), sha},
                                     {QStringLiteral("notes"), QStringLiteral("What is new")}})
        .toJson();
}

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::updateServer().reset();
        test::updateServer().useAsService();
        for (const char *key : {"updateManifestURL", "lastUpdateCheckAttempt", "lastUpdateCheckSuccess"})
            settings().remove(QString::fromLatin1(key));
        ServiceConfig::setCurrentForTesting(QUrl(QStringLiteral("https://vorlik.test")));
        test::takeUpdateLogLines();
        m_manager.setCurrentAppForTesting(QStringLiteral("/Applications/Vorlik Desktop.app")); // a copy that updates itself
    }
    void TearDown() override { ServiceConfig::setCurrentForTesting({}); }

    static Settings &settings() { return Settings::standard(); }
    UpdatePhase check() { return test::run(m_manager.check()); }
    int manifestRequests() const
    {
        int count = 0;
        for (const QJsonValue &entry : test::updateServer().requests())
            count += entry.toObject().value(QStringLiteral("path")).toString() == QLatin1String("/tools/desktop/latest.json");
        return count;
    }

    ActiveJobs m_jobs;
    UpdateManager m_manager{Settings::standard(), m_jobs};
};

struct Remote {
    const char *version;
    qint64 build;
    bool newer;
};

class VersionTable : public UpdateCheckTest, public ::testing::WithParamInterface<Remote> {};

TEST_P(VersionTable, DecidesWhetherAnUpdateIsOffered)
{
    const Remote remote = GetParam();
    const QString version = QString::fromLatin1(remote.version);
    test::writeLatest(manifestJSON(version, remote.build));

    const UpdatePhase phase = check();

    EXPECT_EQ(phase, m_manager.phase());
    EXPECT_TRUE(settings().date(QStringLiteral("lastUpdateCheckSuccess")).has_value());
    EXPECT_TRUE(settings().date(QStringLiteral("lastUpdateCheckAttempt")).has_value());
    if (remote.newer) {
        ASSERT_EQ(phase.kind, UpdatePhase::Kind::available) << phase.debugText().toStdString();
        EXPECT_EQ(phase.manifest.version, version);
        EXPECT_EQ(phase.manifest.build, remote.build);
        EXPECT_TRUE(m_manager.updateAvailable());
        EXPECT_EQ(m_manager.latestVersion(), version);
        EXPECT_EQ(m_manager.statusText(), version + QStringLiteral(" (build ") + QString::number(remote.build)
                                              + QStringLiteral(") is available — you have 1.2.24"));
        EXPECT_EQ(m_manager.notes(), QStringLiteral("What is new"));
        EXPECT_TRUE(m_manager.canDownload());
        EXPECT_EQ(test::takeUpdateLogLines(),
                  QStringList{QStringLiteral("update available: %1 (build %2) vs current 1.2.24 (27)")
                                  .arg(version).arg(remote.build)});
    } else {
        EXPECT_EQ(phase, UpdatePhase::upToDate()) << phase.debugText().toStdString();
        EXPECT_FALSE(m_manager.updateAvailable());
        EXPECT_EQ(m_manager.latestVersion(), std::nullopt);
        EXPECT_EQ(m_manager.statusText(), QStringLiteral("You're up to date — 1.2.24"));
        EXPECT_EQ(test::takeUpdateLogLines(),
                  QStringList{QStringLiteral("up to date (%1 build %2)").arg(version).arg(remote.build)});
    }
}

INSTANTIATE_TEST_SUITE_P(AgainstTheRunning_1_2_24_Build27, VersionTable,
                         ::testing::Values(Remote{"1.2.24", 27, false}, Remote{"1.2.24", 28, true},
                                           Remote{"1.2.23", 99, false}, Remote{"1.3", 1, true},
                                           Remote{"01.002.0024", 27, false}, Remote{"1.2.24", 26, false}));

class MalformedVersion : public UpdateCheckTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(MalformedVersion, IsIgnoredAsUpToDate)
{
    // A previous check had found an update; a malformed answer clears it.
    test::writeLatest(manifestJSON(QStringLiteral("1.3"), 30));
    ASSERT_EQ(check().kind, UpdatePhase::Kind::available);
    settings().remove(QStringLiteral("lastUpdateCheckSuccess"));
    test::takeUpdateLogLines();

    test::writeLatest(manifestJSON(QString::fromUtf8(GetParam()), 99, QStringLiteral("http://bad"), QStringLiteral("x")));
    EXPECT_EQ(check(), UpdatePhase::upToDate());
    EXPECT_FALSE(m_manager.updateAvailable());
    EXPECT_EQ(m_manager.latestVersion(), std::nullopt);
    EXPECT_FALSE(settings().date(QStringLiteral("lastUpdateCheckSuccess")).has_value());
    EXPECT_EQ(test::takeUpdateLogLines(), QStringList{QStringLiteral("manifest version is malformed — ignored")});
}

INSTANTIATE_TEST_SUITE_P(Texts, MalformedVersion,
                         ::testing::Values("1.2.24.1", "", "1.2.24-beta"));

struct Untrusted {
    const char *name;
    qint64 build;
    QString dmg;
    QString sha256;
};

class InvalidDescription : public UpdateCheckTest, public ::testing::WithParamInterface<Untrusted> {};

TEST_P(InvalidDescription, IsAnErrorThatChangesNothingElse)
{
    test::writeLatest(manifestJSON(QStringLiteral("1.3"), 30));
    ASSERT_EQ(check().kind, UpdatePhase::Kind::available);
    settings().remove(QStringLiteral("lastUpdateCheckSuccess"));

    const Untrusted &item = GetParam();
    const QString dmg = item.dmg == QLatin1String("server") ? test::imageURL(QStringLiteral("x.tar.gz")).toString() : item.dmg;
    test::writeLatest(manifestJSON(QStringLiteral("1.4"), item.build, dmg, item.sha256));
    EXPECT_EQ(check(), UpdatePhase::error(QStringLiteral("The update server sent an invalid update description.")));
    EXPECT_TRUE(m_manager.updateAvailable());
    EXPECT_EQ(m_manager.latestVersion(), QStringLiteral("1.3"));
    EXPECT_FALSE(settings().date(QStringLiteral("lastUpdateCheckSuccess")).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Table, InvalidDescription,
    ::testing::Values(Untrusted{"digest63", 30, "server", QString(63, u'a')},
                      Untrusted{"digestWithG", 30, "server", QString(63, u'a') + u'g'},
                      Untrusted{"buildZero", 0, "server", digest},
                      Untrusted{"plainHttp", 30, "http://127.0.0.1/tools/desktop/x.tar.gz", digest},
                      Untrusted{"foreignHost", 30, "https://downloads.example.com/x.tar.gz", digest},
                      Untrusted{"otherNameOfTheSameMachine", 30, "https://localhost/x.tar.gz", digest},
                      Untrusted{"noHost", 30, "https:///x.tar.gz", digest},
                      // As written, not as a URL parser normalises it.
                      Untrusted{"upperCaseHost", 30, "https://Vorlik.test/x.tar.gz", digest},
                      Untrusted{"unparsable", 30, "https://exa mple.com/x", digest},
                      Untrusted{"emptyLink", 30, "", digest}),
    [](const ::testing::TestParamInfo<Untrusted> &info) { return std::string(info.param.name); });

TEST_F(UpdateCheckTest, TheServicesOwnHostsAreAllowedBesideTheManifestsHost)
{
    const QUrl manifest(QStringLiteral("https://updates.example.org/latest.json"));
    const auto allowed = [&](const char *url) { return UpdateManager::isAllowedDownloadURL(QString::fromLatin1(url), manifest); };
    EXPECT_TRUE(allowed("https://updates.example.org/v.tar.gz"));
    EXPECT_TRUE(allowed("https://vorlik.test/v.tar.gz"));
    EXPECT_TRUE(allowed("https://www.vorlik.test/v.tar.gz"));
    EXPECT_TRUE(allowed("https://updates.example.org:8443/v.tar.gz"));
    EXPECT_TRUE(allowed("https://someone@vorlik.test/v.tar.gz"));
    EXPECT_FALSE(allowed("https://cdn.vorlik.test/v.tar.gz"));
    EXPECT_FALSE(allowed("http://vorlik.test/v.tar.gz"));
    EXPECT_FALSE(allowed("ftp://vorlik.test/v.tar.gz"));
    EXPECT_FALSE(allowed("https://example.org/v.tar.gz"));
    EXPECT_FALSE(allowed("/relative/v.tar.gz"));
    // The scheme and the host as the manifest writes them: a URL parser lower-cases both.
    EXPECT_FALSE(allowed("HTTPS://vorlik.test/v.tar.gz"));
    EXPECT_FALSE(allowed("Https://updates.example.org/v.tar.gz"));
    EXPECT_FALSE(allowed("https://VORLIK.test/v.tar.gz"));
    EXPECT_FALSE(allowed("https://Updates.Example.org/v.tar.gz"));
    EXPECT_FALSE(allowed("https://vorlik%2Etest/v.tar.gz"));
    EXPECT_FALSE(allowed("https://vorlik.test./v.tar.gz"));
    EXPECT_FALSE(allowed("https://updates.example.org@evil.example/v.tar.gz"));
}

TEST_F(UpdateCheckTest, ServerFailuresBecomeTheCheckError)
{
    struct Case {
        QJsonObject fault;
        QString expected;
    };
    const QList<Case> cases{
        {{{QStringLiteral("action"), QStringLiteral("status")}, {QStringLiteral("status"), 503}},
         QStringLiteral("The update server is unavailable.")},
        {{{QStringLiteral("action"), QStringLiteral("status")}, {QStringLiteral("status"), 302}},
         QStringLiteral("The update server is unavailable.")},
        {{{QStringLiteral("action"), QStringLiteral("malformed")}},
         QStringLiteral("The data couldn’t be read because it isn’t in the correct format.")},
        {{{QStringLiteral("action"), QStringLiteral("status")}, {QStringLiteral("status"), 200},
          {QStringLiteral("body"), QStringLiteral(R"({"version":"1.3"})")}},
         QStringLiteral("The data couldn’t be read because it is missing.")},
    };
    test::writeLatest(manifestJSON(QStringLiteral("1.3"), 30));
    ASSERT_EQ(check().kind, UpdatePhase::Kind::available);
    for (const Case &item : cases) {
        test::updateServer().reset();
        settings().remove(QStringLiteral("lastUpdateCheckSuccess"));
        test::takeUpdateLogLines();
        QJsonObject fault = item.fault;
        fault.insert(QStringLiteral("path"), QStringLiteral("/tools/desktop/latest.json"));
        test::updateServer().addFault(fault);
        EXPECT_EQ(check(), UpdatePhase::error(item.expected));
        EXPECT_EQ(m_manager.statusText(), item.expected);
        EXPECT_EQ(test::takeUpdateLogLines(), QStringList{QStringLiteral("check failed: ") + item.expected});
        // The last successful check still stands.
        EXPECT_TRUE(m_manager.updateAvailable());
        EXPECT_EQ(m_manager.latestVersion(), QStringLiteral("1.3"));
        EXPECT_FALSE(settings().date(QStringLiteral("lastUpdateCheckSuccess")).has_value());
    }
}

TEST_F(UpdateCheckTest, AMissingDescriptionAndAnUnreachableServer)
{
    QFile::remove(test::updatesFolder() + QStringLiteral("/latest.json"));
    EXPECT_EQ(check(), UpdatePhase::error(QStringLiteral("The update server is unavailable.")));

    settings().setValue(QStringLiteral("updateManifestURL"), QStringLiteral("https://127.0.0.1:1/latest.json"));
    const UpdatePhase refused = check();
    EXPECT_EQ(refused.kind, UpdatePhase::Kind::error);
    EXPECT_TRUE(refused.message.contains(QStringLiteral("refused"), Qt::CaseInsensitive)) << refused.message.toStdString();
}

TEST_F(UpdateCheckTest, TheManifestLocationFollowsTheOverrideWhenItParses)
{
    EXPECT_EQ(m_manager.manifestURL(), vorlik::service::APIClient::url(QStringLiteral("/tools/desktop/latest.json")));
    EXPECT_EQ(m_manager.manifestURL().path(), QStringLiteral("/tools/desktop/latest.json"));

    settings().setValue(QStringLiteral("updateManifestURL"), QStringLiteral("::: not a url :::"));
    EXPECT_EQ(m_manager.manifestURL(), vorlik::service::APIClient::url(QStringLiteral("/tools/desktop/latest.json")));

    // The same server under another name: the image must then come from that name.
    QUrl byName = test::updateServer().baseUrl();
    byName.setHost(QStringLiteral("localhost"));
    byName.setPath(QStringLiteral("/tools/desktop/latest.json"));
    settings().setValue(QStringLiteral("updateManifestURL"), byName.toString());
    EXPECT_EQ(m_manager.manifestURL(), byName);
    test::writeLatest(manifestJSON(QStringLiteral("1.3"), 30));
    EXPECT_EQ(check().kind, UpdatePhase::Kind::error); // the image is on 127.0.0.1, not localhost
    QUrl image = byName;
    image.setPath(QStringLiteral("/tools/desktop/image.tar.gz"));
    test::writeLatest(manifestJSON(QStringLiteral("1.3"), 30, image.toString()));
    EXPECT_EQ(check().kind, UpdatePhase::Kind::available);
    const QJsonObject last = test::updateServer().requests().last().toObject();
    EXPECT_TRUE(last.value(QStringLiteral("headers")).toObject().value(QStringLiteral("Host")).toString().startsWith(
        QStringLiteral("localhost")));
}

TEST_F(UpdateCheckTest, ACheckWhileDownloadingChangesNothing)
{
    // A download that hangs on the server keeps the phase at downloading(0.0).
    test::writeFile(test::updatesFolder() + QStringLiteral("/slow.bin"), QByteArray(1000, 'x'));
    test::updateServer().addFault({{QStringLiteral("path"), QStringLiteral("/tools/desktop/slow.bin")},
                                   {QStringLiteral("action"), QStringLiteral("delay")},
                                   {QStringLiteral("delay_ms"), 1500}});
    QCoro::Task<void> downloading = m_manager.download(test::manifestFor(QStringLiteral("slow.bin")));
    ASSERT_EQ(m_manager.phase(), UpdatePhase::downloading(0.0));
    const int requestsBefore = manifestRequests();

    EXPECT_EQ(check(), UpdatePhase::downloading(0.0));
    EXPECT_EQ(manifestRequests(), requestsBefore);
    EXPECT_FALSE(settings().contains(QStringLiteral("lastUpdateCheckAttempt")));
    test::run(std::move(downloading));
    EXPECT_EQ(m_manager.phase().kind, UpdatePhase::Kind::downloaded);
}

// --- The throttled check ---

class AutoCheck : public UpdateCheckTest {
protected:
    // Runs autoCheck and reports whether it asked the server.
    bool autoCheckAsks()
    {
        const int before = manifestRequests();
        m_manager.autoCheck();
        test::waitUntil([&] { return !m_manager.phase().is(UpdatePhase::Kind::checking); });
        return manifestRequests() > before;
    }
    static void storedAgo(const char *key, qint64 seconds)
    {
        settings().setValue(QString::fromLatin1(key), QDateTime::currentDateTimeUtc().addSecs(-seconds));
    }
};

TEST_F(AutoCheck, RunsWhenNothingRanBeforeAndSetsTheFlagsButNeverTheSheet)
{
    test::writeLatest(manifestJSON(QStringLiteral("1.3"), 30));
    QSignalSpy sheet(&m_manager, &UpdateManager::showSheetChanged);
    EXPECT_TRUE(autoCheckAsks());
    EXPECT_TRUE(m_manager.updateAvailable());
    EXPECT_EQ(m_manager.latestVersion(), QStringLiteral("1.3"));
    EXPECT_FALSE(m_manager.showSheet());
    EXPECT_EQ(sheet.count(), 0);
    EXPECT_TRUE(settings().date(QStringLiteral("lastUpdateCheckAttempt")).has_value());
}

TEST_F(AutoCheck, IsThrottledByTheLastAttemptAndTheLastSuccess)
{
    test::writeLatest(manifestJSON(QStringLiteral("1.2.24"), 27));
    struct Case {
        const char *name;
        std::optional<qint64> attemptAgo;
        std::optional<qint64> successAgo;
        bool asks;
    };
    const QList<Case> cases{
        {"attempt an hour ago", 3600, std::nullopt, false},
        {"attempt just under 6 hours ago", 21590, std::nullopt, false},
        {"attempt over 6 hours ago", 21700, std::nullopt, true},
        {"success 23 hours ago, attempt long ago", 200000, 82800, false},
        {"success 25 hours ago, attempt 7 hours ago", 25200, 90000, true},
        {"attempt in the future", -7200, std::nullopt, false},
        {"success in the future", std::nullopt, -7200, false},
    };
    for (const Case &item : cases) {
        SCOPED_TRACE(item.name);
        settings().remove(QStringLiteral("lastUpdateCheckAttempt"));
        settings().remove(QStringLiteral("lastUpdateCheckSuccess"));
        if (item.attemptAgo)
            storedAgo("lastUpdateCheckAttempt", *item.attemptAgo);
        if (item.successAgo)
            storedAgo("lastUpdateCheckSuccess", *item.successAgo);
        EXPECT_EQ(autoCheckAsks(), item.asks);
    }
}

TEST_F(AutoCheck, AStoredValueThatIsNotADateCountsAsAbsent)
{
    test::writeLatest(manifestJSON(QStringLiteral("1.2.24"), 27));
    settings().setValue(QStringLiteral("lastUpdateCheckAttempt"), QStringLiteral("yesterday"));
    settings().setValue(QStringLiteral("lastUpdateCheckSuccess"), 42);
    EXPECT_TRUE(autoCheckAsks());
    EXPECT_FALSE(autoCheckAsks()); // and now an attempt is on record
}

} // namespace

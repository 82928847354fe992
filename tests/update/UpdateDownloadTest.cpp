// The update download over HTTPS: streaming with progress, the digest check, truncated and
// length-less answers, and links that must never be followed.
#include "app/ActiveJobs.h"
#include "platform/Failure.h"
#include "platform/Settings.h"
#include "tests/support/TestFiles.h"
#include "tests/update/UpdateFixture.h"
#include "update/UpdateManager.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

using vorlik::app::ActiveJobs;
using vorlik::platform::Settings;
using vorlik::update::Manifest;
using vorlik::update::UpdateManager;
using vorlik::update::UpdatePhase;
namespace test = vorlik::test;

namespace {

constexpr qint64 imageBytes = 3 * 1048576 + 12345; // not a whole number of blocks

QByteArray randomBytes(qint64 size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char(generator.generate() & 0xff);
    return bytes;
}

class UpdateDownloadTest : public test::PrivateTemp {
protected:
    static void SetUpTestSuite()
    {
        test::updateServer();
        test::writeFile(test::updatesFolder() + QStringLiteral("/image.tar.gz"), randomBytes(imageBytes, 11));
    }
    void SetUp() override
    {
        PrivateTemp::SetUp();
        test::updateServer().useAsService();
        Settings::standard().remove(QStringLiteral("updateManifestURL"));
        test::takeUpdateLogLines();
        m_manager.setCurrentAppForTesting(QDir::tempPath() + QStringLiteral("/Vorlik Desktop.app")); // one that updates itself
        QObject::connect(&m_manager, &UpdateManager::phaseChanged, &m_manager, [this] { m_phases << m_manager.phase(); });
    }

    void download(const Manifest &manifest) { test::run(m_manager.download(manifest)); }
    int imageRequests() const
    {
        int count = 0;
        for (const QJsonValue &entry : test::updateServer().requests())
            count += entry.toObject().value(QStringLiteral("path")).toString().startsWith(QStringLiteral("/tools/desktop/"));
        return count;
    }

    ActiveJobs m_jobs;
    UpdateManager m_manager{Settings::standard(), m_jobs};
    QList<UpdatePhase> m_phases;
};

TEST_F(UpdateDownloadTest, StreamsTheImageToDiskWithProgressAndVerifiesIt)
{
    const Manifest manifest = test::manifestFor(QStringLiteral("image.tar.gz"));
    download(manifest);

    const UpdatePhase done = m_manager.phase();
    ASSERT_EQ(done.kind, UpdatePhase::Kind::downloaded) << done.debugText().toStdString();
    EXPECT_EQ(done.manifest, manifest);
    EXPECT_TRUE(QFileInfo(done.path).fileName().startsWith(QStringLiteral("vorlik-update-")));
    EXPECT_TRUE(done.path.endsWith(QStringLiteral(".dmg")));
    EXPECT_EQ(QFileInfo(done.path).absolutePath(), QDir(m_temp.path()).absolutePath());
    EXPECT_EQ(test::readFile(done.path), test::readFile(test::updatesFolder() + QStringLiteral("/image.tar.gz")));
    EXPECT_TRUE(m_manager.canInstall());
    EXPECT_EQ(test::takeUpdateLogLines(), QStringList{QStringLiteral("downloaded + SHA-256 verified: ") + done.path});

    // downloading(0.0) first, then one report per 256 KiB block, rising to 1.0, then done.
    ASSERT_GE(m_phases.size(), 3);
    EXPECT_EQ(m_phases.first(), UpdatePhase::downloading(0.0));
    EXPECT_EQ(m_phases.last(), done);
    const QList<UpdatePhase> progress = m_phases.mid(1, m_phases.size() - 2);
    EXPECT_EQ(progress.size(), imageBytes / 262144 + 1);
    double previous = 0.0;
    for (const UpdatePhase &phase : progress) {
        ASSERT_EQ(phase.kind, UpdatePhase::Kind::downloading);
        EXPECT_GT(phase.fraction, previous);
        previous = phase.fraction;
    }
    EXPECT_EQ(progress.first().fraction, 262144.0 / double(imageBytes));
    EXPECT_EQ(progress.last(), UpdatePhase::downloading(1.0));
}

TEST_F(UpdateDownloadTest, AServerWithoutContentLengthStillDownloads)
{
    for (const QString &mode : {QStringLiteral("no_length=1"), QStringLiteral("no_length=close")}) {
        SCOPED_TRACE(mode.toStdString());
        m_phases.clear();
        download(test::manifestFor(QStringLiteral("image.tar.gz"), QStringLiteral("1.2.25"), 28, mode));
        ASSERT_EQ(m_manager.phase().kind, UpdatePhase::Kind::downloaded) << m_manager.phase().debugText().toStdString();
        EXPECT_EQ(test::readFile(m_manager.phase().path), test::readFile(test::updatesFolder() + QStringLiteral("/image.tar.gz")));
        // Without a length there is nothing to measure against: 0.0 until the end.
        EXPECT_EQ(m_phases, (QList<UpdatePhase>{UpdatePhase::downloading(0.0), m_manager.phase()}));
    }
}

TEST_F(UpdateDownloadTest, TheDigestDecidesAndAFailedImageIsDeleted)
{
    const QString failed = QStringLiteral("The download failed its SHA-256 check.");
    Manifest upper = test::manifestFor(QStringLiteral("image.tar.gz"));
    upper.sha256 = upper.sha256.toUpper();
    Manifest mismatch = test::manifestFor(QStringLiteral("image.tar.gz"));
    mismatch.sha256[0] = mismatch.sha256[0] == u'0' ? u'1' : u'0';
    const std::pair<const char *, Manifest> cases[] = {
        {"upper-case digest", upper},
        {"mismatch", mismatch},
        // A body that ends with the connection cannot be told from a complete one: the digest can.
        {"truncated without a length",
         test::manifestFor(QStringLiteral("image.tar.gz"), QStringLiteral("1.2.25"), 28, QStringLiteral("no_length=close&truncate=1000000"))},
        {"an error page", test::manifestFor(QStringLiteral("no-such-image.tar.gz"))},
    };
    for (const auto &[name, manifest] : cases) {
        SCOPED_TRACE(name);
        download(manifest);
        if (manifest.sha256 == upper.sha256) {
            EXPECT_EQ(m_manager.phase().kind, UpdatePhase::Kind::downloaded);
            continue;
        }
        EXPECT_EQ(m_manager.phase(), UpdatePhase::error(failed));
        EXPECT_EQ(m_manager.statusText(), failed);
        EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-update-")), QStringList());
    }
    // Also the statuses Qt files under codes of its own (an invalid operation, a proxy's demand).
    for (const int status : {400, 407, 418, 500}) {
        SCOPED_TRACE(status);
        test::updateServer().addFault(QJsonObject{{QStringLiteral("path"), QStringLiteral("/tools/desktop/image.tar.gz")},
                                                  {QStringLiteral("action"), QStringLiteral("status")},
                                                  {QStringLiteral("status"), status}});
        download(test::manifestFor(QStringLiteral("image.tar.gz")));
        EXPECT_EQ(m_manager.phase(), UpdatePhase::error(failed));
    }
}

TEST_F(UpdateDownloadTest, ATruncatedDownloadFailsAndLeavesNoPartialFile)
{
    download(test::manifestFor(QStringLiteral("image.tar.gz"), QStringLiteral("1.2.25"), 28, QStringLiteral("truncate=1000000")));
    const UpdatePhase failed = m_manager.phase();
    ASSERT_EQ(failed.kind, UpdatePhase::Kind::error);
    EXPECT_TRUE(failed.message.startsWith(QStringLiteral("Download failed: "))) << failed.message.toStdString();
    const QStringList lines = test::takeUpdateLogLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines.first(), QStringLiteral("download failed: ") + failed.message.mid(17));
    // Its name is known to no one else: a partial file left here would stay forever.
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-update-")), QStringList());
    // Nor is one left for a caller of the download alone.
    const Manifest manifest =
        test::manifestFor(QStringLiteral("image.tar.gz"), QStringLiteral("1.2.25"), 28, QStringLiteral("truncate=300000"));
    EXPECT_THROW(test::run(UpdateManager::download(QUrl(manifest.dmg), [](double) {})), vorlik::Failure);
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-update-")), QStringList());
}

TEST_F(UpdateDownloadTest, AVerifiedImageIsKeptOnlyWhileThePhaseNamesIt)
{
    const Manifest manifest = test::manifestFor(QStringLiteral("image.tar.gz"));
    download(manifest);
    const QString first = m_manager.phase().path;
    ASSERT_TRUE(QFileInfo::exists(first)) << m_manager.phase().debugText().toStdString();

    // A second download replaces the first image: only the new one stays.
    download(manifest);
    const QString second = m_manager.phase().path;
    ASSERT_EQ(m_manager.phase().kind, UpdatePhase::Kind::downloaded);
    EXPECT_NE(second, first);
    EXPECT_FALSE(QFileInfo::exists(first));
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-update-")), QStringList{QFileInfo(second).fileName()});

    // A failed download after it leaves nothing either.
    Manifest broken = manifest;
    broken.sha256[0] = broken.sha256[0] == u'0' ? u'1' : u'0';
    download(broken);
    EXPECT_EQ(m_manager.phase().kind, UpdatePhase::Kind::error);
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-update-")), QStringList());
}

TEST_F(UpdateDownloadTest, AShortBodyOverPlainHttpIsAFailedDownloadToo)
{
    // Qt does not always report a plain connection that closes early; the length check does.
    test::DevServer plain({QStringLiteral("--updates"), test::updatesFolder()});
    QUrl url = plain.baseUrl();
    url.setPath(QStringLiteral("/tools/desktop/image.tar.gz"));
    url.setQuery(QStringLiteral("truncate=1000000"));
    try {
        test::run(UpdateManager::download(url, [](double) {}));
        ADD_FAILURE() << "a short body passed";
    } catch (const vorlik::Failure &error) {
        EXPECT_TRUE(error.description() == QStringLiteral("The connection closed after 1000000 of %1 bytes.").arg(imageBytes)
                    || error.description() == QStringLiteral("Connection closed"))
            << error.description().toStdString();
    }
}

TEST_F(UpdateDownloadTest, AnUnreachableServerOrAnUnwritableFolderFailsTheDownload)
{
    Manifest manifest = test::manifestFor(QStringLiteral("image.tar.gz"));
    QUrl unreachable(manifest.dmg);
    unreachable.setPort(1);
    manifest.dmg = unreachable.toString();
    download(manifest);
    EXPECT_TRUE(m_manager.phase().message.startsWith(QStringLiteral("Download failed: Connection refused")))
        << m_manager.phase().debugText().toStdString();

    qputenv("TMPDIR", QFile::encodeName(m_temp.filePath(QStringLiteral("missing/folder"))));
    download(test::manifestFor(QStringLiteral("image.tar.gz")));
    EXPECT_TRUE(m_manager.phase().message.startsWith(QStringLiteral("Download failed: Could not create ")))
        << m_manager.phase().debugText().toStdString();
}

TEST_F(UpdateDownloadTest, LinksThatMayNotBeFollowedNeverStartADownload)
{
    const QList<QString> links{QStringLiteral("http://127.0.0.1/tools/desktop/image.tar.gz"),
                               QStringLiteral("https://downloads.example.com/image.tar.gz"),
                               QStringLiteral("https://exa mple.com/x"), QString(), QStringLiteral("image.tar.gz")};
    for (const QString &link : links) {
        Manifest manifest = test::manifestFor(QStringLiteral("image.tar.gz"));
        manifest.dmg = link;
        m_phases.clear();
        download(manifest);
        EXPECT_EQ(m_manager.phase(), UpdatePhase::error(QStringLiteral("The update link is invalid."))) << link.toStdString();
        for (const UpdatePhase &phase : m_phases)
            EXPECT_NE(phase.kind, UpdatePhase::Kind::downloading) << link.toStdString();
    }
    EXPECT_EQ(imageRequests(), 0);
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-update-")), QStringList());
}

TEST_F(UpdateDownloadTest, TheDigestOfAFile)
{
    const QByteArray content = randomBytes(2 * 1048576 + 7, 3);
    const QString path = m_temp.filePath(QStringLiteral("f"));
    test::writeFile(path, content);
    EXPECT_EQ(UpdateManager::sha256(path),
              QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex()));
    test::writeFile(path, QByteArray());
    EXPECT_EQ(UpdateManager::sha256(path), QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    EXPECT_THROW(UpdateManager::sha256(m_temp.filePath(QStringLiteral("missing"))), vorlik::Failure);
}

} // namespace

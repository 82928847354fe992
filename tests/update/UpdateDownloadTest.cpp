// The update download over HTTPS: streaming with progress, the digest check, truncated and
// length-less answers, links that must never be followed, and no file left behind.
#include "platform/Failure.h"
#include "tests/support/TestFiles.h"
#include "tests/update/UpdateFixture.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

using vorlik::update::Manifest;
using vorlik::update::UpdateManager;
using vorlik::update::UpdatePhase;
namespace test = vorlik::test;

namespace {

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

TEST_F(UpdateDownloadTest, StreamsTheImageWithProgressVerifiesItAndKeepsOnlyTheImageThePhaseNames)
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
}

TEST_F(UpdateDownloadTest, AServerWithoutContentLengthStillDownloads)
{
    for (const QString &mode : {QStringLiteral("no_length=1"), QStringLiteral("no_length=close")}) {
        SCOPED_TRACE(mode.toStdString());
        download(test::manifestFor(imageName, mode));
        ASSERT_EQ(m_manager.phase().kind, UpdatePhase::Kind::downloaded) << m_manager.phase().debugText().toStdString();
        EXPECT_EQ(test::readFile(m_manager.phase().path), test::readFile(image()));
        // Without a length there is nothing to measure against: 0.0 until the end.
        EXPECT_EQ(m_phases, (QList<UpdatePhase>{UpdatePhase::downloading(0.0), m_manager.phase()}));
    }
}

TEST_F(UpdateDownloadTest, TheDigestDecidesAndAFailedDownloadLeavesNoFile)
{
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
        {test::manifestFor(imageName), 400, digestFailed},
        {test::manifestFor(imageName), 407, digestFailed},
        {test::manifestFor(imageName), 418, digestFailed},
        {test::manifestFor(imageName), 500, digestFailed},
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
    try {
        test::run(UpdateManager::download(url, [](double) {}));
        ADD_FAILURE() << "a short body passed";
    } catch (const vorlik::Failure &error) {
        EXPECT_TRUE(error.description() == QStringLiteral("The connection closed after 1000000 of %1 bytes.").arg(imageBytes)
                    || error.description() == QStringLiteral("Connection closed"))
            << error.description().toStdString();
    }
    EXPECT_THROW(UpdateManager::sha256(m_temp.filePath(QStringLiteral("missing"))), vorlik::Failure);
}

TEST_F(UpdateDownloadTest, LinksThatMayNotBeFollowedNeverStartADownload)
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
    EXPECT_EQ(test::requestsUnder(QStringLiteral("/tools/desktop/")), 0);
    EXPECT_EQ(leftovers(), QStringList());
}

} // namespace

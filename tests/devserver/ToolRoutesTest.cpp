// The stand-in service's downloads: the ffmpeg zip and its checksums on both sources, the
// update description from --updates and nothing outside that folder.
#include "tests/devserver/DevServerCalls.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace vorlik::test;

namespace {

TEST(ToolRoutes, ServeTheMachinesFFmpegAsAZipWithItsDigestOnBothSourcesAndTheUpdateDescriptionFromItsFolderOnly)
{
    QTemporaryDir updates;
    DevServer server({QStringLiteral("--updates"), updates.path()});
    const auto fetch = [&](const QString &path) { return rawCall(server.baseUrl(), "GET", path); };
    const RawReply zip = fetch(QStringLiteral("/tools/ffmpeg/ffmpeg.zip"));
    ASSERT_EQ(zip.status, 200);
    EXPECT_TRUE(zip.body.startsWith("PK\x03\x04"));
    EXPECT_EQ(zip.contentLength, QByteArray::number(zip.body.size()));
    const QByteArray sums = QCryptographicHash::hash(zip.body, QCryptographicHash::Sha256).toHex() + "  ffmpeg.zip\n";
    EXPECT_EQ(fetch(QStringLiteral("/tools/ffmpeg/SHA256SUMS")).body, sums);
    for (const char *architecture : {"x86_64", "arm64"}) {
        const QString folder = QStringLiteral("/download/linux/%1/1787073674_9.0.1/").arg(QLatin1String(architecture));
        EXPECT_EQ(fetch(folder + QStringLiteral("ffmpeg.zip")).body, zip.body);
        EXPECT_EQ(fetch(folder + QStringLiteral("ffmpeg.zip.sha256")).body, sums);
    }
    EXPECT_EQ(fetch(QStringLiteral("/download/linux/riscv64/1787073674_9.0.1/ffmpeg.zip")).status, 404);
    EXPECT_TRUE(QFile::exists(server.dataPath() + QStringLiteral("/tools/ffmpeg.zip"))); // made once, kept
    QTemporaryDir unpacked;
    writeFile(unpacked.filePath(QStringLiteral("f.zip")), zip.body);
    QProcess unzip;
    unzip.setWorkingDirectory(unpacked.path());
    unzip.start(QStringLiteral("bsdtar"), {QStringLiteral("-xf"), QStringLiteral("f.zip")});
    if (unzip.waitForFinished(30000) && unzip.exitCode() == 0) // bsdtar may be missing
        EXPECT_EQ(readFile(unpacked.filePath(QStringLiteral("ffmpeg"))), readFile(QStringLiteral("/usr/bin/ffmpeg")));

    // Streaming with and without a length, and cut short, is what the update download tests
    // stand on; here only what they do not reach.
    EXPECT_EQ(fetch(QStringLiteral("/tools/desktop/latest.json")).status, 404);
    writeFile(QDir(updates.path()).filePath(QStringLiteral("latest.json")), R"({"version":"9.9"})");
    const RawReply latest = fetch(QStringLiteral("/tools/desktop/latest.json"));
    EXPECT_EQ(latest.status, 200);
    EXPECT_EQ(latest.body, R"({"version":"9.9"})");
    for (const char *outside : {"/tools/desktop/missing.tar.gz", "/tools/desktop/..%2F..%2Fetc%2Fpasswd", "/tools/desktop/.hidden"})
        EXPECT_EQ(fetch(QLatin1String(outside)).status, 404) << outside;

    DevServer plain;
    const RawReply none = rawCall(plain.baseUrl(), "GET", QStringLiteral("/tools/desktop/latest.json"));
    EXPECT_EQ(none.status, 404);
    EXPECT_TRUE(none.body.contains("--updates"));
}

} // namespace

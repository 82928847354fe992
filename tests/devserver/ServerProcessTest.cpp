#include "tests/convert/TestMedia.h"
#include "tests/devserver/DevServerCalls.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QCoroNetworkReply>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace vorlik::test;

namespace {

TEST(ServerProcessTest, badFlagsStopWithAReason)
{
    // The arguments, split at '|', and what the reason says.
    const char *cases[][2] = {{"--port|70000", "--port"}, {"--bogus|1", "unknown flag --bogus"}, {"--token-lifetime|0", "--token-lifetime"},
                              {"--fault|GET /health action=explode", "--fault"}, {"--tls-cert|/nowhere.pem", "go together"},
                              {"--keys|/no/such/keys.txt", "--keys"}, {"--job-delay-ms|-5", "--job-delay-ms"}, {"--port", "needs a value"}};
    for (const auto &[arguments, says] : cases) {
        QProcess process;
        process.start(QStringLiteral(VORLIK_DEVSERVER_PATH), QString::fromLatin1(arguments).split(u'|'));
        EXPECT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 2) << arguments;
        EXPECT_TRUE(process.readAllStandardError().contains(says)) << says;
    }
}

TEST(ServerProcessTest, sigtermStopsCleanlyWithAnAnswerHeldBackAndAJobHangingAndLeavesNoFiles)
{
    QTemporaryDir data;
    QProcess process;
    process.start(QStringLiteral(VORLIK_DEVSERVER_PATH),
                  {QStringLiteral("--data"), data.path(), QStringLiteral("--fault"), QStringLiteral("GET /health action=delay delay_ms=60000")});
    ASSERT_TRUE(process.waitForStarted());
    const auto nextLine = [&] {
        while (!process.canReadLine())
            if (!process.waitForReadyRead(10000))
                return QString();
        return QString::fromUtf8(process.readLine()).trimmed();
    };
    const QString first = nextLine();
    ASSERT_TRUE(first.startsWith(QStringLiteral("listening on http://127.0.0.1:"))) << first.toStdString();
    EXPECT_EQ(nextLine(), QStringLiteral("demo key: vk_demo_local_0000000000000000"));
    const QUrl base(first.mid(13));

    // One hanging job and one upload never used.
    const RawReply session = rawCall(base, "POST", QStringLiteral("/v1/auth/activate"), R"({"api_key":"vk_demo_local_0000000000000000"})");
    const QString bearer = jsonObject(session.body).value(QStringLiteral("access_token")).toString();
    ASSERT_EQ(rawCall(base, "POST", QStringLiteral("/admin/jobs"), R"({"outcome":"hang","count":-1})").status, 200);
    QTemporaryDir media;
    const QByteArray wav = readFile(TestMedia::sine(media.filePath(QStringLiteral("a.wav")), 0.2));
    for (int i = 0; i < 2; ++i) {
        const RawReply uploaded = rawCall(base, "POST", QStringLiteral("/v1/uploads"), multipartBody("b", wav), bearer, multipartType("b"));
        const QString uploadID = jsonObject(uploaded.body).value(QStringLiteral("upload_id")).toString();
        if (i == 0)
            EXPECT_EQ(rawCall(base, "POST", QStringLiteral("/v1/jobs/%1/process").arg(uploadID), R"({"workflow":"audio_info"})", bearer).status, 202);
    }
    const auto filesIn = [&](const char *folder) { return QDir(data.filePath(QLatin1String(folder))).entryList(QDir::Files | QDir::Hidden); };
    EXPECT_EQ(filesIn("uploads").size(), 1);
    EXPECT_EQ(filesIn("jobs").size(), 1);

    // A request waits out its delay inside the server while the stop arrives: the stop is sent
    // once the held one is in the server's request log.
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(base.resolved(QUrl(QStringLiteral("/health")))));
    const auto held = [&] {
        for (const QJsonValue &request : QJsonDocument::fromJson(rawCall(base, "GET", QStringLiteral("/admin/requests")).body).array())
            if (request.toObject().value(QStringLiteral("path")).toString() == QLatin1String("/health"))
                return true;
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor(held, 60000)) << "the request never reached the server";
    process.terminate();
    // Generous: a loaded machine may be slow to schedule the stop, which is not what is tested.
    EXPECT_TRUE(process.waitForFinished(60000)) << "a held answer or a hanging job must not hold the server up";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(filesIn("uploads"), QStringList());
    EXPECT_EQ(filesIn("jobs"), QStringList());
    // Qt sends a request whose connection closed before any answer once more, to a server that is
    // gone by then: either way the request ends in an error, never an answer.
    if (reply->isRunning())
        QCoro::waitFor(qCoro(reply).waitForFinished(std::chrono::seconds(60)));
    EXPECT_FALSE(reply->isRunning());
    EXPECT_NE(reply->error(), QNetworkReply::NoError);
    delete reply;
}

TEST(ServerProcessTest, servesTheMachinesFFmpegAsAZipWithItsDigestOnBothSourcesAndTheUpdateDescriptionFromItsFolderOnly)
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
    // The installer's tests unpack and run the zip, and the update download tests stand on the
    // streaming; here only what they do not reach.
    EXPECT_EQ(fetch(QStringLiteral("/tools/desktop/latest.json")).status, 404);
    writeFile(QDir(updates.path()).filePath(QStringLiteral("latest.json")), R"({"version":"9.9"})");
    const RawReply latest = fetch(QStringLiteral("/tools/desktop/latest.json"));
    EXPECT_EQ(latest.status, 200);
    EXPECT_EQ(latest.body, R"({"version":"9.9"})");
    for (const char *outside : {"/tools/desktop/missing.tar.gz", "/tools/desktop/..%2F..%2Fetc%2Fpasswd", "/tools/desktop/.hidden"})
        EXPECT_EQ(fetch(QLatin1String(outside)).status, 404) << outside;

    const RawReply none = rawCall(DevServer::shared().baseUrl(), "GET", QStringLiteral("/tools/desktop/latest.json")); // no --updates
    EXPECT_EQ(none.status, 404);
    EXPECT_TRUE(none.body.contains("--updates"));
}

} // namespace

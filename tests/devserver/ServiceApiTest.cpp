// The service API of the stand-in service: sessions and their tokens, the preset document,
// usage reports (validated, counted, kept across restarts). The client's own tests cover the
// rest of what the service answers.
#include "tests/devserver/DevServerCalls.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

using namespace vorlik::test;

namespace {

const QString activatePath = QStringLiteral("/v1/auth/activate");
const QString refreshPath = QStringLiteral("/v1/auth/refresh");
const QString logoutPath = QStringLiteral("/v1/auth/logout");
const QString presetsPath = QStringLiteral("/v1/presets");
const QString usagePath = QStringLiteral("/v1/usage/convert");

DevServer &server() { return DevServer::shared(); }

QString errorOf(const QByteArray &body) { return jsonObject(body).value(QStringLiteral("error")).toString(); }

QJsonObject usageReport(const QString &filename = QStringLiteral("Take 1.flac"))
{
    return {{QStringLiteral("process_key"), QStringLiteral("normalise-14lufs")},
            {QStringLiteral("file_count"), 1},
            {QStringLiteral("input_bytes"), 123456},
            {QStringLiteral("filename"), filename}};
}

class ServiceApiTest : public ::testing::Test {
protected:
    void SetUp() override { server().reset(); }
};

TEST_F(ServiceApiTest, activateRejectsUnknownKeysAndBadBodies)
{
    auto [status, body] = server().call("POST", activatePath, jsonBody({{QStringLiteral("api_key"), QStringLiteral("vk_nope")}}));
    EXPECT_EQ(status, 401);
    EXPECT_EQ(errorOf(body), QStringLiteral("unknown client key"));

    const struct {
        const char *name;
        QByteArray body;
    } bad[] = {
        {"not JSON", "api_key=x"},
        {"an array", "[\"vk_demo_local_0000000000000000\"]"},
        {"no key", "{\"installation_label\":\"Vorlik Desktop\"}"},
        {"a number label", "{\"api_key\":\"vk_demo_local_0000000000000000\",\"installation_label\":7}"},
    };
    for (const auto &item : bad) {
        std::tie(status, body) = server().call("POST", activatePath, item.body);
        EXPECT_EQ(status, 400) << item.name;
        EXPECT_FALSE(errorOf(body).isEmpty()) << item.name << ": " << body.toStdString();
    }
}

TEST_F(ServiceApiTest, extraKeysAreAccepted)
{
    QTemporaryDir folder;
    const QString keys = folder.filePath(QStringLiteral("keys.txt"));
    writeFile(keys, "# one per line\nvk_from_file_1\n\n  vk_from_file_2  \n");
    DevServer own({QStringLiteral("--key"), QStringLiteral("vk_flag"), QStringLiteral("--keys"), keys});
    for (const char *key : {"vk_flag", "vk_from_file_1", "vk_from_file_2", "vk_demo_local_0000000000000000"}) {
        const auto [status, body] = own.call("POST", activatePath, jsonBody({{QStringLiteral("api_key"), QLatin1String(key)}}));
        EXPECT_EQ(status, 200) << key << ": " << body.toStdString();
    }
    EXPECT_EQ(own.call("POST", activatePath, jsonBody({{QStringLiteral("api_key"), QStringLiteral("# one per line")}})).first, 401);
}

TEST_F(ServiceApiTest, refreshTokensWorkOnce)
{
    const QJsonObject first = activateDemo(server());
    const QByteArray refreshBody = jsonBody({{QStringLiteral("refresh_token"), first.value(QStringLiteral("refresh_token"))}});
    const auto [status, body] = server().call("POST", refreshPath, refreshBody);
    ASSERT_EQ(status, 200) << body.toStdString();
    const QJsonObject second = jsonObject(body);
    EXPECT_NE(second.value(QStringLiteral("refresh_token")), first.value(QStringLiteral("refresh_token")));
    EXPECT_NE(second.value(QStringLiteral("access_token")), first.value(QStringLiteral("access_token")));
    EXPECT_EQ(second.value(QStringLiteral("session_id")), first.value(QStringLiteral("session_id")));
    EXPECT_EQ(server().call("GET", presetsPath, {}, second.value(QStringLiteral("access_token")).toString()).first, 200);

    // The used token is spent; the new one still works, once.
    const auto reused = server().call("POST", refreshPath, refreshBody);
    EXPECT_EQ(reused.first, 401);
    EXPECT_EQ(errorOf(reused.second), QStringLiteral("unknown or already used refresh token"));
    const QByteArray secondBody = jsonBody({{QStringLiteral("refresh_token"), second.value(QStringLiteral("refresh_token"))}});
    EXPECT_EQ(server().call("POST", refreshPath, secondBody).first, 200);
    EXPECT_EQ(server().call("POST", refreshPath, secondBody).first, 401);
    EXPECT_EQ(server().call("POST", refreshPath, "{\"refresh_token\":5}").first, 400);
}

TEST_F(ServiceApiTest, logoutEndsTheSession)
{
    const QJsonObject session = activateDemo(server());
    const QString access = session.value(QStringLiteral("access_token")).toString();
    const QByteArray body = jsonBody({{QStringLiteral("refresh_token"), session.value(QStringLiteral("refresh_token"))}});

    EXPECT_EQ(server().call("POST", logoutPath, body, QStringLiteral("vat_wrong")).first, 401);
    const auto [status, answer] = server().call("POST", logoutPath, body, access);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(jsonObject(answer).value(QStringLiteral("ok")), QJsonValue(true));

    EXPECT_EQ(server().call("POST", refreshPath, body).first, 401);
    EXPECT_EQ(server().call("GET", presetsPath, {}, access).first, 401);
    // Another session of the same key lives on.
    const QJsonObject other = activateDemo(server());
    EXPECT_EQ(server().call("GET", presetsPath, {}, other.value(QStringLiteral("access_token")).toString()).first, 200);
    // An unknown refresh token with a good bearer: the session is gone either way.
    EXPECT_EQ(server().call("POST", logoutPath, body, other.value(QStringLiteral("access_token")).toString()).first, 404);
}

TEST_F(ServiceApiTest, thePresetDocumentHoldsEveryCardsPresets)
{
    EXPECT_EQ(server().call("GET", presetsPath).first, 401);
    const QString access = activateDemo(server()).value(QStringLiteral("access_token")).toString();
    const auto [status, body] = server().call("GET", presetsPath, {}, access);
    ASSERT_EQ(status, 200);
    const QJsonObject document = jsonObject(body);
    EXPECT_TRUE(document.value(QStringLiteral("version")).isDouble());
    EXPECT_TRUE(document.value(QStringLiteral("generated_at")).isString());
    EXPECT_TRUE(document.value(QStringLiteral("note")).isString());

    QMap<QString, QString> kinds;
    int limited = 0;
    for (const QJsonValue &value : document.value(QStringLiteral("presets")).toArray()) {
        const QJsonObject preset = value.toObject();
        const QString id = preset.value(QStringLiteral("id")).toString();
        for (const char *key : {"id", "name", "description", "suffix", "output_ext", "kind", "command", "hint", "summary"})
            EXPECT_TRUE(preset.value(QLatin1String(key)).isString()) << id.toStdString() << " " << key;
        kinds.insert(id, preset.value(QStringLiteral("kind")).toString());
        if (preset.contains(QStringLiteral("max_channels"))) {
            EXPECT_TRUE(preset.value(QStringLiteral("max_channels")).isDouble());
            ++limited;
        }
        const QString command = preset.value(QStringLiteral("command")).toString();
        const QString ext = preset.value(QStringLiteral("output_ext")).toString();
        EXPECT_TRUE(command.startsWith(QStringLiteral("ffmpeg "))) << id.toStdString();
        EXPECT_TRUE(command.contains(QStringLiteral("{input}"))) << id.toStdString();
        // The runner looks for {output_base} + output_ext, with output_ext as it stands.
        EXPECT_TRUE(ext.startsWith(QLatin1Char('.'))) << id.toStdString();
        EXPECT_TRUE(command.contains(QStringLiteral("{output_base}") + ext)) << id.toStdString();
        QString rest = QString(command).remove(QStringLiteral("{input}")).remove(QStringLiteral("{output_base}"));
        // A preset that asks to be measured first may use what the measurement gives; no other may.
        if (preset.contains(QStringLiteral("loudness"))) {
            const QJsonObject loudness = preset.value(QStringLiteral("loudness")).toObject();
            EXPECT_TRUE(loudness.value(QStringLiteral("target")).isDouble()) << id.toStdString();
            EXPECT_TRUE(loudness.value(QStringLiteral("ceiling")).isDouble()) << id.toStdString();
            for (const char *measured : {"{gain}", "{limit}", "{measured_i}", "{measured_tp}", "{measured_lra}", "{measured_thresh}"})
                rest.remove(QLatin1String(measured));
        }
        EXPECT_FALSE(rest.contains(QLatin1Char('{')) || rest.contains(QLatin1Char('}'))) << id.toStdString();
    }
    EXPECT_EQ(kinds.value(QStringLiteral("video-h264")), QStringLiteral("video"));
    EXPECT_EQ(kinds.value(QStringLiteral("video-hevc")), QStringLiteral("video"));
    EXPECT_EQ(kinds.value(QStringLiteral("audio-m4a")), QStringLiteral("audio"));
    EXPECT_EQ(kinds.value(QStringLiteral("normalise-video-14lkfs")), QStringLiteral("video"));
    for (const char *id : {"normalise-14lufs", "normalise-16lufs", "normalise-23lufs"})
        EXPECT_EQ(kinds.value(QLatin1String(id)), QStringLiteral("normalise")) << id;
    EXPECT_GE(limited, 1);
}

TEST_F(ServiceApiTest, badUsageReportsAreRefusedAndNotCounted)
{
    const QString access = activateDemo(server()).value(QStringLiteral("access_token")).toString();
    const qint64 before = server().usage().value(QStringLiteral("total")).toInteger();
    const auto with = [](const char *key, const QJsonValue &value) {
        QJsonObject report = usageReport();
        if (value.isUndefined())
            report.remove(QLatin1String(key));
        else
            report.insert(QLatin1String(key), value);
        return jsonBody(report);
    };
    const struct {
        const char *name;
        QByteArray body;
    } bad[] = {
        {"no process_key", with("process_key", QJsonValue::Undefined)},
        {"empty process_key", with("process_key", QString())},
        {"fractional file_count", with("file_count", 1.5)},
        {"negative input_bytes", with("input_bytes", -1)},
        {"numeric filename", with("filename", 7)},
        {"not an object", "[1,2]"},
        {"not JSON", "{\"process_key\":"},
    };
    for (const auto &item : bad) {
        const auto [status, body] = server().call("POST", usagePath, item.body, access);
        EXPECT_EQ(status, 400) << item.name;
        EXPECT_FALSE(errorOf(body).isEmpty()) << item.name;
    }
    EXPECT_EQ(server().call("POST", usagePath, jsonBody(usageReport())).first, 401);
    EXPECT_EQ(server().usage().value(QStringLiteral("total")).toInteger(), before);
}

TEST_F(ServiceApiTest, usageSurvivesARestart)
{
    QTemporaryDir data;
    const QStringList arguments{QStringLiteral("--data"), data.path()};
    {
        DevServer first(arguments);
        const QString access = activateDemo(first).value(QStringLiteral("access_token")).toString();
        EXPECT_EQ(first.call("POST", usagePath, jsonBody(usageReport(QStringLiteral("one.wav"))), access).first, 200);
        EXPECT_EQ(first.call("POST", usagePath, jsonBody(usageReport(QStringLiteral("two.wav"))), access).first, 200);
    }
    DevServer second(arguments);
    const QJsonObject usage = second.usage();
    EXPECT_EQ(usage.value(QStringLiteral("total")).toInteger(), 2);
    EXPECT_EQ(usage.value(QStringLiteral("reports")).toArray().at(1).toObject().value(QStringLiteral("filename")).toString(),
              QStringLiteral("two.wav"));
    const QString access = activateDemo(second).value(QStringLiteral("access_token")).toString();
    const auto [status, body] = second.call("POST", usagePath, jsonBody(usageReport()), access);
    EXPECT_EQ(jsonObject(body).value(QStringLiteral("total")).toInteger(), 3);
    QFile file(QDir(data.path()).filePath(QStringLiteral("usage.json")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(jsonObject(file.readAll()).value(QStringLiteral("total")).toInteger(), 3);
}

TEST_F(ServiceApiTest, anUnreadableUsageFileIsKeptAsideNotOverwritten)
{
    QTemporaryDir data;
    const QByteArray garbage = "{\"total\": 7, \"reports\": [ truncated";
    writeFile(data.filePath(QStringLiteral("usage.json")), garbage);

    DevServer own({QStringLiteral("--data"), data.path()});
    EXPECT_EQ(own.usage().value(QStringLiteral("total")).toInteger(), 0);
    const QStringList aside = QDir(data.path()).entryList({QStringLiteral("usage.json.unreadable-*")});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readFile(data.filePath(aside.first())), garbage);
}

} // namespace

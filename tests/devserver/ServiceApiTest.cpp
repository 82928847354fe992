// The service API of the stand-in service: sessions and their tokens, the preset document,
// usage reports (validated, counted, kept across restarts). The client's own tests cover the
// rest of what the service answers.
#include "tests/devserver/DevServerCalls.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>

using namespace vorlik::test;

namespace {

const QString activatePath = QStringLiteral("/v1/auth/activate");
const QString refreshPath = QStringLiteral("/v1/auth/refresh");
const QString presetsPath = QStringLiteral("/v1/presets");
const QString usagePath = QStringLiteral("/v1/usage/convert");

DevServer &server() { return DevServer::shared(); }

QString errorOf(const QByteArray &body) { return jsonObject(body).value(QStringLiteral("error")).toString(); }
QString accessOf(const QJsonObject &session) { return session.value(QStringLiteral("access_token")).toString(); }
QByteArray refreshBody(const QJsonObject &session) { return jsonBody({{QStringLiteral("refresh_token"), session.value(QStringLiteral("refresh_token"))}}); }

QJsonObject usageReport(const QString &filename = QStringLiteral("Take 1.flac"))
{
    return {{QStringLiteral("process_key"), QStringLiteral("normalise-14lufs")}, {QStringLiteral("file_count"), 1},
            {QStringLiteral("input_bytes"), 123456}, {QStringLiteral("filename"), filename}};
}

class ServiceApiTest : public ::testing::Test {
protected:
    void SetUp() override { server().reset(); }
};

TEST_F(ServiceApiTest, activateTakesTheFlagsAndTheFilesKeysAndRefusesUnknownKeysAndBadBodies)
{
    QTemporaryDir folder;
    const QString keys = folder.filePath(QStringLiteral("keys.txt"));
    writeFile(keys, "# one per line\nvk_from_file_1\n\n  vk_from_file_2  \n");
    DevServer own({QStringLiteral("--key"), QStringLiteral("vk_flag"), QStringLiteral("--keys"), keys});
    const auto activate = [&](const QString &key) { return own.call("POST", activatePath, jsonBody({{QStringLiteral("api_key"), key}})); };
    for (const char *key : {"vk_flag", "vk_from_file_1", "vk_from_file_2", "vk_demo_local_0000000000000000"})
        EXPECT_EQ(activate(QLatin1String(key)).first, 200) << key;
    EXPECT_EQ(activate(QStringLiteral("# one per line")).first, 401);
    const auto [status, body] = activate(QStringLiteral("vk_nope"));
    EXPECT_EQ(status, 401);
    EXPECT_EQ(errorOf(body), QStringLiteral("unknown client key"));

    for (const QByteArray &bad : {QByteArray("api_key=x"), QByteArray(R"(["vk_demo_local_0000000000000000"])"),
                                 QByteArray(R"({"installation_label":"Vorlik Desktop"})"),
                                 QByteArray(R"({"api_key":"vk_demo_local_0000000000000000","installation_label":7})")}) {
        const auto [status, body] = server().call("POST", activatePath, bad);
        EXPECT_EQ(status, 400) << bad.toStdString();
        EXPECT_FALSE(errorOf(body).isEmpty()) << bad.toStdString();
    }
}

TEST_F(ServiceApiTest, refreshTokensWorkOnceAndLogoutEndsTheSession)
{
    const QJsonObject first = activateDemo(server());
    const auto [status, body] = server().call("POST", refreshPath, refreshBody(first));
    ASSERT_EQ(status, 200) << body.toStdString();
    const QJsonObject second = jsonObject(body);
    EXPECT_NE(second.value(QStringLiteral("refresh_token")), first.value(QStringLiteral("refresh_token")));
    EXPECT_NE(accessOf(second), accessOf(first));
    EXPECT_EQ(second.value(QStringLiteral("session_id")), first.value(QStringLiteral("session_id")));
    EXPECT_EQ(server().call("GET", presetsPath, {}, accessOf(second)).first, 200);
    const auto reused = server().call("POST", refreshPath, refreshBody(first)); // the used token is spent
    EXPECT_EQ(reused.first, 401);
    EXPECT_EQ(errorOf(reused.second), QStringLiteral("unknown or already used refresh token"));
    EXPECT_EQ(server().call("POST", refreshPath, "{\"refresh_token\":5}").first, 400);

    const QString logout = QStringLiteral("/v1/auth/logout");
    EXPECT_EQ(server().call("POST", logout, refreshBody(second), QStringLiteral("vat_wrong")).first, 401);
    const auto [ended, answer] = server().call("POST", logout, refreshBody(second), accessOf(second));
    EXPECT_EQ(ended, 200);
    EXPECT_EQ(jsonObject(answer).value(QStringLiteral("ok")), QJsonValue(true));
    EXPECT_EQ(server().call("POST", refreshPath, refreshBody(second)).first, 401);
    EXPECT_EQ(server().call("GET", presetsPath, {}, accessOf(second)).first, 401);
    // Another session of the same key lives on; an unknown refresh token with its bearer is 404.
    const QJsonObject other = activateDemo(server());
    EXPECT_EQ(server().call("GET", presetsPath, {}, accessOf(other)).first, 200);
    EXPECT_EQ(server().call("POST", logout, refreshBody(second), accessOf(other)).first, 404);
}

TEST_F(ServiceApiTest, thePresetDocumentHoldsEveryCardsPresets)
{
    EXPECT_EQ(server().call("GET", presetsPath).first, 401);
    const auto [status, body] = server().call("GET", presetsPath, {}, accessOf(activateDemo(server())));
    ASSERT_EQ(status, 200);
    const QJsonObject document = jsonObject(body);
    EXPECT_TRUE(document.value(QStringLiteral("version")).isDouble());
    EXPECT_TRUE(document.value(QStringLiteral("generated_at")).isString());
    QMap<QString, QString> kinds;
    int limited = 0;
    for (const QJsonValue &value : document.value(QStringLiteral("presets")).toArray()) {
        const QJsonObject preset = value.toObject();
        const std::string id = preset.value(QStringLiteral("id")).toString().toStdString();
        for (const char *key : {"id", "name", "description", "suffix", "output_ext", "kind", "command", "hint", "summary"})
            EXPECT_TRUE(preset.value(QLatin1String(key)).isString()) << id << " " << key;
        kinds.insert(preset.value(QStringLiteral("id")).toString(), preset.value(QStringLiteral("kind")).toString());
        limited += preset.value(QStringLiteral("max_channels")).isDouble() ? 1 : 0;
        const QString command = preset.value(QStringLiteral("command")).toString();
        const QString ext = preset.value(QStringLiteral("output_ext")).toString();
        EXPECT_TRUE(command.startsWith(QStringLiteral("ffmpeg ")) && command.contains(QStringLiteral("{input}"))) << id;
        // The runner looks for {output_base} + output_ext, with output_ext as it stands.
        EXPECT_TRUE(ext.startsWith(QLatin1Char('.')) && command.contains(QStringLiteral("{output_base}") + ext)) << id;
        QString rest = QString(command).remove(QStringLiteral("{input}")).remove(QStringLiteral("{output_base}"));
        // A preset that asks to be measured first may use what the measurement gives; no other may.
        if (preset.contains(QStringLiteral("loudness"))) {
            EXPECT_TRUE(at(preset, "loudness/target").isDouble() && at(preset, "loudness/ceiling").isDouble()) << id;
            for (const char *measured : {"{gain}", "{limit}", "{measured_i}", "{measured_tp}", "{measured_lra}", "{measured_thresh}"})
                rest.remove(QLatin1String(measured));
        }
        EXPECT_FALSE(rest.contains(QLatin1Char('{')) || rest.contains(QLatin1Char('}'))) << id;
    }
    const struct { const char *id, *kind; } expected[] = {{"video-h264", "video"}, {"video-hevc", "video"}, {"audio-m4a", "audio"},
        {"normalise-video-14lkfs", "video"}, {"normalise-14lufs", "normalise"}, {"normalise-16lufs", "normalise"}, {"normalise-23lufs", "normalise"}};
    for (const auto &preset : expected)
        EXPECT_EQ(kinds.value(QLatin1String(preset.id)), QLatin1String(preset.kind)) << preset.id;
    EXPECT_GE(limited, 1);
}

TEST_F(ServiceApiTest, badUsageReportsAreRefusedAndNotCounted)
{
    const QString access = accessOf(activateDemo(server()));
    const qint64 before = server().usage().value(QStringLiteral("total")).toInteger();
    const auto with = [](const char *key, const QJsonValue &value) {
        QJsonObject report = usageReport();
        value.isUndefined() ? void(report.remove(QLatin1String(key))) : void(report.insert(QLatin1String(key), value));
        return jsonBody(report);
    };
    for (const QByteArray &bad : {with("process_key", QJsonValue::Undefined), with("process_key", QString()), with("file_count", 1.5),
                                  with("input_bytes", -1), with("filename", 7), QByteArray("[1,2]"), QByteArray("{\"process_key\":")}) {
        const auto [status, body] = server().call("POST", usagePath, bad, access);
        EXPECT_EQ(status, 400) << bad.toStdString();
        EXPECT_FALSE(errorOf(body).isEmpty()) << bad.toStdString();
    }
    EXPECT_EQ(server().call("POST", usagePath, jsonBody(usageReport())).first, 401);
    EXPECT_EQ(server().usage().value(QStringLiteral("total")).toInteger(), before);
}

TEST_F(ServiceApiTest, usageSurvivesARestartAndAnUnreadableUsageFileIsKeptAside)
{
    QTemporaryDir data;
    const QByteArray garbage = "{\"total\": 7, \"reports\": [ truncated";
    writeFile(data.filePath(QStringLiteral("usage.json")), garbage);
    const QStringList arguments{QStringLiteral("--data"), data.path()};
    {
        DevServer first(arguments);
        EXPECT_EQ(first.usage().value(QStringLiteral("total")).toInteger(), 0);
        const QStringList aside = QDir(data.path()).entryList({QStringLiteral("usage.json.unreadable-*")});
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(readFile(data.filePath(aside.first())), garbage);
        const QString access = accessOf(activateDemo(first));
        EXPECT_EQ(first.call("POST", usagePath, jsonBody(usageReport(QStringLiteral("one.wav"))), access).first, 200);
        EXPECT_EQ(first.call("POST", usagePath, jsonBody(usageReport(QStringLiteral("two.wav"))), access).first, 200);
    }
    DevServer second(arguments);
    const QJsonObject usage = second.usage();
    EXPECT_EQ(usage.value(QStringLiteral("total")).toInteger(), 2);
    EXPECT_EQ(at(usage, "reports/1/filename").toString(), QStringLiteral("two.wav"));
    const auto [status, body] = second.call("POST", usagePath, jsonBody(usageReport()), accessOf(activateDemo(second)));
    EXPECT_EQ(jsonObject(body).value(QStringLiteral("total")).toInteger(), 3);
    EXPECT_EQ(jsonObject(readFile(data.filePath(QStringLiteral("usage.json")))).value(QStringLiteral("total")).toInteger(), 3);
}

} // namespace

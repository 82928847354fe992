// The command-line client run as a user would, against the stand-in service.
#include "tests/support/DevServer.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

struct CliResult {
    int exitCode = -1;
    QString out;
    QString err;
};

CliResult runCli(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(VORLIK_CLI_PATH), arguments);
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override { server().reset(); }
    static vorlik::test::DevServer &server() { return vorlik::test::DevServer::shared(); }
    static QString base() { return server().baseUrl().toString(); }
};

TEST_F(Cli, HealthPrintsTheBuildTagWithTheServerBuild)
{
    const auto result = runCli({"--base-url", base(), "health"});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.startsWith("1.2.24 (27) · Server ")) << result.out.toStdString();
}

TEST_F(Cli, ConnectWithTheDemoKeyShowsTheConnectedPill)
{
    const auto result = runCli({"--base-url", base(), "--key", server().demoKey(), "connect"});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.contains("Connecting…\nConnected — ")) << result.out.toStdString();
}

TEST_F(Cli, PresetsListsEveryCardsPreset)
{
    const auto result = runCli({"--base-url", base(), "--key", server().demoKey(), "presets"});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.contains("normalise-video-14lkfs\tvideo")) << result.out.toStdString();
    EXPECT_TRUE(result.out.contains("\tnormalise\t"));
    EXPECT_TRUE(result.out.contains("\taudio\t"));

    const auto json = runCli({"--base-url", base(), "--key", server().demoKey(), "presets", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    EXPECT_EQ(json.out.count('\n'), 1) << "the document alone, on one line:\n" << json.out.toStdString();
    const QJsonObject fields{{"api_key", server().demoKey()}, {"installation_label", "Vorlik Desktop"}};
    const QString bearer =
        QJsonDocument::fromJson(server().call("POST", "/v1/auth/activate", QJsonDocument(fields).toJson()).second)["access_token"]
            .toString();
    QJsonObject sent = QJsonDocument::fromJson(server().call("GET", "/v1/presets", {}, bearer).second).object();
    QJsonObject printed = QJsonDocument::fromJson(json.out.toUtf8()).object();
    ASSERT_FALSE(sent.isEmpty());
    // The time it was made is the only member that may differ between two answers.
    sent.remove("generated_at");
    printed.remove("generated_at");
    EXPECT_EQ(printed, sent);
}

TEST_F(Cli, AWrongKeyFailsWithTheServersAnswer)
{
    const auto result = runCli({"--base-url", base(), "--key", "not-a-key", "connect"});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_TRUE(result.out.contains("Sign in failed"));
    EXPECT_TRUE(result.err.contains("✗ Server error 401: ")) << result.err.toStdString();
}

TEST_F(Cli, AnEmptyKeySendsNothing)
{
    const auto result = runCli({"--base-url", base(), "--key", "   ", "connect"});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_TRUE(result.err.contains("Enter your client key first."));
    EXPECT_EQ(server().requests().size(), 0);
}

TEST_F(Cli, AnUnreachableServiceIsAFailureNotASuccess)
{
    const auto result = runCli({"--base-url", "http://127.0.0.1:1", "health"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.out.startsWith("1.2.24 (27)\n")) << result.out.toStdString();
}

} // namespace

// The command-line client's sign-in, sign-out and keyring commands, run as a user would: against
// the stand-in service, inside a private keyring (tests/support/with-keyring) or where no keyring
// can be reached.
#include "tests/support/DevServer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace {

struct CliResult {
    int exitCode = -1;
    QString out;
    QString err;
};

CliResult runProgram(const QString &program, const QStringList &arguments,
                     const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

CliResult runCli(const QStringList &arguments,
                 const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    return runProgram(QStringLiteral(VORLIK_CLI_PATH), arguments, environment);
}

// The client with `input` on its standard input (a pipe, not a terminal).
CliResult runCliWithInput(const QStringList &arguments, const QByteArray &input)
{
    QProcess process;
    process.start(QStringLiteral(VORLIK_CLI_PATH), arguments);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

// Runs a shell script inside its own unlocked keyring; "$VORLIK" is the client.
CliResult runInKeyring(const QString &script)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VORLIK"), QStringLiteral(VORLIK_CLI_PATH));
    return runProgram(QStringLiteral(VORLIK_WITH_KEYRING_PATH), {QStringLiteral("bash"), QStringLiteral("-c"), script},
                      environment);
}

// No session bus can be reached, so no keyring either.
QProcessEnvironment withoutBus()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/vorlik-bus"));
    return environment;
}

QStringList filesHolding(const QString &root, const QByteArray &secret)
{
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(secret))
            found.append(file.fileName());
    }
    return found;
}

class CliSession : public ::testing::Test {
protected:
    void SetUp() override { server().reset(); }
    static vorlik::test::DevServer &server() { return vorlik::test::DevServer::shared(); }
    static QString base() { return server().baseUrl().toString(); }

    static QList<QJsonObject> requestsTo(const QString &path)
    {
        QList<QJsonObject> found;
        for (const QJsonValue &entry : server().requests())
            if (entry.toObject().value(QStringLiteral("path")).toString() == path)
                found.append(entry.toObject());
        return found;
    }
};

} // namespace

TEST_F(CliSession, ARememberedKeyConnectsUntilItIsForgotten)
{
    const QString script = QStringLiteral(
        "printf '  %1  \\n' | \"$VORLIK\" remember-key - || exit 11\n"
        "\"$VORLIK\" --base-url %2 connect || exit 12\n"
        "\"$VORLIK\" forget-key || exit 13\n"
        "\"$VORLIK\" forget-key || exit 14\n"
        "\"$VORLIK\" --base-url %2 connect && exit 15\n"
        "exit 0\n").arg(server().demoKey(), base());
    const CliResult result = runInKeyring(script);
    ASSERT_EQ(result.exitCode, 0) << result.out.toStdString() << result.err.toStdString();
    EXPECT_EQ(result.out,
              QStringLiteral("Saved — the app connects with this key automatically on launch.\n"
                             "Connecting…\n"
                             "Connected — demo-client\n"
                             "Removed — the app will no longer auto-connect.\n"
                             "Removed — the app will no longer auto-connect.\n"
                             "Not connected\n"));
    EXPECT_TRUE(result.err.contains("✗ No client key")) << result.err.toStdString();
    // The remembered key, read from standard input, was trimmed, and only the one connect with
    // it reached the service.
    EXPECT_EQ(requestsTo(QStringLiteral("/v1/auth/activate")).size(), 1);
}

TEST_F(CliSession, TheKeyComesFromAFileOrStandardInputWithoutAppearingOnTheCommandLine)
{
    QTemporaryDir folder;
    const QString keyFile = folder.filePath(QStringLiteral("key"));
    QFile file(keyFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(server().demoKey().toUtf8() + "\n");
    file.close();
    const QString connected = QStringLiteral("Connecting…\nConnected — demo-client\n");

    const CliResult fromFile = runCli({"--base-url", base(), "--key-file", keyFile, "connect"}, withoutBus());
    EXPECT_EQ(fromFile.exitCode, 0) << fromFile.err.toStdString();
    EXPECT_EQ(fromFile.out, connected);

    const CliResult fromInput = runCliWithInput({"--base-url", base(), "--key", "-", "connect"},
                                                server().demoKey().toUtf8() + "\r\n");
    EXPECT_EQ(fromInput.exitCode, 0) << fromInput.err.toStdString();
    EXPECT_EQ(fromInput.out, connected);

    const CliResult missing = runCli({"--base-url", base(), "--key-file", folder.filePath("none"), "connect"}, withoutBus());
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.err.startsWith(QStringLiteral("vorlik: cannot read the key file ") + folder.filePath("none")))
        << missing.err.toStdString();
    // A command that needs no key does not read one.
    const CliResult health = runCli({"--base-url", base(), "--key-file", folder.filePath("none"), "health"}, withoutBus());
    EXPECT_EQ(health.exitCode, 0) << health.err.toStdString();

    const CliResult help = runCli({"--help"});
    EXPECT_TRUE(help.out.contains(QStringLiteral("--key-file PATH"))) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains(QStringLiteral("--key -"))) << help.out.toStdString();
    // Two activations, both with the key as it was written, without its line ending.
    const QList<QJsonObject> activations = requestsTo(QStringLiteral("/v1/auth/activate"));
    EXPECT_EQ(activations.size(), 2);
}

TEST_F(CliSession, RememberKeyWithOnlySpacesTouchesNoKeyring)
{
    const CliResult result = runCli({"remember-key", "   "}, withoutBus());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, QStringLiteral("Enter a client key first.\n"));
    const CliResult fromInput = runCliWithInput({"remember-key", "-"}, " \t\n");
    EXPECT_EQ(fromInput.exitCode, 1);
    EXPECT_EQ(fromInput.err, QStringLiteral("Enter a client key first.\n"));
}

TEST_F(CliSession, WithoutAKeyringTheKeyIsNotRememberedAnywhere)
{
    const QString key = QStringLiteral("vk_cli_nowhere_probe_77d1");
    const CliResult saved = runCli({"remember-key", key}, withoutBus());
    EXPECT_EQ(saved.exitCode, 1);
    EXPECT_EQ(saved.err, QStringLiteral("Could not save: the keyring reported an error (5).\n"));
    EXPECT_TRUE(saved.out.isEmpty());

    // A desktop whose keyring QtKeychain would fall back from to a plain-text file.
    QProcessEnvironment kde = withoutBus();
    kde.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("KDE"));
    kde.insert(QStringLiteral("KDE_SESSION_VERSION"), QStringLiteral("4"));
    const CliResult fallback = runCli({"remember-key", key}, kde);
    EXPECT_EQ(fallback.exitCode, 1);
    EXPECT_TRUE(fallback.err.startsWith(QStringLiteral("Could not save: the keyring reported an error (")));

    EXPECT_EQ(filesHolding(QDir::homePath(), key.toUtf8()), QStringList());

    const CliResult removed = runCli({"forget-key"}, withoutBus());
    EXPECT_EQ(removed.exitCode, 1);
    EXPECT_EQ(removed.err, QStringLiteral("Could not remove: the keyring reported an error (5).\n"));
}

TEST_F(CliSession, ConnectWithoutAnyKeyShowsNotConnectedAndSendsNothing)
{
    const CliResult result = runCli({"--base-url", base(), "connect"}, withoutBus());
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.out, QStringLiteral("Not connected\n"));
    EXPECT_EQ(server().requests().size(), 0);
}

TEST_F(CliSession, ARejectedSessionShowsTheStoresMessage)
{
    server().addFault(QJsonObject{{"method", "GET"}, {"path", "/v1/presets"}, {"action", "status"}, {"status", 403}});
    const CliResult result = runCli({"--base-url", base(), "--key", server().demoKey(), "connect"});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.out, QStringLiteral("Connecting…\nSign in failed\n"));
    EXPECT_EQ(result.err, QStringLiteral("✗ The server rejected this session — check your client key.\n"));
}

TEST_F(CliSession, PresetsWithoutAPresetListConnectsButFails)
{
    server().addFault(QJsonObject{{"method", "GET"}, {"path", "/v1/presets"}, {"action", "status"}, {"status", 500}});
    const CliResult result = runCli({"--base-url", base(), "--key", server().demoKey(), "presets"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, QStringLiteral("Connecting…\nConnected — demo-client\n"));
    EXPECT_TRUE(result.err.contains("preset list is unavailable")) << result.err.toStdString();
}

// The document `presets --json` prints is fetched again after signing in, and checked as the
// sign-in's was: a preset list that does not decode is not printed.
TEST_F(CliSession, PresetsJsonPrintsOnlyADocumentThatDecodes)
{
    // The sign-in's fetch is answered as usual, the second one with JSON that is no preset list.
    server().addFault(QJsonObject{{"method", "GET"}, {"path", "/v1/presets"}, {"action", "delay"}, {"delay_ms", 0}});
    server().addFault(QJsonObject{
        {"method", "GET"}, {"path", "/v1/presets"}, {"action", "status"}, {"status", 200}, {"body", "{\"presets\": 7}"}});
    const CliResult result = runCli({"--base-url", base(), "--key", server().demoKey(), "presets", "--json"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, QString());
    EXPECT_TRUE(result.err.contains(QStringLiteral("\n✗ The service's preset list could not be read ("))) << result.err.toStdString();
}

TEST_F(CliSession, ConvertWithoutAPresetListSaysSoBeforeQueueingAnything)
{
    server().addFault(QJsonObject{{"method", "GET"}, {"path", "/v1/presets"}, {"action", "status"}, {"status", 500}, {"count", -1}});
    QTemporaryDir folder;
    const QString source = folder.filePath(QStringLiteral("a.wav"));
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const CliResult result = runCli({"--base-url", base(), "--key", server().demoKey(), "convert", "--preset", "audio-m4a",
                                     "--output-dir", folder.path(), source});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains(QStringLiteral("✗ Connected, but the service's preset list is unavailable.\n")))
        << result.err.toStdString();
    EXPECT_FALSE(result.out.contains(QStringLiteral("a.wav"))) << "nothing is queued: " << result.out.toStdString();
}

TEST_F(CliSession, LogoutSignsOutOnTheServiceAndDisconnects)
{
    const CliResult result = runCli({"--base-url", base(), "--key", server().demoKey(), "logout"});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("Connecting…\nConnected — demo-client\nNot connected\n"));
    const QList<QJsonObject> logouts = requestsTo(QStringLiteral("/v1/auth/logout"));
    ASSERT_EQ(logouts.size(), 1);
    EXPECT_EQ(logouts.first().value("method").toString(), QStringLiteral("POST"));
}

TEST_F(CliSession, ALogoutTheServiceNeverAnsweredStillDisconnectsButFails)
{
    server().addFault(QJsonObject{{"method", "POST"}, {"path", "/v1/auth/logout"}, {"action", "close"}, {"count", -1}});
    const CliResult result = runCli({"--base-url", base(), "--key", server().demoKey(), "logout"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.out.endsWith(QStringLiteral("Not connected\n"))) << result.out.toStdString();
    EXPECT_EQ(result.err, QStringLiteral("✗ The service did not confirm the sign-out.\n"));
}

#include "tests/app/cli/CliTest.h"
#include "tests/support/TestFiles.h"

#include <QDirIterator>

using namespace vorlik::test;

namespace {

class CliSession : public CliTest {};

// No session bus can be reached, so no keyring either.
const QMap<QString, QString> noBus{{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vorlik-bus"}};

QJsonObject presetsFault(int status, int count = 1)
{
    return {{"method", "GET"}, {"path", "/v1/presets"}, {"action", "status"}, {"status", status}, {"count", count}};
}

TEST_F(CliSession, EachCommandsStatusAndWordsAgainstTheService)
{
    QTemporaryDir folder;
    const QString base = server().baseUrl().toString();
    const QString keyFile = folder.filePath("key"), source = folder.filePath("a.wav"), probe = "vk_cli_nowhere_probe_77d1";
    writeFile(keyFile, server().demoKey().toUtf8() + "\n");
    writeFile(source, {});
    // A desktop whose keyring QtKeychain would leave for a plain file.
    const QMap<QString, QString> kde{
        {"DBUS_SESSION_BUS_ADDRESS", noBus.first()}, {"XDG_CURRENT_DESKTOP", "KDE"}, {"KDE_SESSION_VERSION", "4"}};
    const QString connected = "^Connecting…\nConnected — demo-client\n";
    const struct Row {
        const char *what; QStringList arguments; int status; QString out, err;
        QList<QJsonObject> faults = {};
        ProgramSetting setting = {};
        QString counted = {}; // a path whose requests are counted ("" for all of them)
        int count = -1;       // -1: not counted
    } rows[] = {
        {"health", {"--base-url", base, "health"}, 0, "^1.2.24 (27) · Server ", "^$"},
        {"no service", {"--base-url", "http://127.0.0.1:1", "health"}, 1, "^1.2.24 (27)\n", ""},
        {"connect", signedIn() << "connect", 0, connected + "$", "^$", {}, {}, "/v1/auth/activate", 1},
        {"wrong key", with("not-a-key") << "connect", 3, "Sign in failed", "✗ Server error 401: "},
        {"empty key", with("   ") << "connect", 3, "", "Enter your client key first.", {}, {}, "", 0},
        {"no key anywhere", {"--base-url", base, "connect"}, 3, "^Not connected\n$", "", {}, {noBus}, "", 0},
        {"key file", {"--base-url", base, "--key-file", keyFile, "connect"}, 0, connected + "$", "^$", {}, {noBus}, "/v1/auth/activate", 1},
        {"key on input", {"--base-url", base, "--key", "-", "connect"}, 0, connected + "$", "^$", {},
         {{}, server().demoKey().toUtf8() + "\r\n"}, "/v1/auth/activate", 1},
        {"no key file", {"--base-url", base, "--key-file", folder.filePath("none"), "connect"}, 2, "^$",
         "^vorlik: cannot read the key file " + folder.filePath("none"), {}, {noBus}},
        {"a command without a key reads none", {"--base-url", base, "--key-file", folder.filePath("none"), "health"}, 0,
         "", "^$", {}, {noBus}},
        {"remember blanks", {"remember-key", "   "}, 1, "^$", "^Enter a client key first.\n$", {}, {noBus}},
        {"remember blank input", {"remember-key", "-"}, 1, "^$", "^Enter a client key first.\n$", {}, {noBus, " \t\n"}},
        {"remember without keyring", {"remember-key", probe}, 1, "^$",
         "^Could not save: the keyring reported an error (5).\n$", {}, {noBus}},
        {"remember without keyring on KDE", {"remember-key", probe}, 1, "^$", "^Could not save: the keyring reported an error (", {}, {kde}},
        {"forget without keyring", {"forget-key"}, 1, "^$", "^Could not remove: the keyring reported an error (5).\n$", {}, {noBus}},
        {"session rejected", signedIn() << "connect", 3, "^Connecting…\nSign in failed\n$",
         "^✗ The server rejected this session — check your client key.\n$", {presetsFault(403)}},
        {"no preset list", signedIn() << "presets", 1, connected + "$", "preset list is unavailable", {presetsFault(500)}},
        // The sign-in's fetch answered as usual, the second one with JSON that is no preset list.
        {"presets --json undecodable", signedIn() << "presets" << "--json", 1, "^$",
         "\n✗ The service's preset list could not be read (",
         {{{"method", "GET"}, {"path", "/v1/presets"}, {"action", "delay"}, {"delay_ms", 0}},
          {{"method", "GET"}, {"path", "/v1/presets"}, {"action", "status"}, {"status", 200}, {"body", "{\"presets\": 7}"}}}},
        {"convert without a preset list queues nothing",
         signedIn() << "convert" << "--preset" << "audio-m4a" << "--output-dir" << folder.path() << source, 1,
         connected + "$", "✗ Connected, but the service's preset list is unavailable.\n", {presetsFault(500, -1)}},
        {"logout", signedIn() << "logout", 0, connected + "Not connected\n$", "^$", {}, {}, "/v1/auth/logout", 1},
        {"logout unanswered", signedIn() << "logout", 1, "Not connected\n$", "^✗ The service did not confirm the sign-out.\n$",
         {{{"method", "POST"}, {"path", "/v1/auth/logout"}, {"action", "close"}, {"count", -1}}}},
    };
    for (const Row &row : rows) {
        server().reset();
        for (const QJsonObject &fault : row.faults)
            server().addFault(fault);
        expectRun(cli(row.arguments, row.setting), row.status, row.out, row.err, row.what);
        EXPECT_TRUE(row.count < 0 || requestsTo(row.counted) == row.count) << row.what << ": " << requestsTo(row.counted);
    }
    // The key that could not be remembered is nowhere in the home folder either.
    QDirIterator it(QDir::homePath(), QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext())
        EXPECT_FALSE(readFile(it.next()).contains(probe.toUtf8())) << it.filePath().toStdString();
}

TEST_F(CliSession, ARememberedKeyConnectsUntilItIsForgotten)
{
    const QString script = QString("printf '  %1  \\n' | \"$VORLIK\" remember-key - || exit 11\n"
                                   "\"$VORLIK\" --base-url %2 connect || exit 12\n\"$VORLIK\" forget-key || exit 13\n"
                                   "\"$VORLIK\" forget-key || exit 14\n\"$VORLIK\" --base-url %2 connect && exit 15\nexit 0\n")
                               .arg(server().demoKey(), server().baseUrl().toString());
    const ProgramRun run = runProgram(VORLIK_WITH_KEYRING_PATH, {"bash", "-c", script}, {{{"VORLIK", VORLIK_CLI_PATH}}});
    const QString removed = "Removed — the app will no longer auto-connect.\n";
    const QString saved = "^Saved — the app connects with this key automatically on launch.\n";
    expectRun(run, 0, saved + "Connecting…\nConnected — demo-client\n" + removed + removed + "Not connected\n$", "✗ No client key", "keyring");
    // The key read from standard input was trimmed, and only the one connect with it reached the service.
    EXPECT_EQ(requestsTo("/v1/auth/activate"), 1);
}

TEST_F(CliSession, PresetsListsEveryCardsPresetAndJsonIsTheServicesDocument)
{
    const ProgramRun text = cli(signedIn() << "presets");
    expectRun(text, 0, "normalise-video-14lkfs\tvideo", "^$", "presets");
    EXPECT_TRUE(text.out.contains("\tnormalise\t") && text.out.contains("\taudio\t")) << text.out.toStdString();

    const ProgramRun json = cli(signedIn() << "presets" << "--json");
    ASSERT_EQ(json.status, 0) << json.err.toStdString();
    EXPECT_EQ(json.out.count('\n'), 1) << "the document alone, on one line:\n" << json.out.toStdString();
    QJsonObject sent = QJsonDocument::fromJson(server().call("GET", "/v1/presets", {}, bearer()).second).object();
    QJsonObject printed = QJsonDocument::fromJson(json.out.toUtf8()).object();
    ASSERT_FALSE(sent.isEmpty());
    sent.remove("generated_at"); // the only member that may differ between two answers
    printed.remove("generated_at");
    EXPECT_EQ(printed, sent);
}

} // namespace

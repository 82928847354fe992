#include "app/cli/CommandLine.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

using vorlik::app::CommandLine;

TEST(CommandLine, ProgramOptionsThenCommandItsOptionsAndArguments)
{
    const auto line = CommandLine::parse({"vorlik", "--base-url", "http://127.0.0.1:9", "--key", "k", "-vorlikDiag",
                                          "YES", "convert", "a.wav", "--preset", "p", "--jobs=2", "b.wav"});
    EXPECT_TRUE(line.error.isEmpty()) << line.error.toStdString();
    EXPECT_EQ(line.baseUrl.value(), "http://127.0.0.1:9");
    EXPECT_EQ(line.key.value(), "k");
    EXPECT_EQ(line.settingOverrides, (QStringList{"-vorlikDiag", "YES"}));
    EXPECT_EQ(line.command, "convert");
    EXPECT_EQ(line.option("preset").value(), "p");
    EXPECT_EQ(line.option("jobs").value(), "2");
    EXPECT_EQ(line.arguments, (QStringList{"a.wav", "b.wav"}));
}

TEST(CommandLine, TheKeyFromAFileOrStandardInput)
{
    const auto fromFile = CommandLine::parse({"vorlik", "--key-file", "/run/user/1000/vorlik.key", "connect"});
    EXPECT_TRUE(fromFile.error.isEmpty()) << fromFile.error.toStdString();
    EXPECT_EQ(fromFile.keyFile.value(), "/run/user/1000/vorlik.key");
    EXPECT_FALSE(fromFile.key);
    const auto fromInput = CommandLine::parse({"vorlik", "--key", "-", "remember-key"});
    EXPECT_EQ(fromInput.key.value(), "-");
    EXPECT_EQ(fromInput.command, "remember-key");
}

TEST(CommandLine, HelpOfTheProgramAndOfEachCommand)
{
    for (const QStringList &words : {QStringList{"vorlik", "help", "analyse"}, QStringList{"vorlik", "analyse", "--help"},
                                     QStringList{"vorlik", "analyse", "-h", "a.wav"}}) {
        const auto line = CommandLine::parse(words);
        EXPECT_TRUE(line.error.isEmpty() && line.help && line.command == "analyse") << words.join(' ').toStdString();
        EXPECT_TRUE(line.helpText().contains("--save-report DIR")) << line.helpText().toStdString();
        EXPECT_TRUE(line.helpText().contains("Exit status:"));
    }
    const auto program = CommandLine::parse({"vorlik", "--help"});
    EXPECT_TRUE(program.help && program.command.isEmpty());
    for (const char *text : {"Commands:", "  convert ", "-SETTING VALUE", "Exit status:", "  3 "})
        EXPECT_TRUE(program.helpText().contains(text)) << text;
}

// Every command's usage errors, on the real program: status 2, one line on the error stream,
// nothing on the output, before any network (the service named here does not exist).
TEST(CommandLine, UsageErrorsAreOneLineAndStatusTwo)
{
    const struct {
        QStringList words;
        const char *says;
    } cases[] = {
        {{}, "no command given"},
        {{"--bogus", "health"}, "Unknown option 'bogus'"},
        {{"--key"}, "Missing value after '--key'"},
        {{"--key", "k", "--key-file", "f", "connect"}, "give the key once"},
        {{"-vorlikDiag"}, "-vorlikDiag needs a value"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"help", "frobnicate"}, "unknown command 'frobnicate'"},
        {{"connect", "now"}, "connect: unexpected argument 'now'"},
        {{"health", "--verbose"}, "health: Unknown option 'verbose'"},
        {{"presets", "--jsn"}, "presets: Unknown option 'jsn'"},
        {{"logout", "--all"}, "logout: Unknown option 'all'"},
        {{"remember-key", "a", "b"}, "remember-key: unexpected argument 'b'"},
        {{"forget-key", "x"}, "forget-key: unexpected argument 'x'"},
        {{"convert", "a.wav"}, "convert needs --preset ID"},
        {{"convert", "--preset", "p"}, "convert needs the files to convert"},
        {{"convert", "a.wav", "--preset"}, "convert: Missing value after '--preset'"},
        {{"convert", "--preset", "p", "--jobs", "0", "a.wav"}, "--jobs needs a whole number of at least 1"},
        {{"convert", "--preset", "p", "a.wav", "--output-dir"}, "convert: Missing value after '--output-dir'"},
        {{"convert", "--preset", "p", "--out", "x", "a.wav"}, "convert: Unknown option 'out'"},
        {{"analyse"}, "analyse needs at least one audio file or folder"},
        {{"analyse", "a.wav", "--save-report"}, "analyse: Missing value after '--save-report'"},
        {{"analyse", "--save-report", "/nonexistent/reports", "a.wav"}, "--save-report: no folder at /nonexistent/reports"},
        {{"analyse", "--jsn", "a.wav"}, "analyse: Unknown option 'jsn'"},
        {{"update"}, "update needs one of check, download, install"},
        {{"update", "now"}, "update needs one of check, download, install, not 'now'"},
        {{"update", "check", "now"}, "update: unexpected argument 'now'"},
        {{"ffmpeg"}, "ffmpeg needs: install"},
        {{"ffmpeg", "install", "--from"}, "ffmpeg: Missing value after '--from'"},
    };
    for (const auto &usage : cases) {
        QProcess process;
        process.start(QStringLiteral(VORLIK_CLI_PATH),
                      QStringList{"--base-url", "http://127.0.0.1:1"} + usage.words);
        process.closeWriteChannel();
        ASSERT_TRUE(process.waitForFinished(30000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        const std::string context = usage.words.join(' ').toStdString() + " -> " + err.toStdString();
        EXPECT_EQ(process.exitCode(), 2) << context;
        EXPECT_TRUE(err.startsWith("vorlik: ") && err.endsWith('\n') && err.count('\n') == 1) << context;
        EXPECT_TRUE(err.contains(QString::fromUtf8(usage.says))) << context;
        EXPECT_TRUE(process.readAllStandardOutput().isEmpty()) << context;
    }
}

// The bash completion, asked as bash asks it, with the built program first on the PATH.
TEST(CommandLine, BashCompletesCommandsAndEachCommandsOptions)
{
    const struct {
        QString words; // the last word is the one being completed
        QString offers;
    } cases[] = {
        {"vorlik an", "analyse"},
        {"vorlik --key-file k.txt rem", "remember-key"},
        {"vorlik --ba", "--base-url"},
        {"vorlik convert --o", "--output-dir"},
        {"vorlik -vorlikDiag YES analyse --s", "--save-report"},
        {"vorlik presets --j", "--json"},
        {"vorlik update d", "download"},
        {"vorlik help con", "connect convert"},
    };
    const QString folder = QFileInfo(QStringLiteral(VORLIK_CLI_PATH)).absolutePath();
    for (const auto &completion : cases) {
        const QString script = QStringLiteral("source '" VORLIK_CLI_COMPLETION "'; COMP_WORDS=(%1); COMP_CWORD=%2; _vorlik; "
                                              "echo \"${COMPREPLY[*]}\"")
                                   .arg(completion.words)
                                   .arg(completion.words.count(u' '));
        QProcess bash;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PATH"), folder + u':' + environment.value(QStringLiteral("PATH")));
        bash.setProcessEnvironment(environment);
        bash.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
        ASSERT_TRUE(bash.waitForFinished(30000));
        EXPECT_EQ(QString::fromUtf8(bash.readAllStandardOutput()).trimmed(), completion.offers) << completion.words.toStdString();
    }
}

// Preset ids come from the service: completion offers each as one word, as it stands (readline quotes
// it), and runs none of it. File names are offered whole, spaces and all.
TEST(CommandLine, BashCompletionOffersServiceTextAndFileNamesAsTheyStand)
{
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("my media")));
    const struct {
        const char *words; // the last word is the one being completed
        const char *offers; // one line per offer
    } cases[] = {
        {"vorlik convert --preset ''", "$(touch made-by-completion)\nab`touch made-by-completion`\nloud-14\nloud *"},
        {"vorlik convert --preset lo", "loud-14\nloud *"},
        {"vorlik convert --preset '$'", "$(touch made-by-completion)"},
        {"vorlik analyse my", "my media"},
        {"vorlik convert --output-dir 'my m'", "my media"},
    };
    for (const auto &completion : cases) {
        // A stand-in for a signed-in vorlik whose service sends hostile preset ids.
        const QString script = QStringLiteral("source '" VORLIK_CLI_COMPLETION "'; "
                                              "vorlik() { printf '%s\\tx\\ty\\n' '$(touch made-by-completion)' "
                                              "'ab`touch made-by-completion`' loud-14 'loud *'; }; "
                                              "COMP_WORDS=(%1); COMP_CWORD=%2; _vorlik; printf '%s\\n' \"${COMPREPLY[@]}\"")
                                   .arg(QString::fromUtf8(completion.words))
                                   .arg(QString::fromUtf8(completion.words).count(u' '));
        QProcess bash;
        bash.setWorkingDirectory(folder.path());
        bash.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
        ASSERT_TRUE(bash.waitForFinished(30000));
        EXPECT_EQ(bash.readAllStandardOutput().trimmed().toStdString(), completion.offers)
            << completion.words << "\n" << bash.readAllStandardError().toStdString();
        EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("made-by-completion")))) << completion.words;
    }
}

#include "app/cli/CommandLine.h"
#include "tests/support/ProgramRun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

using vorlik::app::CommandLine;
using namespace vorlik::test;

TEST(CommandLine, ProgramOptionsThenCommandItsOptionsAndArgumentsAndEachWayToAskForHelp)
{
    const auto line = CommandLine::parse({"vorlik", "--base-url", "http://127.0.0.1:9", "--key", "k", "-vorlikDiag",
                                          "YES", "convert", "a.wav", "--preset", "p", "--jobs=2", "b.wav"});
    EXPECT_TRUE(line.error.isEmpty()) << line.error.toStdString();
    EXPECT_EQ(line.baseUrl.value() + line.key.value(), "http://127.0.0.1:9k");
    EXPECT_EQ(line.settingOverrides, (QStringList{"-vorlikDiag", "YES"}));
    EXPECT_EQ(line.command + line.option("preset").value() + line.option("jobs").value(), "convertp2");
    EXPECT_EQ(line.arguments, (QStringList{"a.wav", "b.wav"}));
    for (const QStringList &words : {QStringList{"vorlik", "help", "analyse"}, QStringList{"vorlik", "analyse", "--help"},
                                     QStringList{"vorlik", "analyse", "-h", "a.wav"}}) {
        const auto help = CommandLine::parse(words);
        EXPECT_TRUE(help.error.isEmpty() && help.help && help.command == "analyse") << words.join(' ').toStdString();
        EXPECT_TRUE(help.helpText().contains("--save-report DIR")) << help.helpText().toStdString();
    }
    const auto program = CommandLine::parse({"vorlik", "--help"});
    EXPECT_TRUE(program.help && program.command.isEmpty());
    for (const char *text : {"  convert ", "-SETTING VALUE", "--key-file PATH", "--key -", "Exit status:"})
        EXPECT_TRUE(program.helpText().contains(text)) << text;
}

// Every command's usage errors, on the real program: status 2, one line on the error stream,
// nothing on the output, before any network (the service named here does not exist).
TEST(CommandLine, UsageErrorsAreOneLineAndStatusTwo)
{
    const struct { QStringList words; const char *says; } cases[] = {
        {{}, "no command given"}, {{"--bogus", "health"}, "Unknown option 'bogus'"}, {{"--key"}, "Missing value after '--key'"},
        {{"--key", "k", "--key-file", "f", "connect"}, "give the key once"}, {{"-vorlikDiag"}, "-vorlikDiag needs a value"},
        {{"frobnicate"}, "unknown command 'frobnicate'"}, {{"help", "frobnicate"}, "unknown command 'frobnicate'"},
        {{"connect", "now"}, "connect: unexpected argument 'now'"}, {{"health", "--verbose"}, "health: Unknown option 'verbose'"},
        {{"remember-key", "a", "b"}, "remember-key: unexpected argument 'b'"}, {{"convert", "a.wav"}, "convert needs --preset ID"},
        {{"convert", "--preset", "p"}, "convert needs the files to convert"},
        {{"convert", "--preset", "p", "--jobs", "0", "a.wav"}, "--jobs needs a whole number of at least 1"},
        {{"convert", "--preset", "p", "a.wav", "--output-dir"}, "convert: Missing value after '--output-dir'"},
        {{"convert", "--preset", "p", "--out", "x", "a.wav"}, "convert: Unknown option 'out'"},
        {{"analyse"}, "analyse needs at least one audio file or folder"},
        {{"analyse", "--save-report", "/nonexistent/reports", "a.wav"}, "--save-report: no folder at /nonexistent/reports"},
        {{"update"}, "update needs one of check, download, install"}, {{"update", "check", "now"}, "update: unexpected argument 'now'"},
        {{"update", "now"}, "update needs one of check, download, install, not 'now'"}, {{"ffmpeg"}, "ffmpeg needs: install"},
        {{"ffmpeg", "install", "--from"}, "ffmpeg: Missing value after '--from'"},
    };
    for (const auto &usage : cases) {
        const ProgramRun run = runProgram(VORLIK_CLI_PATH, QStringList{"--base-url", "http://127.0.0.1:1"} + usage.words);
        const std::string context = usage.words.join(' ').toStdString() + " -> " + run.err.toStdString();
        EXPECT_EQ(run.status, 2) << context;
        EXPECT_TRUE(run.err.startsWith("vorlik: ") && run.err.endsWith('\n') && run.err.count('\n') == 1) << context;
        EXPECT_TRUE(run.err.contains(QString::fromUtf8(usage.says))) << context;
        EXPECT_TRUE(run.out.isEmpty()) << context;
    }
}

// What bash offers for `words` (the last one is being completed), one offer a line; `before`
// runs first.
QString completions(const QString &words, const QString &before = {}, const ProgramSetting &setting = {})
{
    const QString script = "source '" VORLIK_CLI_COMPLETION "'; " + before + "COMP_WORDS=(" + words
                           + "); COMP_CWORD=" + QString::number(words.count(u' ')) + "; _vorlik; printf '%s\\n' \"${COMPREPLY[@]}\"";
    return runProgram("bash", {"-c", script}, setting).out.trimmed();
}

// Asked as bash asks it, with the built program first on the PATH. Preset ids come from the
// service: completion offers each as one word, as it stands (readline quotes it), and runs none
// of it. File names are offered whole, spaces and all.
TEST(CommandLine, BashCompletesCommandsOptionsServiceTextAndFileNamesAsTheyStand)
{
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkpath("my media"));
    const ProgramSetting program{{{"PATH", QFileInfo(VORLIK_CLI_PATH).absolutePath() + u':' + qEnvironmentVariable("PATH")}}};
    // A stand-in for a signed-in vorlik whose service sends hostile preset ids.
    const QString hostile = "vorlik() { printf '%s\\tx\\ty\\n' '$(touch made-by-completion)' 'ab`touch made-by-completion`' "
                            "loud-14 'loud *'; }; ";
    const struct { const char *words, *offers; bool hostile = false; } cases[] = {
        {"vorlik an", "analyse"}, {"vorlik --key-file k.txt rem", "remember-key"},
        {"vorlik --ba", "--base-url"}, {"vorlik convert --o", "--output-dir"},
        {"vorlik -vorlikDiag YES analyse --s", "--save-report"}, {"vorlik presets --j", "--json"},
        {"vorlik update d", "download"}, {"vorlik help con", "connect\nconvert"},
        {"vorlik convert --preset ''", "$(touch made-by-completion)\nab`touch made-by-completion`\nloud-14\nloud *", true},
        {"vorlik convert --preset lo", "loud-14\nloud *", true},
        {"vorlik convert --preset '$'", "$(touch made-by-completion)", true},
        {"vorlik analyse my", "my media", true}, {"vorlik convert --output-dir 'my m'", "my media", true},
    };
    for (const auto &completion : cases) {
        const QString offered = completion.hostile ? completions(completion.words, hostile, {{}, {}, folder.path()})
                                                   : completions(completion.words, {}, program);
        EXPECT_EQ(offered, completion.offers) << completion.words;
        EXPECT_FALSE(QFileInfo::exists(folder.filePath("made-by-completion"))) << completion.words;
    }
}

#include "app/cli/CommandLine.h"

#include <gtest/gtest.h>

using vorlik::app::CommandLine;

TEST(CommandLine, GlobalOptionsThenCommandAndItsArguments)
{
    const auto line = CommandLine::parse({"vorlik", "--base-url", "http://127.0.0.1:9", "--key", "k", "-vorlikDiag",
                                          "YES", "convert", "--preset", "p", "a.wav"});
    EXPECT_TRUE(line.error.isEmpty()) << line.error.toStdString();
    EXPECT_EQ(line.baseUrl.value(), "http://127.0.0.1:9");
    EXPECT_EQ(line.key.value(), "k");
    EXPECT_EQ(line.settingOverrides, (QStringList{"-vorlikDiag", "YES"}));
    EXPECT_EQ(line.command, "convert");
    EXPECT_EQ(line.arguments, (QStringList{"--preset", "p", "a.wav"}));
}

TEST(CommandLine, ProblemsAreReportedNotGuessed)
{
    EXPECT_EQ(CommandLine::parse({"vorlik"}).error, "no command given");
    EXPECT_EQ(CommandLine::parse({"vorlik", "--key"}).error, "--key needs a value");
    EXPECT_EQ(CommandLine::parse({"vorlik", "--bogus", "health"}).error, "unknown option --bogus");
    EXPECT_EQ(CommandLine::parse({"vorlik", "--help"}).command, "help");
    EXPECT_EQ(CommandLine::parse({"vorlik", "--key-file"}).error, "--key-file needs a value");
    EXPECT_EQ(CommandLine::parse({"vorlik", "--key", "k", "--key-file", "f", "connect"}).error,
              "give the key once: --key or --key-file");
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

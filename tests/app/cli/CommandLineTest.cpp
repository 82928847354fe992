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
}

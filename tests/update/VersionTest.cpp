// Version texts and their order.
#include "update/Version.h"

#include <gtest/gtest.h>

using vorlik::update::Version;

namespace {

struct Parsed {
    const char *text;
    std::optional<Version> expected;
};

class VersionParsing : public ::testing::TestWithParam<Parsed> {};

TEST_P(VersionParsing, FollowsTheDottedRule)
{
    EXPECT_EQ(Version::parse(QString::fromUtf8(GetParam().text)), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionParsing,
    ::testing::Values(Parsed{"1.2.24", Version{1, 2, 24}}, Parsed{"2", Version{2, 0, 0}}, Parsed{"1.2", Version{1, 2, 0}},
                      Parsed{"01.002.0024", Version{1, 2, 24}}, Parsed{"0.0.0", Version{0, 0, 0}},
                      Parsed{"+1.2.3", Version{1, 2, 3}}, Parsed{"1.+2", Version{1, 2, 0}},
                      Parsed{"1.2.24.1", std::nullopt}, Parsed{"1..2", std::nullopt}, Parsed{"1.2.x", std::nullopt},
                      Parsed{"1.-2", std::nullopt}, Parsed{"-0", std::nullopt}, Parsed{"-1.2.3", std::nullopt},
                      Parsed{"", std::nullopt}, Parsed{".", std::nullopt}, Parsed{"1.2.", std::nullopt},
                      Parsed{" 1.2", std::nullopt}, Parsed{"1.2 ", std::nullopt}, Parsed{"+", std::nullopt},
                      Parsed{"1.0x10", std::nullopt}, Parsed{"99999999999999999999", std::nullopt},
                      Parsed{"١.٢", std::nullopt}));

TEST(VersionOrder, ComparesMajorThenMinorThenPatch)
{
    const auto v = [](const char *text) { return *Version::parse(QString::fromLatin1(text)); };
    EXPECT_LT(v("1.2.23"), v("1.2.24"));
    EXPECT_LT(v("1.2.99"), v("1.3"));
    EXPECT_LT(v("1.99.99"), v("2"));
    EXPECT_EQ(v("1.2"), v("1.2.0"));
    EXPECT_EQ(v("01.002.0024"), v("1.2.24"));
    EXPECT_GT(v("1.10"), v("1.9")); // numbers, not texts
}

} // namespace

// The stop request shared by long work and whoever may stop it.
#include "platform/CancellationToken.h"

#include <gtest/gtest.h>

using vorlik::platform::CancellationToken;

namespace {

TEST(CancellationToken, CancelRunsEachRegisteredActionOnce)
{
    CancellationToken token;
    int runs = 0;
    const auto first = token.onCancel([&] { ++runs; });
    const auto second = token.onCancel([&] { runs += 10; });
    const CancellationToken copy = token;
    copy.cancel();
    token.cancel();
    EXPECT_EQ(runs, 11);
    EXPECT_TRUE(token.isCancelled());
}

TEST(CancellationToken, ALateRegistrationRunsAtOnce)
{
    CancellationToken token;
    token.cancel();
    bool ran = false;
    const auto late = token.onCancel([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(CancellationToken, AGoneRegistrationIsNotRun)
{
    CancellationToken token;
    bool ran = false;
    {
        const auto scoped = token.onCancel([&] { ran = true; });
    }
    CancellationToken::Registration moved = token.onCancel([&] { ran = true; });
    moved = CancellationToken::Registration();
    token.cancel();
    EXPECT_FALSE(ran);
    EXPECT_FALSE(CancellationToken().isCancelled());
}

TEST(CancellationToken, ARegistrationMayOutliveItsToken)
{
    CancellationToken::Registration kept;
    {
        CancellationToken token;
        kept = token.onCancel([] {});
    }
    SUCCEED(); // destroying `kept` now must not touch the freed state
}

} // namespace

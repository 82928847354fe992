#include "platform/CancellationToken.h"

#include <gtest/gtest.h>

using vorlik::platform::CancellationToken;

TEST(CancellationToken, CancelRunsEachLiveRegistrationOnceAndALateOneAtOnce)
{
    CancellationToken::Registration outlivesItsToken;
    {
        CancellationToken gone;
        outlivesItsToken = gone.onCancel([] {}); // destroyed after the token: must not touch freed state
    }
    CancellationToken token;
    EXPECT_FALSE(token.isCancelled());
    int runs = 0;
    const auto first = token.onCancel([&] { ++runs; });
    const auto second = token.onCancel([&] { runs += 10; });
    {
        const auto scoped = token.onCancel([&] { runs += 100; });
    }
    CancellationToken::Registration moved = token.onCancel([&] { runs += 1000; });
    moved = CancellationToken::Registration();
    const CancellationToken copy = token;
    copy.cancel();
    token.cancel();
    EXPECT_EQ(runs, 11);
    EXPECT_TRUE(token.isCancelled());
    const auto late = token.onCancel([&] { runs = -1; });
    EXPECT_EQ(runs, -1);
}

#include <gtest/gtest.h>

#include "Runtime/LiveTokens.h"

// A dropped token finds nothing, even after its object got a new token, and
// no token is ever issued twice.
TEST(LiveTokens, DroppedTokensStayDeadAndAreNeverReissued) {
    kv::LiveTokens<int> tokens;
    int a = 1, b = 2;
    uintptr_t ta = tokens.Issue(&a);
    const uintptr_t tb = tokens.Issue(&b);
    EXPECT_NE(ta, 0u);
    EXPECT_NE(ta, tb);
    EXPECT_EQ(tokens.Find(ta), &a);
    EXPECT_EQ(tokens.Find(tb), &b);

    const uintptr_t old = ta;
    tokens.Drop(ta);
    EXPECT_EQ(ta, 0u);
    EXPECT_EQ(tokens.Find(old), nullptr);
    EXPECT_EQ(tokens.Find(0), nullptr);
    tokens.Drop(ta);  // dropping an empty token does nothing
    const uintptr_t again = tokens.Issue(&a);
    EXPECT_NE(again, old);
    EXPECT_NE(again, tb);
    EXPECT_EQ(tokens.Find(old), nullptr);
    EXPECT_EQ(tokens.Find(tb), &b);
}

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Runtime/RefCounted.h"

namespace {
struct Node : CRefThreadSafeBase<Node> {
    explicit Node(int* deletions) : deletions_(deletions) {}
    virtual ~Node() { ++*deletions_; }
    CRefPtr<Node> child;
    int* deletions_;
};
}  // namespace

TEST(RefPtr, CountsCopiesMovesAndSelfAssignment) {
    int deletions = 0;
    {
        CRefPtr<Node> a(new Node(&deletions));
        EXPECT_EQ(a->RefCountForTesting(), 1);
        CRefPtr<Node> b = a;
        EXPECT_EQ(a->RefCountForTesting(), 2);
        CRefPtr<Node> c = std::move(b);
        EXPECT_FALSE(b);
        EXPECT_EQ(a->RefCountForTesting(), 2);
        a = a;  // self-assignment keeps the object
        c = c.get();
        EXPECT_EQ(a->RefCountForTesting(), 2);
        c.reset();
        EXPECT_EQ(deletions, 0);
    }
    EXPECT_EQ(deletions, 1);
}

TEST(RefPtr, AssigningAnObjectItsOwnChildIsSafe) {
    int deletions = 0;
    CRefPtr<Node> parent(new Node(&deletions));
    parent->child = new Node(&deletions);
    // The old object (parent) holds the only other reference to the new one;
    // AddRef before Release keeps the child alive across the swap.
    parent = parent->child;
    EXPECT_EQ(deletions, 1);
    EXPECT_EQ(parent->RefCountForTesting(), 1);
    parent.reset();
    EXPECT_EQ(deletions, 2);
}

TEST(RefPtr, ConcurrentCopiesDeleteExactlyOnce) {
    int deletions = 0;
    for (int round = 0; round < 50; ++round) {
        CRefPtr<Node> shared(new Node(&deletions));
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([copy = shared]() mutable {
                for (int i = 0; i < 1000; ++i) {
                    CRefPtr<Node> local = copy;
                    local.reset();
                }
            });
        shared.reset();
        for (auto& t : threads) t.join();
    }
    EXPECT_EQ(deletions, 50);
}

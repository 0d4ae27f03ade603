// The split policy of parallel downloads and the check of range answers:
// tables of plans, speeds and the work handed out; Content-Range texts and
// their verdicts.
#include <gtest/gtest.h>

#include "Http/RangePlan.h"
#include "Http/RangeTransfer.h"

namespace {

constexpr uint64_t MiB = 1024 * 1024;
constexpr double kUnknown = CRangePlan::kUnknownSpeed;

// A plan with the given ranges [next, end) owned by the given slots.
CRangePlan PlanOf(uint64_t total, const std::vector<CRangePlan::Range>& ranges) {
    CRangePlan plan;
    std::vector<ByteRange> missing;
    for (const auto& r : ranges) missing.push_back({r.next, r.end});
    plan.Reset(total, missing, 1);  // one range each
    std::vector<double> none(8, kUnknown);
    for (const auto& r : ranges) {
        if (r.owner == CRangePlan::kNoOwner) continue;
        CRangePlan::Work w;
        // Unowned ranges go out lowest first, so owners claim them in order.
        EXPECT_TRUE(plan.Assign(r.owner, none, &w));
        EXPECT_EQ(w.from, r.next);
    }
    return plan;
}

}  // namespace

TEST(RangePlan, SplitsEvenlyAtAlignedPointsAndNeverBelowTheMinimumPiece) {
    struct Case {
        uint64_t from, to;
        size_t pieces;
        size_t expectedCount;
    } cases[] = {
        {0, 16 * MiB, 4, 4},
        {32768, 8 * MiB, 4, 4},       // after a probe's first bytes
        {0, 3 * MiB, 4, 2},           // too short for four pieces of 1 MiB
        {0, MiB, 4, 1},
        {5 * MiB + 7, 260 * MiB + 3, 4, 4},
        {0, 16 * MiB, 1, 1},
    };
    for (const Case& c : cases) {
        const auto parts = CRangePlan::SplitEvenly(c.from, c.to, c.pieces);
        ASSERT_EQ(parts.size(), c.expectedCount) << c.from << "-" << c.to;
        EXPECT_EQ(parts.front().from, c.from);
        EXPECT_EQ(parts.back().to, c.to);
        for (size_t i = 0; i < parts.size(); ++i) {
            if (i > 0) {
                EXPECT_EQ(parts[i].from, parts[i - 1].to);
                EXPECT_EQ(parts[i].from % CRangePlan::kAlign, 0u);
            }
            if (parts.size() > 1) {
                EXPECT_GE(parts[i].to - parts[i].from, CRangePlan::kMinPiece);
            }
        }
    }
    EXPECT_EQ(CRangePlan::SplitEvenly(0, 16 * MiB, 4)[1], (ByteRange{4 * MiB, 8 * MiB}));
    EXPECT_TRUE(CRangePlan::SplitEvenly(5, 5, 4).empty());
}

TEST(RangePlan, ResumedGapsGetPiecesInProportionToTheirLength) {
    CRangePlan plan;
    plan.Reset(16 * MiB, {{0, 2 * MiB}, {10 * MiB, 16 * MiB}}, 4);
    ASSERT_EQ(plan.Ranges().size(), 4u);  // 1 for the 2 MiB gap, 3 for the 6 MiB one
    EXPECT_EQ(plan.Ranges()[0].end, 2 * MiB);
    EXPECT_EQ(plan.Ranges()[1].next, 10 * MiB);
    EXPECT_EQ(plan.MissingBytes(), 8 * MiB);
    EXPECT_EQ(plan.Prefix(), 0u);
}

// A resumed control file may hold as many gaps as a plan can: a long one is
// not cut so finely that the cap has to join later gaps over written bytes.
// Regression: the last gaps were merged with what lay between them.
TEST(RangePlan, ResumedGapsAtTheCapAreNeverJoinedOverWrittenBytes) {
    std::vector<ByteRange> missing = {{0, 20 * MiB}};
    for (uint64_t at = 21 * MiB; missing.size() < CRangePlan::kMaxRanges; at += MiB) missing.push_back({at, at + MiB / 2});
    CRangePlan plan;
    plan.Reset(64 * MiB, missing, 4);
    EXPECT_LE(plan.Ranges().size(), CRangePlan::kMaxRanges);
    EXPECT_EQ(plan.MissingBytes(), 20 * MiB + (missing.size() - 1) * (MiB / 2));
    for (const CRangePlan::Range& r : plan.Ranges()) {
        bool inside = false;
        for (const ByteRange& m : missing) inside = inside || (r.next >= m.from && r.end <= m.to);
        EXPECT_TRUE(inside) << "range " << r.next << "-" << r.end << " holds written bytes";
    }
}

TEST(RangePlan, WorkGoesToUnownedRangesFirstThenToTheSlowestRange) {
    struct Case {
        const char* what;
        std::vector<CRangePlan::Range> ranges;  // next, end, owner
        std::vector<double> speeds;             // per slot
        int slot;
        bool assigned;
        CRangePlan::Work work;
    } cases[] = {
        {"an unowned range, the lowest one",
         {{0, 4 * MiB, 0}, {4 * MiB, 8 * MiB, CRangePlan::kNoOwner}, {8 * MiB, 12 * MiB, CRangePlan::kNoOwner}},
         {100, kUnknown},
         1,
         true,
         {4 * MiB, 8 * MiB, CRangePlan::kNoOwner}},
        {"equal speeds: the far half", {{0, 8 * MiB, 0}}, {100, 100}, 1, true, {4 * MiB, 8 * MiB, 0}},
        {"unknown speeds count as equal", {{0, 8 * MiB, 0}}, {kUnknown, kUnknown}, 1, true, {4 * MiB, 8 * MiB, 0}},
        {"an owner three times slower keeps a quarter", {{0, 8 * MiB, 0}}, {100, 300}, 1, true, {2 * MiB, 8 * MiB, 0}},
        {"a stalled owner loses all it has not written",
         {{3 * MiB, 8 * MiB, 0}},
         {0, 300},
         1,
         true,
         {3 * MiB, 8 * MiB, 0}},
        {"a stalled owner loses even a short rest", {{0, MiB / 2, 0}}, {0, 300}, 1, true, {0, MiB / 2, 0}},
        {"too short to share", {{0, 2 * MiB - 1, 0}}, {100, 100}, 1, false, {}},
        {"the range that takes longest, not the longest range",
         {{0, 12 * MiB, 0}, {12 * MiB, 16 * MiB, 1}},
         {1000, 10, 100},
         2,
         true,
         {13 * MiB, 16 * MiB, 1}},  // 91 % of it, but the owner keeps the minimum piece
        {"a much faster slot still leaves the owner the minimum piece",
         {{0, 3 * MiB, 0}},
         {1, 1000},
         1,
         true,
         {MiB, 3 * MiB, 0}},
    };
    for (const Case& c : cases) {
        CRangePlan plan = PlanOf(16 * MiB, c.ranges);
        const uint64_t missingBefore = plan.MissingBytes();
        CRangePlan::Work work;
        ASSERT_EQ(plan.Assign(c.slot, c.speeds, &work), c.assigned) << c.what;
        if (!c.assigned) continue;
        EXPECT_EQ(work.from, c.work.from) << c.what;
        EXPECT_EQ(work.end, c.work.end) << c.what;
        EXPECT_EQ(work.victim, c.work.victim) << c.what;
        ASSERT_NE(plan.RangeOf(c.slot), nullptr);
        EXPECT_EQ(plan.RangeOf(c.slot)->next, work.from);
        // A split moves bytes between owners; it never adds or loses any.
        EXPECT_EQ(plan.MissingBytes(), missingBefore) << c.what;
        if (work.victim != CRangePlan::kNoOwner && plan.RangeOf(work.victim)) {
            EXPECT_EQ(plan.RangeOf(work.victim)->end, work.from) << c.what;
        }
    }
}

TEST(RangePlan, ReleasedRangesStayUntilWrittenAndThePrefixFollows) {
    CRangePlan plan;
    plan.Reset(16 * MiB, {{0, 16 * MiB}}, 2);
    const std::vector<double> speeds(2, kUnknown);
    CRangePlan::Work a, b;
    ASSERT_TRUE(plan.Assign(0, speeds, &a));
    ASSERT_TRUE(plan.Assign(1, speeds, &b));
    EXPECT_FALSE(plan.Assign(0, speeds, &a)) << "a slot owns one range at a time";
    plan.Advance(1, 12 * MiB);
    plan.Release(1);  // cut off mid-range: the rest waits for an owner
    EXPECT_EQ(plan.Missing(), (std::vector<ByteRange>{{0, 8 * MiB}, {12 * MiB, 16 * MiB}}));
    plan.Advance(0, 99 * MiB);  // a position past the end counts as the end
    plan.Release(0);
    EXPECT_EQ(plan.Prefix(), 12 * MiB);
    EXPECT_EQ(plan.Ranges().size(), 1u);
    ASSERT_TRUE(plan.Assign(0, speeds, &a));
    EXPECT_EQ(a.from, 12 * MiB);
    plan.Advance(0, 16 * MiB);
    plan.Release(0);
    EXPECT_TRUE(plan.Complete());
    EXPECT_EQ(plan.Prefix(), 16 * MiB);
}

TEST(RangeTransfer, OnlyA206WithTheRangeAskedForIsTaken) {
    using V = CRangeTransfer::Verdict;
    struct Case {
        int32_t status;
        const wchar_t* contentRange;
        V verdict;
    } cases[] = {
        {206, L"bytes 100-199/1000", V::Partial},
        {206, L"BYTES 100-999/1000", V::Partial},       // the unit in any case
        {206, L"bytes   100-150/1000", V::Partial},     // a shorter answer is still this range
        {206, L"bytes 0-99/1000", V::Mismatch},         // not where it was asked to start
        {206, L"bytes 100-199/999", V::Mismatch},       // another package size
        {206, L"", V::Mismatch},                        // no Content-Range
        {206, L"bytes */1000", V::Mismatch},
        {206, L"bytes 199-100/1000", V::Mismatch},
        {206, L"bytes 100-1000/1000", V::Mismatch},     // past the end
        {206, L"bytes 100-199/1000x", V::Mismatch},
        {206, L"bytes 100-199/99999999999999999999", V::Mismatch},  // 20 digits
        {206, L"items 100-199/1000", V::Mismatch},
        {206, L"bytes100-199/1000", V::Mismatch},
        {200, L"", V::Whole},                           // the server ignores ranges
        {200, L"bytes 100-199/1000", V::Whole},
        {204, L"", V::Mismatch},
        {302, L"", V::Pending},                         // a redirect: the answer comes later
        {100, L"", V::Pending},
        {416, L"bytes */1000", V::Error},
        {503, L"", V::Error},
        {700, L"", V::Error},                           // no status read
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CRangeTransfer::Judge(c.status, c.contentRange, 100, 1000), c.verdict)
            << c.status << " " << std::string(c.contentRange, c.contentRange + wcslen(c.contentRange));
    }
}

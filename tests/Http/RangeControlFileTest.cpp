// The control file of parallel downloads as hostile input: its layout, every
// truncation and single-byte damage, contents that pass the checksums but
// break the rules, random mutations, and what a download makes of each.
#include <gtest/gtest.h>

#include <random>

#include "Http/RangeControlFile.h"
#include "support/Files.h"
#include "support/MessagePump.h"

namespace {

using Parse = CRangeControlFile::Parse;
using Resume = CRangeControlFile::Resume;
constexpr uint64_t MiB = 1024 * 1024;

CRangeControlFile::State StateOf(uint64_t total, std::vector<ByteRange> missing) {
    CRangeControlFile::State s;
    s.total = total;
    s.missing = std::move(missing);
    s.prefix = s.missing.empty() ? total : s.missing.front().from;
    return s;
}

const CRangeControlFile::State kSample = StateOf(16 * MiB, {{3 * MiB, 4 * MiB}, {9 * MiB, 12 * MiB}, {15 * MiB, 16 * MiB}});

}  // namespace

TEST(RangeControlFile, LayoutIsTheDocumentedOne) {
    const std::string bytes = CRangeControlFile::Encode(kSample);
    ASSERT_EQ(bytes.size(), CRangeControlFile::kHeaderBytes + 3 * CRangeControlFile::kRangeBytes + 4);
    EXPECT_EQ(bytes.substr(0, 4), "KVRG");
    EXPECT_EQ(bytes[4], 1);  // version, little-endian
    EXPECT_EQ(bytes[6], 3);  // range count
    EXPECT_EQ(static_cast<unsigned char>(bytes[8 + 3]), 0x01u);   // 16 MiB = 0x01000000
    EXPECT_EQ(static_cast<unsigned char>(bytes[16 + 2]), 0x30u);  // prefix 3 MiB = 0x300000
    CRangeControlFile::State back;
    ASSERT_EQ(CRangeControlFile::Decode(bytes, &back), Parse::Valid);
    EXPECT_EQ(back.total, kSample.total);
    EXPECT_EQ(back.prefix, kSample.prefix);
    EXPECT_EQ(back.missing, kSample.missing);
    const auto none = StateOf(8 * MiB, {});
    ASSERT_EQ(CRangeControlFile::Decode(CRangeControlFile::Encode(none), &back), Parse::Valid);
    EXPECT_TRUE(back.missing.empty());
    EXPECT_EQ(back.prefix, 8 * MiB);
}

// A cut file keeps its header (and so its prefix) as long as the header is
// whole; below that nothing is trusted.
TEST(RangeControlFile, EveryTruncationIsRejectedAndKeepsOnlyAWholeHeader) {
    const std::string bytes = CRangeControlFile::Encode(kSample);
    for (size_t length = 0; length < bytes.size(); ++length) {
        CRangeControlFile::State state;
        const Parse parse = CRangeControlFile::Decode(bytes.substr(0, length), &state);
        if (length < CRangeControlFile::kHeaderBytes) {
            EXPECT_EQ(parse, Parse::Unreadable) << length;
        } else {
            EXPECT_EQ(parse, Parse::PrefixOnly) << length;
            EXPECT_EQ(state.prefix, kSample.prefix);
            EXPECT_TRUE(state.missing.empty());
        }
    }
    CRangeControlFile::State state;
    EXPECT_EQ(CRangeControlFile::Decode(bytes + '\0', &state), Parse::PrefixOnly) << "one byte too many";
}

TEST(RangeControlFile, EveryDamagedByteIsCaught) {
    const std::string good = CRangeControlFile::Encode(kSample);
    for (size_t at = 0; at < good.size(); ++at) {
        for (unsigned char flip : {0x01, 0x80, 0xFF}) {
            std::string bad = good;
            bad[at] = static_cast<char>(bad[at] ^ flip);
            CRangeControlFile::State state;
            const Parse parse = CRangeControlFile::Decode(bad, &state);
            if (at < CRangeControlFile::kHeaderBytes) {
                EXPECT_EQ(parse, Parse::Unreadable) << "byte " << at;
            } else {
                EXPECT_EQ(parse, Parse::PrefixOnly) << "byte " << at;
                EXPECT_EQ(state.prefix, kSample.prefix);
            }
        }
    }
}

// Contents with correct checksums that no download writes.
TEST(RangeControlFile, RangesThatBreakTheRulesAreNotTrusted) {
    struct Case {
        const char* what;
        CRangeControlFile::State state;
        Parse parse;
    } cases[] = {
        {"overlapping", StateOf(16 * MiB, {{1 * MiB, 5 * MiB}, {4 * MiB, 6 * MiB}}), Parse::PrefixOnly},
        {"out of order", StateOf(16 * MiB, {{8 * MiB, 9 * MiB}, {1 * MiB, 2 * MiB}}), Parse::PrefixOnly},
        {"empty range", StateOf(16 * MiB, {{1 * MiB, 1 * MiB}}), Parse::PrefixOnly},
        {"past the package", StateOf(16 * MiB, {{1 * MiB, 17 * MiB}}), Parse::PrefixOnly},
        {"too many ranges: larger than any control file", StateOf(1000 * MiB, std::vector<ByteRange>(CRangePlan::kMaxRanges + 1)),
         Parse::Unreadable},
        {"adjacent ranges are fine", StateOf(16 * MiB, {{1 * MiB, 2 * MiB}, {2 * MiB, 3 * MiB}}), Parse::Valid},
    };
    for (auto& c : cases) {
        CRangeControlFile::State state;
        EXPECT_EQ(CRangeControlFile::Decode(CRangeControlFile::Encode(c.state), &state), c.parse) << c.what;
    }
    CRangeControlFile::State state;
    auto withPrefix = kSample;
    withPrefix.prefix = 2 * MiB;  // not where the first gap begins
    EXPECT_EQ(CRangeControlFile::Decode(CRangeControlFile::Encode(withPrefix), &state), Parse::PrefixOnly);
    withPrefix.prefix = 17 * MiB;  // past the package: the header itself is wrong
    EXPECT_EQ(CRangeControlFile::Decode(CRangeControlFile::Encode(withPrefix), &state), Parse::Unreadable);
    EXPECT_EQ(CRangeControlFile::Decode(CRangeControlFile::Encode(StateOf(0, {})), &state), Parse::Unreadable);
}

// Replays a fixed seed: random damage never passes as a state that breaks
// the rules.
TEST(RangeControlFile, RandomMutationsNeverYieldAnInvalidState) {
    std::mt19937 random(20240611);
    const std::string good = CRangeControlFile::Encode(kSample);
    for (int round = 0; round < 20000; ++round) {
        std::string bytes = good;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            switch (random() % 3) {
                case 0: bytes[random() % bytes.size()] = static_cast<char>(random()); break;
                case 1: bytes.resize(random() % (bytes.size() + 1)); break;
                default: bytes.append(random() % 40, static_cast<char>(random())); break;
            }
            if (bytes.empty()) bytes = good;
        }
        CRangeControlFile::State state;
        const Parse parse = CRangeControlFile::Decode(bytes, &state);
        if (parse == Parse::Unreadable) continue;
        ASSERT_LE(state.prefix, state.total);
        uint64_t floor = state.prefix;
        for (const ByteRange& r : state.missing) {
            ASSERT_GE(r.from, floor);
            ASSERT_LT(r.from, r.to);
            ASSERT_LE(r.to, state.total);
            floor = r.to;
        }
    }
}

// What the download does with the partial file, for each state of the
// control file.
TEST(RangeControlFile, OnlyAMatchingFileResumesItsRangesOtherwiseAKnownPrefix) {
    const auto valid = kSample;
    struct Case {
        const char* what;
        Parse parse;
        uint64_t expected, fileLength;
        Resume::Kind kind;
        uint64_t prefix;
    } cases[] = {
        {"no control file: a plain prefix", Parse::Absent, 16 * MiB, 5 * MiB, Resume::Plain, 0},
        {"all matches", Parse::Valid, 16 * MiB, 16 * MiB, Resume::Ranges, 0},
        {"file of another length", Parse::Valid, 16 * MiB, 10 * MiB, Resume::Prefix, 3 * MiB},
        {"file shorter than the prefix", Parse::Valid, 16 * MiB, 2 * MiB, Resume::Prefix, 2 * MiB},
        {"another package size", Parse::Valid, 20 * MiB, 16 * MiB, Resume::Prefix, 3 * MiB},
        {"range list damaged", Parse::PrefixOnly, 16 * MiB, 16 * MiB, Resume::Prefix, 3 * MiB},
        {"header damaged: nothing is known", Parse::Unreadable, 16 * MiB, 16 * MiB, Resume::Prefix, 0},
    };
    for (const Case& c : cases) {
        const Resume r = CRangeControlFile::Decide(c.parse, valid, c.expected, c.fileLength);
        EXPECT_EQ(r.kind, c.kind) << c.what;
        if (c.kind == Resume::Prefix) {
            EXPECT_EQ(r.prefix, c.prefix) << c.what;
        }
        if (c.kind == Resume::Ranges) {
            EXPECT_EQ(r.missing, valid.missing) << c.what;
        }
    }
    // A finished run whose control file was left behind: the file is whole.
    EXPECT_EQ(CRangeControlFile::Decide(Parse::Valid, StateOf(16 * MiB, {}), 16 * MiB, 16 * MiB).kind, Resume::Plain);
}

TEST(RangeControlFile, SavedAtomicallyAndReadBackWithinItsSizeCap) {
    TempDir dir;
    const std::wstring path = CRangeControlFile::PathFor(dir.File(L"pkg.tmp"));
    CRangeControlFile::State state;
    EXPECT_EQ(CRangeControlFile::Load(path, &state), Parse::Absent);
    ASSERT_TRUE(CRangeControlFile::Save(path, kSample));
    ASSERT_TRUE(CRangeControlFile::Save(path, StateOf(16 * MiB, {{9 * MiB, 12 * MiB}})));  // replaces
    ASSERT_EQ(CRangeControlFile::Load(path, &state), Parse::Valid);
    EXPECT_EQ(state.missing, (std::vector<ByteRange>{{9 * MiB, 12 * MiB}}));
    EXPECT_EQ(::GetFileAttributesW((path + L".new").c_str()), INVALID_FILE_ATTRIBUTES) << "the temporary stayed";

    FILE* f = _wfopen(path.c_str(), L"ab");
    ASSERT_NE(f, nullptr);
    const std::string junk(CRangeControlFile::kMaxBytes, 'x');
    std::fwrite(junk.data(), 1, junk.size(), f);
    std::fclose(f);
    EXPECT_EQ(CRangeControlFile::Load(path, &state), Parse::Unreadable) << "an oversized file is not read";
    EXPECT_TRUE(CRangeControlFile::Remove(path));
    EXPECT_TRUE(CRangeControlFile::Remove(path)) << "removing what is not there is fine";
}

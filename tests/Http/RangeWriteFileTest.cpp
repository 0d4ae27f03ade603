// The sink of one range connection: gathered bytes count as written only
// once they are in the file, and the range's end (lowered or not) bounds
// what reaches it.
#include <gtest/gtest.h>

#include <windows.h>

#include "DownloadTestSupport.h"
#include "Http/RangeWriteFile.h"

namespace {

constexpr uint64_t kFileSize = 1024 * 1024;
constexpr uint32_t kGather = RangeWriteFile::kGatherBytes;

class RangeWriteFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.File(L"range.bin");
        uint32_t error = 0;
        file = RangeWriteFile::OpenShared(path, kFileSize, &error);
        ASSERT_TRUE(file) << error;
        data = TestBytes(kFileSize, 7);
    }
    std::shared_ptr<RangeCursor> Cursor(uint64_t from, uint64_t end) {
        auto cursor = std::make_shared<RangeCursor>();
        cursor->position.store(from);
        cursor->end.store(end);
        return cursor;
    }
    // Hands the sink data[from, from + count) as the transfer would.
    int32_t Feed(RangeWriteFile& sink, uint64_t from, uint32_t count) {
        return sink.Write(data.data() + from, count);
    }
    std::string InFile(uint64_t from, uint64_t count) const { return ReadFileBytes(path).substr(from, count); }
    std::string Data(uint64_t from, uint64_t count) const { return data.substr(from, count); }
    static std::string Zeros(uint64_t count) { return std::string(count, '\0'); }

    TempDir dir;
    std::wstring path;
    RangeWriteFile::SharedFile file;
    std::string data;
};

}  // namespace

TEST_F(RangeWriteFileTest, GatheredBytesCountOnlyOnceInTheFile) {
    auto cursor = Cursor(100, kFileSize);
    RangeWriteFile sink(file, cursor);
    for (uint64_t at = 100; at < 100 + 3 * 16384; at += 16384) ASSERT_EQ(Feed(sink, at, 16384), 16384);
    EXPECT_EQ(cursor->position.load(), 100u) << "gathered bytes were counted before they were written";
    EXPECT_TRUE(InFile(100, 3 * 16384) == Zeros(3 * 16384));

    ASSERT_TRUE(sink.Flush());
    uint64_t next = 100 + 3 * 16384;
    EXPECT_EQ(cursor->position.load(), next);
    EXPECT_TRUE(InFile(100, 3 * 16384) == Data(100, 3 * 16384));

    // A full gather goes to the file by itself; the rest waits for Close.
    ASSERT_EQ(Feed(sink, next, kGather + 10), static_cast<int32_t>(kGather + 10));
    EXPECT_EQ(cursor->position.load(), next + kGather);
    sink.Close();
    next += kGather + 10;
    EXPECT_EQ(cursor->position.load(), next);
    EXPECT_TRUE(InFile(100, next - 100) == Data(100, next - 100));
    EXPECT_TRUE(InFile(0, 100) == Zeros(100));
}

// A range whose last byte arrives is in the file at once (its connection's
// end is judged from the position), and a piece past the end is cut there.
TEST_F(RangeWriteFileTest, RangeIsInTheFileWhenItsLastByteArrives) {
    struct Case {
        const char* name;
        uint32_t pieces[3];  // fed in turn; 0 ends the list
        int32_t lastTaken;
    };
    const Case cases[] = {
        {"ends on a piece", {20000, 20000, 0}, 20000},
        {"last piece passes the end", {30000, 15000, 0}, 10000},
        {"one piece passes the end", {50000, 0, 0}, 40000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto cursor = Cursor(200000, 240000);
        RangeWriteFile sink(file, cursor);
        uint64_t at = 200000;
        int32_t taken = 0;
        for (uint32_t piece : c.pieces) {
            if (piece == 0) break;
            taken = Feed(sink, at, piece);
            at += piece;
        }
        EXPECT_EQ(taken, c.lastTaken);
        EXPECT_EQ(cursor->position.load(), 240000u);
        EXPECT_TRUE(InFile(200000, 40000) == Data(200000, 40000));
        EXPECT_TRUE(InFile(240000, 1000) == Zeros(1000)) << "a byte past the range";
        EXPECT_EQ(Feed(sink, 240000, 100), 0) << "the range is complete";
    }
}

// The range was split while bytes were gathered: only what lies before the
// new end is written; the rest is the new owner's.
TEST_F(RangeWriteFileTest, LoweredEndDropsTheGatheredBytesPastIt) {
    auto cursor = Cursor(0, 500000);
    RangeWriteFile sink(file, cursor);
    ASSERT_EQ(Feed(sink, 0, 100000), 100000);
    cursor->end.store(60000);
    ASSERT_TRUE(sink.Flush());
    EXPECT_EQ(cursor->position.load(), 60000u);
    EXPECT_TRUE(InFile(0, 60000) == Data(0, 60000));
    EXPECT_TRUE(InFile(60000, 40000) == Zeros(40000));
    EXPECT_EQ(Feed(sink, 100000, 1000), 0) << "the transfer goes on past its end";
    sink.Close();
    EXPECT_EQ(cursor->position.load(), 60000u);
}

// A write that fails loses the gathered bytes: they are never counted, and
// no later byte is taken (it would land where the lost ones belong).
TEST_F(RangeWriteFileTest, FailedWriteCountsNothingAndTakesNothingMore) {
    auto readOnly = std::make_shared<RangeFileHandle>();
    readOnly->handle.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(readOnly->handle);
    auto cursor = Cursor(4096, kFileSize);
    RangeWriteFile sink(readOnly, cursor);
    ASSERT_EQ(Feed(sink, 4096, 1000), 1000);  // gathered
    EXPECT_FALSE(sink.Flush());
    EXPECT_EQ(sink.LastErrorType(), 1);
    EXPECT_EQ(cursor->position.load(), 4096u);
    EXPECT_EQ(Feed(sink, 5096, 1000), -1);
    EXPECT_FALSE(sink.Flush());
    sink.Close();
    EXPECT_EQ(cursor->position.load(), 4096u);
}

// The download's file sink: append on open, reset, error pairs, sharing.
#include <gtest/gtest.h>

#include <windows.h>

#include "DownloadTestSupport.h"
#include "Http/DownloadWriteFile.h"

TEST(DownloadWriteFile, OpenAppendsAndResetStartsAgainAtZero) {
    TempDir dir;
    const std::wstring path = dir.File(L"a.bin");
    WriteBytes(path, "abc");
    DownloadWriteFile sink;
    ASSERT_TRUE(sink.Open(path));
    EXPECT_EQ(sink.OpenedSize(), 3u);
    EXPECT_EQ(sink.Write("def", 3), 3);
    sink.Reset();
    EXPECT_EQ(sink.Write("xy", 2), 2);
    sink.Close();
    EXPECT_EQ(ReadFileBytes(path), "xy");
    // Reopening appends to what is there.
    ASSERT_TRUE(sink.Open(path));
    EXPECT_EQ(sink.Write("z", 1), 1);
    sink.Close();
    EXPECT_EQ(ReadFileBytes(path), "xyz");
}

TEST(DownloadWriteFile, ErrorsCarryTheirPairs) {
    TempDir dir;
    DownloadWriteFile sink;
    EXPECT_EQ(sink.Write("a", 1), -1);
    EXPECT_EQ(sink.LastErrorCode(), 2001);
    EXPECT_EQ(sink.LastErrorType(), 3);
    EXPECT_FALSE(sink.Open(dir.File(L"missing\\a.bin")));
    EXPECT_EQ(sink.LastErrorCode(), 2020);
    EXPECT_EQ(sink.LastErrorType(), 1);
    ASSERT_TRUE(sink.Open(dir.File(L"b.bin")));  // open closes first, forgets the error and...
    sink.Close();
    EXPECT_EQ(sink.lastError, 0u);  // ...closing keeps what it has
}

TEST(DownloadWriteFile, ResetWithoutAnOpenFileDeletesIt) {
    TempDir dir;
    const std::wstring path = dir.File(L"c.bin");
    DownloadWriteFile sink;
    ASSERT_TRUE(sink.Open(path));
    sink.Write("data", 4);
    sink.Close();
    ASSERT_EQ(FileSizeOf(path), 4);
    sink.Reset();
    EXPECT_EQ(FileSizeOf(path), -1);
}

// Other writers are kept out while the download writes; readers are not.
TEST(DownloadWriteFile, DeniesOtherWriters) {
    TempDir dir;
    const std::wstring path = dir.File(L"d.bin");
    DownloadWriteFile sink;
    ASSERT_TRUE(sink.Open(path));
    HANDLE writer = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    HANDLE reader = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) ::CloseHandle(reader);
}

namespace {
// A sparse file of `size` bytes (no disk space used on the host).
bool MakeSizedFile(const std::wstring& path, int64_t size) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER at;
    at.QuadPart = size;
    const bool ok = ::SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(h);
    ::CloseHandle(h);
    return ok;
}
constexpr int64_t kBeyond4GiB = (int64_t{1} << 32) + 10;
}  // namespace

// Positions past 4 GiB: the sink appends at the true end.
TEST(DownloadWriteFile, AppendsToFilesLargerThan4GiB) {
    TempDir dir;
    const std::wstring path = dir.File(L"huge.bin");
    ASSERT_TRUE(MakeSizedFile(path, kBeyond4GiB));
    DownloadWriteFile sink;
    ASSERT_TRUE(sink.Open(path));
    EXPECT_EQ(sink.OpenedSize(), static_cast<uint64_t>(kBeyond4GiB));
    EXPECT_EQ(sink.Write("z", 1), 1);
    sink.Close();
    EXPECT_EQ(FileSizeOf(path), kBeyond4GiB + 1);
    ::DeleteFileW(path.c_str());
}

// The local size is measured in 64 bits: a complete file beyond 4 GiB is
// recognised as complete and nothing is requested.
TEST_F(DownloadTest, CompleteFileLargerThan4GiBMakesNoRequest) {
    ASSERT_TRUE(MakeSizedFile(target, kBeyond4GiB));
    server.Route("/pkg.exe", TestHttpResponse::Ok("short"));
    ASSERT_TRUE(StartDownload(server.WideUrl("/pkg.exe"), kBeyond4GiB));
    ASSERT_TRUE(WaitDone(2000));
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.code, 0);
    EXPECT_EQ(server.RequestCount(), 0u);
    task.Stop();
    ::DeleteFileW(target.c_str());
}

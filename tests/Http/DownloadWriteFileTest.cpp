// The download's file sink: append on open, reset, error pairs, sharing.
#include <gtest/gtest.h>

#include <windows.h>

#include "DownloadTestSupport.h"
#include "Http/DownloadWriteFile.h"

TEST(DownloadWriteFile, OpenAppendsAndResetStartsAgainAtZero) {
    TempDir dir;
    const std::wstring path = dir.File(L"a.bin");
    WriteFileBytes(path, "abc");
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
    ASSERT_TRUE(sink.Open(dir.File(L"b.bin")));  // open closes first and...
    sink.Close();
    EXPECT_EQ(sink.lastError, 0u);  // ...closing clears the error
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

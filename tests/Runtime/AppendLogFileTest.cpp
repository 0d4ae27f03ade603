// The /LOG= file: appended to as UTF-8 and never truncated, and refused when
// it is anything but a plain file with one name.
#include <gtest/gtest.h>

#include <windows.h>

#include "Runtime/AppendLogFile.h"
#include "Runtime/LogSinks.h"
#include "support/Files.h"
#include "support/MessagePump.h"


TEST(AppendLogFile, NewFileGetsAMarkThenUtf8LinesFromTheFileLogger) {
    TempDir dir;
    const std::wstring path = dir.File(L"install.log");
    CAppendLogFile file;
    std::wstring why;
    ASSERT_TRUE(file.Open(path, why)) << why;
    UseLogFile(file);
    FileLogger::Instance().LogAt(Info, 7, L"f", L"安装 %d", 12);
    FileLogger::Instance().SetUtf8Output(nullptr);
    FileLogger::Instance().SetOptions(nullptr);
    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_NE(bytes.find("[f:7]\xE5\xAE\x89\xE8\xA3\x85 12\r\n"), std::string::npos) << bytes;  // 安装 in UTF-8
    EXPECT_EQ(bytes.compare(3, 6, "[INFO]"), 0);
    EXPECT_EQ(bytes.find('\0'), std::string::npos);  // no UTF-16 code units
}

TEST(AppendLogFile, AnExistingFileIsOnlyAppendedToByEveryWriter) {
    TempDir dir;
    const std::wstring folder = dir.File(L"a long folder name"), path = folder + L"\\install.log";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    WriteBytes(path, "earlier run\r\n");
    // The second installer names it by its short (8.3) name, as %TEMP% often does.
    wchar_t shortFolder[MAX_PATH] = {};
    ASSERT_TRUE(::GetShortPathNameW(folder.c_str(), shortFolder, MAX_PATH) && folder != shortFolder);
    CAppendLogFile first, second;
    std::wstring why;
    ASSERT_TRUE(first.Open(path, why)) << why;
    ASSERT_TRUE(second.Open(std::wstring(shortFolder) + L"\\install.log", why)) << why;
    EXPECT_TRUE(first.Append("a1\r\n"));
    EXPECT_TRUE(second.Append("b1\r\n"));
    EXPECT_TRUE(first.Append("a2\r\n"));
    EXPECT_EQ(ReadFileBytes(path), "earlier run\r\na1\r\nb1\r\na2\r\n");  // no mark, nothing overwritten
}

TEST(AppendLogFile, RefusesWhatIsNoPlainFileWithOneName) {
    TempDir dir;
    const std::wstring target = dir.File(L"system.dat");
    WriteBytes(target, "precious");
    const std::wstring twin = dir.File(L"install.log");
    const bool linked = ::CreateHardLinkW(twin.c_str(), target.c_str(), nullptr) != 0;
    struct Case {
        std::wstring path;
        const wchar_t* why;
    } cases[] = {
        {dir.Path(), L"cannot be opened"},
        {L"\\\\.\\NUL", L"device"},
        {twin, L"2 names"},
    };
    for (const Case& c : cases) {
        if (c.path == twin && !linked) continue;  // no hard links on this file system
        SCOPED_TRACE(testing::Message() << c.path);
        CAppendLogFile file;
        std::wstring why;
        EXPECT_FALSE(file.Open(c.path, why));
        EXPECT_FALSE(file.IsOpen());
        EXPECT_NE(why.find(c.why), std::wstring::npos) << why;
    }
    EXPECT_TRUE(linked) << "hard link not made: that case was not tried";
    EXPECT_EQ(ReadFileBytes(target), "precious");
}

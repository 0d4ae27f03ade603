#include <gtest/gtest.h>

#include <windows.h>

#include "Runtime/TextUtils.h"

TEST(TextConversions, RoundTripsAndEmptyInputs) {
    EXPECT_EQ(WideToUtf8(L"\u00e9"), "\xC3\xA9");
    EXPECT_EQ(Utf8ToWide("\xC3\xA9"), L"\u00e9");
    const std::wstring chinese = L"安装KorvelQixar";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(chinese)), chinese);
    // Four-byte UTF-8 (a surrogate pair) fits the fixed buffer.
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), L"\U0001F600");
    EXPECT_EQ(WideToAnsi(L""), "");
    EXPECT_EQ(AnsiToWide(""), L"");
    EXPECT_EQ(WideToUtf8(L""), "");
    EXPECT_EQ(Utf8ToWide(""), L"");
    EXPECT_EQ(AnsiToWide(WideToAnsi(L"http://127.0.0.1:80/a?b=c")), L"http://127.0.0.1:80/a?b=c");
}

TEST(TextConversions, UnmappableAnsiCharacterBecomesBlank) {
    if (::GetACP() == CP_UTF8) GTEST_SKIP() << "the ANSI code page maps everything";
    // A character from a script no single ANSI code page holds besides its own.
    const std::string out = WideToAnsi(L"a\u0F40b");
    EXPECT_EQ(out, "a b");
}

TEST(FormatString, FormatsWideArgumentsAndHandlesEdgeCases) {
    EXPECT_EQ(FormatString(nullptr), L"");
    EXPECT_EQ(FormatString(L""), L"");
    EXPECT_EQ(FormatString(L"剩余%s @ %s/s", L"1.5MB", L"200KB"), L"剩余1.5MB @ 200KB/s");
    EXPECT_EQ(FormatString(L"%d|%u|%x|%lld", -1, 4000000000u, 255, -9000000000LL),
              L"-1|4000000000|ff|-9000000000");
    const std::wstring big(5000, L'z');
    EXPECT_EQ(FormatString(L"%s!", big.c_str()), big + L"!");
}

TEST(StringHelpers, ToLowerAndTrim) {
    EXPECT_EQ(ToLower(L"KorvelLauncher.EXE"), L"korvellauncher.exe");
    std::wstring a = L"  x \t";
    EXPECT_EQ(Trim(a), L"x");
    EXPECT_EQ(a, L"x");
    std::wstring blanks = L"   ";
    EXPECT_EQ(Trim(blanks), L"   ");
    std::wstring empty;
    EXPECT_EQ(Trim(empty), L"");
    std::wstring header = L" text/plain\r\n";
    EXPECT_EQ(Trim(header), L"text/plain");
}

TEST(StringHelpers, ReplaceAllNeverRescansReplacements) {
    EXPECT_EQ(ReplaceAll(L"http://host:80/host", L"127.0.0.1", L"host"), L"http://127.0.0.1:80/127.0.0.1");
    EXPECT_EQ(ReplaceAll(L"aaa", L"aa", L"a"), L"aaaaaa");
    EXPECT_EQ(ReplaceAll(L"aaaa", L"b", L"aa"), L"bb");
    EXPECT_EQ(ReplaceAll(L"abc", L"x", L"Z"), L"abc");  // case-sensitive, no match
    EXPECT_EQ(ReplaceAll(L"abc", L"x", L""), L"abc");   // empty pattern terminates
    EXPECT_EQ(ReplaceAll(L"", L"x", L"a"), L"");
}

TEST(StringHelpers, SplitKeepsEmptyPieces) {
    std::vector<std::wstring> list{L"stale"};
    Split(L"a;b;", list);
    EXPECT_EQ(list, (std::vector<std::wstring>{L"a", L"b", L""}));
    Split(L"", list);
    EXPECT_EQ(list, (std::vector<std::wstring>{L""}));
    Split(L"main", list);
    EXPECT_EQ(list, (std::vector<std::wstring>{L"main"}));
    Split(L";;x", list);
    EXPECT_EQ(list, (std::vector<std::wstring>{L"", L"", L"x"}));
}

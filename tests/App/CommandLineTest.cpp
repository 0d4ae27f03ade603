// The installer's command line: the source number as it always was read,
// the switches in every quoting form administrators and scripts use, and
// the lines that are refused.
#include <gtest/gtest.h>

#include "App/CommandLine.h"

namespace {
struct Expected {
    uint16_t sourceId = 0;
    bool silent = false, keep = false, noLaunch = false, help = false;
    const wchar_t* installDir = L"";
    const wchar_t* logPath = L"";
    uint32_t timeout = kDefaultNetworkTimeoutSeconds;
    const wchar_t* language = L"";
};
Expected Silent(const wchar_t* dir = L"", uint16_t source = 0) {
    Expected e;
    e.silent = true;
    e.installDir = dir;
    e.sourceId = source;
    return e;
}
}  // namespace

TEST(CommandLine, GoodLines) {
    Expected all = Silent(L"C:\\Program Files\\KQ", 12);
    all.keep = all.noLaunch = true;
    all.logPath = L"C:\\logs\\kq.log";
    all.timeout = 20;
    Expected gui;
    gui.sourceId = 7;
    gui.noLaunch = true;
    gui.installDir = L"D:\\Games";
    Expected help;
    help.help = true;
    Expected number;
    number.sourceId = 12;
    Expected zero = Silent();
    zero.timeout = 0;
    Expected english = Silent(), traditional;
    english.language = L"en";
    traditional.language = L"zh-TW";
    struct Case {
        const wchar_t* line;
        Expected want;
    } cases[] = {
        // The number alone, as before: whatever _wtoi reads.
        {L"12", number},
        {L"12 abc", number},
        {L"", Expected()},
        // Switches after or instead of the number, in any case.
        {L"12 /S", Silent(L"", 12)},
        {L"12/S", number},  // no blank before the "/": still the number's text
        {L"/s", Silent()},
        {L"  /S  ", Silent()},
        {L"7 /NoLaunch /d=D:\\Games", gui},
        {L"/?", help},
        // /D= unquoted and last, blanks and all; quoted as a value or as a
        // whole argument anywhere.
        {L"/S /D=C:\\Program Files\\KQ", Silent(L"C:\\Program Files\\KQ")},
        {L"/S /D=C:\\Program Files\\KQ  ", Silent(L"C:\\Program Files\\KQ")},
        {L"/S /D=\"C:\\Program Files\\KQ\" /NOLAUNCH", [] { Expected e = Silent(L"C:\\Program Files\\KQ"); e.noLaunch = true; return e; }()},
        {L"\"/D=C:\\Program Files\\KQ\" /S", Silent(L"C:\\Program Files\\KQ")},
        {L"/S \"/D=D:\\KQ\\\"", Silent(L"D:\\KQ\\")},  // a trailing "\" before the quote stays
        {L"12 /S /KEEP /NOLAUNCH \"/LOG=C:\\logs\\kq.log\" /TIMEOUT=20 /D=C:\\Program Files\\KQ", all},
        {L"12 /TIMEOUT=20 /s /log=\"C:\\logs\\kq.log\" /keep /nolaunch \"/D=C:\\Program Files\\KQ\"", all},
        {L"/S /TIMEOUT=0", zero},
        // A language table's name, in any case; in runs with and without window.
        {L"/S /LANG=EN", english},
        {L"/lang=zh-tw", traditional},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "[" << c.line << "]");
        const InstallerOptions o = ParseCommandLine(c.line);
        EXPECT_EQ(o.error, L"");
        EXPECT_EQ(o.sourceId, c.want.sourceId);
        EXPECT_EQ(o.silent, c.want.silent);
        EXPECT_EQ(o.keep, c.want.keep);
        EXPECT_EQ(o.noLaunch, c.want.noLaunch);
        EXPECT_EQ(o.help, c.want.help);
        EXPECT_EQ(o.installDir, c.want.installDir);
        EXPECT_EQ(o.logPath, c.want.logPath);
        EXPECT_EQ(o.timeoutSeconds, c.want.timeout);
        EXPECT_EQ(o.language, c.want.language);
    }
}

TEST(CommandLine, RefusedLines) {
    struct Case {
        const wchar_t* line;
        const wchar_t* mentions;  // the error names what is wrong
        bool silent;              // /S was seen all the same: no message box
    } cases[] = {
        {L"/S /FAST", L"/FAST", true},
        {L"/FAST /S", L"/FAST", true},
        {L"/X", L"/X", false},
        {L"/S 12", L"12", true},  // the number comes first
        {L"/S /D", L"/D", true},
        {L"/S /D=", L"/D", true},
        {L"/S /D=\"\"", L"/D", true},
        {L"/S /S=1", L"/S", true},
        {L"/S /S", L"/S", true},
        {L"/S \"/D=C:\\a\" /D=C:\\b", L"/D", true},
        {L"/S /D=C:\\Program Files\\KQ /NOLAUNCH", L"/D=", true},  // unquoted /D= not last
        {L"/S /D=C:\\a\"b", L"/D=", true},
        {L"/S \"/LOG=C:\\a b.log", L"C:\\a b.log", true},
        {L"/S /LOG=", L"/LOG", true},
        {L"/S /TIMEOUT=abc", L"abc", true},
        {L"/S /TIMEOUT=-5", L"-5", true},
        {L"/S /TIMEOUT=99999999999999999999", L"99999999999999999999", true},
        {L"/S /TIMEOUT=2592001", L"2592001", true},
        {L"/KEEP", L"/KEEP", false},  // only unattended
        {L"/TIMEOUT=20", L"/TIMEOUT", false},
        {L"/ S", L"/", false},
        {L"/S /PROXY=proxy.corp", L"proxy.corp", true},  // no port
        {L"/LANG=fr", L"fr", false},  // no such table
        {L"/S /LANG=zh", L"zh", true},
        {L"/LANG=", L"/LANG", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "[" << c.line << "]");
        const InstallerOptions o = ParseCommandLine(c.line);
        ASSERT_FALSE(o.error.empty());
        EXPECT_NE(o.error.find(c.mentions), std::wstring::npos) << o.error;
        EXPECT_EQ(o.silent, c.silent);
    }
}

// The proxy switches, and the password never shown: quoted or not, one or
// several times, wherever it stands.
TEST(CommandLine, ProxySwitchesAndTheMaskedPassword) {
    const InstallerOptions o = ParseCommandLine(L"/S /proxy=http://127.0.0.1:8/p.pac /PROXYUSER=kv \"/PROXYPASS=a b\"");
    EXPECT_EQ(o.error, L"");
    EXPECT_EQ(o.proxy, L"http://127.0.0.1:8/p.pac");
    EXPECT_EQ(o.proxyUser, L"kv");
    EXPECT_EQ(o.proxyPassword, L"a b");
    const struct {
        const wchar_t* line;
        const wchar_t* shown;
    } cases[] = {
        {L"/S /PROXYPASS=s3cret /NOLAUNCH", L"/S /PROXYPASS=*** /NOLAUNCH"},
        {L"/S \"/proxypass=a b\" /X", L"/S \"/proxypass=***\" /X"},
        {L"/S /PROXYPASS=\"a b\"", L"/S /PROXYPASS=\"***\""},
        {L"/PROXYPASS=x /PROXYPASS=y", L"/PROXYPASS=*** /PROXYPASS=***"},
        {L"12 /S", L"12 /S"},
        // A mistyped name hides its value too, in the log and in the error.
        {L"/S /PROXYPAS=s3cret /D=C:\\a b", L"/S /PROXYPAS=*** /D=C:\\a b"},
    };
    for (const auto& c : cases) EXPECT_EQ(MaskedCommandLine(c.line), c.shown);
    EXPECT_EQ(ParseCommandLine(L"/S /PROXYPAS=s3cret").error, L"未知的开关：/PROXYPAS=***");
    EXPECT_EQ(ParseCommandLine(L"/S \"/PROXYPASS=s3cret").error, L"引号不成对：/PROXYPASS=***");
}

#include "UpdaterTestSupport.h"

#include <cstdio>

#include "Runtime/FileSystem.h"
#include "Updater/Md5.h"
#include "Runtime/Sha256.h"

std::string DescriptorText(const std::string& url, size_t size, const std::string& md5, const std::string& version,
                           const std::string& murl) {
    return "[Install]\r\nUrl=" + url + "\r\nmurl=" + murl + "\r\nSize=" + std::to_string(size) + "\r\nMd5=" + md5 +
           "\r\nVersion=" + version + "\r\n";
}

std::string Md5Text(const std::string& bytes) {
    CMd5 md5;
    md5.Update(bytes.data(), bytes.size());
    md5.Final();
    const std::wstring hex = md5.HexDigest();
    return std::string(hex.begin(), hex.end());
}

std::string Sha256Text(const std::string& bytes) {
    CSha256 sha;
    sha.Update(bytes.data(), bytes.size());
    const std::wstring hex = sha.HexDigest();
    return std::string(hex.begin(), hex.end());
}

namespace {
SYSTEMTIME UtcFromNow(int64_t seconds) {
    FILETIME now = {};
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart += static_cast<uint64_t>(seconds * 10000000LL);
    const FILETIME shifted = {t.LowPart, t.HighPart};
    SYSTEMTIME utc = {};
    ::FileTimeToSystemTime(&shifted, &utc);
    return utc;
}
}  // namespace

std::string UtcTimestampFromNow(int64_t seconds) {
    const SYSTEMTIME utc = UtcFromNow(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", utc.wYear, utc.wMonth, utc.wDay, utc.wHour,
                  utc.wMinute, utc.wSecond);
    return text;
}

std::string HttpDateFromNow(int64_t seconds) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const SYSTEMTIME utc = UtcFromNow(seconds);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02u %s %04u %02u:%02u:%02u GMT", kDays[utc.wDayOfWeek], utc.wDay,
                  kMonths[utc.wMonth - 1], utc.wYear, utc.wHour, utc.wMinute, utc.wSecond);
    return text;
}

void UpdateModuleTest::SetUp() {
    HttpEngineTest::SetUp();
    ASSERT_TRUE(dns.Start());
    dns.SetReply(FakeDns::Silent());
    packageDir = dir.File(L"pkg");
}

void UpdateModuleTest::TearDown() {
    if (module) module->Stop();
    module.reset();
    HttpEngineTest::TearDown();
    dns.Stop();
    DeleteDirectoryTree(packageDir + L"\\");
}

CUpdateModule& UpdateModuleTest::NewModule(std::vector<std::wstring> urls) {
    module.reset(new CUpdateModule(packageDir, &events));
    module->SetDescriptorUrls(std::move(urls));
    module->PackageDownload().Resolver().SetResolvers({dns.Endpoint()});
    module->PackageDownload().Resolver().SetWaitMs(150);
    return *module;
}

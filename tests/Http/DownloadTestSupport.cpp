#include "DownloadTestSupport.h"

#include <algorithm>
#include <cstddef>
#include <sstream>

#include "Runtime/TextUtils.h"

namespace {

std::string Env(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? WideToUtf8(std::wstring(value, length)) : std::string();
}

}  // namespace

ScriptServers::ScriptServers()
    : proxyPort(Env(L"KV_PROXY_PORT")),
      proxyLog(Env(L"KV_PROXY_LOG")),
      tlsAddress(Env(L"KV_TLS_ADDRESS")),
      tlsPort(Env(L"KV_TLS_PORT")),
      tlsRoot(Env(L"KV_TLS_ROOT")),
      tlsLog(Env(L"KV_TLS_LOG")) {
    if (HasTls()) tlsLogStart_ = TlsLogLines().size();
}

std::wstring ScriptServers::TlsUrl(const std::string& host, const std::string& path) const {
    return Utf8ToWide("https://" + host + ":" + tlsPort + path);
}

void ScriptServers::PutTlsFile(const std::string& name, const std::string& bytes) const {
    WriteBytes(Utf8ToWide(tlsRoot + "\\" + name), bytes);
}

std::vector<std::string> ScriptServers::TlsLogLines() const {
    std::vector<std::string> lines;
    std::istringstream text(ReadFileBytes(Utf8ToWide(tlsLog)));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> ScriptServers::TlsLog(size_t count) const {
    std::vector<std::string> lines;
    // nginx writes a line once the answer has gone out, which may be just
    // after the client has it all.
    PumpMessagesUntil(
        [&] {
            lines = TlsLogLines();
            lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(tlsLogStart_, lines.size())));
            return lines.size() >= count;
        },
        3000);
    return lines;
}

std::string ScriptServers::ProxyLog() const { return ReadFileBytes(Utf8ToWide(proxyLog)); }

void DownloadRecord::Attach(CHttpDownloadFile& task) {
    task.SetCallbacks(
        [this](const HttpResult& result) {
            ++completions;
            type = result.type;
            code = result.code;
            doneTick = ::GetTickCount();
        },
        [this](int64_t total, int64_t downloaded, uint32_t speed) { progress.push_back({total, downloaded, speed, ::GetTickCount()}); });
}

namespace {

template <typename Sink>
struct FullAt : Sink {
    template <typename... Args>
    FullAt(uint64_t from, uint64_t full, Args... args) : Sink(args...), next(from), fullAt(full) {}
    int32_t Write(const void* data, uint32_t count) override {
        if (next <= fullAt && fullAt - next < count) {
            this->SetLastError(ERROR_DISK_FULL, kHttpErrorSys);
            return -1;
        }
        const int32_t written = Sink::Write(data, count);
        next += written > 0 ? static_cast<uint32_t>(written) : 0;
        return written;
    }
    uint64_t next, fullAt;
};

}  // namespace

DownloadWriteFile* DiskFullDownload::NewFileSink() { return new FullAt<DownloadWriteFile>(0, fullAt); }

RangeWriteFile* DiskFullDownload::NewRangeSink(RangeWriteFile::SharedFile file, std::shared_ptr<RangeCursor> cursor) {
    return new FullAt<RangeWriteFile>(cursor->position.load(), fullAt, file, cursor);
}

void DownloadTest::SetUp() {
    HttpEngineTest::SetUp();
    ASSERT_TRUE(dns.Start());
    task.Resolver().SetResolvers({dns.Endpoint()});
    task.Resolver().SetWaitMs(kShortDnsWaitMs);
    record.Attach(task);
    target = dir.File(L"package.tmp");
}

void DownloadTest::TearDown() {
    task.Stop();
    HttpEngineTest::TearDown();
    dns.Stop();
}

bool DownloadTest::StartDownload(const std::wstring& url, int64_t expectedSize, const std::wstring& mirrors) {
    return task.Download(mirrors, url, target, expectedSize);
}

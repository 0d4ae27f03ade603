#pragma once
// Shared pieces of the download tests: a recorder of completions and progress
// calls, and a fixture with both engines, the
// in-process HTTP server, a silent fake resolver injected into the task (so
// no test depends on the built-in resolver list) and a temporary folder.
// Main thread only.
#include <string>
#include <vector>

#include "Http/DownloadWriteFile.h"
#include "Http/HttpDownloadFile.h"
#include "support/HttpTestSupport.h"
#include "support/FakeDnsServer.h"

struct DownloadRecord {
    struct ProgressCall {
        int64_t total;
        int64_t downloaded;
        uint32_t speed;
        DWORD tick;
    };
    int completions = 0;
    int32_t type = -1;
    int32_t code = -1;
    DWORD doneTick = 0;
    std::vector<ProgressCall> progress;

    // Makes this the recorder of the task's completions and progress.
    void Attach(CHttpDownloadFile& task);
};

// The servers that with-proxy.sh starts around the program, found through
// its environment: a forward proxy and an https server (see the script).
// Empty fields when the program runs without it.
struct ScriptServers {
    ScriptServers();
    bool HasProxy() const { return !proxyPort.empty(); }
    bool HasTls() const { return !tlsAddress.empty() && !tlsPort.empty(); }
    // "https://<host>:<port><path>" on the https server's port.
    std::wstring TlsUrl(const std::string& host, const std::string& path) const;
    // Publishes `bytes` as /<name> on the https server.
    void PutTlsFile(const std::string& name, const std::string& bytes) const;
    // The https server's access log lines written since this object was
    // made, once there are at least `count` (waiting up to 3 s for them).
    std::vector<std::string> TlsLog(size_t count) const;
    std::string ProxyLog() const;

    std::string proxyPort, proxyLog;
    std::string tlsAddress, tlsPort, tlsRoot, tlsLog;

private:
    std::vector<std::string> TlsLogLines() const;
    size_t tlsLogStart_ = 0;
};

// A download whose sink fails with ERROR_DISK_FULL the write covering byte `fullAt`
// (a range's counted from its file offset, one stream's from its first byte).
struct DiskFullDownload : CHttpDownloadFile {
    uint64_t fullAt = UINT64_MAX;
    DownloadWriteFile* NewFileSink() override;
    RangeWriteFile* NewRangeSink(RangeWriteFile::SharedFile file, std::shared_ptr<RangeCursor> cursor) override;
};

class DownloadTest : public HttpEngineTest {
protected:
    static constexpr DWORD kShortDnsWaitMs = 150;

    void SetUp() override;
    void TearDown() override;

    // Download(mirrors, url, target), recorded in `record`.
    bool StartDownload(const std::wstring& url, int64_t expectedSize, const std::wstring& mirrors = L"");
    bool WaitDone(DWORD timeoutMs = 20000) {
        return PumpMessagesUntil([this] { return record.completions > 0; }, timeoutMs);
    }
    std::string Target() const { return ReadFileBytes(target); }
    std::wstring LocalhostUrl(const std::string& path) const {
        return L"http://localhost:" + std::to_wstring(server.Port()) + std::wstring(path.begin(), path.end());
    }

    TempDir dir;
    std::wstring target;
    CFakeDnsServer dns;
    DownloadRecord record;
    DiskFullDownload task;
};

#include "DownloadTestSupport.h"

void DownloadRecord::OnCompletion(void* owner, int32_t type, int32_t code) {
    auto* self = static_cast<DownloadRecord*>(owner);
    ++self->completions;
    self->type = type;
    self->code = code;
    self->doneTick = ::GetTickCount();
}

void DownloadRecord::OnProgress(void* owner, int64_t total, int64_t downloaded, uint32_t speed) {
    static_cast<DownloadRecord*>(owner)->progress.push_back({total, downloaded, speed, ::GetTickCount()});
}

std::string Pattern(size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + i / 251 + seed * 7) % 253);
    return s;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) {
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    std::fclose(f);
}

int64_t FileSizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void DownloadTest::SetUp() {
    HttpEngineTest::SetUp();
    ASSERT_TRUE(dns.Start());
    task.Resolver().SetResolvers({dns.Endpoint()});
    task.Resolver().SetWaitMs(kShortDnsWaitMs);
    task.SetCallbacks(&DownloadRecord::OnCompletion, &DownloadRecord::OnProgress);
    target = dir.File(L"package.tmp");
}

void DownloadTest::TearDown() {
    task.Stop();
    HttpEngineTest::TearDown();
    dns.Stop();
}

bool DownloadTest::StartDownload(const std::wstring& url, int64_t expectedSize, const std::wstring& mirrors) {
    return task.Download(mirrors, url, target, expectedSize, &record);
}

#pragma once
// Read-only view of a zip archive held in memory: the central directory is
// parsed once, entries (stored or deflate) are inflated on request and their
// CRC checked. The caller keeps the bytes alive while the archive is open.
// Not thread-safe; the UI uses it from the main thread only.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CZipArchive {
public:
    // Caps that keep a damaged or hostile archive from exhausting memory.
    static constexpr size_t kMaxEntries = 4096;
    static constexpr size_t kMaxEntrySize = 32u * 1024 * 1024;

    bool Open(const uint8_t* data, size_t size);
    void Close();
    bool IsOpen() const { return data_ != nullptr; }

    bool Contains(const std::wstring& name) const { return Find(name) != nullptr; }
    // Reads one entry by its name at the archive root; false (and a log line)
    // when it is missing or damaged.
    bool Read(const std::wstring& name, std::vector<uint8_t>& out) const;
    std::vector<std::wstring> Names() const;

private:
    struct Entry {
        std::wstring name;
        uint16_t method = 0;
        uint16_t flags = 0;
        uint32_t crc = 0;
        uint32_t compressedSize = 0;
        uint32_t size = 0;
        uint32_t localOffset = 0;
    };
    const Entry* Find(const std::wstring& name) const;
    bool ReadDirectory();

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    std::vector<Entry> entries_;
};

#include "Ui/ZipArchive.h"

#include <zlib.h>

#include <cwchar>

#include "Runtime/TextUtils.h"
#include "Runtime/ByteReader.h"
#include "Runtime/Log.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\Ui\\ZipArchive";
constexpr uint32_t kEndOfDirectory = 0x06054b50;
constexpr uint32_t kDirectoryEntry = 0x02014b50;
constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kLocalHeaderSize = 30;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagUtf8 = 0x0800;

bool Inflate(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
    zs.next_in = const_cast<Bytef*>(in);
    zs.avail_in = static_cast<uInt>(inSize);
    zs.next_out = out;
    zs.avail_out = static_cast<uInt>(outSize);
    const int rc = inflate(&zs, Z_FINISH);
    const bool ok = rc == Z_STREAM_END && zs.total_out == outSize;
    inflateEnd(&zs);
    return ok;
}
}  // namespace

bool CZipArchive::Open(const uint8_t* data, size_t size) {
    Close();
    if (data == nullptr || size < kEndRecordSize) {
        KV_LOG(kToConsole | kToFile, Error, L"CZipArchive::Open archive too small (%u bytes)",
               static_cast<unsigned>(size));
        return false;
    }
    data_ = data;
    size_ = size;
    if (!ReadDirectory()) {
        Close();
        return false;
    }
    return true;
}

void CZipArchive::Close() {
    data_ = nullptr;
    size_ = 0;
    entries_.clear();
}

// The end record sits in the last 22 + 65535 bytes (its comment may be that
// long); the central directory it points to lists every entry.
bool CZipArchive::ReadDirectory() {
    const size_t lowest = size_ > kEndRecordSize + 0xFFFF ? size_ - kEndRecordSize - 0xFFFF : 0;
    size_t at = size_ - kEndRecordSize;
    bool found = false;
    for (;;) {
        kv::LittleEndianReader probe(data_, size_);
        uint32_t sig = 0;
        if (probe.Seek(at) && probe.ReadU32(sig) && sig == kEndOfDirectory) {
            found = true;
            break;
        }
        if (at == lowest) break;
        --at;
    }
    if (!found) {
        KV_LOG(kToConsole | kToFile, Error, L"CZipArchive::ReadDirectory no end-of-directory record");
        return false;
    }
    kv::LittleEndianReader end(data_, size_);
    uint16_t disk = 0, dirDisk = 0, countHere = 0, count = 0;
    uint32_t dirSize = 0, dirOffset = 0;
    if (!end.Seek(at + 4) || !end.ReadU16(disk) || !end.ReadU16(dirDisk) || !end.ReadU16(countHere) ||
        !end.ReadU16(count) || !end.ReadU32(dirSize) || !end.ReadU32(dirOffset)) {
        KV_LOG(kToConsole | kToFile, Error, L"CZipArchive::ReadDirectory truncated end record");
        return false;
    }
    if (disk != 0 || dirDisk != 0 || countHere != count || count > kMaxEntries) {
        KV_LOG(kToConsole | kToFile, Error, L"CZipArchive::ReadDirectory unsupported archive (%u entries)", count);
        return false;
    }
    if (dirOffset > at || dirSize > at - dirOffset) {
        KV_LOG(kToConsole | kToFile, Error, L"CZipArchive::ReadDirectory directory out of range");
        return false;
    }
    kv::LittleEndianReader dir(data_ + dirOffset, dirSize);
    for (uint16_t i = 0; i < count; ++i) {
        uint32_t sig = 0, crc = 0, csize = 0, usize = 0, attr = 0, offset = 0, time = 0;
        uint16_t made = 0, need = 0, flags = 0, method = 0, nameLen = 0, extraLen = 0, commentLen = 0, diskStart = 0,
                 internal = 0;
        const uint8_t* name = nullptr;
        if (!dir.ReadU32(sig) || sig != kDirectoryEntry || !dir.ReadU16(made) || !dir.ReadU16(need) ||
            !dir.ReadU16(flags) || !dir.ReadU16(method) || !dir.ReadU32(time) || !dir.ReadU32(crc) ||
            !dir.ReadU32(csize) || !dir.ReadU32(usize) || !dir.ReadU16(nameLen) || !dir.ReadU16(extraLen) ||
            !dir.ReadU16(commentLen) || !dir.ReadU16(diskStart) || !dir.ReadU16(internal) || !dir.ReadU32(attr) ||
            !dir.ReadU32(offset) || !dir.Take(nameLen, name) || !dir.Skip(extraLen) || !dir.Skip(commentLen)) {
            KV_LOG(kToConsole | kToFile, Error, L"CZipArchive::ReadDirectory damaged directory entry %u", i);
            return false;
        }
        Entry entry;
        const std::string raw(reinterpret_cast<const char*>(name), nameLen);
        // Names are ASCII in practice; bit 11 marks UTF-8, otherwise the
        // bytes are taken one to one.
        if (flags & kFlagUtf8) {
            entry.name = Utf8ToWide(raw);
        } else {
            entry.name.assign(raw.begin(), raw.end());
            for (auto& ch : entry.name) ch = static_cast<wchar_t>(static_cast<unsigned char>(ch));
        }
        entry.method = method;
        entry.flags = flags;
        entry.crc = crc;
        entry.compressedSize = csize;
        entry.size = usize;
        entry.localOffset = offset;
        entries_.push_back(std::move(entry));
    }
    return true;
}

const CZipArchive::Entry* CZipArchive::Find(const std::wstring& name) const {
    for (const auto& e : entries_) {
        if (_wcsicmp(e.name.c_str(), name.c_str()) == 0) return &e;
    }
    return nullptr;
}

std::vector<std::wstring> CZipArchive::Names() const {
    std::vector<std::wstring> names;
    for (const auto& e : entries_) names.push_back(e.name);
    return names;
}

bool CZipArchive::Read(const std::wstring& name, std::vector<uint8_t>& out) const {
    out.clear();
    const Entry* e = Find(name);
    if (e == nullptr) {
        KV_LOG(kToConsole | kToFile, Warn, L"CZipArchive::Read no entry %s", name.c_str());
        return false;
    }
    if ((e->flags & kFlagEncrypted) || (e->method != kMethodStored && e->method != kMethodDeflate)) {
        KV_LOG(kToConsole | kToFile, Error, L"CZipArchive::Read %s: unsupported method %u", name.c_str(), e->method);
        return false;
    }
    if (e->size > kMaxEntrySize || (e->method == kMethodStored && e->compressedSize != e->size)) {
        KV_LOG(kToConsole | kToFile, Error, L"CZipArchive::Read %s: bad size %u", name.c_str(), e->size);
        return false;
    }
    // The local header repeats the name and may carry a different extra
    // field; sizes are taken from the central directory (the local copy may
    // be zero when a data descriptor follows).
    kv::LittleEndianReader local(data_, size_);
    uint32_t sig = 0;
    uint16_t nameLen = 0, extraLen = 0;
    const uint8_t* payload = nullptr;
    if (!local.Seek(e->localOffset) || !local.ReadU32(sig) || sig != kLocalHeader || !local.Skip(22) ||
        !local.ReadU16(nameLen) || !local.ReadU16(extraLen) || !local.Skip(nameLen) || !local.Skip(extraLen) ||
        !local.Take(e->compressedSize, payload)) {
        KV_LOG(kToConsole | kToFile, Error, L"CZipArchive::Read %s: damaged local header or data", name.c_str());
        return false;
    }
    static_assert(kLocalHeaderSize == 4 + 22 + 4, "local header layout");
    out.resize(e->size);
    bool ok = true;
    if (e->method == kMethodStored) {
        if (e->size) std::copy(payload, payload + e->size, out.begin());
    } else {
        uint8_t scratch = 0;  // inflate needs somewhere to write, even for an empty entry
        ok = out.empty() ? Inflate(payload, e->compressedSize, &scratch, 0)
                         : Inflate(payload, e->compressedSize, out.data(), out.size());
    }
    if (ok && crc32(0L, out.data(), static_cast<uInt>(out.size())) != e->crc) ok = false;
    if (!ok) {
        KV_LOG(kToConsole | kToFile, Error, L"CZipArchive::Read %s: data does not inflate or fails its CRC",
               name.c_str());
        out.clear();
    }
    return ok;
}

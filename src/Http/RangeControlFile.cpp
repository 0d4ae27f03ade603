#include "Http/RangeControlFile.h"

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "Runtime/ByteReader.h"
#include "Runtime/Handles.h"

namespace {

const char kMagic[4] = {'K', 'V', 'R', 'G'};

void PutU16(std::string& out, uint16_t v) {
    for (int i = 0; i < 2; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutU64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t Crc(const std::string& bytes, size_t length) {
    return static_cast<uint32_t>(::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()),
                                         static_cast<uInt>(length)));
}

}  // namespace

std::string CRangeControlFile::Encode(const State& state) {
    std::string out(kMagic, sizeof(kMagic));
    PutU16(out, state.piecesVerified ? kVersionPiecesVerified : kVersion);
    PutU16(out, static_cast<uint16_t>(state.missing.size()));
    PutU64(out, state.total);
    PutU64(out, state.prefix);
    PutU32(out, Crc(out, out.size()));
    for (const ByteRange& r : state.missing) {
        PutU64(out, r.from);
        PutU64(out, r.to);
    }
    PutU32(out, Crc(out, out.size()));
    return out;
}

CRangeControlFile::Parse CRangeControlFile::Decode(const std::string& bytes, State* state) {
    *state = State();
    if (bytes.size() < kHeaderBytes || bytes.size() > kMaxBytes) return Parse::Unreadable;
    kv::LittleEndianReader in(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    const uint8_t* magic = nullptr;
    uint16_t version = 0, count = 0;
    uint64_t total = 0, prefix = 0;
    uint32_t headerCrc = 0;
    if (!in.Take(sizeof(kMagic), magic) || std::memcmp(magic, kMagic, sizeof(kMagic)) != 0) return Parse::Unreadable;
    if (!in.ReadU16(version) || (version != kVersion && version != kVersionPiecesVerified)) return Parse::Unreadable;
    if (!in.ReadU16(count) || !in.ReadU64(total) || !in.ReadU64(prefix) || !in.ReadU32(headerCrc)) return Parse::Unreadable;
    if (headerCrc != Crc(bytes, in.Position() - 4)) return Parse::Unreadable;
    if (total == 0 || prefix > total) return Parse::Unreadable;
    state->total = total;
    state->prefix = prefix;
    state->piecesVerified = version == kVersionPiecesVerified;

    if (count > CRangePlan::kMaxRanges || in.Remaining() != count * kRangeBytes + 4) return Parse::PrefixOnly;
    uint32_t crc = 0;
    const size_t crcAt = bytes.size() - 4;
    if (!in.Seek(crcAt) || !in.ReadU32(crc) || crc != Crc(bytes, crcAt)) return Parse::PrefixOnly;
    in.Seek(kHeaderBytes);
    std::vector<ByteRange> missing;
    uint64_t floor = prefix;
    for (size_t i = 0; i < count; ++i) {
        ByteRange r;
        if (!in.ReadU64(r.from) || !in.ReadU64(r.to)) return Parse::PrefixOnly;
        // Ascending, disjoint, not empty, inside the package, not below the prefix.
        if (r.from < floor || r.from >= r.to || r.to > total) return Parse::PrefixOnly;
        floor = r.to;
        missing.push_back(r);
    }
    // The prefix is where the first gap begins; anything else is inconsistent.
    if (prefix != (missing.empty() ? total : missing.front().from)) return Parse::PrefixOnly;
    state->missing = std::move(missing);
    return Parse::Valid;
}

CRangeControlFile::Resume CRangeControlFile::Decide(Parse parse, const State& state, uint64_t expectedSize,
                                                    uint64_t fileLength) {
    Resume resume;
    switch (parse) {
        case Parse::Absent:
            resume.kind = Resume::Plain;
            return resume;
        case Parse::Unreadable:
            // A segmented run may have written anywhere: nothing is known.
            resume.kind = Resume::Prefix;
            resume.prefix = 0;
            return resume;
        case Parse::PrefixOnly:
            break;
        case Parse::Valid:
            // The partial file has the package's full length while segmented.
            if (state.total == expectedSize && fileLength == state.total) {
                resume.kind = state.missing.empty() ? Resume::Plain : Resume::Ranges;
                resume.missing = state.missing;
                resume.piecesVerified = state.piecesVerified;
                return resume;
            }
            break;
    }
    resume.kind = Resume::Prefix;
    resume.prefix = std::min(state.prefix, fileLength);
    return resume;
}

bool CRangeControlFile::Save(const std::wstring& path, const State& state) {
    const std::string bytes = Encode(state);
    const std::wstring fresh = path + L".new";
    // A fresh file of our own: never write through whatever sits at the name.
    ::DeleteFileW(fresh.c_str());
    bool written = false;
    {
        // Written through to the disk, and moved into place only then: after
        // a power cut the name holds this state or the one before, whole.
        kv::UniqueKernelHandle file(::CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
        DWORD count = 0;
        written = file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr) &&
                  count == bytes.size();
    }
    if (written && ::MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    ::DeleteFileW(fresh.c_str());
    return false;
}

CRangeControlFile::Parse CRangeControlFile::Load(const std::wstring& path, State* state) {
    *state = State();
    kv::UniqueKernelHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? Parse::Absent : Parse::Unreadable;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || static_cast<uint64_t>(size.QuadPart) > kMaxBytes) {
        return Parse::Unreadable;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD count = 0;
    if (!bytes.empty() && (!::ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &count, nullptr) ||
                           count != bytes.size())) {
        return Parse::Unreadable;
    }
    return Decode(bytes, state);
}

bool CRangeControlFile::Remove(const std::wstring& path) {
    if (::DeleteFileW(path.c_str())) return true;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

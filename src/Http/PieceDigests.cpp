#include "Http/PieceDigests.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace {

// Read buffer of the file checks: a piece is read in steps of this size.
constexpr DWORD kReadBytes = 256 * 1024;

}  // namespace

bool CPieceDigests::Parse(const std::wstring& pieceSize, const std::wstring& pieces, int64_t total,
                          std::shared_ptr<const CPieceDigests>* digests) {
    digests->reset();
    if (pieceSize.empty() && pieces.empty()) return true;
    if (pieceSize.empty() || pieces.empty()) return false;
    // Digits only, no sign or blanks inside: the value is the signed text.
    const uint64_t size = pieceSize.size() <= 8 && pieceSize.find_first_not_of(L"0123456789") == std::wstring::npos
                              ? static_cast<uint64_t>(std::wcstoll(pieceSize.c_str(), nullptr, 10))
                              : 0;
    if (size < kMinPieceSize || size > kMaxPieceSize || (size & (size - 1)) != 0 || total <= 0) return false;
    const uint64_t count = (static_cast<uint64_t>(total) + size - 1) / size;
    if (pieces.size() != count * 2 * CSha256::kDigestSize) return false;
    std::shared_ptr<CPieceDigests> parsed(new CPieceDigests());
    parsed->pieceSize_ = size;
    parsed->total_ = static_cast<uint64_t>(total);
    // Kept as bytes: a piece is compared with the hash's own result.
    parsed->digests_.assign(pieces.size() / 2, '\0');
    for (size_t i = 0; i < pieces.size(); ++i) {
        const wchar_t c = pieces[i];
        const int digit = c >= L'0' && c <= L'9'   ? c - L'0'
                          : c >= L'a' && c <= L'f' ? c - L'a' + 10
                          : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                                   : -1;
        if (digit < 0) return false;
        parsed->digests_[i / 2] = static_cast<char>(parsed->digests_[i / 2] << 4 | digit);
    }
    *digests = std::move(parsed);
    return true;
}

uint64_t CPieceDigests::PieceEnd(size_t index) const { return std::min(total_, (index + 1) * pieceSize_); }

uint64_t CPieceDigests::AlignUp(uint64_t offset) const {
    return offset >= total_ ? total_ : std::min(total_, AlignDown(offset + pieceSize_ - 1));
}

bool CPieceDigests::Matches(size_t index, CSha256* hash) const {
    uint8_t digest[CSha256::kDigestSize];
    return index < Count() && hash->Final(digest) &&
           std::memcmp(digest, digests_.data() + index * CSha256::kDigestSize, sizeof digest) == 0;
}

bool CPieceDigests::HashFile(HANDLE file, uint64_t from, uint64_t to, CSha256* hash, const std::atomic<bool>* stop) {
    std::unique_ptr<char[]> buffer(new char[kReadBytes]);
    while (from < to) {
        if (stop && stop->load()) return false;
        // An offset read: the handle's own file pointer is left alone.
        OVERLAPPED where = {};
        where.Offset = static_cast<DWORD>(from);
        where.OffsetHigh = static_cast<DWORD>(from >> 32);
        const DWORD want = static_cast<DWORD>(std::min<uint64_t>(kReadBytes, to - from));
        DWORD got = 0;
        if (!::ReadFile(file, buffer.get(), want, &got, &where) || got != want) return false;
        hash->Update(buffer.get(), got);
        from += got;
    }
    return true;
}

bool CPieceDigests::CheckInFile(HANDLE file, size_t index, const std::atomic<bool>* stop) const {
    CSha256 hash;
    return HashFile(file, PieceStart(index), PieceEnd(index), &hash, stop) && Matches(index, &hash);
}

std::vector<ByteRange> CPieceDigests::WholePieces(const std::vector<ByteRange>& missing) const {
    std::vector<ByteRange> whole;
    for (const ByteRange& r : missing) {
        if (r.to <= r.from) continue;
        const ByteRange grown{AlignDown(r.from), AlignUp(r.to)};
        if (!whole.empty() && whole.back().to >= grown.from) {
            whole.back().to = std::max(whole.back().to, grown.to);
        } else {
            whole.push_back(grown);
        }
    }
    return whole;
}

std::vector<ByteRange> CPieceDigests::Recheck(HANDLE file, const std::vector<ByteRange>& missing, bool trustWritten,
                                              uint64_t trustedBelow, const std::atomic<bool>* stop) const {
    std::vector<ByteRange> gaps = WholePieces(missing);
    std::vector<ByteRange> result;
    auto add = [&result](uint64_t from, uint64_t to) {
        if (!result.empty() && result.back().to == from) {
            result.back().to = to;
        } else {
            result.push_back({from, to});
        }
    };
    uint64_t at = 0;
    for (size_t g = 0; g <= gaps.size(); ++g) {
        const ByteRange gap = g < gaps.size() ? gaps[g] : ByteRange{total_, total_};
        // The written pieces before this gap.
        for (; at < gap.from; at = PieceEnd(IndexOf(at))) {
            if (!trustWritten && at >= trustedBelow && !CheckInFile(file, IndexOf(at), stop)) add(at, PieceEnd(IndexOf(at)));
        }
        if (gap.from >= gap.to) break;
        // A connection writes its range from the start: what was written
        // after the last save is there, in order.
        uint64_t from = gap.from;
        while (from < gap.to && CheckInFile(file, IndexOf(from), stop)) from = PieceEnd(IndexOf(from));
        if (from < gap.to) add(from, gap.to);
        at = gap.to;
    }
    return result;
}

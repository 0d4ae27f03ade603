#include "Http/PieceDigests.h"

#include <algorithm>

namespace {

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Read buffer of the file checks: a piece is read in steps of this size.
constexpr DWORD kReadBytes = 256 * 1024;

}  // namespace

const wchar_t* CPieceDigests::Parse(const std::wstring& pieceSize, const std::wstring& pieces, int64_t total,
                                    std::shared_ptr<const CPieceDigests>* digests) {
    digests->reset();
    if (pieceSize.empty() && pieces.empty()) return nullptr;
    if (pieceSize.empty() || pieces.empty()) return L"PieceSize and Pieces come together";
    // Digits only, no sign or blanks inside: the value is the signed text.
    uint64_t size = 0;
    for (wchar_t c : pieceSize) {
        if (c < L'0' || c > L'9' || size > kMaxPieceSize) return L"PieceSize is no number of bytes";
        size = size * 10 + static_cast<uint64_t>(c - L'0');
    }
    if (size < kMinPieceSize || size > kMaxPieceSize || (size & (size - 1)) != 0) {
        return L"PieceSize is no power of two from 256 KiB to 64 MiB";
    }
    if (total <= 0) return L"pieces of a package without a Size";
    const uint64_t count = (static_cast<uint64_t>(total) + size - 1) / size;
    if (pieces.size() % (2 * CSha256::kDigestSize) != 0 || pieces.size() / (2 * CSha256::kDigestSize) != count) {
        return L"Pieces does not hold one SHA-256 for each piece of Size";
    }
    std::shared_ptr<CPieceDigests> parsed(new CPieceDigests());
    parsed->pieceSize_ = size;
    parsed->total_ = static_cast<uint64_t>(total);
    parsed->digests_.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < pieces.size(); i += 2) {
        const int high = HexValue(pieces[i]), low = HexValue(pieces[i + 1]);
        if (high < 0 || low < 0) return L"Pieces holds a character that is no hexadecimal digit";
        parsed->digests_[i / (2 * CSha256::kDigestSize)][(i / 2) % CSha256::kDigestSize] =
            static_cast<uint8_t>(high * 16 + low);
    }
    *digests = std::move(parsed);
    return nullptr;
}

uint64_t CPieceDigests::PieceEnd(size_t index) const { return std::min(total_, (index + 1) * pieceSize_); }

uint64_t CPieceDigests::AlignUp(uint64_t offset) const {
    return offset >= total_ ? total_ : std::min(total_, AlignDown(offset + pieceSize_ - 1));
}

bool CPieceDigests::Matches(size_t index, const uint8_t digest[CSha256::kDigestSize]) const {
    return index < digests_.size() && std::equal(digests_[index].begin(), digests_[index].end(), digest);
}

bool CPieceDigests::CheckInFile(HANDLE file, size_t index) const {
    if (index >= digests_.size()) return false;
    std::unique_ptr<char[]> buffer(new char[kReadBytes]);
    CSha256 hash;
    uint64_t at = PieceStart(index);
    const uint64_t end = PieceEnd(index);
    while (at < end) {
        // An offset read: the handle's own file pointer is left alone.
        OVERLAPPED where = {};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        const DWORD want = static_cast<DWORD>(std::min<uint64_t>(kReadBytes, end - at));
        DWORD got = 0;
        if (!::ReadFile(file, buffer.get(), want, &got, &where) || got != want) return false;
        hash.Update(buffer.get(), got);
        at += got;
    }
    uint8_t digest[CSha256::kDigestSize];
    return hash.Final(digest) && Matches(index, digest);
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
                                              uint64_t trustedBelow) const {
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
            if (!trustWritten && at >= trustedBelow && !CheckInFile(file, IndexOf(at))) add(at, PieceEnd(IndexOf(at)));
        }
        if (gap.from >= gap.to) break;
        // A connection writes its range from the start: what was written
        // after the last save is there, in order.
        uint64_t from = gap.from;
        while (from < gap.to && CheckInFile(file, IndexOf(from))) from = PieceEnd(IndexOf(from));
        if (from < gap.to) add(from, gap.to);
        at = gap.to;
    }
    return result;
}

#pragma once
// CPieceDigests: the package cut into pieces of one power-of-two size (the
// last piece is the rest) and the SHA-256 each piece must have, as the
// descriptor's PieceSize and Pieces give them. Immutable once parsed, so one
// object is shared by every sink of a download; any thread.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Http/RangePlan.h"
#include "Runtime/Sha256.h"

class CPieceDigests {
public:
    static constexpr uint64_t kMinPieceSize = 256 * 1024;
    static constexpr uint64_t kMaxPieceSize = 64 * 1024 * 1024;

    // The two descriptor values for a package of `total` bytes. Both empty:
    // no digests (*digests null, true). Otherwise true when *digests holds
    // them: PieceSize a power of two within bounds, Pieces 64 hexadecimal
    // digits per piece, as many pieces as `total` holds, `total` above 0.
    static bool Parse(const std::wstring& pieceSize, const std::wstring& pieces, int64_t total,
                      std::shared_ptr<const CPieceDigests>* digests);

    uint64_t PieceSize() const { return pieceSize_; }
    uint64_t Total() const { return total_; }
    size_t Count() const { return digests_.size() / CSha256::kDigestSize; }
    size_t IndexOf(uint64_t offset) const { return static_cast<size_t>(offset / pieceSize_); }
    uint64_t PieceStart(size_t index) const { return index * pieceSize_; }
    uint64_t PieceEnd(size_t index) const;
    // The piece boundary at or below / at or above `offset` (the end of the file counts as one).
    uint64_t AlignDown(uint64_t offset) const { return offset - offset % pieceSize_; }
    uint64_t AlignUp(uint64_t offset) const;
    // The same list for the same package (pieces checked against one hold for the other).
    bool SameAs(const CPieceDigests& other) const {
        return total_ == other.total_ && pieceSize_ == other.pieceSize_ && digests_ == other.digests_;
    }
    // Finishes `hash` (a piece's bytes) and compares it with piece `index`'s digest.
    bool Matches(size_t index, CSha256* hash) const;

    // Reads piece `index` through `file` (its own handle, any file pointer)
    // and compares it; false also when it cannot be read whole, or `stop`
    // (if given) is raised meanwhile.
    bool CheckInFile(HANDLE file, size_t index, const std::atomic<bool>* stop = nullptr) const;
    // Adds bytes [from, to) of `file` to `hash` (offset reads); false when
    // they cannot be read whole or `stop` is raised (looked at every 256 KiB).
    static bool HashFile(HANDLE file, uint64_t from, uint64_t to, CSha256* hash, const std::atomic<bool>* stop = nullptr);
    // `missing` grown to whole pieces, joined where they touch.
    std::vector<ByteRange> WholePieces(const std::vector<ByteRange>& missing) const;
    // What `file` still needs when `missing` (any ranges) was not written:
    // `missing` in whole pieces, plus every piece outside it that does not
    // match (unless `trustWritten`, or it lies below `trustedBelow`), less
    // the pieces at the start of each missing range that do match (written
    // after the state that calls them missing was saved). Reads the file;
    // a raised `stop` ends it early with a result that must be dropped.
    std::vector<ByteRange> Recheck(HANDLE file, const std::vector<ByteRange>& missing, bool trustWritten,
                                   uint64_t trustedBelow, const std::atomic<bool>* stop = nullptr) const;

private:
    CPieceDigests() = default;

    uint64_t pieceSize_ = 0;
    uint64_t total_ = 0;
    std::string digests_;  // CSha256::kDigestSize bytes per piece
};

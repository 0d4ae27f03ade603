#pragma once
// CRangePlan: which bytes of a file are still missing, cut into ranges that
// connection slots own, and the split policy: a slot without work takes an
// unowned range, or else the far part of the range that would take longest
// to finish, cut so that both parts end together. Pure logic, no I/O; one
// thread at a time (the main thread of a segmented download).
#include <cstddef>
#include <cstdint>
#include <vector>

// Bytes [from, to).
struct ByteRange {
    uint64_t from = 0;
    uint64_t to = 0;
    bool operator==(const ByteRange& other) const { return from == other.from && to == other.to; }
};

class CRangePlan {
public:
    static constexpr int kNoOwner = -1;
    // A split leaves both parts at least this long (a shorter piece costs a
    // request for little gain); cut points fall on this alignment. With
    // piece digests the alignment is the piece size (SetGrain), so that
    // every piece comes from one connection.
    static constexpr uint64_t kMinPiece = 1024 * 1024;
    static constexpr uint64_t kAlign = 64 * 1024;
    // A plan never holds more ranges than this (the control file's cap too).
    static constexpr size_t kMaxRanges = 32;
    // Speed figures: bytes per second; kUnknownSpeed while a slot has no
    // history yet (it counts as fast as the slot asking for work).
    static constexpr double kUnknownSpeed = -1.0;

    struct Range {
        uint64_t next = 0;  // first byte not yet written
        uint64_t end = 0;   // one past the range's last byte
        int owner = kNoOwner;
        uint64_t Left() const { return end - next; }
    };
    // What Assign hands a slot: bytes [from, end) of the range it now owns.
    // When it was cut off another slot's range, `victim` is that slot, whose
    // range now ends at `from` (its transfer must stop there).
    struct Work {
        uint64_t from = 0;
        uint64_t end = 0;
        int victim = kNoOwner;
    };

    // Cut points on multiples of `align` (a power of two; kAlign unless
    // set; 0 sets it back), parts at least max(kMinPiece, align) long.
    // Before Reset.
    void SetGrain(uint64_t align);
    uint64_t MinPart() const { return minPart_; }

    // The missing ranges (ascending, disjoint, inside [0, total)), each cut
    // into about `pieces` equal parts in all, longer ranges getting more.
    void Reset(uint64_t total, const std::vector<ByteRange>& missing, size_t pieces);
    // Cuts [from, to) into `pieces` ranges of nearly equal length at points
    // on multiples of `align`, never shorter than `minPart` (so possibly
    // fewer pieces).
    static std::vector<ByteRange> SplitEvenly(uint64_t from, uint64_t to, size_t pieces, uint64_t align = kAlign,
                                              uint64_t minPart = kMinPiece);

    // Gives `slot` (which owns nothing) work, see the class comment.
    // slotSpeeds[i] is slot i's recent speed, kUnknownSpeed, or 0 for a slot
    // that has stalled (it loses everything it has not written). False when
    // nothing is left that is worth a connection.
    bool Assign(int slot, const std::vector<double>& slotSpeeds, Work* work);
    // The slot's range has been written up to `next`.
    void Advance(int slot, uint64_t next);
    // The slot stops: its range, if complete, leaves the plan; otherwise it
    // stays without an owner for another slot to take.
    void Release(int slot);

    bool Complete() const { return ranges_.empty(); }
    uint64_t Total() const { return total_; }
    uint64_t MissingBytes() const;
    // Bytes [0, prefix) are all written.
    uint64_t Prefix() const;
    std::vector<ByteRange> Missing() const;
    const std::vector<Range>& Ranges() const { return ranges_; }
    // The slot's range (null when it owns none).
    const Range* RangeOf(int slot) const;

private:
    Range* FindOwned(int slot);
    void Insert(const Range& range);

    uint64_t AlignDown(uint64_t value) const { return value - value % align_; }

    uint64_t total_ = 0;
    uint64_t align_ = kAlign;
    uint64_t minPart_ = kMinPiece;
    bool pieceGrain_ = false;
    std::vector<Range> ranges_;  // ascending by next
};

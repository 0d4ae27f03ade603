#include "Http/RangePlan.h"

#include <algorithm>
#include <limits>

void CRangePlan::SetGrain(uint64_t align) {
    pieceGrain_ = align != 0;
    align_ = align ? align : kAlign;
    minPart_ = std::max(kMinPiece, align_);
}

std::vector<ByteRange> CRangePlan::SplitEvenly(uint64_t from, uint64_t to, size_t pieces, uint64_t align,
                                               uint64_t minPart) {
    std::vector<ByteRange> parts;
    if (to <= from) return parts;
    const uint64_t length = to - from;
    // Each ideal part is at least minPart + align long, so moving a cut down
    // to its alignment still leaves every part minPart or more.
    const uint64_t most = std::max<uint64_t>(1, length / (minPart + align));
    const uint64_t count = std::max<uint64_t>(1, std::min<uint64_t>(pieces, most));
    uint64_t start = from;
    for (uint64_t i = 1; i < count; ++i) {
        const uint64_t ideal = from + length / count * i;
        const uint64_t cut = std::max(start, ideal - ideal % align);
        if (cut > start) {
            parts.push_back({start, cut});
            start = cut;
        }
    }
    parts.push_back({start, to});
    return parts;
}

void CRangePlan::Reset(uint64_t total, const std::vector<ByteRange>& missing, size_t pieces) {
    total_ = total;
    ranges_.clear();
    uint64_t missingBytes = 0;
    for (const ByteRange& r : missing) missingBytes += r.to - r.from;
    size_t later = 0;  // gaps after the current one, each needing a range of its own
    for (const ByteRange& r : missing) later += r.to > r.from ? 1 : 0;
    for (const ByteRange& r : missing) {
        if (r.to <= r.from) continue;
        --later;
        // Pieces in proportion to the range's share of what is missing, but
        // never so many that a later gap finds the plan full (the cap would
        // then join it to this one over bytes already written).
        const double share = missingBytes ? static_cast<double>(r.to - r.from) / static_cast<double>(missingBytes) : 1.0;
        size_t wanted = std::max<size_t>(1, static_cast<size_t>(share * static_cast<double>(pieces) + 0.5));
        const size_t room = ranges_.size() + later < kMaxRanges ? kMaxRanges - ranges_.size() - later : 1;
        wanted = std::min(wanted, room);
        for (const ByteRange& part : SplitEvenly(r.from, r.to, wanted, align_, minPart_)) {
            if (ranges_.size() >= kMaxRanges) {
                ranges_.back().end = part.to;  // the cap merges the tail into the last range
                continue;
            }
            Range range;
            range.next = part.from;
            range.end = part.to;
            ranges_.push_back(range);
        }
    }
}

CRangePlan::Range* CRangePlan::FindOwned(int slot) {
    for (Range& r : ranges_) {
        if (r.owner == slot) return &r;
    }
    return nullptr;
}

const CRangePlan::Range* CRangePlan::RangeOf(int slot) const {
    for (const Range& r : ranges_) {
        if (r.owner == slot) return &r;
    }
    return nullptr;
}

void CRangePlan::Insert(const Range& range) {
    auto at = std::upper_bound(ranges_.begin(), ranges_.end(), range.next,
                               [](uint64_t next, const Range& r) { return next < r.next; });
    ranges_.insert(at, range);
}

bool CRangePlan::Assign(int slot, const std::vector<double>& slotSpeeds, Work* work) {
    if (FindOwned(slot)) return false;
    // An unowned range first, the lowest one: the complete prefix grows.
    for (Range& r : ranges_) {
        if (r.owner == kNoOwner && r.Left() > 0) {
            r.owner = slot;
            *work = Work{r.next, r.end, kNoOwner};
            return true;
        }
    }
    auto speedOf = [&](int s) { return s >= 0 && static_cast<size_t>(s) < slotSpeeds.size() ? slotSpeeds[s] : kUnknownSpeed; };
    // A slot without history counts as fast as the one asking (or as the
    // average of those known): equal shares until speeds are measured.
    double reference = speedOf(slot);
    if (reference <= 0) {
        double sum = 0;
        int known = 0;
        for (double s : slotSpeeds) {
            if (s > 0) {
                sum += s;
                ++known;
            }
        }
        reference = known ? sum / known : 1.0;
    }
    auto effective = [&](double s) { return s == kUnknownSpeed || s < 0 ? reference : s; };

    // The victim: the range whose owner would take longest to finish it,
    // among those that can be cut (or taken whole from a stalled owner).
    Range* victim = nullptr;
    double longest = -1;
    for (Range& r : ranges_) {
        if (r.owner == kNoOwner || r.owner == slot || r.Left() == 0) continue;
        const double speed = effective(speedOf(r.owner));
        const bool stalled = speed == 0;
        if (!stalled && (r.Left() < 2 * minPart_ || ranges_.size() >= kMaxRanges)) continue;
        const double time = stalled ? std::numeric_limits<double>::infinity() : static_cast<double>(r.Left()) / speed;
        if (time > longest) {
            longest = time;
            victim = &r;
        }
    }
    if (!victim) return false;

    const int victimSlot = victim->owner;
    const double victimSpeed = effective(speedOf(victimSlot));
    if (victimSpeed == 0) {
        // Stalled: everything it has not written changes hands.
        victim->owner = slot;
        *work = Work{victim->next, victim->end, victimSlot};
        return true;
    }
    // Cut so that both parts end at the same time at the measured speeds.
    const double mine = effective(speedOf(slot));
    const double share = mine / (mine + victimSpeed);
    const uint64_t left = victim->Left();
    const uint64_t give = static_cast<uint64_t>(static_cast<double>(left) * share);
    uint64_t cut = AlignDown(victim->end - std::min(give, left));
    // Both parts keep minPart; with pieces the range's next byte is a piece
    // boundary, so these bounds stay on the grain too.
    cut = std::max(cut, victim->next + minPart_);
    const uint64_t top = victim->end - minPart_;
    cut = std::min(cut, pieceGrain_ ? AlignDown(top) : top);
    Range taken;
    taken.next = cut;
    taken.end = victim->end;
    taken.owner = slot;
    victim->end = cut;
    Insert(taken);  // invalidates victim
    *work = Work{cut, taken.end, victimSlot};
    return true;
}

void CRangePlan::Advance(int slot, uint64_t next) {
    Range* r = FindOwned(slot);
    if (r) r->next = std::min(std::max(r->next, next), r->end);
}

void CRangePlan::Release(int slot) {
    for (auto it = ranges_.begin(); it != ranges_.end(); ++it) {
        if (it->owner != slot) continue;
        if (it->Left() == 0) {
            ranges_.erase(it);
        } else {
            it->owner = kNoOwner;
        }
        return;
    }
}

uint64_t CRangePlan::MissingBytes() const {
    uint64_t sum = 0;
    for (const Range& r : ranges_) sum += r.Left();
    return sum;
}

uint64_t CRangePlan::Prefix() const {
    for (const Range& r : ranges_) {
        if (r.Left() > 0) return r.next;
    }
    return total_;
}

std::vector<ByteRange> CRangePlan::Missing() const {
    std::vector<ByteRange> missing;
    for (const Range& r : ranges_) {
        if (r.Left() > 0) missing.push_back({r.next, r.end});
    }
    return missing;
}

#include "Http/PieceHasher.h"

#include <algorithm>

bool CPieceHasher::Feed(uint64_t from, const char* bytes, uint32_t length) {
    const uint64_t end = std::min(from + length, pieces_->Total());
    while (from < end) {
        const size_t index = pieces_->IndexOf(from);
        const uint64_t pieceEnd = pieces_->PieceEnd(index);
        const uint32_t take = static_cast<uint32_t>(std::min(end, pieceEnd) - from);
        if (from == pieces_->PieceStart(index)) {
            hash_.Reset();
            hashedTo_ = from;
        }
        if (hashedTo_ == from) {
            hash_.Update(bytes, take);
            hashedTo_ = from + take;
            if (hashedTo_ == pieceEnd) {
                if (!pieces_->Matches(index, &hash_)) {
                    bad_ = index;
                    Forget();
                    return false;
                }
                kept_ = pieceEnd;
            }
        }
        bytes += take;
        from += take;
    }
    return true;
}

void CPieceHasher::Prime(HANDLE file, uint64_t to) {
    hash_.Reset();
    hashedTo_ = CPieceDigests::HashFile(file, pieces_->AlignDown(to), to, &hash_) ? to : UINT64_MAX;
}

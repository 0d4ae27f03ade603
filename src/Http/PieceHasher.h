#pragma once
// CPieceHasher: hashes the package's bytes as a sink writes them, piece by
// piece, and compares each piece with its digest as its last byte arrives.
// A piece is hashed only from its first byte on: after a gap (a range begun
// inside a piece) it waits for the next piece's start. One thread at a time
// (the sink's).
#include <windows.h>

#include <cstdint>
#include <memory>

#include "Http/PieceDigests.h"
#include "Runtime/Sha256.h"

class CPieceHasher {
public:
    explicit CPieceHasher(std::shared_ptr<const CPieceDigests> pieces) : pieces_(std::move(pieces)) {}

    const CPieceDigests& Pieces() const { return *pieces_; }
    // Takes bytes [from, from + length) of the file (those past the package's
    // end are not hashed). False at a piece that does not match (BadPiece());
    // nothing after it is hashed.
    bool Feed(uint64_t from, const char* bytes, uint32_t length);
    // Hashes the file's part of the piece that `to` lies in, [piece start,
    // to), through `file`, so that the bytes fed from `to` on complete it.
    // When they cannot be read that piece goes unchecked.
    void Prime(HANDLE file, uint64_t to);
    // Forgets the piece begun: the next is hashed from its first byte.
    void Forget() { hashedTo_ = UINT64_MAX; }
    // The end of the last piece that matched (0: none yet).
    uint64_t Kept() const { return kept_; }
    size_t BadPiece() const { return bad_; }

private:
    const std::shared_ptr<const CPieceDigests> pieces_;
    CSha256 hash_;
    uint64_t hashedTo_ = UINT64_MAX;  // the hash holds its piece's bytes up to here
    uint64_t kept_ = 0;
    size_t bad_ = 0;
};

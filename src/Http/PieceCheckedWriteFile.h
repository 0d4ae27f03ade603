#pragma once
// PieceCheckedWriteFile: the single stream's file sink when the package has
// piece digests. It hashes each piece from the bytes as they are written and
// refuses the last bytes of a piece that does not match (kPieceMismatch):
// the file then ends inside that piece, and the task cuts it back to the
// piece's start. Same threads as DownloadWriteFile (the transfer's worker).
#include <cstdint>
#include <memory>

#include "Http/DownloadWriteFile.h"
#include "Http/PieceHasher.h"

class PieceCheckedWriteFile final : public DownloadWriteFile {
public:
    explicit PieceCheckedWriteFile(std::shared_ptr<const CPieceDigests> pieces) : hasher_(std::move(pieces)) {}

    // After Open: reads the file's part of the piece it ends in, so that the
    // piece is checked when the stream completes it (main thread, once).
    // When it cannot be read that piece goes unchecked by this sink.
    void Prime();
    int32_t Write(const void* data, uint32_t count) override;
    void Reset() override;

private:
    CPieceHasher hasher_;
    uint64_t offset_ = 0;  // where the next byte lands
};

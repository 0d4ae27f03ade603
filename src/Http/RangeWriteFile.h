#pragma once
// RangeWriteFile: the file sink of one connection of a segmented download.
// It writes at its own offsets in a file shared by all connections (one
// handle), from the cursor's position up to the cursor's end, gathering the
// body into writes of 256 KiB; a piece that would pass the end is cut there
// and the short count ends the transfer. The cursor's position counts only
// bytes in the file (Flush and Close write what is gathered). The end may be
// lowered from the main thread at any time (the range was split).
// Write/Flush/Close: one thread at a time (the transfer's stream lock); the
// cursor: any thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "Runtime/ByteStream.h"
#include "Runtime/Handles.h"
#include "Runtime/Lock.h"

class CPieceDigests;
class CPieceHasher;

// Where one connection writes: the next offset and the offset it stops at.
// With piece digests, `kept` is the end of the last piece that matched (the
// range is counted only that far) and `badPiece` one past the index of a
// piece that did not; without them `kept` follows `position`.
struct RangeCursor {
    std::atomic<uint64_t> position{0};
    std::atomic<uint64_t> end{0};
    std::atomic<uint64_t> kept{0};
    std::atomic<uint64_t> badPiece{0};
    uint64_t Left() const {
        const uint64_t p = position.load(), e = end.load();
        return e > p ? e - p : 0;
    }
};

// The one handle of the file, shared by every connection's sink. Its lock
// keeps each move of the file pointer together with the write that follows.
struct RangeFileHandle {
    kv::UniqueKernelHandle handle;
    CLock lock;
};

class RangeWriteFile : public OBaseStream {
public:
    using SharedFile = std::shared_ptr<RangeFileHandle>;

    // Opens `path` for writing (created when missing, other writers denied)
    // and gives it exactly `length` bytes; null on failure (*error: the
    // system code).
    static SharedFile OpenShared(const std::wstring& path, uint64_t length, uint32_t* error);

    RangeWriteFile(SharedFile file, std::shared_ptr<RangeCursor> cursor);
    ~RangeWriteFile() override;
    // Checks the pieces this sink writes (before the first write). A range
    // that begins inside a piece leaves that piece unchecked: it is not kept.
    void CheckPieces(std::shared_ptr<const CPieceDigests> pieces);

    // Bytes gathered before one write to the file: libcurl hands the body
    // over as each socket read brings it, often a few KiB, and a write per
    // piece costs more than a copy.
    static constexpr uint32_t kGatherBytes = 256 * 1024;

    int32_t Write(const void* data, uint32_t count) override;
    // Writes what is gathered (up to the cursor's end) and moves the cursor's
    // position past it. After a failed write every later call fails.
    bool Flush();
    // Writes what is gathered and lets go of the shared file (it closes with
    // its last sink). A failure of that write, or of an earlier one, stays in
    // lastError for the connection to report.
    void Close() override;
    // A range is never started over: the transfer refuses any answer that is
    // not its range before the first byte, so there is nothing to discard.
    void Reset() override {}

private:
    SharedFile file_;
    std::shared_ptr<RangeCursor> cursor_;
    std::unique_ptr<char[]> gather_;
    uint32_t gathered_ = 0;
    bool failed_ = false;
    std::unique_ptr<CPieceHasher> hasher_;  // with piece digests
};

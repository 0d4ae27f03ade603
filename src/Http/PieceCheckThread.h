#pragma once
// CPieceCheckThread: checks the pieces of a partial file on a worker thread
// (CPieceDigests::Recheck through a read handle of its own), so that hashing
// up to a whole package does not hold up the window. At its end it posts
// done(token) to the main thread; the owner then reads Needed(). The owner
// starts and stops it (StopThread: the hashing ends within one 256 KiB read)
// and keeps it alive until the thread has ended. Start/Stop and the results:
// owner (main) thread.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Http/PieceDigests.h"
#include "Runtime/SimpleThread.h"

class CPieceCheckThread final : public CSimpleThread {
public:
    using Done = void (*)(uintptr_t token);

    // What Recheck() is asked (see there) for the file at `path`.
    CPieceCheckThread(std::shared_ptr<const CPieceDigests> pieces, const std::wstring& path,
                      const std::vector<ByteRange>& missing, bool trustWritten, uint64_t trustedBelow, Done done,
                      uintptr_t token)
        : pieces_(std::move(pieces)), path_(path), missing_(missing), trustWritten_(trustWritten),
          trustedBelow_(trustedBelow), done_(done), token_(token) {}

    // The same question as this one's (so its answer holds for it).
    bool Asks(const std::vector<ByteRange>& missing, bool trustWritten, uint64_t trustedBelow) const {
        return missing == missing_ && trustWritten == trustWritten_ && trustedBelow == trustedBelow_;
    }
    // After done: whether the file could be opened, and what it still needs.
    bool Opened() const { return opened_; }
    const std::vector<ByteRange>& Needed() const { return needed_; }

    void Run() override;

private:
    const std::shared_ptr<const CPieceDigests> pieces_;
    const std::wstring path_;
    const std::vector<ByteRange> missing_;
    const bool trustWritten_;
    const uint64_t trustedBelow_;
    const Done done_;
    const uintptr_t token_;
    bool opened_ = false;
    std::vector<ByteRange> needed_;
};

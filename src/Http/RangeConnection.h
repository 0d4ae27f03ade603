#pragma once
// CRangeConnection: one connection slot of a segmented download, a task of
// the download engine like any other (the engine's limit on running tasks,
// its retry delay and the time limits apply to it). Each start fetches the
// range it was last given from the source it was last given into the shared
// file, and tells its owner what the answer was, the bytes as they come and
// how the attempt ended. Main thread only.
#include <cstdint>
#include <memory>
#include <string>

#include "Http/HttpBase.h"
#include "Http/HttpResult.h"
#include "Http/RangeTransfer.h"
#include "Http/RangeWriteFile.h"

class CRangeConnection : public CHttpBase {
public:
    // Where a connection goes: a URL and, after the address fallback, the
    // address its host is pinned to (the host name stays in the request).
    struct Source {
        std::wstring url;
        std::wstring pinnedHost;
        std::wstring pinnedAddress;
    };

    class Owner {
    public:
        // At each start: gives the connection its work (Assign) or says
        // there is none, and the connection then leaves its scheduler.
        virtual bool OnConnectionStarting(CRangeConnection* connection) = 0;
        // The final answer's status and what it means for the range.
        virtual void OnConnectionStatus(CRangeConnection* connection, int32_t status, CRangeTransfer::Verdict verdict) = 0;
        virtual void OnConnectionBytes(CRangeConnection* connection, uint32_t count) = 0;
        // The attempt has ended (the task has already left its scheduler);
        // `result` is its classified pair. The connection may be started
        // again from here.
        virtual void OnConnectionDone(CRangeConnection* connection, const HttpResult& result,
                                      CRangeTransfer::Verdict verdict) = 0;
        // The sink of an attempt: the file from the cursor's position up to
        // its end (a RangeWriteFile, or one made for the owner).
        virtual RangeWriteFile* NewSink(RangeWriteFile::SharedFile file, std::shared_ptr<RangeCursor> cursor) = 0;

    protected:
        ~Owner() = default;
    };

    CRangeConnection(Owner* owner, int slot) : owner_(owner), slot_(slot) {}
    ~CRangeConnection() override;

    // This attempt fetches [cursor->position, cursor->end) of a package of
    // `total` bytes from `source` into `file` (from OnConnectionStarting).
    void Assign(const Source& source, size_t sourceIndex, RangeWriteFile::SharedFile file,
                std::shared_ptr<RangeCursor> cursor, uint64_t total);
    // Ends the current work: the next start needs a new Assign.
    void Unassign();

    int Slot() const { return slot_; }
    size_t SourceIndex() const { return sourceIndex_; }
    const std::shared_ptr<RangeCursor>& Cursor() const { return cursor_; }
    // Writes the bytes its sink has gathered, so that the cursor's position
    // is all that was received (under the transfer's stream lock).
    void FlushReceived();
    // Started, or waiting out its retry delay.
    bool IsBusy() const { return IsStarted() || IsRetryPending(); }

    const std::wstring& GetUrl() const override { return source_.url; }
    bool SetupTransfer() override;
    bool Start() override;
    // Cancels (also a pending retry); no Done follows.
    bool Stop() override;
    void Done(int32_t curlResult) override;
    void OnHttpStatus(int32_t status) override;
    void OnBytesReceived(uint32_t count) override;

private:
    Owner* owner_;
    const int slot_;
    Source source_;
    size_t sourceIndex_ = 0;
    RangeWriteFile::SharedFile file_;
    std::shared_ptr<RangeCursor> cursor_;
    uint64_t total_ = 0;
    uint64_t requestedFrom_ = 0;
    bool choosingWork_ = false;
};

// Hands the connection to the download engine's scheduler; false when that
// engine does not exist.
bool SubmitRangeConnection(CRangeConnection* connection);

#pragma once
// CRangeTransfer: a transfer that asks for bytes [from, to] of a package of a
// known size and takes the body only when the answer is exactly that: a 206
// whose Content-Range starts at `from` and names the package size. Any other
// answer (200, another size, no Content-Range, an error) is judged at the end
// of its headers, on the worker thread, before a byte reaches the file; its
// body is refused, which ends the transfer. Set up on the main thread; the
// verdict may be read from any thread.
#include <atomic>
#include <cstdint>
#include <string>

#include "Http/CurlHttp.h"

class CRangeTransfer : public CCurlHttp {
public:
    enum class Verdict {
        Pending,   // no final answer yet
        Partial,   // 206 with the range asked for
        Whole,     // 200: the server ignores ranges
        Mismatch,  // 206 (or another 2xx) that is not this package's range
        Error,     // status below 100 or from 400 on
    };

    CRangeTransfer(uint64_t from, uint64_t total) : from_(from), total_(total) {}

    // Sets CURLOPT_RANGE to "from-last" (after Configure, which it overrides).
    bool RequestRange(uint64_t last);
    Verdict GetVerdict() const { return verdict_.load(std::memory_order_acquire); }

    // "bytes FIRST-LAST/TOTAL" (RFC 9110): false unless well-formed with
    // FIRST <= LAST < TOTAL. Hostile text of any length is fine.
    static bool ParseContentRange(const std::wstring& value, uint64_t* first, uint64_t* last, uint64_t* total);
    // The verdict for a final status and its Content-Range field ("" when
    // absent), for a request from `from` of a package of `total` bytes.
    static Verdict Judge(int32_t status, const std::wstring& contentRange, uint64_t from, uint64_t total);

    size_t OnRecieveHeader(const char* data, size_t length) override;
    size_t OnRecieveBody(const char* data, size_t length) override;

private:
    const uint64_t from_;
    const uint64_t total_;
    std::atomic<Verdict> verdict_{Verdict::Pending};
};

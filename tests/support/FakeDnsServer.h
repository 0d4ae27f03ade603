#pragma once
// CFakeDnsServer: a scriptable DNS server for tests, on UDP 127.0.0.1 at a port
// the system picks. It records every query and answers the n-th one with the
// n-th scripted reply (the last one repeats; no script = silent). A reply is a
// list of datagrams, each built from the query and sent from the server's own
// socket, from another port, or from another loopback address (127.0.0.2).
// The server runs its own thread; every public call is safe from any thread.
//
//   CFakeDnsServer dns;                      // in the test
//   ASSERT_TRUE(dns.Start());
//   dns.SetReplies({FakeDns::Silent(), FakeDns::Addresses({"127.0.0.1"})});
//   resolver.SetResolvers({dns.Endpoint()}); // CDNSThread injection
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Http/DnsResolverList.h"

struct FakeDnsRecord {
    std::string owner = std::string("\xC0\x0C", 2);  // wire name; default points at the question
    uint16_t type = 1;
    uint16_t klass = 1;
    uint32_t ttl = 60;
    std::string data;  // record data, wire bytes
};

enum class FakeDnsSource { Server, OtherPort, OtherAddress };

struct FakeDnsDatagram {
    FakeDnsSource source = FakeDnsSource::Server;
    std::function<std::string(const std::string& query)> build;
};

using FakeDnsReply = std::vector<FakeDnsDatagram>;  // empty: no answer at all

namespace FakeDns {

constexpr uint16_t kOkFlags = 0x8180;  // response, recursion desired and available, rcode 0

// Wire helpers.
std::string EncodeName(const std::string& dotted);  // uncompressed labels and the zero byte
std::string U16(uint16_t value);                     // big-endian
FakeDnsRecord A(const std::string& dotted);
FakeDnsRecord Cname(const std::string& target);
// The response to `query`: its identifier, `flags`, one question copied from
// the query, then `records`. An answer count other than records.size() can
// be forced with `answerCount` (>= 0).
std::string Response(const std::string& query, const std::vector<FakeDnsRecord>& records,
                     uint16_t flags = kOkFlags, int answerCount = -1);
// The same, but with `questions` (wire bytes, see Question) in place of the
// query's question and `questionCount` as the header's question count.
std::string ResponseWithQuestion(const std::string& query, const std::string& questions,
                                 const std::vector<FakeDnsRecord>& records, uint16_t questionCount = 1);
// One question's wire bytes: the name, its type (1 = A) and class (1 = IN).
std::string Question(const std::string& dotted, uint16_t type = 1, uint16_t klass = 1);
// An owned record: `record` with the uncompressed `owner` in place of the
// pointer at the question.
FakeDnsRecord OwnedBy(const std::string& owner, FakeDnsRecord record);
// The identifier bytes of a query, as a number in the machine's order.
uint16_t QueryId(const std::string& query);

// Replies.
FakeDnsReply Silent();
FakeDnsReply Answer(const std::vector<FakeDnsRecord>& records, uint16_t flags = kOkFlags);
FakeDnsReply Addresses(const std::vector<std::string>& dotted);
FakeDnsReply WrongId(const std::vector<FakeDnsRecord>& records);
FakeDnsReply From(FakeDnsSource source, const std::vector<FakeDnsRecord>& records);
FakeDnsReply Truncated(const std::vector<FakeDnsRecord>& records);  // TC bit set
FakeDnsReply ErrorCode(uint16_t rcode);                             // e.g. 3 = no such name
FakeDnsReply CutTo(size_t length, const std::vector<FakeDnsRecord>& records);  // first `length` bytes
FakeDnsReply Raw(std::function<std::string(const std::string& query)> build);
// An answer to another question than the one asked (see Question).
FakeDnsReply AnswerTo(const std::string& question, const std::vector<FakeDnsRecord>& records);
// Concatenation: the datagrams of `first`, then those of `second`.
FakeDnsReply Then(FakeDnsReply first, const FakeDnsReply& second);

}  // namespace FakeDns

class CFakeDnsServer {
public:
    CFakeDnsServer() = default;
    ~CFakeDnsServer();
    CFakeDnsServer(const CFakeDnsServer&) = delete;
    CFakeDnsServer& operator=(const CFakeDnsServer&) = delete;

    // Binds 127.0.0.1:0 (plus the helper sockets) and starts serving.
    bool Start();
    void Stop();

    uint16_t Port() const { return port_; }
    DnsResolver Endpoint() const;  // 127.0.0.1:Port()
    bool HasOtherAddress() const { return otherAddress_ != INVALID_SOCKET; }

    void SetReplies(std::vector<FakeDnsReply> script);
    void SetReply(FakeDnsReply reply) { SetReplies({std::move(reply)}); }

    std::vector<std::string> Queries() const;
    size_t QueryCount() const;

private:
    void Serve();
    SOCKET SocketFor(FakeDnsSource source) const;

    SOCKET server_ = INVALID_SOCKET;
    SOCKET otherPort_ = INVALID_SOCKET;
    SOCKET otherAddress_ = INVALID_SOCKET;
    uint16_t port_ = 0;
    bool winsock_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<FakeDnsReply> script_;
    std::vector<std::string> queries_;
};

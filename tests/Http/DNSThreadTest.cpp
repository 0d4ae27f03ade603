// CDNSThread against fake resolvers on loopback; the result arrives through
// the main-thread dispatcher, so every test pumps messages while it waits.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Http/DNSThread.h"
#include "Http/DnsMessage.h"
#include "Runtime/MainThreadDispatcher.h"
#include "support/FakeDnsServer.h"
#include "support/MessagePump.h"

namespace {

const char kHost[] = "ab.cdefghi.jkl";

struct Results {
    struct Entry {
        int code;
        std::string host;
        std::string addresses;
        bool onMainThread;
    };
    std::vector<Entry> entries;
};

void OnResult(Results* results, int code, const std::string& host, const std::string& addresses) {
    results->entries.push_back({code, host, addresses, IsMainThread()});
}

class DNSThreadTest : public ::testing::Test {
protected:
    // Starts `count` fake resolvers and returns their endpoints.
    std::vector<DnsResolver> StartServers(size_t count) {
        std::vector<DnsResolver> endpoints;
        for (size_t i = 0; i < count; ++i) {
            servers_.push_back(std::make_unique<CFakeDnsServer>());
            EXPECT_TRUE(servers_.back()->Start());
            endpoints.push_back(servers_.back()->Endpoint());
        }
        return endpoints;
    }
    CFakeDnsServer& Server(size_t i) { return *servers_[i]; }

    void Prepare(CDNSThread& dns, const std::vector<DnsResolver>& resolvers, DWORD waitMs) {
        dns.SetResultCallback([this](int code, const std::string& host, const std::string& addresses) {
            OnResult(&results_, code, host, addresses);
        });
        dns.SetHostName(kHost);
        dns.SetResolvers(resolvers);
        dns.SetWaitMs(waitMs);
    }

    // One run to its result; a second result before the thread has ended
    // would be a fault.
    const Results::Entry& RunOnce(CDNSThread& dns, DWORD timeoutMs = 10000) {
        const size_t before = results_.entries.size();
        EXPECT_TRUE(dns.StartThread());
        EXPECT_TRUE(PumpMessagesUntil([&] { return results_.entries.size() > before; }, timeoutMs));
        EXPECT_TRUE(dns.JoinThread(5000));
        EXPECT_TRUE(RunQueuedMainThreadTasks());
        EXPECT_EQ(before + 1, results_.entries.size()) << "exactly one result per run";
        dns.StopThread(100);
        static const Results::Entry none{99, "", "", false};
        return results_.entries.size() > before ? results_.entries[before] : none;
    }

    Results results_;
    std::vector<std::unique_ptr<CFakeDnsServer>> servers_;
};

TEST_F(DNSThreadTest, ServerReceivesTheQueryAndResultCarriesTheHost) {
    const auto endpoints = StartServers(1);
    Server(0).SetReply(FakeDns::Addresses({"127.0.0.5"}));
    CDNSThread dns;
    Prepare(dns, endpoints, 2000);
    const auto& r = RunOnce(dns);
    EXPECT_EQ(CDNSThread::kResolved, r.code);
    EXPECT_EQ("127.0.0.5", r.addresses);
    EXPECT_EQ(kHost, r.host);
    EXPECT_TRUE(r.onMainThread);

    const auto queries = Server(0).Queries();
    ASSERT_EQ(1u, queries.size());
    ASSERT_EQ(32u, queries[0].size());
    EXPECT_EQ(std::string("\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10), queries[0].substr(2, 10));
    EXPECT_EQ(std::string("\x02" "ab" "\x07" "cdefghi" "\x03" "jkl" "\x00" "\x00\x01\x00\x01", 20), queries[0].substr(12));
}

TEST_F(DNSThreadTest, FirstSilentSecondAnswersTwoAddressesInOrder) {
    const auto endpoints = StartServers(2);
    Server(1).SetReply(FakeDns::Addresses({"127.0.0.6", "10.20.30.40"}));
    CDNSThread dns;
    Prepare(dns, endpoints, 500);
    const ULONGLONG start = ::GetTickCount64();
    const auto& r = RunOnce(dns);
    EXPECT_GE(::GetTickCount64() - start, 500u) << "the first resolver gets its whole wait";
    EXPECT_EQ(CDNSThread::kResolved, r.code);
    EXPECT_EQ("127.0.0.6;10.20.30.40", r.addresses);
    EXPECT_EQ(1u, Server(0).QueryCount());
    EXPECT_EQ(1u, Server(1).QueryCount());
}

TEST_F(DNSThreadTest, CnameThenAddressAndCnameOnly) {
    const auto endpoints = StartServers(1);
    FakeDnsRecord a = FakeDns::A("127.0.0.7");
    a.owner = FakeDns::EncodeName("alias.cdefghi.jkl");
    Server(0).SetReplies({FakeDns::Answer({FakeDns::Cname("alias.cdefghi.jkl"), a}),
                          FakeDns::Answer({FakeDns::Cname("alias.cdefghi.jkl")})});
    CDNSThread dns;
    Prepare(dns, endpoints, 2000);
    const auto first = RunOnce(dns);
    EXPECT_EQ(CDNSThread::kResolved, first.code);
    EXPECT_EQ("127.0.0.7", first.addresses);
    // The same object runs again, as a download does for its next fallback.
    const auto second = RunOnce(dns);
    EXPECT_EQ(CDNSThread::kResolved, second.code) << "an answer without A records still counts as answered";
    EXPECT_EQ("", second.addresses);
}

struct Rejection {
    const char* what;
    FakeDnsReply reply;
    bool needsOtherAddress;
};

std::string PointerLoop(const std::string& query) {
    FakeDnsRecord r = FakeDns::A("127.0.0.99");
    r.owner = std::string("\xC0\x0C", 2);
    std::string out = FakeDns::Response(query, {r});
    out[12] = '\xC0';  // the question name becomes a pointer to itself
    out[13] = '\x0C';
    return out;
}

TEST_F(DNSThreadTest, RejectedAnswersMoveOnToTheNextResolver) {
    const std::vector<FakeDnsRecord> forged = {FakeDns::A("127.6.6.6")};
    FakeDnsRecord longName = FakeDns::Cname(std::string(63, 'a') + "." + std::string(63, 'b') + ".cd");
    const Rejection cases[] = {
        {"wrong identifier", FakeDns::WrongId(forged), false},
        {"answer from another port", FakeDns::From(FakeDnsSource::OtherPort, forged), false},
        {"answer from another address", FakeDns::From(FakeDnsSource::OtherAddress, forged), true},
        {"truncated flag", FakeDns::Truncated(forged), false},
        {"no such name", FakeDns::ErrorCode(3), false},
        {"server failure", FakeDns::ErrorCode(2), false},
        {"no answer records", FakeDns::Answer({}), false},
        {"cut short", FakeDns::CutTo(40, forged), false},
        {"compression loop", FakeDns::Raw(&PointerLoop), false},
        {"name over 128 bytes", FakeDns::Answer({longName, forged[0]}), false},
        {"answer to another name", FakeDns::AnswerTo(FakeDns::Question("ab.cdefghi.jkm"), forged), false},
        {"answer to an AAAA question", FakeDns::AnswerTo(FakeDns::Question(kHost, 28), forged), false},
        {"address of a name off the chain",
         FakeDns::Answer({FakeDns::Cname("b.jkl"), FakeDns::OwnedBy("c.jkl", forged[0])}), false},
    };
    const auto endpoints = StartServers(2);
    Server(1).SetReply(FakeDns::Addresses({"127.0.0.8"}));
    for (const Rejection& c : cases) {
        if (c.needsOtherAddress && !Server(0).HasOtherAddress()) {
            ADD_FAILURE() << c.what << ": 127.0.0.2 cannot be bound here";
            continue;
        }
        Server(0).SetReply(c.reply);
        CDNSThread dns;
        Prepare(dns, endpoints, 500);  // also the time the genuine second resolver gets
        const auto r = RunOnce(dns);
        EXPECT_EQ(CDNSThread::kResolved, r.code) << c.what;
        EXPECT_EQ("127.0.0.8", r.addresses) << c.what;
    }
    EXPECT_EQ(std::size(cases), Server(0).QueryCount());
}

TEST_F(DNSThreadTest, ForgedAnswersAreIgnoredWhileTheGenuineOneIsAwaited) {
    const auto endpoints = StartServers(1);
    const std::vector<FakeDnsRecord> forged = {FakeDns::A("127.6.6.6")};
    Server(0).SetReply(FakeDns::Then(
        FakeDns::Then(FakeDns::From(FakeDnsSource::OtherPort, forged), FakeDns::WrongId(forged)),
        FakeDns::Then(FakeDns::Truncated(forged), FakeDns::Addresses({"127.0.0.9"}))));
    CDNSThread dns;
    Prepare(dns, endpoints, 3000);
    const auto& r = RunOnce(dns);
    EXPECT_EQ(CDNSThread::kResolved, r.code);
    EXPECT_EQ("127.0.0.9", r.addresses);
}

TEST_F(DNSThreadTest, AllResolversSilentGiveFailureAfterEveryWait) {
    const auto endpoints = StartServers(4);
    CDNSThread dns;
    Prepare(dns, endpoints, 250);
    const ULONGLONG start = ::GetTickCount64();
    const auto& r = RunOnce(dns);
    EXPECT_GE(::GetTickCount64() - start, 4 * 250u);
    EXPECT_EQ(CDNSThread::kFailed, r.code);
    EXPECT_EQ("", r.addresses);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(1u, Server(i).QueryCount()) << i;
}

TEST_F(DNSThreadTest, QueryIdentifiersAreUnpredictable) {
    const auto endpoints = StartServers(1);
    CDNSThread dns;
    Prepare(dns, std::vector<DnsResolver>(8, endpoints[0]), 30);
    RunOnce(dns);
    const auto queries = Server(0).Queries();
    ASSERT_EQ(8u, queries.size());
    std::set<uint16_t> ids;
    int processIds = 0;
    for (const std::string& q : queries) {
        ids.insert(FakeDns::QueryId(q));
        processIds += FakeDns::QueryId(q) == static_cast<uint16_t>(::GetCurrentProcessId()) ? 1 : 0;
    }
    EXPECT_GE(ids.size(), 6u) << "identifiers repeat";
    EXPECT_LE(processIds, 1) << "identifiers follow the process id";
}

TEST_F(DNSThreadTest, StopDuringAWaitEndsTheRunWithoutResult) {
    const auto endpoints = StartServers(1);
    CDNSThread dns;
    Prepare(dns, std::vector<DnsResolver>(4, endpoints[0]), 10000);
    ASSERT_TRUE(dns.StartThread());
    ASSERT_TRUE(PumpMessagesUntil([&] { return Server(0).QueryCount() == 1; }, 5000));
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_TRUE(dns.StopThread(20000));
    // Not a speed check: a stop seen only between resolvers would take the rest of the 10 s wait.
    EXPECT_LT(::GetTickCount64() - start, 5000u) << "the stop waited for the resolver's whole wait";
    EXPECT_FALSE(dns.IsRunning());
    EXPECT_TRUE(RunQueuedMainThreadTasks());
    EXPECT_TRUE(results_.entries.empty());
    EXPECT_EQ(1u, Server(0).QueryCount());
}

TEST_F(DNSThreadTest, DestroyingARunningResolverStopsIt) {
    const auto endpoints = StartServers(1);
    auto dns = std::make_unique<CDNSThread>();
    Prepare(*dns, endpoints, 5000);
    ASSERT_TRUE(dns->StartThread());
    ASSERT_TRUE(PumpMessagesUntil([&] { return Server(0).QueryCount() == 1; }, 5000));
    dns.reset();
    EXPECT_TRUE(RunQueuedMainThreadTasks());
    EXPECT_TRUE(results_.entries.empty());
}

TEST(DnsResolverList, ParsesAddressesWithOptionalPorts) {
    std::vector<DnsResolver> list;
    ASSERT_TRUE(CDnsResolverList::Parse("127.0.0.1:5353;;10.0.0.255;", list));
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ("127.0.0.1:5353", CDnsResolverList::Format(list[0]));
    EXPECT_EQ("10.0.0.255:53", CDnsResolverList::Format(list[1]));

    for (const char* bad : {"1.2.3", "256.0.0.1", "1.2.3.4:0", "1.2.3.4:65536", "1.2.3.4:", "a.b.c.d", " 1.2.3.4",
                            "1.2.3.4.5", "1.2.3.4:53x", "0001.2.3.4", "127.0.0.1;bad"}) {
        EXPECT_FALSE(CDnsResolverList::Parse(bad, list)) << bad;
        EXPECT_TRUE(list.empty()) << bad;
    }
}

// The product ships the four public resolvers, in this order, on port 53
// (test builds keep them and refuse to send to them, see below).
TEST(DnsResolverList, BuiltInListIsTheFourPublicResolversAndTheThreadsDefault) {
    std::vector<std::string> builtIn;
    for (const DnsResolver& resolver : CDnsResolverList::BuiltIn()) builtIn.push_back(CDnsResolverList::Format(resolver));
    EXPECT_EQ(builtIn, (std::vector<std::string>{"114.114.114.114:53", "223.5.5.5:53", "8.8.8.8:53", "208.67.222.222:53"}));
    CDNSThread dns;
    EXPECT_EQ(CDnsResolverList::BuiltIn(), dns.GetResolvers());
    EXPECT_EQ(1500u, CDNSThread::kDefaultWaitMs);
}

TEST(DnsResolverList, TestBuildsRefuseNonLoopbackTargetsBeforeSending) {
    ASSERT_TRUE(CDnsResolverList::LoopbackOnly()) << "test builds must be configured with KV_LOOPBACK_ONLY=ON";
    DnsResolver outside;
    outside.address = {192, 0, 2, 1};
    DnsResolver loopback;
    loopback.address = {127, 0, 0, 1};
    EXPECT_FALSE(CDnsResolverList::IsAllowed(outside));
    EXPECT_TRUE(CDnsResolverList::IsAllowed(loopback));
    // No socket: if the guard let the target through, the send would fail
    // (Failed) rather than be refused, and still nothing could leave.
    const std::vector<uint8_t> message(32, 0);
    EXPECT_EQ(CDNSThread::SendResult::Refused, CDNSThread::SendQuery(INVALID_SOCKET, outside, message));
    EXPECT_EQ(CDNSThread::SendResult::Failed, CDNSThread::SendQuery(INVALID_SOCKET, loopback, message));
}

}  // namespace

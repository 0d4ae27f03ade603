// Robustness of the answer decoder: every truncated length of good answers,
// and 100,000 randomised mutations from a fixed, replayable seed. Each datagram
// is decoded from a guarded buffer, so a read of even one byte past it traps
// and is counted.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "Http/DnsMessage.h"
#include "support/FakeDnsServer.h"
#include "support/GuardedBuffer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Query(const std::string& host) {
    Bytes q;
    CDnsMessage::BuildQuery(host, 0x4B51, q);
    return q;
}

struct Sample {
    std::string host;  // the name asked
    Bytes answer;
};

Sample Answer(const std::string& host, const std::vector<FakeDnsRecord>& records) {
    const Bytes q = Query(host);
    const std::string r = FakeDns::Response(std::string(q.begin(), q.end()), records);
    return {host, Bytes(r.begin(), r.end())};
}

// Good answers that between them use every decoder path.
std::vector<Sample> Corpus() {
    FakeDnsRecord viaAlias = FakeDns::A("10.0.0.2");
    viaAlias.owner = std::string("\x03" "cdn", 4) + std::string("\xC0\x0C", 2);  // label + pointer
    FakeDnsRecord aaaa;
    aaaa.type = 28;
    aaaa.data = std::string(16, '\x20');
    return {
        Answer("ab.cdefghi.jkl", {FakeDns::A("10.0.0.1"), FakeDns::A("10.0.0.2")}),
        Answer("ab.cdefghi.jkl", {FakeDns::Cname("cdn.ab.cdefghi.jkl"), viaAlias}),
        Answer("x.y", {aaaa, FakeDns::A("1.2.3.4")}),
        Answer(std::string(60, 'q') + "." + std::string(60, 'r'), {FakeDns::A("9.9.9.9")}),
    };
}

// Runs everything a received datagram goes through; checks what is checkable.
void DecodeAll(const std::string& host, const uint8_t* data, size_t size) {
    (void)CDnsMessage::CheckHeader(data, size, 0x4B51);
    DnsAnswer answer;
    if (CDnsMessage::ParseAnswer(data, size, host, answer)) {
        const size_t answers = size >= 8 ? static_cast<size_t>((data[6] << 8) | data[7]) : 0;
        EXPECT_LE(answer.addresses.size() + answer.aliases.size(), answers);
        for (const std::string& alias : answer.aliases) EXPECT_LE(alias.size(), CDnsMessage::kMaxNameLength);
    }
    for (size_t pos = 0; pos < size; pos += 7) {
        size_t at = pos;
        std::string name;
        if (CDnsMessage::DecodeName(data, size, at, name)) {
            EXPECT_LE(name.size(), CDnsMessage::kMaxNameLength);
            EXPECT_LE(at, size);
            EXPECT_GT(at, pos);
        }
    }
}

TEST(DnsDecoderRobustness, GuardPageTrapsReadsPastTheEnd) {
    GuardedBuffer guard;
    ASSERT_TRUE(guard.Ready());
    const uint8_t bytes[3] = {1, 2, 3};
    const uint8_t* p = guard.Place(bytes, 3);
    EXPECT_EQ(3, p[2]);
    EXPECT_EQ(0, guard.Traps());
    const volatile uint8_t* past = p + 3;
    (void)*past;
    EXPECT_EQ(1, guard.Traps()) << "the guard page did not trap; the tests below would prove nothing";
}

TEST(DnsDecoderRobustness, EveryTruncatedLengthFailsWithoutReadingPastIt) {
    GuardedBuffer guard;
    ASSERT_TRUE(guard.Ready());
    for (const Sample& sample : Corpus()) {
        const Bytes& good = sample.answer;
        DnsAnswer answer;
        const uint8_t* whole = guard.Place(good.data(), good.size());
        ASSERT_TRUE(CDnsMessage::ParseAnswer(whole, good.size(), sample.host, answer));
        ASSERT_FALSE(answer.addresses.empty());
        for (size_t length = 0; length < good.size(); ++length) {
            const uint8_t* p = guard.Place(good.data(), length);
            EXPECT_FALSE(CDnsMessage::ParseAnswer(p, length, sample.host, answer))
                << "length " << length << " of " << good.size();
            DecodeAll(sample.host, p, length);
            ASSERT_EQ(0, guard.Traps()) << "read past a datagram cut to " << length << " of " << good.size();
        }
    }
}

TEST(DnsDecoderRobustness, HundredThousandMutatedAnswers) {
    // Replay one run with KV_DNS_FUZZ_SEED=<seed>; the iteration is printed on failure.
    uint32_t seed = 0x4B563133;
    if (const char* s = std::getenv("KV_DNS_FUZZ_SEED")) seed = static_cast<uint32_t>(std::strtoul(s, nullptr, 0));
    std::printf("seed 0x%08x\n", seed);
    std::mt19937 rng(seed);
    auto below = [&rng](size_t n) { return n ? static_cast<size_t>(rng() % n) : 0; };
    static const uint8_t kInteresting[] = {0x00, 0x01, 0x0C, 0x3F, 0x40, 0x7F, 0x80, 0xC0, 0xC0, 0xFF};

    GuardedBuffer guard;
    ASSERT_TRUE(guard.Ready());
    const std::vector<Sample> corpus = Corpus();
    int parsed = 0;
    for (int iteration = 0; iteration < 100000; ++iteration) {
        const Sample& sample = corpus[below(corpus.size())];
        Bytes m = sample.answer;
        const size_t edits = 1 + below(4);
        for (size_t e = 0; e < edits; ++e) {
            switch (below(7)) {
                case 0: if (!m.empty()) m[below(m.size())] ^= static_cast<uint8_t>(1u << below(8)); break;
                case 1: if (!m.empty()) m[below(m.size())] = kInteresting[below(sizeof(kInteresting))]; break;
                case 2: if (!m.empty()) m[below(m.size())] = static_cast<uint8_t>(rng()); break;
                case 3: m.resize(below(m.size() + 1)); break;
                case 4: m.insert(m.begin() + below(m.size() + 1), static_cast<uint8_t>(rng())); break;
                case 5:  // a pointer anywhere, often into the name area
                    if (m.size() >= 2) {
                        const size_t at = below(m.size() - 1);
                        const size_t target = below(m.size() + 8);
                        m[at] = static_cast<uint8_t>(0xC0 | ((target >> 8) & 0x3F));
                        m[at + 1] = static_cast<uint8_t>(target);
                    }
                    break;
                default:  // huge question or answer counts
                    if (m.size() >= 8) m[4 + 2 * below(2)] = static_cast<uint8_t>(rng());
                    break;
            }
        }
        if (m.size() > CDnsMessage::kMaxDatagram) m.resize(CDnsMessage::kMaxDatagram);
        const uint8_t* p = guard.Place(m.data(), m.size());
        DnsAnswer answer;
        parsed += CDnsMessage::ParseAnswer(p, m.size(), sample.host, answer) ? 1 : 0;
        DecodeAll(sample.host, p, m.size());
        if (guard.Traps() != 0 || ::testing::Test::HasFailure()) {
            FAIL() << "seed 0x" << std::hex << seed << std::dec << " iteration " << iteration
                   << ": read past the datagram or bad result (" << guard.Traps() << " traps)";
        }
    }
    // Some mutations stay decodable: the test exercised the success paths too.
    EXPECT_GT(parsed, 1000);
    EXPECT_LT(parsed, 100000);
    std::printf("%d of 100000 mutated answers decoded\n", parsed);
}

}  // namespace

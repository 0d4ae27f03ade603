#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Http/DnsMessage.h"
#include "support/FakeDnsServer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Query(const std::string& host, uint16_t id = 0x1234) {
    Bytes message;
    EXPECT_TRUE(CDnsMessage::BuildQuery(host, id, message)) << host;
    return message;
}

// A well-formed answer to `host` holding `records` (owner names point at the question).
Bytes AnswerTo(const std::string& host, const std::vector<FakeDnsRecord>& records, uint16_t id = 0x1234) {
    const Bytes q = Query(host, id);
    return ToBytes(FakeDns::Response(std::string(q.begin(), q.end()), records));
}

// Decodes `datagram` as the answer to the A query for `host`.
bool Parse(const std::string& host, const Bytes& datagram, DnsAnswer& answer) {
    return CDnsMessage::ParseAnswer(datagram.data(), datagram.size(), host, answer);
}
bool ParseAnswerTo(const std::string& host, const std::vector<FakeDnsRecord>& records, DnsAnswer& answer) {
    return Parse(host, AnswerTo(host, records), answer);
}

TEST(DnsQuery, TwoSevenThreeHostGivesSixteenByteNameAndThirtyTwoByteMessage) {
    const Bytes m = Query("ab.cdefghi.jkl", 0xBEEF);
    ASSERT_EQ(32u, m.size());
    uint16_t id;
    memcpy(&id, m.data(), 2);
    EXPECT_EQ(0xBEEF, id);  // machine order, compared as stored
    const Bytes header(m.begin() + 2, m.begin() + 12);
    EXPECT_EQ((Bytes{0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0}), header);
    const Bytes name(m.begin() + 12, m.begin() + 28);
    EXPECT_EQ(ToBytes(std::string("\x02" "ab" "\x07" "cdefghi" "\x03" "jkl", 15) + std::string(1, '\0')), name);
    EXPECT_EQ((Bytes{0, 1, 0, 1}), Bytes(m.begin() + 28, m.end()));
}

TEST(DnsQuery, EmptyPiecesAreSkipped) {
    const Bytes plain = Query("ab.cdefghi.jkl");
    EXPECT_EQ(plain, Query("ab.cdefghi.jkl."));
    EXPECT_EQ(plain, Query("ab..cdefghi.jkl"));
    EXPECT_EQ(plain, Query(".ab.cdefghi...jkl.."));
}

TEST(DnsQuery, LabelAndMessageCaps) {
    Bytes m;
    EXPECT_TRUE(CDnsMessage::BuildQuery(std::string(63, 'a') + ".b", 1, m));
    // 64 would be written as a length byte that reads as a compression pointer.
    EXPECT_FALSE(CDnsMessage::BuildQuery(std::string(64, 'a') + ".b", 1, m));

    const std::string l63(63, 'x');
    const std::string fits = l63 + "." + l63 + "." + l63 + "." + std::string(61, 'y');  // name of 255 bytes
    ASSERT_TRUE(CDnsMessage::BuildQuery(fits, 1, m));
    EXPECT_EQ(CDnsMessage::kQueryBufferSize, m.size());
    EXPECT_FALSE(CDnsMessage::BuildQuery(fits + "y", 1, m));
    EXPECT_FALSE(CDnsMessage::BuildQuery(std::string(100000, 'z'), 1, m));
}

struct HeaderCase {
    const char* what;
    uint16_t id;
    uint16_t flags;
    uint16_t answers;
    size_t size;
    DnsHeaderCheck expected;
};

TEST(DnsHeader, AcceptanceTable) {
    const HeaderCase cases[] = {
        {"plain answer", 0x1234, 0x8180, 1, 12, DnsHeaderCheck::Accepted},
        {"authoritative, no recursion available", 0x1234, 0x8500, 2, 12, DnsHeaderCheck::Accepted},
        {"short header", 0x1234, 0x8180, 1, 11, DnsHeaderCheck::TooShort},
        {"other identifier", 0x1235, 0x8180, 1, 12, DnsHeaderCheck::WrongId},
        {"a query, not a response", 0x1234, 0x0100, 1, 12, DnsHeaderCheck::WrongFlags},
        {"truncated", 0x1234, 0x8380, 1, 12, DnsHeaderCheck::WrongFlags},
        {"no such name", 0x1234, 0x8183, 1, 12, DnsHeaderCheck::WrongFlags},
        {"server failure", 0x1234, 0x8182, 1, 12, DnsHeaderCheck::WrongFlags},
        {"inverse query opcode", 0x1234, 0x8980, 1, 12, DnsHeaderCheck::WrongFlags},
        {"recursion not desired", 0x1234, 0x8080, 1, 12, DnsHeaderCheck::WrongFlags},
        {"reserved bit set", 0x1234, 0x81C0, 1, 12, DnsHeaderCheck::WrongFlags},
        {"no answer records", 0x1234, 0x8180, 0, 12, DnsHeaderCheck::NoAnswers},
    };
    for (const HeaderCase& c : cases) {
        Bytes h(12, 0);
        memcpy(h.data(), &c.id, 2);
        h[2] = static_cast<uint8_t>(c.flags >> 8);
        h[3] = static_cast<uint8_t>(c.flags);
        h[7] = static_cast<uint8_t>(c.answers);
        EXPECT_EQ(c.expected, CDnsMessage::CheckHeader(h.data(), c.size, 0x1234)) << c.what;
    }
}

TEST(DnsAnswerParse, TwoAddressesInAnswerOrder) {
    DnsAnswer a;
    ASSERT_TRUE(ParseAnswerTo("ab.cdefghi.jkl", {FakeDns::A("10.1.2.3"), FakeDns::A("192.168.0.250")}, a));
    EXPECT_EQ("10.1.2.3;192.168.0.250", CDnsMessage::JoinAddresses(a.addresses));
}

TEST(DnsAnswerParse, CnameIsDecodedButOnlyAddressesReported) {
    DnsAnswer a;
    FakeDnsRecord second = FakeDns::A("127.0.0.7");
    second.owner = FakeDns::EncodeName("alias.cdefghi.jkl");
    ASSERT_TRUE(ParseAnswerTo("ab.cdefghi.jkl", {FakeDns::Cname("alias.cdefghi.jkl"), second}, a));
    EXPECT_EQ("127.0.0.7", CDnsMessage::JoinAddresses(a.addresses));
    ASSERT_EQ(1u, a.aliases.size());
    EXPECT_EQ("alias.cdefghi.jkl", a.aliases[0]);

    ASSERT_TRUE(ParseAnswerTo("ab.cdefghi.jkl", {FakeDns::Cname("only.alias")}, a));
    EXPECT_TRUE(a.addresses.empty());
    EXPECT_EQ("", CDnsMessage::JoinAddresses(a.addresses));
}

TEST(DnsAnswerParse, OtherTypesAreSkippedByTheirLength) {
    FakeDnsRecord aaaa;
    aaaa.type = 28;
    aaaa.data = std::string(16, '\x01');
    DnsAnswer a;
    ASSERT_TRUE(ParseAnswerTo("h.jk", {aaaa, FakeDns::A("1.2.3.4")}, a));
    EXPECT_EQ("1.2.3.4", CDnsMessage::JoinAddresses(a.addresses));
}

TEST(DnsAnswerParse, MalformedRecordsFail) {
    DnsAnswer a;
    FakeDnsRecord longA = FakeDns::A("1.2.3.4");
    longA.data += "x";
    EXPECT_FALSE(ParseAnswerTo("h.jk", {longA}, a)) << "A record of 5 bytes";
    FakeDnsRecord shortA = FakeDns::A("1.2.3.4");
    shortA.data.resize(3);
    EXPECT_FALSE(ParseAnswerTo("h.jk", {shortA, FakeDns::A("5.6.7.8")}, a)) << "A record of 3 bytes";

    Bytes overrun = AnswerTo("h.jk", {FakeDns::A("1.2.3.4")});
    overrun[overrun.size() - 5] = 9;  // data length 4 -> 9, past the datagram
    EXPECT_FALSE(Parse("h.jk", overrun, a));

    Bytes moreQuestions = AnswerTo("h.jk", {FakeDns::A("1.2.3.4")});
    moreQuestions[5] = 2;  // claims a second question that is not there
    EXPECT_FALSE(Parse("h.jk", moreQuestions, a));

    FakeDnsRecord cnameSpill = FakeDns::Cname("a.b");
    cnameSpill.data.resize(2);  // data length 2, but the name goes on into the next record
    EXPECT_FALSE(ParseAnswerTo("h.jk", {cnameSpill, FakeDns::A("1.2.3.4")}, a));
}

// An answer is read only when its question section is the question asked;
// the name may differ in letter case only.
TEST(DnsAnswerParse, OnlyAnAnswerToTheQuestionAskedIsRead) {
    const std::string host = "ab.cdefghi.jkl";
    const std::string asked = FakeDns::Question(host);
    struct Case {
        const char* what;
        std::string questions;
        uint16_t count;
        bool read;
    } cases[] = {
        {"the question asked", asked, 1, true},
        {"the name in other letter case", FakeDns::Question("AB.cdeFGhi.JKL"), 1, true},
        {"another name", FakeDns::Question("ab.cdefghi.jkm"), 1, false},
        {"a name with one more label", FakeDns::Question("x.ab.cdefghi.jkl"), 1, false},
        {"type AAAA", FakeDns::Question(host, 28), 1, false},
        {"class CH", FakeDns::Question(host, 1, 3), 1, false},
        {"no question", "", 0, false},
        {"the question twice", asked + asked, 2, false},
    };
    const Bytes q = Query(host);
    for (const Case& c : cases) {
        DnsAnswer a;
        const std::string r = FakeDns::ResponseWithQuestion(std::string(q.begin(), q.end()), c.questions,
                                                            {FakeDns::OwnedBy(host, FakeDns::A("10.0.0.1"))}, c.count);
        EXPECT_EQ(c.read, Parse(host, ToBytes(r), a)) << c.what;
        EXPECT_EQ(c.read ? "10.0.0.1" : "", CDnsMessage::JoinAddresses(a.addresses)) << c.what;
    }
    DnsAnswer a;
    EXPECT_TRUE(ParseAnswerTo(".ab..cdefghi.jkl.", {FakeDns::A("10.0.0.1")}, a)) << "empty pieces are not asked";
}

// Every A record must belong to the name reached at that point along the
// CNAME records from the question's name; an answer with an address of any
// other name is not read at all.
TEST(DnsAnswerParse, AddressesMustFollowTheCnameChainFromTheQuestion) {
    const std::string host = "ab.cdefghi.jkl";
    auto a = [](const std::string& owner, const std::string& address) {
        return FakeDns::OwnedBy(owner, FakeDns::A(address));
    };
    auto cname = [](const std::string& owner, const std::string& target) {
        return FakeDns::OwnedBy(owner, FakeDns::Cname(target));
    };
    FakeDnsRecord chaos = FakeDns::A("10.9.9.9");
    chaos.klass = 3;
    struct Case {
        const char* what;
        std::vector<FakeDnsRecord> records;
        bool read;
        const char* addresses;
    } cases[] = {
        {"address of the question's name", {FakeDns::A("10.0.0.1")}, true, "10.0.0.1"},
        {"address of another name", {a("other.cdefghi.jkl", "10.6.6.6")}, false, ""},
        {"genuine address beside one of another name", {FakeDns::A("10.0.0.1"), a("other.jkl", "10.6.6.6")}, false, ""},
        {"end of a two-step chain, other letter case",
         {cname(host, "b.jkl"), cname("B.JKL", "c.jkl"), a("c.jkl", "10.0.0.3")}, true, "10.0.0.3"},
        {"alias of another name", {cname("other.jkl", "c.jkl"), a("c.jkl", "10.6.6.6")}, false, ""},
        {"address of an alias before the alias", {a("b.jkl", "10.6.6.6"), cname(host, "b.jkl")}, false, ""},
        {"address of the question's name after its alias", {cname(host, "b.jkl"), a(host, "10.6.6.6")}, false, ""},
        {"address of another class is skipped", {chaos, FakeDns::A("10.0.0.1")}, true, "10.0.0.1"},
    };
    for (const Case& c : cases) {
        DnsAnswer answer;
        EXPECT_EQ(c.read, ParseAnswerTo(host, c.records, answer)) << c.what;
        EXPECT_EQ(c.addresses, CDnsMessage::JoinAddresses(answer.addresses)) << c.what;
    }
}

// Decodes the name that starts at `pos` of `bytes` (positions are offsets in the datagram).
bool Decode(const Bytes& bytes, size_t& pos, std::string& name) {
    return CDnsMessage::DecodeName(bytes.data(), bytes.size(), pos, name);
}

Bytes WithPrefix(const std::string& tail) {
    // A header's worth of padding in front, so offsets look like a datagram's.
    Bytes b(12 + tail.size(), 0);
    for (size_t i = 0; i < tail.size(); ++i) b[12 + i] = static_cast<uint8_t>(tail[i]);
    return b;
}

TEST(DnsName, PlainAndCompressedNames) {
    // 12: "cdefghi.jkl"  25: "ab" + pointer to 12  30: pointer to 25
    const Bytes b = WithPrefix(std::string("\x07" "cdefghi" "\x03" "jkl" "\x00"
                                           "\x02" "ab" "\xC0\x0C"
                                           "\xC0\x19", 21));
    std::string name;
    size_t pos = 12;
    ASSERT_TRUE(Decode(b, pos, name));
    EXPECT_EQ("cdefghi.jkl", name);
    EXPECT_EQ(25u, pos);
    ASSERT_TRUE(Decode(b, pos, name));
    EXPECT_EQ("ab.cdefghi.jkl", name);
    EXPECT_EQ(30u, pos) << "a name ending in a pointer occupies the pointer's 2 bytes";
    ASSERT_TRUE(Decode(b, pos, name));
    EXPECT_EQ("ab.cdefghi.jkl", name);
    EXPECT_EQ(32u, pos);

    const Bytes root = WithPrefix(std::string(1, '\0'));
    pos = 12;
    ASSERT_TRUE(Decode(root, pos, name));
    EXPECT_EQ("", name);
}

TEST(DnsName, PointersThatDoNotPointStrictlyBackwardsFail) {
    struct Case {
        const char* what;
        std::string tail;
        size_t start;
    } cases[] = {
        {"pointer to itself", std::string("\xC0\x0C", 2), 12},
        {"pointer forwards", std::string("\xC0\x0E\x01" "a\x00", 5), 12},
        {"label then pointer back to the label", std::string("\x01" "a\xC0\x0C", 4), 12},
        // 15: pointer to 17; 17: pointer to 15
        {"two pointers pointing at each other", std::string("\x01" "a\x00\xC0\x11\xC0\x0F", 7), 17},
        // 14: "b" then pointer to 12; 12: pointer to 14
        {"loop through a label", std::string("\xC0\x0E\x01" "b\xC0\x0C", 6), 14},
    };
    for (const Case& c : cases) {
        const Bytes b = WithPrefix(c.tail);
        size_t pos = c.start;
        std::string name;
        EXPECT_FALSE(Decode(b, pos, name)) << c.what;
        EXPECT_EQ(c.start, pos) << c.what;
    }
}

TEST(DnsName, JumpCap) {
    // A chain of pointers, each to the one before it, ending at a one-label name.
    auto chain = [](int jumps) {
        Bytes b = WithPrefix(std::string("\x01" "a\x00", 3));
        for (int i = 0; i < jumps; ++i) {
            const size_t previous = i == 0 ? 12 : b.size() - 2;
            b.push_back(static_cast<uint8_t>(0xC0 | (previous >> 8)));
            b.push_back(static_cast<uint8_t>(previous & 0xFF));
        }
        return b;
    };
    std::string name;
    Bytes ok = chain(CDnsMessage::kMaxPointerJumps);
    size_t pos = ok.size() - 2;
    ASSERT_TRUE(Decode(ok, pos, name));
    EXPECT_EQ("a", name);
    Bytes tooMany = chain(CDnsMessage::kMaxPointerJumps + 1);
    pos = tooMany.size() - 2;
    EXPECT_FALSE(Decode(tooMany, pos, name));
}

TEST(DnsName, LengthCapIs128Bytes) {
    // Labels of 63 and 62 bytes, then one of `last` bytes: 63 + 1 + 62 + 1 + last.
    auto nameOf = [](size_t last) {
        std::string t = std::string(1, '\x3F') + std::string(63, 'a') + std::string(1, '\x3E') + std::string(62, 'b');
        t += static_cast<char>(last) + std::string(last, 'c');
        t.push_back('\0');
        return WithPrefix(t);
    };
    std::string name;
    const Bytes exact = nameOf(1);
    size_t pos = 12;
    ASSERT_TRUE(Decode(exact, pos, name));
    EXPECT_EQ(128u, name.size());
    const Bytes over = nameOf(2);
    pos = 12;
    EXPECT_FALSE(Decode(over, pos, name));

    // The cap counts the whole name, also across a pointer.
    Bytes viaPointer = nameOf(1);
    viaPointer.push_back(0x01);
    viaPointer.push_back('d');
    viaPointer.push_back(0xC0);
    viaPointer.push_back(0x0C);
    pos = exact.size();
    EXPECT_FALSE(Decode(viaPointer, pos, name));
}

TEST(DnsName, RunningPastTheEndFails) {
    const Bytes cases[] = {
        WithPrefix(std::string("\x05" "ab", 3)),       // label longer than what is left
        WithPrefix(std::string("\x02" "ab", 3)),       // no terminating zero
        WithPrefix(std::string("\xC0", 1)),            // half a pointer
        WithPrefix(std::string()),                     // nothing at all
    };
    for (const Bytes& b : cases) {
        size_t pos = 12;
        std::string name;
        EXPECT_FALSE(Decode(b, pos, name)) << b.size();
    }
    const Bytes b = WithPrefix(std::string("\x01" "a\x00", 3));
    size_t pos = 99;
    std::string name;
    EXPECT_FALSE(Decode(b, pos, name)) << "start past the end";
}

}  // namespace

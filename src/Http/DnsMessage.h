#pragma once
// CDnsMessage: the resolver's wire format. Builds an A query for one host and
// checks and decodes an answer datagram (pointer, length) without ever
// reading past its length. Stateless; any thread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using DnsAddress = std::array<uint8_t, 4>;

struct DnsAnswer {
    std::vector<DnsAddress> addresses;  // A records of class IN in answer order
    std::vector<std::string> aliases;   // the chain's CNAME targets in order, not reported
};

enum class DnsHeaderCheck {
    Accepted,
    TooShort,    // fewer than the 12 header bytes
    WrongId,     // identifier differs from the query's
    WrongFlags,  // not a plain, complete, successful response to a recursive query
    NoAnswers,   // answer count 0
};

class CDnsMessage {
public:
    static constexpr size_t kQueryBufferSize = 271;  // cap of a query message
    static constexpr size_t kMaxDatagram = 1024;     // largest answer read
    static constexpr size_t kMaxNameLength = 128;    // longest decoded name
    static constexpr int kMaxPointerJumps = 32;      // compression pointers per name
    static constexpr size_t kHeaderSize = 12;

    // Fills `message` with the query for `host` (UTF-8) under the identifier
    // `id` (stored in the machine's byte order). Empty labels are skipped.
    // False when a label is longer than 63 bytes or the message would exceed
    // kQueryBufferSize.
    static bool BuildQuery(const std::string& host, uint16_t id, std::vector<uint8_t>& message);

    // Whether a datagram is an answer to the query with identifier `id`.
    static DnsHeaderCheck CheckHeader(const uint8_t* data, size_t size, uint16_t id);

    // Decodes the answer to the A query for `host` (UTF-8, as given to
    // BuildQuery). False when any name cannot be decoded, a record runs past
    // the datagram, an A record is not 4 bytes, the question section is not
    // the one question asked (name without regard to ASCII case, type A, class
    // IN), or an A record of class IN belongs to another name than the one
    // reached at that point along the CNAME records from the question's.
    static bool ParseAnswer(const uint8_t* data, size_t size, const std::string& host, DnsAnswer& answer);

    // Decodes the name at `pos` as dotted text. On success `pos` moves past the
    // name's bytes at that position. Compression pointers must point strictly
    // before the piece they end; at most kMaxPointerJumps of them are followed
    // and the name may hold at most kMaxNameLength bytes.
    static bool DecodeName(const uint8_t* data, size_t size, size_t& pos, std::string& name);

    // "a.b.c.d" pieces joined by ';' in order, no outer separators.
    static std::string JoinAddresses(const std::vector<DnsAddress>& addresses);
};

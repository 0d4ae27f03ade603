#include "Http/DnsMessage.h"

#include <cstdio>
#include <cstring>

#include "Runtime/ByteReader.h"

namespace {

constexpr uint16_t kFlagsQuery = 0x0100;        // standard query, recursion desired
constexpr uint16_t kFlagsCheckMask = 0xFB7F;    // ignores authoritative-answer and recursion-available
constexpr uint16_t kFlagsExpected = 0x8100;     // response, standard, not truncated, RD, Z 0, rcode 0
constexpr uint16_t kTypeA = 1;
constexpr uint16_t kTypeCname = 5;
constexpr uint16_t kClassIn = 1;
constexpr size_t kMaxLabel = 63;

void PutU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

// Names are compared as DNS does: ASCII letters without regard to case.
bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The name BuildQuery puts in the question for `host`: its non-empty pieces.
std::string QueriedName(const std::string& host) {
    std::string name;
    size_t start = 0;
    while (start <= host.size()) {
        size_t dot = host.find('.', start);
        if (dot == std::string::npos) dot = host.size();
        if (dot > start) {
            if (!name.empty()) name.push_back('.');
            name.append(host, start, dot - start);
        }
        start = dot + 1;
    }
    return name;
}

}  // namespace

bool CDnsMessage::BuildQuery(const std::string& host, uint16_t id, std::vector<uint8_t>& message) {
    message.clear();
    message.resize(2);
    std::memcpy(message.data(), &id, 2);
    PutU16(message, kFlagsQuery);
    PutU16(message, 1);  // questions
    PutU16(message, 0);  // answers
    PutU16(message, 0);  // authority records
    PutU16(message, 0);  // additional records

    size_t start = 0;
    while (start <= host.size()) {
        size_t dot = host.find('.', start);
        if (dot == std::string::npos) dot = host.size();
        const size_t length = dot - start;
        if (length > kMaxLabel) return false;  // a longer length byte would read as a pointer
        if (length > 0) {
            message.push_back(static_cast<uint8_t>(length));
            message.insert(message.end(), host.begin() + start, host.begin() + dot);
        }
        start = dot + 1;
        // Check as we go so that a huge host never grows the buffer far.
        if (message.size() + 5 > kQueryBufferSize) return false;
    }
    message.push_back(0);
    PutU16(message, kTypeA);
    PutU16(message, kClassIn);
    return message.size() <= kQueryBufferSize;
}

DnsHeaderCheck CDnsMessage::CheckHeader(const uint8_t* data, size_t size, uint16_t id) {
    if (size < kHeaderSize) return DnsHeaderCheck::TooShort;
    if (std::memcmp(data, &id, 2) != 0) return DnsHeaderCheck::WrongId;
    kv::BigEndianReader cursor(data, size, 2);
    uint16_t flags = 0, questions = 0, answers = 0;
    cursor.ReadU16(flags);
    cursor.ReadU16(questions);
    cursor.ReadU16(answers);
    if ((flags & kFlagsCheckMask) != kFlagsExpected) return DnsHeaderCheck::WrongFlags;
    if (answers == 0) return DnsHeaderCheck::NoAnswers;
    return DnsHeaderCheck::Accepted;
}

bool CDnsMessage::DecodeName(const uint8_t* data, size_t size, size_t& pos, std::string& name) {
    name.clear();
    kv::BigEndianReader cursor(data, size);
    if (!cursor.Seek(pos)) return false;
    // Each pointer must land strictly before the start of the piece that it
    // ends, so the pieces' starts fall with every jump and no loop is possible;
    // the jump cap bounds the work on top of that.
    size_t pieceStart = pos;
    size_t endOfName = 0;  // where the caller goes on; fixed at the first pointer
    bool jumped = false;
    int jumps = 0;
    for (;;) {
        uint8_t length = 0;
        if (!cursor.ReadU8(length)) return false;
        if (length == 0) break;
        if (length >= 64) {
            uint8_t low = 0;
            if (!cursor.ReadU8(low)) return false;
            const size_t target = (static_cast<size_t>(length & 0x3F) << 8) | low;
            if (target >= pieceStart || ++jumps > kMaxPointerJumps) return false;
            if (!jumped) endOfName = cursor.Position();
            jumped = true;
            pieceStart = target;
            cursor.Seek(target);
            continue;
        }
        const size_t grown = name.size() + (name.empty() ? 0 : 1) + length;
        if (grown > kMaxNameLength) return false;
        const uint8_t* label = nullptr;
        if (!cursor.Take(length, label)) return false;
        if (!name.empty()) name.push_back('.');
        name.append(reinterpret_cast<const char*>(label), length);
    }
    pos = jumped ? endOfName : cursor.Position();
    return true;
}

bool CDnsMessage::ParseAnswer(const uint8_t* data, size_t size, const std::string& host, DnsAnswer& answer) {
    answer = DnsAnswer();
    kv::BigEndianReader cursor(data, size);
    uint16_t questions = 0, answers = 0;
    if (!cursor.Skip(4) || !cursor.ReadU16(questions) || !cursor.ReadU16(answers) || !cursor.Skip(4)) return false;

    // An answer to another question (another name, type or class) is not an
    // answer to ours, whatever its identifier says.
    if (questions != 1) return false;
    std::string question;
    size_t pos = cursor.Position();
    if (!DecodeName(data, size, pos, question)) return false;
    cursor.Seek(pos);
    uint16_t questionType = 0, questionClass = 0;
    if (!cursor.ReadU16(questionType) || !cursor.ReadU16(questionClass)) return false;
    if (questionType != kTypeA || questionClass != kClassIn || !SameName(question, QueriedName(host))) return false;

    // The records are read in their order along the chain from the question:
    // a CNAME record of the name reached so far leads on to its alias, and
    // every A record must belong to the name reached so far. One for another
    // name is what a poisoned answer slips in; such an answer is not used.
    std::string reached = question;
    std::string owner;
    for (uint16_t i = 0; i < answers; ++i) {
        pos = cursor.Position();
        if (!DecodeName(data, size, pos, owner)) return false;
        cursor.Seek(pos);
        uint16_t type = 0, klass = 0, dataLength = 0;
        if (!cursor.ReadU16(type) || !cursor.ReadU16(klass) || !cursor.Skip(4) || !cursor.ReadU16(dataLength))
            return false;
        const size_t dataStart = cursor.Position();
        if (!cursor.Skip(dataLength)) return false;
        if (type == kTypeA) {
            if (dataLength != 4) return false;
            if (klass != kClassIn) continue;
            if (!SameName(owner, reached)) {
                answer = DnsAnswer();
                return false;
            }
            DnsAddress address;
            std::memcpy(address.data(), data + dataStart, 4);
            answer.addresses.push_back(address);
        } else if (type == kTypeCname) {
            size_t aliasPos = dataStart;
            std::string alias;
            // The alias's own bytes must stay inside the record's data.
            if (!DecodeName(data, size, aliasPos, alias) || aliasPos > dataStart + dataLength) return false;
            if (klass != kClassIn || !SameName(owner, reached)) continue;
            answer.aliases.push_back(alias);
            reached = alias;
        }
    }
    return true;
}

std::string CDnsMessage::JoinAddresses(const std::vector<DnsAddress>& addresses) {
    std::string joined;
    char piece[16];
    for (const DnsAddress& a : addresses) {
        std::snprintf(piece, sizeof(piece), "%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
        if (!joined.empty()) joined.push_back(';');
        joined += piece;
    }
    return joined;
}

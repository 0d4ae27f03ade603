#include "support/FakeDnsServer.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace FakeDns {

std::string U16(uint16_t value) {
    return std::string{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

std::string EncodeName(const std::string& dotted) {
    std::string out;
    size_t start = 0;
    while (start < dotted.size()) {
        size_t dot = dotted.find('.', start);
        if (dot == std::string::npos) dot = dotted.size();
        out.push_back(static_cast<char>(dot - start));
        out.append(dotted, start, dot - start);
        start = dot + 1;
    }
    out.push_back('\0');
    return out;
}

FakeDnsRecord A(const std::string& dotted) {
    FakeDnsRecord r;
    r.type = 1;
    unsigned a = 0, b = 0, c = 0, d = 0;
    sscanf(dotted.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
    r.data = {static_cast<char>(a), static_cast<char>(b), static_cast<char>(c), static_cast<char>(d)};
    return r;
}

FakeDnsRecord Cname(const std::string& target) {
    FakeDnsRecord r;
    r.type = 5;
    r.data = EncodeName(target);
    return r;
}

uint16_t QueryId(const std::string& query) {
    uint16_t id = 0;
    if (query.size() >= 2) std::memcpy(&id, query.data(), 2);
    return id;
}

std::string ResponseWithQuestion(const std::string& query, const std::string& questions,
                                 const std::vector<FakeDnsRecord>& records, uint16_t questionCount) {
    std::string out = query.substr(0, 2);
    out += U16(kOkFlags);
    out += U16(questionCount);
    out += U16(static_cast<uint16_t>(records.size()));
    out += U16(0);
    out += U16(0);
    out += questions;
    for (const FakeDnsRecord& r : records) {
        out += r.owner;
        out += U16(r.type);
        out += U16(r.klass);
        out += U16(static_cast<uint16_t>(r.ttl >> 16));
        out += U16(static_cast<uint16_t>(r.ttl & 0xFFFF));
        out += U16(static_cast<uint16_t>(r.data.size()));
        out += r.data;
    }
    return out;
}

std::string Response(const std::string& query, const std::vector<FakeDnsRecord>& records, uint16_t flags,
                     int answerCount) {
    // The question runs from offset 12 to the end of the query.
    std::string out = ResponseWithQuestion(query, query.size() > 12 ? query.substr(12) : std::string(), records);
    out.replace(2, 2, U16(flags));
    if (answerCount >= 0) out.replace(6, 2, U16(static_cast<uint16_t>(answerCount)));
    return out;
}

std::string Question(const std::string& dotted, uint16_t type, uint16_t klass) {
    return EncodeName(dotted) + U16(type) + U16(klass);
}

FakeDnsRecord OwnedBy(const std::string& owner, FakeDnsRecord record) {
    record.owner = EncodeName(owner);
    return record;
}

FakeDnsReply Silent() { return {}; }

FakeDnsReply Answer(const std::vector<FakeDnsRecord>& records, uint16_t flags) {
    return {{FakeDnsSource::Server, [records, flags](const std::string& q) { return Response(q, records, flags); }}};
}

FakeDnsReply Addresses(const std::vector<std::string>& dotted) {
    std::vector<FakeDnsRecord> records;
    for (const std::string& d : dotted) records.push_back(A(d));
    return Answer(records);
}

FakeDnsReply WrongId(const std::vector<FakeDnsRecord>& records) {
    return {{FakeDnsSource::Server, [records](const std::string& q) {
                 std::string r = Response(q, records);
                 r[0] = static_cast<char>(r[0] ^ 0x5A);
                 return r;
             }}};
}

FakeDnsReply From(FakeDnsSource source, const std::vector<FakeDnsRecord>& records) {
    return {{source, [records](const std::string& q) { return Response(q, records); }}};
}

FakeDnsReply Truncated(const std::vector<FakeDnsRecord>& records) {
    return Answer(records, kOkFlags | 0x0200);
}

FakeDnsReply ErrorCode(uint16_t rcode) {
    return Answer({A("127.0.0.9")}, static_cast<uint16_t>(kOkFlags | (rcode & 0xF)));
}

FakeDnsReply CutTo(size_t length, const std::vector<FakeDnsRecord>& records) {
    return {{FakeDnsSource::Server,
             [records, length](const std::string& q) { return Response(q, records).substr(0, length); }}};
}

FakeDnsReply Raw(std::function<std::string(const std::string& query)> build) {
    return {{FakeDnsSource::Server, std::move(build)}};
}

FakeDnsReply AnswerTo(const std::string& question, const std::vector<FakeDnsRecord>& records) {
    return {{FakeDnsSource::Server,
             [question, records](const std::string& q) { return ResponseWithQuestion(q, question, records); }}};
}

FakeDnsReply Then(FakeDnsReply first, const FakeDnsReply& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

}  // namespace FakeDns

namespace {

SOCKET BindUdp(const char* address) {
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = 0;
    ::inet_pton(AF_INET, address, &a.sin_addr);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

void CloseSocket(SOCKET& s) {
    if (s != INVALID_SOCKET) ::closesocket(s);
    s = INVALID_SOCKET;
}

}  // namespace

CFakeDnsServer::~CFakeDnsServer() { Stop(); }

bool CFakeDnsServer::Start() {
    WSADATA data;
    winsock_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    if (!winsock_) return false;
    server_ = BindUdp("127.0.0.1");
    otherPort_ = BindUdp("127.0.0.1");
    otherAddress_ = BindUdp("127.0.0.2");  // may be missing on some systems
    if (server_ == INVALID_SOCKET || otherPort_ == INVALID_SOCKET) return false;
    sockaddr_in a{};
    int len = sizeof(a);
    ::getsockname(server_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    stop_ = false;
    thread_ = std::thread([this] { Serve(); });
    return true;
}

void CFakeDnsServer::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    CloseSocket(server_);
    CloseSocket(otherPort_);
    CloseSocket(otherAddress_);
    if (winsock_) ::WSACleanup();
    winsock_ = false;
}

DnsResolver CFakeDnsServer::Endpoint() const {
    DnsResolver r;
    r.address = {127, 0, 0, 1};
    r.port = port_;
    return r;
}

void CFakeDnsServer::SetReplies(std::vector<FakeDnsReply> script) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_ = std::move(script);
}

std::vector<std::string> CFakeDnsServer::Queries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queries_;
}

size_t CFakeDnsServer::QueryCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queries_.size();
}

SOCKET CFakeDnsServer::SocketFor(FakeDnsSource source) const {
    switch (source) {
        case FakeDnsSource::OtherPort: return otherPort_;
        case FakeDnsSource::OtherAddress: return otherAddress_;
        default: return server_;
    }
}

void CFakeDnsServer::Serve() {
    char buffer[2048];
    while (!stop_) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(server_, &readable);
        timeval wait{0, 20000};
        if (::select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
        sockaddr_in from{};
        int fromLength = sizeof(from);
        const int n = ::recvfrom(server_, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n <= 0) continue;
        const std::string query(buffer, static_cast<size_t>(n));
        FakeDnsReply reply;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const size_t index = queries_.size();
            queries_.push_back(query);
            if (!script_.empty()) reply = script_[std::min(index, script_.size() - 1)];
        }
        for (const FakeDnsDatagram& d : reply) {
            const SOCKET s = SocketFor(d.source);
            if (s == INVALID_SOCKET || !d.build) continue;
            const std::string bytes = d.build(query);
            ::sendto(s, bytes.data(), static_cast<int>(bytes.size()), 0, reinterpret_cast<sockaddr*>(&from),
                     fromLength);
        }
    }
}

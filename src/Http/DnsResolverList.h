#pragma once
// The resolvers that CDNSThread asks: parsing "address[:port]" lists, the
// built-in list fixed at build time (KV_DNS_RESOLVERS), and the loopback-only
// guard of test builds (KV_LOOPBACK_ONLY). Stateless apart from the cached
// built-in list; any thread. The product's list (the four public resolvers on
// port 53) is the default of KV_DNS_RESOLVERS in the top-level CMakeLists.txt.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct DnsResolver {
    std::array<uint8_t, 4> address{};  // IPv4, in dotted order
    uint16_t port = 53;

    bool operator==(const DnsResolver& other) const { return address == other.address && port == other.port; }
};

class CDnsResolverList {
public:
    static constexpr uint16_t kDefaultPort = 53;

    // Parses ";"-separated "a.b.c.d" or "a.b.c.d:port" pieces (empty pieces
    // skipped). Any malformed piece fails the whole list and leaves `out` empty.
    static bool Parse(const std::string& text, std::vector<DnsResolver>& out);

    // The list configured at build time; empty (and logged) if it does not parse.
    static const std::vector<DnsResolver>& BuiltIn();
    static const char* BuiltInText();

    // True in builds configured with KV_LOOPBACK_ONLY=ON.
    static bool LoopbackOnly();
    static bool IsLoopback(const DnsResolver& resolver);  // 127.0.0.0/8
    // Whether a query may be sent to `resolver` in this build.
    static bool IsAllowed(const DnsResolver& resolver) { return !LoopbackOnly() || IsLoopback(resolver); }

    static std::string Format(const DnsResolver& resolver);  // "a.b.c.d:port"
};

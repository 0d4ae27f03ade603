#include "Http/DnsResolverList.h"

#include <cstdio>

#include "DnsBuildConfig.h"
#include "Runtime/Log.h"

namespace {

const wchar_t kLogFile[] = L".\\Http\\DnsResolverList";

// Reads a decimal number of at most `maxDigits` digits up to `limit` from text[pos...].
bool ReadNumber(const std::string& text, size_t& pos, size_t maxDigits, unsigned limit, unsigned& value) {
    value = 0;
    size_t digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (++digits > maxDigits) return false;
        value = value * 10 + static_cast<unsigned>(text[pos] - '0');
        ++pos;
    }
    return digits > 0 && value <= limit;
}

bool ParseOne(const std::string& piece, DnsResolver& resolver) {
    size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        unsigned octet = 0;
        if (!ReadNumber(piece, pos, 3, 255, octet)) return false;
        resolver.address[i] = static_cast<uint8_t>(octet);
        if (i < 3) {
            if (pos >= piece.size() || piece[pos] != '.') return false;
            ++pos;
        }
    }
    resolver.port = CDnsResolverList::kDefaultPort;
    if (pos == piece.size()) return true;
    if (piece[pos] != ':') return false;
    ++pos;
    unsigned port = 0;
    if (!ReadNumber(piece, pos, 5, 65535, port) || port == 0 || pos != piece.size()) return false;
    resolver.port = static_cast<uint16_t>(port);
    return true;
}

}  // namespace

bool CDnsResolverList::Parse(const std::string& text, std::vector<DnsResolver>& out) {
    out.clear();
    std::vector<DnsResolver> list;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        const std::string piece = text.substr(start, end - start);
        if (!piece.empty()) {
            DnsResolver resolver;
            if (!ParseOne(piece, resolver)) return false;
            list.push_back(resolver);
        }
        start = end + 1;
    }
    out.swap(list);
    return true;
}

const char* CDnsResolverList::BuiltInText() { return KV_DNS_RESOLVERS_TEXT; }

const std::vector<DnsResolver>& CDnsResolverList::BuiltIn() {
    static const std::vector<DnsResolver> list = [] {
        std::vector<DnsResolver> parsed;
        if (!Parse(KV_DNS_RESOLVERS_TEXT, parsed)) {
            KV_LOG(kToTrace, Error, L"DNS服务器列表无效: %hs", KV_DNS_RESOLVERS_TEXT);
        }
        return parsed;
    }();
    return list;
}

bool CDnsResolverList::LoopbackOnly() { return KV_LOOPBACK_ONLY_BUILD != 0; }

bool CDnsResolverList::IsLoopback(const DnsResolver& resolver) { return resolver.address[0] == 127; }

std::string CDnsResolverList::Format(const DnsResolver& resolver) {
    char text[24];
    std::snprintf(text, sizeof(text), "%d.%d.%d.%d:%u", resolver.address[0], resolver.address[1],
                  resolver.address[2], resolver.address[3], static_cast<unsigned>(resolver.port));
    return text;
}

#include "Http/DNSThread.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "Http/DnsMessage.h"
#include "Runtime/Handles.h"
#include "Runtime/Log.h"
#include "Runtime/MainThreadTask.h"
#include "Runtime/TextUtils.h"

namespace {

const wchar_t kLogFile[] = L".\\Http\\DNSThread";
// Bound on the destructor's stop: the run sees a stop at once in any wait.
constexpr DWORD kStopMs = 1000;
constexpr int kMaxDatagramsPerWake = 64;  // bounds one drain of the socket

// A fresh identifier for every query from the system's random source, so that
// an answer cannot be forged by guessing it.
bool RandomId(uint16_t& id) {
    return BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&id), sizeof(id),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

sockaddr_in ToSockaddr(const DnsResolver& resolver) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(resolver.port);
    std::memcpy(&to.sin_addr, resolver.address.data(), 4);
    return to;
}

bool SameEndpoint(const sockaddr_in& from, int fromLength, const DnsResolver& resolver) {
    const sockaddr_in expected = ToSockaddr(resolver);
    return fromLength >= static_cast<int>(sizeof(sockaddr_in)) && from.sin_family == AF_INET &&
           from.sin_port == expected.sin_port && from.sin_addr.s_addr == expected.sin_addr.s_addr;
}

std::wstring Wide(const std::string& utf8) { return Utf8ToWide(utf8); }

}  // namespace

// Winsock, one UDP socket and its read event for the whole run. The event
// selection also makes the socket non-blocking: a read never waits.
struct CDNSThread::QueryContext {
    bool winsockStarted = false;
    kv::UniqueSocket socket;
    kv::UniqueWsaEvent event;
    std::vector<uint8_t> datagram;
    bool valid = false;

    QueryContext() {
        WSADATA data;
        winsockStarted = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
        if (!winsockStarted) return;
        socket.reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        event.reset(::WSACreateEvent());
        if (!socket || !event) return;
        if (::WSAEventSelect(socket.get(), event.get(), FD_READ) != 0) return;
        datagram.resize(CDnsMessage::kMaxDatagram);
        valid = true;
    }
    ~QueryContext() {
        socket.reset();
        event.reset();
        if (winsockStarted) ::WSACleanup();
    }
};

CDNSThread::CDNSThread() : resolvers_(CDnsResolverList::BuiltIn()) {}

// The owner should stop the run before tearing down. A run never blocks and
// sees a stop in any wait, so it ends within kStopMs; should it not, it is
// still waited for: its fields must outlive it.
CDNSThread::~CDNSThread() {
    if (!StopThread(kStopMs)) JoinThread(INFINITE);
}

bool CDNSThread::StartThread() {
    // Without its stop event a run could not be ended early: none starts.
    if (IsRunning() || !stopEvent_) return false;
    ::ResetEvent(stopEvent_.get());
    return CSimpleThread::StartThread();
}

CDNSThread::SendResult CDNSThread::SendQuery(SOCKET socket, const DnsResolver& resolver,
                                             const std::vector<uint8_t>& message) {
    if (!CDnsResolverList::IsAllowed(resolver)) {
        KV_LOG(kToTrace | kToFile, Error, L"CDNSThread 拒绝非回环地址 %s %s", Wide(CDnsResolverList::Format(resolver)).c_str(),
               L"(KV_LOOPBACK_ONLY)");
        return SendResult::Refused;
    }
    const sockaddr_in to = ToSockaddr(resolver);
    const int sent = ::sendto(socket, reinterpret_cast<const char*>(message.data()), static_cast<int>(message.size()),
                              0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    return sent == static_cast<int>(message.size()) ? SendResult::Sent : SendResult::Failed;
}

bool CDNSThread::StopThread(DWORD timeoutMs) {
    if (!IsRunning()) return true;
    stopRequested.store(true, std::memory_order_release);
    ::SetEvent(stopEvent_.get());
    return CSimpleThread::StopThread(timeoutMs);
}

void CDNSThread::Run() {
    std::string addresses;
    bool answered = false;
    {
        QueryContext context;
        for (const DnsResolver& resolver : resolvers_) {
            if (IsStopRequested() || answered) break;
            answered = Query(context, resolver, addresses);
        }
    }  // the context is released before the result goes out
    if (IsStopRequested()) return;
    if (!answered) addresses.clear();
    if (callback_) PostToMainThread(callback_, answered ? kResolved : kFailed, hostName_, addresses);
}

bool CDNSThread::Query(QueryContext& context, const DnsResolver& resolver, std::string& addresses) {
    if (!context.valid) return false;
    uint16_t id = 0;
    std::vector<uint8_t> message;
    if (!RandomId(id) || !CDnsMessage::BuildQuery(hostName_, id, message)) return false;
    if (SendQuery(context.socket.get(), resolver, message) != SendResult::Sent) return false;

    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        if (IsStopRequested()) return false;
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        if (elapsed >= waitMs_) break;
        // A datagram, a stop, or the end of the remaining time.
        WSAEVENT events[] = {context.event.get(), stopEvent_.get()};
        const DWORD woke = ::WSAWaitForMultipleEvents(2, events, FALSE, static_cast<DWORD>(waitMs_ - elapsed), FALSE);
        if (woke != WSA_WAIT_EVENT_0) continue;
        WSANETWORKEVENTS happened;
        ::WSAEnumNetworkEvents(context.socket.get(), events[0], &happened);  // also resets the event

        for (int i = 0; i < kMaxDatagramsPerWake; ++i) {
            sockaddr_in from{};
            int fromLength = sizeof(from);
            const int received =
                ::recvfrom(context.socket.get(), reinterpret_cast<char*>(context.datagram.data()),
                           static_cast<int>(context.datagram.size()), 0, reinterpret_cast<sockaddr*>(&from),
                           &fromLength);
            if (received == SOCKET_ERROR) {
                const int error = ::WSAGetLastError();
                // Oversized datagrams and port-unreachable reports are dropped; go on reading.
                if (error == WSAEMSGSIZE || error == WSAECONNRESET) continue;
                break;
            }
            const uint8_t* data = context.datagram.data();
            const size_t size = static_cast<size_t>(received);
            // Only the endpoint that was asked may answer, with the query's identifier.
            if (!SameEndpoint(from, fromLength, resolver)) continue;
            if (CDnsMessage::CheckHeader(data, size, id) != DnsHeaderCheck::Accepted) continue;

            DnsAnswer answer;
            if (!CDnsMessage::ParseAnswer(data, size, hostName_, answer)) {
                KV_LOG(kToTrace | kToFile, Error, L"CDNSThread 应答格式错误 %s %s",
                       Wide(CDnsResolverList::Format(resolver)).c_str(), Wide(hostName_).c_str());
                return false;
            }
            addresses = CDnsMessage::JoinAddresses(answer.addresses);
            return true;
        }
    }
    KV_LOG(kToTrace | kToFile, Info, L"CDNSThread 等待应答超时 %s %s", Wide(CDnsResolverList::Format(resolver)).c_str(),
           Wide(hostName_).c_str());
    return false;
}

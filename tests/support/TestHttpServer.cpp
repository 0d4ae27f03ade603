#include "support/TestHttpServer.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kMaxHeadBytes = 64 * 1024;          // request line and header fields
constexpr size_t kMaxRequestBody = 16 * 1024 * 1024;  // a request body beyond this closes the connection
constexpr long kPollUs = 50 * 1000;                   // how often a blocked read looks at the stop flag

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string TrimSpaces(const std::string& text) {
    size_t a = 0, b = text.size();
    while (a < b && (text[a] == ' ' || text[a] == '\t')) ++a;
    while (b > a && (text[b - 1] == ' ' || text[b - 1] == '\t' || text[b - 1] == '\r')) --b;
    return text.substr(a, b - a);
}

const char* ReasonPhrase(int status) {
    switch (status) {
        case 100: return "Continue";
        case 200: return "OK";
        case 206: return "Partial Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 303: return "See Other";
        case 307: return "Temporary Redirect";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 416: return "Range Not Satisfiable";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

// WSAStartup once for the process; the server may start before libcurl does.
void EnsureWinsock() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

}  // namespace

std::string TestHttpRequest::Header(const std::string& name) const {
    const std::string wanted = Lower(name);
    for (const auto& field : headers) {
        if (Lower(field.first) == wanted) return field.second;
    }
    return std::string();
}

bool TestHttpRequest::HasHeader(const std::string& name) const {
    const std::string wanted = Lower(name);
    return std::any_of(headers.begin(), headers.end(), [&](const auto& f) { return Lower(f.first) == wanted; });
}

TestHttpResponse TestHttpResponse::Ok(std::string body) {
    TestHttpResponse r;
    r.body = std::move(body);
    return r;
}

TestHttpResponse TestHttpResponse::Status(int status, std::string body) {
    TestHttpResponse r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

TestHttpResponse TestHttpResponse::Redirect(int status, const std::string& location) {
    TestHttpResponse r;
    r.status = status;
    r.headers.push_back({"Location", location});
    return r;
}

TestHttpServer::TestHttpServer() = default;

TestHttpServer::~TestHttpServer() { Stop(); }

bool TestHttpServer::Start() {
    EnsureWinsock();
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener_ == INVALID_SOCKET) return false;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof(address);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener_, SOMAXCONN) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::closesocket(listener_);
        listener_ = INVALID_SOCKET;
        return false;
    }
    port_ = ntohs(address.sin_port);
    stopping_ = false;
    ::ResetEvent(stopEvent_.get());
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void TestHttpServer::Stop() {
    if (!acceptThread_.joinable()) return;
    stopping_ = true;
    ::SetEvent(stopEvent_.get());
    acceptThread_.join();
    ::closesocket(listener_);
    listener_ = INVALID_SOCKET;
    std::vector<std::unique_ptr<Connection>> connections;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Unblocks a send to a client that stopped reading.
        for (auto& c : connections_) {
            if (c->socket != INVALID_SOCKET) ::shutdown(c->socket, SD_BOTH);
        }
        connections.swap(connections_);
    }
    for (auto& c : connections) {
        if (c->thread.joinable()) c->thread.join();
    }
}

std::string TestHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::wstring TestHttpServer::WideUrl(const std::string& path) const {
    const std::string url = Url(path);
    return std::wstring(url.begin(), url.end());
}

void TestHttpServer::Route(const std::string& path, const TestHttpResponse& response) {
    RouteSequence(path, {response});
}

void TestHttpServer::RouteSequence(const std::string& path, const std::vector<TestHttpResponse>& responses) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = Route_{responses, 0};
}

void TestHttpServer::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
}

std::vector<TestHttpRequest> TestHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

size_t TestHttpServer::RequestCount(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (path.empty()) return requests_.size();
    return static_cast<size_t>(
        std::count_if(requests_.begin(), requests_.end(), [&](const TestHttpRequest& r) { return r.path == path; }));
}

bool TestHttpServer::Wait(DWORD ms) {
    if (ms == 0) return !stopping_;
    return ::WaitForSingleObject(stopEvent_.get(), ms) == WAIT_TIMEOUT;
}

void TestHttpServer::AcceptLoop() {
    while (!stopping_) {
        fd_set readSet;
        FD_ZERO(&readSet);
        FD_SET(listener_, &readSet);
        timeval timeout = {0, kPollUs};
        if (::select(0, &readSet, nullptr, nullptr, &timeout) <= 0) continue;
        SOCKET client = ::accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) continue;
        ++acceptedConnections_;
        const DWORD sendTimeoutMs = 200;
        ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeoutMs), sizeof(sendTimeoutMs));
        std::lock_guard<std::mutex> lock(mutex_);
        auto connection = std::make_unique<Connection>();
        connection->socket = client;
        connection->thread = std::thread([this, client] { Serve(client); });
        connections_.push_back(std::move(connection));
    }
}

void TestHttpServer::Serve(SOCKET socket) {
    std::string buffer;
    for (;;) {
        TestHttpRequest request;
        if (!ReadRequest(socket, buffer, request)) break;
        const TestHttpResponse response = Pick(request);
        if (!Respond(socket, request, response)) break;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& c : connections_) {
        if (c->socket == socket) c->socket = INVALID_SOCKET;
    }
    ::closesocket(socket);
}

bool TestHttpServer::ReadMore(SOCKET socket, std::string& buffer) {
    while (!stopping_) {
        fd_set readSet;
        FD_ZERO(&readSet);
        FD_SET(socket, &readSet);
        timeval timeout = {0, kPollUs};
        const int ready = ::select(0, &readSet, nullptr, nullptr, &timeout);
        if (ready < 0) return false;
        if (ready == 0) continue;
        char chunk[16384];
        const int got = ::recv(socket, chunk, sizeof(chunk), 0);
        if (got <= 0) return false;
        buffer.append(chunk, static_cast<size_t>(got));
        return true;
    }
    return false;
}

bool TestHttpServer::ReadRequest(SOCKET socket, std::string& buffer, TestHttpRequest& request) {
    size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (buffer.size() > kMaxHeadBytes || !ReadMore(socket, buffer)) return false;
    }
    const std::string head = buffer.substr(0, headEnd);
    buffer.erase(0, headEnd + 4);
    request.receivedTick = ::GetTickCount();

    size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const size_t sp1 = requestLine.find(' ');
    const size_t sp2 = requestLine.find(' ', sp1 == std::string::npos ? 0 : sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos) return false;
    request.method = requestLine.substr(0, sp1);
    request.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    request.path = request.target.substr(0, request.target.find('?'));
    while (lineEnd != std::string::npos) {
        const size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) continue;
        request.headers.push_back({line.substr(0, colon), TrimSpaces(line.substr(colon + 1))});
    }

    if (Lower(request.Header("Expect")) == "100-continue") {
        const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        if (!SendAll(socket, kContinue, sizeof(kContinue) - 1)) return false;
    }
    if (Lower(request.Header("Transfer-Encoding")) == "chunked") {
        for (;;) {
            size_t sizeEnd;
            while ((sizeEnd = buffer.find("\r\n")) == std::string::npos) {
                if (!ReadMore(socket, buffer)) return false;
            }
            const size_t size = std::strtoul(buffer.substr(0, sizeEnd).c_str(), nullptr, 16);
            if (request.body.size() + size > kMaxRequestBody) return false;
            while (buffer.size() < sizeEnd + 2 + size + 2) {
                if (!ReadMore(socket, buffer)) return false;
            }
            request.body.append(buffer, sizeEnd + 2, size);
            buffer.erase(0, sizeEnd + 2 + size + 2);
            if (size == 0) break;
        }
    } else if (request.HasHeader("Content-Length")) {
        const size_t length = std::strtoull(request.Header("Content-Length").c_str(), nullptr, 10);
        if (length > kMaxRequestBody) return false;
        while (buffer.size() < length) {
            if (!ReadMore(socket, buffer)) return false;
        }
        request.body = buffer.substr(0, length);
        buffer.erase(0, length);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    return true;
}

TestHttpResponse TestHttpServer::Pick(const TestHttpRequest& request) {
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = routes_.find(request.path);
        if (it != routes_.end() && !it->second.responses.empty()) {
            Route_& route = it->second;
            const size_t index = std::min(route.served, route.responses.size() - 1);
            ++route.served;
            return route.responses[index];
        }
        handler = handler_;
    }
    if (handler) return handler(request);
    return TestHttpResponse::Status(404, "no route");
}

bool TestHttpServer::SendAll(SOCKET socket, const char* data, size_t length) {
    while (length > 0) {
        // A client that stopped reading (a killed process) must not keep
        // this thread, and so Stop(), waiting: each send gives up after a
        // while and the stop flag is looked at again.
        if (stopping_) return false;
        const int sent = ::send(socket, data, static_cast<int>(std::min<size_t>(length, 1 << 20)), 0);
        if (sent < 0) {
            const int error = ::WSAGetLastError();
            if (error == WSAETIMEDOUT || error == WSAEWOULDBLOCK) continue;
        }
        if (sent <= 0) return false;
        data += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

bool TestHttpServer::Respond(SOCKET socket, const TestHttpRequest& request, const TestHttpResponse& r) {
    if (r.closeWithoutResponse) return false;
    if (!Wait(r.delayBeforeHeadersMs)) return false;
    if (r.interimContinue) {
        const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        if (!SendAll(socket, kContinue, sizeof(kContinue) - 1)) return false;
    }

    int status = r.status;
    std::string body = r.body;
    std::vector<std::pair<std::string, std::string>> headers = r.headers;
    const std::string range = request.Header("Range");
    if (r.honourRange && range.compare(0, 6, "bytes=") == 0) {
        char* after = nullptr;
        const uint64_t from = std::strtoull(range.c_str() + 6, &after, 10);
        const uint64_t total = r.body.size();
        // "N-" to the end, or "N-M" up to M (cut at the end of the body).
        uint64_t last = total ? total - 1 : 0;
        if (after && after[0] == '-' && after[1] >= '0' && after[1] <= '9') {
            last = std::min<uint64_t>(last, std::strtoull(after + 1, nullptr, 10));
        }
        if (from >= total || last < from) {
            status = 416;
            body.clear();
            headers.push_back({"Content-Range", "bytes */" + std::to_string(total)});
        } else {
            status = 206;
            body = r.body.substr(static_cast<size_t>(from), static_cast<size_t>(last - from + 1));
            headers.push_back({"Content-Range", "bytes " + std::to_string(from) + "-" + std::to_string(last) + "/" +
                                                    std::to_string(total)});
        }
    }

    // A declared length that is not the body's own leaves the stream unusable
    // for another request, so that connection closes too (without saying so).
    const bool announceClose = r.omitContentLength || r.closeAfterBodyBytes >= 0;
    const bool closeAfter = announceClose || r.declaredLength >= 0;
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " +
                       (r.reason.empty() ? std::string(ReasonPhrase(status)) : r.reason) + "\r\n";
    for (const auto& field : headers) head += field.first + ": " + field.second + "\r\n";
    if (r.chunked) {
        head += "Transfer-Encoding: chunked\r\n";
    } else if (!r.omitContentLength) {
        const int64_t length = r.declaredLength >= 0 ? r.declaredLength : static_cast<int64_t>(body.size());
        head += "Content-Length: " + std::to_string(length) + "\r\n";
    }
    if (announceClose) head += "Connection: close\r\n";
    head += "\r\n";
    if (!SendAll(socket, head.data(), head.size())) return false;
    if (!Wait(r.delayAfterHeadersMs)) return false;

    const size_t limit = r.closeAfterBodyBytes >= 0 ? std::min(body.size(), static_cast<size_t>(r.closeAfterBodyBytes))
                                                    : body.size();
    const size_t piece = r.pieceSize ? r.pieceSize : std::max<size_t>(body.size(), 1);
    size_t offset = 0;
    while (offset < limit) {
        if (offset > 0 && !Wait(r.delayBetweenPiecesMs)) return false;
        const size_t n = std::min(piece, limit - offset);
        if (r.chunked) {
            char size[32];
            std::snprintf(size, sizeof(size), "%zx\r\n", n);
            if (!SendAll(socket, size, std::strlen(size))) return false;
        }
        if (!SendAll(socket, body.data() + offset, n)) return false;
        if (r.chunked && !SendAll(socket, "\r\n", 2)) return false;
        bodyBytesSent_ += n;
        offset += n;
    }
    if (r.closeAfterBodyBytes >= 0) return false;  // cut: no chunk terminator, the connection closes
    if (r.chunked && !SendAll(socket, "0\r\n\r\n", 5)) return false;
    ++completedResponses_;
    return !closeAfter && !stopping_;
}

#pragma once
// TestHttpServer: a fault-injecting HTTP/1.1 server that runs inside a test
// process on 127.0.0.1, on a port picked at run time. Each request is answered
// from a script: a fixed response per path, a sequence of responses per path
// (the last one repeats), or a handler function. A response can carry any
// status and header fields, a right, wrong or missing Content-Length, a
// chunked body, a redirect, byte ranges (206 for "N-" and "N-M", or 200 when the
// server is told to ignore Range), delays before the headers and between body pieces, and a
// connection closed mid-body. Connections are kept alive between requests.
//
// Usage:
//   TestHttpServer server;                 // Start() binds 127.0.0.1:0
//   ASSERT_TRUE(server.Start());
//   server.Route("/a", TestHttpResponse::Ok("hello"));
//   server.RouteSequence("/b", {TestHttpResponse::Redirect(302, "/a"), ...});
//   ... fetch server.WideUrl("/a") ...
//   server.RequestCount("/a"); server.Requests()[0].Header("Range");
//
// Thread-safe: scripting and inspection from any thread while the server's
// own threads (one accepting, one per connection) serve. Stop() (also run by
// the destructor) interrupts every delay, closes every connection and joins
// the threads.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Runtime/Handles.h"

struct TestHttpRequest {
    std::string method;
    std::string target;  // as sent, query included
    std::string path;    // target without the query
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    DWORD receivedTick = 0;  // GetTickCount when the request head was complete

    // Case-insensitive field lookup; "" when missing.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

struct TestHttpResponse {
    int status = 200;
    std::string reason;  // "" gives the usual phrase for the status
    std::vector<std::pair<std::string, std::string>> headers;  // extra fields, in order
    std::string body;

    int64_t declaredLength = -1;     // >= 0: send this Content-Length instead of the true one
    bool omitContentLength = false;  // no Content-Length: the body ends when the connection closes
    bool chunked = false;            // Transfer-Encoding: chunked
    size_t pieceSize = 0;            // body written in pieces (chunks) of this size; 0 = one piece
    DWORD delayBeforeHeadersMs = 0;
    DWORD delayBetweenPiecesMs = 0;
    DWORD delayAfterHeadersMs = 0;  // headers sent, then the body waits (the connection stays open)
    int64_t closeAfterBodyBytes = -1;  // >= 0: close the connection after this many body bytes
    bool honourRange = false;          // "Range: bytes=N-" (or "N-M") gives 206 with those bytes; otherwise Range is ignored
    bool interimContinue = false;      // an interim "100 Continue" response before this one
    bool closeWithoutResponse = false; // read the request, then close without a byte

    static TestHttpResponse Ok(std::string body);
    static TestHttpResponse Status(int status, std::string body = std::string());
    static TestHttpResponse Redirect(int status, const std::string& location);
    // This answer with one more header field.
    TestHttpResponse With(const std::string& name, const std::string& value) const {
        TestHttpResponse r = *this;
        r.headers.push_back({name, value});
        return r;
    }
};

class TestHttpServer {
public:
    using Handler = std::function<TestHttpResponse(const TestHttpRequest&)>;

    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Binds 127.0.0.1 on a free port and starts accepting.
    bool Start();
    void Stop();

    uint16_t Port() const { return port_; }
    std::string Url(const std::string& path) const;  // "http://127.0.0.1:<port><path>"
    std::wstring WideUrl(const std::string& path) const;

    // Every request to `path` gets `response`.
    void Route(const std::string& path, const TestHttpResponse& response);
    // The n-th request to `path` gets responses[n]; the last one repeats.
    void RouteSequence(const std::string& path, const std::vector<TestHttpResponse>& responses);
    // Requests to paths without a route (default: 404).
    void SetHandler(Handler handler);

    std::vector<TestHttpRequest> Requests() const;
    size_t RequestCount(const std::string& path = std::string()) const;
    // Body bytes written so far, over all responses.
    uint64_t BodyBytesSent() const { return bodyBytesSent_.load(); }
    // Responses written to the end (not cut by a close).
    size_t CompletedResponses() const { return completedResponses_.load(); }
    size_t AcceptedConnections() const { return acceptedConnections_.load(); }

private:
    struct Route_ {
        std::vector<TestHttpResponse> responses;
        size_t served = 0;
    };
    struct Connection {
        SOCKET socket = INVALID_SOCKET;
        std::thread thread;
    };

    void AcceptLoop();
    void Serve(SOCKET socket);
    bool ReadRequest(SOCKET socket, std::string& buffer, TestHttpRequest& request);
    bool ReadMore(SOCKET socket, std::string& buffer);
    bool Respond(SOCKET socket, const TestHttpRequest& request, const TestHttpResponse& response);
    bool SendAll(SOCKET socket, const char* data, size_t length);
    TestHttpResponse Pick(const TestHttpRequest& request);
    // Waits `ms` unless the server stops meanwhile; false when stopping.
    bool Wait(DWORD ms);

    SOCKET listener_ = INVALID_SOCKET;
    uint16_t port_ = 0;
    kv::UniqueKernelHandle stopEvent_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;

    mutable std::mutex mutex_;  // guards everything below
    std::map<std::string, Route_> routes_;
    Handler handler_;
    std::vector<TestHttpRequest> requests_;
    std::vector<std::unique_ptr<Connection>> connections_;

    std::atomic<uint64_t> bodyBytesSent_{0};
    std::atomic<size_t> completedResponses_{0};
    std::atomic<size_t> acceptedConnections_{0};
};

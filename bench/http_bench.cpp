// Makes 2,000 small GETs against a local server through the command engine
// (worker thread, scheduler with its cap of 10, completion on the main
// thread) and the same 2,000 with plain libcurl easy calls in a loop in this
// process: once reusing one easy handle (its connection stays open) and once
// with a fresh handle per request. Prints requests per second and the ratios.
// Usage: bench_http.exe <url>   (bench/bench_http.sh starts nginx and passes it)
#include <windows.h>

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Http/HttpCommand.h"
#include "Http/HttpEngines.h"
#include "Runtime/MainThreadDispatcher.h"

namespace {

constexpr int kRequests = 2000;
constexpr int kRounds = 5;

double Now() {
    LARGE_INTEGER f, c;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

size_t Collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

struct Tally {
    int done = 0;
    int failed = 0;
    size_t bytes = 0;
};

void OnCommandDone(Tally* tally, const CommandResponse& response) {
    ++tally->done;
    if (response.result.type != 0 || response.body.empty()) ++tally->failed;
    tally->bytes += response.body.size();
}

double RunEngine(const std::wstring& url, int requests, Tally& tally) {
    std::vector<std::unique_ptr<CHttpCommand>> commands;
    commands.reserve(requests);
    for (int i = 0; i < requests; ++i) {
        commands.push_back(std::make_unique<CHttpCommand>());
        commands.back()->SetUrl(url);
        commands.back()->SetCompletion([&tally](const CommandResponse& response) { OnCommandDone(&tally, response); });
    }
    const double start = Now();
    for (auto& c : commands) SubmitCommand(c.get());
    MSG msg;
    while (tally.done < requests && ::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    return requests / (Now() - start);
}

// One command at a time: the latency of one trip through the engine.
double RunEngineSerial(const std::wstring& url, int requests, Tally& tally) {
    const double start = Now();
    CHttpCommand command;
    command.SetUrl(url);
    command.SetCompletion([&tally](const CommandResponse& response) { OnCommandDone(&tally, response); });
    MSG msg;
    for (int i = 0; i < requests; ++i) {
        const int target = tally.done + 1;
        SubmitCommand(&command);
        while (tally.done < target && ::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    }
    return requests / (Now() - start);
}

double RunPlain(const std::string& url, int requests, bool reuseHandle, Tally& tally) {
    const double start = Now();
    CURL* shared = reuseHandle ? curl_easy_init() : nullptr;
    for (int i = 0; i < requests; ++i) {
        CURL* easy = reuseHandle ? shared : curl_easy_init();
        std::string body;
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Collect);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
        const CURLcode rc = curl_easy_perform(easy);
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        ++tally.done;
        if (rc != CURLE_OK || status != 200 || body.empty()) ++tally.failed;
        tally.bytes += body.size();
        if (!reuseHandle) curl_easy_cleanup(easy);
    }
    if (shared) curl_easy_cleanup(shared);
    return requests / (Now() - start);
}

void Report(const char* what, double rate, const Tally& t) {
    std::printf("  %-34s %8.0f req/s  (%d done, %d failed, %zu body bytes)\n", what, rate, t.done, t.failed, t.bytes);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_http <http://127.0.0.1:port/path>\n");
        return 2;
    }
    const std::string url = argv[1];
    if (url.rfind("http://127.0.0.1:", 0) != 0 && url.rfind("http://localhost:", 0) != 0) {
        std::fprintf(stderr, "refusing a non-loopback URL: %s\n", url.c_str());
        return 2;
    }
    const std::wstring wideUrl(url.begin(), url.end());
    InitMainThreadDispatcher();
    StartHttpEngines();

    {  // warm-up: connections, caches
        Tally warm;
        RunPlain(url, 50, true, warm);
        RunEngine(wideUrl, 50, warm);
        if (warm.failed) {
            std::fprintf(stderr, "warm-up failed: %d of %d requests\n", warm.failed, warm.done);
            return 1;
        }
    }

    // The machine is shared: conditions drift between rounds, so every round
    // measures all peers back to back, and the summary gives the rate over
    // all rounds and the median of the per-round ratios.
    double engineSeconds = 0, reusedSeconds = 0, freshSeconds = 0;
    std::vector<double> ratios;
    int failures = 0;
    for (int round = 1; round <= kRounds; ++round) {
        std::printf("round %d: %d GETs of %s each\n", round, kRequests, url.c_str());
        Tally engine, serial, reused, fresh;
        const double e = RunEngine(wideUrl, kRequests, engine);
        const double r = RunPlain(url, kRequests, true, reused);
        const double f = RunPlain(url, kRequests, false, fresh);
        const double s1 = RunEngineSerial(wideUrl, kRequests / 4, serial);
        Report("command engine", e, engine);
        Report("plain loop, one reused handle", r, reused);
        Report("plain loop, fresh handle each", f, fresh);
        Report("command engine, one at a time", s1, serial);
        std::printf("  engine/plain (reused handle) = %.2f\n", e / r);
        failures += engine.failed + serial.failed + reused.failed + fresh.failed;
        engineSeconds += kRequests / e;
        reusedSeconds += kRequests / r;
        freshSeconds += kRequests / f;
        ratios.push_back(e / r);
    }
    std::sort(ratios.begin(), ratios.end());
    const double median = ratios[ratios.size() / 2];
    const double total = static_cast<double>(kRequests) * kRounds;
    std::printf("over %d rounds (%d requests each way):\n", kRounds, static_cast<int>(total));
    std::printf("  command engine                 %8.0f req/s\n", total / engineSeconds);
    std::printf("  plain loop, reused handle      %8.0f req/s   engine/plain = %.2f\n", total / reusedSeconds,
                reusedSeconds / engineSeconds);
    std::printf("  plain loop, fresh handle       %8.0f req/s   engine/plain = %.2f\n", total / freshSeconds,
                freshSeconds / engineSeconds);
    std::printf("  median per-round engine/plain (reused handle) = %.2f (target >= 0.80: %s)\n", median,
                median >= 0.8 ? "met" : "NOT met");

    StopHttpEngines();
    ShutdownMainThreadDispatcher();
    return failures ? 1 : 0;
}

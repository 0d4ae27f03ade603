// Posts 1,000,000 tasks from a worker thread to the main thread through the
// dispatcher, and the same work as one PostMessageW per task, and prints
// tasks per second for both and their ratio.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "Runtime/MainThreadDispatcher.h"

namespace {

constexpr int kTasks = 1000000;
int g_done = 0;
long long g_sum = 0;

void Work(int a, int b) {
    g_sum += a + b;
    ++g_done;
}

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

void PumpUntilDone(int target) {
    MSG msg;
    while (g_done < target && ::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
}

double RunDispatcher() {
    g_done = 0;
    LARGE_INTEGER t0, t1;
    ::QueryPerformanceCounter(&t0);
    std::thread worker([] {
        for (int i = 0; i < kTasks; ++i) PostToMainThread(Work, i, 1);
    });
    PumpUntilDone(kTasks);
    ::QueryPerformanceCounter(&t1);
    worker.join();
    return kTasks / Seconds(t0, t1);
}

// The peer: one PostMessageW per task to a plain window. A full message
// queue (10,000 messages) makes PostMessageW fail; the worker then yields
// and tries again, as any such design must.
constexpr UINT kWorkMessage = WM_APP + 1;
LRESULT CALLBACK PlainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == kWorkMessage) {
        Work(static_cast<int>(w), static_cast<int>(l));
        return 0;
    }
    return ::DefWindowProcW(h, m, w, l);
}

double RunPostMessagePerTask() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = PlainProc;
    wc.lpszClassName = L"KvBenchPlain";
    ::RegisterClassW(&wc);
    HWND hwnd = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    g_done = 0;
    std::atomic<long long> retries{0};
    LARGE_INTEGER t0, t1;
    ::QueryPerformanceCounter(&t0);
    std::thread worker([&] {
        for (int i = 0; i < kTasks; ++i)
            while (!::PostMessageW(hwnd, kWorkMessage, static_cast<WPARAM>(i), 1)) {
                ++retries;
                ::Sleep(0);
            }
    });
    PumpUntilDone(kTasks);
    ::QueryPerformanceCounter(&t1);
    worker.join();
    ::DestroyWindow(hwnd);
    std::printf("  (PostMessageW refused %lld times: queue full)\n", retries.load());
    return kTasks / Seconds(t0, t1);
}

}  // namespace

int main() {
    InitMainThreadDispatcher();
    std::printf("posting %d tasks from a worker thread to the main thread\n", kTasks);
    const double dispatcher = RunDispatcher();
    std::printf("dispatcher (one wake-up per burst): %12.0f tasks/s\n", dispatcher);
    const double plain = RunPostMessagePerTask();
    std::printf("PostMessageW per task:              %12.0f tasks/s\n", plain);
    std::printf("ratio dispatcher / PostMessageW:    %12.2f\n", dispatcher / plain);
    ShutdownMainThreadDispatcher();
    return 0;
}

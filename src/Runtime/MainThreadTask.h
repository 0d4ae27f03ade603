#pragma once
// Tasks that carry a plain function and copies of its arguments to the main
// thread. PostToMainThread() may be called from any thread; the bound
// function runs later on the main thread, in posting order.
#include <type_traits>
#include <utility>

#include "Runtime/RefCounted.h"

class MainThreadTaskBase : public CRefThreadSafeBase<MainThreadTaskBase> {
public:
    virtual void Run() = 0;
    virtual ~MainThreadTaskBase() = default;
};

// Template parameters come in pairs: the stored type of an argument and the
// parameter type that the function receives it as.
template <typename S1, typename P1, typename S2, typename P2>
class MainThreadTask2 : public MainThreadTaskBase {
public:
    using Function = void (*)(P1, P2);
    template <typename A1, typename A2>
    MainThreadTask2(Function fn, A1&& a1, A2&& a2)
        : fn_(fn), a1_(std::forward<A1>(a1)), a2_(std::forward<A2>(a2)) {}
    void Run() override { fn_(a1_, a2_); }

private:
    Function fn_;
    S1 a1_;
    S2 a2_;
};

template <typename S1, typename P1, typename S2, typename P2, typename S3, typename P3>
class MainThreadTask3 : public MainThreadTaskBase {
public:
    using Function = void (*)(P1, P2, P3);
    template <typename A1, typename A2, typename A3>
    MainThreadTask3(Function fn, A1&& a1, A2&& a2, A3&& a3)
        : fn_(fn), a1_(std::forward<A1>(a1)), a2_(std::forward<A2>(a2)), a3_(std::forward<A3>(a3)) {}
    void Run() override { fn_(a1_, a2_, a3_); }

private:
    Function fn_;
    S1 a1_;
    S2 a2_;
    S3 a3_;
};

template <typename S1, typename P1, typename S2, typename P2, typename S3, typename P3, typename S4,
          typename P4>
class MainThreadTask4 : public MainThreadTaskBase {
public:
    using Function = void (*)(P1, P2, P3, P4);
    template <typename A1, typename A2, typename A3, typename A4>
    MainThreadTask4(Function fn, A1&& a1, A2&& a2, A3&& a3, A4&& a4)
        : fn_(fn),
          a1_(std::forward<A1>(a1)),
          a2_(std::forward<A2>(a2)),
          a3_(std::forward<A3>(a3)),
          a4_(std::forward<A4>(a4)) {}
    void Run() override { fn_(a1_, a2_, a3_, a4_); }

private:
    Function fn_;
    S1 a1_;
    S2 a2_;
    S3 a3_;
    S4 a4_;
};

using MainThreadCallback = void (*)(CRefPtr<MainThreadTaskBase>* task);

// Calls Run() on the task it is given; the callback of every queued entry.
void RunTaskCallback(CRefPtr<MainThreadTaskBase>* task);

// Queues (callback, task) for the main thread. Any thread.
void PostMainThreadTask(MainThreadCallback callback, const CRefPtr<MainThreadTaskBase>& task);

namespace detail {
template <typename P>
using Stored = std::decay_t<P>;
}

template <typename P1, typename P2, typename A1, typename A2>
void PostToMainThread(void (*fn)(P1, P2), A1&& a1, A2&& a2) {
    using Task = MainThreadTask2<detail::Stored<P1>, P1, detail::Stored<P2>, P2>;
    CRefPtr<MainThreadTaskBase> task(new Task(fn, std::forward<A1>(a1), std::forward<A2>(a2)));
    PostMainThreadTask(RunTaskCallback, task);
}

template <typename P1, typename P2, typename P3, typename A1, typename A2, typename A3>
void PostToMainThread(void (*fn)(P1, P2, P3), A1&& a1, A2&& a2, A3&& a3) {
    using Task = MainThreadTask3<detail::Stored<P1>, P1, detail::Stored<P2>, P2, detail::Stored<P3>, P3>;
    CRefPtr<MainThreadTaskBase> task(
        new Task(fn, std::forward<A1>(a1), std::forward<A2>(a2), std::forward<A3>(a3)));
    PostMainThreadTask(RunTaskCallback, task);
}

template <typename P1, typename P2, typename P3, typename P4, typename A1, typename A2, typename A3,
          typename A4>
void PostToMainThread(void (*fn)(P1, P2, P3, P4), A1&& a1, A2&& a2, A3&& a3, A4&& a4) {
    using Task = MainThreadTask4<detail::Stored<P1>, P1, detail::Stored<P2>, P2, detail::Stored<P3>, P3,
                                 detail::Stored<P4>, P4>;
    CRefPtr<MainThreadTaskBase> task(new Task(fn, std::forward<A1>(a1), std::forward<A2>(a2),
                                              std::forward<A3>(a3), std::forward<A4>(a4)));
    PostMainThreadTask(RunTaskCallback, task);
}

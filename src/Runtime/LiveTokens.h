#pragma once
// kv::LiveTokens<T>: numbers that stand for an object in callbacks and posted
// main-thread tasks that may outlive it. A token is never issued twice; once
// dropped (its object stopped, moved on or was destroyed) it finds nothing,
// so a late result never reaches freed memory or a newer object. Main thread
// only.
#include <cstdint>
#include <map>

namespace kv {

template <typename T>
class LiveTokens {
public:
    uintptr_t Issue(T* object) {
        const uintptr_t token = ++last_;
        live_[token] = object;
        return token;
    }
    // Forgets `token` (0: nothing to forget) and sets it to 0.
    void Drop(uintptr_t& token) {
        if (token) live_.erase(token);
        token = 0;
    }
    // The object of a live token; null for 0 and for a dropped or unknown one.
    T* Find(uintptr_t token) const {
        const auto it = live_.find(token);
        return it == live_.end() ? nullptr : it->second;
    }

private:
    std::map<uintptr_t, T*> live_;
    uintptr_t last_ = 0;
};

}  // namespace kv

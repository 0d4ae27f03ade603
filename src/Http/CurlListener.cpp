#include "Http/CurlListener.h"

#include <algorithm>
#include <vector>

namespace {

// Listeners that exist now. A notification may still be queued when its
// listener (an engine's scheduler) is destroyed; the registry lets the
// notification see that and drop itself. Main thread only, like listeners.
std::vector<const CurlListener*>& LiveListeners() {
    static std::vector<const CurlListener*> listeners;
    return listeners;
}

}  // namespace

CurlListener::CurlListener() { LiveListeners().push_back(this); }

CurlListener::~CurlListener() {
    auto& listeners = LiveListeners();
    listeners.erase(std::remove(listeners.begin(), listeners.end(), this), listeners.end());
}

bool CurlListener::IsLive(const CurlListener* listener) {
    if (!listener) return false;
    const auto& listeners = LiveListeners();
    return std::find(listeners.begin(), listeners.end(), listener) != listeners.end();
}

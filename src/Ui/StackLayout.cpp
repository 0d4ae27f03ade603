#include "Ui/StackLayout.h"

namespace layout {

std::vector<int> DistributeExtents(const std::vector<int>& estimates, int available) {
    long long fixed = 0;
    int shares = 0;
    for (int e : estimates) {
        if (e > 0) fixed += e;
        else ++shares;
    }
    long long rest = available - fixed;
    if (rest < 0) rest = 0;
    const long long each = shares > 0 ? rest / shares : 0;
    std::vector<int> out;
    out.reserve(estimates.size());
    int seen = 0;
    for (int e : estimates) {
        if (e > 0) {
            out.push_back(e);
            continue;
        }
        ++seen;
        const long long v = seen == shares ? rest - each * (shares - 1) : each;
        out.push_back(static_cast<int>(v < 0 ? 0 : v));
    }
    return out;
}

}  // namespace layout

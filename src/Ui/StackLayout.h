#pragma once
// Shared arithmetic of the stacking layouts: given each flow child's
// estimated extent (0 = share the rest) and the space available, the extent
// each child gets. Pure; any thread.
#include <vector>

namespace layout {

// Children with a non-zero estimate keep it; the space left over is split
// equally (integer division) among the zero estimates, the last taking what
// remains, and never below 0.
std::vector<int> DistributeExtents(const std::vector<int>& estimates, int available);

}  // namespace layout

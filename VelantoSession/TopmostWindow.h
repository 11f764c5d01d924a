// Raises the windows that appear while the adapter runs a component function.
#pragma once

#include <cstdint>

// Records the windows present now, then watches every 300 ms on a thread of its own and
// makes each new window (of processId, or of every process) top-most once.
void startTopmostWatch(int processId, bool allProcesses);
void stopTopmostWatch();
// The capacity of the seen-list (256 at start, doubled when full, kept across watches).
std::uint32_t topmostListSize();

// Background work yields to the user-interface thread: decoding workers run a few nice levels
// below it, so when the machine is busy the scheduler lets the interface thread run first and
// the window keeps answering. (On Linux a thread's nice value is its own.)
#pragma once

namespace pixmoor {

// Lowers the calling thread's scheduling priority by kBackgroundNice nice levels (never above
// 19). Returns false when the system refused; the thread then simply keeps its priority.
bool lowerCurrentThreadPriority();

inline constexpr int kBackgroundNice = 5;

} // namespace pixmoor

// Waiting for a condition without running the event loop: for a caller inside an event handler
// (a message box answered by the test) or on a thread that has none.
#pragma once

#include <chrono>
#include <thread>

namespace pixmoor::test {

// Checks condition until it holds or timeout has passed; whether it held. It returns as soon as
// the condition holds: the pause between checks only keeps the poll from taking a core.
template <typename Condition>
bool pollUntil(Condition condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace pixmoor::test

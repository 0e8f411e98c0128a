#pragma once
// Waiting on the main-thread queue in tests that run against a real capture device.

#include <chrono>
#include <functional>

#include "audio/MainThreadQueue.h"

namespace testkit {

// Drains the queue until the condition holds; false when the timeout passes first.
inline bool drainUntil(TMainThreadQueue& queue, const std::function<bool()>& done,
                       std::chrono::seconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        queue.WaitAndDrain(std::chrono::milliseconds(100));
    }
    return true;
}

}  // namespace testkit

#pragma once
// Waiting in tests whose code reports back through queued calls on the test's thread.

#include <chrono>
#include <functional>

namespace testkit {

// Processes the thread's pending Qt events until the condition holds; false when the time-out
// passes first.
bool processEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Processes the thread's pending Qt events for about this long (to see that nothing happens).
void processEventsFor(std::chrono::milliseconds duration);

}  // namespace testkit

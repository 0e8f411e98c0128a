#pragma once
// The main thread's work queue, as the engine sees it.
//
// The capture and the engine do all their work on one thread, the "main thread": device
// notifications, buffer analysis, matching, timers. Other threads (a capture backend's
// recording thread) never call into the engine; they post a task here and the main thread
// runs it. The queue does not run anything by itself; its owner drains it:
//
//  - A Qt program sets OnWake to wake its event loop, which then calls Drain(),
//    and after each Drain() arms a single-shot timer for NextDue() when a delayed task waits.
//  - Tools and tests call WaitAndDrain() (or Drain()) in their own loop.
//
// Tasks run in the order they became due; a task posted while Drain() runs is run by the same
// Drain() when it is already due. Delayed tasks (PostAfter) serve the engine's timers.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

class TMainThreadQueue {
public:
    using TTask = std::function<void()>;
    using TClock = std::chrono::steady_clock;

    TMainThreadQueue() = default;
    TMainThreadQueue(const TMainThreadQueue&) = delete;
    TMainThreadQueue& operator=(const TMainThreadQueue&) = delete;

    // Any thread: run Task on the main thread as soon as possible.
    void Post(TTask Task);
    // Any thread: run Task on the main thread once Delay has passed.
    void PostAfter(std::chrono::milliseconds Delay, TTask Task);

    // Main thread: runs every task that is due now, in order, and returns how many ran.
    // A task that raises does not stop the others; its error is dropped (the engine
    // catches its own errors; this only keeps one bad task from wedging the queue).
    size_t Drain();
    // Main thread: waits until a task is due or Timeout has passed, then drains.
    // Returns how many tasks ran.
    size_t WaitAndDrain(std::chrono::milliseconds Timeout);

    // Tasks waiting, due or not.
    size_t Pending() const;
    // When the earliest waiting task becomes due; none when the queue is empty.
    std::optional<TClock::time_point> NextDue() const;

    // Called on the posting thread after each post, outside the queue's lock. A Qt owner
    // uses it to schedule Drain() on its event loop. Set it before any thread posts.
    std::function<void()> OnWake;

private:
    // Ordered by due time, then by posting order.
    std::multimap<TClock::time_point, TTask> Tasks;
    mutable std::mutex Lock;
    std::condition_variable Posted;
};

// The process's main-thread queue: the one the capture posts to unless told otherwise.
TMainThreadQueue& MainThreadQueue();

#include "audio/MainThreadQueue.h"

#include <exception>

void TMainThreadQueue::Post(TTask Task)
{
    PostAfter(std::chrono::milliseconds(0), std::move(Task));
}

void TMainThreadQueue::PostAfter(std::chrono::milliseconds Delay, TTask Task)
{
    bool earliest;
    {
        std::lock_guard<std::mutex> guard(Lock);
        // multimap keeps equal keys in insertion order, so equal due times run in posting order.
        const auto added = Tasks.emplace(TClock::now() + Delay, std::move(Task));
        earliest = added == Tasks.begin();
    }
    // A waiter sleeps until the earliest task is due; a task behind another changes nothing
    // for it (that one was announced already), so it is not woken again.
    if (earliest)
        Posted.notify_all();
    if (OnWake)
        OnWake();
}

size_t TMainThreadQueue::Drain()
{
    size_t ran = 0;
    for (;;) {
        TTask task;
        {
            std::lock_guard<std::mutex> guard(Lock);
            if (Tasks.empty() || Tasks.begin()->first > TClock::now())
                return ran;
            task = std::move(Tasks.begin()->second);
            Tasks.erase(Tasks.begin());
        }
        try {
            task();
        } catch (...) {
            // Whatever a task throws (not only standard exceptions) stays with that task.
        }
        ++ran;
    }
}

size_t TMainThreadQueue::WaitAndDrain(std::chrono::milliseconds Timeout)
{
    const auto deadline = TClock::now() + Timeout;
    {
        std::unique_lock<std::mutex> guard(Lock);
        for (;;) {
            const auto now = TClock::now();
            if (!Tasks.empty() && Tasks.begin()->first <= now)
                break;
            if (now >= deadline)
                break;
            auto until = deadline;
            if (!Tasks.empty() && Tasks.begin()->first < until)
                until = Tasks.begin()->first;
            Posted.wait_until(guard, until);
        }
    }
    return Drain();
}

size_t TMainThreadQueue::Pending() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Tasks.size();
}

std::optional<TMainThreadQueue::TClock::time_point> TMainThreadQueue::NextDue() const
{
    std::lock_guard<std::mutex> guard(Lock);
    if (Tasks.empty())
        return std::nullopt;
    return Tasks.begin()->first;
}

TMainThreadQueue& MainThreadQueue()
{
    static TMainThreadQueue queue;
    return queue;
}

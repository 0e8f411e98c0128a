#pragma once
// Short-lived worker threads of one owner. Each runs its job and then says it is done; the owner
// joins the finished ones when it likes (typically when a job's outcome reaches it) and every one
// of them at its end, so no thread outlives the object its job refers to. Thread-safe.

#include <functional>
#include <list>
#include <mutex>
#include <thread>

class TWorkerThreads {
public:
    TWorkerThreads() = default;
    TWorkerThreads(const TWorkerThreads&) = delete;
    TWorkerThreads& operator=(const TWorkerThreads&) = delete;
    ~TWorkerThreads();

    // Runs Job on a thread of its own.
    void Start(std::function<void()> Job);
    // Joins the threads whose jobs have ended; one still on its way out after saying so is joined
    // at once, the others are left running.
    void JoinFinished();
    // Waits for every thread started so far.
    void JoinAll();

private:
    std::mutex FLock;
    std::list<std::thread> FThreads;
    std::list<std::thread::id> FDone;
};

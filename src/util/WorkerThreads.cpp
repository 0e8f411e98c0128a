#include "util/WorkerThreads.h"

#include <algorithm>

TWorkerThreads::~TWorkerThreads()
{
    JoinAll();
}

void TWorkerThreads::Start(std::function<void()> Job)
{
    std::lock_guard Lock(FLock);
    FThreads.emplace_back([this, Job = std::move(Job)] {
        Job();
        std::lock_guard DoneLock(FLock);
        FDone.push_back(std::this_thread::get_id());
    });
}

void TWorkerThreads::JoinFinished()
{
    std::lock_guard Lock(FLock);
    for (auto It = FThreads.begin(); It != FThreads.end();) {
        const auto Id = It->get_id();
        if (std::find(FDone.begin(), FDone.end(), Id) != FDone.end()) {
            FDone.remove(Id);
            It->join();  // it has only the unlock left to do
            It = FThreads.erase(It);
        } else {
            ++It;
        }
    }
}

void TWorkerThreads::JoinAll()
{
    std::list<std::thread> Threads;
    {
        // Joined outside the lock: a thread takes it once more on its way out.
        std::lock_guard Lock(FLock);
        Threads.swap(FThreads);
        FDone.clear();
    }
    for (std::thread& Thread : Threads)
        Thread.join();
}

// The main-thread queue run from the Qt event loop: posts from other threads wake the loop,
// delayed tasks run when due, and a task that runs a nested loop (a modal dialog does) does not
// stop the queue for as long as it lasts.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "audio/MainThreadQueue.h"
#include "core/QueuePump.h"
#include "helpers/QtWait.h"

using namespace std::chrono_literals;

TEST(QueuePump, TasksPostedFromOtherThreadsRunOnTheMainThreadInOrder)
{
    TMainThreadQueue Queue;
    TQueuePump Pump(Queue);
    std::vector<int> Ran;
    std::atomic<bool> OffMainThread{false};
    std::thread Poster([&] {
        for (int I = 0; I < 100; ++I)
            Queue.Post([&Ran, &OffMainThread, I] {
                if (QThread::currentThread() != QCoreApplication::instance()->thread())
                    OffMainThread = true;
                Ran.push_back(I);
            });
    });
    Poster.join();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Ran.size() == 100; }));
    EXPECT_FALSE(OffMainThread);
    for (int I = 0; I < 100; ++I)
        EXPECT_EQ(Ran[size_t(I)], I);
}

TEST(QueuePump, ADelayedTaskRunsOnceItIsDue)
{
    TMainThreadQueue Queue;
    TQueuePump Pump(Queue);
    const auto Posted = TMainThreadQueue::TClock::now();
    TMainThreadQueue::TClock::time_point RanAt{};
    Queue.PostAfter(150ms, [&] { RanAt = TMainThreadQueue::TClock::now(); });
    ASSERT_TRUE(testkit::processEventsUntil([&] { return RanAt != TMainThreadQueue::TClock::time_point{}; }));
    EXPECT_GE(RanAt - Posted, 150ms);
}

TEST(QueuePump, ATaskRunningANestedLoopDoesNotStopTheQueue)
{
    TMainThreadQueue Queue;
    TQueuePump Pump(Queue);
    QEventLoop Nested;
    bool InnerRan = false, InnerRanWhileNested = false, OuterDone = false;
    Queue.Post([&] {
        // What a modal dialog opened by a task does: the queue's next task, posted from another
        // thread while this one waits, must still run.
        std::thread Poster([&] {
            Queue.Post([&] {
                InnerRan = true;
                Nested.quit();
            });
        });
        QTimer::singleShot(20000, &Nested, &QEventLoop::quit);
        Nested.exec();
        Poster.join();
        InnerRanWhileNested = InnerRan;
        OuterDone = true;
    });
    ASSERT_TRUE(testkit::processEventsUntil([&] { return OuterDone; }));
    EXPECT_TRUE(InnerRanWhileNested);
}

#include "core/QueuePump.h"

#include "audio/MainThreadQueue.h"

#include <algorithm>
#include <chrono>

TQueuePump::TQueuePump(TMainThreadQueue& TheQueue, QObject* Parent)
    : QObject(Parent)
    , Queue(TheQueue)
{
    DueTimer.setSingleShot(true);
    connect(&DueTimer, &QTimer::timeout, this, &TQueuePump::Drain);
    // Called on the posting thread: a queued call is safe from any thread.
    Queue.OnWake = [this] {
        if (!DrainQueued.exchange(true))
            QMetaObject::invokeMethod(this, &TQueuePump::Drain, Qt::QueuedConnection);
    };
    // Tasks posted before the pump existed.
    if (Queue.Pending() > 0)
        Queue.OnWake();
}

TQueuePump::~TQueuePump()
{
    Queue.OnWake = nullptr;
}

void TQueuePump::Drain()
{
    DrainQueued = false;
    Queue.Drain();
    if (const auto Due = Queue.NextDue()) {
        const auto Wait = std::chrono::duration_cast<std::chrono::milliseconds>(*Due - TMainThreadQueue::TClock::now());
        DueTimer.start(int(std::clamp<long long>(Wait.count() + 1, 0, 1 << 30)));
    } else {
        DueTimer.stop();
    }
}

#include "core/QueuePump.h"

#include "audio/MainThreadQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

TQueuePump::TQueuePump(TMainThreadQueue& TheQueue, QObject* Parent)
    : QObject(Parent)
    , Queue(TheQueue)
{
    DueTimer.setSingleShot(true);
    connect(&DueTimer, &QTimer::timeout, this, &TQueuePump::Drain);
    WakeCounter = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (WakeCounter >= 0) {
        WakeWatch = std::make_unique<QSocketNotifier>(WakeCounter, QSocketNotifier::Read);
        connect(WakeWatch.get(), &QSocketNotifier::activated, this, [this] {
            uint64_t Count = 0;
            while (read(WakeCounter, &Count, sizeof Count) < 0 && errno == EINTR) {
            }
            Drain();
        });
    }
    // Called on the posting thread: counting up and a queued call are both safe from any thread.
    Queue.OnWake = [this] {
        if (DrainQueued.exchange(true))
            return;
        const uint64_t One = 1;
        if (WakeCounter >= 0 && write(WakeCounter, &One, sizeof One) == sizeof One)
            return;
        QMetaObject::invokeMethod(this, &TQueuePump::Drain, Qt::QueuedConnection);
    };
    // Tasks posted before the pump existed.
    if (Queue.Pending() > 0)
        Queue.OnWake();
}

TQueuePump::~TQueuePump()
{
    Queue.OnWake = nullptr;
    WakeWatch.reset();
    if (WakeCounter >= 0)
        close(WakeCounter);
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

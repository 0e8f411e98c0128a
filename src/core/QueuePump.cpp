#include "core/QueuePump.h"

#include "audio/MainThreadQueue.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>

#include <glib-unix.h>
#include <glib.h>

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
    const auto* Dispatcher = QAbstractEventDispatcher::instance();
    // Qt runs the main thread's glib loop on glib's default context.
    const bool GlibLoop = Dispatcher && Dispatcher->inherits("QEventDispatcherGlib") && QCoreApplication::instance()
                          && QThread::currentThread() == QCoreApplication::instance()->thread();
    if (WakeCounter >= 0 && GlibLoop) {
        GSource* Source = g_unix_fd_source_new(WakeCounter, G_IO_IN);
        const GUnixFDSourceFunc Callback = [](int, GIOCondition, gpointer Pump) -> gboolean {
            static_cast<TQueuePump*>(Pump)->Woken();
            return G_SOURCE_CONTINUE;
        };
        g_source_set_callback(Source, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(Callback)), this, nullptr);
        // A task may run a nested event loop (a modal dialog); the queue must keep draining in it,
        // as Qt's own sources do.
        g_source_set_can_recurse(Source, TRUE);
        WakeSource = g_source_attach(Source, nullptr);
        g_source_unref(Source);
    } else if (WakeCounter >= 0) {
        WakeWatch = std::make_unique<QSocketNotifier>(WakeCounter, QSocketNotifier::Read);
        connect(WakeWatch.get(), &QSocketNotifier::activated, this, &TQueuePump::Woken);
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
    if (WakeSource != 0)
        g_source_remove(WakeSource);
    WakeWatch.reset();
    if (WakeCounter >= 0)
        close(WakeCounter);
}

void TQueuePump::Woken()
{
    uint64_t Count = 0;
    while (read(WakeCounter, &Count, sizeof Count) < 0 && errno == EINTR) {
    }
    Drain();
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

#pragma once
// Runs the engine's main-thread queue from the Qt event loop: a post from the capture thread
// wakes the loop through an event counter the loop watches (a queued call where none can be
// made), which drains the queue, and a delayed task (the engine's capture retry) is run by a
// single-shot timer when it becomes due. Create it on the main thread before any capture
// starts; it must outlive every post.
//
// The counter rather than a posted event: a posted event wakes the whole GUI event loop, which
// then also goes through the window system's queue, every capture buffer, a dozen times a
// second for weeks, with the window hidden or not. Where the loop is glib's (Qt's usual one
// on Linux), the counter is watched by a glib source of its own, whose callback drains the
// queue directly: a socket notifier would send an event through the application's event
// delivery (its filters, the widget checks of a GUI program) on every wake.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <memory>

class TMainThreadQueue;

class TQueuePump : public QObject {
    Q_OBJECT

public:
    explicit TQueuePump(TMainThreadQueue& Queue, QObject* Parent = nullptr);
    ~TQueuePump() override;

    // Runs every due task now and arms the timer for the next delayed one.
    void Drain();

private:
    TMainThreadQueue& Queue;
    QTimer DueTimer;
    // Reads the event counter back to zero and drains; called by either watch.
    void Woken();

    // The event counter a post counts up on (-1 without one) and its watch on the main thread:
    // a glib source where the loop is glib's (its id, 0 without one), a socket notifier otherwise.
    int WakeCounter = -1;
    unsigned WakeSource = 0;
    std::unique_ptr<QSocketNotifier> WakeWatch;
    // A queued drain is on its way; further posts need not send another.
    std::atomic<bool> DrainQueued{false};
};

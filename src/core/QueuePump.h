#pragma once
// Runs the engine's main-thread queue from the Qt event loop: a post from the capture thread
// wakes the loop with one queued call that drains the queue, and a delayed task (the engine's
// capture retry) is run by a single-shot timer when it becomes due. Create it on the main
// thread before any capture starts; it must outlive every post.

#include <QObject>
#include <QTimer>

#include <atomic>

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
    // A queued drain is on its way; further posts need not send another.
    std::atomic<bool> DrainQueued{false};
};

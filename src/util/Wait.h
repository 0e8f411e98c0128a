#pragma once
// Waiting while the program stays responsive: the wait is made of 100 ms sleeps, each followed
// by processing the pending events of the calling thread.

#include <QtGlobal>

#include <functional>

// What a wait uses; tests drive time through these.
struct TWaitHooks {
    std::function<qint64()> NowMSecs;      // a steady clock in milliseconds
    std::function<void(int)> Sleep;        // sleeps that many milliseconds
    std::function<void()> ProcessEvents;   // handles the pending events
};

inline constexpr int WaitStepMSecs = 100;

// Waits MSecs milliseconds; zero or negative does not wait.
void WaitProcessingEvents(qint64 MSecs);
void WaitProcessingEvents(qint64 MSecs, const TWaitHooks& Hooks);

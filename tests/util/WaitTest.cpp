#include "util/Wait.h"

#include "util/BusyCursor.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// A clock that only moves when the wait sleeps.
struct TFakeTime {
    qint64 Now = 1000;
    std::vector<int> Sleeps;
    int EventRounds = 0;

    TWaitHooks Hooks()
    {
        return {[this] { return Now; },
                [this](int MSecs) {
                    Sleeps.push_back(MSecs);
                    Now += MSecs;
                },
                [this] { ++EventRounds; }};
    }
};

TEST(WaitTest, WaitsInStepsOfOneHundredMilliseconds)
{
    struct Case {
        qint64 MSecs;
        size_t Steps;
    };
    for (const Case& C : {Case{1500, 15}, Case{1, 1}, Case{100, 1}, Case{101, 2}, Case{0, 0}, Case{-5, 0}}) {
        TFakeTime Time;
        WaitProcessingEvents(C.MSecs, Time.Hooks());
        EXPECT_EQ(Time.Sleeps.size(), C.Steps) << C.MSecs;
        EXPECT_EQ(size_t(Time.EventRounds), C.Steps) << C.MSecs;
        for (int Step : Time.Sleeps)
            EXPECT_EQ(Step, 100);
    }
}

TEST(WaitTest, ProcessesEventsWhileWaiting)
{
    bool Delivered = false;
    QTimer::singleShot(0, [&] { Delivered = true; });
    WaitProcessingEvents(1);
    EXPECT_TRUE(Delivered);
}

TEST(BusyCursorTest, ShowsWhileCountedAboveZero)
{
    std::vector<bool> Calls;
    SetBusyCursorHandler([&](bool Busy) { Calls.push_back(Busy); });
    BeginBusyCursor();
    BeginBusyCursor();
    EXPECT_EQ(BusyCursorCount(), 2);
    EndBusyCursor();
    EndBusyCursor();
    EndBusyCursor();  // never below 0
    EXPECT_EQ(BusyCursorCount(), 0);
    {
        TBusyCursorScope Scope;
        EXPECT_EQ(BusyCursorCount(), 1);
    }
    EXPECT_EQ(Calls, (std::vector<bool>{true, false, true, false}));
    SetBusyCursorHandler({});
}

TEST(BusyCursorTest, CountsBeginAndEndFromManyThreads)
{
    int Shown = 0;
    SetBusyCursorHandler([&](bool Busy) { Shown += Busy ? 1 : -1; });
    std::vector<std::thread> Threads;
    for (int T = 0; T < 4; ++T)
        Threads.emplace_back([] {
            for (int I = 0; I < 2000; ++I) {
                BeginBusyCursor();
                EndBusyCursor();
            }
        });
    for (auto& Thread : Threads)
        Thread.join();
    EXPECT_EQ(BusyCursorCount(), 0);
    EXPECT_EQ(Shown, 0);  // every show was followed by its restore
    SetBusyCursorHandler({});
}

}  // namespace

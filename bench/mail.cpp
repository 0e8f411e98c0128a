// Costs of e-mail notification on the main thread, and the memory a long outage of the mail
// server takes: a message that passes the mail filter only queues its line, and a full queue
// drops the oldest instead of growing.

#include "helpers/NetServers.h"
#include "mail/Class_OndrixEmailer.h"
#include "messages/Class_OndrixMessage.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>

namespace {

using namespace std::chrono_literals;

void EnsureApplication()
{
    static int Argc = 1;
    static char Name[] = "bench_mail";
    static char* Argv[] = {Name, nullptr};
    static QCoreApplication App(Argc, Argv);
}

// A queue whose server is down: the first mail waits an hour for its next try and the rest pile
// up behind it, the worst case for the main thread and for memory.
void StuckQueue(TOndrixMailQueue& Queue)
{
    Queue.RetryDelays = {1h, 1h, 1h};
    TEmailSettings Settings;
    Settings.Host = QStringLiteral("127.0.0.1");
    Settings.Port = QString::number(testkit::freeLocalPort());
    Settings.FromAddress = QStringLiteral("ondrix@station.test");
    Settings.ToAddresses = QStringLiteral("operator@station.test");
    Queue.SetSettings(Settings);
}

// Resident memory of the process in kilobytes.
double ResidentKiB()
{
    std::ifstream Statm("/proc/self/statm");
    long Pages = 0;
    long Resident = 0;
    Statm >> Pages >> Resident;
    return double(Resident) * 4.0;
}

// A detection message with the mail filter on: log line, list, and the line queued for mailing.
void BM_MailedDetection(benchmark::State& State)
{
    EnsureApplication();
    TOndrixMailQueue Queue;
    StuckQueue(Queue);
    TOndrixMessages Messages;
    Messages.EmailMessagesCheck = true;
    Messages.MsgDetectSampleCheck = true;
    Messages.OnSendMail = [&](const QString& Line) { Queue.SendMessageMail(Line); };
    int Number = 0;
    for (auto _ : State)
        Messages.AddMessage(msgSampleDetect, QStringLiteral("Найден образец № %1 \"Заставка\"").arg(++Number));
    QCoreApplication::processEvents();
    State.counters["waiting"] = Queue.Waiting();
}
BENCHMARK(BM_MailedDetection)->Unit(benchmark::kMicrosecond);

// Queuing one line alone (the queue full and dropping, as after a long outage).
void BM_SendMessageMail(benchmark::State& State)
{
    EnsureApplication();
    TOndrixMailQueue Queue;
    StuckQueue(Queue);
    const QString Line = QStringLiteral("10.12.26 14:05:09: НАЙДЕН - Найден образец № 1 \"Заставка\"");
    for (auto _ : State)
        Queue.SendMessageMail(Line);
    QCoreApplication::processEvents();
}
BENCHMARK(BM_SendMessageMail)->Unit(benchmark::kMicrosecond);

// 10 000 notifications to a server that is down: resident memory once the queue is full and
// after every further 3000.
void BM_OutageMemory(benchmark::State& State)
{
    EnsureApplication();
    for (auto _ : State) {
        TOndrixMailQueue Queue;
        StuckQueue(Queue);
        double AtFull = 0;
        double Last = 0;
        double Peak = 0;
        for (int I = 1; I <= 10000; ++I) {
            Queue.SendMessageMail(QStringLiteral("10.12.26 14:05:09: НАЙДЕН - Найден образец № %1 \"Заставка\"").arg(I));
            if (I % 100 == 0)
                QCoreApplication::processEvents();
            if (I == 1000 || I % 3000 == 0 || I == 10000) {
                Last = ResidentKiB();
                if (I == 1000)
                    AtFull = Last;
                Peak = std::max(Peak, Last);
            }
        }
        State.counters["rss_at_1000_KiB"] = AtFull;
        State.counters["rss_at_10000_KiB"] = Last;
        State.counters["growth_after_full_KiB"] = Peak - AtFull;
        State.counters["waiting"] = Queue.Waiting();
        State.counters["dropped"] = double(Queue.DroppedCount());
    }
}
BENCHMARK(BM_OutageMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

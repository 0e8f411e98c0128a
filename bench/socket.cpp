// Notification latency over the local socket: from the monitor's call on a detection to the
// line "USER 2000 <Number>" arriving at each of 10 registered external programs, each reading
// on its own thread as a real program would.

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "messages/Class_OndrixSubscriber.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int ClientCount = 10;

class TQuietRemote : public IOndrixRemoteControl {
public:
    QString RemoteVersionText() const override { return "1.0.0.0"; }
    bool RemoteSetSampleEnabled(int, bool, bool) override { return true; }
    std::optional<QString> RemoteSampleDescription(int) const override { return QString(); }
    void RemoteEnableAll() override {}
    void RemoteDisableAll() override {}
    void RemoteReloadEngine() override {}
    void AddMessage(TOndrixMessageType, const QString&) override {}
};

QCoreApplication& Application()
{
    static int Argc = 1;
    static char Name[] = "bench_socket";
    static char* Argv[] = {Name, nullptr};
    static QCoreApplication App(Argc, Argv);
    return App;
}

int ConnectRaw(const QString& Path)
{
    const int Fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un Address{};
    Address.sun_family = AF_UNIX;
    std::strncpy(Address.sun_path, QFile::encodeName(Path).constData(), sizeof(Address.sun_path) - 1);
    if (::connect(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) != 0) {
        ::close(Fd);
        return -1;
    }
    return Fd;
}

// Sends a request from the main thread and serves the event loop until its answer is read.
QByteArray Request(int Fd, const QByteArray& Line)
{
    const QByteArray Bytes = Line + '\n';
    if (::write(Fd, Bytes.constData(), size_t(Bytes.size())) != Bytes.size())
        return {};
    QByteArray In;
    while (!In.contains('\n')) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        char Buffer[256];
        const ssize_t Got = ::recv(Fd, Buffer, sizeof(Buffer), MSG_DONTWAIT);
        if (Got > 0)
            In.append(Buffer, Got);
        else if (Got == 0)
            return {};
    }
    return In.left(In.indexOf('\n'));
}

void BM_NotifyTenClients(benchmark::State& State)
{
    Application();
    QTemporaryDir Dir;
    TQuietRemote Remote;
    TOndrixSocketServer Server(Remote);
    if (!Server.Listen(Dir.filePath("TOndrix.socket"))) {
        State.SkipWithError("cannot listen");
        return;
    }
    std::vector<int> Fds;
    for (int I = 0; I < ClientCount; ++I) {
        const int Fd = ConnectRaw(Server.SocketPath());
        const QByteArray Handle = Request(Fd, "WINDOW Bench\tClient " + QByteArray::number(I)).mid(3);
        Request(Fd, "USER 100 " + Handle);
        Fds.push_back(Fd);
    }

    std::atomic<qint64> SentAt{0};  // nanoseconds of the steady clock
    std::atomic<int> Arrived{0};
    std::mutex LatencyLock;
    std::vector<double> Latencies;  // microseconds, one per client and notification
    std::vector<std::thread> Readers;
    for (int Fd : Fds)
        Readers.emplace_back([&, Fd] {
            QByteArray In;
            char Buffer[4096];
            for (;;) {
                const ssize_t Got = ::read(Fd, Buffer, sizeof(Buffer));
                if (Got <= 0)
                    return;
                const qint64 Now = Clock::now().time_since_epoch().count();
                In.append(Buffer, Got);
                qsizetype End;
                while ((End = In.indexOf('\n')) >= 0) {
                    In.remove(0, End + 1);
                    {
                        const std::lock_guard Guard(LatencyLock);
                        Latencies.push_back(double(Now - SentAt.load()) / 1000.0);
                    }
                    Arrived.fetch_add(1);
                }
            }
        });

    int Number = 0;
    for (auto _ : State) {
        Arrived.store(0);
        const auto Start = Clock::now();
        SentAt.store(Start.time_since_epoch().count());
        Server.NotifySampleFound(Number++ % 100, false, {});
        while (Arrived.load() < ClientCount)
            std::this_thread::yield();
        State.SetIterationTime(std::chrono::duration<double>(Clock::now() - Start).count());
    }

    for (int Fd : Fds)
        ::shutdown(Fd, SHUT_RDWR);
    for (std::thread& Reader : Readers)
        Reader.join();
    for (int Fd : Fds)
        ::close(Fd);
    std::sort(Latencies.begin(), Latencies.end());
    if (!Latencies.empty()) {
        State.counters["median_us"] = Latencies[Latencies.size() / 2];
        State.counters["p99_us"] = Latencies[Latencies.size() * 99 / 100];
        State.counters["max_us"] = Latencies.back();
    }
}
BENCHMARK(BM_NotifyTenClients)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(2000);

}  // namespace

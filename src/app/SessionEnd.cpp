#include "app/SessionEnd.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler may only write to a descriptor; the main thread's event loop reads the
// other end.
int SignalPipe[2] = {-1, -1};

// Async-signal-safe: one write to a non-blocking socket (a burst of signals that fills it
// loses nothing that matters, one byte already wakes the main thread) and errno kept for
// the code the signal interrupted.
void OnSignal(int Number)
{
    const int SavedErrno = errno;
    const char Byte = char(Number);
    [[maybe_unused]] const ssize_t Written = ::write(SignalPipe[0], &Byte, 1);
    errno = SavedErrno;
}

const int CaughtSignals[] = {SIGTERM, SIGINT, SIGHUP};

}  // namespace

TSessionEndWatcher::TSessionEndWatcher(std::function<void()> OnSessionEnd, QObject* Parent)
    : QObject(Parent)
    , Handler(std::move(OnSessionEnd))
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, SignalPipe) != 0)
        return;
    Notifier = new QSocketNotifier(SignalPipe[1], QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, &TSessionEndWatcher::SignalArrived);
    struct sigaction Action = {};
    Action.sa_handler = OnSignal;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = SA_RESTART;
    for (int Number : CaughtSignals)
        ::sigaction(Number, &Action, nullptr);
    if (auto* App = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(App, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
            FLastSignal = 0;
            if (Handler)
                Handler();
        });
    }
}

TSessionEndWatcher::~TSessionEndWatcher()
{
    for (int Number : CaughtSignals)
        ::signal(Number, SIG_DFL);
    delete Notifier;
    for (int& Fd : SignalPipe) {
        if (Fd >= 0)
            ::close(Fd);
        Fd = -1;
    }
}

void TSessionEndWatcher::SignalArrived()
{
    char Bytes[16];
    const ssize_t Read = ::read(SignalPipe[1], Bytes, sizeof Bytes);
    if (Read > 0)
        FLastSignal = static_cast<unsigned char>(Bytes[Read - 1]);
    if (Handler)
        Handler();
}

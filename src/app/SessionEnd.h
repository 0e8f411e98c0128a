#pragma once
// The end of the desktop session, or a request to stop (SIGTERM, SIGINT, SIGHUP), delivered as
// one call on the main thread, so the program can switch its samples off and close normally
// instead of dying half-way through writing a file.

#include <QObject>

#include <functional>

class QSocketNotifier;

class TSessionEndWatcher : public QObject {
    Q_OBJECT

public:
    // Catches the signals from now on; OnSessionEnd runs on the thread that created the
    // watcher. Only one watcher may exist at a time.
    explicit TSessionEndWatcher(std::function<void()> OnSessionEnd, QObject* Parent = nullptr);
    ~TSessionEndWatcher() override;

    // The signal that asked to stop last; 0 for the end of the desktop session, or none yet.
    int LastSignal() const { return FLastSignal; }

private:
    void SignalArrived();

    std::function<void()> Handler;
    int FLastSignal = 0;
    QSocketNotifier* Notifier = nullptr;
};

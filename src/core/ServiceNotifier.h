#pragma once
// Tells systemd how the monitor is doing when it runs as a service of Type=notify: READY once
// the configuration is loaded and monitoring has started (its capture open or being tried), a
// one-line STATUS (capture running or why not, samples on, the last detection), and the
// watchdog's keep-alive while the main loop turns and the capture delivers audio. Not started
// by systemd (no NOTIFY_SOCKET), or built without libsystemd, it sends nothing.
//
// Main thread only. The keep-alive comes from a timer of the main loop, so a main loop that
// hangs stops it; so does a capture that is open but delivers nothing (a stalled sound server).
// A capture being tried again, or no monitoring at all, is not a hang: the keep-alive goes on.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

class TMonitorController;

class TServiceNotifier : public QObject {
    Q_OBJECT

public:
    // The controller outlives this object.
    explicit TServiceNotifier(TMonitorController& Controller, QObject* Parent = nullptr);
    ~TServiceNotifier() override;

    // Start-up is complete: READY with the status; the keep-alive begins when systemd asks for
    // one (WatchdogSec=).
    void Ready();
    // The monitor is stopping: the keep-alive ends.
    void Stopping();

    // The status line as systemd shows it.
    QString StatusText() const;
    // ms within which systemd wants a keep-alive; 0: none asked for (or no systemd).
    qint64 WatchdogInterval() const { return FWatchdogMs; }

private:
    void UpdateStatus();
    void WatchdogTick();
    // Sends one notification; false when there is nobody to tell.
    static bool Send(const QByteArray& State);

    TMonitorController& FController;
    bool FReady = false;
    QString FSentStatus;
    QString FLastDetection;
    qint64 FWatchdogMs = 0;
    QTimer FWatchdog;
    // The stream clock's frames at the last keep-alive: audio is analysed while they advance.
    uint64_t FLastFrames = 0;
};

#include "core/ServiceNotifier.h"

#include "core/MonitorController.h"
#include "util/DateTime.h"

#include <QStringList>

#include <algorithm>

#ifdef ONDRIX_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

TServiceNotifier::TServiceNotifier(TMonitorController& Controller, QObject* Parent)
    : QObject(Parent), FController(Controller)
{
#ifdef ONDRIX_HAVE_SYSTEMD
    uint64_t Usec = 0;
    if (sd_watchdog_enabled(0, &Usec) > 0 && Usec > 0)
        FWatchdogMs = qint64(std::max<uint64_t>(Usec / 1000, 1));
#endif
    // Three keep-alives per interval: one missed by a passing stall never lets it run out.
    FWatchdog.setInterval(int(std::clamp<qint64>(FWatchdogMs / 3, 1, 3600 * 1000)));
    connect(&FWatchdog, &QTimer::timeout, this, &TServiceNotifier::WatchdogTick);

    connect(&FController, &TMonitorController::MonitoringChanged, this, &TServiceNotifier::UpdateStatus);
    connect(&FController, &TMonitorController::CaptureChanged, this, &TServiceNotifier::UpdateStatus);
    connect(&FController, &TMonitorController::SamplesChanged, this, &TServiceNotifier::UpdateStatus);
    connect(&FController, &TMonitorController::SampleCountChanged, this, &TServiceNotifier::UpdateStatus);
    connect(&FController, &TMonitorController::DetectionHandled, this, [this](int Number) {
        const TSampleRec* Sample = FController.Samples().FindByNumber(Number);
        FLastDetection = FormatDateTime(QStringLiteral("dd.mm.yyyy hh:nn:ss"), Now()) + QStringLiteral(" No. ")
                         + QString::number(Number + 1);
        if (Sample)
            FLastDetection += QStringLiteral(" \"") + Sample->Description + QStringLiteral("\"");
        UpdateStatus();
    });
}

TServiceNotifier::~TServiceNotifier() = default;

void TServiceNotifier::Ready()
{
    if (FReady)
        return;
    FReady = true;
    FSentStatus = StatusText();
    Send("READY=1\nSTATUS=" + FSentStatus.toUtf8());
    if (FWatchdogMs > 0) {
        FLastFrames = FController.Engine().StreamFrames();
        Send("WATCHDOG=1");
        FWatchdog.start();
    }
}

void TServiceNotifier::Stopping()
{
    FWatchdog.stop();
    if (FReady)
        Send("STOPPING=1");
    FReady = false;
}

QString TServiceNotifier::StatusText() const
{
    QStringList Parts;
    if (!FController.Monitoring())
        Parts.append(QStringLiteral("Monitoring off"));
    else if (FController.CaptureRunning())
        Parts.append(QStringLiteral("Capturing from \"%1\"").arg(FController.CaptureDeviceName()));
    else
        Parts.append(QStringLiteral("Capture not running: ") + FController.CaptureProblem());
    int On = 0;
    const TSampleList& Samples = FController.Samples();
    for (int I = 0; I < Samples.Count(); ++I)
        On += Samples.Items(I)->Enabled ? 1 : 0;
    Parts.append(QStringLiteral("%1 of %2 samples on").arg(On).arg(Samples.Count()));
    Parts.append(FLastDetection.isEmpty() ? QStringLiteral("no detection yet")
                                          : QStringLiteral("last detection ") + FLastDetection);
    // One line: a description may hold anything.
    QString Line = Parts.join(QStringLiteral("; "));
    for (QChar& C : Line) {
        if (C.category() == QChar::Other_Control)
            C = u' ';
    }
    return Line;
}

void TServiceNotifier::UpdateStatus()
{
    if (!FReady)
        return;
    const QString Status = StatusText();
    if (Status == FSentStatus)
        return;
    FSentStatus = Status;
    Send("STATUS=" + Status.toUtf8());
}

void TServiceNotifier::WatchdogTick()
{
    // While the capture is open, its audio must have moved the stream clock since the last
    // tick; a stalled stream lets the keep-alive lapse and systemd restarts the monitor.
    const uint64_t Frames = FController.Engine().StreamFrames();
    const bool Stalled = FController.CaptureRunning() && Frames == FLastFrames;
    FLastFrames = Frames;
    if (!Stalled)
        Send("WATCHDOG=1");
}

bool TServiceNotifier::Send(const QByteArray& State)
{
#ifdef ONDRIX_HAVE_SYSTEMD
    return sd_notify(0, State.constData()) > 0;
#else
    Q_UNUSED(State);
    return false;
#endif
}

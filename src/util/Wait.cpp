#include "util/Wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

void WaitProcessingEvents(qint64 MSecs, const TWaitHooks& Hooks)
{
    if (MSecs <= 0)
        return;
    const qint64 Until = Hooks.NowMSecs() + MSecs;
    while (Hooks.NowMSecs() < Until) {
        Hooks.Sleep(WaitStepMSecs);
        Hooks.ProcessEvents();
    }
}

void WaitProcessingEvents(qint64 MSecs)
{
    QElapsedTimer Clock;
    Clock.start();
    WaitProcessingEvents(MSecs, TWaitHooks{
        [&Clock] { return Clock.elapsed(); },
        [](int Step) { QThread::msleep(static_cast<unsigned long>(Step)); },
        [] { QCoreApplication::processEvents(QEventLoop::AllEvents); },
    });
}

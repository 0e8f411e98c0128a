#include "widgets/TrayComp.h"

#include <QSystemTrayIcon>
#include <QWidget>

std::function<bool()> TTrayComp::TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

TTrayComp::TTrayComp(QWidget* Window)
    : QObject(Window), FWindow(Window), FIcon(new QSystemTrayIcon(this))
{
    connect(FIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason Reason) {
        if (Reason == QSystemTrayIcon::Trigger || Reason == QSystemTrayIcon::DoubleClick)
            emit LeftClick();
        else if (Reason == QSystemTrayIcon::Context)
            emit RightClick();
    });
}

TTrayComp::~TTrayComp() = default;

void TTrayComp::SetIcon(const QIcon& Icon)
{
    FIcon->setIcon(Icon);
}

bool TTrayComp::IconVisible() const
{
    return FIcon->isVisible();
}

bool TTrayComp::Fallback() const
{
    return FMode == Mode_Tray && !(TrayAvailable && TrayAvailable());
}

void TTrayComp::SetMode(int Mode)
{
    FMode = Mode == Mode_Tray ? Mode_Tray : Mode_TaskBar;
    const bool Tray = FMode == Mode_Tray && !Fallback();
    FIcon->setVisible(Tray);
    // Leaving the notification area: a window hidden behind the icon comes back to the task bar.
    if (!Tray && FWindow && !FWindow->isVisible() && FWindow->testAttribute(Qt::WA_WState_ExplicitShowHide)
        && FWindow->property("TrayHidden").toBool())
        ShowWindow();
}

void TTrayComp::ShowWindow()
{
    if (!FWindow)
        return;
    FWindow->setProperty("TrayHidden", false);
    FWindow->setWindowState((FWindow->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    FWindow->show();
    FWindow->raise();
    FWindow->activateWindow();
}

void TTrayComp::HideWindow()
{
    if (!FWindow)
        return;
    if (FMode == Mode_Tray && !Fallback()) {
        FWindow->setProperty("TrayHidden", true);
        FWindow->hide();
    } else {
        FWindow->showMinimized();
    }
}

void TTrayComp::WindowMinimized()
{
    if (FWindow && FMode == Mode_Tray && !Fallback()) {
        FWindow->setProperty("TrayHidden", true);
        FWindow->hide();
    }
}

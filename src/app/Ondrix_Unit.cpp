#include "app/Ondrix_Unit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>

TOndrix::TOndrix(QWidget* Parent)
    : QMainWindow(Parent)
{
    setObjectName("Ondrix");
    setWindowTitle("ONDRIX ");
    setCentralWidget(new QWidget(this));
    resize(800, 600);
    CentreOnWorkArea();
}

QPoint TOndrix::CentredOnWorkArea(const QRect& WorkArea, const QSize& Size)
{
    int Left = WorkArea.left() + (WorkArea.width() - Size.width()) / 2;
    int Top = WorkArea.top() + (WorkArea.height() - Size.height()) / 2;
    const int RightEdge = WorkArea.left() + WorkArea.width();
    const int BottomEdge = WorkArea.top() + WorkArea.height();
    if (Left + Size.width() > RightEdge - 10)
        Left = RightEdge - 10 - Size.width();
    if (Top + Size.height() > BottomEdge - 10)
        Top = BottomEdge - 10 - Size.height();
    Left = std::max(Left, WorkArea.left() + 10);
    Top = std::max(Top, WorkArea.top() + 10);
    return {Left, Top};
}

void TOndrix::CentreOnWorkArea()
{
    const QScreen* Screen = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!Screen)
        return;
    move(CentredOnWorkArea(Screen->availableGeometry(), frameGeometry().size()));
}

void TOndrix::StartupContinue(QWidget* StartupForm)
{
    try {
        LoadAndStart();
    } catch (...) {
        // Loading reports its own errors; the window is shown whatever happened.
    }
    show();
    raise();
    activateWindow();
    if (StartupForm)
        StartupForm->close();
    emit StartupDone();
}

void TOndrix::LoadAndStart()
{
    LoadSettings();
    // Queued: it runs once this continuation has returned and the window is up.
    QTimer::singleShot(0, this, &TOndrix::AutoStartSamples);
}

void TOndrix::LoadSettings()
{
    // Nothing is stored yet beyond the files the settings object prepares.
}

void TOndrix::AutoStartSamples()
{
    // No sample is switched on automatically yet.
}

void TOndrix::closeEvent(QCloseEvent* Event)
{
    QMainWindow::closeEvent(Event);
    if (Event->isAccepted())
        emit Closed();
}

void TOndrix::SessionEnd()
{
    close();
}

#pragma once
// TTrayComp: how the main window lives on the desktop: as a task-bar button (mode 0) or as an
// icon in the notification area (mode 1). In mode 1 a left click on the icon shows the window
// and brings it to the front, a right click hides it; a minimised window goes to the icon.
// Where the desktop has no notification area, mode 1 minimises instead of hiding, so the window
// can never be lost.

#include <QIcon>
#include <QObject>
#include <QPointer>

#include <functional>

class QSystemTrayIcon;
class QWidget;

class TTrayComp : public QObject {
    Q_OBJECT

public:
    enum TMode { Mode_TaskBar = 0, Mode_Tray = 1 };

    // Window: the main window the component shows and hides.
    explicit TTrayComp(QWidget* Window);
    ~TTrayComp() override;

    // Whether the desktop has a notification area; tests replace it.
    static std::function<bool()> TrayAvailable;

    void SetIcon(const QIcon& Icon);
    void SetMode(int Mode);
    int Mode() const { return FMode; }
    // The icon is in the notification area.
    bool IconVisible() const;
    // Mode 1 on a desktop without a notification area: the window minimises instead.
    bool Fallback() const;

    // Shows the window, raises and activates it.
    void ShowWindow();
    // Hides the window behind the icon (minimises it without a notification area).
    void HideWindow();
    // The window was minimised: in mode 1 with a notification area it leaves the task bar.
    void WindowMinimized();

    QSystemTrayIcon* Icon() const { return FIcon; }

signals:
    void LeftClick();
    void RightClick();

private:
    QPointer<QWidget> FWindow;
    QSystemTrayIcon* FIcon = nullptr;
    int FMode = Mode_TaskBar;
};

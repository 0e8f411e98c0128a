#pragma once
// The main window. It is created hidden; the start-up continuation loads the configuration and
// shows it; its closing ends the program.

#include <QMainWindow>
#include <QPoint>
#include <QRect>
#include <QSize>

class TOndrix : public QMainWindow {
    Q_OBJECT

public:
    explicit TOndrix(QWidget* Parent = nullptr);

    // Runs on the main thread once the start-up window is up: loads the configuration, shows
    // the main window (also when loading failed), closes the start-up window, and leaves the
    // automatic start of samples to the event loop, so it runs after the window is shown.
    void StartupContinue(QWidget* StartupForm);

    // The desktop session ends or the program is asked to stop: close normally.
    void SessionEnd();

    // Places the window in the middle of its screen's work area, at least 10 pixels inside it.
    void CentreOnWorkArea();

    // Top-left corner for a window of Size centred on WorkArea: halves rounded toward zero,
    // then pulled back so that it ends 10 pixels before the right and bottom edges, then at
    // least 10 pixels from the left and top edges.
    static QPoint CentredOnWorkArea(const QRect& WorkArea, const QSize& Size);

signals:
    // The start-up continuation has shown the window.
    void StartupDone();
    // The window has closed; the program ends.
    void Closed();

protected:
    void closeEvent(QCloseEvent* Event) override;

private:
    void LoadAndStart();
    // Reads the configuration into the settings model (main settings file, column layouts,
    // sample list, frequency table).
    void LoadSettings();
    // Switches on the samples marked for automatic start.
    void AutoStartSamples();
};

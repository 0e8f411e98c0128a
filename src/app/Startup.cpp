#include "app/Startup.h"

#include "app/Ondrix_Unit.h"
#include "core/Common_Settings.h"
#include "lang/Lang.h"
#include "util/BusyCursor.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <memory>

void ReportStartupError(const QString& Text)
{
    std::fprintf(stderr, "%s\n", Text.toLocal8Bit().constData());
    std::fflush(stderr);
    const QString Platform = QGuiApplication::platformName();
    if (qApp && Platform != "offscreen" && Platform != "minimal")
        QMessageBox::critical(nullptr, GetMessageText("Error"), Text);
}

void InstallBusyCursor()
{
    SetBusyCursorHandler([](bool Busy) {
        // The count may change on any thread; the cursor belongs to the main thread.
        QMetaObject::invokeMethod(qApp, [Busy] {
            if (Busy)
                QGuiApplication::setOverrideCursor(Qt::WaitCursor);
            else
                QGuiApplication::restoreOverrideCursor();
        }, Qt::QueuedConnection);
    });
}

int RunOndrix(int& argc, char** argv)
{
    QApplication::setApplicationName("Ondrix");
    QApplication App(argc, argv);
    App.setQuitOnLastWindowClosed(true);

    std::unique_ptr<TSettings> ProgramSettings;
    try {
        ProgramSettings = std::make_unique<TSettings>();
    } catch (const ESettingsError& Error) {
        ReportStartupError(Error.Text());
        return 1;
    }
    InstallBusyCursor();

    int ExitCode = 0;
    {
        TOndrix MainWindow;
        ProgramSettings->CloseMainWindow = [&MainWindow] { MainWindow.close(); };
        MainWindow.show();
        // For automated runs: close the window through its normal path once the event loop
        // has started, as a user closing it at once would.
        if (qEnvironmentVariableIsSet("ONDRIX_EXIT_AFTER_START"))
            QTimer::singleShot(0, &MainWindow, &QWidget::close);
        ExitCode = App.exec();
        ProgramSettings->CloseMainWindow = nullptr;
    }
    // The settings object goes last; it starts the program again when asked to.
    ProgramSettings.reset();
    return ExitCode;
}

#include "app/Startup.h"

#include "app/BackupPage.h"
#include "app/OndrixApplication.h"
#include "app/Ondrix_Unit.h"
#include "app/SessionEnd.h"
#include "app/StartupForm.h"
#include "core/Common_Settings.h"
#include "core/ConfigBackupBinding.h"
#include "core/InternetClients.h"
#include "core/MonitorController.h"
#include "core/QueuePump.h"
#include "lang/Lang.h"
#include "lang/Language_Functions.h"
#include "util/BusyCursor.h"
#include "util/Wait.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QProxyStyle>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

// The start-up error box while it is shown, so that a stop request can close it.
QPointer<QMessageBox> StartupErrorBox;

}  // namespace

TSettingsStartup StopAwareStartup(const bool& StopRequested)
{
    TSettingsStartup Startup = TSettingsStartup::FromApplication();
    Startup.Wait = [&StopRequested](qint64 MSecs) {
        QElapsedTimer Clock;
        Clock.start();
        while (!StopRequested && Clock.elapsed() < MSecs)
            WaitProcessingEvents(std::min<qint64>(WaitStepMSecs, MSecs - Clock.elapsed()));
        if (StopRequested)
            throw EStartCancelled{};
    };
    return Startup;
}

void ReportStartupError(const QString& Text)
{
    std::fprintf(stderr, "%s\n", Text.toUtf8().constData());
    std::fflush(stderr);
    const QString Platform = QGuiApplication::platformName();
    if (!qApp || Platform == "offscreen" || Platform == "minimal")
        return;
    QMessageBox Box(QMessageBox::Critical, GetMessageText("Error"), Text, QMessageBox::Ok);
    StartupErrorBox = &Box;
    Box.exec();
    StartupErrorBox = nullptr;
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

namespace {

// The hints' timing: shown half a second after the pointer stops, at once on a neighbouring
// control while one is up, for five seconds.
class THintTimingStyle : public QProxyStyle {
public:
    int styleHint(StyleHint Hint, const QStyleOption* Option, const QWidget* Widget, QStyleHintReturn* Return) const override
    {
        switch (Hint) {
        case SH_ToolTip_WakeUpDelay:
            return 500;
        case SH_ToolTip_FallAsleepDelay:
            return 25;
        default:
            return QProxyStyle::styleHint(Hint, Option, Widget, Return);
        }
    }
};

}  // namespace

int RunOndrix(int& argc, char** argv)
{
    QApplication::setApplicationName("Ondrix");
    // Names the installed desktop entry, so that the desktop shows the window with its icon
    // and menu entry (the application id on Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral(ONDRIX_APP_ID));
    TOndrixApplication App(argc, argv);
    App.setStyle(new THintTimingStyle);
    // The program runs until the main window closes, whatever other window is open.
    App.setQuitOnLastWindowClosed(false);

    // Every text from the first one on in the desktop's language (the operator's own choice
    // takes over once the settings are read).
    Language::UseDesktopLanguage(TCommonSettings::InstalledLanguageFolder(QCoreApplication::applicationFilePath()));

    // A stop request closes the main window normally; one that comes before the window exists
    // (during the start-up delay) ends the start.
    TOndrix* Window = nullptr;
    bool StopRequested = false;
    TSessionEndWatcher SessionEnd([&Window, &StopRequested, &SessionEnd] {
        StopRequested = true;
        if (Window)
            Window->SessionEnd(SessionEnd.LastSignal());
        else if (StartupErrorBox)
            StartupErrorBox->reject();
    });

    std::unique_ptr<TSettings> ProgramSettings;
    try {
        ProgramSettings = std::make_unique<TSettings>(StopAwareStartup(StopRequested));
        ProgramSettings->CheckInstallation();
    } catch (const EStartCancelled&) {
        return 0;
    } catch (const ESettingsError& Error) {
        ReportStartupError(Error.Text());
        return 1;
    }
    if (StopRequested)
        return 0;
    InstallBusyCursor();

    int ExitCode = 0;
    {
        TOndrix MainWindow;
        Window = &MainWindow;
        // The monitor behind the window; it goes before the window (its engine stops first).
        TQueuePump Pump(MainThreadQueue());
        TMonitorController Controller(*ProgramSettings, *MainWindow.Model());
        MainWindow.AttachController(&Controller);
        // Failures the window may not show in time (the log cannot be written, the archive on
        // exit failed) also go to standard error, the journal of a service.
        QObject::connect(&Controller, &TMonitorController::Alert, [](const QString& Line) {
            std::fprintf(stderr, "%s\n", Line.toUtf8().constData());
            std::fflush(stderr);
        });
        // Mail and the update check; the controller's tick drives the automatic check.
        TInternetClients Internet(Controller, *ProgramSettings);
        MainWindow.AttachInternet(&Internet);
        // The configuration archives: the page's buttons, the schedule, the archive on exit.
        TConfigBackupBinding Backup(Controller, *ProgramSettings);
        TBackupPage Page(MainWindow, Backup);
        MainWindow.OnClose = [&Backup] { Backup.BackupOnExit(); };
        ProgramSettings->CloseMainWindow = [&MainWindow] { MainWindow.close(); };
        QObject::connect(&MainWindow, &TOndrix::Closed, &App, &QCoreApplication::quit, Qt::QueuedConnection);

        QPointer<TStartupForm> Splash = new TStartupForm;
        Splash->PlaceNear(&MainWindow);
        Splash->show();
        QTimer::singleShot(0, &MainWindow, [&MainWindow, Splash] { MainWindow.StartupContinue(Splash); });

        // For automated runs: close the window through its normal path once start-up is done,
        // as a user closing it at once would.
        if (qEnvironmentVariableIsSet("ONDRIX_EXIT_AFTER_START"))
            QObject::connect(&MainWindow, &TOndrix::StartupDone, &MainWindow, &QWidget::close, Qt::QueuedConnection);

        ExitCode = App.exec();
        ProgramSettings->CloseMainWindow = nullptr;
        Window = nullptr;
        if (Splash)
            delete Splash.data();
    }
    // The settings object goes last; it starts the program again when asked to.
    ProgramSettings.reset();
    return ExitCode;
}

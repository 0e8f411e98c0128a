#include "app/Headless.h"

#include "app/SessionEnd.h"
#include "app/Startup.h"
#include "core/Common_Settings.h"
#include "core/ConfigBackupBinding.h"
#include "core/InternetClients.h"
#include "core/MonitorController.h"
#include "core/QueuePump.h"
#include "core/SettingsFile.h"
#include "core/SettingsModel.h"
#include "lang/Language_Functions.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

void PrintLine(const QString& Line)
{
    std::fprintf(stdout, "%s\n", Line.toUtf8().constData());
    std::fflush(stdout);
}

}  // namespace

int RunHeadless(int& argc, char** argv)
{
    QCoreApplication::setApplicationName("Ondrix");
    QCoreApplication App(argc, argv);

    // Every text from the first one on in the desktop's language (the operator's own choice
    // takes over once the settings are read).
    Language::UseDesktopLanguage(TCommonSettings::InstalledLanguageFolder(QCoreApplication::applicationFilePath()));

    // A stop request before the monitor exists ends the start; afterwards it ends the run.
    std::function<void()> Stop;
    bool StopRequested = false;
    TSessionEndWatcher SessionEnd([&Stop, &StopRequested] {
        if (Stop)
            Stop();
        else
            StopRequested = true;
    });

    std::unique_ptr<TSettings> ProgramSettings;
    try {
        ProgramSettings = std::make_unique<TSettings>(StopAwareStartup(StopRequested));
        ProgramSettings->CheckInstallation();
    } catch (const EStartCancelled&) {
        return 0;
    } catch (const ESettingsError& Error) {
        std::fprintf(stderr, "%s\n", Error.Text().toUtf8().constData());
        return 1;
    }
    if (StopRequested)
        return 0;
    // Log lines and mails in the language chosen in the window (or, on a first start, the one
    // that suits the system's language).
    TLanguage MessageLanguage;
    Language::InitLanguages(ProgramSettings->ProgramFolder, ProgramSettings->LanguageFolder, &MessageLanguage,
                            ProgramSettings->MainIniFile);

    TQueuePump Pump(MainThreadQueue());
    TSettingsModel Model;
    TMonitorController Controller(*ProgramSettings, Model);
    QObject::connect(&Controller, &TMonitorController::MessageAdded,
                     [](const TOndrixMessage& Message) { PrintLine(MessageLogLine(Message)); });
    // Mail and the update check run headless too; the controller's tick drives the check.
    TInternetClients Internet(Controller, *ProgramSettings);
    // Scheduled archives run headless too; the archive on exit comes after the settings are saved.
    TConfigBackupBinding Backup(Controller, *ProgramSettings);
    THeadlessSettingsQuestions Questions([&Controller](const QString& Text) { Controller.AddMessage(msgError, Text); });

    if (!Controller.LoadSettings(Questions))
        return 1;
    Controller.ReportProgramStart();
    // Without the socket (another monitor serves it) the monitor still runs, as its message says.
    Controller.Socket().Listen();
    // A restart request (after a restore) ends this run as a stop does (saving unless the
    // request says not to); the settings object then starts the monitor again, headless.
    ProgramSettings->CloseMainWindow = [&Stop] {
        if (Stop)
            Stop();
    };

    bool Stopping = false;
    Stop = [&] {
        if (Stopping)
            return;
        Stopping = true;
        Controller.Disable_All_BtnClick();
        using TReason = TMonitorController::TStopReason;
        const int Signal = SessionEnd.LastSignal();
        Controller.ReportProgramStop(ProgramSettings->RestartRequested ? TReason::Restart
                                     : Signal                          ? TReason::Signal
                                                                       : TReason::SessionEnd,
                                     Signal);
        if (!ProgramSettings->SkipSaveOnClose)
            Controller.SaveSettings(Questions);
        Controller.Messages().FlushLog();
        Backup.BackupOnExit();
        Controller.Socket().Close();
        App.quit();
    };
    if (StopRequested) {
        Stop();
        return 0;
    }
    QTimer::singleShot(0, &Controller, [&Controller] { Controller.AutoStartSamples(); });
    const int ExitCode = App.exec();
    Stop = nullptr;
    ProgramSettings->CloseMainWindow = nullptr;
    return ExitCode;
}

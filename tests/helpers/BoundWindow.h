#pragma once
// The main window bound to a real monitoring controller on a temporary data folder, its
// configuration loaded, as the program builds it, for the window tests. The capture reads a generated file in real time, as
// a sound card would deliver it. Header only: the helper library has no windows.

#include "app/Ondrix_Unit.h"
#include "audio/AudioIOStream.h"
#include "core/Common_Settings.h"
#include "core/MonitorController.h"
#include "core/QueuePump.h"
#include "core/SettingsFile.h"

#include "helpers/TestFiles.h"

#include <QString>

#include <filesystem>
#include <memory>

namespace testkit {

struct BoundWindow {
    TempDir root;
    std::unique_ptr<TSettings> folders;
    std::unique_ptr<TOndrix> window;
    TQueuePump pump{MainThreadQueue()};
    std::unique_ptr<TMonitorController> controller;

    // The program's folder is root/prog (language files go to root/prog/Language), the data
    // folder root/Station. Prepare runs before the window is made (write settings files there).
    explicit BoundWindow(const std::function<void(BoundWindow&)>& prepare = {})
    {
        std::filesystem::create_directories(root.path() / "prog");
        if (prepare)
            prepare(*this);
        folders = std::make_unique<TSettings>(
            TSettingsStartup{{"/Data=" + q(dataFolder())}, q(root.path() / "prog" / "ondrix"), [](qint64) {}});
        window = std::make_unique<TOndrix>();
        controller = std::make_unique<TMonitorController>(*folders, *window->Model());
        Pcm quiet;
        quiet.appendSilence(30.0);
        const std::string feed = root.file("feed.wav");
        writeWav(feed, quiet);
        controller->Engine().CaptureDevice = [feed] {
            return std::make_unique<TStreamWaveIn>([feed] { return std::make_unique<TAudioFileSource>(feed); },
                                                   TPacing::RealTime);
        };
        window->AttachController(controller.get());
        // The configuration of the data folder, as the start-up loads it (only a list that was
        // read is ever written back).
        THeadlessSettingsQuestions questions([](const QString&) {});
        controller->LoadSettings(questions);
        window->show();
    }

    ~BoundWindow()
    {
        controller.reset();  // stops the engine before the window goes
        window.reset();
        folders.reset();
    }

    std::filesystem::path dataFolder() const { return root.path() / "Station"; }
    std::filesystem::path languageFolder() const { return root.path() / "prog" / "Language"; }

    static QString q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }
};

}  // namespace testkit

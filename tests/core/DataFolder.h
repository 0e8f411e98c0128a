#pragma once
// A temporary data folder with the program's settings object pointing at it, for tests of the
// non-visual core.

#include "core/Common_Settings.h"

#include "helpers/TestFiles.h"

#include <QString>

#include <filesystem>
#include <memory>

class TTestDataFolder {
public:
    testkit::TempDir Root;
    std::unique_ptr<TSettings> Settings;

    TTestDataFolder()
    {
        std::filesystem::create_directories(Root.path() / "prog");
        Settings = std::make_unique<TSettings>(TSettingsStartup{
            {"/Data=" + Path("data")}, Path("prog/ondrix"), [](qint64) {}});
    }

    // Root / Relative as a string.
    QString Path(const QString& Relative) const
    {
        return QString::fromStdString(Root.path().string()) + "/" + Relative;
    }
};

// Entry point of the Ondrix monitor.

#include "app/Headless.h"
#include "app/Startup.h"
#include "core/Common_Settings.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // Answered before anything else, so that asking for the version touches no folder and
    // needs no screen.
    for (int I = 1; I < argc; ++I) {
        if (std::strcmp(argv[I], "--version") == 0) {
            std::printf("%s\n", TCommonSettings::ProgramVersionText().toUtf8().constData());
            return 0;
        }
    }
    for (int I = 1; I < argc; ++I) {
        if (std::strcmp(argv[I], "--headless") == 0)
            return RunHeadless(argc, argv);
    }
    return RunOndrix(argc, argv);
}

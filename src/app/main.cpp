// Entry point of the Ondrix monitor.

#include "app/Headless.h"
#include "app/Startup.h"
#include "core/Common_Settings.h"
#include "lang/Lang.h"
#include "lang/Language_Functions.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* const HelpText =
    "Usage: ondrix [/Data=FOLDER] [/Delay=MSECS]\n"
    "\n"
    "Monitors the live audio feed for the samples of its sample list.\n"
    "\n"
    "  /Data=FOLDER   keep settings, logs and temporary files in FOLDER (absolute, or relative\n"
    "                 to the current folder; to the program's folder in a portable tree);\n"
    "                 without it: an \"Ini\" folder beside the program, else the per-user\n"
    "                 data folder\n"
    "  /Delay=MSECS   wait MSECS milliseconds before starting (a stop signal ends the wait)\n"
    "  --headless     monitor without a window\n"
    "  --version      print the version and exit\n"
    "  --help         print this text and exit\n"
    "\n"
    "Switches may also start with \"\\\" instead of \"/\". SIGTERM, SIGINT and SIGHUP close the\n"
    "program normally. Exit code 1: the program could not start (the reason is printed).\n";

// Whether a window can be shown: a platform chosen explicitly, or an X11 or Wayland display.
bool HaveScreen()
{
    for (const char* Name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* Value = std::getenv(Name);
        if (Value && *Value)
            return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    // A file size limit (RLIMIT_FSIZE) must not kill a monitor that runs for weeks at its next
    // log line: the write fails instead (EFBIG) and is handled as a full disk is.
    std::signal(SIGXFSZ, SIG_IGN);
    // Answered before anything else, so that asking for the version or the switches touches
    // no folder and needs no screen.
    for (int I = 1; I < argc; ++I) {
        if (std::strcmp(argv[I], "--version") == 0) {
            std::printf("%s\n", TCommonSettings::ProgramVersionText().toUtf8().constData());
            return 0;
        }
        if (std::strcmp(argv[I], "--help") == 0 || std::strcmp(argv[I], "-h") == 0) {
            std::fputs(HelpText, stdout);
            return 0;
        }
    }
    // The monitor without a window needs no display.
    for (int I = 1; I < argc; ++I) {
        if (std::strcmp(argv[I], "--headless") == 0)
            return RunHeadless(argc, argv);
    }
    // Without a display Qt would abort inside its platform set-up.
    if (!HaveScreen()) {
        QCoreApplication App(argc, argv);
        Language::UseDesktopLanguage(TCommonSettings::InstalledLanguageFolder(QCoreApplication::applicationFilePath()));
        std::fprintf(stderr, "ondrix: %s\n", GetMessageText(QStringLiteral("NoDisplay")).toUtf8().constData());
        return 1;
    }
    return RunOndrix(argc, argv);
}

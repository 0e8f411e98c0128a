#include "helpers/XvfbDisplay.h"

#include "helpers/Process.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>

namespace testkit {

XvfbDisplay::XvfbDisplay(int width, int height)
{
    // Xvfb picks a free display number itself and writes it to standard output.
    const std::string numberFile = dir_.file("display");
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    server_ = spawnProcess({"Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, numberFile);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string number;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(numberFile);
        if (std::getline(in, number) && !number.empty() && in.good())
            break;
        number.clear();
        if (waitpid(server_, nullptr, WNOHANG) == server_) {
            server_ = -1;
            throw std::runtime_error("Xvfb ended at start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (number.empty()) {
        kill(server_, SIGTERM);
        waitpid(server_, nullptr, 0);
        server_ = -1;
        throw std::runtime_error("Xvfb did not come up");
    }
    name_ = ":" + number;
    if (const char* old = std::getenv("DISPLAY")) {
        hadDisplay_ = true;
        savedDisplay_ = old;
    }
    setenv("DISPLAY", name_.c_str(), 1);
}

XvfbDisplay::~XvfbDisplay()
{
    if (tray_ > 0) {
        kill(tray_, SIGTERM);
        waitpid(tray_, nullptr, 0);
    }
    if (hadDisplay_)
        setenv("DISPLAY", savedDisplay_.c_str(), 1);
    else
        unsetenv("DISPLAY");
    if (server_ > 0) {
        kill(server_, SIGTERM);
        waitpid(server_, nullptr, 0);
    }
}

bool XvfbDisplay::screenshot(const std::string& pngFile) const
{
    std::filesystem::create_directories(std::filesystem::path(pngFile).parent_path());
    const pid_t pid = spawnProcess({"/usr/bin/import", "-display", name_, "-window", "root", pngFile}, "/dev/null");
    int code = -1;
    waitForProcess(pid, &code);
    return code == 0 && std::filesystem::exists(pngFile);
}

std::string XvfbDisplay::screenshotFolder(const std::string& fallback)
{
    const char* chosen = std::getenv("ONDRIX_SCREENSHOTS");
    const std::string folder = chosen && *chosen ? chosen : fallback;
    std::filesystem::create_directories(folder);
    return folder;
}

bool XvfbDisplay::startTray()
{
    tray_ = spawnProcess({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
                          "--transparent", "false"},
                         dir_.file("trayer.txt"));
    // The tray's panel window shows once it owns the notification area.
    return pollUntil([this] { return windowTree().find("(\"panel\" \"trayer\")") != std::string::npos; },
                     std::chrono::seconds(30));
}

std::string XvfbDisplay::windowTree() const
{
    return commandOutput("xwininfo -display " + name_ + " -root -tree");
}

bool XvfbDisplay::click(int x, int y, int button) const
{
    const pid_t pid = spawnProcess({"xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y), "click",
                                    std::to_string(button)},
                                   "/dev/null");
    int code = -1;
    waitForProcess(pid, &code);
    return code == 0;
}

}  // namespace testkit

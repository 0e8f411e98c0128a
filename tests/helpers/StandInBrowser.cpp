#include "helpers/StandInBrowser.h"

#include "helpers/Process.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace testkit {

StandInBrowser& StandInBrowser::instance()
{
    static StandInBrowser Browser;
    return Browser;
}

StandInBrowser::StandInBrowser() : log_(dir_.file("opened.txt"))
{
    const std::string script = dir_.file("xdg-open");
    // One short append per address: a reader never sees half a line.
    writeText(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + log_ + "'\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const char* path = std::getenv("PATH");
    const std::string joined = dir_.path().string() + (path && *path ? ":" + std::string(path) : std::string());
    setenv("PATH", joined.c_str(), 1);
}

std::vector<std::string> StandInBrowser::addresses() const
{
    std::vector<std::string> lines;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool StandInBrowser::waitForAddresses(std::size_t count, std::chrono::milliseconds timeout) const
{
    return pollUntil([&] { return addresses().size() >= count; }, timeout);
}

void StandInBrowser::clear()
{
    std::filesystem::remove(log_);
}

}  // namespace testkit

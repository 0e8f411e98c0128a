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

StandInBrowser::StandInBrowser() : script_(dir_.file("xdg-open")), log_(dir_.file("opened.txt"))
{
    // One short append per address: a reader never sees half a line.
    writeText(script_, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + log_ + "'\n");
    const char* path = std::getenv("PATH");
    path_ = dir_.path().string() + (path && *path ? ":" + std::string(path) : std::string());
    setAvailable(true);
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

void StandInBrowser::setAvailable(bool available)
{
    std::filesystem::permissions(script_, available ? std::filesystem::perms::owner_all : std::filesystem::perms::none);
    setenv("PATH", available ? path_.c_str() : dir_.path().c_str(), 1);
}

}  // namespace testkit

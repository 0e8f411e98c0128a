#pragma once
// A stand-in for the desktop's launcher: an "xdg-open" first on PATH that records every address
// it is asked to open, one per line, instead of starting a browser. Qt opens web pages and
// documents through xdg-open on a desktop it does not know, so a test sees exactly the address
// the program handed to the desktop.

#include <chrono>
#include <string>
#include <vector>

#include "helpers/TestFiles.h"

namespace testkit {

class StandInBrowser {
public:
    // The one stand-in of this process, put first on PATH on first use (Qt looks for the
    // launcher once and keeps what it found).
    static StandInBrowser& instance();

    // The addresses opened since the last clear(), in order.
    std::vector<std::string> addresses() const;
    // Waits until at least count addresses were opened; false when the time-out passes first.
    bool waitForAddresses(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    void clear();
    // Whether a launcher can be started: without, as on a desktop without xdg-utils, the
    // program's request to open an address fails, whether Qt starts the launcher it found
    // before (the stand-in, now not executable) or looks for one again (PATH then holds
    // nothing else).
    void setAvailable(bool available);

private:
    StandInBrowser();
    TempDir dir_;
    std::string script_;
    std::string log_;
    std::string path_;  // PATH with the stand-in first
};

}  // namespace testkit

#pragma once
// A private X server (Xvfb) for tests that run the real program with a real window, and the
// screenshot step anyone can use to look at that window: the test sets DISPLAY for every
// program it starts, and screenshot() saves the whole screen as a PNG (ImageMagick's import).

#include <string>
#include <sys/types.h>

#include "helpers/TestFiles.h"

namespace testkit {

class XvfbDisplay {
public:
    // Starts Xvfb on a free display number with one screen of this size (24-bit colour) and
    // sets DISPLAY; raises std::runtime_error when it does not come up.
    XvfbDisplay(int width = 1280, int height = 800);
    // Stops the server and restores DISPLAY.
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // ":N"
    const std::string& name() const { return name_; }
    // Saves the whole screen as a PNG; false when the picture could not be taken.
    bool screenshot(const std::string& pngFile) const;

    // Starts a notification area (trayer, docked at the top right) on this display and waits
    // until it serves; false when it does not come up. It ends with the display.
    bool startTray();
    // The window tree of the screen as xwininfo lists it (names, classes, sizes, positions).
    std::string windowTree() const;
    // Clicks a mouse button (1 left, 3 right) at a point of the screen (xdotool).
    bool click(int x, int y, int button) const;

    // Where screenshots of a test run go: $ONDRIX_SCREENSHOTS when set (created), else the
    // given fallback folder.
    static std::string screenshotFolder(const std::string& fallback);

private:
    TempDir dir_;
    std::string name_;
    std::string savedDisplay_;
    bool hadDisplay_ = false;
    pid_t server_ = -1;
    pid_t tray_ = -1;
};

}  // namespace testkit

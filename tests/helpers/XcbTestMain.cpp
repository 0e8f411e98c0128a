// GoogleTest entry for window tests that need a real X server in this very process: the
// desktop's launcher for web pages and documents is only used on a real platform (offscreen
// opens nothing). Starts a private Xvfb, points Qt at it and runs the tests in one
// QApplication.
#include "helpers/XvfbDisplay.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (CTest's discovery) needs no display.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    testkit::XvfbDisplay Display;
    // The session's private runtime folder, as a desktop gives one.
    testkit::TempDir Runtime;
    std::filesystem::permissions(Runtime.path(), std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", Runtime.path().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication App(argc, argv);
    return RUN_ALL_TESTS();
}

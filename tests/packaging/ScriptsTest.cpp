// The two commands the README starts with: scripts/run.sh builds only the programs before the
// window opens, scripts/test.sh builds everything and runs the suite. A real build takes half
// an hour on a busy machine, so cmake and ctest are stand-ins here that write down how they
// were called; the scripts themselves (and install-deps.sh) run as a user runs them.

#include "helpers/Process.h"
#include "helpers/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// The lines of a text, without the empty last one.
std::vector<std::string> Lines(const std::string& Text)
{
    std::vector<std::string> Result;
    std::istringstream In(Text);
    for (std::string Line; std::getline(In, Line);)
        Result.push_back(Line);
    return Result;
}

TEST(BuildScriptsTest, RunBuildsOnlyTheProgramsAndTestBuildsEverything)
{
    testkit::TempDir Dir;
    const std::string Calls = Dir.file("calls.txt");
    const std::string Stubs = Dir.file("stubs");
    const std::string Build = Dir.file("build");
    fs::create_directories(Stubs);
    fs::create_directories(Build + "/bin");
    // cmake, ctest and the program itself only record their arguments.
    const auto Recorder = [&](const std::string& File, const std::string& Name) {
        testkit::writeText(File, "#!/bin/sh\necho \"" + Name + " $*\" >> '" + Calls + "'\n");
        fs::permissions(File, fs::perms::owner_all);
    };
    Recorder(Stubs + "/cmake", "cmake");
    Recorder(Stubs + "/ctest", "ctest");
    Recorder(Build + "/bin/ondrix", "ondrix");
    const std::vector<std::string> Environment = {"PATH=" + Stubs + ":" + std::getenv("PATH"),
                                                  "ONDRIX_BUILD_DIR=" + Build, "ONDRIX_JOBS=2"};
    const std::string Cores = Lines(testkit::commandOutput("nproc")).at(0);  // test.sh runs one test per core

    struct Case {
        const char* Script;
        std::vector<std::string> Args;
        std::vector<std::string> Expected;  // the calls after configuring
    };
    const Case Cases[] = {
        {"run.sh",
         {"/Data=/srv/fm"},
         {"cmake --build " + Build + " -j 2 --target ondrix ondrix-scan ondrixctl", "ondrix /Data=/srv/fm"}},
        {"test.sh",
         {"-R", "Scan"},
         {"cmake --build " + Build + " -j 2", "ctest --test-dir " + Build + " --output-on-failure -j " + Cores + " -R Scan"}},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Script);
        fs::remove(Calls);
        std::vector<std::string> Argv = {ONDRIX_SOURCE_DIR "/scripts/" + std::string(C.Script)};
        Argv.insert(Argv.end(), C.Args.begin(), C.Args.end());
        const testkit::ProcessResult R = testkit::runProcess(Argv, Environment);
        ASSERT_EQ(R.exitCode, 0) << R.out << R.err;
        std::vector<std::string> Made = Lines(testkit::readText(Calls));
        ASSERT_FALSE(Made.empty());
        EXPECT_EQ(Made.front().rfind("cmake -S . -B " + Build + " -G Ninja", 0), 0u) << Made.front();
        Made.erase(Made.begin());
        EXPECT_EQ(Made, C.Expected);
    }
}

}  // namespace

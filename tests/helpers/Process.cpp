#include "helpers/Process.h"
#include "helpers/TestFiles.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>

#include <fstream>

#include <climits>
#include <cstdio>
#include <thread>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testkit {

pid_t spawnProcess(const std::vector<std::string>& argv, const std::string& stdoutFile)
{
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment)
{
    std::vector<std::string> variables = environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string variable = *entry;
        const std::string name = variable.substr(0, variable.find('=') + 1);
        bool replaced = false;
        for (const auto& own : environment)
            replaced = replaced || own.rfind(name, 0) == 0;
        if (!replaced)
            variables.push_back(variable);
    }
    std::vector<char*> env;
    for (auto& v : variables)
        env.push_back(v.data());
    env.push_back(nullptr);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    // The output goes to unnamed files, read once the program has ended: no pipe to keep
    // drained while it runs.
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    if (!out || !err)
        throw std::runtime_error("cannot create the output files for " + argv[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fileno(out), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fileno(err), STDERR_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    ProcessResult result;
    if (rc == 0)
        waitForProcess(pid, &result.exitCode);
    for (auto [file, text] : {std::pair{out, &result.out}, std::pair{err, &result.err}}) {
        std::rewind(file);
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
            text->append(buffer, n);
        std::fclose(file);
    }
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    return result;
}

double waitForProcess(pid_t pid, int* exitCode)
{
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (exitCode)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool pollUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string executableFolder()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    std::string exe(path, n > 0 ? size_t(n) : 0);
    return exe.substr(0, exe.rfind('/'));
}

int rerunTestAsUnprivilegedUser(std::string* output, std::string* whyNot)
{
    const char* const setpriv = "/usr/bin/setpriv";
    if (access(setpriv, X_OK) != 0) {
        if (whyNot)
            *whyNot = "setpriv (package util-linux) is not installed, so the test cannot run as an unprivileged user";
        return -1;
    }
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0) {
        if (whyNot)
            *whyNot = "the test program cannot find itself";
        return -1;
    }
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string(test->test_suite_name()) + "." + test->name();
    TempDir dir;
    const std::string out = dir.file("output.txt");
    const pid_t pid = spawnProcess({setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", std::string(self, size_t(n)),
                                    "--gtest_filter=" + filter},
                                   out);
    int code = -1;
    waitForProcess(pid, &code);
    if (output)
        *output = readText(out);
    return code;
}

bool catchesSignal(pid_t pid, int signal)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

std::string commandOutput(const std::string& command)
{
    std::string result;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> chunk{};
    size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        result.append(chunk.data(), n);
    ::pclose(pipe);
    return result;
}

}  // namespace testkit

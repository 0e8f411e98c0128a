#pragma once
// Child processes for tests and benchmarks that run the real programs.

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testkit {

// Starts argv[0] (searched on PATH unless it holds a "/") with standard input from /dev/null
// and standard output to stdoutFile; throws when it cannot be started.
pid_t spawnProcess(const std::vector<std::string>& argv, const std::string& stdoutFile);

// What a program that ran to its end printed, and how it ended.
struct ProcessResult {
    int exitCode = -1;  // -1 when a signal ended it
    std::string out;    // standard output
    std::string err;    // standard error
};

// Runs argv[0] (searched on PATH unless it holds a "/") to its end with standard input from
// /dev/null. `environment` entries "NAME=value" are added to this process's environment,
// replacing a variable of the same name. Throws when it cannot be started.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {});

// Waits for the child and returns the processor time (user + system) it used, in seconds;
// exitCode receives its exit code, or -1 when a signal ended it.
double waitForProcess(pid_t pid, int* exitCode = nullptr);

// Polls a condition of another process every 10 ms until it holds; false when the time-out
// passes first. Servers and their clients are separate programs: there is no event to wait on
// but their visible state.
bool pollUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// Whether the process has installed a handler for the signal (its caught-signals mask in
// /proc): a stop signal sent from then on is handled, not fatal.
bool catchesSignal(pid_t pid, int signal);

// Runs a shell command and returns its standard output (its standard error is dropped).
std::string commandOutput(const std::string& command);

// Folder of the running executable (where the build puts every program and Ini_Def/).
std::string executableFolder();

// For tests of what file permissions forbid, which never stop the superuser: run as root,
// runs the current GoogleTest test again in a child of this test program as the unprivileged
// user 65534 ("nobody", through setpriv). The test body then does its work only where
// geteuid() is not 0. Result: the child's exit code (0 when the test passed there), or -1 with
// why in whyNot when it cannot be run that way (setpriv missing); output receives what the
// child printed.
int rerunTestAsUnprivilegedUser(std::string* output, std::string* whyNot);

}  // namespace testkit

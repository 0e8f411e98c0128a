#pragma once
// A private PulseAudio server for capture tests, in its own temporary folder (its own HOME and
// XDG_RUNTIME_DIR), reached through PULSE_SERVER, which this object sets for the test process
// and every program it starts.
//
// The server has a null sink "feed" (description "Feed") whose monitor "feed.monitor"
// ("Monitor of Feed") is source 0, and a source "mic" ("Mic", the default source) remapped
// from that monitor. Audio played into the feed can be recorded from either source. A
// keep-alive recorder holds the null sink to real time (an idle null sink runs ahead and drops
// audio).

#include <string>
#include <sys/types.h>
#include <vector>

#include "helpers/TestFiles.h"

namespace testkit {

class PulseServer {
public:
    // Starts the server; raises std::runtime_error when it does not come up.
    PulseServer();
    // Stops the server and restores the environment.
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // Starts the server (again) in the same folder, on the same socket.
    void start();
    // Stops the server and waits until it has exited.
    void stop();
    bool running() const { return server_ > 0; }
    // The server's process (to stall it with SIGSTOP, as a hung server would be).
    pid_t pid() const { return server_; }

    // Plays a WAV file into the feed sink and waits until it has been played.
    void play(const std::string& wavFile);
    // Starts playing a WAV file into the feed sink; wait for it with waitFor.
    pid_t playAsync(const std::string& wavFile);
    // Waits for a program started by this object; returns its exit code (-1 when signalled).
    static int waitFor(pid_t pid);

    // Runs a command with the server's environment and returns its standard output.
    static std::string output(const std::string& command);

    const std::string& folder() const { return folder_; }
    std::string socket() const { return folder_ + "/native"; }

private:
    static void terminate(pid_t& pid);

    TempDir dir_;
    std::string folder_;
    pid_t server_ = -1;
    pid_t keepAlive_ = -1;
    std::vector<std::pair<std::string, std::string>> savedEnv_;
};

}  // namespace testkit

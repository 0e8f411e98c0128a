#pragma once
// A private sound server for capture tests, in its own temporary folder (its own HOME and
// XDG_RUNTIME_DIR), reached through PULSE_SERVER, which this object sets for the test process
// and every program it starts: PulseAudio, or PipeWire through its PulseAudio interface
// (pipewire, wireplumber and pipewire-pulse, with a D-Bus session bus of its own, which
// wireplumber needs), as Debian desktops run it.
//
// The server has a null sink "feed" (description "Feed") whose monitor "feed.monitor"
// ("Monitor of Feed") is source 0, and a source "mic" ("Mic", the default source) remapped
// from that monitor. Audio played into the feed can be recorded from either source. On
// PulseAudio a keep-alive recorder holds the null sink to real time (an idle null sink runs
// ahead and drops audio); PipeWire's graph runs in real time by itself.

#include <string>
#include <sys/types.h>
#include <vector>

#include "helpers/TestFiles.h"

namespace testkit {

enum class SoundServer { PulseAudio, PipeWire };
// "PulseAudio" or "PipeWire", for test names.
std::string soundServerName(SoundServer kind);

class PulseServer {
public:
    // Starts the server; raises std::runtime_error when it does not come up.
    explicit PulseServer(SoundServer kind = SoundServer::PulseAudio);
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
    SoundServer kind() const { return kind_; }

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
    void startPulseAudio();
    void startPipeWire();
    // Waits until the PulseAudio interface answers; stops and raises otherwise.
    void waitUntilAnswering(const char* what);

    SoundServer kind_;
    TempDir dir_;
    std::string folder_;
    // The process PULSE_SERVER reaches (pulseaudio, or pipewire-pulse).
    pid_t server_ = -1;
    pid_t keepAlive_ = -1;
    // PipeWire's other processes.
    pid_t bus_ = -1, pipewire_ = -1, sessionManager_ = -1;
    std::vector<std::pair<std::string, std::string>> savedEnv_;
};

}  // namespace testkit

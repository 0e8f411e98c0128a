#include "helpers/PulseServer.h"
#include "helpers/Process.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testkit {

namespace {

void setEnv(std::vector<std::pair<std::string, std::string>>& saved, const char* name, const std::string& value)
{
    const char* old = std::getenv(name);
    saved.emplace_back(name, old ? old : std::string("\x01"));
    ::setenv(name, value.c_str(), 1);
}

}  // namespace

std::string soundServerName(SoundServer kind)
{
    return kind == SoundServer::PipeWire ? "PipeWire" : "PulseAudio";
}

PulseServer::PulseServer(SoundServer kind) : kind_(kind)
{
    folder_ = dir_.path().string();
    // PipeWire: the feed sink in the daemon's own configuration, the PulseAudio interface on
    // the same socket path as PulseAudio's.
    std::filesystem::create_directories(folder_ + "/config/pipewire/pipewire.conf.d");
    std::filesystem::create_directories(folder_ + "/config/pipewire/pipewire-pulse.conf.d");
    writeText(folder_ + "/config/pipewire/pipewire.conf.d/feed.conf",
              "context.objects = [\n"
              "  { factory = adapter\n"
              "    args = { factory.name = support.null-audio-sink node.name = feed node.description = Feed\n"
              "             media.class = Audio/Sink audio.position = [ FL FR ] audio.rate = 44100\n"
              "             object.linger = true monitor.channel-volumes = true } }\n"
              "]\n");
    writeText(folder_ + "/config/pipewire/pipewire-pulse.conf.d/socket.conf",
              "pulse.properties = { server.address = [ \"unix:" + socket() + "\" ] }\n");
    writeText(folder_ + "/test.pa",
              "load-module module-native-protocol-unix socket=" + socket() + " auth-anonymous=1\n"
              "load-module module-null-sink sink_name=feed rate=44100 channels=2 "
              "sink_properties=device.description=Feed\n"
              "load-module module-remap-source master=feed.monitor source_name=mic "
              "source_properties=device.description=Mic\n"
              "set-default-sink feed\n"
              "set-default-source mic\n"
              "suspend-sink feed 1\n");
    setEnv(savedEnv_, "PULSE_SERVER", "unix:" + socket());
    setEnv(savedEnv_, "HOME", folder_);
    setEnv(savedEnv_, "XDG_RUNTIME_DIR", folder_);
    if (kind_ == SoundServer::PipeWire) {
        setEnv(savedEnv_, "XDG_CONFIG_HOME", folder_ + "/config");
        setEnv(savedEnv_, "DBUS_SESSION_BUS_ADDRESS", "unix:path=" + folder_ + "/bus");
    }
    start();
}

PulseServer::~PulseServer()
{
    stop();
    for (auto it = savedEnv_.rbegin(); it != savedEnv_.rend(); ++it) {
        if (it->second == "\x01")
            ::unsetenv(it->first.c_str());
        else
            ::setenv(it->first.c_str(), it->second.c_str(), 1);
    }
}

void PulseServer::start()
{
    if (running())
        return;
    if (kind_ == SoundServer::PipeWire)
        startPipeWire();
    else
        startPulseAudio();
}

void PulseServer::waitUntilAnswering(const char* what)
{
    if (!pollUntil([] { return std::system("pactl info >/dev/null 2>&1") == 0; }, std::chrono::seconds(10))) {
        stop();
        throw std::runtime_error(std::string("the ") + what + " test server did not start (see the logs in its folder)");
    }
}

namespace {

// Starts a program with its standard output and error going to a log file.
pid_t spawnLogged(std::vector<std::string> argv, const std::string& log)
{
    argv.insert(argv.begin(), {"sh", "-c", "exec \"$0\" \"$@\" 2>&1"});
    return spawnProcess(argv, log);
}

}  // namespace

void PulseServer::startPipeWire()
{
    ::unlink((folder_ + "/bus").c_str());
    bus_ = spawnLogged({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + folder_ + "/bus"},
                        folder_ + "/dbus.log");
    pollUntil([this] { return ::access((folder_ + "/bus").c_str(), F_OK) == 0; }, std::chrono::seconds(10));
    pipewire_ = spawnLogged({"pipewire"}, folder_ + "/pipewire.log");
    pollUntil([this] { return ::access((folder_ + "/pipewire-0").c_str(), F_OK) == 0; }, std::chrono::seconds(10));
    sessionManager_ = spawnLogged({"wireplumber"}, folder_ + "/wireplumber.log");
    server_ = spawnLogged({"pipewire-pulse"}, folder_ + "/pipewire-pulse.log");
    waitUntilAnswering("PipeWire");
    // The session manager makes the feed the default sink once it has seen it.
    if (!pollUntil([] { return output("pactl get-default-sink") == "feed\n"; }, std::chrono::seconds(10))
        || std::system("pactl load-module module-remap-source master=feed.monitor source_name=mic "
                       "source_properties=device.description=Mic >/dev/null") != 0
        || !pollUntil([] { return std::system("pactl set-default-source mic >/dev/null 2>&1") == 0
                                  && output("pactl get-default-source") == "mic\n"; },
                      std::chrono::seconds(10))) {
        stop();
        throw std::runtime_error("the PipeWire test server did not set up its feed (see the logs in its folder)");
    }
}

void PulseServer::startPulseAudio()
{
    server_ = spawnProcess({"pulseaudio", "-n", "-F", folder_ + "/test.pa", "--daemonize=no", "--exit-idle-time=-1",
                     "--use-pid-file=no", "--disable-shm=yes", "--log-target=file:" + folder_ + "/pa.log"},
                    "/dev/null");
    waitUntilAnswering("PulseAudio");
    // Hold the null sink to real time, then let it run.
    keepAlive_ = spawnProcess({"pacat", "--record", "-d", "feed.monitor", "--latency-msec=20", "--raw"}, "/dev/null");
    if (!pollUntil([] { return output("pactl list short source-outputs").find("protocol-native") != std::string::npos; },
                   std::chrono::seconds(10))) {
        stop();
        throw std::runtime_error("the PulseAudio keep-alive recorder did not connect");
    }
    if (std::system("pactl suspend-sink feed 0") != 0) {
        stop();
        throw std::runtime_error("cannot resume the feed sink");
    }
}

void PulseServer::terminate(pid_t& pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    waitFor(pid);
    pid = -1;
}

void PulseServer::stop()
{
    terminate(keepAlive_);
    terminate(server_);
    terminate(sessionManager_);
    terminate(pipewire_);
    terminate(bus_);
}

pid_t PulseServer::playAsync(const std::string& wavFile)
{
    return spawnProcess({"paplay", "-d", "feed", wavFile}, "/dev/null");
}

void PulseServer::play(const std::string& wavFile)
{
    if (waitFor(playAsync(wavFile)) != 0)
        throw std::runtime_error("paplay failed for " + wavFile);
}

int PulseServer::waitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string PulseServer::output(const std::string& command)
{
    return commandOutput(command);
}

}  // namespace testkit

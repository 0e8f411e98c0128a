#pragma once
// The receiving end of systemd's notify protocol, as a service manager holds it: a Unix datagram
// socket in a temporary folder whose path a program under test gets as NOTIFY_SOCKET. Each
// datagram is one notification ("READY=1\nSTATUS=...", "WATCHDOG=1", ...).

#include <chrono>
#include <optional>
#include <string>

#include "helpers/TestFiles.h"

namespace testkit {

class NotifySocket {
public:
    // Binds the socket; raises std::runtime_error when it cannot.
    NotifySocket();
    ~NotifySocket();
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    // The value for NOTIFY_SOCKET.
    const std::string& path() const { return path_; }
    // The next notification, waiting at most `timeout`; none when nothing came.
    std::optional<std::string> receive(std::chrono::milliseconds timeout);

private:
    TempDir dir_;
    std::string path_;
    int fd_ = -1;
};

}  // namespace testkit

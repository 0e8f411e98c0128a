#include "helpers/NotifySocket.h"

#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace testkit {

NotifySocket::NotifySocket() : path_(dir_.file("notify"))
{
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd_ < 0 || path_.size() >= sizeof(address.sun_path))
        throw std::runtime_error("cannot make the notify socket");
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        throw std::runtime_error("cannot bind the notify socket " + path_);
}

NotifySocket::~NotifySocket()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::optional<std::string> NotifySocket::receive(std::chrono::milliseconds timeout)
{
    pollfd wait{fd_, POLLIN, 0};
    if (::poll(&wait, 1, int(timeout.count())) <= 0)
        return std::nullopt;
    char buffer[4096];
    const ssize_t size = ::recv(fd_, buffer, sizeof(buffer), 0);
    if (size < 0)
        return std::nullopt;
    return std::string(buffer, size_t(size));
}

}  // namespace testkit

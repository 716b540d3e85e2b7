#include "udp_receiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace testkit {

UdpReceiver::UdpReceiver() {
    m_fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("cannot bind a loopback UDP socket");
    m_port = ntohs(addr.sin_port);
}

UdpReceiver::~UdpReceiver() {
    if (m_fd >= 0)
        close(m_fd);
}

std::optional<std::string> UdpReceiver::Receive(int timeoutMs) {
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
        return std::nullopt;
    std::string buffer(65536, '\0');
    ssize_t n = recv(m_fd, buffer.data(), buffer.size(), 0);
    if (n < 0)
        return std::nullopt;
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

} // namespace testkit

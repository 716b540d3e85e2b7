// A UDP socket bound to an ephemeral loopback port, for receiving alerts in tests.
#pragma once

#include <optional>
#include <string>

namespace testkit {

class UdpReceiver {
public:
    UdpReceiver();
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    int port() const { return m_port; }
    // The next datagram's payload, or nothing when none arrives within the time.
    std::optional<std::string> Receive(int timeoutMs = 2000);

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace testkit

// Windows Sockets 1.1 semantics over a real loopback socket.
#include <string>

#include <gtest/gtest.h>

#include <winplat/winsock.h>

#include "udp_receiver.h"

namespace {

TEST(Winsock, NothingWorksBeforeStartup) {
    EXPECT_EQ(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
}

TEST(Winsock, StartupGrantsVersion11) {
    WSADATA data;
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 0), &data), WSAVERNOTSUPPORTED);
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(1, 1));
    EXPECT_EQ(WSACleanup(), 0);
}

TEST(Winsock, InetAddrTakesDottedFormsOnly) {
    struct Case {
        const char* text;
        uint32_t networkOrder; // as bytes a.b.c.d in memory
    };
    const Case cases[] = {
        {"127.0.0.1", htonl(0x7F000001)}, {"10.1.2.3", htonl(0x0A010203)},
        {"10.258", htonl(0x0A000102)},    {"0x7f.1", htonl(0x7F000001)},
        {"255.255.255.255", INADDR_NONE}, {"256.1.1.1", INADDR_NONE},
        {"router.example", INADDR_NONE},  {"", INADDR_NONE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(inet_addr(c.text), c.networkOrder) << c.text;
}

class WinsockStarted : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0101, &data), 0);
        m_socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        ASSERT_NE(m_socket, INVALID_SOCKET);
    }
    void TearDown() override {
        EXPECT_EQ(closesocket(m_socket), 0);
        EXPECT_EQ(WSACleanup(), 0);
    }
    int SendTo(const char* address, int port, const std::string& text) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<u_short>(port));
        to.sin_addr.s_addr = inet_addr(address);
        return sendto(m_socket, text.data(), static_cast<int>(text.size()), 0,
                      reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    SOCKET m_socket = INVALID_SOCKET;
};

TEST_F(WinsockStarted, DatagramArrivesByteForByte) {
    testkit::UdpReceiver receiver;
    std::string payload("line\0with nul", 13);
    EXPECT_EQ(SendTo("127.0.0.1", receiver.port(), payload), 13);
    EXPECT_EQ(receiver.Receive(), payload);
}

TEST_F(WinsockStarted, RefusedDestinationsReportWinsockErrors) {
    EXPECT_EQ(SendTo("255.255.255.255", 514, "x"), SOCKET_ERROR); // broadcast not enabled
    EXPECT_EQ(WSAGetLastError(), WSAEACCES);
}

// Neither the unspecified address nor port 0 names a peer: Winsock refuses both, where Linux
// would deliver 0.0.0.0 to the local host.
TEST_F(WinsockStarted, UnspecifiedAddressOrPortIsNotAvailable) {
    testkit::UdpReceiver receiver;
    const struct {
        const char* address;
        int port;
    } cases[] = {
        {"0.0.0.0", receiver.port()}, {"0", receiver.port()}, {"127.0.0.1", 0}, {"0.0.0.0", 0}};
    for (const auto& c : cases) {
        WSASetLastError(0);
        EXPECT_EQ(SendTo(c.address, c.port, "x"), SOCKET_ERROR) << c.address << ":" << c.port;
        EXPECT_EQ(WSAGetLastError(), WSAEADDRNOTAVAIL) << c.address << ":" << c.port;
    }
    // Nothing reached the receiver on loopback; a real datagram still does.
    EXPECT_EQ(SendTo("127.0.0.1", receiver.port(), "after"), 5);
    EXPECT_EQ(receiver.Receive(), "after");
}

} // namespace

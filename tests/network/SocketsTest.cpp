// The OS layer's UDP sockets keep Winsock's rules on every system (this suite
// also runs under Wine against the real Winsock): dotted addresses, a datagram
// too long for the buffer, empty datagrams, non-blocking reads, and select
// under the virtual clock.
#include <gtest/gtest.h>

#include "platform/Platform.h"

namespace {

TEST(Sockets, DottedAddressesBothWays) {
    struct Case {
        const char* text;
        uint32_t host;  // host order; 0xFFFFFFFF for a malformed text
    } cases[] = {
        {"127.0.0.1", 0x7F000001}, {"10.0.0.7", 0x0A000007}, {"192.168.1.20", 0xC0A80114},
        {"0.0.0.0", 0},            {"1.2.3", 0xFFFFFFFF},   {"1.2.3.4.5", 0xFFFFFFFF},
        {"256.1.1.1", 0xFFFFFFFF}, {"a.b.c.d", 0xFFFFFFFF}, {"", 0xFFFFFFFF},
        {"1..2.3", 0xFFFFFFFF},    {"1.2.3.4 ", 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(plat::ntohl(plat::inet_addr(c.text)), c.host) << '"' << c.text << '"';
        if (c.host != 0xFFFFFFFF) EXPECT_STREQ(plat::inet_ntoa(plat::htonl(c.host)), c.text);
    }
    EXPECT_EQ(plat::htons(0x1234), plat::ntohs(0x1234));
    const uint32_t n = plat::htonl(0x01020304);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&n)[0], 1) << "network order puts the high byte first";
}

class SocketPair : public ::testing::Test {
public:
    plat::Socket a = plat::kInvalidSocket, b = plat::kInvalidSocket;
    plat::SockAddrIn bAddress;
    void SetUp() override {
        uint16_t version = 0;
        ASSERT_EQ(plat::WSAStartup(0x0202, &version), 0);
        a = plat::socket(plat::kAfInet, plat::kSockDgram, plat::kIpprotoUdp);
        b = plat::socket(plat::kAfInet, plat::kSockDgram, plat::kIpprotoUdp);
        ASSERT_NE(a, plat::kInvalidSocket);
        ASSERT_NE(b, plat::kInvalidSocket);
        uint32_t on = 1;
        ASSERT_EQ(plat::ioctlsocket(b, plat::kFionbio, &on), 0);
        ASSERT_EQ(plat::bind(b, {plat::htonl(0x7F000001), 0}), 0);
        ASSERT_EQ(plat::getsockname(b, &bAddress), 0);
        EXPECT_NE(bAddress.port, 0) << "the system chose a port";
    }
    void TearDown() override {
        plat::closesocket(a);
        plat::closesocket(b);
        plat::WSACleanup();
        plat::UseVirtualClock(false);
    }
    void Send(int length) {
        std::vector<uint8_t> bytes(static_cast<size_t>(length), 0x5A);
        ASSERT_EQ(plat::sendto(a, bytes.data(), length, 0, bAddress), length);
    }
};

TEST_F(SocketPair, ReadsFollowWinsocksRules) {
    uint8_t buffer[64];
    EXPECT_EQ(plat::recv(b, buffer, sizeof buffer, 0), plat::kSocketError);
    EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEWouldBlock) << "nothing waiting on a non-blocking socket";

    Send(0);
    Send(100);
    Send(7);
    plat::SockAddrIn from;
    EXPECT_EQ(plat::recvfrom(b, buffer, sizeof buffer, 0, &from), 0) << "an empty datagram reads as 0 bytes";
    EXPECT_EQ(from.address, plat::htonl(0x7F000001));
    EXPECT_EQ(plat::recv(b, buffer, sizeof buffer, 0), plat::kSocketError);
    EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEMsgSize) << "longer than the buffer";
    EXPECT_EQ(plat::recv(b, buffer, sizeof buffer, 0), 7) << "the long one is gone, the next one is whole";
}

TEST_F(SocketPair, TheDestinationOfADatagramIsReported) {
    ASSERT_EQ(plat::EnablePacketInfo(b), 0);
    Send(3);
    uint8_t buffer[8];
    plat::SockAddrIn from;
    uint32_t to = 0;
    plat::FdSet ready;
    ready.fd_count = 1;
    ready.fd_array[0] = b;
    const plat::TimeVal wait{1, 0};
    ASSERT_EQ(plat::select(&ready, nullptr, &wait), 1);
    EXPECT_EQ(plat::WSARecvMsg(b, buffer, sizeof buffer, &from, &to), 3);
    EXPECT_EQ(to, plat::htonl(0x7F000001));
}

TEST_F(SocketPair, SelectUnderTheVirtualClockAdvancesItInsteadOfWaiting) {
    plat::UseVirtualClock(true);
    plat::FdSet set;
    set.fd_count = 1;
    set.fd_array[0] = b;
    const plat::TimeVal quarter{0, 250000};
    uint32_t start = plat::GetTickCount();
    EXPECT_EQ(plat::select(&set, nullptr, &quarter), 0);
    EXPECT_EQ(set.fd_count, 0u);
    EXPECT_GE(plat::GetTickCount() - start, 250u);
    EXPECT_LT(plat::GetTickCount() - start, 260u);

    Send(5);
    set.fd_count = 1;
    set.fd_array[0] = b;
    start = plat::GetTickCount();
    EXPECT_EQ(plat::select(&set, nullptr, &quarter), 1);
    EXPECT_TRUE(plat::WSAFDIsSet(b, &set));
    EXPECT_LT(plat::GetTickCount() - start, 5u) << "ready at once: no time passes";

    plat::FdSet empty;
    EXPECT_EQ(plat::select(&empty, nullptr, &quarter), plat::kSocketError) << "no socket to wait on";
    EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEInval);
}

}  // namespace

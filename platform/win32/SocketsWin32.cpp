// Windows implementation of the socket layer: each function is the Winsock
// call it is named after.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstddef>

#include "platform/win32/Win32Names.h"

#include "platform/Platform.h"
#include "platform/PlatformImpl.h"

namespace plat {

static_assert(sizeof(Socket) == sizeof(SOCKET));
static_assert(offsetof(FdSet, fd_array) == offsetof(fd_set, fd_array));
static_assert(kFionbio == static_cast<long>(FIONBIO) && kInvalidSocket == INVALID_SOCKET);

namespace {
sockaddr_in ToNative(const SockAddrIn& a) {
    sockaddr_in s{};
    s.sin_family = AF_INET;
    s.sin_port = a.port;
    s.sin_addr.s_addr = a.address;
    return s;
}
}  // namespace

int WSAStartup(uint16_t version, uint16_t* started) {
    WSADATA data{};
    int r = ::WSAStartup(version, &data);
    if (started) *started = r == 0 ? data.wVersion : 0;
    return r;
}
int WSACleanup() { return ::WSACleanup(); }
int WSAGetLastError() { return ::WSAGetLastError(); }

Socket socket(int af, int type, int protocol) { return ::socket(af, type, protocol); }

int ioctlsocket(Socket s, long command, uint32_t* argument) {
    u_long value = argument ? *argument : 0;
    int r = ::ioctlsocket(s, command, &value);
    if (argument) *argument = static_cast<uint32_t>(value);
    return r;
}

int bind(Socket s, const SockAddrIn& local) {
    sockaddr_in a = ToNative(local);
    return ::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

int getsockname(Socket s, SockAddrIn* local) {
    sockaddr_in a{};
    int n = sizeof a;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) != 0) return kSocketError;
    if (local) *local = {a.sin_addr.s_addr, a.sin_port};
    return 0;
}

int sendto(Socket s, const void* data, int length, int flags, const SockAddrIn& to) {
    sockaddr_in a = ToNative(to);
    return ::sendto(s, static_cast<const char*>(data), length, flags, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

int recv(Socket s, void* buffer, int length, int flags) { return ::recv(s, static_cast<char*>(buffer), length, flags); }

int recvfrom(Socket s, void* buffer, int length, int flags, SockAddrIn* from) {
    sockaddr_in a{};
    int n = sizeof a;
    int r = ::recvfrom(s, static_cast<char*>(buffer), length, flags, reinterpret_cast<sockaddr*>(&a), &n);
    if (r != SOCKET_ERROR && from) *from = {a.sin_addr.s_addr, a.sin_port};
    return r;
}

int EnablePacketInfo(Socket s) {
    DWORD on = 1;
    return ::setsockopt(s, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof on);
}

int WSARecvMsg(Socket s, void* buffer, int length, SockAddrIn* from, uint32_t* destination) {
    // The call is an extension of the provider, looked up through the socket.
    LPFN_WSARECVMSG recvMsg = nullptr;
    GUID id = WSAID_WSARECVMSG;
    DWORD n = 0;
    if (::WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &recvMsg, sizeof recvMsg, &n, nullptr,
                   nullptr) != 0 || !recvMsg)
        return SOCKET_ERROR;
    sockaddr_in a{};
    WSABUF data{static_cast<ULONG>(length), static_cast<char*>(buffer)};
    char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSAMSG m{};
    m.name = reinterpret_cast<sockaddr*>(&a);
    m.namelen = sizeof a;
    m.lpBuffers = &data;
    m.dwBufferCount = 1;
    m.Control = {sizeof control, control};
    DWORD got = 0;
    if (recvMsg(s, &m, &got, nullptr, nullptr) != 0) return SOCKET_ERROR;
    if (from) *from = {a.sin_addr.s_addr, a.sin_port};
    if (destination) {
        *destination = 0;
        for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&m); c; c = WSA_CMSG_NXTHDR(&m, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                *destination = reinterpret_cast<const IN_PKTINFO*>(WSA_CMSG_DATA(c))->ipi_addr.s_addr;
    }
    return static_cast<int>(got);
}

int closesocket(Socket s) { return ::closesocket(s); }

namespace impl {
int WaitSockets(FdSet* readSet, FdSet* writeSet, int64_t timeoutMicros) {
    timeval tv{};
    timeval* wait = nullptr;
    if (timeoutMicros >= 0) {
        tv.tv_sec = static_cast<long>(timeoutMicros / 1000000);
        tv.tv_usec = static_cast<long>(timeoutMicros % 1000000);
        wait = &tv;
    }
    // Winsock reads fd_count entries whatever FD_SETSIZE it was compiled with.
    return ::select(0, reinterpret_cast<fd_set*>(readSet), reinterpret_cast<fd_set*>(writeSet), nullptr, wait);
}
}  // namespace impl

bool GetIpAddrTable(std::vector<IpAddrRow>* rows) {
    if (!rows) return false;
    rows->clear();
    ULONG size = 0;
    if (::GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0) return false;
    std::vector<unsigned char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    if (::GetIpAddrTable(table, &size, FALSE) != NO_ERROR) return false;
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        rows->push_back({table->table[i].dwIndex, table->table[i].dwAddr, table->table[i].dwMask});
    return true;
}

}  // namespace plat

// Linux implementation of the socket layer, with
// Winsock's semantics where the programs rely on them: error codes, the
// start-up count, a datagram too long for the buffer is an error.
#include "platform/Platform.h"
#include "platform/PlatformImpl.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>

namespace plat {

// ---- sockets ---------------------------------------------------------------------
namespace {
thread_local int t_wsaError = 0;
std::atomic<int> g_startups{0};

int MapErrno(int e) {
    switch (e) {
        case EINTR: return kWsaEInterrupted;
        case EBADF: return kWsaEBadF;
        case EINVAL: return kWsaEInval;
        case EMFILE: case ENFILE: return kWsaEMFile;
        case EAGAIN: return kWsaEWouldBlock;
        case ENOTSOCK: return kWsaENotSock;
        case EMSGSIZE: return kWsaEMsgSize;
        case EAFNOSUPPORT: return kWsaEAfNoSupport;
        case EADDRINUSE: return kWsaEAddrInUse;
        case EADDRNOTAVAIL: return kWsaEAddrNotAvail;
        case ENETUNREACH: return kWsaENetUnreach;
        case ECONNREFUSED: case ECONNRESET: return kWsaEConnReset;
        case ENOBUFS: case ENOMEM: return kWsaENoBufs;
        case EHOSTUNREACH: return kWsaEHostUnreach;
        default: return kWsaEInval;
    }
}
int Fail() {
    t_wsaError = MapErrno(errno);
    return kSocketError;
}
sockaddr_in ToNative(const SockAddrIn& a) {
    sockaddr_in s{};
    s.sin_family = AF_INET;
    s.sin_port = a.port;
    s.sin_addr.s_addr = a.address;
    return s;
}
}  // namespace

int WSAStartup(uint16_t version, uint16_t* started) {
    if (started) *started = version;
    ++g_startups;
    return 0;
}

int WSACleanup() {
    int n = g_startups.load();
    while (n > 0 && !g_startups.compare_exchange_weak(n, n - 1)) {
    }
    if (n <= 0) {
        t_wsaError = kWsaNotInitialised;
        return kSocketError;
    }
    return 0;
}

int WSAGetLastError() { return t_wsaError; }

Socket socket(int af, int type, int protocol) {
    if (af != kAfInet || type != kSockDgram || (protocol != 0 && protocol != kIpprotoUdp)) {
        t_wsaError = kWsaEAfNoSupport;
        return kInvalidSocket;
    }
    int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (s < 0) {
        Fail();
        return kInvalidSocket;
    }
    return s;
}

int ioctlsocket(Socket s, long command, uint32_t* argument) {
    if (command != kFionbio || !argument) {
        t_wsaError = kWsaEInval;
        return kSocketError;
    }
    int flags = fcntl(s, F_GETFL);
    if (flags < 0) return Fail();
    flags = *argument ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(s, F_SETFL, flags) < 0 ? Fail() : 0;
}

int bind(Socket s, const SockAddrIn& local) {
    sockaddr_in a = ToNative(local);
    return ::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) < 0 ? Fail() : 0;
}

int getsockname(Socket s, SockAddrIn* local) {
    sockaddr_in a{};
    socklen_t n = sizeof a;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) < 0) return Fail();
    if (local) *local = {a.sin_addr.s_addr, a.sin_port};
    return 0;
}

int sendto(Socket s, const void* data, int length, int flags, const SockAddrIn& to) {
    if (length < 0) {
        t_wsaError = kWsaEInval;
        return kSocketError;
    }
    sockaddr_in a = ToNative(to);
    ssize_t n = ::sendto(s, data, static_cast<size_t>(length), flags | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&a),
                         sizeof a);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int recvfrom(Socket s, void* buffer, int length, int flags, SockAddrIn* from) {
    if (length < 0) {
        t_wsaError = kWsaEInval;
        return kSocketError;
    }
    sockaddr_in a{};
    socklen_t n = sizeof a;
    // MSG_TRUNC makes the call answer the datagram's real length.
    ssize_t got = ::recvfrom(s, buffer, static_cast<size_t>(length), flags | MSG_TRUNC, reinterpret_cast<sockaddr*>(&a), &n);
    if (got < 0) return Fail();
    if (from) *from = {a.sin_addr.s_addr, a.sin_port};
    if (got > length) {
        t_wsaError = kWsaEMsgSize;
        return kSocketError;
    }
    return static_cast<int>(got);
}

int recv(Socket s, void* buffer, int length, int flags) { return recvfrom(s, buffer, length, flags, nullptr); }

int EnablePacketInfo(Socket s) {
    int on = 1;
    return setsockopt(s, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) < 0 ? Fail() : 0;
}

int WSARecvMsg(Socket s, void* buffer, int length, SockAddrIn* from, uint32_t* destination) {
    if (length < 0) {
        t_wsaError = kWsaEInval;
        return kSocketError;
    }
    sockaddr_in a{};
    iovec io{buffer, static_cast<size_t>(length)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr m{};
    m.msg_name = &a;
    m.msg_namelen = sizeof a;
    m.msg_iov = &io;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    const ssize_t got = ::recvmsg(s, &m, 0);
    if (got < 0) return Fail();
    if (from) *from = {a.sin_addr.s_addr, a.sin_port};
    if (destination) {
        *destination = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                *destination = reinterpret_cast<const in_pktinfo*>(CMSG_DATA(c))->ipi_addr.s_addr;
    }
    if (m.msg_flags & MSG_TRUNC) {
        t_wsaError = kWsaEMsgSize;
        return kSocketError;
    }
    return static_cast<int>(got);
}

int closesocket(Socket s) { return ::close(s) < 0 ? Fail() : 0; }

namespace impl {
int WaitSockets(FdSet* readSet, FdSet* writeSet, int64_t timeoutMicros) {
    pollfd fds[2 * kFdSetSize];
    nfds_t count = 0;
    auto add = [&](FdSet* set, short events) {
        if (!set) return;
        for (uint32_t i = 0; i < set->fd_count && i < kFdSetSize; ++i) fds[count++] = {set->fd_array[i], events, 0};
    };
    add(readSet, POLLIN);
    add(writeSet, POLLOUT);
    if (count == 0) {
        t_wsaError = kWsaEInval;  // Winsock refuses a select with no sockets
        return kSocketError;
    }
    timespec ts{};
    timespec* wait = nullptr;
    if (timeoutMicros >= 0) {
        ts.tv_sec = static_cast<time_t>(timeoutMicros / 1000000);
        ts.tv_nsec = static_cast<long>(timeoutMicros % 1000000) * 1000;
        wait = &ts;
    }
    int n = ppoll(fds, count, wait, nullptr);
    if (n < 0) return Fail();
    for (nfds_t i = 0; i < count; ++i) {
        if (fds[i].revents & POLLNVAL) {
            t_wsaError = kWsaENotSock;
            return kSocketError;
        }
    }
    int ready = 0;
    nfds_t at = 0;
    auto keep = [&](FdSet* set, short events) {
        if (!set) return;
        uint32_t kept = 0;
        for (uint32_t i = 0; i < set->fd_count && i < kFdSetSize; ++i, ++at) {
            if (fds[at].revents & (events | POLLERR | POLLHUP)) {
                set->fd_array[kept++] = fds[at].fd;
                ++ready;
            }
        }
        set->fd_count = kept;
    };
    keep(readSet, POLLIN);
    keep(writeSet, POLLOUT);
    return ready;
}
}  // namespace impl

bool GetIpAddrTable(std::vector<IpAddrRow>* rows) {
    if (!rows) return false;
    rows->clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        const auto* a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        const auto* m = reinterpret_cast<const sockaddr_in*>(i->ifa_netmask);
        rows->push_back({if_nametoindex(i->ifa_name), a->sin_addr.s_addr, m ? m->sin_addr.s_addr : 0});
    }
    freeifaddrs(list);
    return true;
}

}  // namespace plat

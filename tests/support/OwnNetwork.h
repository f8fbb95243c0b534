#pragma once
// Moves this process into a network namespace of its own (root only): a new
// namespace has only its loopback interface, down; up, it is 127.0.0.1/8.
// False where the system does not allow it.
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

inline bool OwnNetwork() {
    if (unshare(CLONE_NEWNET) != 0) return false;
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(s, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ioctl(s, SIOCSIFFLAGS, &request) == 0;
    close(s);
    return up;
}

// The native network suites run in a network namespace of their own where
// the system allows it (root, as CI runs): the ports they bind (5645 to 5647
// on loopback) then cannot collide with another program on the machine, not
// even with the same suite run by someone else at the same time. Elsewhere
// they run in the machine's namespace, where CTest's resource lock keeps them
// apart from each other.
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {
bool OwnNetwork() {
    if (unshare(CLONE_NEWNET) != 0) return false;
    // A new namespace has only its loopback interface, down; up, it is 127.0.0.1/8.
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
}  // namespace

int main(int argc, char** argv) {
    const bool own = OwnNetwork();
    std::printf("network suites: %s\n", own ? "in a network namespace of their own" : "in the machine's network");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

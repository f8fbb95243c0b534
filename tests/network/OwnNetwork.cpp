// The native network suites run in a network namespace of their own where
// the system allows it (root, as CI runs): the ports they bind (5645 to 5647
// on loopback) then cannot collide with another program on the machine, not
// even with the same suite run by someone else at the same time. Elsewhere
// they run in the machine's namespace, where CTest's resource lock keeps them
// apart from each other.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/OwnNetwork.h"

int main(int argc, char** argv) {
    const bool own = OwnNetwork();
    std::printf("network suites: %s\n", own ? "in a network namespace of their own" : "in the machine's network");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

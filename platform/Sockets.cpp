// The parts of the socket layer that are the same on every system: the wait
// policy of select under the virtual clock, and the dotted-address helpers.
#include <cstdio>

#include "platform/Platform.h"
#include "platform/PlatformImpl.h"

namespace plat {

int select(FdSet* readSet, FdSet* writeSet, const TimeVal* timeout) {
    int64_t micros = -1;
    if (timeout) micros = int64_t{timeout->tv_sec} * 1000000 + timeout->tv_usec;
    if (micros < -1) micros = 0;
    if (!IsVirtualClock()) {
        int result = impl::WaitSockets(readSet, writeSet, micros);
        if (micros != 0) impl::RunIdleHook();
        return result;
    }
    // Virtual time: nothing real is waited for. What is ready now is taken at
    // once; otherwise the clock moves by the time-out, the emulated hardware
    // catches up, and the sets are looked at once more.
    FdSet readCopy, writeCopy;
    for (;;) {
        if (readSet) {
            readCopy.fd_count = readSet->fd_count;
            for (uint32_t i = 0; i < readSet->fd_count && i < kFdSetSize; ++i) readCopy.fd_array[i] = readSet->fd_array[i];
        }
        if (writeSet) {
            writeCopy.fd_count = writeSet->fd_count;
            for (uint32_t i = 0; i < writeSet->fd_count && i < kFdSetSize; ++i) writeCopy.fd_array[i] = writeSet->fd_array[i];
        }
        int result = impl::WaitSockets(readSet ? &readCopy : nullptr, writeSet ? &writeCopy : nullptr, 0);
        if (result != 0 || micros == 0) {
            if (readSet) *readSet = readCopy;
            if (writeSet) *writeSet = writeCopy;
            return result;
        }
        const uint64_t step = micros < 0 ? 1000 : static_cast<uint64_t>(micros);
        AdvanceVirtualClock(step);
        impl::RunIdleHook();
        if (micros >= 0) return impl::WaitSockets(readSet, writeSet, 0);
    }
}

bool WSAFDIsSet(Socket s, const FdSet* set) {
    if (!set) return false;
    for (uint32_t i = 0; i < set->fd_count && i < kFdSetSize; ++i)
        if (set->fd_array[i] == s) return true;
    return false;
}

const char* inet_ntoa(uint32_t address) {
    thread_local char text[16];
    const uint32_t host = ntohl(address);
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (host >> 24) & 0xFF, (host >> 16) & 0xFF, (host >> 8) & 0xFF,
                  host & 0xFF);
    return text;
}

uint32_t inet_addr(const char* text) {
    if (!text) return 0xFFFFFFFFu;
    uint32_t parts[4] = {};
    int n = 0;
    const char* p = text;
    while (n < 4) {
        if (*p < '0' || *p > '9') return 0xFFFFFFFFu;
        uint32_t v = 0;
        int digits = 0;
        while (*p >= '0' && *p <= '9') {
            v = v * 10 + static_cast<uint32_t>(*p++ - '0');
            if (++digits > 3 || v > 255) return 0xFFFFFFFFu;
        }
        parts[n++] = v;
        if (n < 4) {
            if (*p != '.') return 0xFFFFFFFFu;
            ++p;
        }
    }
    if (*p != '\0') return 0xFFFFFFFFu;
    return htonl((parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3]);
}

}  // namespace plat

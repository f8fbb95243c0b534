#pragma once
// The parts of the Velun discovery component that the browse and the devices
// registry share: result codes, time values, socket sets, the process-wide
// environment and its log.
#include <cstdarg>
#include <cstdint>

#include "platform/Platform.h"

namespace velun {

// Result codes of every operation.
enum : int {
    NET_OK = 0,
    NET_ERR_ARGUMENT = 3,      // missing or invalid argument
    NET_ERR_RECORD = 4,        // an answer of the wrong shape
    NET_ERR_STATE = 5,         // a call in the wrong state
    NET_ERR_MEMORY = 6,        // exhausted memory
    NET_END_WOULD_BLOCK = 7,   // a socket read to its end (counts as success)
    NET_END_NO_DATA = 10,      // a socket read to its end (counts as success)
    NET_ERR_NOT_FOUND = 11,    // nothing usable was found
    NET_ERR_DNSSD = 12,        // a failure reported by DNS-SD
    NET_ERR_NO_SOCKET = 40,    // the registry has no socket of its own
};

// Seconds and microseconds of the program clock (virtual in tests); the
// microseconds stay below 1 000 000.
struct net_time {
    int64_t sec = 0;
    int32_t usec = 0;
};
net_time net_time_now();
net_time net_time_add(net_time t, int64_t micros);
int net_time_compare(net_time a, net_time b);  // <0, 0, >0
inline bool net_time_is_zero(net_time t) { return t.sec == 0 && t.usec == 0; }

// What the caller waits on. A socket beyond the 1024th is counted but not stored.
struct net_socket_set {
    int32_t count = 0;
    plat::FdSet read;
    plat::FdSet write;
};
void net_socket_set_clear(net_socket_set* set);
void net_socket_set_add_read(net_socket_set* set, plat::Socket s);
void net_socket_set_remove_read(net_socket_set* set, plat::Socket s);
bool net_socket_set_has_read(const net_socket_set* set, plat::Socket s);

// The environment: one process-wide object counted by references. The first
// set-up starts the socket layer (2.2) and creates the log; the last release
// closes the log and stops the socket layer.
struct net_env;
int net_env_setup(net_env** env);
void net_env_release(net_env* env);
int net_env_references();  // for tests: 0 when nothing holds the environment

// Log levels; a message is written when the threshold is at least its level.
enum : int { NET_LOG_ERROR = 2, NET_LOG_WARNING = 3, NET_LOG_DEBUG = 6 };
void net_env_set_log_threshold(net_env* env, int threshold);  // 0 when created
void net_log(net_env* env, int level, const char* format, ...) __attribute__((format(printf, 3, 4)));

}  // namespace velun

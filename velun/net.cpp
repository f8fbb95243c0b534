#include "velun/net.h"

#include <cstdio>
#include <new>

#include "common/Log.h"
#include "velun/dnssd.h"

namespace velun {

// ---- the DNS-SD table ----------------------------------------------------------
namespace {
const dnssd_api* g_api = nullptr;
}
void dnssd_set_api(const dnssd_api* api) { g_api = api; }
const dnssd_api* dnssd_get_api() { return g_api; }

// ---- time ---------------------------------------------------------------------------
net_time net_time_now() {
    const uint64_t micros = plat::ClockMicros();
    return {static_cast<int64_t>(micros / 1000000), static_cast<int32_t>(micros % 1000000)};
}

net_time net_time_add(net_time t, int64_t micros) {
    int64_t total = t.sec * 1000000 + t.usec + micros;
    if (total < 0) total = 0;
    return {total / 1000000, static_cast<int32_t>(total % 1000000)};
}

int net_time_compare(net_time a, net_time b) {
    if (a.sec != b.sec) return a.sec < b.sec ? -1 : 1;
    if (a.usec != b.usec) return a.usec < b.usec ? -1 : 1;
    return 0;
}

// ---- socket sets --------------------------------------------------------------------
void net_socket_set_clear(net_socket_set* set) {
    if (!set) return;
    set->count = 0;
    set->read.fd_count = 0;
    set->write.fd_count = 0;
}

void net_socket_set_add_read(net_socket_set* set, plat::Socket s) {
    if (!set || s == plat::kInvalidSocket) return;
    if (net_socket_set_has_read(set, s)) return;
    ++set->count;
    if (set->read.fd_count < plat::kFdSetSize) set->read.fd_array[set->read.fd_count++] = s;
}

void net_socket_set_remove_read(net_socket_set* set, plat::Socket s) {
    if (!set) return;
    for (uint32_t i = 0; i < set->read.fd_count; ++i) {
        if (set->read.fd_array[i] != s) continue;
        for (uint32_t j = i + 1; j < set->read.fd_count; ++j) set->read.fd_array[j - 1] = set->read.fd_array[j];
        --set->read.fd_count;
        if (set->count > 0) --set->count;
        return;
    }
}

bool net_socket_set_has_read(const net_socket_set* set, plat::Socket s) {
    return set && plat::WSAFDIsSet(s, &set->read);
}

// ---- environment --------------------------------------------------------------------
struct net_env {
    int references = 0;
    int logThreshold = 0;
    bool socketsStarted = false;
};

namespace {
net_env* g_env = nullptr;
}

int net_env_setup(net_env** env) {
    if (!env) return NET_ERR_ARGUMENT;
    if (g_env) {
        ++g_env->references;
        *env = g_env;
        return NET_OK;
    }
    auto* e = new (std::nothrow) net_env;
    if (!e) return NET_ERR_MEMORY;
    uint16_t started = 0;
    if (plat::WSAStartup(0x0202, &started) != 0) {
        delete e;
        return NET_ERR_STATE;
    }
    e->socketsStarted = true;
    e->references = 1;
    g_env = e;
    *env = e;
    return NET_OK;
}

void net_env_release(net_env* env) {
    if (!env || env != g_env) return;
    if (--env->references > 0) return;
    // Winsock answers 10093 when it was not started: nothing to stop then.
    if (env->socketsStarted && plat::WSACleanup() != 0 && plat::WSAGetLastError() != plat::kWsaNotInitialised)
        net_log(env, NET_LOG_WARNING, "net_env_release: WSACleanup failed %d\n", plat::WSAGetLastError());
    g_env = nullptr;
    delete env;
}

int net_env_references() { return g_env ? g_env->references : 0; }

void net_env_set_log_threshold(net_env* env, int threshold) {
    if (env) env->logThreshold = threshold;
}

void net_log(net_env* env, int level, const char* format, ...) {
    if (!env || env->logThreshold < level) return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    OrvexLog("Velun: %s", text);
}

}  // namespace velun

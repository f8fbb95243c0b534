#include "velun/devices.h"

#include <cstring>
#include <new>
#include <vector>

#include "velun/dnssd.h"
#include "velun/util.h"

namespace velun {

namespace {
constexpr const char* kArcServiceType = "_velun-arc._udp.";
constexpr size_t kHostMax = 1008;
constexpr size_t kNameMax = 63;
constexpr size_t kTxtValueMax = 63;
// A flood on the registry's own socket must not hold the caller.
constexpr int kMaxControlReads = 64;

enum : uint32_t { SLOT_HAS_ADDRESS = 1, SLOT_RESOLVE_STARTED = 2, SLOT_QUERY_STARTED = 4 };
}  // namespace

struct dr_slot {
    dr_device* device = nullptr;
    uint32_t flags = 0;
    uint32_t interface_index = 0;  // 0 until the first answer
    DNSServiceRef ref = nullptr;
    plat::Socket sock = plat::kInvalidSocket;
    char host[kHostMax + 1] = {};
    bool has_port = false;
    uint16_t port = 0;  // network order, as the resolve answered it
    dr_address address;
};

struct dr_device {
    dr_devices* registry = nullptr;
    char name[kNameMax + 1] = {};
    int state = DR_DEVICE_STATE_RESOLVING;
    bool safe_mode = false;
    uint16_t arcp_version = 0;
    uint8_t router_major = 0, router_minor = 0;
    uint16_t router_patch = 0;
    void* context = nullptr;
    dr_device_fn on_changed = nullptr;
    dr_slot slots[1];
    bool changed = false;
    dr_device* next = nullptr;
};

struct dr_devices {
    net_env* env = nullptr;
    uint32_t loopback_index = 0;
    uint32_t loopback_address = 0;
    plat::Socket sock = plat::kInvalidSocket;
    dr_device* devices = nullptr;
    void* context = nullptr;
    dr_devices_fn on_sockets_changed = nullptr;
    int pending = NET_OK;  // set by the reply functions
    bool in_pass = false;
    bool sockets_changed = false;
};

const char* dr_device_state_to_string(int state) {
    switch (state) {
        case DR_DEVICE_STATE_ERROR: return "ERROR";
        case DR_DEVICE_STATE_RESOLVING: return "RESOLVING";
        case DR_DEVICE_STATE_RESOLVED: return "RESOLVED";
        case DR_DEVICE_STATE_QUERYING: return "QUERYING";
        case DR_DEVICE_STATE_ACTIVE: return "ACTIVE";
        default: return "UNKNOWN";
    }
}

namespace {

// Inside a pass the handler runs once at its end; outside, at once, so a
// caller waiting on the sockets learns of a device just opened.
void sockets_changed(dr_devices* reg) {
    if (reg->in_pass) {
        reg->sockets_changed = true;
        return;
    }
    if (reg->on_sockets_changed) reg->on_sockets_changed(reg);
}

void release_slot(dr_slot* s) {
    if (!s->ref) return;
    if (const dnssd_api* api = dnssd_get_api()) api->DNSServiceRefDeallocate(s->ref);
    s->ref = nullptr;
    s->sock = plat::kInvalidSocket;
    sockets_changed(s->device->registry);
}

bool any_address(const dr_device* d) {
    for (const dr_slot& s : d->slots)
        if (s.flags & SLOT_HAS_ADDRESS) return true;
    return false;
}

// A TXT version "%u.%u.%u" that is present, not empty and at most 63 characters.
bool txt_version(uint16_t length, const unsigned char* record, const char* key, uint32_t f[3]) {
    char value[kTxtValueMax + 1];
    bool fits = false;
    if (!util_txt_value(dnssd_get_api(), length, record, key, value, sizeof value, &fits)) return false;
    return fits && value[0] != '\0' && util_parse_dotted(value, 3, 0xFFFFFFFFu, f);
}

void VELUN_DNSSD_API device_resolve_reply(DNSServiceRef, DNSServiceFlags, uint32_t interfaceIndex,
                                          DNSServiceErrorType errorCode, const char*, const char* hosttarget,
                                          uint16_t port, uint16_t txtLen, const unsigned char* txtRecord,
                                          void* context) {
    auto* s = static_cast<dr_slot*>(context);
    dr_device* d = s->device;
    dr_devices* reg = d->registry;
    if (errorCode != kDNSServiceErr_NoError) {
        reg->pending = NET_ERR_DNSSD;
        return;
    }
    const bool loopback = reg->loopback_index != 0 && interfaceIndex == reg->loopback_index;
    if (s->interface_index == 0) s->interface_index = interfaceIndex;
    else if (interfaceIndex != s->interface_index && !loopback) return;
    if (s->has_port) return;
    s->has_port = true;
    s->port = port;
    if (loopback) {
        s->address = {reg->loopback_address, plat::ntohs(port)};
        s->flags |= SLOT_HAS_ADDRESS;
    } else {
        util_copy(s->host, sizeof s->host, hosttarget);
    }
    d->changed = true;

    const dnssd_api* api = dnssd_get_api();
    if (txtRecord && api->TXTRecordContainsKey(txtLen, txtRecord, "safe")) {
        d->safe_mode = true;
        return;
    }
    uint32_t v[3];
    if (!txt_version(txtLen, txtRecord, "arcp_vers", v)) {
        reg->pending = NET_ERR_DNSSD;
        return;
    }
    d->arcp_version = static_cast<uint16_t>((v[0] & 0xF) << 12 | (v[1] & 0xF) << 8 | (v[2] & 0xFF));
    if (!txt_version(txtLen, txtRecord, "router_vers", v) || v[0] == 0) {
        reg->pending = NET_ERR_DNSSD;
        return;
    }
    d->router_major = static_cast<uint8_t>(v[0]);
    d->router_minor = static_cast<uint8_t>(v[1]);
    d->router_patch = static_cast<uint16_t>(v[2]);
}

void VELUN_DNSSD_API device_query_reply(DNSServiceRef, DNSServiceFlags, uint32_t interfaceIndex,
                                        DNSServiceErrorType errorCode, const char*, uint16_t, uint16_t,
                                        uint16_t rdlen, const void* rdata, uint32_t, void* context) {
    auto* s = static_cast<dr_slot*>(context);
    dr_devices* reg = s->device->registry;
    if (errorCode != kDNSServiceErr_NoError) {
        reg->pending = NET_ERR_DNSSD;
        return;
    }
    const bool loopback = reg->loopback_index != 0 && interfaceIndex == reg->loopback_index;
    if (interfaceIndex != s->interface_index && !loopback) return;
    if (rdlen != 4 || !rdata) {
        reg->pending = NET_ERR_RECORD;
        return;
    }
    uint32_t address = 0;
    std::memcpy(&address, rdata, 4);
    s->address = {address, plat::ntohs(s->port)};
    s->host[0] = '\0';
    s->flags |= SLOT_HAS_ADDRESS;
    s->device->changed = true;
}

int process_slot(dr_slot* s) {
    dr_device* d = s->device;
    dr_devices* reg = d->registry;
    const dnssd_api* api = dnssd_get_api();
    if (!api) return NET_ERR_DNSSD;
    plat::FdSet one;
    one.fd_count = 1;
    one.fd_array[0] = s->sock;
    const plat::TimeVal now{0, 0};
    if (plat::select(&one, nullptr, &now) <= 0) return NET_ERR_STATE;
    reg->pending = NET_OK;
    if (api->DNSServiceProcessResult(s->ref) != kDNSServiceErr_NoError) {
        release_slot(s);
        return NET_ERR_DNSSD;
    }
    if (reg->pending != NET_OK) {
        const int error = reg->pending;
        release_slot(s);
        return error;
    }
    if (s->flags & SLOT_QUERY_STARTED) {
        if (!(s->flags & SLOT_HAS_ADDRESS)) return NET_OK;  // still waiting
        release_slot(s);  // the address is known; the query has done its work
    } else if (s->flags & SLOT_RESOLVE_STARTED) {
        if (!(s->flags & SLOT_HAS_ADDRESS)) {
            if (s->host[0] == '\0') return NET_OK;
            release_slot(s);
            DNSServiceRef ref = nullptr;
            DNSServiceErrorType e = api->DNSServiceQueryRecord(&ref, kVelunQueryFlags, 0, s->host, kDNSServiceType_A,
                                                               kDNSServiceClass_IN, device_query_reply, s);
            // Avahi's library takes no query flags at all; a plain query still finds the address.
            if (e == kDNSServiceErr_Unsupported || e == kDNSServiceErr_BadFlags || e == kDNSServiceErr_BadParam)
                e = api->DNSServiceQueryRecord(&ref, 0, 0, s->host, kDNSServiceType_A, kDNSServiceClass_IN,
                                               device_query_reply, s);
            if (e != kDNSServiceErr_NoError) return NET_ERR_DNSSD;
            s->ref = ref;
            s->sock = api->DNSServiceRefSockFD(ref);
            s->flags |= SLOT_QUERY_STARTED;
            sockets_changed(reg);
            return NET_OK;
        }
        release_slot(s);  // the loopback answer brought the address
    }
    if (d->state == DR_DEVICE_STATE_RESOLVING && any_address(d)) {
        d->state = DR_DEVICE_STATE_RESOLVED;
        d->changed = true;
    }
    return NET_OK;
}

void find_loopback(uint32_t* index, uint32_t* address) {
    *index = 0;
    *address = plat::htonl(0x7F000001);
    std::vector<plat::IpAddrRow> rows;
    if (!plat::GetIpAddrTable(&rows)) return;
    for (const plat::IpAddrRow& row : rows) {
        if ((plat::ntohl(row.address) >> 24) != 127) continue;
        *index = row.index;
        *address = row.address;
        return;
    }
}

}  // namespace

int dr_devices_new(net_env* env, dr_devices** devices) {
    if (!devices) return NET_ERR_ARGUMENT;
    *devices = nullptr;
    if (!env) return NET_ERR_ARGUMENT;
    auto* reg = new (std::nothrow) dr_devices;
    if (!reg) return NET_ERR_MEMORY;
    reg->env = env;
    find_loopback(&reg->loopback_index, &reg->loopback_address);
    // The control socket has a port of its own so it can be read on every system.
    plat::Socket s = plat::socket(plat::kAfInet, plat::kSockDgram, plat::kIpprotoUdp);
    uint32_t nonBlocking = 1;
    if (s == plat::kInvalidSocket || plat::ioctlsocket(s, plat::kFionbio, &nonBlocking) != 0 ||
        plat::bind(s, plat::SockAddrIn{plat::kInaddrAny, 0}) != 0) {
        net_log(env, NET_LOG_ERROR, "dr_devices_new: control socket failed %d\n", plat::WSAGetLastError());
        if (s != plat::kInvalidSocket) plat::closesocket(s);
        delete reg;
        return NET_ERR_STATE;
    }
    reg->sock = s;
    *devices = reg;
    return NET_OK;
}

int dr_devices_set_context(dr_devices* reg, void* context) {
    if (!reg) return NET_ERR_ARGUMENT;
    reg->context = context;
    return NET_OK;
}
void* dr_devices_get_context(const dr_devices* reg) { return reg ? reg->context : nullptr; }
int dr_devices_set_sockets_changed_callback(dr_devices* reg, dr_devices_fn handler) {
    if (!reg) return NET_ERR_ARGUMENT;
    reg->on_sockets_changed = handler;
    return NET_OK;
}

int dr_devices_get_sockets(dr_devices* reg, net_socket_set* set) {
    if (!reg || !set) return NET_ERR_ARGUMENT;
    net_socket_set_add_read(set, reg->sock);
    for (const dr_device* d = reg->devices; d; d = d->next)
        for (const dr_slot& s : d->slots)
            if (s.ref) net_socket_set_add_read(set, s.sock);
    return NET_OK;
}

int dr_devices_process(dr_devices* reg, net_socket_set* set) {
    if (!reg || !set) return NET_ERR_ARGUMENT;
    if (reg->sock == plat::kInvalidSocket) return NET_ERR_NO_SOCKET;
    reg->in_pass = true;
    reg->sockets_changed = false;
    for (dr_device* d = reg->devices; d;) {
        dr_device* next = d->next;
        d->changed = false;
        for (dr_slot& s : d->slots) {
            if (!s.ref || !net_socket_set_has_read(set, s.sock)) continue;
            net_socket_set_remove_read(set, s.sock);
            if (int r = process_slot(&s); r != NET_OK)
                net_log(reg->env, NET_LOG_WARNING, "dr_devices_process: device %s failed %d\n", d->name, r);
        }
        if (d->changed && d->on_changed) d->on_changed(d);
        d = next;
    }

    int result = NET_OK;
    if (net_socket_set_has_read(set, reg->sock)) {
        net_socket_set_remove_read(set, reg->sock);
        // The device control protocol is not spoken on this path: the socket is only emptied.
        uint8_t message[1500];
        for (int i = 0; i < kMaxControlReads; ++i) {
            const int n = plat::recvfrom(reg->sock, message, sizeof message, 0, nullptr);
            if (n == 0) break;  // 10: no data
            if (n > 0) continue;
            const int e = plat::WSAGetLastError();
            if (e == plat::kWsaEWouldBlock) break;  // 7: read to its end
            if (e == plat::kWsaEConnReset || e == plat::kWsaEMsgSize) continue;
            result = NET_ERR_STATE;
            break;
        }
    }
    reg->in_pass = false;
    if (reg->sockets_changed && reg->on_sockets_changed) reg->on_sockets_changed(reg);
    return result;
}

int dr_devices_delete(dr_devices* reg) {
    if (!reg) return NET_ERR_ARGUMENT;
    if (reg->devices) return NET_ERR_STATE;
    if (reg->sock != plat::kInvalidSocket) plat::closesocket(reg->sock);
    delete reg;
    return NET_OK;
}

int dr_device_open(dr_devices* reg, const char* name, dr_device** device) {
    dr_device_config config;
    config.name = name;
    return dr_device_open_with_config(reg, &config, device);
}

int dr_device_open_with_config(dr_devices* reg, const dr_device_config* config, dr_device** device) {
    if (!device) return NET_ERR_ARGUMENT;
    *device = nullptr;
    if (!reg || !config || !config->name || config->name[0] == '\0') return NET_ERR_ARGUMENT;
    const dnssd_api* api = dnssd_get_api();
    if (!api) return NET_ERR_DNSSD;
    auto* d = new (std::nothrow) dr_device;
    if (!d) return NET_ERR_MEMORY;
    d->registry = reg;
    util_copy(d->name, sizeof d->name, config->name);
    for (dr_slot& s : d->slots) s.device = d;
    d->next = reg->devices;
    reg->devices = d;

    dr_slot& s = d->slots[0];
    DNSServiceRef ref = nullptr;
    if (api->DNSServiceResolve(&ref, 0, 0, d->name, kArcServiceType, "local", device_resolve_reply, &s) !=
        kDNSServiceErr_NoError) {
        reg->devices = d->next;
        delete d;
        return NET_ERR_DNSSD;
    }
    s.ref = ref;
    s.sock = api->DNSServiceRefSockFD(ref);
    s.flags |= SLOT_RESOLVE_STARTED;
    d->state = DR_DEVICE_STATE_RESOLVING;
    sockets_changed(reg);
    *device = d;
    return NET_OK;
}

int dr_device_set_context(dr_device* d, void* context) {
    if (!d) return NET_ERR_ARGUMENT;
    d->context = context;
    return NET_OK;
}
void* dr_device_get_context(const dr_device* d) { return d ? d->context : nullptr; }
int dr_device_set_changed_callback(dr_device* d, dr_device_fn handler) {
    if (!d) return NET_ERR_ARGUMENT;
    d->on_changed = handler;
    return NET_OK;
}
int dr_device_get_state(const dr_device* d) { return d ? d->state : DR_DEVICE_STATE_ERROR; }
const char* dr_device_get_name(const dr_device* d) { return d ? d->name : nullptr; }
bool dr_device_is_safe_mode(const dr_device* d) { return d && d->safe_mode; }
uint16_t dr_device_get_arcp_version(const dr_device* d) { return d ? d->arcp_version : 0; }
void dr_device_get_router_version(const dr_device* d, uint8_t* major, uint8_t* minor, uint16_t* patch) {
    if (major) *major = d ? d->router_major : 0;
    if (minor) *minor = d ? d->router_minor : 0;
    if (patch) *patch = d ? d->router_patch : 0;
}

int dr_device_get_addresses(const dr_device* d, unsigned* count, dr_address* addresses) {
    if (!d || !count) return NET_ERR_ARGUMENT;
    constexpr unsigned kSlots = sizeof d->slots / sizeof d->slots[0];
    for (unsigned i = 0; i < *count && i < kSlots && addresses; ++i)
        addresses[i] = (d->slots[i].flags & SLOT_HAS_ADDRESS) ? d->slots[i].address : dr_address{};
    *count = kSlots;
    return NET_OK;
}

void dr_device_close(dr_device* d) {
    if (!d) return;
    dr_devices* reg = d->registry;
    for (dr_device** p = &reg->devices; *p; p = &(*p)->next) {
        if (*p != d) continue;
        *p = d->next;
        break;
    }
    for (dr_slot& s : d->slots) release_slot(&s);
    delete d;
}

}  // namespace velun

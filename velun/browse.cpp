#include "velun/browse.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "velun/dnssd.h"
#include "velun/util.h"

namespace velun {

namespace {

constexpr db_type_info kTypes[DB_NUM_TYPES] = {
    {"media device", "_velun-arc._udp.", 31},
    {"media channel", "_velun-chan._udp.", 63},
    {"conmon device", "_velun-cmc._udp.", 31},
    {"safe mode", "_velun-safe._udp.", 31},
    {"upgrade mode", "_velun-upgr._udp.", 31},
    {"via device", "_velun-via._tcp.", 31},
    {"aes67 device", nullptr, 0},  // SAP announcements, not DNS-SD
};
constexpr size_t kServiceTypeMax = 49;
constexpr int kDefaultResolveLimit = 16;
constexpr size_t kInitialNodes = 8;
constexpr size_t kTextMax = 63;

}  // namespace

struct db_node {
    char name[DB_DEVICE_NAME_MAX + 1] = {};
    uint32_t types[DB_MAX_NETWORKS + 1] = {};  // the last one is the loopback network
    char host[DB_DEVICE_NAME_MAX + 1] = {};
    db_version arcp_vers, arcp_min, router_vers;
    char router_info[kTextMax + 1] = {};
    char mf[kTextMax + 1] = {};
    char model[kTextMax + 1] = {};
    bool has_process = false;
    uint32_t process = 0;
    bool has_id = false, has_vid = false, has_vba = false;
    uint8_t id[8] = {}, vid[8] = {}, vba[4] = {};
};

namespace {

// What one type handler found for a service; only the values it has are copied.
struct node_values {
    const char* host = nullptr;
    const db_version* arcp_vers = nullptr;
    const db_version* arcp_min = nullptr;
    const db_version* router_vers = nullptr;
    const char* router_info = nullptr;
    const char* mf = nullptr;
    const char* model = nullptr;
    const uint32_t* process = nullptr;
    const uint8_t* id = nullptr;
    const uint8_t* vid = nullptr;
    const uint8_t* vba = nullptr;
};

struct db_resolve {
    db_browse* browse = nullptr;
    int network = 0;
    int type = 0;
    char name[DB_SERVICE_NAME_MAX + 1] = {};
    DNSServiceRef ref = nullptr;
    plat::Socket sock = plat::kInvalidSocket;
    net_time deadline;
    bool active = false;
    bool done = false;  // answered (or failed) inside the library's processing
    db_resolve* next = nullptr;
};

// A singly linked list with a tail, in the order records joined it.
struct resolve_list {
    db_resolve* head = nullptr;
    db_resolve* tail = nullptr;
    int count = 0;
    void push(db_resolve* r) {
        r->next = nullptr;
        if (tail) tail->next = r;
        else head = r;
        tail = r;
        ++count;
    }
    db_resolve* pop() {
        db_resolve* r = head;
        if (!r) return nullptr;
        head = r->next;
        if (!head) tail = nullptr;
        r->next = nullptr;
        --count;
        return r;
    }
    void remove(db_resolve* r) {
        db_resolve* prev = nullptr;
        for (db_resolve* i = head; i; prev = i, i = i->next) {
            if (i != r) continue;
            if (prev) prev->next = i->next;
            else head = i->next;
            if (tail == i) tail = prev;
            i->next = nullptr;
            --count;
            return;
        }
    }
};

struct type_ref {
    db_browse* browse = nullptr;
    int type = 0;
    DNSServiceRef ref = nullptr;
    plat::Socket sock = plat::kInvalidSocket;
    bool unfiltered = false;  // browsed without the manufacturer subtype
};

}  // namespace

struct db_browse {
    net_env* env = nullptr;
    uint32_t mask = 0;
    int num_types = 0;
    int resolve_limit = kDefaultResolveLimit;
    char manufacturer[DB_MANUFACTURER_TEXT_MAX + 1] = {};
    db_browse_config config{};
    bool started = false;
    uint32_t loopback_index = 0;
    type_ref types[DB_NUM_TYPES];
    resolve_list waiting, active, finished;
    db_node** nodes = nullptr;
    size_t num_nodes = 0, cap_nodes = 0;
    net_time pass_time;
    int pending = NET_OK;
    bool node_changed = false;
    bool sockets_changed = false;
    void* context = nullptr;
    db_node_changed_fn on_node_changed = nullptr;
    db_browse_fn on_tree_changed = nullptr;
    db_browse_fn on_sockets_changed = nullptr;
};

const db_type_info* db_type_get_info(int type) { return type >= 0 && type < DB_NUM_TYPES ? &kTypes[type] : nullptr; }

// ---- nodes ------------------------------------------------------------------------
const char* db_node_get_name(const db_node* n) { return n ? n->name : nullptr; }
const char* db_node_get_host(const db_node* n) { return n ? n->host : nullptr; }
uint32_t db_node_get_types(const db_node* n, int network) {
    return n && network >= 0 && network <= DB_MAX_NETWORKS ? n->types[network] : 0;
}
db_version db_node_get_arcp_version(const db_node* n) { return n ? n->arcp_vers : db_version{}; }
db_version db_node_get_arcp_min_version(const db_node* n) { return n ? n->arcp_min : db_version{}; }
db_version db_node_get_router_version(const db_node* n) { return n ? n->router_vers : db_version{}; }
const char* db_node_get_router_info(const db_node* n) { return n ? n->router_info : nullptr; }
const char* db_node_get_manufacturer(const db_node* n) { return n ? n->mf : nullptr; }
const char* db_node_get_model(const db_node* n) { return n ? n->model : nullptr; }
bool db_node_get_process(const db_node* n, uint32_t* process) {
    if (!n || !n->has_process) return false;
    if (process) *process = n->process;
    return true;
}
bool db_node_get_id(const db_node* n, uint8_t id[8]) {
    if (!n || !n->has_id) return false;
    std::memcpy(id, n->id, 8);
    return true;
}
bool db_node_get_vendor_id(const db_node* n, uint8_t id[8]) {
    if (!n || !n->has_vid) return false;
    std::memcpy(id, n->vid, 8);
    return true;
}
bool db_node_get_vba(const db_node* n, uint8_t vba[4]) {
    if (!n || !n->has_vba) return false;
    std::memcpy(vba, n->vba, 4);
    return true;
}

size_t db_browse_get_num_nodes(const db_browse* b) { return b ? b->num_nodes : 0; }
const db_node* db_browse_get_node(const db_browse* b, size_t index) {
    return b && index < b->num_nodes ? b->nodes[index] : nullptr;
}

namespace {

// Index of the node with this name, or where it would go.
size_t find_node(const db_browse* b, const char* name, bool* found) {
    size_t lo = 0, hi = b->num_nodes;
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        const int c = util_compare_nocase(b->nodes[mid]->name, name);
        if (c == 0) {
            *found = true;
            return mid;
        }
        if (c < 0) lo = mid + 1;
        else hi = mid;
    }
    *found = false;
    return lo;
}

int insert_node(db_browse* b, size_t at, db_node* node) {
    if (b->num_nodes == b->cap_nodes) {
        const size_t cap = b->cap_nodes ? b->cap_nodes * 2 : kInitialNodes;
        auto** grown = new (std::nothrow) db_node*[cap];
        if (!grown) return NET_ERR_MEMORY;
        for (size_t i = 0; i < b->num_nodes; ++i) grown[i] = b->nodes[i];
        delete[] b->nodes;
        b->nodes = grown;
        b->cap_nodes = cap;
    }
    for (size_t i = b->num_nodes; i > at; --i) b->nodes[i] = b->nodes[i - 1];
    b->nodes[at] = node;
    ++b->num_nodes;
    return NET_OK;
}

bool same_version(const db_version& a, const db_version& b) {
    return a.present == b.present && a.major == b.major && a.minor == b.minor && a.patch == b.patch;
}

template <size_t N>
bool take_text(char (&field)[N], const char* value) {
    if (!value || std::strcmp(field, value) == 0) return false;
    util_copy(field, N, value);
    return true;
}

bool take_version(db_version& field, const db_version* value) {
    if (!value || same_version(field, *value)) return false;
    field = *value;
    return true;
}

bool take_bytes(bool& has, uint8_t* field, const uint8_t* value, size_t n) {
    if (!value || (has && std::memcmp(field, value, n) == 0)) return false;
    std::memcpy(field, value, n);
    has = true;
    return true;
}

// Adds or updates the node of a service name; calls the node-changed handler on a change.
int update_node(db_browse* b, int network, int type, const char* name, const node_values& v) {
    bool found = false;
    const size_t at = find_node(b, name, &found);
    db_node* node = found ? b->nodes[at] : nullptr;
    bool changed = false;
    if (!node) {
        if (std::strlen(name) > DB_DEVICE_NAME_MAX) return NET_ERR_ARGUMENT;
        node = new (std::nothrow) db_node;
        if (!node) return NET_ERR_MEMORY;
        util_copy(node->name, sizeof node->name, name);
        if (int r = insert_node(b, at, node); r != NET_OK) {
            delete node;
            return r;
        }
        changed = true;
    }
    const uint32_t bit = 1u << type;
    if (!(node->types[network] & bit)) {
        node->types[network] |= bit;
        changed = true;
    }
    changed |= take_text(node->host, v.host);
    changed |= take_version(node->arcp_vers, v.arcp_vers);
    changed |= take_version(node->arcp_min, v.arcp_min);
    changed |= take_version(node->router_vers, v.router_vers);
    changed |= take_text(node->router_info, v.router_info);
    changed |= take_text(node->mf, v.mf);
    changed |= take_text(node->model, v.model);
    if (v.process && (!node->has_process || node->process != *v.process)) {
        node->process = *v.process;
        node->has_process = true;
        changed = true;
    }
    changed |= take_bytes(node->has_id, node->id, v.id, 8);
    changed |= take_bytes(node->has_vid, node->vid, v.vid, 8);
    changed |= take_bytes(node->has_vba, node->vba, v.vba, 4);
    if (changed) {
        b->node_changed = true;
        if (b->on_node_changed) {
            const db_node_event event{DB_NODE_EVENT_CHANGED, node};
            b->on_node_changed(b, &event, found);
        }
    }
    return NET_OK;
}

// Removal of an advertisement: the type leaves the node on that network, and
// a node seen under no type any more leaves the tree.
void remove_from_node(db_browse* b, int network, int type, const char* name) {
    bool found = false;
    const size_t at = find_node(b, name, &found);
    if (!found) return;
    db_node* node = b->nodes[at];
    const uint32_t bit = 1u << type;
    if (!(node->types[network] & bit)) return;
    node->types[network] &= ~bit;
    b->node_changed = true;
    for (uint32_t t : node->types)
        if (t) return;
    if (b->on_node_changed) {
        const db_node_event event{DB_NODE_EVENT_REMOVED, node};
        b->on_node_changed(b, &event, true);
    }
    for (size_t i = at + 1; i < b->num_nodes; ++i) b->nodes[i - 1] = b->nodes[i];
    --b->num_nodes;
    delete node;
}

// ---- TXT values -----------------------------------------------------------------------
struct txt {
    const dnssd_api* api;
    uint16_t length;
    const unsigned char* record;

    // A text value that fits; absent (false) otherwise.
    bool text(const char* key, char* out, size_t size) const {
        bool fits = false;
        return util_txt_value(api, length, record, key, out, size, &fits) && fits;
    }
    bool version(const char* key, db_version* v) const {
        char value[kTextMax + 1];
        uint32_t f[3];
        if (!text(key, value, sizeof value) || !util_parse_dotted(value, 3, 0xFFFFFFFFu, f)) return false;
        *v = {true, f[0], f[1], f[2]};
        return true;
    }
};

// ---- type handlers -------------------------------------------------------------------------
int handle_media_device(db_resolve* r, const char* host, uint16_t, const txt& t) {
    db_version arcp, arcp_min, router;
    char router_info[kTextMax + 1], mf[kTextMax + 1], model[kTextMax + 1];
    node_values v;
    v.host = host;
    if (t.version("arcp_vers", &arcp)) v.arcp_vers = &arcp;
    if (t.version("arcp_min", &arcp_min)) v.arcp_min = &arcp_min;
    if (t.version("router_vers", &router)) v.router_vers = &router;
    if (t.text("router_info", router_info, sizeof router_info)) v.router_info = router_info;
    if (t.text("mf", mf, sizeof mf)) v.mf = mf;
    if (t.text("model", model, sizeof model)) v.model = model;
    return update_node(r->browse, r->network, r->type, r->name, v);
}

int handle_conmon_device(db_resolve* r, const char* host, uint16_t, const txt& t) {
    char value[kTextMax + 1];
    uint8_t id[8], vid[8], vba[4];
    uint32_t process = 0;
    node_values v;
    v.host = host;
    if (!t.text("id", value, sizeof value) || !util_parse_hex(value, id, 8)) return NET_OK;  // dropped
    if (!t.text("process", value, sizeof value) || !util_parse_decimal(value, &process)) return NET_OK;
    v.id = id;
    v.process = &process;
    bool fits = false;
    if (util_txt_value(t.api, t.length, t.record, "vid", value, sizeof value, &fits)) {
        if (!fits || !util_parse_hex(value, vid, 8)) return NET_OK;
        v.vid = vid;
    }
    if (util_txt_value(t.api, t.length, t.record, "vba", value, sizeof value, &fits)) {
        uint32_t f[4];
        if (!fits || !util_parse_dotted(value, 4, 255, f)) return NET_OK;
        for (int i = 0; i < 4; ++i) vba[i] = static_cast<uint8_t>(f[i]);
        v.vba = vba;
    }
    char mf[kTextMax + 1], model[kTextMax + 1];
    if (t.text("mf", mf, sizeof mf)) v.mf = mf;
    if (t.text("model", model, sizeof model)) v.model = model;
    return update_node(r->browse, r->network, r->type, r->name, v);
}

// Without the subtype, a device that names another maker in "mf" is not ours.
bool maker_matches(const db_browse* b, const txt& t) {
    char mf[kTextMax + 1];
    return !t.text("mf", mf, sizeof mf) || util_compare_nocase(mf, b->manufacturer) == 0;
}

using type_handler = int (*)(db_resolve*, const char*, uint16_t, const txt&);
type_handler handler_of(int type) {
    switch (type) {
        case DB_TYPE_MEDIA_DEVICE: return handle_media_device;
        case DB_TYPE_CONMON_DEVICE: return handle_conmon_device;
        default: return nullptr;  // the other types' handlers are not on this path
    }
}

// ---- resolves -----------------------------------------------------------------------------------
void release_resolve_ref(db_resolve* r) {
    if (!r->ref) return;
    if (const dnssd_api* api = dnssd_get_api()) api->DNSServiceRefDeallocate(r->ref);
    r->ref = nullptr;
    r->sock = plat::kInvalidSocket;
}

// An active resolve is over: its reference goes, the record waits to be freed.
void finish_resolve(db_browse* b, db_resolve* r) {
    if (r->active) {
        b->active.remove(r);
        r->active = false;
        b->sockets_changed = true;
    }
    release_resolve_ref(r);
    b->finished.push(r);
}

void free_list(resolve_list& list) {
    while (db_resolve* r = list.pop()) {
        release_resolve_ref(r);
        delete r;
    }
}

bool same_service(const db_resolve* r, int network, int type, const char* name) {
    return r->network == network && r->type == type && std::strcmp(r->name, name) == 0;
}

void VELUN_DNSSD_API resolve_reply(DNSServiceRef, DNSServiceFlags, uint32_t interfaceIndex,
                                   DNSServiceErrorType errorCode, const char*, const char* hosttarget, uint16_t port,
                                   uint16_t txtLen, const unsigned char* txtRecord, void* context) {
    auto* r = static_cast<db_resolve*>(context);
    db_browse* b = r->browse;
    if (r->done) return;
    if (errorCode != kDNSServiceErr_NoError) {
        b->pending = NET_ERR_DNSSD;
        r->done = true;
        return;
    }
    if (r->network < b->config.num_networks) {
        if (interfaceIndex != b->config.interface_indexes[r->network]) return;
    } else if (interfaceIndex != b->loopback_index) {
        return;
    }
    char host[DB_DEVICE_NAME_MAX + 1] = {};
    if (hosttarget) {
        size_t n = 0;
        while (hosttarget[n] && hosttarget[n] != '.' && n < DB_DEVICE_NAME_MAX) ++n;
        std::memcpy(host, hosttarget, n);
    }
    if (type_handler handler = handler_of(r->type)) {
        const txt t{dnssd_get_api(), txtLen, txtRecord};
        if (b->types[r->type].unfiltered && !maker_matches(b, t)) {
            r->done = true;  // another maker's device, heard without the subtype
            return;
        }
        if (int result = handler(r, host, port, t); result != NET_OK) b->pending = result;
    }
    r->done = true;
}

int start_resolve(db_browse* b, db_resolve* r) {
    if (r->active) return NET_ERR_STATE;
    const dnssd_api* api = dnssd_get_api();
    if (!api) return NET_ERR_DNSSD;
    const uint32_t iface = r->network < b->config.num_networks ? b->config.interface_indexes[r->network]
                                                                : b->config.interface_indexes[1];
    DNSServiceRef ref = nullptr;
    if (api->DNSServiceResolve(&ref, 0, iface, r->name, kTypes[r->type].service_type, "local", resolve_reply, r) !=
        kDNSServiceErr_NoError)
        return NET_ERR_DNSSD;
    r->ref = ref;
    r->sock = api->DNSServiceRefSockFD(ref);
    r->deadline = net_time_add(b->pass_time, b->config.resolve_timeout.sec * 1000000 + b->config.resolve_timeout.usec);
    r->active = true;
    r->done = false;
    b->active.push(r);
    b->sockets_changed = true;
    return NET_OK;
}

void queue_resolve(db_browse* b, int network, int type, const char* name) {
    // An advertisement heard again (another address family, say) is already on its way.
    for (const resolve_list* list : {&b->waiting, &b->active})
        for (const db_resolve* r = list->head; r; r = r->next)
            if (same_service(r, network, type, name)) return;
    auto* r = new (std::nothrow) db_resolve;
    if (!r) {
        b->pending = NET_ERR_MEMORY;
        return;
    }
    r->browse = b;
    r->network = network;
    r->type = type;
    util_copy(r->name, sizeof r->name, name);
    b->waiting.push(r);
}

void cancel_resolves(db_browse* b, int network, int type, const char* name) {
    for (db_resolve* r = b->waiting.head; r;) {
        db_resolve* next = r->next;
        if (same_service(r, network, type, name)) {
            b->waiting.remove(r);
            b->finished.push(r);
        }
        r = next;
    }
    for (db_resolve* r = b->active.head; r;) {
        db_resolve* next = r->next;
        if (same_service(r, network, type, name)) finish_resolve(b, r);
        r = next;
    }
}

// ---- browse replies -----------------------------------------------------------------------------
// DNS names compare without regard to case, and the root's final dot may be left out.
bool same_service_type(const char* reply, const char* ours) {
    const size_t a = std::strlen(reply), b = std::strlen(ours);
    const size_t ours_without_dot = b > 0 && ours[b - 1] == '.' ? b - 1 : b;
    const size_t reply_without_dot = a > 0 && reply[a - 1] == '.' ? a - 1 : a;
    if (ours_without_dot != reply_without_dot) return false;
    for (size_t i = 0; i < ours_without_dot; ++i) {
        char x = reply[i], y = ours[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

int find_network(db_browse* b, uint32_t iface) {
    db_browse_config& c = b->config;
    for (int n = 0; n < c.num_networks; ++n) {
        if (!(c.network_mask & (1u << n))) continue;
        if (c.interface_indexes[n] == 0) {
            c.interface_indexes[n] = iface;
            return n;
        }
        if (c.interface_indexes[n] == iface) return n;
    }
    if (c.allow_loopback && b->loopback_index != 0 && iface == b->loopback_index) return c.num_networks;
    return -1;
}

void VELUN_DNSSD_API browse_reply(DNSServiceRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                                  DNSServiceErrorType errorCode, const char* serviceName, const char* regtype,
                                  const char*, void* context) {
    auto* t = static_cast<type_ref*>(context);
    db_browse* b = t->browse;
    if (errorCode != kDNSServiceErr_NoError) {
        b->pending = NET_ERR_DNSSD;
        return;
    }
    const int network = find_network(b, interfaceIndex);
    if (network < 0) return;
    int type = -1;
    for (int i = 0; i < DB_NUM_TYPES && regtype; ++i)
        if (kTypes[i].service_type && same_service_type(regtype, kTypes[i].service_type)) type = i;
    if (type < 0) return;
    const size_t length = serviceName ? strnlen(serviceName, DB_SERVICE_NAME_MAX + 1) : 0;
    if (length == 0 || length > kTypes[type].max_name) return;
    if (flags & kDNSServiceFlagsAdd) {
        queue_resolve(b, network, type, serviceName);
    } else {
        remove_from_node(b, network, type, serviceName);
        cancel_resolves(b, network, type, serviceName);
    }
}

void stop_types(db_browse* b) {
    const dnssd_api* api = dnssd_get_api();
    for (type_ref& t : b->types) {
        if (t.ref && api) api->DNSServiceRefDeallocate(t.ref);
        t.ref = nullptr;
        t.sock = plat::kInvalidSocket;
        t.unfiltered = false;
    }
}

uint32_t find_loopback_index() {
    std::vector<plat::IpAddrRow> rows;
    if (!plat::GetIpAddrTable(&rows)) return 0;
    for (const plat::IpAddrRow& row : rows)
        if ((plat::ntohl(row.address) >> 24) == 127) return row.index;
    return 0;
}

}  // namespace

// ---- the browse -------------------------------------------------------------------------------------
void db_manufacturer_text(const uint8_t identifier[8], char* text, size_t size) {
    if (!text || size == 0) return;
    text[0] = '\0';
    if (!identifier) return;
    size_t n = 8;
    while (n > 0 && identifier[n - 1] == 0) --n;
    if (n == 0) {
        util_copy(text, size, "_00");
        return;
    }
    bool plain = identifier[0] != '_';
    for (size_t i = 0; i < n && plain; ++i) {
        const char c = static_cast<char>(identifier[i]);
        plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    }
    char out[DB_MANUFACTURER_TEXT_MAX + 1] = {};
    if (plain) {
        std::memcpy(out, identifier, n);
    } else {
        out[0] = '_';
        for (size_t i = 0; i < n; ++i) std::snprintf(out + 1 + 2 * i, 3, "%02x", identifier[i]);
    }
    util_copy(text, size, out);
}

int db_browse_new(net_env* env, uint32_t type_mask, db_browse** browse) {
    if (!browse) return NET_ERR_ARGUMENT;
    *browse = nullptr;
    if (!env || (type_mask & ((1u << DB_NUM_TYPES) - 1)) == 0) return NET_ERR_ARGUMENT;
    auto* b = new (std::nothrow) db_browse;
    if (!b) return NET_ERR_MEMORY;
    b->env = env;
    b->mask = type_mask & ((1u << DB_NUM_TYPES) - 1);
    for (int i = 0; i < DB_NUM_TYPES; ++i) {
        b->types[i].browse = b;
        b->types[i].type = i;
        if (b->mask & (1u << i)) ++b->num_types;
    }
    b->loopback_index = find_loopback_index();
    b->nodes = new (std::nothrow) db_node*[kInitialNodes];
    if (!b->nodes) {
        delete b;
        return NET_ERR_MEMORY;
    }
    b->cap_nodes = kInitialNodes;
    db_browse_config_init(&b->config);
    *browse = b;
    return NET_OK;
}

int db_browse_set_max_sockets(db_browse* b, int count) {
    if (!b || count < b->num_types + 1) return NET_ERR_ARGUMENT;
    const int limit = count - b->num_types;
    if (b->started && limit != b->resolve_limit) return NET_ERR_STATE;
    b->resolve_limit = limit;
    return NET_OK;
}

int db_browse_set_manufacturer(db_browse* b, const uint8_t* identifier) {
    if (!b) return NET_ERR_ARGUMENT;
    if (identifier) db_manufacturer_text(identifier, b->manufacturer, sizeof b->manufacturer);
    return NET_OK;
}

int db_browse_set_node_changed_callback(db_browse* b, db_node_changed_fn handler) {
    if (!b) return NET_ERR_ARGUMENT;
    b->on_node_changed = handler;
    return NET_OK;
}
int db_browse_set_tree_changed_callback(db_browse* b, db_browse_fn handler) {
    if (!b) return NET_ERR_ARGUMENT;
    b->on_tree_changed = handler;
    return NET_OK;
}
int db_browse_set_sockets_changed_callback(db_browse* b, db_browse_fn handler) {
    if (!b) return NET_ERR_ARGUMENT;
    b->on_sockets_changed = handler;
    return NET_OK;
}
int db_browse_set_context(db_browse* b, void* context) {
    if (!b) return NET_ERR_ARGUMENT;
    b->context = context;
    return NET_OK;
}
void* db_browse_get_context(const db_browse* b) { return b ? b->context : nullptr; }
int db_browse_get_num_networks(const db_browse* b) { return b ? b->config.num_networks : 0; }
int db_browse_get_resolve_limit(const db_browse* b) { return b ? b->resolve_limit : 0; }
const char* db_browse_get_manufacturer(const db_browse* b) { return b ? b->manufacturer : nullptr; }
int db_browse_get_num_resolves(const db_browse* b, int* waiting) {
    if (!b) return 0;
    if (waiting) *waiting = b->waiting.count;
    return b->active.count;
}

void db_browse_config_init(db_browse_config* c) {
    if (!c) return;
    c->num_networks = 1;
    c->interface_indexes[0] = 0;
    c->interface_indexes[1] = 0;
    c->network_mask = 0xFFFFFFFFu;
    c->allow_loopback = true;
    c->resolve_timeout = {30, 0};
}

int db_browse_start_config(db_browse* b, const db_browse_config* config) {
    if (!b || !config) return NET_ERR_ARGUMENT;
    if (b->started) return NET_ERR_STATE;
    b->config = *config;
    if (b->config.num_networks < 1) b->config.num_networks = 1;
    if (b->config.num_networks > DB_MAX_NETWORKS) b->config.num_networks = DB_MAX_NETWORKS;
    const dnssd_api* api = dnssd_get_api();
    if (!api) return NET_ERR_DNSSD;
    for (int i = 0; i < DB_NUM_TYPES; ++i) {
        if (!(b->mask & (1u << i)) || !kTypes[i].service_type) continue;
        char service_type[kServiceTypeMax + 1];
        if (b->manufacturer[0]) {
            char full[64];
            std::snprintf(full, sizeof full, "%s,%s", kTypes[i].service_type, b->manufacturer);
            util_copy(service_type, sizeof service_type, full);
        } else {
            util_copy(service_type, sizeof service_type, kTypes[i].service_type);
        }
        DNSServiceRef ref = nullptr;
        DNSServiceErrorType e = api->DNSServiceBrowse(&ref, 0, 0, service_type, "local", browse_reply, &b->types[i]);
        if (e != kDNSServiceErr_NoError && b->manufacturer[0]) {
            // Some DNS-SD services (Avahi's) take only subtypes that begin with
            // an underscore. The type is browsed whole then, and the devices'
            // own "mf" values stand in for the subtype.
            net_log(b->env, NET_LOG_WARNING, "db_browse_start_config: %s refused (%d), browsing %s\n", service_type,
                    static_cast<int>(e), kTypes[i].service_type);
            e = api->DNSServiceBrowse(&ref, 0, 0, kTypes[i].service_type, "local", browse_reply, &b->types[i]);
            b->types[i].unfiltered = true;
        }
        if (e != kDNSServiceErr_NoError) {
            stop_types(b);
            return NET_ERR_DNSSD;
        }
        b->types[i].ref = ref;
        b->types[i].sock = api->DNSServiceRefSockFD(ref);
    }
    b->started = true;
    return NET_OK;
}

int db_browse_get_sockets(db_browse* b, net_socket_set* set) {
    if (!b || !set) return NET_ERR_ARGUMENT;
    if (!b->started) return NET_ERR_STATE;
    for (const type_ref& t : b->types)
        if (t.ref) net_socket_set_add_read(set, t.sock);
    for (const db_resolve* r = b->active.head; r; r = r->next) net_socket_set_add_read(set, r->sock);
    return NET_OK;
}

int db_browse_process(db_browse* b, net_socket_set* set, net_time* next_deadline) {
    if (!b || !set) return NET_ERR_ARGUMENT;
    if (!b->started) return NET_ERR_STATE;
    const dnssd_api* api = dnssd_get_api();
    if (!api) return NET_ERR_DNSSD;
    b->pass_time = net_time_now();
    b->pending = NET_OK;
    b->node_changed = false;
    b->sockets_changed = false;
    int result = NET_OK;

    // Answers to active resolves. A reply finishes its record; the reference
    // goes only once the library's processing has returned.
    for (db_resolve* r = b->active.head; r && result == NET_OK;) {
        db_resolve* next = r->next;
        if (net_socket_set_has_read(set, r->sock)) {
            net_socket_set_remove_read(set, r->sock);
            const DNSServiceErrorType e = api->DNSServiceProcessResult(r->ref);
            if (e != kDNSServiceErr_NoError) {
                result = NET_ERR_DNSSD;
                r->done = true;  // a reference that failed once would keep its socket readable
            } else if (b->pending != NET_OK) {
                result = b->pending;
            }
            if (r->done) finish_resolve(b, r);
        }
        r = next;
    }

    // Resolves that went unanswered: dropped, and their advertisement reconfirmed.
    if (result == NET_OK) {
        for (db_resolve* r = b->active.head; r;) {
            db_resolve* next = r->next;
            if (net_time_compare(r->deadline, b->pass_time) <= 0) {
                char full_name[kDNSServiceMaxDomainName] = {};
                api->DNSServiceConstructFullName(full_name, r->name, kTypes[r->type].service_type, "local");
                finish_resolve(b, r);
                api->DNSServiceReconfirmRecord(0, b->config.interface_indexes[0], full_name, kDNSServiceType_PTR,
                                               kDNSServiceClass_IN, 0, nullptr);
            }
            r = next;
        }
    }

    // Advertisements.
    for (type_ref& t : b->types) {
        if (result != NET_OK) break;
        if (!t.ref || !net_socket_set_has_read(set, t.sock)) continue;
        net_socket_set_remove_read(set, t.sock);
        if (api->DNSServiceProcessResult(t.ref) != kDNSServiceErr_NoError) result = NET_ERR_DNSSD;
        else if (b->pending != NET_OK) result = b->pending;
    }

    // Waiting resolves take the free places.
    while (b->active.count < b->resolve_limit && b->waiting.head) {
        db_resolve* r = b->waiting.pop();
        if (start_resolve(b, r) != NET_OK) {
            b->finished.push(r);
            break;
        }
    }

    free_list(b->finished);
    if (b->node_changed && b->on_tree_changed) b->on_tree_changed(b);
    if (b->sockets_changed && b->on_sockets_changed) b->on_sockets_changed(b);

    if (next_deadline) {
        net_time first{};
        for (const db_resolve* r = b->active.head; r; r = r->next)
            if (net_time_is_zero(first) || net_time_compare(r->deadline, first) < 0) first = r->deadline;
        *next_deadline = first;
    }
    return result;
}

void db_browse_delete(db_browse* b) {
    if (!b) return;
    stop_types(b);
    free_list(b->waiting);
    free_list(b->active);
    free_list(b->finished);
    for (size_t i = 0; i < b->num_nodes; ++i) delete b->nodes[i];
    delete[] b->nodes;
    delete b;
}

}  // namespace velun

#pragma once
// The browse: follows DNS-SD advertisements of chosen Velun service types,
// filtered by manufacturer, resolves each advertised service and keeps a tree
// of devices sorted by name without regard to letter case. It never blocks:
// the caller waits on the sockets it hands out and lets it process.
#include <cstddef>
#include <cstdint>

#include "velun/net.h"

namespace velun {

// Rows of the browse types table; a type mask selects rows by bit.
enum : int {
    DB_TYPE_MEDIA_DEVICE = 0,
    DB_TYPE_MEDIA_CHANNEL = 1,
    DB_TYPE_CONMON_DEVICE = 2,
    DB_TYPE_SAFE_MODE = 3,
    DB_TYPE_UPGRADE_MODE = 4,
    DB_TYPE_VIA_DEVICE = 5,
    DB_TYPE_AES67_DEVICE = 6,
    DB_NUM_TYPES = 7,
};
struct db_type_info {
    const char* name;
    const char* service_type;  // null: not found through DNS-SD
    unsigned max_name;         // longest service name
};
const db_type_info* db_type_get_info(int type);

inline constexpr int DB_MAX_NETWORKS = 2;
inline constexpr size_t DB_DEVICE_NAME_MAX = 31;
inline constexpr size_t DB_SERVICE_NAME_MAX = 63;
inline constexpr size_t DB_MANUFACTURER_TEXT_MAX = 17;  // "_" and 16 hex digits

struct db_browse_config {
    int num_networks;
    uint32_t interface_indexes[DB_MAX_NETWORKS];  // 0: fixed by the first advertisement
    uint32_t network_mask;                        // bit n enables network n
    bool allow_loopback;
    net_time resolve_timeout;
};

// A version as "%u.%u.%u" in a TXT record.
struct db_version {
    bool present = false;
    uint32_t major = 0, minor = 0, patch = 0;
};

struct db_node;
const char* db_node_get_name(const db_node* node);
const char* db_node_get_host(const db_node* node);
uint32_t db_node_get_types(const db_node* node, int network);  // the types' bits seen on a network
db_version db_node_get_arcp_version(const db_node* node);
db_version db_node_get_arcp_min_version(const db_node* node);
db_version db_node_get_router_version(const db_node* node);
const char* db_node_get_router_info(const db_node* node);
const char* db_node_get_manufacturer(const db_node* node);
const char* db_node_get_model(const db_node* node);
bool db_node_get_process(const db_node* node, uint32_t* process);
bool db_node_get_id(const db_node* node, uint8_t id[8]);
bool db_node_get_vendor_id(const db_node* node, uint8_t id[8]);
bool db_node_get_vba(const db_node* node, uint8_t vba[4]);

enum : int { DB_NODE_EVENT_CHANGED = 0, DB_NODE_EVENT_REMOVED = 1 };
struct db_node_event {
    int kind;
    const db_node* node;
};

struct db_browse;
using db_node_changed_fn = void (*)(db_browse* browse, const db_node_event* event, bool existed);
using db_browse_fn = void (*)(db_browse* browse);

int db_browse_new(net_env* env, uint32_t type_mask, db_browse** browse);
int db_browse_set_max_sockets(db_browse* browse, int count);
int db_browse_set_manufacturer(db_browse* browse, const uint8_t* identifier);  // 8 bytes, or null
int db_browse_set_node_changed_callback(db_browse* browse, db_node_changed_fn handler);
int db_browse_set_tree_changed_callback(db_browse* browse, db_browse_fn handler);
int db_browse_set_sockets_changed_callback(db_browse* browse, db_browse_fn handler);
int db_browse_set_context(db_browse* browse, void* context);
void* db_browse_get_context(const db_browse* browse);
int db_browse_get_num_networks(const db_browse* browse);
void db_browse_config_init(db_browse_config* config);
int db_browse_start_config(db_browse* browse, const db_browse_config* config);
int db_browse_get_sockets(db_browse* browse, net_socket_set* set);
int db_browse_process(db_browse* browse, net_socket_set* set, net_time* next_deadline);
void db_browse_delete(db_browse* browse);

// The device tree, in its order.
size_t db_browse_get_num_nodes(const db_browse* browse);
const db_node* db_browse_get_node(const db_browse* browse, size_t index);
// What the browse holds: the resolve limit, the manufacturer text, and how many resolves are active and waiting.
int db_browse_get_resolve_limit(const db_browse* browse);
const char* db_browse_get_manufacturer(const db_browse* browse);
int db_browse_get_num_resolves(const db_browse* browse, int* waiting);

// The text form of an 8-byte manufacturer identifier (see the browse's rules).
void db_manufacturer_text(const uint8_t identifier[8], char* text, size_t size);

}  // namespace velun

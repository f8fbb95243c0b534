#pragma once
// The devices registry: devices opened by name and the resolution of such a
// device to its IPv4 address (a DNS-SD resolve of its ARC service, then an
// address query of its host name). Driven like the browse: the caller waits
// on the registry's sockets and lets it process.
#include <cstdint>

#include "velun/net.h"

namespace velun {

enum : int {
    DR_DEVICE_STATE_ERROR = 0,
    DR_DEVICE_STATE_RESOLVING = 1,
    DR_DEVICE_STATE_RESOLVED = 2,
    DR_DEVICE_STATE_QUERYING = 3,
    DR_DEVICE_STATE_ACTIVE = 4,
};
const char* dr_device_state_to_string(int state);

// Address in network byte order, port in host order.
struct dr_address {
    uint32_t address = 0;
    uint16_t port = 0;
};

struct dr_devices;
struct dr_device;
using dr_devices_fn = void (*)(dr_devices* devices);
using dr_device_fn = void (*)(dr_device* device);

struct dr_device_config {
    const char* name = nullptr;
};

int dr_devices_new(net_env* env, dr_devices** devices);
int dr_devices_set_context(dr_devices* devices, void* context);
void* dr_devices_get_context(const dr_devices* devices);
int dr_devices_set_sockets_changed_callback(dr_devices* devices, dr_devices_fn handler);
int dr_devices_get_sockets(dr_devices* devices, net_socket_set* set);
int dr_devices_process(dr_devices* devices, net_socket_set* set);
int dr_devices_delete(dr_devices* devices);  // 5 while devices are open in it

int dr_device_open(dr_devices* devices, const char* name, dr_device** device);
int dr_device_open_with_config(dr_devices* devices, const dr_device_config* config, dr_device** device);
int dr_device_set_context(dr_device* device, void* context);
void* dr_device_get_context(const dr_device* device);
int dr_device_set_changed_callback(dr_device* device, dr_device_fn handler);
int dr_device_get_state(const dr_device* device);
const char* dr_device_get_name(const dr_device* device);
bool dr_device_is_safe_mode(const dr_device* device);
uint16_t dr_device_get_arcp_version(const dr_device* device);  // major << 12 | minor << 8 | patch
void dr_device_get_router_version(const dr_device* device, uint8_t* major, uint8_t* minor, uint16_t* patch);
// Writes an entry for each slot below *count (zeros for a slot without an
// IPv4 address), then sets *count to the number of slots.
int dr_device_get_addresses(const dr_device* device, unsigned* count, dr_address* addresses);
void dr_device_close(dr_device* device);

}  // namespace velun

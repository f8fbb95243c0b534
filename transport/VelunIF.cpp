#include "transport/VelunIF.h"

#include <cstdio>
#include <cstring>

#ifndef ORVEX_DNSSD_LIBRARY
#error "the build names the DNS-SD library (ORVEX_DNSSD_LIBRARY)"
#endif

namespace orvex {

using namespace velun;

namespace {

// The process-wide binding of the DNS-SD library.
struct Binding {
    const dnssd_api* installed = nullptr;
    const char* libraryName = ORVEX_DNSSD_LIBRARY;
    plat::LibraryHandle module = nullptr;
    dnssd_api bound{};
};
Binding& TheBinding() {
    static Binding binding;
    return binding;
}

// The Velun manufacturer identifier of the maker's devices.
constexpr uint8_t kManufacturer[8] = {'P', 'e', 'l', 'k', 0, 0, 0, 0};
constexpr uint32_t kBrowseTypes = (1u << DB_TYPE_MEDIA_DEVICE) | (1u << DB_TYPE_CONMON_DEVICE);
constexpr int kBrowseSockets = 18;

// Looks the functions up in the table's order; the first one missing is shown and ends the binding.
bool BindLibrary() {
    Binding& b = TheBinding();
    if (b.installed) {
        dnssd_set_api(b.installed);
        return true;
    }
    b.module = plat::LoadLibrary(b.libraryName);
    if (!b.module) return false;
    plat::ProcAddress slots[kDnsSdFunctionNames.size()] = {};
    for (size_t i = 0; i < kDnsSdFunctionNames.size(); ++i) {
        slots[i] = plat::GetProcAddress(b.module, kDnsSdFunctionNames[i]);
        if (!slots[i]) {
            plat::MessageBox("GetProcAddress failed", kDnsSdFunctionNames[i], plat::mb::Ok);
            plat::FreeLibrary(b.module);
            b.module = nullptr;
            return false;
        }
    }
    static_assert(sizeof(dnssd_api) == sizeof slots, "one pointer a function, in the names' order");
    std::memcpy(&b.bound, slots, sizeof slots);
    dnssd_set_api(&b.bound);
    return true;
}

void ReleaseLibrary() {
    Binding& b = TheBinding();
    dnssd_set_api(nullptr);
    if (b.module) plat::FreeLibrary(b.module);
    b.module = nullptr;
    b.bound = dnssd_api{};
}

uint32_t ElapsedMs(uint32_t since) { return plat::GetTickCount() - since; }

}  // namespace

void CVelunIF::SetDnsSdApi(const dnssd_api* api) { TheBinding().installed = api; }
void CVelunIF::SetLibraryName(const char* name) { TheBinding().libraryName = name ? name : ORVEX_DNSSD_LIBRARY; }
const char* CVelunIF::LibraryName() { return TheBinding().libraryName; }

CVelunIF::CVelunIF() {
    net_socket_set_clear(&m_BrowseSockets);
    net_socket_set_clear(&m_DeviceSockets);
}

CVelunIF::~CVelunIF() { Close(); }

// ---- discovery ------------------------------------------------------------------------

void CVelunIF::OnNodeChanged(db_browse* browse, const db_node_event* event, bool existed) {
    auto* self = static_cast<CVelunIF*>(db_browse_get_context(browse));
    if (!self || !event || event->kind != DB_NODE_EVENT_CHANGED || existed) return;
    // The tables hold 16 devices; any further one is not listed (nor resolved).
    if (self->m_wConnections >= kMaxConnections) return;
    const uint16_t at = self->m_wConnections;
    std::snprintf(self->m_szDeviceNames[at], kNameSize, "%s", db_node_get_name(event->node));
    const uint64_t start = plat::ClockMicros();
    const uint32_t address = self->ResolveDevice(self->m_szDeviceNames[at]);
    self->m_qwResolveMicros += plat::ClockMicros() - start;
    if (address == 0) {
        self->m_szDeviceNames[at][0] = '\0';
        return;
    }
    self->m_dwDeviceAddresses[at] = address;
    self->m_wConnections = static_cast<uint16_t>(at + 1);
}

void CVelunIF::OnTreeChanged(db_browse*) {}

void CVelunIF::OnBrowseSocketsChanged(db_browse* browse) {
    auto* self = static_cast<CVelunIF*>(db_browse_get_context(browse));
    if (!self) return;
    net_socket_set_clear(&self->m_BrowseSockets);
    db_browse_get_sockets(browse, &self->m_BrowseSockets);
}

void CVelunIF::OnDevicesSocketsChanged(dr_devices* devices) {
    auto* self = static_cast<CVelunIF*>(dr_devices_get_context(devices));
    if (!self) return;
    net_socket_set_clear(&self->m_DeviceSockets);
    dr_devices_get_sockets(devices, &self->m_DeviceSockets);
}

void CVelunIF::OnDeviceChanged(dr_device*) {}

uint32_t CVelunIF::ResolveDevice(const char* name) {
    dr_device* device = nullptr;
    if (!m_pDevices || dr_device_open(m_pDevices, name, &device) != NET_OK) return 0;
    m_pResolving = device;
    dr_device_set_context(device, this);
    dr_device_set_changed_callback(device, OnDeviceChanged);

    const uint32_t start = plat::GetTickCount();
    while (dr_device_get_state(device) != DR_DEVICE_STATE_RESOLVED) {
        const uint32_t elapsed = ElapsedMs(start);
        if (elapsed >= kResolveBoundMs) break;
        // Only the registry's own socket left: nothing can answer for this device any more.
        if (m_DeviceSockets.read.fd_count <= 1) break;
        net_socket_set ready = m_DeviceSockets;
        const uint32_t waitMs = kResolveBoundMs - elapsed < 1000 ? kResolveBoundMs - elapsed : 1000;
        const plat::TimeVal timeout{static_cast<long>(waitMs / 1000), static_cast<long>(waitMs % 1000 * 1000)};
        const int n = plat::select(&ready.read, nullptr, &timeout);
        if (n < 0) break;
        if (n == 0) continue;
        if (dr_devices_process(m_pDevices, &ready) != NET_OK) break;
    }

    uint32_t address = 0;
    if (dr_device_get_state(device) == DR_DEVICE_STATE_RESOLVED) {
        dr_address found[2];
        unsigned count = 2;
        dr_device_get_addresses(device, &count, found);
        if (count >= 1) address = found[0].address != 0 ? found[0].address : (count >= 2 ? found[1].address : 0);
    }
    dr_device_close(device);
    m_pResolving = nullptr;
    return address;
}

uint16_t CVelunIF::Fail() {
    Close();
    return kTransportFailed;
}

uint16_t CVelunIF::Open() {
    Close();
    m_wConnections = 0;
    m_wCurrentConnection = kTransportNoConnection;
    m_dwCurrentAddress = 0;
    for (auto& name : m_szDeviceNames) name[0] = '\0';
    for (auto& address : m_dwDeviceAddresses) address = 0;

    if (!BindLibrary()) return kTransportFailed;

    // A discovery that cannot be set up would only wait its second for nothing.
    if (net_env_setup(&m_pEnv) != NET_OK) return Fail();
    if (db_browse_new(m_pEnv, kBrowseTypes, &m_pBrowse) != NET_OK) return Fail();
    db_browse_set_max_sockets(m_pBrowse, kBrowseSockets);
    if (dr_devices_new(m_pEnv, &m_pDevices) != NET_OK) return Fail();
    dr_devices_set_context(m_pDevices, this);
    dr_devices_set_sockets_changed_callback(m_pDevices, OnDevicesSocketsChanged);
    net_socket_set_clear(&m_DeviceSockets);
    dr_devices_get_sockets(m_pDevices, &m_DeviceSockets);

    db_browse_set_manufacturer(m_pBrowse, kManufacturer);
    db_browse_set_node_changed_callback(m_pBrowse, OnNodeChanged);
    db_browse_set_tree_changed_callback(m_pBrowse, OnTreeChanged);
    db_browse_set_sockets_changed_callback(m_pBrowse, OnBrowseSocketsChanged);
    db_browse_set_context(m_pBrowse, this);
    db_browse_config config;
    db_browse_config_init(&config);
    if (db_browse_start_config(m_pBrowse, &config) != NET_OK) return Fail();
    net_socket_set_clear(&m_BrowseSockets);
    db_browse_get_sockets(m_pBrowse, &m_BrowseSockets);

    // One second of browsing. The clock is read between steps only; a device
    // resolved inside a step lengthens that step, and the time it took is
    // added to the window, so a device slow to resolve does not hide the
    // ones reported after it.
    const net_time start = net_time_now();
    m_qwResolveMicros = 0;
    while (net_time_compare(net_time_now(), net_time_add(start, int64_t{kBrowseMs} * 1000 +
                                                                     static_cast<int64_t>(m_qwResolveMicros))) < 0) {
        net_socket_set ready = m_BrowseSockets;
        const plat::TimeVal oneMs{0, 1000};
        if (plat::select(&ready.read, nullptr, &oneMs) > 0) {
            net_time next{};
            db_browse_process(m_pBrowse, &ready, &next);
        }
    }
    if (m_wConnections == 0) return Fail();

    m_hSendSocket = plat::socket(plat::kAfInet, plat::kSockDgram, plat::kIpprotoUdp);
    if (m_hSendSocket == plat::kInvalidSocket) return Fail();
    uint32_t nonBlocking = 1;
    if (plat::ioctlsocket(m_hSendSocket, plat::kFionbio, &nonBlocking) != 0) return Fail();
    m_hReceiveSocket = plat::socket(plat::kAfInet, plat::kSockDgram, plat::kIpprotoUdp);
    if (m_hReceiveSocket == plat::kInvalidSocket) return Fail();
    if (plat::bind(m_hReceiveSocket, plat::SockAddrIn{plat::htonl(plat::kInaddrAny), plat::htons(kAnswerPort)}) != 0)
        return Fail();
    return kTransportOk;
}

uint16_t CVelunIF::Close() {
    net_socket_set_clear(&m_BrowseSockets);
    net_socket_set_clear(&m_DeviceSockets);
    if (m_hSendSocket != plat::kInvalidSocket) plat::closesocket(m_hSendSocket);
    if (m_hReceiveSocket != plat::kInvalidSocket) plat::closesocket(m_hReceiveSocket);
    m_hSendSocket = m_hReceiveSocket = plat::kInvalidSocket;
    if (m_pResolving) dr_device_close(m_pResolving);
    m_pResolving = nullptr;
    if (m_pDevices) dr_devices_delete(m_pDevices);
    m_pDevices = nullptr;
    if (m_pBrowse) db_browse_delete(m_pBrowse);
    m_pBrowse = nullptr;
    if (m_pEnv) net_env_release(m_pEnv);
    m_pEnv = nullptr;
    ReleaseLibrary();
    return kTransportOk;
}

// ---- connections ---------------------------------------------------------------------------

void CVelunIF::SetPortNameFilter(const char*) {}

bool CVelunIF::IsOpen() { return m_hSendSocket != plat::kInvalidSocket && m_hReceiveSocket != plat::kInvalidSocket; }

uint16_t CVelunIF::GetNumConnections(uint16_t* count) {
    if (count) *count = m_wConnections;
    return kTransportOk;
}

uint16_t CVelunIF::SelectConnection(uint16_t number) {
    if (number >= m_wConnections) return kTransportFailed;
    m_wCurrentConnection = number;
    m_dwCurrentAddress = m_dwDeviceAddresses[number];
    return kTransportOk;
}

uint16_t CVelunIF::GetCurrentConnection(uint16_t* number) {
    if (!IsOpen()) return kTransportFailed;
    if (number) *number = m_wCurrentConnection;
    return kTransportOk;
}

uint16_t CVelunIF::GetConnectionDescription(uint16_t, char* text, uint32_t size) {
    if (text && size > 0) std::snprintf(text, size, "Velun (%s)", plat::inet_ntoa(m_dwCurrentAddress));
    return kTransportOk;
}

uint16_t CVelunIF::SetSlotTarget(bool on) {
    m_bSlotTarget = on;
    return kTransportOk;
}

const char* CVelunIF::DeviceName(uint16_t number) const {
    return number < kMaxConnections ? m_szDeviceNames[number] : "";
}
uint32_t CVelunIF::DeviceAddress(uint16_t number) const {
    return number < kMaxConnections ? m_dwDeviceAddresses[number] : 0;
}

// ---- bytes -----------------------------------------------------------------------------------

uint16_t CVelunIF::Write(const uint8_t* bytes, int32_t length) {
    if (m_hSendSocket == plat::kInvalidSocket) return kTransportFailed;
    if (length <= 0) return kTransportOk;
    // Nothing selected: 0.0.0.0 would reach this very computer.
    if (!bytes || m_dwCurrentAddress == 0) return kTransportFailed;
    const plat::SockAddrIn to{m_dwCurrentAddress, plat::htons(m_bSlotTarget ? kCardPort : kConverterPort)};
    return plat::sendto(m_hSendSocket, bytes, length, 0, to) == length ? kTransportOk : kTransportFailed;
}

uint16_t CVelunIF::Read(uint8_t* buffer, int32_t size, int32_t* received) {
    if (received) *received = 0;
    if (buffer && size > 0) std::memset(buffer, 0, static_cast<size_t>(size));
    if (m_hReceiveSocket == plat::kInvalidSocket) return kTransportFailed;
    plat::FdSet one;
    one.fd_count = 1;
    one.fd_array[0] = m_hReceiveSocket;
    const plat::TimeVal oneMs{0, 1000};
    if (plat::select(&one, nullptr, &oneMs) <= 0) return kTransportOk;
    const int n = plat::recv(m_hReceiveSocket, buffer, size > 0 ? size : 0, 0);
    // An error, an empty datagram or one longer than the buffer: the transport closes itself.
    if (n == plat::kSocketError || n == 0) {
        Close();
        return kTransportFailed;
    }
    if (received) *received = n;
    return kTransportOk;
}

}  // namespace orvex

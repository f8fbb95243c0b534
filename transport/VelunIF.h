#pragma once
// The network transport: remote-control messages in UDP datagrams to and
// from a VA-VOVUZ card. Open finds the maker's Velun devices with the
// discovery component (a one-second browse, each new device resolved to its
// IPv4 address as it is reported) and offers each as a connection. Write
// sends one block as one datagram to the selected device, to port 5645 (the
// converter behind the card) or, with the slot target on, 5647 (the card
// itself); Read hands over one datagram that reached port 5646, from any
// sender. The bytes are not looked into.
//
// The DNS-SD library is bound by name at Open and released at Close; tests
// and the simulation install a table instead.
#include <cstdint>

#include "platform/Platform.h"
#include "transport/OrvexInterface.h"
#include "velun/browse.h"
#include "velun/devices.h"
#include "velun/dnssd.h"
#include "velun/net.h"

namespace orvex {

class CVelunIF : public COrvexInterface {
public:
    static constexpr uint16_t kMaxConnections = 16;
    static constexpr uint16_t kConverterPort = 5645;
    static constexpr uint16_t kAnswerPort = 5646;
    static constexpr uint16_t kCardPort = 5647;
    static constexpr uint32_t kBrowseMs = 1000;
    // A device that has not resolved by then is not listed; nor is one whose
    // resolution failed (it is dropped as soon as nothing is left to wait on).
    static constexpr uint32_t kResolveBoundMs = 2000;
    static constexpr uint32_t kNameSize = 255;

    // The table the next Open uses instead of loading the library; null: load it.
    static void SetDnsSdApi(const velun::dnssd_api* api);
    // The library Open loads; null restores the system's ("velun_dnssd.dll" on
    // Windows, the DNS-SD compatibility library elsewhere).
    static void SetLibraryName(const char* name);
    static const char* LibraryName();

    CVelunIF();
    ~CVelunIF() override;
    CVelunIF(const CVelunIF&) = delete;
    CVelunIF& operator=(const CVelunIF&) = delete;

    uint16_t Open() override;
    uint16_t Close() override;
    void SetPortNameFilter(const char* text) override;
    bool IsOpen() override;
    uint16_t GetNumConnections(uint16_t* count) override;
    uint16_t SelectConnection(uint16_t number) override;
    uint16_t GetCurrentConnection(uint16_t* number) override;
    uint16_t GetConnectionDescription(uint16_t number, char* text, uint32_t size) override;
    uint16_t SetSlotTarget(bool on) override;
    uint16_t Write(const uint8_t* bytes, int32_t length) override;
    uint16_t Read(uint8_t* buffer, int32_t size, int32_t* received) override;

    // For tests: the name and address (network order) of a connection.
    const char* DeviceName(uint16_t number) const;
    uint32_t DeviceAddress(uint16_t number) const;

private:
    static void OnNodeChanged(velun::db_browse* browse, const velun::db_node_event* event, bool existed);
    static void OnTreeChanged(velun::db_browse* browse);
    static void OnBrowseSocketsChanged(velun::db_browse* browse);
    static void OnDevicesSocketsChanged(velun::dr_devices* devices);
    static void OnDeviceChanged(velun::dr_device* device);
    // The device's IPv4 address, or 0 when it did not resolve within the bound.
    uint32_t ResolveDevice(const char* name);
    uint16_t Fail();

    // Fields in the order the transport keeps them.
    velun::net_env* m_pEnv = nullptr;
    velun::db_browse* m_pBrowse = nullptr;
    velun::net_socket_set m_BrowseSockets;
    velun::dr_devices* m_pDevices = nullptr;
    velun::dr_device* m_pResolving = nullptr;
    velun::net_socket_set m_DeviceSockets;
    uint16_t m_wConnections = 0;
    uint16_t m_wCurrentConnection = kTransportNoConnection;
    char m_szDeviceNames[kMaxConnections][kNameSize] = {};
    uint32_t m_dwDeviceAddresses[kMaxConnections] = {};
    uint32_t m_dwCurrentAddress = 0;
    plat::Socket m_hReceiveSocket = plat::kInvalidSocket;
    plat::Socket m_hSendSocket = plat::kInvalidSocket;
    bool m_bSlotTarget = false;
    // Time spent resolving devices during the browse; it does not count as browsing.
    uint64_t m_qwResolveMicros = 0;
};

}  // namespace orvex

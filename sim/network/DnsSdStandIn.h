#pragma once
// A stand-in for the DNS-SD client library: it advertises emulated Velun
// devices under their service types and the maker's subtype, resolves them
// and answers address queries, with faults on demand.
//
// Every reference owns a real UDP socket on loopback. A call that asks
// something (browse, resolve, query) sends the answers to that socket at
// once, one datagram each, so the socket's readiness is what tells the
// caller to call DNSServiceProcessResult, which takes one datagram and calls
// the reply function with it. Nothing runs in the background; a question
// the stand-in does not answer (a device that never resolves) simply leaves
// its socket silent.
//
// Served three ways from the same code: in-process through Api() (tests and
// the simulation mode), as the Windows DLL "velun_dnssd.dll" and as a native
// shared object with the library's exported names (see StandInExports.cpp).
// A module keeps its own set of advertised services; a program that loads the
// module sets them through the module's extra exports (below).
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "velun/dnssd.h"

namespace sim::dnssd {

// The interface the emulated studio network is reported on. No real adapter
// has this index here; the stand-in never touches real interfaces.
inline constexpr uint32_t kStudioInterface = 7000;

// Service types by the browse table's bits.
inline constexpr uint32_t kArcType = 1u << 0;   // "_velun-arc._udp."
inline constexpr uint32_t kCmcType = 1u << 2;   // "_velun-cmc._udp."

enum Fault : uint32_t {
    kNeverResolves = 1u << 0,      // resolves of it get no answer at all
    kResolveError = 1u << 1,       // resolves get an error reply
    kBrowseError = 1u << 2,        // its advertisement comes as an error reply
    kNoAddress = 1u << 3,          // the address query gets no answer
    kBadAddressLength = 1u << 4,   // the address query answers 6 bytes
    kQueryError = 1u << 5,         // the address query gets an error reply
    kResolveRefused = 1u << 6,     // DNSServiceResolve of it answers an error at once
};

// One advertised device. A plain record: it also crosses the module boundary.
struct Service {
    char name[64] = {};         // the service (device) name
    char host[64] = {};         // its host, without the domain
    uint32_t address = 0;       // network order: the answer to the address query
    uint16_t port = 0;          // host order
    uint32_t types = kArcType;
    char subtype[32] = "Pelk";  // advertised under this subtype as well; empty: none
    uint32_t interfaceIndex = kStudioInterface;
    uint32_t faults = 0;
    uint16_t arcTxtLength = 0;
    uint8_t arcTxt[512] = {};
    uint16_t cmcTxtLength = 0;
    uint8_t cmcTxt[256] = {};
};

// A TXT record from "key=value" strings; false when it does not fit.
bool BuildTxt(std::initializer_list<std::string> entries, uint8_t* out, size_t size, uint16_t* length);
// A device as the network card advertises itself: ARC service with
// "arcp_vers=1.2.3" and "router_vers=2.0.1", under the subtype Pelk.
Service MakeService(const std::string& name, const std::string& host, uint32_t address, uint16_t port);

struct Stats {
    int liveRefs = 0;
    int peakResolves = 0;        // resolves alive at the same time, at most
    int liveResolves = 0;
    int browses = 0;
    char lastBrowseTypes[2][64] = {};  // the service types of the last two browses asked for
    int reconfirms = 0;
    char lastReconfirmName[1009] = {};
    uint32_t lastReconfirmInterface = 0;
    uint16_t lastReconfirmType = 0, lastReconfirmClass = 0;
    int queries = 0;
};

// ---- the in-process stand-in -------------------------------------------------------
const velun::dnssd_api& Api();
void Reset();                                 // no services, no faults, zero stats (live references stay)
bool Advertise(const Service& service);       // false when the table (64 services) is full
void RefuseBrowse(uint32_t types);            // DNSServiceBrowse of these types (kArcType...) answers an error
// Answers as Avahi's compatibility library does: a subtype must begin with an
// underscore, an address query takes no flags, and DNSServiceReconfirmRecord
// (like DNSServiceCreateConnection always) is unsupported.
void SetAvahiLike(bool on);
const Stats& GetStats();

// ---- what a loaded module exports besides the library's functions ----------------------
// Looked up by name with GetProcAddress; same calling convention as the library.
inline constexpr const char* kResetExport = "VelunStandInReset";
inline constexpr const char* kAdvertiseExport = "VelunStandInAdvertise";
inline constexpr const char* kLiveRefsExport = "VelunStandInLiveRefs";
using ResetFn = void(VELUN_DNSSD_API*)();
using AdvertiseFn = int(VELUN_DNSSD_API*)(const Service* service);
using LiveRefsFn = int(VELUN_DNSSD_API*)();

}  // namespace sim::dnssd

#pragma once
// The DNS-SD client functions the discovery component calls, as a table of
// function pointers with the published names and signatures. The network
// transport fills it from the DNS-SD library it loads by name; tests and the
// simulation fill it from the stand-in in sim/network. Every DNS-SD call of
// the component goes through the table installed last.
#include <array>
#include <cstdint>

#include "platform/Platform.h"

// The library's functions and reply functions use the stdcall convention on
// 32-bit x86 Windows; the pointers must carry it.
#if defined(__i386__)
#define VELUN_DNSSD_API __attribute__((stdcall))
#else
#define VELUN_DNSSD_API
#endif

namespace velun {

// Opaque to everyone but the library.
struct DNSServiceOpaque;
using DNSServiceRef = DNSServiceOpaque*;
using DNSServiceFlags = uint32_t;
using DNSServiceErrorType = int32_t;
using dnssd_sock_t = plat::Socket;

inline constexpr DNSServiceErrorType kDNSServiceErr_NoError = 0;
inline constexpr DNSServiceErrorType kDNSServiceErr_Unknown = -65537;
inline constexpr DNSServiceErrorType kDNSServiceErr_NoSuchName = -65538;
inline constexpr DNSServiceErrorType kDNSServiceErr_NoMemory = -65539;
inline constexpr DNSServiceErrorType kDNSServiceErr_BadParam = -65540;
inline constexpr DNSServiceErrorType kDNSServiceErr_BadReference = -65541;
inline constexpr DNSServiceErrorType kDNSServiceErr_BadState = -65542;
inline constexpr DNSServiceErrorType kDNSServiceErr_BadFlags = -65543;
inline constexpr DNSServiceErrorType kDNSServiceErr_Unsupported = -65544;
inline constexpr DNSServiceErrorType kDNSServiceErr_ServiceNotRunning = -65563;

inline constexpr DNSServiceFlags kDNSServiceFlagsMoreComing = 0x1;
inline constexpr DNSServiceFlags kDNSServiceFlagsAdd = 0x2;
// What the address query asks for (long-lived, forced multicast).
inline constexpr DNSServiceFlags kVelunQueryFlags = 0x500;

inline constexpr uint32_t kDNSServiceInterfaceIndexAny = 0;
inline constexpr uint16_t kDNSServiceType_A = 1;
inline constexpr uint16_t kDNSServiceType_PTR = 12;
inline constexpr uint16_t kDNSServiceClass_IN = 1;
inline constexpr uint32_t kDNSServiceMaxDomainName = 1009;

using DNSServiceBrowseReply = void(VELUN_DNSSD_API*)(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                                                     DNSServiceErrorType errorCode, const char* serviceName,
                                                     const char* regtype, const char* replyDomain, void* context);
using DNSServiceResolveReply = void(VELUN_DNSSD_API*)(DNSServiceRef sdRef, DNSServiceFlags flags,
                                                      uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                                      const char* fullname, const char* hosttarget, uint16_t port,
                                                      uint16_t txtLen, const unsigned char* txtRecord, void* context);
using DNSServiceQueryRecordReply = void(VELUN_DNSSD_API*)(DNSServiceRef sdRef, DNSServiceFlags flags,
                                                          uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                                          const char* fullname, uint16_t rrtype, uint16_t rrclass,
                                                          uint16_t rdlen, const void* rdata, uint32_t ttl,
                                                          void* context);

// In the order the transport looks the functions up.
struct dnssd_api {
    DNSServiceErrorType(VELUN_DNSSD_API* DNSServiceBrowse)(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                           uint32_t interfaceIndex, const char* regtype,
                                                           const char* domain, DNSServiceBrowseReply callBack,
                                                           void* context);
    DNSServiceErrorType(VELUN_DNSSD_API* DNSServiceConstructFullName)(char* fullName, const char* service,
                                                                      const char* regtype, const char* domain);
    DNSServiceErrorType(VELUN_DNSSD_API* DNSServiceCreateConnection)(DNSServiceRef* sdRef);
    DNSServiceErrorType(VELUN_DNSSD_API* DNSServiceProcessResult)(DNSServiceRef sdRef);
    DNSServiceErrorType(VELUN_DNSSD_API* DNSServiceQueryRecord)(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                                uint32_t interfaceIndex, const char* fullname,
                                                                uint16_t rrtype, uint16_t rrclass,
                                                                DNSServiceQueryRecordReply callBack, void* context);
    DNSServiceErrorType(VELUN_DNSSD_API* DNSServiceReconfirmRecord)(DNSServiceFlags flags, uint32_t interfaceIndex,
                                                                    const char* fullname, uint16_t rrtype,
                                                                    uint16_t rrclass, uint16_t rdlen,
                                                                    const void* rdata);
    void(VELUN_DNSSD_API* DNSServiceRefDeallocate)(DNSServiceRef sdRef);
    dnssd_sock_t(VELUN_DNSSD_API* DNSServiceRefSockFD)(DNSServiceRef sdRef);
    DNSServiceErrorType(VELUN_DNSSD_API* DNSServiceResolve)(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                            uint32_t interfaceIndex, const char* name,
                                                            const char* regtype, const char* domain,
                                                            DNSServiceResolveReply callBack, void* context);
    int(VELUN_DNSSD_API* TXTRecordContainsKey)(uint16_t txtLen, const void* txtRecord, const char* key);
    const void*(VELUN_DNSSD_API* TXTRecordGetValuePtr)(uint16_t txtLen, const void* txtRecord, const char* key,
                                                       uint8_t* valueLen);
};

inline constexpr std::array<const char*, 11> kDnsSdFunctionNames = {
    "DNSServiceBrowse",          "DNSServiceConstructFullName", "DNSServiceCreateConnection",
    "DNSServiceProcessResult",   "DNSServiceQueryRecord",       "DNSServiceReconfirmRecord",
    "DNSServiceRefDeallocate",   "DNSServiceRefSockFD",         "DNSServiceResolve",
    "TXTRecordContainsKey",      "TXTRecordGetValuePtr",
};

// The process-wide table; null until one is installed (every call then fails as DNS-SD would).
void dnssd_set_api(const dnssd_api* api);
const dnssd_api* dnssd_get_api();

}  // namespace velun

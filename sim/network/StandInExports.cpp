// The stand-in as a loadable library: the DNS-SD client functions under their
// exported names, and the module's own set-up calls. Built as the Windows DLL
// "velun_dnssd.dll" and as a native shared object; a variant built with
// VELUN_STANDIN_INCOMPLETE lacks two of the functions, for the binding's
// missing-export path.
#include "sim/network/DnsSdStandIn.h"

using namespace velun;

namespace {
const dnssd_api& A() { return sim::dnssd::Api(); }
}  // namespace

extern "C" {

DNSServiceErrorType VELUN_DNSSD_API DNSServiceBrowse(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                     uint32_t interfaceIndex, const char* regtype, const char* domain,
                                                     DNSServiceBrowseReply callBack, void* context) {
    return A().DNSServiceBrowse(sdRef, flags, interfaceIndex, regtype, domain, callBack, context);
}

DNSServiceErrorType VELUN_DNSSD_API DNSServiceConstructFullName(char* fullName, const char* service,
                                                                const char* regtype, const char* domain) {
    return A().DNSServiceConstructFullName(fullName, service, regtype, domain);
}

DNSServiceErrorType VELUN_DNSSD_API DNSServiceCreateConnection(DNSServiceRef* sdRef) {
    return A().DNSServiceCreateConnection(sdRef);
}

DNSServiceErrorType VELUN_DNSSD_API DNSServiceProcessResult(DNSServiceRef sdRef) {
    return A().DNSServiceProcessResult(sdRef);
}

#ifndef VELUN_STANDIN_INCOMPLETE
DNSServiceErrorType VELUN_DNSSD_API DNSServiceQueryRecord(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                          uint32_t interfaceIndex, const char* fullname,
                                                          uint16_t rrtype, uint16_t rrclass,
                                                          DNSServiceQueryRecordReply callBack, void* context) {
    return A().DNSServiceQueryRecord(sdRef, flags, interfaceIndex, fullname, rrtype, rrclass, callBack, context);
}
#endif

DNSServiceErrorType VELUN_DNSSD_API DNSServiceReconfirmRecord(DNSServiceFlags flags, uint32_t interfaceIndex,
                                                              const char* fullname, uint16_t rrtype, uint16_t rrclass,
                                                              uint16_t rdlen, const void* rdata) {
    return A().DNSServiceReconfirmRecord(flags, interfaceIndex, fullname, rrtype, rrclass, rdlen, rdata);
}

void VELUN_DNSSD_API DNSServiceRefDeallocate(DNSServiceRef sdRef) { A().DNSServiceRefDeallocate(sdRef); }

dnssd_sock_t VELUN_DNSSD_API DNSServiceRefSockFD(DNSServiceRef sdRef) { return A().DNSServiceRefSockFD(sdRef); }

DNSServiceErrorType VELUN_DNSSD_API DNSServiceResolve(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                      uint32_t interfaceIndex, const char* name, const char* regtype,
                                                      const char* domain, DNSServiceResolveReply callBack,
                                                      void* context) {
    return A().DNSServiceResolve(sdRef, flags, interfaceIndex, name, regtype, domain, callBack, context);
}

#ifndef VELUN_STANDIN_INCOMPLETE
int VELUN_DNSSD_API TXTRecordContainsKey(uint16_t txtLen, const void* txtRecord, const char* key) {
    return A().TXTRecordContainsKey(txtLen, txtRecord, key);
}
#endif

const void* VELUN_DNSSD_API TXTRecordGetValuePtr(uint16_t txtLen, const void* txtRecord, const char* key,
                                                 uint8_t* valueLen) {
    return A().TXTRecordGetValuePtr(txtLen, txtRecord, key, valueLen);
}

void VELUN_DNSSD_API VelunStandInReset() { sim::dnssd::Reset(); }
int VELUN_DNSSD_API VelunStandInAdvertise(const sim::dnssd::Service* service) {
    return service && sim::dnssd::Advertise(*service) ? 1 : 0;
}
int VELUN_DNSSD_API VelunStandInLiveRefs() { return sim::dnssd::GetStats().liveRefs; }

}  // extern "C"

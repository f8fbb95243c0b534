#include "sim/network/DnsSdStandIn.h"

#include <algorithm>
#include <cstdio>
#include <array>
#include <cstring>
#include <vector>

#include "platform/Platform.h"

namespace sim::dnssd {

using namespace velun;

namespace {

constexpr size_t kMaxServices = 64;
constexpr int kMaxDatagram = 2048;
constexpr uint32_t kTtl = 120;

enum class Kind : uint8_t { Browse = 1, Resolve = 2, Query = 3 };

struct Ref {
    Kind kind;
    plat::Socket sock = plat::kInvalidSocket;
    plat::SockAddrIn self;
    void* callback = nullptr;
    void* context = nullptr;
};

struct World {
    std::array<Service, kMaxServices> services;
    size_t count = 0;
    uint32_t refusedBrowses = 0;
    bool avahiLike = false;
    Stats stats;
};
World& TheWorld() {
    static World world;
    return world;
}

DNSServiceRef AsRef(Ref* r) { return reinterpret_cast<DNSServiceRef>(r); }
Ref* FromRef(DNSServiceRef r) { return reinterpret_cast<Ref*>(r); }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool SameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}
std::string WithoutFinalDot(std::string s) {
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
}

// "_velun-arc._udp" and its table bit; 0 for a type the studio does not offer.
uint32_t TypeBit(const std::string& type) {
    const std::string t = WithoutFinalDot(type);
    if (SameNoCase(t, "_velun-arc._udp")) return kArcType;
    if (SameNoCase(t, "_velun-cmc._udp")) return kCmcType;
    return 0;
}
const char* TypeName(uint32_t bit) { return bit == kArcType ? "_velun-arc._udp." : "_velun-cmc._udp."; }

// ---- the datagrams a reference's socket carries -------------------------------------
struct Writer {
    std::vector<uint8_t> bytes;
    void u8(uint8_t v) { bytes.push_back(v); }
    void u16(uint16_t v) {
        u8(static_cast<uint8_t>(v));
        u8(static_cast<uint8_t>(v >> 8));
    }
    void u32(uint32_t v) {
        u16(static_cast<uint16_t>(v));
        u16(static_cast<uint16_t>(v >> 16));
    }
    void data(const void* p, size_t n) {
        u16(static_cast<uint16_t>(n));
        const auto* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
    void text(const std::string& s) { data(s.data(), s.size()); }
};

struct Reader {
    const uint8_t* p;
    size_t n;
    bool ok = true;
    bool need(size_t k) {
        if (n < k) ok = false;
        return ok;
    }
    uint8_t u8() {
        if (!need(1)) return 0;
        --n;
        return *p++;
    }
    uint16_t u16() {
        const uint16_t lo = u8();
        return static_cast<uint16_t>(lo | u8() << 8);
    }
    uint32_t u32() {
        const uint32_t lo = u16();
        return lo | uint32_t{u16()} << 16;
    }
    std::vector<uint8_t> data() {
        const uint16_t k = u16();
        if (!need(k)) return {};
        std::vector<uint8_t> v(p, p + k);
        p += k;
        n -= k;
        return v;
    }
    std::string text() {
        const std::vector<uint8_t> v = data();
        return std::string(v.begin(), v.end());
    }
};

void Post(Ref* r, const Writer& w) {
    plat::sendto(r->sock, w.bytes.data(), static_cast<int>(w.bytes.size()), 0, r->self);
}

Ref* NewRef(Kind kind, void* callback, void* context) {
    plat::Socket s = plat::socket(plat::kAfInet, plat::kSockDgram, plat::kIpprotoUdp);
    if (s == plat::kInvalidSocket) return nullptr;
    uint32_t nonBlocking = 1;
    plat::SockAddrIn self{plat::htonl(0x7F000001), 0};
    if (plat::ioctlsocket(s, plat::kFionbio, &nonBlocking) != 0 || plat::bind(s, self) != 0 ||
        plat::getsockname(s, &self) != 0) {
        plat::closesocket(s);
        return nullptr;
    }
    Ref* r = new Ref{kind, s, self, callback, context};
    Stats& st = TheWorld().stats;
    ++st.liveRefs;
    if (kind == Kind::Resolve) st.peakResolves = std::max(st.peakResolves, ++st.liveResolves);
    return r;
}

std::string FullName(const std::string& service, const std::string& regtype, const std::string& domain) {
    std::string out;
    for (unsigned char c : service) {
        if (c == '.' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c > 0x7E) {
            char esc[5];
            esc[0] = '\\';
            esc[1] = static_cast<char>('0' + c / 100);
            esc[2] = static_cast<char>('0' + c / 10 % 10);
            esc[3] = static_cast<char>('0' + c % 10);
            esc[4] = '\0';
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '.';
    out += WithoutFinalDot(regtype) + ".";
    out += WithoutFinalDot(domain) + ".";
    return out;
}

const Service* FindByName(const std::string& name, uint32_t typeBit) {
    World& w = TheWorld();
    for (size_t i = 0; i < w.count; ++i)
        if ((w.services[i].types & typeBit) && SameNoCase(w.services[i].name, name)) return &w.services[i];
    return nullptr;
}

const Service* FindByHost(const std::string& fullname) {
    std::string host = WithoutFinalDot(fullname);
    const std::string local = ".local";
    if (host.size() > local.size() && SameNoCase(host.substr(host.size() - local.size()), local))
        host.resize(host.size() - local.size());
    World& w = TheWorld();
    for (size_t i = 0; i < w.count; ++i)
        if (SameNoCase(w.services[i].host, host)) return &w.services[i];
    return nullptr;
}

// ---- the library's functions ---------------------------------------------------------------------
DNSServiceErrorType VELUN_DNSSD_API Browse(DNSServiceRef* sdRef, DNSServiceFlags, uint32_t interfaceIndex,
                                           const char* regtype, const char*, DNSServiceBrowseReply callBack,
                                           void* context) {
    if (!sdRef || !regtype || !callBack) return kDNSServiceErr_BadParam;
    World& w = TheWorld();
    Stats& st = w.stats;
    std::memcpy(st.lastBrowseTypes[0], st.lastBrowseTypes[1], sizeof st.lastBrowseTypes[0]);
    std::snprintf(st.lastBrowseTypes[1], sizeof st.lastBrowseTypes[1], "%s", regtype);
    ++st.browses;
    const std::string asked = regtype;
    const size_t comma = asked.find(',');
    const std::string base = asked.substr(0, comma);
    const std::string subtype = comma == std::string::npos ? std::string() : asked.substr(comma + 1);
    const uint32_t bit = TypeBit(base);
    if (bit & w.refusedBrowses) return kDNSServiceErr_ServiceNotRunning;
    if (w.avahiLike && !subtype.empty() && subtype[0] != '_') return kDNSServiceErr_Unsupported;
    if (bit == 0 && WithoutFinalDot(base).find("._") == std::string::npos) return kDNSServiceErr_BadParam;
    Ref* r = NewRef(Kind::Browse, reinterpret_cast<void*>(callBack), context);
    if (!r) return kDNSServiceErr_NoMemory;
    for (size_t i = 0; i < w.count; ++i) {
        const Service& s = w.services[i];
        if (!(s.types & bit)) continue;
        if (!subtype.empty() && !SameNoCase(s.subtype, subtype)) continue;
        if (interfaceIndex != 0 && interfaceIndex != s.interfaceIndex) continue;
        Writer m;
        m.u8(static_cast<uint8_t>(Kind::Browse));
        m.u32(kDNSServiceFlagsAdd);
        m.u32(s.interfaceIndex);
        m.u32(static_cast<uint32_t>((s.faults & kBrowseError) ? kDNSServiceErr_Unknown : kDNSServiceErr_NoError));
        m.text(s.name);
        m.text(TypeName(bit));
        m.text("local.");
        Post(r, m);
    }
    *sdRef = AsRef(r);
    return kDNSServiceErr_NoError;
}

DNSServiceErrorType VELUN_DNSSD_API Resolve(DNSServiceRef* sdRef, DNSServiceFlags, uint32_t interfaceIndex,
                                            const char* name, const char* regtype, const char* domain,
                                            DNSServiceResolveReply callBack, void* context) {
    if (!sdRef || !name || !regtype || !callBack) return kDNSServiceErr_BadParam;
    const uint32_t bit = TypeBit(regtype);
    const Service* s = bit ? FindByName(name, bit) : nullptr;
    if (s && (s->faults & kResolveRefused)) return kDNSServiceErr_Unknown;
    Ref* r = NewRef(Kind::Resolve, reinterpret_cast<void*>(callBack), context);
    if (!r) return kDNSServiceErr_NoMemory;
    if (s && (interfaceIndex == 0 || interfaceIndex == s->interfaceIndex) && !(s->faults & kNeverResolves)) {
        Writer m;
        m.u8(static_cast<uint8_t>(Kind::Resolve));
        m.u32(0);
        m.u32(s->interfaceIndex);
        m.u32(static_cast<uint32_t>((s->faults & kResolveError) ? kDNSServiceErr_Unknown : kDNSServiceErr_NoError));
        m.text(FullName(s->name, regtype, domain ? domain : "local"));
        m.text(std::string(s->host) + ".local.");
        m.u16(plat::htons(s->port));
        if (bit == kArcType) m.data(s->arcTxt, std::min<size_t>(s->arcTxtLength, sizeof s->arcTxt));
        else m.data(s->cmcTxt, std::min<size_t>(s->cmcTxtLength, sizeof s->cmcTxt));
        Post(r, m);
    }
    *sdRef = AsRef(r);
    return kDNSServiceErr_NoError;
}

DNSServiceErrorType VELUN_DNSSD_API QueryRecord(DNSServiceRef* sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                                                const char* fullname, uint16_t rrtype, uint16_t rrclass,
                                                DNSServiceQueryRecordReply callBack, void* context) {
    if (!sdRef || !fullname || !callBack) return kDNSServiceErr_BadParam;
    if (TheWorld().avahiLike && flags != 0) return kDNSServiceErr_Unsupported;
    Ref* r = NewRef(Kind::Query, reinterpret_cast<void*>(callBack), context);
    if (!r) return kDNSServiceErr_NoMemory;
    ++TheWorld().stats.queries;
    const Service* s = FindByHost(fullname);
    if (s && rrtype == kDNSServiceType_A && rrclass == kDNSServiceClass_IN &&
        (interfaceIndex == 0 || interfaceIndex == s->interfaceIndex) && !(s->faults & kNoAddress)) {
        Writer m;
        m.u8(static_cast<uint8_t>(Kind::Query));
        m.u32(kDNSServiceFlagsAdd);
        m.u32(s->interfaceIndex);
        m.u32(static_cast<uint32_t>((s->faults & kQueryError) ? kDNSServiceErr_Unknown : kDNSServiceErr_NoError));
        m.text(fullname);
        m.u16(rrtype);
        m.u16(rrclass);
        uint8_t rdata[6] = {};
        std::memcpy(rdata, &s->address, 4);
        m.data(rdata, (s->faults & kBadAddressLength) ? 6 : 4);
        m.u32(kTtl);
        Post(r, m);
    }
    *sdRef = AsRef(r);
    return kDNSServiceErr_NoError;
}

DNSServiceErrorType VELUN_DNSSD_API ProcessResult(DNSServiceRef sdRef) {
    Ref* r = FromRef(sdRef);
    if (!r) return kDNSServiceErr_BadReference;
    uint8_t buffer[kMaxDatagram];
    const int n = plat::recvfrom(r->sock, buffer, sizeof buffer, 0, nullptr);
    if (n == plat::kSocketError) {
        // Nothing waiting: the real library would block here; callers only come when the socket is readable.
        return plat::WSAGetLastError() == plat::kWsaEWouldBlock ? kDNSServiceErr_NoError : kDNSServiceErr_Unknown;
    }
    Reader in{buffer, static_cast<size_t>(n)};
    const auto kind = static_cast<Kind>(in.u8());
    const uint32_t flags = in.u32(), iface = in.u32();
    const auto error = static_cast<DNSServiceErrorType>(in.u32());
    if (!in.ok || kind != r->kind) return kDNSServiceErr_Unknown;
    switch (kind) {
        case Kind::Browse: {
            const std::string name = in.text(), type = in.text(), domain = in.text();
            if (!in.ok) return kDNSServiceErr_Unknown;
            reinterpret_cast<DNSServiceBrowseReply>(r->callback)(sdRef, flags, iface, error, name.c_str(),
                                                                 type.c_str(), domain.c_str(), r->context);
            break;
        }
        case Kind::Resolve: {
            const std::string full = in.text(), host = in.text();
            const uint16_t port = in.u16();
            const std::vector<uint8_t> txt = in.data();
            if (!in.ok) return kDNSServiceErr_Unknown;
            reinterpret_cast<DNSServiceResolveReply>(r->callback)(sdRef, flags, iface, error, full.c_str(),
                                                                  host.c_str(), port, static_cast<uint16_t>(txt.size()),
                                                                  txt.empty() ? nullptr : txt.data(), r->context);
            break;
        }
        case Kind::Query: {
            const std::string full = in.text();
            const uint16_t type = in.u16(), cls = in.u16();
            const std::vector<uint8_t> rdata = in.data();
            const uint32_t ttl = in.u32();
            if (!in.ok) return kDNSServiceErr_Unknown;
            reinterpret_cast<DNSServiceQueryRecordReply>(r->callback)(
                sdRef, flags, iface, error, full.c_str(), type, cls, static_cast<uint16_t>(rdata.size()),
                rdata.empty() ? nullptr : rdata.data(), ttl, r->context);
            break;
        }
    }
    return kDNSServiceErr_NoError;
}

void VELUN_DNSSD_API RefDeallocate(DNSServiceRef sdRef) {
    Ref* r = FromRef(sdRef);
    if (!r) return;
    plat::closesocket(r->sock);
    Stats& st = TheWorld().stats;
    --st.liveRefs;
    if (r->kind == Kind::Resolve) --st.liveResolves;
    delete r;
}

dnssd_sock_t VELUN_DNSSD_API RefSockFD(DNSServiceRef sdRef) {
    Ref* r = FromRef(sdRef);
    return r ? r->sock : plat::kInvalidSocket;
}

DNSServiceErrorType VELUN_DNSSD_API ConstructFullName(char* fullName, const char* service, const char* regtype,
                                                      const char* domain) {
    if (!fullName || !service || !regtype || !domain) return kDNSServiceErr_BadParam;
    const std::string full = FullName(service, regtype, domain);
    if (full.size() >= kDNSServiceMaxDomainName) return kDNSServiceErr_BadParam;
    std::memcpy(fullName, full.c_str(), full.size() + 1);
    return kDNSServiceErr_NoError;
}

DNSServiceErrorType VELUN_DNSSD_API CreateConnection(DNSServiceRef*) { return kDNSServiceErr_Unsupported; }

DNSServiceErrorType VELUN_DNSSD_API ReconfirmRecord(DNSServiceFlags, uint32_t interfaceIndex, const char* fullname,
                                                    uint16_t rrtype, uint16_t rrclass, uint16_t, const void*) {
    Stats& st = TheWorld().stats;
    ++st.reconfirms;
    std::snprintf(st.lastReconfirmName, sizeof st.lastReconfirmName, "%s", fullname ? fullname : "");
    st.lastReconfirmInterface = interfaceIndex;
    st.lastReconfirmType = rrtype;
    st.lastReconfirmClass = rrclass;
    return TheWorld().avahiLike ? kDNSServiceErr_Unsupported : kDNSServiceErr_NoError;
}

// TXT records: a run of strings, each a length byte and that many bytes,
// "key" or "key=value"; keys compare without regard to case. A length that
// runs past the end ends the record there.
const uint8_t* FindKey(uint16_t txtLen, const void* txtRecord, const char* key, uint8_t* entryLength) {
    if (!txtRecord || !key) return nullptr;
    const auto* p = static_cast<const uint8_t*>(txtRecord);
    const size_t keyLength = std::strlen(key);
    size_t at = 0;
    while (at < txtLen) {
        const uint8_t len = p[at];
        if (at + 1 + len > txtLen) return nullptr;
        const uint8_t* entry = p + at + 1;
        size_t k = 0;
        while (k < len && entry[k] != '=') ++k;
        if (k == keyLength && k > 0) {
            bool same = true;
            for (size_t i = 0; i < k && same; ++i) same = Lower(static_cast<char>(entry[i])) == Lower(key[i]);
            if (same) {
                *entryLength = len;
                return entry;
            }
        }
        at += 1 + len;
    }
    return nullptr;
}

int VELUN_DNSSD_API ContainsKey(uint16_t txtLen, const void* txtRecord, const char* key) {
    uint8_t len = 0;
    return FindKey(txtLen, txtRecord, key, &len) ? 1 : 0;
}

const void* VELUN_DNSSD_API GetValuePtr(uint16_t txtLen, const void* txtRecord, const char* key, uint8_t* valueLen) {
    uint8_t len = 0;
    const uint8_t* entry = FindKey(txtLen, txtRecord, key, &len);
    if (!entry) return nullptr;
    const size_t k = std::strlen(key);
    if (k >= len) return nullptr;  // a key without a value
    if (valueLen) *valueLen = static_cast<uint8_t>(len - k - 1);
    return entry + k + 1;
}

const dnssd_api kApi = {
    Browse, ConstructFullName, CreateConnection, ProcessResult, QueryRecord, ReconfirmRecord,
    RefDeallocate, RefSockFD, Resolve, ContainsKey, GetValuePtr,
};

}  // namespace

const dnssd_api& Api() { return kApi; }

void Reset() {
    World& w = TheWorld();
    const int live = w.stats.liveRefs, liveResolves = w.stats.liveResolves;
    w.count = 0;
    w.refusedBrowses = 0;
    w.avahiLike = false;
    w.stats = Stats{};
    w.stats.liveRefs = live;
    w.stats.liveResolves = liveResolves;
}

bool Advertise(const Service& service) {
    World& w = TheWorld();
    if (w.count >= kMaxServices) return false;
    w.services[w.count++] = service;
    return true;
}

void RefuseBrowse(uint32_t types) { TheWorld().refusedBrowses = types; }
void SetAvahiLike(bool on) { TheWorld().avahiLike = on; }
const Stats& GetStats() { return TheWorld().stats; }

bool BuildTxt(std::initializer_list<std::string> entries, uint8_t* out, size_t size, uint16_t* length) {
    size_t at = 0;
    for (const std::string& e : entries) {
        if (e.size() > 255 || at + 1 + e.size() > size) return false;
        out[at++] = static_cast<uint8_t>(e.size());
        std::memcpy(out + at, e.data(), e.size());
        at += e.size();
    }
    *length = static_cast<uint16_t>(at);
    return true;
}

Service MakeService(const std::string& name, const std::string& host, uint32_t address, uint16_t port) {
    Service s;
    std::strncpy(s.name, name.c_str(), sizeof s.name - 1);
    std::strncpy(s.host, host.c_str(), sizeof s.host - 1);
    s.address = address;
    s.port = port;
    BuildTxt({"txtvers=2", "arcp_vers=1.2.3", "arcp_min=1.0.0", "router_vers=2.0.1", "mf=Pelk", "model=VA-VOVUZ"},
             s.arcTxt, sizeof s.arcTxt, &s.arcTxtLength);
    return s;
}

}  // namespace sim::dnssd

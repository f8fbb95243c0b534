// The discovery component's handling of DNS-SD replies: browse replies,
// resolve replies with their TXT records, address-query replies, resolve
// time-outs and failing processing, fed through the DNS-SD function table the
// component binds. The table is this file's own: each reference gets a socket
// that is always readable, and DNSServiceProcessResult delivers the one
// reply the input chose for it.
//
// Checked after every pass:
//  - the device tree is sorted without regard to case, holds names of 1 to 31
//    characters, and is exactly what the node-changed events said: a name
//    reported as new was not in it, one reported as known was;
//  - a conmon service whose "id", "process", "vid" or "vba" is missing or
//    malformed changes no node; one with valid values that is answered on the
//    interface its advertisement came on holds exactly those values, and a
//    media device its versions;
//  - a device opened by name: the resolve answer on the loopback interface
//    gives the loopback address at once; elsewhere the query of its host
//    follows and a 4-byte answer is its address, with the resolve's port;
//    a TXT without "safe" and without a readable "arcp_vers" or
//    "router_vers" (major above 0) leaves it RESOLVING with nothing to wait
//    on; the ARC version is packed as the rule says; the address list is
//    written only within the room given;
//  - no reference is used after it was deallocated, and none is left when
//    everything is deleted.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "fuzz/support/Fuzz.h"
#include "platform/Platform.h"
#include "velun/browse.h"
#include "velun/devices.h"
#include "velun/dnssd.h"
#include "velun/net.h"

namespace {

using namespace velun;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kStudio = 7000;  // the interface the devices are advertised on
constexpr size_t kPoolSize = 48;
constexpr int kMaxSteps = 48;
constexpr int kMaxDevices = 4;

// ---- the DNS-SD table ---------------------------------------------------------------------

struct Reply {
    DNSServiceErrorType processResult = kDNSServiceErr_NoError;  // what DNSServiceProcessResult answers
    DNSServiceFlags flags = 0;
    uint32_t iface = 0;
    DNSServiceErrorType error = kDNSServiceErr_NoError;
    std::string name, regtype, host;  // host also the query's full name
    bool nullName = false, nullHost = false;
    uint16_t port = 0;
    Bytes txt;
    Bytes rdata;
};

struct Ref {
    enum Kind { kBrowse, kResolve, kQuery } kind;
    bool live = true;
    plat::Socket sock = plat::kInvalidSocket;
    void* callback = nullptr;
    void* context = nullptr;
    std::string name, regtype, host;
    uint32_t iface = 0;
    DNSServiceFlags flags = 0;
    const Reply* pending = nullptr;
};

struct World {
    std::vector<plat::Socket> freeSockets;
    std::vector<std::unique_ptr<Ref>> refs;  // kept until the input ends, so a stale one is caught
    bool refuseSubtype = false;
    int reconfirms = 0;
};
World* g_world = nullptr;

Ref* Live(DNSServiceRef sdRef, const char* what) {
    auto* r = reinterpret_cast<Ref*>(sdRef);
    ORVEX_FUZZ_CHECK(r != nullptr, std::string(what) + " of no reference");
    ORVEX_FUZZ_CHECK(r->live, std::string(what) + " of a deallocated reference");
    return r;
}

DNSServiceErrorType NewRef(Ref::Kind kind, DNSServiceRef* out, void* callback, void* context, Ref** made) {
    World& w = *g_world;
    if (w.freeSockets.empty()) return kDNSServiceErr_NoMemory;
    auto r = std::make_unique<Ref>();
    r->kind = kind;
    r->sock = w.freeSockets.back();
    w.freeSockets.pop_back();
    r->callback = callback;
    r->context = context;
    *made = r.get();
    *out = reinterpret_cast<DNSServiceRef>(r.get());
    w.refs.push_back(std::move(r));
    return kDNSServiceErr_NoError;
}

DNSServiceErrorType VELUN_DNSSD_API Browse(DNSServiceRef* sdRef, DNSServiceFlags, uint32_t iface, const char* regtype,
                                           const char*, DNSServiceBrowseReply callBack, void* context) {
    if (g_world->refuseSubtype && std::strchr(regtype, ',')) return kDNSServiceErr_BadParam;
    Ref* r = nullptr;
    const DNSServiceErrorType e = NewRef(Ref::kBrowse, sdRef, reinterpret_cast<void*>(callBack), context, &r);
    if (e == kDNSServiceErr_NoError) {
        r->regtype = regtype;
        r->iface = iface;
    }
    return e;
}
DNSServiceErrorType VELUN_DNSSD_API ConstructFullName(char* fullName, const char* service, const char* regtype,
                                                      const char* domain) {
    std::snprintf(fullName, kDNSServiceMaxDomainName, "%s.%s%s.", service, regtype, domain);
    return kDNSServiceErr_NoError;
}
DNSServiceErrorType VELUN_DNSSD_API CreateConnection(DNSServiceRef*) { return kDNSServiceErr_Unsupported; }
DNSServiceErrorType VELUN_DNSSD_API ProcessResult(DNSServiceRef sdRef) {
    Ref* r = Live(sdRef, "DNSServiceProcessResult");
    const Reply* reply = r->pending;
    r->pending = nullptr;
    ORVEX_FUZZ_CHECK(reply != nullptr, "DNSServiceProcessResult on a reference the input did not make readable");
    if (reply->processResult != kDNSServiceErr_NoError) return reply->processResult;
    const char* name = reply->nullName ? nullptr : reply->name.c_str();
    const char* host = reply->nullHost ? nullptr : reply->host.c_str();
    switch (r->kind) {
    case Ref::kBrowse:
        reinterpret_cast<DNSServiceBrowseReply>(r->callback)(sdRef, reply->flags, reply->iface, reply->error, name,
                                                             reply->regtype.c_str(), "local.", r->context);
        break;
    case Ref::kResolve:
        reinterpret_cast<DNSServiceResolveReply>(r->callback)(
            sdRef, 0, reply->iface, reply->error, "full.name.local.", host, reply->port, uint16_t(reply->txt.size()),
            reply->txt.empty() ? nullptr : reply->txt.data(), r->context);
        break;
    case Ref::kQuery:
        reinterpret_cast<DNSServiceQueryRecordReply>(r->callback)(
            sdRef, kDNSServiceFlagsAdd, reply->iface, reply->error, r->host.c_str(), kDNSServiceType_A,
            kDNSServiceClass_IN, uint16_t(reply->rdata.size()), reply->rdata.empty() ? nullptr : reply->rdata.data(),
            120, r->context);
        break;
    }
    return kDNSServiceErr_NoError;
}
DNSServiceErrorType VELUN_DNSSD_API QueryRecord(DNSServiceRef* sdRef, DNSServiceFlags flags, uint32_t iface,
                                                const char* fullname, uint16_t rrtype, uint16_t rrclass,
                                                DNSServiceQueryRecordReply callBack, void* context) {
    ORVEX_FUZZ_CHECK(rrtype == kDNSServiceType_A && rrclass == kDNSServiceClass_IN, "the query asks for A, IN");
    Ref* r = nullptr;
    const DNSServiceErrorType e = NewRef(Ref::kQuery, sdRef, reinterpret_cast<void*>(callBack), context, &r);
    if (e == kDNSServiceErr_NoError) {
        r->host = fullname;
        r->iface = iface;
        r->flags = flags;
    }
    return e;
}
DNSServiceErrorType VELUN_DNSSD_API ReconfirmRecord(DNSServiceFlags, uint32_t, const char* fullname, uint16_t rrtype,
                                                    uint16_t, uint16_t, const void*) {
    ORVEX_FUZZ_CHECK(rrtype == kDNSServiceType_PTR && fullname && std::strlen(fullname) < kDNSServiceMaxDomainName,
                     "reconfirm");
    ++g_world->reconfirms;
    return kDNSServiceErr_NoError;
}
void VELUN_DNSSD_API RefDeallocate(DNSServiceRef sdRef) {
    Ref* r = Live(sdRef, "DNSServiceRefDeallocate");
    r->live = false;
    g_world->freeSockets.push_back(r->sock);
}
dnssd_sock_t VELUN_DNSSD_API RefSockFD(DNSServiceRef sdRef) { return Live(sdRef, "DNSServiceRefSockFD")->sock; }
DNSServiceErrorType VELUN_DNSSD_API Resolve(DNSServiceRef* sdRef, DNSServiceFlags, uint32_t iface, const char* name,
                                            const char* regtype, const char*, DNSServiceResolveReply callBack,
                                            void* context) {
    Ref* r = nullptr;
    const DNSServiceErrorType e = NewRef(Ref::kResolve, sdRef, reinterpret_cast<void*>(callBack), context, &r);
    if (e == kDNSServiceErr_NoError) {
        r->name = name;
        r->regtype = regtype;
        r->iface = iface;
    }
    return e;
}

// A TXT record is a run of entries, each a length byte and "key=value" or
// "key"; keys compare without regard to case; the first entry of a key counts;
// an entry running past the end ends the record.
bool SameKey(const uint8_t* a, size_t n, const char* key) {
    if (std::strlen(key) != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(a[i]) != std::tolower(static_cast<unsigned char>(key[i]))) return false;
    return true;
}
// The entry of a key: its bytes after the length byte and their number.
const uint8_t* FindEntry(uint16_t length, const void* record, const char* key, uint8_t* entryLength) {
    const auto* p = static_cast<const uint8_t*>(record);
    for (size_t at = 0; p && at < length;) {
        const uint8_t n = p[at];
        if (at + 1 + n > length) return nullptr;
        const uint8_t* entry = p + at + 1;
        const auto* eq = static_cast<const uint8_t*>(std::memchr(entry, '=', n));
        if (SameKey(entry, eq ? size_t(eq - entry) : n, key)) {
            *entryLength = n;
            return entry;
        }
        at += 1 + n;
    }
    return nullptr;
}
int VELUN_DNSSD_API ContainsKey(uint16_t length, const void* record, const char* key) {
    uint8_t n = 0;
    return FindEntry(length, record, key, &n) ? 1 : 0;
}
const void* VELUN_DNSSD_API GetValuePtr(uint16_t length, const void* record, const char* key, uint8_t* valueLength) {
    uint8_t n = 0;
    const uint8_t* entry = FindEntry(length, record, key, &n);
    const size_t k = std::strlen(key);
    if (!entry || k >= n) return nullptr;  // absent, or a key without a value
    *valueLength = uint8_t(n - k - 1);
    return entry + k + 1;
}

const dnssd_api kApi = {Browse, ConstructFullName, CreateConnection, ProcessResult, QueryRecord, ReconfirmRecord,
                        RefDeallocate, RefSockFD, Resolve, ContainsKey, GetValuePtr};

// ---- what the rules say of TXT values -----------------------------------------------------------
// A value that is a text: present with "=", shorter than 64 bytes, no zero byte.
bool TextValue(const Bytes& txt, const char* key, std::string* out, bool* present) {
    uint8_t n = 0;
    const auto* v = static_cast<const uint8_t*>(GetValuePtr(uint16_t(txt.size()), txt.data(), key, &n));
    *present = v != nullptr;
    if (!v || n >= 64 || std::memchr(v, 0, n)) return false;
    out->assign(reinterpret_cast<const char*>(v), n);
    return true;
}
bool Dotted(const std::string& t, int count, uint64_t limit, uint32_t* f) {
    size_t at = 0;
    for (int i = 0; i < count; ++i) {
        if (at >= t.size() || !std::isdigit(static_cast<unsigned char>(t[at]))) return false;
        uint64_t v = 0;
        while (at < t.size() && std::isdigit(static_cast<unsigned char>(t[at]))) {
            v = v * 10 + uint64_t(t[at++] - '0');
            if (v > limit) return false;
        }
        f[i] = uint32_t(v);
        if (i + 1 < count && (at >= t.size() || t[at++] != '.')) return false;
    }
    return at == t.size();
}
bool Hex8(const std::string& t, uint8_t* out) {
    if (t.size() != 16) return false;
    for (size_t i = 0; i < 16; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(t[i]))) return false;
    for (size_t i = 0; i < 8; ++i) out[i] = uint8_t(std::stoul(t.substr(2 * i, 2), nullptr, 16));
    return true;
}

struct Conmon {
    bool valid = false;
    uint8_t id[8] = {}, vid[8] = {}, vba[4] = {};
    uint32_t process = 0;
    bool hasVid = false, hasVba = false;
};
Conmon ReadConmon(const Bytes& txt) {
    Conmon c;
    std::string v;
    bool present = false;
    if (!TextValue(txt, "id", &v, &present) || !Hex8(v, c.id)) return c;
    if (!TextValue(txt, "process", &v, &present) || !Dotted(v, 1, 0xFFFFFFFFu, &c.process)) return c;
    const bool vidText = TextValue(txt, "vid", &v, &present);
    if (present) {
        if (!vidText || !Hex8(v, c.vid)) return c;
        c.hasVid = true;
    }
    const bool vbaText = TextValue(txt, "vba", &v, &present);
    if (present) {
        uint32_t f[4];
        if (!vbaText || !Dotted(v, 4, 255, f)) return c;
        for (int i = 0; i < 4; ++i) c.vba[i] = uint8_t(f[i]);
        c.hasVba = true;
    }
    c.valid = true;
    return c;
}
bool Version(const Bytes& txt, const char* key, uint32_t f[3]) {
    std::string v;
    bool present = false;
    return TextValue(txt, key, &v, &present) && Dotted(v, 3, 0xFFFFFFFFu, f);
}

int NoCase(const std::string& a, const std::string& b) {
    for (size_t i = 0;; ++i) {
        const int x = i < a.size() ? std::tolower(static_cast<unsigned char>(a[i])) : 0;
        const int y = i < b.size() ? std::tolower(static_cast<unsigned char>(b[i])) : 0;
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

// ---- the run -----------------------------------------------------------------------------------
struct Model {
    std::set<std::string> tree;  // the names the events said are in the tree
    bool eventsOk = true;
    std::string eventError;
};
Model* g_model = nullptr;

void OnNodeChanged(db_browse*, const db_node_event* event, bool existed) {
    Model& m = *g_model;
    const std::string name = db_node_get_name(event->node);
    const bool in = m.tree.count(name) != 0;
    if (event->kind == DB_NODE_EVENT_CHANGED) {
        ORVEX_FUZZ_CHECK(existed == in, "\"" + name + "\" reported " + (existed ? "known" : "new") +
                                            " while it was " + (in ? "" : "not ") + "in the tree");
        m.tree.insert(name);
    } else {
        ORVEX_FUZZ_CHECK(in && existed, "\"" + name + "\" removed while not in the tree");
        m.tree.erase(name);
    }
}

void CheckTree(const db_browse* b) {
    const Model& m = *g_model;
    const size_t n = db_browse_get_num_nodes(b);
    ORVEX_FUZZ_CHECK(n == m.tree.size(), std::to_string(n) + " nodes, the events said " + std::to_string(m.tree.size()));
    std::string previous;
    for (size_t i = 0; i < n; ++i) {
        const std::string name = db_node_get_name(db_browse_get_node(b, i));
        ORVEX_FUZZ_CHECK(!name.empty() && name.size() <= DB_DEVICE_NAME_MAX && m.tree.count(name), "\"" + name + "\"");
        ORVEX_FUZZ_CHECK(i == 0 || NoCase(previous, name) < 0, "\"" + previous + "\" before \"" + name + "\"");
        const std::string host = db_node_get_host(db_browse_get_node(b, i));
        ORVEX_FUZZ_CHECK(host.size() <= DB_DEVICE_NAME_MAX && host.find('.') == std::string::npos, "host " + host);
        previous = name;
    }
}

const db_node* FindNode(const db_browse* b, const std::string& name) {
    for (size_t i = 0; i < db_browse_get_num_nodes(b); ++i)
        if (NoCase(db_node_get_name(db_browse_get_node(b, i)), name) == 0) return db_browse_get_node(b, i);
    return nullptr;
}

uint32_t LoopbackIndex(uint32_t* address) {
    std::vector<plat::IpAddrRow> rows;
    *address = plat::htonl(0x7F000001);
    if (!plat::GetIpAddrTable(&rows)) return 0;
    for (const plat::IpAddrRow& row : rows)
        if ((plat::ntohl(row.address) >> 24) == 127) {
            *address = row.address;
            return row.index;
        }
    return 0;
}

struct Rig {
    net_env* env = nullptr;
    uint32_t loopbackIndex = 0, loopbackAddress = 0;
    std::vector<plat::Socket> pool;
};
Rig& TheRig() {
    static Rig* rig = [] {
        auto* r = new Rig;
        ORVEX_FUZZ_CHECK(net_env_setup(&r->env) == NET_OK, "environment");
        r->loopbackIndex = LoopbackIndex(&r->loopbackAddress);
        // Sockets that stay readable: each holds a datagram it sent itself, never read.
        for (size_t i = 0; i < kPoolSize; ++i) {
            const plat::Socket s = plat::socket(plat::kAfInet, plat::kSockDgram, plat::kIpprotoUdp);
            plat::SockAddrIn self{plat::htonl(0x7F000001), 0};
            ORVEX_FUZZ_CHECK(s != plat::kInvalidSocket && plat::bind(s, self) == 0 && plat::getsockname(s, &self) == 0 &&
                                 plat::sendto(s, "r", 1, 0, self) == 1,
                             "socket pool");
            r->pool.push_back(s);
        }
        return r;
    }();
    return *rig;
}

std::string Name(fuzz::Input& in) {
    static const char* const kNames[] = {"VA-VOVUZ-1", "va-vovuz-1", "UnitA", "unitB", "VA-VOVUZ-2",
                                         "abcdefghijklmnopqrstuvwxyz01234",    // 31
                                         "abcdefghijklmnopqrstuvwxyz012345"};  // 32
    const uint8_t c = in.Byte();
    if (c < 200) return kNames[c % 7];
    return in.Text(in.Range(0, 70));
}

uint32_t Interface(fuzz::Input& in, uint32_t loopback) {
    switch (in.Byte() % 8) {
    case 5: return loopback;
    case 6: return kStudio + 1;
    case 7: return in.U32();
    default: return kStudio;
    }
}

std::string Value(fuzz::Input& in) {
    static const char* const kHex = "0123456789abcdefABCDEF";
    std::string v;
    switch (in.Byte() % 8) {
    case 0:
    case 1:  // 16 hexadecimal digits, or nearly
        for (uint32_t i = 0, n = in.Range(14, 17); i < n; ++i) v += kHex[in.Byte() % 22];
        return v;
    case 2:
    case 3:  // three or four dotted numbers
        for (int i = 0, n = in.Byte() % 8 == 3 ? 4 : 3; i < n; ++i) v += (i ? "." : "") + std::to_string(in.Range(0, 300));
        return v;
    case 4: {
        v = std::to_string(in.U32());
        if (in.Bool()) v += "0";  // past 32 bits
        return v;
    }
    case 5:
        return "Pelk";
    default:
        return in.Text(in.Range(0, 80));
    }
}

Bytes Txt(fuzz::Input& in) {
    static const char* const kKeys[] = {"id",          "process", "vid",    "vba",  "mf",      "model",
                                        "arcp_vers",   "arcp_min", "router_vers", "router_info", "safe", "ID"};
    Bytes txt;
    if (in.Byte() % 8 == 7) return in.Bytes(in.Range(0, 300));  // raw
    for (uint32_t i = 0, n = in.Range(0, 8); i < n; ++i) {
        const uint8_t k = in.Byte();
        std::string entry = k < 240 ? kKeys[k % 12] : in.Text(in.Range(0, 12));
        if (in.Byte() % 8 != 0) entry += "=" + Value(in);
        if (entry.size() > 255) entry.resize(255);
        txt.push_back(uint8_t(entry.size()));
        txt.insert(txt.end(), entry.begin(), entry.end());
    }
    return txt;
}

DNSServiceErrorType Error(fuzz::Input& in) { return in.Byte() % 16 == 15 ? kDNSServiceErr_Unknown : 0; }

// A live reference of a kind, the input's k-th.
Ref* Pick(Ref::Kind kind, uint8_t k) {
    std::vector<Ref*> live;
    for (auto& r : g_world->refs)
        if (r->live && r->kind == kind) live.push_back(r.get());
    return live.empty() ? nullptr : live[k % live.size()];
}

struct Device;
Ref* BrowseResolve(const std::vector<Device>& devices, uint8_t k);

struct Device {
    dr_device* device = nullptr;
    Ref* resolve = nullptr;
    uint32_t fixed = 0;  // the interface the first answer came on
    bool answered = false, failed = false, safe = false, hasAddress = false;
    uint16_t port = 0;  // network order
    dr_address address;
    uint16_t arcp = 0;
};

Ref* BrowseResolve(const std::vector<Device>& devices, uint8_t k) {
    std::vector<Ref*> live;
    for (auto& r : g_world->refs) {
        bool ofDevice = false;
        for (const Device& d : devices) ofDevice = ofDevice || d.resolve == r.get();
        if (r->live && r->kind == Ref::kResolve && !ofDevice) live.push_back(r.get());
    }
    return live.empty() ? nullptr : live[k % live.size()];
}

// What a resolve's target host becomes in the tree: up to its first dot, at most 31 characters.
std::string TreeHost(const Reply& r) {
    if (r.nullHost) return "";
    std::string host = r.host.substr(0, r.host.find('\0'));
    host = host.substr(0, host.find('.'));
    return host.substr(0, DB_DEVICE_NAME_MAX);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    plat::UseVirtualClock(true);
    Rig& rig = TheRig();
    World world;
    world.freeSockets = rig.pool;
    g_world = &world;
    Model model;
    g_model = &model;
    dnssd_set_api(&kApi);
    fuzz::Input in(data, size);

    // The browse as the network transport sets it up, or with another mask and maker.
    const uint8_t setup = in.Byte();
    const uint32_t mask = setup & 1 ? in.Range(0, 127) : 5;
    db_browse* b = nullptr;
    const int created = db_browse_new(rig.env, mask, &b);
    ORVEX_FUZZ_CHECK((created == NET_OK) == ((mask & 127) != 0), "mask " + std::to_string(mask));
    if (!b) {
        dnssd_set_api(nullptr);
        return 0;
    }
    uint8_t maker[8] = {'P', 'e', 'l', 'k', 0, 0, 0, 0};
    if (setup & 2)
        for (uint8_t& m : maker) m = in.Byte();
    db_browse_set_manufacturer(b, maker);
    db_browse_set_max_sockets(b, 18);
    db_browse_set_node_changed_callback(b, OnNodeChanged);
    world.refuseSubtype = (setup & 4) != 0;
    db_browse_config config;
    db_browse_config_init(&config);
    config.allow_loopback = (setup & 8) == 0;
    const bool unfiltered = world.refuseSubtype && db_browse_get_manufacturer(b)[0] != '\0';
    const std::string ourMaker = db_browse_get_manufacturer(b);
    const int started = db_browse_start_config(b, &config);

    dr_devices* reg = nullptr;
    ORVEX_FUZZ_CHECK(dr_devices_new(rig.env, &reg) == NET_OK, "devices registry");
    std::vector<Device> devices;
    std::vector<std::unique_ptr<Reply>> replies;
    // The interface of every browse reply so far, while they were all the same one.
    uint32_t browseIface = 0;
    bool oneIface = true;

    for (int step = 0; step < kMaxSteps && !in.Empty() && started == NET_OK; ++step) {
        auto reply = std::make_unique<Reply>();
        Reply& r = *reply;
        replies.push_back(std::move(reply));
        net_socket_set set;
        const uint8_t op = in.Byte() % 12;
        if (op <= 2) {  // an advertisement, or its removal
            Ref* ref = Pick(Ref::kBrowse, in.Byte());
            if (!ref) continue;
            r.flags = in.Byte() % 4 ? kDNSServiceFlagsAdd : 0;
            r.iface = Interface(in, rig.loopbackIndex);
            r.error = Error(in);
            r.name = Name(in);
            r.nullName = in.Byte() == 255;
            const uint8_t t = in.Byte();
            const std::string own = ref->regtype.substr(0, ref->regtype.find(','));
            r.regtype = t < 160 ? own : t < 200 ? "_VELUN-ARC._UDP" : t < 230 ? "_velun-cmc._udp." : in.Text(in.Range(0, 30));
            if (r.error == 0) {
                if (browseIface == 0) browseIface = r.iface;
                oneIface = oneIface && r.iface == browseIface && r.iface != rig.loopbackIndex;
            }
            ref->pending = &r;
            net_socket_set_add_read(&set, ref->sock);
            net_time next;
            db_browse_process(b, &set, &next);
            ORVEX_FUZZ_CHECK(ref->pending == nullptr, "a readable advertisement socket was not processed");
        } else if (op <= 6) {  // a resolve answer
            // A device's resolve is answered in the devices step.
            Ref* ref = BrowseResolve(devices, in.Byte());
            if (!ref) continue;
            r.iface = in.Byte() % 4 ? browseIface : Interface(in, rig.loopbackIndex);
            r.error = Error(in);
            r.host = in.Byte() % 4 ? "host-" + ref->name + ".local." : in.Text(in.Range(0, 100));
            r.nullHost = in.Byte() == 255;
            r.port = in.U16();
            r.txt = Txt(in);
            r.processResult = in.Byte() == 255 ? kDNSServiceErr_Unknown : 0;
            const int type = ref->regtype == "_velun-cmc._udp." ? DB_TYPE_CONMON_DEVICE
                             : ref->regtype == "_velun-arc._udp." ? DB_TYPE_MEDIA_DEVICE
                                                                  : -1;
            const db_node* before = FindNode(b, ref->name);
            uint8_t idBefore[8] = {};
            const bool hadId = before && db_node_get_id(before, idBefore);
            uint32_t processBefore = 0;
            const bool hadProcess = before && db_node_get_process(before, &processBefore);
            ref->pending = &r;
            net_socket_set_add_read(&set, ref->sock);
            net_time next;
            db_browse_process(b, &set, &next);
            ORVEX_FUZZ_CHECK(ref->pending == nullptr, "a readable resolve socket was not processed");

            const bool answered = r.processResult == 0 && r.error == 0;
            const bool onItsNetwork = oneIface && r.iface == browseIface;
            ORVEX_FUZZ_CHECK(!answered || !onItsNetwork || !ref->live,
                             "a resolve answered on its network stays open");
            std::string mf;
            bool present = false;
            const bool otherMaker = unfiltered && TextValue(r.txt, "mf", &mf, &present) && NoCase(mf, ourMaker) != 0;
            const db_node* after = FindNode(b, ref->name);
            if (type == DB_TYPE_CONMON_DEVICE) {
                const Conmon c = ReadConmon(r.txt);
                uint8_t id[8];
                uint32_t process = 0;
                if (!c.valid || otherMaker || !answered) {
                    // Nothing of this answer reached the tree.
                    ORVEX_FUZZ_CHECK((before != nullptr) == (after != nullptr), "conmon node of an invalid TXT");
                    ORVEX_FUZZ_CHECK(!after || (db_node_get_id(after, id) == hadId && (!hadId || !std::memcmp(id, idBefore, 8))),
                                     "an invalid TXT changed the id");
                    ORVEX_FUZZ_CHECK(!after || (db_node_get_process(after, &process) == hadProcess && process == processBefore),
                                     "an invalid TXT changed the process");
                } else if (onItsNetwork) {
                    ORVEX_FUZZ_CHECK(after != nullptr, "a valid conmon answer made no node for " + ref->name);
                    ORVEX_FUZZ_CHECK(db_node_get_host(after) == TreeHost(r), std::string("host ") + db_node_get_host(after));
                    uint8_t vid[8], vba[4];
                    ORVEX_FUZZ_CHECK(db_node_get_id(after, id) && !std::memcmp(id, c.id, 8), "id");
                    ORVEX_FUZZ_CHECK(db_node_get_process(after, &process) && process == c.process, "process");
                    ORVEX_FUZZ_CHECK(!c.hasVid || (db_node_get_vendor_id(after, vid) && !std::memcmp(vid, c.vid, 8)), "vid");
                    ORVEX_FUZZ_CHECK(!c.hasVba || (db_node_get_vba(after, vba) && !std::memcmp(vba, c.vba, 4)), "vba");
                }
            } else if (type == DB_TYPE_MEDIA_DEVICE && answered && !otherMaker && onItsNetwork) {
                ORVEX_FUZZ_CHECK(after != nullptr, "a media device answer made no node for " + ref->name);
                ORVEX_FUZZ_CHECK(db_node_get_host(after) == TreeHost(r), std::string("host ") + db_node_get_host(after));
                uint32_t f[3];
                if (Version(r.txt, "arcp_vers", f)) {
                    const db_version v = db_node_get_arcp_version(after);
                    ORVEX_FUZZ_CHECK(v.present && v.major == f[0] && v.minor == f[1] && v.patch == f[2], "arcp_vers");
                }
                if (Version(r.txt, "router_vers", f)) {
                    const db_version v = db_node_get_router_version(after);
                    ORVEX_FUZZ_CHECK(v.present && v.major == f[0] && v.minor == f[1] && v.patch == f[2], "router_vers");
                }
            }
        } else if (op == 7) {  // time passes: unanswered resolves are dropped
            const uint32_t seconds = in.Range(0, 40);
            plat::AdvanceVirtualClock(uint64_t(seconds) * 1000000);
            const int reconfirms = world.reconfirms;
            std::vector<Ref*> active;
            for (Ref* x = nullptr; (x = BrowseResolve(devices, uint8_t(active.size()))) && active.size() < 64;) {
                if (std::find(active.begin(), active.end(), x) != active.end()) break;
                active.push_back(x);
            }
            net_time next;
            db_browse_process(b, &set, &next);
            if (seconds > 30) {
                // Started at least a pass ago, 30 s are up for each: dropped and reconfirmed.
                for (const Ref* x : active) ORVEX_FUZZ_CHECK(!x->live, "an unanswered resolve outlived its 30 s");
                ORVEX_FUZZ_CHECK(world.reconfirms == reconfirms + int(active.size()), "each dropped resolve reconfirmed");
            }
        } else if (op == 8) {  // a device opened by name
            if (devices.size() == kMaxDevices) continue;
            std::string name = Name(in);
            if (in.Bool() && db_browse_get_num_nodes(b))
                name = db_node_get_name(db_browse_get_node(b, in.Byte() % db_browse_get_num_nodes(b)));
            Device d;
            const size_t refs = world.refs.size();
            const int opened = dr_device_open(reg, name.c_str(), &d.device);
            ORVEX_FUZZ_CHECK((opened == NET_OK) == (d.device != nullptr), "open");
            if (name.empty()) ORVEX_FUZZ_CHECK(opened == NET_ERR_ARGUMENT, "an empty name opens nothing");
            if (!d.device) continue;
            ORVEX_FUZZ_CHECK(world.refs.size() == refs + 1 && world.refs.back()->kind == Ref::kResolve &&
                                 world.refs.back()->regtype == "_velun-arc._udp.",
                             "opening resolves the device's ARC service");
            d.resolve = world.refs.back().get();
            ORVEX_FUZZ_CHECK(dr_device_get_state(d.device) == DR_DEVICE_STATE_RESOLVING, "a new device is resolving");
            devices.push_back(d);
        } else if (op == 9 || op == 10) {  // an answer to a device's resolve or query
            if (devices.empty()) continue;
            Device& d = devices[in.Byte() % devices.size()];
            Ref* ref = nullptr;
            if (d.resolve->live) {
                ref = d.resolve;
            } else {
                for (auto& x : world.refs)
                    if (x->live && x->kind == Ref::kQuery && x->context == d.resolve->context) ref = x.get();
            }
            if (!ref) continue;
            r.iface = in.Byte() % 4 ? kStudio : Interface(in, rig.loopbackIndex);
            r.error = Error(in);
            r.processResult = in.Byte() == 255 ? kDNSServiceErr_Unknown : 0;
            const bool loopback = rig.loopbackIndex != 0 && r.iface == rig.loopbackIndex;
            bool ok = r.processResult == 0 && r.error == 0;
            bool queryExpected = false;
            if (ref->kind == Ref::kResolve) {
                r.host = in.Byte() % 4 ? "host-" + ref->name + ".local." : in.Text(in.Range(0, 1100));
                const std::string host = r.host.substr(0, r.host.find('\0'));
                r.port = in.U16();
                r.txt = Txt(in);
                if (ok) {
                    bool taken = true;
                    if (d.fixed == 0) d.fixed = r.iface;
                    else if (r.iface != d.fixed && !loopback) taken = false;
                    if (d.answered) taken = false;
                    if (taken) {
                        d.answered = true;
                        d.port = r.port;
                        if (loopback) {
                            d.hasAddress = true;
                            d.address = {rig.loopbackAddress, plat::ntohs(r.port)};
                        }
                        d.safe = ContainsKey(uint16_t(r.txt.size()), r.txt.data(), "safe") != 0;
                        uint32_t f[3], g[3];
                        if (!d.safe) {
                            const bool arcp = Version(r.txt, "arcp_vers", f);
                            if (arcp) d.arcp = uint16_t((f[0] & 0xF) << 12 | (f[1] & 0xF) << 8 | (f[2] & 0xFF));
                            ok = arcp && Version(r.txt, "router_vers", g) && g[0] > 0;
                        }
                        queryExpected = ok && !loopback && !host.empty();
                        if (!ok) d.failed = true;
                    } else {
                        ok = true;  // ignored: the resolve goes on
                    }
                } else {
                    d.failed = true;
                }
            } else {
                r.rdata = in.Byte() % 4 ? in.Bytes(4) : in.Bytes(in.Range(0, 16));
                if (ok) {
                    if (r.iface != d.fixed && !loopback) {
                        // ignored
                    } else if (r.rdata.size() != 4) {
                        d.failed = true;
                    } else {
                        uint32_t a = 0;
                        std::memcpy(&a, r.rdata.data(), 4);
                        d.hasAddress = true;
                        d.address = {a, plat::ntohs(d.port)};
                    }
                } else {
                    d.failed = true;
                }
            }
            const size_t refs = world.refs.size();
            ref->pending = &r;
            net_socket_set_add_read(&set, ref->sock);
            dr_devices_process(reg, &set);
            ORVEX_FUZZ_CHECK(ref->pending == nullptr, "a readable device socket was not processed");
            const int state = dr_device_get_state(d.device);
            if (d.failed) {
                ORVEX_FUZZ_CHECK(!ref->live, "a failed answer releases its reference");
                ORVEX_FUZZ_CHECK(state == DR_DEVICE_STATE_RESOLVING || state == DR_DEVICE_STATE_RESOLVED,
                                 "state " + std::to_string(state));
            }
            if (queryExpected) {
                ORVEX_FUZZ_CHECK(world.refs.size() == refs + 1 && world.refs.back()->kind == Ref::kQuery,
                                 "a resolve off loopback is followed by the query of its host");
                const std::string host = r.host.substr(0, r.host.find('\0')).substr(0, 1008);
                ORVEX_FUZZ_CHECK(world.refs.back()->host == host, "the query asks for " + world.refs.back()->host);
            }
            if (d.answered && !d.safe && !d.failed)
                ORVEX_FUZZ_CHECK(dr_device_get_arcp_version(d.device) == d.arcp, "arcp_vers packed");
            if (d.safe) ORVEX_FUZZ_CHECK(dr_device_is_safe_mode(d.device), "safe mode");
            dr_address out[2];
            out[1] = {0xDEADBEEF, 0xBEEF};
            unsigned count = 2;
            ORVEX_FUZZ_CHECK(dr_device_get_addresses(d.device, &count, out) == NET_OK && count == 1, "one address slot");
            ORVEX_FUZZ_CHECK(out[1].address == 0xDEADBEEF && out[1].port == 0xBEEF, "written past the room it has");
            if (d.hasAddress && !d.failed) {
                ORVEX_FUZZ_CHECK(state == DR_DEVICE_STATE_RESOLVED, "an address makes the device RESOLVED");
                ORVEX_FUZZ_CHECK(out[0].address == d.address.address && out[0].port == d.address.port,
                                 "address " + std::to_string(out[0].address) + ":" + std::to_string(out[0].port));
            }
            if (!d.hasAddress) ORVEX_FUZZ_CHECK(state == DR_DEVICE_STATE_RESOLVING, "RESOLVED without an address");
        } else {  // a device closed
            if (devices.empty()) continue;
            const size_t k = in.Byte() % devices.size();
            dr_device_close(devices[k].device);
            devices.erase(devices.begin() + long(k));
        }
        CheckTree(b);
    }

    for (Device& d : devices) dr_device_close(d.device);
    ORVEX_FUZZ_CHECK(dr_devices_delete(reg) == NET_OK, "the registry goes once its devices are closed");
    db_browse_delete(b);
    dnssd_set_api(nullptr);
    for (const auto& r : world.refs)
        ORVEX_FUZZ_CHECK(!r->live, "a reference left behind (" + r->name + r->regtype + r->host + ")");
    g_world = nullptr;
    g_model = nullptr;
    return 0;
}

void OrvexFuzzSeeds(fuzz::Seeds& seeds) {
    using fuzz::InputWriter;
    auto entries = [](InputWriter& w, std::initializer_list<std::pair<uint8_t, std::string>> list) {
        // Keys by their index, each with a raw value (the generator's last choice).
        w.Byte(0).Range(0, 8, uint32_t(list.size()));
        for (const auto& [key, value] : list) w.Byte(key).Byte(1).Byte(6).Range(0, 80, uint32_t(value.size())).Text(value);
    };
    // The transport's own browse: a device advertised under both types, its
    // resolves answered as the network card answers, then opened by name and
    // resolved through the query of its host.
    for (int variant = 0; variant < 3; ++variant) {
        InputWriter w;
        w.Byte(variant == 2 ? 4 : 0);  // mask 5, Pelk; the subtype refused in the last
        for (uint8_t type = 0; type < 2; ++type) {
            w.Byte(0).Byte(type).Byte(1).Byte(0).Byte(0).Byte(0).Byte(0).Byte(0);
        }
        w.Byte(3).Byte(0).Byte(1).Byte(0).Byte(1).Byte(0).U16(5645);  // arc resolve: interface, host, port
        entries(w, {{6, "1.2.3"}, {7, "1.0.0"}, {8, "2.0.1"}, {4, "Pelk"}, {5, "VA-VOVUZ"}});
        w.Byte(0);
        w.Byte(3).Byte(1).Byte(1).Byte(0).Byte(1).Byte(0).U16(5645);  // cmc resolve
        if (variant == 1)
            entries(w, {{0, "00112233445566g7"}, {1, "12"}});  // a bad id: dropped
        else
            entries(w, {{0, "0011223344556677"}, {1, "4711"}, {2, "8899AABBCCDDEEFF"}, {3, "1.2.3.4"}, {4, "Pelk"}});
        w.Byte(0);
        w.Byte(8).Byte(0).Byte(1).Byte(0);                                   // open the first node
        w.Byte(9).Byte(0).Byte(1).Byte(0).Byte(0).Byte(1).Byte(0x16).Byte(0x2D);  // its resolve
        entries(w, {{6, "1.2.3"}, {8, variant == 2 ? "0.1.0" : "2.0.1"}});
        w.Byte(9).Byte(0).Byte(1).Byte(0).Byte(0).Byte(1).Byte(127).Byte(0).Byte(0).Byte(2);  // the query's answer
        w.Byte(7).Range(0, 40, 31);  // thirty-one seconds later
        w.Byte(11).Byte(0);
        seeds.push_back(w.Data());
    }
}

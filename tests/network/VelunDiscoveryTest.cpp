// The Velun discovery component against the DNS-SD stand-in: the browse (its
// types, manufacturer subtype, limits, resolve queue, TXT checks and device
// tree) and the devices registry (resolve, address query, loopback shortcut,
// TXT versions and safe mode).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/network/DnsSdStandIn.h"
#include "velun/browse.h"
#include "velun/devices.h"
#include "velun/dnssd.h"
#include "velun/net.h"

namespace {

using namespace velun;
namespace sd = sim::dnssd;

uint32_t LoopbackIndex() {
    std::vector<plat::IpAddrRow> rows;
    plat::GetIpAddrTable(&rows);
    for (const auto& r : rows)
        if ((plat::ntohl(r.address) >> 24) == 127) return r.index;
    return 0;
}

sd::Service Device(const std::string& name, unsigned last = 1) {
    return sd::MakeService(name, "host-" + name, plat::htonl(0x7F000000u | last), 5645);
}

void SetTxt(uint8_t* txt, uint16_t* length, size_t size, std::initializer_list<std::string> entries) {
    ASSERT_TRUE(sd::BuildTxt(entries, txt, size, length));
}

class DiscoveryTest : public ::testing::Test {
public:
    net_env* env = nullptr;
    void SetUp() override {
        plat::UseVirtualClock(true);
        sd::Reset();
        dnssd_set_api(&sd::Api());
        ASSERT_EQ(net_env_setup(&env), NET_OK);
    }
    void TearDown() override {
        net_env_release(env);
        EXPECT_EQ(net_env_references(), 0);
        dnssd_set_api(nullptr);
        EXPECT_EQ(sd::GetStats().liveRefs, 0) << "every reference deallocated";
        sd::Reset();
    }
};

// ---- the browse ----------------------------------------------------------------------

struct Event {
    int kind;
    std::string name;
    bool existed;
};

class BrowseTest : public DiscoveryTest {
public:
    db_browse* browse = nullptr;
    net_socket_set sockets;
    std::vector<Event> events;
    int trees = 0;
    int results[13] = {};

    static void OnNode(db_browse* b, const db_node_event* e, bool existed) {
        auto* self = static_cast<BrowseTest*>(db_browse_get_context(b));
        self->events.push_back({e->kind, db_node_get_name(e->node), existed});
    }
    static void OnTree(db_browse* b) { ++static_cast<BrowseTest*>(db_browse_get_context(b))->trees; }
    static void OnSockets(db_browse* b) {
        auto* self = static_cast<BrowseTest*>(db_browse_get_context(b));
        net_socket_set_clear(&self->sockets);
        db_browse_get_sockets(b, &self->sockets);
    }

    void TearDown() override {
        db_browse_delete(browse);
        DiscoveryTest::TearDown();
    }
    // New browse for the mask with the maker's identifier, started with the defaults.
    int Start(uint32_t mask = 5, bool manufacturer = true, db_browse_config* config = nullptr) {
        EXPECT_EQ(db_browse_new(env, mask, &browse), NET_OK);
        EXPECT_EQ(db_browse_set_max_sockets(browse, 18), NET_OK);
        static const uint8_t pelk[8] = {'P', 'e', 'l', 'k', 0, 0, 0, 0};
        if (manufacturer) db_browse_set_manufacturer(browse, pelk);
        db_browse_set_context(browse, this);
        db_browse_set_node_changed_callback(browse, OnNode);
        db_browse_set_tree_changed_callback(browse, OnTree);
        db_browse_set_sockets_changed_callback(browse, OnSockets);
        db_browse_config defaults;
        db_browse_config_init(&defaults);
        const int r = db_browse_start_config(browse, config ? config : &defaults);
        net_socket_set_clear(&sockets);
        db_browse_get_sockets(browse, &sockets);
        return r;
    }
    // Passes as the transport runs them, until nothing is readable for a while.
    void Run(int idlePasses = 5, net_time* next = nullptr) {
        for (int idle = 0; idle < idlePasses;) {
            net_socket_set ready = sockets;
            const plat::TimeVal oneMs{0, 1000};
            if (plat::select(&ready.read, nullptr, &oneMs) <= 0) {
                ++idle;
                continue;
            }
            net_time deadline{};
            const int r = db_browse_process(browse, &ready, &deadline);
            if (r >= 0 && r < 13) ++results[r];
            if (next) *next = deadline;
        }
    }
    std::vector<std::string> Tree() const {
        std::vector<std::string> names;
        for (size_t i = 0; i < db_browse_get_num_nodes(browse); ++i)
            names.push_back(db_node_get_name(db_browse_get_node(browse, i)));
        return names;
    }
};

TEST(ManufacturerText, FromTheEightByteIdentifier) {
    struct Case {
        uint8_t id[8];
        const char* text;
    } cases[] = {
        {{'P', 'e', 'l', 'k', 0, 0, 0, 0}, "Pelk"},
        {{0, 0, 0, 0, 0, 0, 0, 0}, "_00"},
        {{0x41, 0x2B, 0, 0, 0, 0, 0, 0}, "_412b"},
        {{'_', 'x', 0, 0, 0, 0, 0, 0}, "_5f78"},
        {{'a', '-', 'b', '_', '9', 'Z', 'z', 'Q'}, "a-b_9ZzQ"},
        {{'a', 0, 'b', 0, 0, 0, 0, 0}, "_610062"},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "_ffffffffffffffff"},
    };
    for (const Case& c : cases) {
        char text[DB_MANUFACTURER_TEXT_MAX + 1];
        db_manufacturer_text(c.id, text, sizeof text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST_F(BrowseTest, ArgumentsLimitsAndStates) {
    EXPECT_EQ(db_browse_new(env, 0, &browse), NET_ERR_ARGUMENT);
    EXPECT_EQ(browse, nullptr);
    EXPECT_EQ(db_browse_new(env, 0x80, &browse), NET_ERR_ARGUMENT) << "no bit of the seven";
    ASSERT_EQ(db_browse_new(env, 5, &browse), NET_OK);
    EXPECT_EQ(db_browse_get_resolve_limit(browse), 16);
    EXPECT_EQ(db_browse_set_max_sockets(browse, 2), NET_ERR_ARGUMENT) << "below types + 1";
    EXPECT_EQ(db_browse_set_max_sockets(browse, 3), NET_OK);
    EXPECT_EQ(db_browse_get_resolve_limit(browse), 1);
    EXPECT_EQ(db_browse_set_max_sockets(browse, 18), NET_OK);
    EXPECT_EQ(db_browse_get_resolve_limit(browse), 16);
    net_socket_set set;
    EXPECT_EQ(db_browse_get_sockets(browse, &set), NET_ERR_STATE) << "not started";
    EXPECT_EQ(db_browse_get_sockets(browse, nullptr), NET_ERR_ARGUMENT);
    EXPECT_EQ(db_browse_get_sockets(nullptr, &set), NET_ERR_ARGUMENT);
    EXPECT_EQ(db_browse_get_num_networks(browse), 1);
    db_browse_config config;
    db_browse_config_init(&config);
    EXPECT_EQ(config.num_networks, 1);
    EXPECT_EQ(config.interface_indexes[0], 0u);
    EXPECT_EQ(config.network_mask, 0xFFFFFFFFu);
    EXPECT_TRUE(config.allow_loopback);
    EXPECT_EQ(config.resolve_timeout.sec, 30);
    EXPECT_EQ(config.resolve_timeout.usec, 0);
    ASSERT_EQ(db_browse_start_config(browse, &config), NET_OK);
    EXPECT_EQ(db_browse_start_config(browse, &config), NET_ERR_STATE) << "a second start";
    EXPECT_EQ(db_browse_set_max_sockets(browse, 17), NET_ERR_STATE) << "the limit is fixed once started";
    EXPECT_EQ(db_browse_set_max_sockets(browse, 18), NET_OK) << "the same limit again is no change";
    net_socket_set_clear(&set);
    EXPECT_EQ(db_browse_get_sockets(browse, &set), NET_OK);
    EXPECT_EQ(set.count, 2) << "one socket for each of the two types";
}

TEST_F(BrowseTest, TheTypesAreAskedForWithTheManufacturerSubtype) {
    ASSERT_EQ(Start(5, true), NET_OK);
    EXPECT_STREQ(db_browse_get_manufacturer(browse), "Pelk");
    EXPECT_STREQ(sd::GetStats().lastBrowseTypes[0], "_velun-arc._udp.,Pelk");
    EXPECT_STREQ(sd::GetStats().lastBrowseTypes[1], "_velun-cmc._udp.,Pelk");
    db_browse_delete(browse);
    browse = nullptr;
    ASSERT_EQ(Start(1, false), NET_OK);
    EXPECT_STREQ(sd::GetStats().lastBrowseTypes[1], "_velun-arc._udp.");
}

TEST_F(BrowseTest, OnlyDevicesUnderTheSubtypeAreFound) {
    sd::Service other = Device("Other");
    std::strcpy(other.subtype, "Acme");
    sd::Advertise(other);
    sd::Advertise(Device("Ours"));
    ASSERT_EQ(Start(), NET_OK);
    Run();
    EXPECT_EQ(Tree(), std::vector<std::string>{"Ours"});
}

// Avahi's library refuses the maker's subtype (it takes only subtypes that
// begin with an underscore): the types are browsed whole, and a device that
// names another maker in "mf" is left out.
TEST_F(BrowseTest, WhenTheSubtypeIsRefusedTheTypeIsBrowsedWholeAndOtherMakersLeftOut) {
    sd::SetAvahiLike(true);
    struct Device_ {
        const char* name;
        const char* mf;  // null: no "mf" at all
    } devices[] = {{"Ours", "Pelk"}, {"OursToo", "pelk"}, {"Theirs", "Acme"}, {"Unsaid", nullptr}};
    for (const Device_& d : devices) {
        sd::Service s = Device(d.name);
        s.subtype[0] = '\0';
        if (d.mf) SetTxt(s.arcTxt, &s.arcTxtLength, sizeof s.arcTxt, {"arcp_vers=1.2.3", std::string("mf=") + d.mf});
        else SetTxt(s.arcTxt, &s.arcTxtLength, sizeof s.arcTxt, {"arcp_vers=1.2.3"});
        sd::Advertise(s);
    }
    ASSERT_EQ(Start(), NET_OK);
    EXPECT_STREQ(sd::GetStats().lastBrowseTypes[1], "_velun-cmc._udp.") << "asked again without the subtype";
    EXPECT_EQ(sd::GetStats().browses, 4);
    Run();
    EXPECT_EQ(Tree(), (std::vector<std::string>{"Ours", "OursToo", "Unsaid"}));
}

TEST_F(BrowseTest, ARefusedBrowseStartsNothing) {
    sd::RefuseBrowse(sd::kCmcType);  // the second of the two
    EXPECT_EQ(Start(), NET_ERR_DNSSD);
    EXPECT_EQ(sd::GetStats().liveRefs, 0) << "the first type's browse is stopped again";
    net_socket_set set;
    EXPECT_EQ(db_browse_get_sockets(browse, &set), NET_ERR_STATE);
}

TEST_F(BrowseTest, ADeviceUnderBothTypesIsOneNodeReportedNewOnce) {
    sd::Service s = Device("Card");
    s.types = sd::kArcType | sd::kCmcType;
    SetTxt(s.cmcTxt, &s.cmcTxtLength, sizeof s.cmcTxt,
           {"id=00112233445566aA", "process=12", "vid=0102030405060708", "vba=1.2.3.4", "model=VA-VOVUZ"});
    sd::Advertise(s);
    ASSERT_EQ(Start(), NET_OK);
    Run();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].name, "Card");
    EXPECT_FALSE(events[0].existed);
    EXPECT_TRUE(events[1].existed) << "the second type changed the node";
    EXPECT_EQ(Tree(), std::vector<std::string>{"Card"});
    const db_node* node = db_browse_get_node(browse, 0);
    EXPECT_EQ(db_node_get_types(node, 0), 5u);
    EXPECT_STREQ(db_node_get_host(node), "host-Card") << "the host up to its first dot";
    const db_version arcp = db_node_get_arcp_version(node);
    EXPECT_TRUE(arcp.present);
    EXPECT_EQ(arcp.major * 100 + arcp.minor * 10 + arcp.patch, 123u);
    uint8_t id[8], vba[4];
    uint32_t process = 0;
    ASSERT_TRUE(db_node_get_id(node, id));
    EXPECT_EQ(id[7], 0xAA);
    ASSERT_TRUE(db_node_get_process(node, &process));
    EXPECT_EQ(process, 12u);
    ASSERT_TRUE(db_node_get_vba(node, vba));
    EXPECT_EQ(vba[3], 4);
    EXPECT_STREQ(db_node_get_model(node), "VA-VOVUZ");
    EXPECT_GE(trees, 1);
}

TEST_F(BrowseTest, TheTreeIsSortedWithoutRegardToCase) {
    for (const char* name : {"unitB", "UnitA", "middle", "Zeta", "alpha"}) sd::Advertise(Device(name));
    ASSERT_EQ(Start(), NET_OK);
    Run();
    EXPECT_EQ(Tree(), (std::vector<std::string>{"alpha", "middle", "UnitA", "unitB", "Zeta"}));
}

TEST_F(BrowseTest, TheFirstAdvertisementFixesTheNetworkAndLoopbackHasItsOwn) {
    ASSERT_NE(LoopbackIndex(), 0u) << "the test needs the loopback interface";
    sd::Advertise(Device("First"));
    sd::Service second = Device("OtherCard");
    second.interfaceIndex = sd::kStudioInterface + 1;
    sd::Advertise(second);
    sd::Service local = Device("Local");
    local.interfaceIndex = LoopbackIndex();
    sd::Advertise(local);
    ASSERT_EQ(Start(), NET_OK);
    Run();
    EXPECT_EQ(Tree(), (std::vector<std::string>{"First", "Local"})) << "the second network card is not listened to";
    EXPECT_EQ(db_node_get_types(db_browse_get_node(browse, 1), 1), 1u) << "Local sits on the loopback network";
}

TEST_F(BrowseTest, NamesTooLongOrEmptyAreIgnored) {
    sd::Advertise(Device(std::string(32, 'x')));
    sd::Advertise(Device(""));
    sd::Advertise(Device(std::string(31, 'y')));
    ASSERT_EQ(Start(), NET_OK);
    Run();
    EXPECT_EQ(Tree(), std::vector<std::string>{std::string(31, 'y')});
}

TEST_F(BrowseTest, ConmonServicesWithoutAValidIdAndProcessAreDropped) {
    struct Case {
        std::initializer_list<std::string> txt;
        bool kept;
    } cases[] = {
        {{"id=0011223344556677", "process=1"}, true},
        {{"id=0011223344556677", "process=42", "vid=AABBCCDDEEFF0011", "vba=10.0.255.1", "mf=Pelk"}, true},
        {{"id=001122334455667", "process=1"}, false},      // 15 characters
        {{"id=00112233445566778", "process=1"}, false},    // 17
        {{"id=00112233445566zz", "process=1"}, false},     // not hexadecimal
        {{"process=1"}, false},                            // no id
        {{"id=0011223344556677"}, false},                  // no process
        {{"id=0011223344556677", "process="}, false},      // empty process
        {{"id=0011223344556677", "process=x1"}, false},    // not a number
        {{"id=0011223344556677", "process=1", "vid=0011"}, false},
        {{"id=0011223344556677", "process=1", "vba=1.2.3"}, false},
        {{"id=0011223344556677", "process=1", "vba=1.2.3.256"}, false},
    };
    int i = 0;
    for (const Case& c : cases) {
        sd::Service s = Device("cmc" + std::to_string(i++));
        s.types = sd::kCmcType;
        SetTxt(s.cmcTxt, &s.cmcTxtLength, sizeof s.cmcTxt, c.txt);
        sd::Advertise(s);
    }
    ASSERT_EQ(Start(), NET_OK);
    Run();
    EXPECT_EQ(Tree(), (std::vector<std::string>{"cmc0", "cmc1"}));
}

TEST_F(BrowseTest, MalformedAndMissingTxtValuesLeaveTheNodeWithoutThem) {
    sd::Service s = Device("Broken");
    // A length byte that runs past the record's end.
    const uint8_t broken[] = {14, 'a', 'r', 'c', 'p', '_', 'v', 'e', 'r', 's', '=', '1', '.', '2', '.', 3, 'x'};
    std::memcpy(s.arcTxt, broken, sizeof broken);
    s.arcTxtLength = 20;  // longer than the bytes that make sense
    sd::Advertise(s);
    sd::Service t = Device("Partial");
    SetTxt(t.arcTxt, &t.arcTxtLength, sizeof t.arcTxt, {"arcp_vers=1.2", "router_vers=3.4.5", "mf"});
    sd::Advertise(t);
    ASSERT_EQ(Start(), NET_OK);
    Run();
    ASSERT_EQ(Tree(), (std::vector<std::string>{"Broken", "Partial"}));
    EXPECT_FALSE(db_node_get_arcp_version(db_browse_get_node(browse, 0)).present);
    const db_node* partial = db_browse_get_node(browse, 1);
    EXPECT_FALSE(db_node_get_arcp_version(partial).present) << "1.2 is not a version";
    EXPECT_TRUE(db_node_get_router_version(partial).present);
    EXPECT_STREQ(db_node_get_manufacturer(partial), "") << "a key without a value";
}

TEST_F(BrowseTest, ErrorRepliesFailTheirPassAndTheBrowseGoesOn) {
    sd::Service bad = Device("BadAd");
    bad.faults = sd::kBrowseError;
    sd::Advertise(bad);
    sd::Service badResolve = Device("BadResolve");
    badResolve.faults = sd::kResolveError;
    sd::Advertise(badResolve);
    sd::Advertise(Device("Good"));
    ASSERT_EQ(Start(), NET_OK);
    Run();
    EXPECT_EQ(results[NET_ERR_DNSSD], 2) << "one pass for each error reply";
    EXPECT_EQ(Tree(), std::vector<std::string>{"Good"});
    int waiting = 0;
    EXPECT_EQ(db_browse_get_num_resolves(browse, &waiting), 0);
    EXPECT_EQ(sd::GetStats().liveResolves, 0);
}

TEST_F(BrowseTest, AResolveWithoutAnswerIsDroppedAfterThirtySecondsAndItsAdvertisementReconfirmed) {
    sd::Service silent = Device("Sil.ent");
    silent.faults = sd::kNeverResolves;
    sd::Advertise(silent);
    ASSERT_EQ(Start(), NET_OK);
    net_time next{};
    Run(5, &next);
    int waiting = 0;
    ASSERT_EQ(db_browse_get_num_resolves(browse, &waiting), 1);
    const net_time started = net_time_now();
    EXPECT_GE(net_time_compare(next, net_time_add(started, 29'900'000)), 0) << "the deadline is 30 s away";
    EXPECT_LE(net_time_compare(next, net_time_add(started, 30'000'000)), 0);
    EXPECT_EQ(sd::GetStats().reconfirms, 0);

    plat::AdvanceVirtualClock(30'000'000);
    net_socket_set none = sockets;
    none.read.fd_count = 0;  // nothing readable: the pass only looks at the clock
    EXPECT_EQ(db_browse_process(browse, &none, &next), NET_OK);
    EXPECT_TRUE(net_time_is_zero(next)) << "no resolve active any more";
    EXPECT_EQ(db_browse_get_num_resolves(browse, &waiting), 0);
    EXPECT_EQ(sockets.count, 2) << "the resolve's socket left the set";
    const sd::Stats& st = sd::GetStats();
    EXPECT_EQ(st.reconfirms, 1);
    EXPECT_STREQ(st.lastReconfirmName, "Sil\\.ent._velun-arc._udp.local.");
    EXPECT_EQ(st.lastReconfirmType, kDNSServiceType_PTR);
    EXPECT_EQ(st.lastReconfirmClass, kDNSServiceClass_IN);
    EXPECT_EQ(st.lastReconfirmInterface, sd::kStudioInterface) << "on the first network's interface";
    EXPECT_TRUE(Tree().empty());
}

TEST_F(BrowseTest, AtMostSixteenResolvesRunAtOnceAndTheOthersWaitForAPlace) {
    for (int i = 0; i < 24; ++i) {
        sd::Service s = Device("dev" + std::to_string(100 + i));
        s.faults = sd::kNeverResolves;
        sd::Advertise(s);
    }
    ASSERT_EQ(Start(), NET_OK);
    Run(30);
    int waiting = 0;
    EXPECT_EQ(db_browse_get_num_resolves(browse, &waiting), 16);
    EXPECT_EQ(waiting, 8);
    EXPECT_EQ(sd::GetStats().peakResolves, 16);
    EXPECT_EQ(sockets.count, 2 + 16);

    plat::AdvanceVirtualClock(30'000'000);
    net_socket_set none = sockets;
    none.read.fd_count = 0;
    net_time next{};
    EXPECT_EQ(db_browse_process(browse, &none, &next), NET_OK);
    EXPECT_EQ(sd::GetStats().reconfirms, 16);
    EXPECT_EQ(db_browse_get_num_resolves(browse, &waiting), 8) << "the waiting ones took the free places";
    EXPECT_EQ(waiting, 0);
    EXPECT_FALSE(net_time_is_zero(next));
}

TEST_F(BrowseTest, ManyDevicesAreAllResolvedAndEachReportedNewOnce) {
    for (int i = 0; i < 40; ++i) sd::Advertise(Device("dev" + std::to_string(100 + i)));
    ASSERT_EQ(Start(), NET_OK);
    Run();
    EXPECT_EQ(Tree().size(), 40u);
    EXPECT_EQ(events.size(), 40u);
    for (const Event& e : events) EXPECT_FALSE(e.existed);
}

// ---- the devices registry -------------------------------------------------------------

class DevicesTest : public DiscoveryTest {
public:
    dr_devices* reg = nullptr;
    net_socket_set sockets;
    int changes = 0;
    static void OnSockets(dr_devices* d) {
        auto* self = static_cast<DevicesTest*>(dr_devices_get_context(d));
        net_socket_set_clear(&self->sockets);
        dr_devices_get_sockets(d, &self->sockets);
    }
    static void OnChanged(dr_device* d) { ++static_cast<DevicesTest*>(dr_device_get_context(d))->changes; }
    void SetUp() override {
        DiscoveryTest::SetUp();
        ASSERT_EQ(dr_devices_new(env, &reg), NET_OK);
        dr_devices_set_context(reg, this);
        dr_devices_set_sockets_changed_callback(reg, OnSockets);
        net_socket_set_clear(&sockets);
        dr_devices_get_sockets(reg, &sockets);
    }
    void TearDown() override {
        EXPECT_EQ(dr_devices_delete(reg), NET_OK);
        DiscoveryTest::TearDown();
    }
    dr_device* Open(const char* name) {
        dr_device* d = nullptr;
        EXPECT_EQ(dr_device_open(reg, name, &d), NET_OK);
        if (d) {
            dr_device_set_context(d, this);
            dr_device_set_changed_callback(d, OnChanged);
        }
        return d;
    }
    // Processes until the device resolves or nothing is readable any more.
    void Resolve(dr_device* d) {
        for (int i = 0; i < 20 && dr_device_get_state(d) != DR_DEVICE_STATE_RESOLVED; ++i) {
            net_socket_set ready = sockets;
            const plat::TimeVal wait{0, 1000};
            if (plat::select(&ready.read, nullptr, &wait) <= 0) return;
            EXPECT_EQ(dr_devices_process(reg, &ready), NET_OK) << "a device's failure is not the pass's";
        }
    }
};

TEST_F(DevicesTest, ADeviceResolvesThroughTheQueryOfItsHost) {
    sd::Advertise(Device("Card", 9));
    dr_device* d = Open("Card");
    EXPECT_EQ(sockets.count, 2) << "the registry's socket and the resolve's";
    EXPECT_EQ(dr_device_get_state(d), DR_DEVICE_STATE_RESOLVING);
    Resolve(d);
    ASSERT_EQ(dr_device_get_state(d), DR_DEVICE_STATE_RESOLVED);
    EXPECT_EQ(sd::GetStats().queries, 1);
    dr_address found[2] = {{1, 1}, {2, 2}};
    unsigned count = 2;
    EXPECT_EQ(dr_device_get_addresses(d, &count, found), NET_OK);
    EXPECT_EQ(count, 1u) << "a device opened by name has one address slot";
    EXPECT_EQ(found[0].address, plat::htonl(0x7F000009));
    EXPECT_EQ(found[0].port, 5645);
    EXPECT_EQ(found[1].address, 2u) << "entries beyond the slots are not written";
    EXPECT_EQ(dr_device_get_arcp_version(d), 0x1203) << "1.2.3";
    uint8_t major = 0, minor = 0;
    uint16_t patch = 0;
    dr_device_get_router_version(d, &major, &minor, &patch);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 0);
    EXPECT_EQ(patch, 1);
    EXPECT_FALSE(dr_device_is_safe_mode(d));
    EXPECT_GE(changes, 1);
    EXPECT_EQ(sockets.count, 1) << "nothing left to wait on for the device";
    EXPECT_EQ(dr_devices_delete(reg), NET_ERR_STATE) << "a device is still open";
    dr_device_close(d);
}

TEST_F(DevicesTest, AnAddressQueryRefusedForItsFlagsIsAskedPlainly) {
    sd::SetAvahiLike(true);
    sd::Advertise(Device("Card", 12));
    dr_device* d = Open("Card");
    Resolve(d);
    ASSERT_EQ(dr_device_get_state(d), DR_DEVICE_STATE_RESOLVED);
    dr_address a;
    unsigned count = 1;
    dr_device_get_addresses(d, &count, &a);
    EXPECT_EQ(a.address, plat::htonl(0x7F00000C));
    EXPECT_EQ(sd::GetStats().queries, 1) << "the refused query made no reference";
    dr_device_close(d);
}

TEST_F(DevicesTest, ADeviceOnTheLoopbackInterfaceGetsTheLoopbackAddressWithoutAQuery) {
    ASSERT_NE(LoopbackIndex(), 0u);
    sd::Service s = Device("Here", 7);
    s.interfaceIndex = LoopbackIndex();
    s.port = 4321;
    sd::Advertise(s);
    dr_device* d = Open("Here");
    Resolve(d);
    ASSERT_EQ(dr_device_get_state(d), DR_DEVICE_STATE_RESOLVED);
    EXPECT_EQ(sd::GetStats().queries, 0);
    dr_address a;
    unsigned count = 1;
    dr_device_get_addresses(d, &count, &a);
    EXPECT_EQ(a.address, plat::htonl(0x7F000001)) << "the loopback interface's own address";
    EXPECT_EQ(a.port, 4321);
    dr_device_close(d);
}

TEST_F(DevicesTest, ADeviceInSafeModeIsMarkedAndStillResolves) {
    sd::Service s = Device("Safe", 3);
    SetTxt(s.arcTxt, &s.arcTxtLength, sizeof s.arcTxt, {"safe", "arcp_vers=garbage"});
    sd::Advertise(s);
    dr_device* d = Open("Safe");
    Resolve(d);
    EXPECT_EQ(dr_device_get_state(d), DR_DEVICE_STATE_RESOLVED);
    EXPECT_TRUE(dr_device_is_safe_mode(d));
    dr_device_close(d);
}

TEST_F(DevicesTest, AFailedResolutionLeavesTheDeviceResolvingWithNothingToWaitOn) {
    struct Case {
        const char* what;
        std::initializer_list<std::string> txt;
        uint32_t faults;
        bool socketLeft;  // the device still waits for an answer
    } cases[] = {
        {"no arcp_vers", {"router_vers=2.0.1"}, 0, false},
        {"empty arcp_vers", {"arcp_vers=", "router_vers=2.0.1"}, 0, false},
        {"arcp_vers of two fields", {"arcp_vers=1.2", "router_vers=2.0.1"}, 0, false},
        {"arcp_vers of 64 characters", {"arcp_vers=1.2.3" + std::string(59, '0'), "router_vers=2.0.1"}, 0, false},
        {"no router_vers", {"arcp_vers=1.2.3"}, 0, false},
        {"router_vers major 0", {"arcp_vers=1.2.3", "router_vers=0.5.1"}, 0, false},
        {"resolve error", {"arcp_vers=1.2.3", "router_vers=2.0.1"}, sd::kResolveError, false},
        {"query error", {"arcp_vers=1.2.3", "router_vers=2.0.1"}, sd::kQueryError, false},
        {"six-byte address", {"arcp_vers=1.2.3", "router_vers=2.0.1"}, sd::kBadAddressLength, false},
        {"no address answer", {"arcp_vers=1.2.3", "router_vers=2.0.1"}, sd::kNoAddress, true},
        {"no resolve answer", {"arcp_vers=1.2.3", "router_vers=2.0.1"}, sd::kNeverResolves, true},
    };
    for (const Case& c : cases) {
        sd::Reset();
        sd::Service s = Device("Dev", 4);
        SetTxt(s.arcTxt, &s.arcTxtLength, sizeof s.arcTxt, c.txt);
        s.faults = c.faults;
        sd::Advertise(s);
        dr_device* d = Open("Dev");
        Resolve(d);
        EXPECT_EQ(dr_device_get_state(d), DR_DEVICE_STATE_RESOLVING) << c.what;
        EXPECT_EQ(sockets.count, c.socketLeft ? 2 : 1) << c.what;
        dr_device_close(d);
        EXPECT_EQ(sockets.count, 1) << c.what << ": closing takes the device's socket away";
    }
}

TEST_F(DevicesTest, ARefusedResolveMeansNoDevice) {
    sd::Service s = Device("Refused", 5);
    s.faults = sd::kResolveRefused;
    sd::Advertise(s);
    dr_device* d = reinterpret_cast<dr_device*>(1);
    EXPECT_EQ(dr_device_open(reg, "Refused", &d), NET_ERR_DNSSD);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(sockets.count, 1) << "and nothing to wait on; the fixture's delete finds no device open";
}

TEST_F(DevicesTest, ArgumentsAndStateNames) {
    dr_device* d = reinterpret_cast<dr_device*>(1);
    EXPECT_EQ(dr_device_open(reg, "", &d), NET_ERR_ARGUMENT);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(dr_device_open(reg, nullptr, &d), NET_ERR_ARGUMENT);
    EXPECT_EQ(dr_devices_process(nullptr, &sockets), NET_ERR_ARGUMENT);
    unsigned count = 1;
    EXPECT_EQ(dr_device_get_addresses(nullptr, &count, nullptr), NET_ERR_ARGUMENT);
    struct Name {
        int state;
        const char* text;
    } names[] = {{0, "ERROR"}, {1, "RESOLVING"}, {2, "RESOLVED"}, {3, "QUERYING"}, {4, "ACTIVE"}, {5, "UNKNOWN"},
                 {-1, "UNKNOWN"}};
    for (const Name& n : names) EXPECT_STREQ(dr_device_state_to_string(n.state), n.text);
    // Datagrams on the registry's own socket are read to the end; the pass succeeds.
    plat::SockAddrIn self;
    ASSERT_EQ(plat::getsockname(sockets.read.fd_array[0], &self), 0);
    plat::Socket s = plat::socket(plat::kAfInet, plat::kSockDgram, plat::kIpprotoUdp);
    const uint8_t junk[3] = {1, 2, 3};
    for (int i = 0; i < 3; ++i) plat::sendto(s, junk, 3, 0, {plat::htonl(0x7F000001), self.port});
    plat::closesocket(s);
    net_socket_set ready = sockets;
    const plat::TimeVal wait{0, 1000};
    ASSERT_EQ(plat::select(&ready.read, nullptr, &wait), 1);
    EXPECT_EQ(dr_devices_process(reg, &ready), NET_OK);
    ready = sockets;
    EXPECT_EQ(plat::select(&ready.read, nullptr, &wait), 0) << "all three read";
}

TEST(SocketSet, AddsOnceCountsBeyondTheArrayAndClosesGaps) {
    net_socket_set set;
    net_socket_set_clear(&set);
    net_socket_set_add_read(&set, 5);
    net_socket_set_add_read(&set, 5);
    net_socket_set_add_read(&set, 6);
    net_socket_set_add_read(&set, 7);
    EXPECT_EQ(set.count, 3);
    net_socket_set_remove_read(&set, 6);
    EXPECT_EQ(set.count, 2);
    ASSERT_EQ(set.read.fd_count, 2u);
    EXPECT_EQ(set.read.fd_array[1], plat::Socket{7});
    for (int i = 0; i < 1100; ++i) net_socket_set_add_read(&set, 100 + i);
    EXPECT_EQ(set.count, 1102);
    EXPECT_EQ(set.read.fd_count, plat::kFdSetSize);
}

}  // namespace

// The network transport over real UDP on loopback: discovery through the
// DNS-SD stand-in, emulated cards answering to port 5646, and the transport's
// rules for connections, ports, reads and failures.
#include "transport/VelunIF.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "protocol/RemoteMessages.h"
#include "tests/network/NetworkRig.h"
#include "velun/net.h"

namespace {

using orvex::CVelunIF;
using Bytes = std::vector<uint8_t>;

struct Registers : orvex::IResponseSink {
    uint16_t first = 0xFFFF;
    uint32_t count = 0;
    void CountResponse() override {}
    void StoreRegisters(uint16_t f, uint32_t n, const uint8_t*) override {
        first = f;
        count = n;
    }
};

class VelunIFTest : public NetworkRig {
public:
    // Open with the time it took on the program clock.
    uint16_t TimedOpen(CVelunIF& net, uint32_t* ms) {
        const uint32_t start = plat::GetTickCount();
        const uint16_t status = net.Open();
        *ms = plat::GetTickCount() - start;
        return status;
    }
    // Reads until a datagram comes or `tries` empty reads went by.
    uint16_t ReadOne(CVelunIF& net, Bytes* got, int tries = 50) {
        uint8_t buffer[4095];
        for (int i = 0; i < tries; ++i) {
            int32_t n = 0;
            const uint16_t status = net.Read(buffer, sizeof buffer, &n);
            if (status != 0) return status;
            if (n > 0) {
                got->assign(buffer, buffer + n);
                return 0;
            }
            PumpCards();
        }
        got->clear();
        return 0;
    }
};

TEST_F(VelunIFTest, WithNoDeviceOpenFailsAfterOneSecondAndReleasesEverything) {
    CVelunIF warmup;  // the first use loads what the process keeps anyway (locale, resolver tables)
    warmup.Open();
    const int descriptors = OpenDescriptors();
    CVelunIF net;
    uint32_t ms = 0;
    EXPECT_EQ(TimedOpen(net, &ms), 1);
    EXPECT_GE(ms, 1000u);
    EXPECT_LT(ms, 1100u);
    EXPECT_FALSE(net.IsOpen());
    uint16_t number = 0;
    EXPECT_EQ(net.GetCurrentConnection(&number), 1) << "not open";
    EXPECT_EQ(velun::net_env_references(), 0);
    EXPECT_EQ(sim::dnssd::GetStats().liveRefs, 0);
    EXPECT_EQ(sim::dnssd::GetStats().browses, 4) << "one browse for each type, at each Open";
    EXPECT_EQ(velun::dnssd_get_api(), nullptr);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(VelunIFTest, TwoDevicesAreConnectionsInTheOrderOfDiscovery) {
    AddCard(3);
    AddCard(2);
    CVelunIF net;
    uint32_t ms = 0;
    ASSERT_EQ(TimedOpen(net, &ms), 0);
    EXPECT_LT(ms, 1100u);
    EXPECT_TRUE(net.IsOpen());
    uint16_t count = 0, current = 0;
    EXPECT_EQ(net.GetNumConnections(&count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(net.GetCurrentConnection(&current), 0);
    EXPECT_EQ(current, orvex::kTransportNoConnection) << "open, none selected";
    EXPECT_STREQ(net.DeviceName(0), "VA-VOVUZ-3");
    EXPECT_STREQ(net.DeviceName(1), "VA-VOVUZ-2");

    char text[255];
    struct Case {
        uint16_t number;
        const char* description;
    } cases[] = {{0, "Velun (127.0.0.3)"}, {1, "Velun (127.0.0.2)"}};
    for (const Case& c : cases) {
        EXPECT_EQ(net.SelectConnection(c.number), 0);
        EXPECT_EQ(net.GetCurrentConnection(&current), 0);
        EXPECT_EQ(current, c.number);
        EXPECT_EQ(net.GetConnectionDescription(c.number, text, sizeof text), 0);
        EXPECT_STREQ(text, c.description);
    }
    EXPECT_EQ(net.SelectConnection(2), 1);
    EXPECT_EQ(net.GetCurrentConnection(&current), 0);
    EXPECT_EQ(current, 1) << "a refused selection changes nothing";
    // The description is cut to the caller's size.
    char small[10];
    EXPECT_EQ(net.GetConnectionDescription(1, small, sizeof small), 0);
    EXPECT_STREQ(small, "Velun (12");
    EXPECT_EQ(sim::dnssd::GetStats().queries, 2) << "each address came from a query of the device's host";
}

// Cards on the same ports at different loopback addresses each get only their
// own datagrams (on Linux and under Wine alike, for addresses other than 127.0.0.1).
TEST_F(VelunIFTest, CardsOnDistinctLoopbackAddressesKeepTheirOwnDatagrams) {
    for (unsigned last : {2u, 3u, 4u}) AddCard(last);
    plat::Socket s = plat::socket(plat::kAfInet, plat::kSockDgram, plat::kIpprotoUdp);
    ASSERT_NE(s, plat::kInvalidSocket);
    const uint8_t one[1] = {0xF8};
    for (size_t i = 0; i < cards.size(); ++i)
        for (int n = 0; n <= static_cast<int>(i); ++n)
            ASSERT_EQ(plat::sendto(s, one, 1, 0, {cards[i]->Address(), plat::htons(n % 2 ? 5647 : 5645)}), 1);
    plat::closesocket(s);
    PumpCards();
    for (size_t i = 0; i < cards.size(); ++i) EXPECT_EQ(cards[i]->Received().size(), i + 1) << "card " << i;
}

TEST_F(VelunIFTest, TheSlotTargetChoosesThePortAndNothingIsSentForAnEmptyBlock) {
    AddCard(1);
    CVelunIF net;
    ASSERT_EQ(net.Open(), 0);
    ASSERT_EQ(net.SelectConnection(0), 0);
    const Bytes status = orvex::EncodeStatusRequest(1, 23, false);
    struct Step {
        bool slot;
        uint16_t port;
    } steps[] = {{false, 5645}, {true, 5647}, {false, 5645}};
    for (const Step& s : steps) {
        EXPECT_EQ(net.SetSlotTarget(s.slot), 0);
        cards[0]->ClearReceived();
        ASSERT_EQ(net.Write(status.data(), static_cast<int32_t>(status.size())), 0);
        PumpCards();
        ASSERT_EQ(cards[0]->Received().size(), 1u);
        EXPECT_EQ(cards[0]->Received()[0].port, s.port);
        EXPECT_EQ(cards[0]->Received()[0].bytes, status) << "the block goes unchanged";
        Bytes answer;
        ASSERT_EQ(ReadOne(net, &answer), 0);
        Registers sink;
        EXPECT_EQ(orvex::DecodeMessage(answer.data(), static_cast<uint32_t>(answer.size()), &sink), 0);
        EXPECT_EQ(sink.first, 1) << "the status response came to port 5646";
        EXPECT_EQ(sink.count, 24u);
    }
    // With nothing waiting a read takes at most a millisecond.
    uint8_t buffer[4095];
    int32_t n = -1;
    const uint32_t before = plat::GetTickCount();
    EXPECT_EQ(net.Read(buffer, sizeof buffer, &n), 0);
    EXPECT_EQ(n, 0);
    EXPECT_LE(plat::GetTickCount() - before, 2u);
    cards[0]->ClearReceived();
    EXPECT_EQ(net.Write(status.data(), 0), 0);
    EXPECT_EQ(net.Write(status.data(), -3), 0);
    PumpCards();
    EXPECT_TRUE(cards[0]->Received().empty());
}

TEST_F(VelunIFTest, ADatagramFromAnySenderIsHandedOverAndAFaultyOneClosesTheTransport) {
    AddCard(2);
    AddCard(3);
    struct Case {
        const char* what;
        Bytes datagram;
        bool closes;
    } cases[] = {
        {"from the device not selected", {0xF0, 0x01, 0xF7}, false},
        {"empty", {}, true},
        {"longer than the reader's buffer", Bytes(5000, 0x42), true},
    };
    for (const Case& c : cases) {
        CVelunIF net;
        ASSERT_EQ(net.Open(), 0) << c.what;
        ASSERT_EQ(net.SelectConnection(0), 0);
        ASSERT_TRUE(cards[1]->SendToComputer(c.datagram)) << c.what;
        Bytes got;
        const uint16_t status = ReadOne(net, &got);
        if (c.closes) {
            EXPECT_EQ(status, 1) << c.what;
            EXPECT_FALSE(net.IsOpen()) << c.what;
            uint8_t buffer[16];
            int32_t n = 7;
            EXPECT_EQ(net.Read(buffer, sizeof buffer, &n), 1) << c.what << ": a closed transport reads nothing";
            EXPECT_EQ(n, 0);
            EXPECT_EQ(velun::net_env_references(), 0) << c.what;
        } else {
            EXPECT_EQ(status, 0) << c.what;
            EXPECT_EQ(got, c.datagram) << c.what;
            EXPECT_TRUE(net.IsOpen());
        }
    }
}

TEST_F(VelunIFTest, AnotherProgramHoldingPort5646MakesOpenFail) {
    AddCard(1);
    plat::Socket other = plat::socket(plat::kAfInet, plat::kSockDgram, plat::kIpprotoUdp);
    ASSERT_EQ(plat::bind(other, {0, plat::htons(5646)}), 0);
    CVelunIF net;
    EXPECT_EQ(net.Open(), 1);
    EXPECT_FALSE(net.IsOpen());
    EXPECT_EQ(velun::net_env_references(), 0);
    EXPECT_EQ(sim::dnssd::GetStats().liveRefs, 0);
    plat::closesocket(other);
    EXPECT_EQ(net.Open(), 0) << "and works once the port is free";
}

TEST_F(VelunIFTest, TheFilterHasNoEffect) {
    AddCard(1);
    for (const char* filter : {"", "Nothing like it"}) {
        CVelunIF net;
        net.SetPortNameFilter(filter);
        ASSERT_EQ(net.Open(), 0) << filter;
        uint16_t count = 0;
        net.GetNumConnections(&count);
        EXPECT_EQ(count, 1) << filter;
    }
}

TEST_F(VelunIFTest, ASeventeenthDeviceIsNotListed) {
    for (unsigned i = 2; i <= 18; ++i) AddCard(i);
    CVelunIF net;
    ASSERT_EQ(net.Open(), 0);
    uint16_t count = 0;
    net.GetNumConnections(&count);
    EXPECT_EQ(count, 16);
    for (uint16_t i = 0; i < 16; ++i) {
        EXPECT_STREQ(net.DeviceName(i), ("VA-VOVUZ-" + std::to_string(i + 2)).c_str());
        EXPECT_EQ(net.DeviceAddress(i), Loopback(i + 2u));
    }
    EXPECT_EQ(net.SelectConnection(16), 1);
    EXPECT_EQ(sim::dnssd::GetStats().queries, 16) << "the seventeenth is not even resolved";
}

// A device that does not resolve is not listed. One the browse never resolves
// is not even reported; one whose address never comes costs the bound; one
// whose resolution failed costs nothing more.
TEST_F(VelunIFTest, ADeviceThatDoesNotResolveIsNotListedAndOpenStaysBounded) {
    struct Case {
        const char* what;
        uint32_t faults;
        const char* txt;  // replaces the ARC TXT when set
        bool waitsTheBound;
    } cases[] = {
        {"never answers the resolve", sim::dnssd::kNeverResolves, nullptr, false},
        {"never answers the address query", sim::dnssd::kNoAddress, nullptr, true},
        {"answers the resolve with an error", sim::dnssd::kResolveError, nullptr, false},
        {"answers the query with an error", sim::dnssd::kQueryError, nullptr, false},
        {"answers the query with 6 bytes", sim::dnssd::kBadAddressLength, nullptr, false},
        {"has no arcp_vers", 0, "router_vers=2.0.1", false},
        {"has a router_vers of major 0", 0, "arcp_vers=1.2.3|router_vers=0.9.0", false},
        {"has an unreadable arcp_vers", 0, "arcp_vers=1.2|router_vers=2.0.1", false},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        AddCard(2, DefaultConfig(), c.faults);
        if (c.txt) {
            sim::dnssd::Reset();
            sim::dnssd::Service s = sim::dnssd::MakeService("VA-VOVUZ-2", "vovuz-2", Loopback(2), 5645);
            std::vector<std::string> entries;
            for (std::string t = c.txt; !t.empty();) {
                const size_t bar = t.find('|');
                entries.push_back(t.substr(0, bar));
                t = bar == std::string::npos ? "" : t.substr(bar + 1);
            }
            s.arcTxtLength = 0;
            for (const std::string& e : entries) {
                s.arcTxt[s.arcTxtLength++] = static_cast<uint8_t>(e.size());
                std::memcpy(s.arcTxt + s.arcTxtLength, e.data(), e.size());
                s.arcTxtLength = static_cast<uint16_t>(s.arcTxtLength + e.size());
            }
            sim::dnssd::Advertise(s);
        }
        AddCard(3);  // a good one after it
        CVelunIF net;
        uint32_t ms = 0;
        ASSERT_EQ(TimedOpen(net, &ms), 0) << c.what;
        uint16_t count = 0;
        net.GetNumConnections(&count);
        EXPECT_EQ(count, 1) << c.what;
        EXPECT_STREQ(net.DeviceName(0), "VA-VOVUZ-3") << c.what;
        if (c.waitsTheBound) {
            EXPECT_GE(ms, 1000u + CVelunIF::kResolveBoundMs) << c.what;
            EXPECT_LT(ms, 1100u + CVelunIF::kResolveBoundMs) << c.what;
        } else {
            EXPECT_LT(ms, 1100u) << c.what;
        }
    }
}

// What Avahi's library answers (no subtype without an underscore, no query
// flags, no reconfirmation) still finds the maker's cards, and only those.
TEST_F(VelunIFTest, ALibraryAnsweringAsAvahiDoesStillFindsTheCards) {
    sim::dnssd::SetAvahiLike(true);
    AddCard(1);
    sim::dnssd::Service theirs = sim::dnssd::MakeService("Other-Maker", "other", Loopback(9), 5645);
    ASSERT_TRUE(sim::dnssd::BuildTxt({"arcp_vers=1.0.0", "router_vers=1.0.0", "mf=Acme"}, theirs.arcTxt,
                                     sizeof theirs.arcTxt, &theirs.arcTxtLength));
    sim::dnssd::Advertise(theirs);
    CVelunIF net;
    ASSERT_EQ(net.Open(), 0);
    uint16_t count = 0;
    net.GetNumConnections(&count);
    EXPECT_EQ(count, 1);
    EXPECT_STREQ(net.DeviceName(0), "VA-VOVUZ-1");
    EXPECT_EQ(net.DeviceAddress(0), Loopback(1));
}

TEST_F(VelunIFTest, AFailedSendAnswersOneAndTheTransportStaysOpen) {
    AddCard(1);
    CVelunIF net;
    ASSERT_EQ(net.Open(), 0);
    const Bytes tooLong(70000, 0x11);  // no datagram holds this
    EXPECT_EQ(net.Write(tooLong.data(), static_cast<int32_t>(tooLong.size())), 1) << "nothing selected yet";
    ASSERT_EQ(net.SelectConnection(0), 0);
    EXPECT_EQ(net.Write(tooLong.data(), static_cast<int32_t>(tooLong.size())), 1);
    EXPECT_TRUE(net.IsOpen());
    const Bytes ok = orvex::EncodeCommand(1);
    EXPECT_EQ(net.Write(ok.data(), static_cast<int32_t>(ok.size())), 0);
}

TEST_F(VelunIFTest, WithoutTheLibraryOpenFailsSilently) {
    CVelunIF::SetDnsSdApi(nullptr);
    CVelunIF::SetLibraryName("no-such-dnssd-library");
    CVelunIF net;
    EXPECT_EQ(net.Open(), 1);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(velun::net_env_references(), 0);
}

class VelunLibraryTest : public NetworkRig {};

// The real binding: the stand-in built as a loadable library, bound by name
// with its functions looked up one by one.
TEST_F(VelunLibraryTest, TheLibraryIsBoundByNameAndAMissingFunctionIsShownByItsName) {
    AddCard(1);
    CVelunIF::SetDnsSdApi(nullptr);
    CVelunIF::SetLibraryName(ORVEX_STANDIN_LIBRARY);
    // The test holds the module too, to give it its devices and look into it afterwards.
    plat::LibraryHandle module = plat::LoadLibrary(ORVEX_STANDIN_LIBRARY);
    ASSERT_NE(module, nullptr) << ORVEX_STANDIN_LIBRARY;
    auto reset = reinterpret_cast<sim::dnssd::ResetFn>(plat::GetProcAddress(module, sim::dnssd::kResetExport));
    auto advertise = reinterpret_cast<sim::dnssd::AdvertiseFn>(plat::GetProcAddress(module, sim::dnssd::kAdvertiseExport));
    auto liveRefs = reinterpret_cast<sim::dnssd::LiveRefsFn>(plat::GetProcAddress(module, sim::dnssd::kLiveRefsExport));
    ASSERT_TRUE(reset && advertise && liveRefs);
    reset();
    const sim::dnssd::Service card = sim::dnssd::MakeService("VA-VOVUZ-1", "vovuz-1", Loopback(1), 5645);
    ASSERT_EQ(advertise(&card), 1);
    {
        CVelunIF net;
        ASSERT_EQ(net.Open(), 0);
        uint16_t count = 0;
        net.GetNumConnections(&count);
        EXPECT_EQ(count, 1);
        ASSERT_EQ(net.SelectConnection(0), 0);
        char text[255];
        net.GetConnectionDescription(0, text, sizeof text);
        EXPECT_STREQ(text, "Velun (127.0.0.1)");
        EXPECT_GT(liveRefs(), 0) << "the browse runs on while the transport is open";
        EXPECT_EQ(sim::dnssd::GetStats().browses, 0) << "the in-process stand-in was not used";
        net.Close();
        EXPECT_EQ(liveRefs(), 0);
    }
    EXPECT_TRUE(boxes.empty());
    reset();
    plat::FreeLibrary(module);

    CVelunIF::SetLibraryName(ORVEX_STANDIN_INCOMPLETE);
    CVelunIF net;
    EXPECT_EQ(net.Open(), 1);
    EXPECT_EQ(boxes, std::vector<std::string>{"DNSServiceQueryRecord: GetProcAddress failed"})
        << "the first function missing in the order of the look-ups";
    EXPECT_EQ(velun::net_env_references(), 0);
}

// Open on the real clock, as the program runs it.
TEST_F(VelunLibraryTest, OpenWallTimeWithNoneOneAndSixteenDevices) {
    plat::UseVirtualClock(false);
    struct Case {
        unsigned devices;
        double atLeast, below;
    } cases[] = {{0, 1.0, 1.5}, {1, 1.0, 1.5}, {16, 1.0, 2.5}};
    for (const Case& c : cases) {
        cards.clear();
        units.clear();
        sim::dnssd::Reset();
        for (unsigned i = 2; i < 2 + c.devices; ++i) AddCard(i);
        CVelunIF net;
        const auto start = std::chrono::steady_clock::now();
        const uint16_t status = net.Open();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        uint16_t count = 0;
        net.GetNumConnections(&count);
        std::printf("Open with %u device(s) advertised: %.3f s, status %u, %u connection(s)\n", c.devices, seconds,
                    status, count);
        EXPECT_EQ(status, c.devices ? 0 : 1);
        EXPECT_EQ(count, c.devices);
        EXPECT_GE(seconds, c.atLeast);
        EXPECT_LT(seconds, c.below);
    }
}

}  // namespace

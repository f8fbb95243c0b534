#pragma once
// What the network suites share: the in-process DNS-SD stand-in installed for
// the transport, emulated cards on loopback pumped from the idle hook, the
// virtual clock, and a count of the process's open descriptors.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "sim/OrvexUnit.h"
#include "sim/network/DnsSdStandIn.h"
#include "sim/network/VelunCard.h"
#include "transport/VelunIF.h"
#include "velun/dnssd.h"

inline uint32_t Loopback(unsigned last) { return plat::htonl(0x7F000000u | last); }

// Open descriptors of this process (native builds); -1 where they are not counted.
inline int OpenDescriptors() {
#ifdef ORVEX_COUNT_DESCRIPTORS
    std::error_code ec;
    int n = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        ++n;
    return ec ? -1 : n;
#else
    return -1;
#endif
}

class NetworkRig : public ::testing::Test {
public:
    std::vector<std::unique_ptr<sim::OrvexUnit>> units;
    std::vector<std::unique_ptr<sim::VelunCard>> cards;
    std::vector<std::string> boxes;

    void SetUp() override {
        plat::UseVirtualClock(true);
        sim::dnssd::Reset();
        orvex::CVelunIF::SetDnsSdApi(&sim::dnssd::Api());
        plat::SetIdleHook([this] {
            for (auto& c : cards) c->Pump();
        });
        plat::SetMessageBoxAnswerer([this](const std::string& text, const std::string& caption, unsigned) {
            boxes.push_back(caption + ": " + text);
            return plat::id::Ok;
        });
    }
    void TearDown() override {
        plat::SetIdleHook(nullptr);
        plat::SetMessageBoxAnswerer(nullptr);
        orvex::CVelunIF::SetDnsSdApi(nullptr);
        orvex::CVelunIF::SetLibraryName(nullptr);
        cards.clear();
        units.clear();
        sim::dnssd::Reset();
    }

    // An emulated Orvex 16 with a VA-VOVUZ card, its network card on 127.0.0.<last>, advertised.
    sim::OrvexUnit& AddCard(unsigned last, sim::OrvexUnit::Config config = DefaultConfig(), uint32_t faults = 0) {
        units.push_back(std::make_unique<sim::OrvexUnit>(config));
        cards.push_back(std::make_unique<sim::VelunCard>(*units.back(), Loopback(last)));
        std::string why;
        EXPECT_TRUE(cards.back()->Start(&why)) << why;
        sim::dnssd::Service s = sim::dnssd::MakeService("VA-VOVUZ-" + std::to_string(last),
                                                        "vovuz-" + std::to_string(last), Loopback(last), 5645);
        s.faults = faults;
        sim::dnssd::Advertise(s);
        return *units.back();
    }
    static sim::OrvexUnit::Config DefaultConfig() {
        sim::OrvexUnit::Config c;
        c.card.id = 21;
        c.card.revision = 14;
        c.card.revision2 = 3;
        return c;
    }
    void PumpCards() {
        for (auto& c : cards) c->Pump();
    }
};

#pragma once
// The network part of an emulated studio, in one call: an emulated VA-VOVUZ
// card on loopback in front of each given unit, the in-process DNS-SD
// stand-in advertising them, and the stand-in's table installed for the
// network transport, so that COrvexRemote::Open (when MIDI finds nothing)
// falls back to the network and finds the units there.
//
//   sim::NetworkStudio studio;
//   std::string why;
//   if (!studio.Start({&unitA, &unitB}, &why)) ...;    // each with config.card.id = 21
//   plat::SetIdleHook([&] { studio.Pump(); /* and the rest of the studio */ });
//   ... COrvexRemote::Open() lists "Orvex 16 connected via Velun (127.0.0.2)", ...
//   studio.Stop();   // also done by the destructor
//
// Card n (from 0) answers on 127.0.0.(n + 2), ports 5645 and 5647, and is
// advertised as "VA-VOVUZ-(n + 1)" on host "vovuz-(n + 1)". 127.0.0.1 is
// left alone: Wine binds a UDP socket bound to an interface's own address to
// the whole interface, so a card there would take its ports from every other
// card (other loopback addresses bind as they do on Windows and Linux). The
// transport binds port 5646 while it is open, so only one program on the
// computer can use the network path at a time.
#include <memory>
#include <string>
#include <vector>

#include "sim/OrvexUnit.h"
#include "sim/network/DnsSdStandIn.h"
#include "sim/network/VelunCard.h"

namespace sim {

class NetworkStudio {
public:
    static constexpr size_t kMaxCards = 16;
    static constexpr uint32_t kFirstAddress = 0x7F000002;  // 127.0.0.2, host order

    NetworkStudio() = default;
    ~NetworkStudio();
    NetworkStudio(const NetworkStudio&) = delete;
    NetworkStudio& operator=(const NetworkStudio&) = delete;

    // False with the reason when a unit carries no VA-VOVUZ card, there are
    // more than 16, or a card's ports cannot be bound; nothing stays started then.
    // With no unit the stand-in is installed and advertises nothing: a studio
    // without network units keeps the program off the machine's own network.
    bool Start(const std::vector<OrvexUnit*>& units, std::string* why);
    // Takes what has arrived at every card and sends what is due; from the idle hook.
    void Pump();
    // Closes the cards, withdraws the advertisements and lets the transport
    // load the DNS-SD library by name again.
    void Stop();

    size_t Cards() const { return cards_.size(); }
    VelunCard& Card(size_t index) { return *cards_[index]; }
    static std::string DeviceName(size_t index);

private:
    std::vector<std::unique_ptr<VelunCard>> cards_;
    bool installed_ = false;
};

}  // namespace sim

#pragma once
// The emulated studio of simulation mode: the units of a scenario on a
// virtual MIDI system, installed behind the driver tables the program binds,
// driven from the platform's idle hook, with the scenario's faults.
#include <memory>
#include <vector>

#include "sim/OrvexUnit.h"
#include "sim/VirtualMidi.h"
#include "sim/adapter/AdapterStudio.h"
#include "sim/network/NetworkStudio.h"
#include "sim/usbcard/InProcess.h"
#include "sim/studio/Scenario.h"

namespace sim {

class Studio {
public:
    // Where a unit boots the revision of its firmware from.
    static constexpr uint32_t kRevisionOffset = 0x110;

    explicit Studio(const Scenario& scenario);
    ~Studio();
    Studio(const Studio&) = delete;
    Studio& operator=(const Studio&) = delete;

    // From now on the program's MIDI transport reaches this studio, and the
    // platform's idle hook drives it; logs what the studio holds.
    void Install();
    void Uninstall();
    // Switches every unit off and on, and logs what each boots and what its
    // last update did.
    void PowerCycleAndReport();

    const Scenario& GetScenario() const { return scenario_; }
    size_t UnitCount() const { return units_.size(); }
    OrvexUnit& Unit(size_t i) { return *units_.at(i).unit; }
    VirtualMidi& Midi() { return midi_; }
    // The unit of a connection of the program's transport (MIDI, else the network).
    size_t UnitOfConnection(uint16_t connection) const;
    // The serial number printed on unit `i` (or its card), as a person would
    // type it: the scenario's label, else the number the unit holds when it has
    // one, else a made-up valid one.
    std::string SerialLabel(size_t i, bool card) const;
    // What each unit's update did, as the last report worded it.
    const std::vector<std::string>& Summaries() const { return summaries_; }

    // The emulated drivers in front of unit `i`, for tests that add faults:
    // its MIDI ports (-1 when it is not on MIDI), its network card, its adapter card.
    int OutPort(size_t i) const { return units_.at(i).outPort; }
    int InPort(size_t i) const { return units_.at(i).inPort; }
    VelunCard& NetworkCard(size_t i) { return network_.Card(size_t(units_.at(i).networkIndex)); }
    AdapterCard& AdapterCardOf(size_t i) { return adapter_->Card(uint32_t(units_.at(i).adapterIndex)); }
    // The USB audio driver of the DO-ZAZ cards (once installed).
    usbcard::InProcessDriver& Usb() { return *usb_; }

    // Everything due by the clock's present time, faults included.
    void Pump();

private:
    struct Placed {
        UnitSpec plan;
        std::unique_ptr<OrvexUnit> unit;
        int outPort = -1, inPort = -1;
        int networkIndex = -1;  // its card's place among the network's
        int adapterIndex = -1;  // its adapter card's place among the studio's
        uint8_t bootedRevision = 0, bootedCardRevision = 0, bootedCardMinor = 0;
        bool powerLost = false;
    };
    std::string Name(const Placed& placed) const;

    Scenario scenario_;
    VirtualMidi midi_;
    std::vector<Placed> units_;
    std::vector<std::string> summaries_;
    // The USB audio driver the units' DO-ZAZ cards are reached through.
    std::unique_ptr<usbcard::InProcessDriver> usb_;
    // The VA-VOVUZ cards of the units on the network, and their advertisements.
    NetworkStudio network_;
    // The adapter cards of the units cabled to one.
    std::unique_ptr<AdapterStudio> adapter_;
    bool installed_ = false;
};

// The unit's configuration for a scenario's unit.
OrvexUnit::Config UnitConfig(const Scenario& scenario, const UnitSpec& unit);

}  // namespace sim

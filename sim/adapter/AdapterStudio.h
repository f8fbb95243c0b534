#pragma once
// The adapter path of the emulated studio, for tests and the simulation mode.
//
//   sim::OrvexUnit converter(unitConfig);
//   sim::AdapterStudio studio({{cardConfig, &converter}});   // model, firmware, PCI place, device times
//   auto mixer = std::make_unique<orvex::COrvexMixer>();     // Open finds the card
//
// While an AdapterStudio lives, CMixerAPI loads "PelkWDM.Dll" from its
// in-process driver (and no other library: there is no WinMM to fall back
// on) and COrvexMixer sends its device requests to the same cards. The
// converters stay the caller's; the studio must go before them. One studio
// at a time; its destructor puts the platform's tables back.
//
// UseStandInDllDevices is for a program that loads the stand-in DLL itself
// (beside the executable): it points COrvexMixer's device requests at the
// DLL's own cards, whose mixer devices CMixerAPI reaches by loading the DLL
// as usual.
#include <memory>
#include <vector>

#include "sim/OrvexUnit.h"
#include "sim/adapter/AdapterCard.h"
#include "sim/adapter/PelkDriver.h"

namespace sim {

struct AdapterCardSpec {
    AdapterCard::Config card;
    OrvexUnit* unit = nullptr;  // null: no converter on the card's cable
};

class AdapterStudio {
public:
    explicit AdapterStudio(const std::vector<AdapterCardSpec>& cards);
    ~AdapterStudio();
    AdapterStudio(const AdapterStudio&) = delete;
    AdapterStudio& operator=(const AdapterStudio&) = delete;

    PelkDriver& Driver() { return *driver_; }
    AdapterCard& Card(uint32_t device) { return *driver_->Card(device); }

private:
    std::unique_ptr<PelkDriver> driver_;
};

// false when "PelkWDM.Dll" does not load or lacks the stand-in's device exports.
bool UseStandInDllDevices();
void StopUsingStandInDllDevices();

}  // namespace sim

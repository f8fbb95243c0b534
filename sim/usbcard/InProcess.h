#pragma once
// The emulated USB audio driver served in-process: CXCUSB looks for its
// library at the usual places and binds it by name as ever, but the "library"
// is this program's own emulated driver. Tests use it to reach every corner
// fast; the simulated studio uses it to give its units' DO-ZAZ cards a driver.
//
// For the simulated studio:
//
//   sim::usbcard::InProcessDriver usb(sim::usbcard::StudioConfig({{5, 30}, {10, 0}}));
//   usb.AttachUnit(0, unitOnConnection0);   // optional, see AttachUnit
//
// While `usb` lives, every CXCUSB — the one DefaultRemoteTransports' usbCard
// factory makes for a DO-ZAZ unit over MIDI included — finds the driver at
// "<Program Files>\Corvane\DO-ZAZ Audio Driver\usbaudioapi.dll" and device N
// is the card of the unit on MIDI connection N. Its clock is the platform
// clock (virtual in tests, real in the program).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/OrvexUnit.h"
#include "sim/usbcard/UsbAudioDriver.h"
#include "sim/usbcard/UsbAudioSim.h"
#include "usbcard/XCUSB.h"

namespace sim::usbcard {

// One DO-ZAZ card of the simulated studio.
struct StudioCard {
    uint8_t major = 5, minor = 30;
    bool streamsActive = false;
};
// A driver with one device per entry, in MIDI connection order (an entry for
// a unit without a DO-ZAZ card stands for a device the updater never opens).
Config StudioConfig(const std::vector<StudioCard>& cards);
// The XSlot card of an emulated unit that carries a DO-ZAZ at this version
// (registers 16, 17 and 20).
OrvexUnit::CardConfig DoZazSlot(const StudioCard& card);

class InProcessDriver {
public:
    struct Options {
        // The places, by their ends, where the library "is installed"; any
        // other path fails to load. The default is the driver's first place.
        std::vector<std::string> locations{"\\Corvane\\DO-ZAZ Audio Driver\\usbaudioapi.dll"};
        // Names the library does not export.
        std::vector<std::string> missingExports;
    };

    // Configures the program's emulated driver and installs it for CXCUSB
    // until destroyed (one at a time).
    explicit InProcessDriver(const Config& config);
    InProcessDriver(const Config& config, Options options);
    ~InProcessDriver();
    InProcessDriver(const InProcessDriver&) = delete;
    InProcessDriver& operator=(const InProcessDriver&) = delete;

    Driver& Emulated() { return TheDriver(); }
    Card CardState(uint32_t index);
    Counters GetCounters() const { return TheDriver().GetCounters(); }

    // The library as the program's loader sees it.
    uint32_t Loads() const { return loads_; }
    uint32_t Releases() const { return releases_; }
    uint32_t References() const { return loads_ - releases_; }
    const std::vector<std::string>& LoadAttempts() const { return attempts_; }
    const std::vector<std::string>& Resolved() const { return resolved_; }

    // The converter reads its DO-ZAZ card's firmware revision from the card:
    // from now on each image card `index` takes is handed to `unit` (revision
    // = major, second revision = minor), which shows it in registers 17 and 20
    // from its next power cycle. The unit must outlive this object.
    void AttachUnit(uint32_t index, OrvexUnit& unit);

private:
    plat::LibraryHandle Load(const std::string& path);
    plat::ProcAddress Resolve(plat::LibraryHandle library, const char* name);
    void Release(plat::LibraryHandle library);

    Options options_;
    orvex::CXCUSB::LibrarySource source_;
    std::vector<uint8_t> handles_;  // one per location; their addresses are the library handles
    std::vector<std::pair<uint32_t, OrvexUnit*>> units_;
    uint32_t loads_ = 0, releases_ = 0;
    std::vector<std::string> attempts_;
    std::vector<std::string> resolved_;
};

}  // namespace sim::usbcard

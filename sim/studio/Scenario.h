#pragma once
// A studio description for simulation mode: the units, their banks, serial
// numbers and XSlot cards, the link's pacing, the device times and a fault.
// Written as TOML; see sim/scenarios/README.md for every key.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct FaultSpec {
    enum Kind {
        kNone,
        kFailPacket,       // PGMERR at the end of writing packet `at`
        kCorruptReadBack,  // packet `at` reads back with one byte changed
        kDropAnswer,       // status request number `at` gets no answer
        kSilentAfter,      // the unit stops answering after `at` status requests
        kPowerLoss,        // the power goes after packet `at` is written
        kDownloadFails,    // the DO-ZAZ card's USB download fails once `at` bytes are done
        kClockStuck,       // adapter: the converter never takes the clock source it is given
        kNeverLocks,       // adapter: the converter's digital input never locks
    } kind = kNone;
    uint32_t at = 0;
};

struct CardSpec {
    uint8_t kind = 0;  // 0: no card
    uint8_t firmware = 0;
    uint8_t firmwareMinor = 0;
    uint8_t pcb = 0;
    uint32_t serial = 0;  // the card's serial word; its device ID byte is the card's kind
    uint32_t label = 0;   // the number printed on the card; 0: none given
};

// The Tarsel adapter card a unit is cabled to.
struct AdapterSpec {
    uint16_t model = 40;  // Tarsel-X
    uint16_t firmware = 23;
    uint16_t bus = 2, device = 0;
    uint32_t slot = 3;  // 0: the driver knows no slot
    uint64_t lockMicros = 250'000;
    uint64_t pollMicros = 1000;  // the card's status requests to the converter
};

struct UnitSpec {
    // MIDI ports, the network through the unit's VA-VOVUZ card, or an adapter card.
    enum Link { kMidi, kNetwork, kAdapter } link = kMidi;
    AdapterSpec adapter;
    std::string port;  // the MIDI port pair "<port> Out" and "<port> In"
    uint8_t deviceId = 38;
    uint8_t variant = 0;
    std::array<uint8_t, 2> firmware{28, 28};
    uint8_t runningBank = 0;  // 0: bank 1, 1: bank 2
    uint8_t pcb = 2;
    uint32_t serial = 0;  // 0: blank
    uint32_t label = 0;   // the number printed on the unit's back; 0: none given
    CardSpec card;
    FaultSpec fault;
};

struct Scenario {
    std::string name;
    std::string description;
    uint32_t bytesPerSecond = 0;  // 0: unpaced; 3125 is a DIN cable
    uint64_t latencyMicros = 0;
    uint64_t eraseMicros = 4'000'000;
    uint64_t packetMicros = 1'000;
    uint64_t serialStoreMicros = 40'000;
    uint64_t reportIntervalMicros = 20'000;
    // A DO-ZAZ card's USB download: each step of the procedure, and each 256-byte block.
    uint64_t usbDetachMicros = 300'000, usbBlockMicros = 20'000, usbManifestMicros = 1'500'000,
             usbReattachMicros = 1'000'000;
    std::vector<UnitSpec> units;
};

// A scenario shipped in the program (generated from sim/scenarios/*.toml).
struct BuiltInScenario {
    const char* name;
    const char* text;
};
extern const BuiltInScenario kBuiltInScenarios[];
extern const unsigned kBuiltInScenarioCount;

// Parses a scenario; on failure *error names the source, the line and the key.
bool ParseScenario(const std::string& text, const std::string& source, Scenario* scenario, std::string* error);
// A built-in scenario by name (empty: "default"), else a file by path.
bool LoadScenario(const std::string& nameOrPath, Scenario* scenario, std::string* error);
std::vector<std::string> BuiltInScenarioNames();

}  // namespace sim

// The scenario parser of simulation mode (sim::ParseScenario) on any text.
// A refused text names its source in the error; an accepted one holds only
// values the studio can build: 1 to 64 units, revisions 0 to 63, bank 1 or 2,
// PCB codes 0 to 15, serial numbers that fit their fields, times up to ten
// minutes, a report interval above 0, pacing up to 10,000,000 bytes a second.
#include "fuzz/support/Fuzz.h"
#include "protocol/SerialNumber.h"
#include "sim/studio/Scenario.h"

namespace {

bool SerialFits(uint32_t serial) {
    return serial == 0 || (orvex::SerialYear(serial) <= orvex::kSerialMaxYear && orvex::SerialWeek(serial) >= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    sim::Scenario s;
    std::string error;
    if (!sim::ParseScenario(text, "fuzz.toml", &s, &error)) {
        ORVEX_FUZZ_CHECK(error.rfind("fuzz.toml:", 0) == 0, "error without its source: " + error);
        return 0;
    }
    const std::string what = "accepted:\n" + text;
    ORVEX_FUZZ_CHECK(!s.units.empty() && s.units.size() <= 64, what);
    ORVEX_FUZZ_CHECK(s.bytesPerSecond <= 10'000'000, what);
    constexpr uint64_t kTenMinutes = 600'000'000;
    ORVEX_FUZZ_CHECK(s.latencyMicros <= kTenMinutes && s.eraseMicros <= kTenMinutes && s.packetMicros <= kTenMinutes &&
                         s.serialStoreMicros <= kTenMinutes && s.reportIntervalMicros <= kTenMinutes,
                     what);
    ORVEX_FUZZ_CHECK(s.reportIntervalMicros > 0, what);
    for (const sim::UnitSpec& u : s.units) {
        ORVEX_FUZZ_CHECK(u.deviceId != 0 && u.firmware[0] <= 63 && u.firmware[1] <= 63 && u.runningBank <= 1 && u.pcb <= 15,
                         what);
        ORVEX_FUZZ_CHECK(SerialFits(u.serial) && SerialFits(u.label) && SerialFits(u.card.serial) &&
                             SerialFits(u.card.label),
                         what);
        ORVEX_FUZZ_CHECK(u.card.pcb <= 15 && u.fault.at <= 1'000'000, what);
        ORVEX_FUZZ_CHECK(!u.port.empty() || text.find("port") != std::string::npos, what);
    }
    return 0;
}

void OrvexFuzzSeeds(fuzz::Seeds& seeds) {
    // The studios the program carries.
    for (unsigned i = 0; i < sim::kBuiltInScenarioCount; ++i) {
        const std::string text = sim::kBuiltInScenarios[i].text;
        seeds.emplace_back(text.begin(), text.end());
    }
}

// The stand-in adapter driver library: the nine "Pmixer" functions and the
// library's own set-up and device exports, all served by one emulated driver.
#include "sim/adapter/PelkWDM.h"

#include <chrono>
#include <memory>
#include <vector>

#include "sim/adapter/PelkDriver.h"

namespace {

uint64_t SteadyMicros() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t (*g_clock)() = SteadyMicros;
uint64_t Now() { return g_clock(); }

struct Library {
    std::vector<std::unique_ptr<sim::OrvexUnit>> units;
    std::vector<sim::OrvexUnit*> unitOfDevice;
    std::unique_ptr<sim::PelkDriver> driver;
    bool configured = false;
};

Library& Lib() {
    static Library library;
    return library;
}

int AddCard(const sim::AdapterCard::Config& card, const sim::OrvexUnit::Config* unit) {
    Library& lib = Lib();
    sim::OrvexUnit* converter = nullptr;
    if (unit) {
        lib.units.push_back(std::make_unique<sim::OrvexUnit>(*unit));
        converter = lib.units.back().get();
    }
    lib.driver->AddCard(card, converter);
    lib.unitOfDevice.push_back(converter);
    return static_cast<int>(lib.driver->DeviceCount()) - 1;
}

void Reset() {
    Library& lib = Lib();
    lib.driver = std::make_unique<sim::PelkDriver>(Now);
    lib.driver->Install();
    lib.units.clear();
    lib.unitOfDevice.clear();
    lib.configured = true;
}

void AddDefaultCards() {
    sim::AdapterCard::Config card;
    sim::OrvexUnit::Config unit;
    card.model = adapter::kModelTarselX;
    card.slot = 3;
    unit.deviceId = 38;
    AddCard(card, &unit);
    card.model = adapter::kModelTarselXR;
    card.slot = 0;
    card.bus = 2;
    card.device = 0;
    unit.deviceId = 39;
    AddCard(card, &unit);
    card.model = adapter::kModelTarsel;
    card.firmware = 22;
    card.slot = 5;
    unit.deviceId = 49;
    AddCard(card, &unit);
}

// The driver, with the default cards when nobody set any up.
sim::PelkDriver& Driver() {
    Library& lib = Lib();
    if (!lib.configured) {
        Reset();
        AddDefaultCards();
    }
    lib.driver->Install();
    return *lib.driver;
}

}  // namespace

using namespace mixer;

extern "C" {

PELK_EXPORT uint32_t ORVEX_WINAPI PmixerGetNumDevs() { return Driver().GetNumDevs(); }
PELK_EXPORT MMRESULT ORVEX_WINAPI PmixerGetID(HMIXER mixer, uint32_t* id, uint32_t flags) {
    return Driver().GetID(mixer, id, flags);
}
PELK_EXPORT MMRESULT ORVEX_WINAPI PmixerGetDevCaps(uintptr_t device, MIXERCAPSA* caps, uint32_t size) {
    return Driver().GetDevCaps(device, caps, size);
}
PELK_EXPORT MMRESULT ORVEX_WINAPI PmixerOpen(HMIXER* mixer, uint32_t device, uintptr_t callback, uintptr_t instance,
                                             uint32_t flags) {
    return Driver().Open(mixer, device, callback, instance, flags);
}
PELK_EXPORT MMRESULT ORVEX_WINAPI PmixerClose(HMIXER mixer) { return Driver().Close(mixer); }
PELK_EXPORT MMRESULT ORVEX_WINAPI PmixerGetLineInfo(HMIXER mixer, MIXERLINEA* line, uint32_t flags) {
    return Driver().GetLineInfo(mixer, line, flags);
}
PELK_EXPORT MMRESULT ORVEX_WINAPI PmixerGetLineControls(HMIXER mixer, MIXERLINECONTROLSA* controls, uint32_t flags) {
    return Driver().GetLineControls(mixer, controls, flags);
}
PELK_EXPORT MMRESULT ORVEX_WINAPI PmixerGetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) {
    return Driver().GetControlDetails(mixer, details, flags);
}
PELK_EXPORT MMRESULT ORVEX_WINAPI PmixerSetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) {
    return Driver().SetControlDetails(mixer, details, flags);
}

PELK_EXPORT void PelkSimReset(int defaults) {
    Reset();
    if (defaults) AddDefaultCards();
}
PELK_EXPORT int PelkSimAddCard(const sim::AdapterCard::Config* card, const sim::OrvexUnit::Config* unit) {
    if (!card) return -1;
    if (!Lib().configured) Reset();
    return AddCard(*card, unit);
}
PELK_EXPORT void PelkSimSetClock(uint64_t (*clock)()) { g_clock = clock ? clock : SteadyMicros; }
PELK_EXPORT int PelkSimPowerCycle(int device) {
    Driver();
    Library& lib = Lib();
    if (device < 0 || static_cast<size_t>(device) >= lib.unitOfDevice.size() || !lib.unitOfDevice[device]) return 0;
    lib.unitOfDevice[device]->PowerCycle(Now());
    return 1;
}
PELK_EXPORT intptr_t PelkSimCreateFile(const char* path) { return path ? Driver().CreateFile(path) : -1; }
PELK_EXPORT int PelkSimDeviceIoControl(intptr_t device, uint32_t code, const void* in, uint32_t inSize, void* out,
                                       uint32_t outSize, uint32_t* returned) {
    return Driver().DeviceIoControl(device, code, in, inSize, out, outSize, returned) ? 1 : 0;
}
PELK_EXPORT int PelkSimCloseHandle(intptr_t device) { return Driver().CloseHandle(device) ? 1 : 0; }

}  // extern "C"

#pragma once
// The emulated adapter driver: one mixer device per emulated card (plus, on
// demand, mixer devices of other sound hardware that have no converter line),
// served through the nine "Pmixer" functions with WinMM's arguments and
// results, and the cards' "\\.\C2Mixer%u" devices with their requests.
//
// In-process use: Install() a driver, then hand CMixerAPI Libraries() (it
// serves "PelkWDM.Dll" with the nine functions, and nothing else) and
// COrvexMixer Devices(). The stand-in DLL and shared object (PelkWDM.cpp)
// export the same nine functions, served by a driver of their own.
//
// Mixer handles are checked on every call (a closed or made-up handle gives
// MMSYSERR_INVALHANDLE); the object-type bits of the query flags are ignored.
// Time is the clock the driver is given; the cards catch up with it on every
// call that reaches them.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "adapter/AdapterDriver.h"
#include "adapter/MixerRecords.h"
#include "sim/adapter/AdapterCard.h"

namespace sim {

class PelkDriver {
public:
    using Clock = uint64_t (*)();  // microseconds

    // The mixer functions that can be counted.
    enum class Call : int { GetNumDevs, GetID, GetDevCaps, Open, Close, GetLineInfo, GetLineControls,
                            GetControlDetails, SetControlDetails, CreateFile, DeviceIoControl, kCount };

    explicit PelkDriver(Clock clock);
    ~PelkDriver();
    PelkDriver(const PelkDriver&) = delete;
    PelkDriver& operator=(const PelkDriver&) = delete;

    // The next mixer device number is the card's place in the device list.
    AdapterCard& AddCard(const AdapterCard::Config& config, OrvexUnit* unit);
    // A mixer device without a converter line (another sound card's mixer).
    void AddForeignMixer(const std::string& name);
    uint32_t DeviceCount() const { return static_cast<uint32_t>(devices_.size()); }
    // The card at a mixer device number; null for a foreign mixer or past the end.
    AdapterCard* Card(uint32_t device);

    // Faults of the driver itself.
    void FailMixerOpen(uint32_t device, bool fail);
    void FailDeviceOpen(uint32_t device, bool fail);

    uint32_t CallCount(Call call) const { return calls_[static_cast<int>(call)]; }
    int OpenMixers() const;
    int OpenDevices() const;

    // ---- in-process tables ----
    // The nine functions, the library loader and the devices act on the driver
    // installed last; a driver uninstalls itself when it goes.
    void Install();
    static PelkDriver* Installed();
    static const mixer::LibraryApi& Libraries();
    static const adapter::DeviceApi& Devices();

    // ---- entry points ----
    uint32_t GetNumDevs();
    mixer::MMRESULT GetID(mixer::HMIXER mixer, uint32_t* id, uint32_t flags);
    mixer::MMRESULT GetDevCaps(uintptr_t device, mixer::MIXERCAPSA* caps, uint32_t size);
    mixer::MMRESULT Open(mixer::HMIXER* mixer, uint32_t device, uintptr_t callback, uintptr_t instance, uint32_t flags);
    mixer::MMRESULT Close(mixer::HMIXER mixer);
    mixer::MMRESULT GetLineInfo(mixer::HMIXER mixer, mixer::MIXERLINEA* line, uint32_t flags);
    mixer::MMRESULT GetLineControls(mixer::HMIXER mixer, mixer::MIXERLINECONTROLSA* controls, uint32_t flags);
    mixer::MMRESULT GetControlDetails(mixer::HMIXER mixer, mixer::MIXERCONTROLDETAILS* details, uint32_t flags);
    mixer::MMRESULT SetControlDetails(mixer::HMIXER mixer, mixer::MIXERCONTROLDETAILS* details, uint32_t flags);
    plat::FileHandle CreateFile(const std::string& path);
    bool DeviceIoControl(plat::FileHandle device, uint32_t code, const void* in, uint32_t inSize, void* out,
                         uint32_t outSize, uint32_t* returned);
    bool CloseHandle(plat::FileHandle device);

private:
    struct Device {
        std::unique_ptr<AdapterCard> card;  // null: a foreign mixer
        std::string name;
        bool failOpen = false;
        bool failDeviceOpen = false;
    };
    static constexpr uint32_t kMaxHandles = 64;

    void Count(Call call) { ++calls_[static_cast<int>(call)]; }
    Device* MixerOf(mixer::HMIXER mixer, uint32_t* number);
    uint64_t Now() const { return clock_(); }

    Clock clock_;
    std::vector<Device> devices_;
    // Open handles: the mixer device number plus one; 0 is free.
    std::vector<uint32_t> mixers_ = std::vector<uint32_t>(kMaxHandles, 0);
    std::vector<uint32_t> files_ = std::vector<uint32_t>(kMaxHandles, 0);
    uint32_t calls_[static_cast<int>(Call::kCount)] = {};
};

// The nine functions with WinMM's calling convention, acting on the installed driver.
namespace pelk {
uint32_t ORVEX_WINAPI PmixerGetNumDevs();
mixer::MMRESULT ORVEX_WINAPI PmixerGetID(mixer::HMIXER mixer, uint32_t* id, uint32_t flags);
mixer::MMRESULT ORVEX_WINAPI PmixerGetDevCaps(uintptr_t device, mixer::MIXERCAPSA* caps, uint32_t size);
mixer::MMRESULT ORVEX_WINAPI PmixerOpen(mixer::HMIXER* mixer, uint32_t device, uintptr_t callback,
                                        uintptr_t instance, uint32_t flags);
mixer::MMRESULT ORVEX_WINAPI PmixerClose(mixer::HMIXER mixer);
mixer::MMRESULT ORVEX_WINAPI PmixerGetLineInfo(mixer::HMIXER mixer, mixer::MIXERLINEA* line, uint32_t flags);
mixer::MMRESULT ORVEX_WINAPI PmixerGetLineControls(mixer::HMIXER mixer, mixer::MIXERLINECONTROLSA* controls,
                                                   uint32_t flags);
mixer::MMRESULT ORVEX_WINAPI PmixerGetControlDetails(mixer::HMIXER mixer, mixer::MIXERCONTROLDETAILS* details,
                                                     uint32_t flags);
mixer::MMRESULT ORVEX_WINAPI PmixerSetControlDetails(mixer::HMIXER mixer, mixer::MIXERCONTROLDETAILS* details,
                                                     uint32_t flags);
// The export of that name, or null.
void* Export(const char* name);
}  // namespace pelk

}  // namespace sim

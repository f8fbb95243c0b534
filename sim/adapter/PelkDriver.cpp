#include "sim/adapter/PelkDriver.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace sim {

using namespace mixer;

namespace {

constexpr uintptr_t kMixerHandleBase = 0x4D580000;
constexpr intptr_t kFileHandleBase = 0x43320000;

PelkDriver* g_installed = nullptr;

// The driver's one library, as the in-process loader hands it out.
int g_libraryToken = 0;

void* LoadLibraryIn(const char* name) {
    return name && strcasecmp(name, "PelkWDM.Dll") == 0 ? &g_libraryToken : nullptr;
}
void* GetProcAddressIn(void* library, const char* name) {
    return library == &g_libraryToken && name ? pelk::Export(name) : nullptr;
}
bool FreeLibraryIn(void* library) { return library == &g_libraryToken; }
constexpr LibraryApi kLibraries{LoadLibraryIn, GetProcAddressIn, FreeLibraryIn};

plat::FileHandle CreateFileIn(const std::string& path, uint32_t, plat::FileShare, plat::FileDisposition, uint32_t) {
    return g_installed ? g_installed->CreateFile(path) : plat::kInvalidFile;
}
bool DeviceIoControlIn(plat::FileHandle device, uint32_t code, const void* in, uint32_t inSize, void* out,
                       uint32_t outSize, uint32_t* returned) {
    if (returned) *returned = 0;
    return g_installed && g_installed->DeviceIoControl(device, code, in, inSize, out, outSize, returned);
}
bool CloseHandleIn(plat::FileHandle device) { return g_installed && g_installed->CloseHandle(device); }
constexpr adapter::DeviceApi kDevices{CreateFileIn, DeviceIoControlIn, CloseHandleIn};

}  // namespace

PelkDriver::PelkDriver(Clock clock) : clock_(clock) {}

PelkDriver::~PelkDriver() {
    if (g_installed == this) g_installed = nullptr;
}

void PelkDriver::Install() { g_installed = this; }
PelkDriver* PelkDriver::Installed() { return g_installed; }
const LibraryApi& PelkDriver::Libraries() { return kLibraries; }
const adapter::DeviceApi& PelkDriver::Devices() { return kDevices; }

AdapterCard& PelkDriver::AddCard(const AdapterCard::Config& config, OrvexUnit* unit) {
    Device d;
    d.card = std::make_unique<AdapterCard>(config, unit, Now());
    d.name = adapter::AdapterModelName(config.model);
    devices_.push_back(std::move(d));
    return *devices_.back().card;
}

void PelkDriver::AddForeignMixer(const std::string& name) {
    Device d;
    d.name = name;
    devices_.push_back(std::move(d));
}

AdapterCard* PelkDriver::Card(uint32_t device) { return device < devices_.size() ? devices_[device].card.get() : nullptr; }

void PelkDriver::FailMixerOpen(uint32_t device, bool fail) {
    if (device < devices_.size()) devices_[device].failOpen = fail;
}
void PelkDriver::FailDeviceOpen(uint32_t device, bool fail) {
    if (device < devices_.size()) devices_[device].failDeviceOpen = fail;
}

int PelkDriver::OpenMixers() const {
    int n = 0;
    for (uint32_t h : mixers_) n += h != 0;
    return n;
}
int PelkDriver::OpenDevices() const {
    int n = 0;
    for (uint32_t h : files_) n += h != 0;
    return n;
}

PelkDriver::Device* PelkDriver::MixerOf(HMIXER mixer, uint32_t* number) {
    const uintptr_t v = reinterpret_cast<uintptr_t>(mixer);
    if (v < kMixerHandleBase || v >= kMixerHandleBase + kMaxHandles) return nullptr;
    const uint32_t open = mixers_[v - kMixerHandleBase];
    if (open == 0 || open > devices_.size()) return nullptr;
    *number = open - 1;
    return &devices_[open - 1];
}

// ---- mixer functions ----

uint32_t PelkDriver::GetNumDevs() {
    Count(Call::GetNumDevs);
    return DeviceCount();
}

MMRESULT PelkDriver::GetID(HMIXER mixer, uint32_t* id, uint32_t) {
    Count(Call::GetID);
    uint32_t number = 0;
    if (!MixerOf(mixer, &number)) return MMSYSERR_INVALHANDLE;
    if (!id) return MMSYSERR_INVALPARAM;
    *id = number;
    return MMSYSERR_NOERROR;
}

MMRESULT PelkDriver::GetDevCaps(uintptr_t device, MIXERCAPSA* caps, uint32_t size) {
    Count(Call::GetDevCaps);
    if (device >= devices_.size()) return MMSYSERR_BADDEVICEID;
    if (!caps || size == 0) return MMSYSERR_INVALPARAM;
    const Device& d = devices_[device];
    if (d.card) {
        d.card->Caps(caps, size);
    } else {
        MIXERCAPSA c{};
        std::snprintf(c.szPname, sizeof c.szPname, "%s", d.name.c_str());
        c.cDestinations = 1;
        std::memcpy(caps, &c, size < sizeof c ? size : sizeof c);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT PelkDriver::Open(HMIXER* mixer, uint32_t device, uintptr_t callback, uintptr_t, uint32_t flags) {
    Count(Call::Open);
    if (!mixer) return MMSYSERR_INVALPARAM;
    if (device >= devices_.size()) return MMSYSERR_BADDEVICEID;
    if (callback != 0 || flags != 0) return MMSYSERR_INVALFLAG;  // no callbacks here
    if (devices_[device].failOpen) return MMSYSERR_ALLOCATED;
    for (uint32_t i = 0; i < kMaxHandles; ++i) {
        if (mixers_[i] == 0) {
            mixers_[i] = device + 1;
            *mixer = reinterpret_cast<HMIXER>(kMixerHandleBase + i);
            return MMSYSERR_NOERROR;
        }
    }
    return MMSYSERR_NOMEM;
}

MMRESULT PelkDriver::Close(HMIXER mixer) {
    Count(Call::Close);
    uint32_t number = 0;
    if (!MixerOf(mixer, &number)) return MMSYSERR_INVALHANDLE;
    mixers_[reinterpret_cast<uintptr_t>(mixer) - kMixerHandleBase] = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT PelkDriver::GetLineInfo(HMIXER mixer, MIXERLINEA* line, uint32_t flags) {
    Count(Call::GetLineInfo);
    uint32_t number = 0;
    Device* d = MixerOf(mixer, &number);
    if (!d) return MMSYSERR_INVALHANDLE;
    flags &= ~MIXER_OBJECTF_TYPEMASK;
    if (d->card) return d->card->LineInfo(line, flags);
    // A plain sound card: one speaker line without controls.
    if (!line || line->cbStruct < sizeof(MIXERLINEA)) return MMSYSERR_INVALPARAM;
    const uint32_t query = flags & MIXER_GETLINEINFOF_QUERYMASK;
    const bool speakers = (query == MIXER_GETLINEINFOF_DESTINATION && line->dwDestination == 0) ||
                          (query == MIXER_GETLINEINFOF_COMPONENTTYPE &&
                           line->dwComponentType == MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    if (!speakers) return MIXERR_INVALLINE;
    const uint32_t cb = line->cbStruct;
    std::memset(line, 0, sizeof(MIXERLINEA));
    line->cbStruct = cb;
    line->dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    line->cChannels = 2;
    std::snprintf(line->szShortName, sizeof line->szShortName, "Speakers");
    return MMSYSERR_NOERROR;
}

MMRESULT PelkDriver::GetLineControls(HMIXER mixer, MIXERLINECONTROLSA* controls, uint32_t flags) {
    Count(Call::GetLineControls);
    uint32_t number = 0;
    Device* d = MixerOf(mixer, &number);
    if (!d) return MMSYSERR_INVALHANDLE;
    if (!d->card) return MIXERR_INVALLINE;
    return d->card->LineControls(controls, flags & ~MIXER_OBJECTF_TYPEMASK);
}

MMRESULT PelkDriver::GetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) {
    Count(Call::GetControlDetails);
    uint32_t number = 0;
    Device* d = MixerOf(mixer, &number);
    if (!d) return MMSYSERR_INVALHANDLE;
    if (!d->card) return MIXERR_INVALCONTROL;
    return d->card->GetDetails(details, flags & ~MIXER_OBJECTF_TYPEMASK, Now());
}

MMRESULT PelkDriver::SetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) {
    Count(Call::SetControlDetails);
    uint32_t number = 0;
    Device* d = MixerOf(mixer, &number);
    if (!d) return MMSYSERR_INVALHANDLE;
    if (!d->card) return MIXERR_INVALCONTROL;
    return d->card->SetDetails(details, flags & ~MIXER_OBJECTF_TYPEMASK, Now());
}

// ---- the cards' devices ----

plat::FileHandle PelkDriver::CreateFile(const std::string& path) {
    Count(Call::CreateFile);
    // Exactly "\\.\C2Mixer" and a decimal device number.
    static constexpr char kPrefix[] = "\\\\.\\C2Mixer";
    const size_t prefix = sizeof kPrefix - 1;
    if (path.size() <= prefix || path.size() > prefix + 9 || path.compare(0, prefix, kPrefix) != 0)
        return plat::kInvalidFile;
    uint32_t device = 0;
    for (size_t i = prefix; i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9') return plat::kInvalidFile;
        device = device * 10 + static_cast<uint32_t>(path[i] - '0');
    }
    if (device >= devices_.size() || !devices_[device].card || devices_[device].failDeviceOpen)
        return plat::kInvalidFile;
    for (uint32_t i = 0; i < kMaxHandles; ++i) {
        if (files_[i] == 0) {
            files_[i] = device + 1;
            return kFileHandleBase + static_cast<intptr_t>(i);
        }
    }
    return plat::kInvalidFile;
}

bool PelkDriver::DeviceIoControl(plat::FileHandle device, uint32_t code, const void* in, uint32_t inSize, void* out,
                                 uint32_t outSize, uint32_t* returned) {
    Count(Call::DeviceIoControl);
    if (returned) *returned = 0;
    if (device < kFileHandleBase || device >= kFileHandleBase + static_cast<intptr_t>(kMaxHandles)) return false;
    const uint32_t open = files_[static_cast<size_t>(device - kFileHandleBase)];
    if (open == 0) return false;
    AdapterCard* card = devices_[open - 1].card.get();
    return card && card->Request(open - 1, code, in, inSize, out, outSize, returned, Now());
}

bool PelkDriver::CloseHandle(plat::FileHandle device) {
    if (device < kFileHandleBase || device >= kFileHandleBase + static_cast<intptr_t>(kMaxHandles)) return false;
    uint32_t& open = files_[static_cast<size_t>(device - kFileHandleBase)];
    if (open == 0) return false;
    open = 0;
    return true;
}

// ---- the nine functions ----

namespace pelk {

uint32_t ORVEX_WINAPI PmixerGetNumDevs() { return g_installed ? g_installed->GetNumDevs() : 0; }
MMRESULT ORVEX_WINAPI PmixerGetID(HMIXER mixer, uint32_t* id, uint32_t flags) {
    return g_installed ? g_installed->GetID(mixer, id, flags) : MMSYSERR_NODRIVER;
}
MMRESULT ORVEX_WINAPI PmixerGetDevCaps(uintptr_t device, MIXERCAPSA* caps, uint32_t size) {
    return g_installed ? g_installed->GetDevCaps(device, caps, size) : MMSYSERR_NODRIVER;
}
MMRESULT ORVEX_WINAPI PmixerOpen(HMIXER* mixer, uint32_t device, uintptr_t callback, uintptr_t instance,
                                 uint32_t flags) {
    return g_installed ? g_installed->Open(mixer, device, callback, instance, flags) : MMSYSERR_NODRIVER;
}
MMRESULT ORVEX_WINAPI PmixerClose(HMIXER mixer) { return g_installed ? g_installed->Close(mixer) : MMSYSERR_NODRIVER; }
MMRESULT ORVEX_WINAPI PmixerGetLineInfo(HMIXER mixer, MIXERLINEA* line, uint32_t flags) {
    return g_installed ? g_installed->GetLineInfo(mixer, line, flags) : MMSYSERR_NODRIVER;
}
MMRESULT ORVEX_WINAPI PmixerGetLineControls(HMIXER mixer, MIXERLINECONTROLSA* controls, uint32_t flags) {
    return g_installed ? g_installed->GetLineControls(mixer, controls, flags) : MMSYSERR_NODRIVER;
}
MMRESULT ORVEX_WINAPI PmixerGetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) {
    return g_installed ? g_installed->GetControlDetails(mixer, details, flags) : MMSYSERR_NODRIVER;
}
MMRESULT ORVEX_WINAPI PmixerSetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) {
    return g_installed ? g_installed->SetControlDetails(mixer, details, flags) : MMSYSERR_NODRIVER;
}

void* Export(const char* name) {
    static const struct {
        const char* name;
        void* address;
    } kExports[] = {
        {"PmixerGetNumDevs", reinterpret_cast<void*>(&PmixerGetNumDevs)},
        {"PmixerGetID", reinterpret_cast<void*>(&PmixerGetID)},
        {"PmixerGetDevCaps", reinterpret_cast<void*>(&PmixerGetDevCaps)},
        {"PmixerOpen", reinterpret_cast<void*>(&PmixerOpen)},
        {"PmixerClose", reinterpret_cast<void*>(&PmixerClose)},
        {"PmixerGetLineInfo", reinterpret_cast<void*>(&PmixerGetLineInfo)},
        {"PmixerGetLineControls", reinterpret_cast<void*>(&PmixerGetLineControls)},
        {"PmixerGetControlDetails", reinterpret_cast<void*>(&PmixerGetControlDetails)},
        {"PmixerSetControlDetails", reinterpret_cast<void*>(&PmixerSetControlDetails)},
    };
    for (const auto& e : kExports)
        if (std::strcmp(e.name, name) == 0) return e.address;
    return nullptr;
}

}  // namespace pelk

}  // namespace sim

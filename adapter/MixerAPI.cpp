#include "adapter/MixerAPI.h"

#include <cstring>
#include <new>
#include <vector>

#include "platform/Platform.h"

namespace orvex {

using namespace mixer;

namespace {

constexpr const char* kDriverLibrary = "PelkWDM.Dll";
constexpr const char* kSystemLibrary = "WINMM.DLL";

// The nine exports, in the order they are bound.
constexpr const char* kDriverNames[9] = {
    "PmixerGetNumDevs",      "PmixerGetID",        "PmixerGetDevCaps",
    "PmixerOpen",            "PmixerClose",        "PmixerGetLineInfo",
    "PmixerGetLineControls", "PmixerGetControlDetails", "PmixerSetControlDetails",
};
// WinMM exports mixerSetControlDetails without the A suffix.
constexpr const char* kSystemNames[9] = {
    "mixerGetNumDevs",      "mixerGetID",        "mixerGetDevCapsA",
    "mixerOpen",            "mixerClose",        "mixerGetLineInfoA",
    "mixerGetLineControlsA", "mixerGetControlDetailsA", "mixerSetControlDetails",
};

void* PlatformLoad(const char* name) { return plat::LoadLibrary(name); }
void* PlatformResolve(void* library, const char* name) {
    return reinterpret_cast<void*>(plat::GetProcAddress(library, name));
}
bool PlatformFree(void* library) { return plat::FreeLibrary(library); }
constexpr LibraryApi kPlatformLibraries{PlatformLoad, PlatformResolve, PlatformFree};

const LibraryApi* g_libraries = nullptr;

template <typename F>
F As(void* address) {
    return reinterpret_cast<F>(address);
}

}  // namespace

void CMixerAPI::SetLibraryApi(const LibraryApi* api) { g_libraries = api; }
const LibraryApi& CMixerAPI::GetLibraryApi() { return g_libraries ? *g_libraries : kPlatformLibraries; }

CMixerAPI::CMixerAPI() : m_pLibraries(&GetLibraryApi()) {
    const LibraryApi& libraries = *m_pLibraries;
    m_hLibrary = libraries.LoadLibrary(kDriverLibrary);
    if (m_hLibrary) {
        if (ResolveAll(kDriverNames, true)) {
            m_bBound = 1;
            return;
        }
        // The driver DLL is let go before WinMM is tried, so its handle is never lost.
        Unbind();
    }
    m_bDriverFirst = 0;
    m_hLibrary = libraries.LoadLibrary(kSystemLibrary);
    if (!m_hLibrary) return;
    if (ResolveAll(kSystemNames, false))
        m_bBound = 1;
    else
        Unbind();
}

bool CMixerAPI::ResolveAll(const char* const* names, bool countFirst) {
    const LibraryApi& libraries = *m_pLibraries;
    void* addresses[9] = {};
    for (int i = 0; i < 9; ++i) {
        addresses[i] = libraries.GetProcAddress(m_hLibrary, names[i]);
        if (!addresses[i]) {
            plat::MessageBox("GetProcAddress failed", names[i], plat::mb::Ok);
            Forget();
            return false;
        }
        // The driver DLL is there on machines without a card too; it counts only with a device.
        if (i == 0 && countFirst && m_bDriverFirst && As<PFNMIXERGETNUMDEVS>(addresses[0])() == 0) return false;
    }
    m_pfnGetNumDevs = As<PFNMIXERGETNUMDEVS>(addresses[0]);
    m_pfnGetID = As<PFNMIXERGETID>(addresses[1]);
    m_pfnGetDevCaps = As<PFNMIXERGETDEVCAPS>(addresses[2]);
    m_pfnOpen = As<PFNMIXEROPEN>(addresses[3]);
    m_pfnClose = As<PFNMIXERCLOSE>(addresses[4]);
    m_pfnGetLineInfo = As<PFNMIXERGETLINEINFO>(addresses[5]);
    m_pfnGetLineControls = As<PFNMIXERGETLINECONTROLS>(addresses[6]);
    m_pfnGetControlDetails = As<PFNMIXERGETCONTROLDETAILS>(addresses[7]);
    m_pfnSetControlDetails = As<PFNMIXERSETCONTROLDETAILS>(addresses[8]);
    return true;
}

CMixerAPI::~CMixerAPI() {
    FreeControls();
    Unbind();
}

void CMixerAPI::Forget() {
    m_pfnGetNumDevs = nullptr;
    m_pfnGetID = nullptr;
    m_pfnGetDevCaps = nullptr;
    m_pfnOpen = nullptr;
    m_pfnClose = nullptr;
    m_pfnGetLineInfo = nullptr;
    m_pfnGetLineControls = nullptr;
    m_pfnGetControlDetails = nullptr;
    m_pfnSetControlDetails = nullptr;
    m_bBound = 0;
}

void CMixerAPI::Unbind() {
    if (m_hLibrary) m_pLibraries->FreeLibrary(m_hLibrary);
    m_hLibrary = nullptr;
    Forget();
}

void CMixerAPI::FreeControls() {
    m_pControls.reset();
    m_nControls = 0;
}

uint32_t CMixerAPI::CloseMixer() {
    if (!m_bBound) return MMSYSERR_NODRIVER;
    FreeControls();
    if (!m_hMixer) return MMSYSERR_NOERROR;
    MMRESULT result = m_pfnClose(m_hMixer);
    m_hMixer = nullptr;
    return result;
}

uint32_t CMixerAPI::GetNumDevs() const { return m_bBound ? m_pfnGetNumDevs() : 0; }

MMRESULT CMixerAPI::GetDevCaps(uint32_t device, MIXERCAPSA* caps) const {
    return m_bBound ? m_pfnGetDevCaps(device, caps, sizeof(MIXERCAPSA)) : MMSYSERR_NODRIVER;
}

MMRESULT CMixerAPI::Open(uint32_t device) {
    return m_bBound ? m_pfnOpen(&m_hMixer, device, 0, 0, 0) : MMSYSERR_NODRIVER;
}

MMRESULT CMixerAPI::GetLineInfo(MIXERLINEA* line, uint32_t flags) const {
    return m_bBound ? m_pfnGetLineInfo(m_hMixer, line, flags) : MMSYSERR_NODRIVER;
}

MMRESULT CMixerAPI::GetControlDetails(MIXERCONTROLDETAILS* details, uint32_t flags) const {
    return m_bBound ? m_pfnGetControlDetails(m_hMixer, details, flags) : MMSYSERR_NODRIVER;
}

MMRESULT CMixerAPI::SetControlDetails(MIXERCONTROLDETAILS* details, uint32_t flags) const {
    return m_bBound ? m_pfnSetControlDetails(m_hMixer, details, flags) : MMSYSERR_NODRIVER;
}

bool CMixerAPI::GetAllLineControls(const MIXERLINEA& line) {
    FreeControls();
    m_pControls.reset(new (std::nothrow) MIXERCONTROLA[line.cControls]());
    if (!m_pControls) return false;
    m_nControls = line.cControls;

    MIXERLINECONTROLSA request{};
    request.cbStruct = sizeof(MIXERLINECONTROLSA);
    request.dwLineID = line.dwLineID;
    request.dwControlID = 0;
    request.cControls = line.cControls;
    request.cbmxctrl = sizeof(MIXERCONTROLA);
    request.pamxctrl = m_pControls.get();
    if (m_bBound && m_pfnGetLineControls(m_hMixer, &request, MIXER_GETLINECONTROLSF_ALL) == MMSYSERR_NOERROR)
        return true;
    FreeControls();
    return false;
}

bool CMixerAPI::GetControlByName(const char* name, MIXERCONTROLA* control) const {
    if (!m_pControls || !name || !control) return false;
    // The terminating zero takes part in the comparison, and must fit in the field.
    const size_t length = std::strlen(name);
    if (length >= MIXER_SHORT_NAME_CHARS) return false;
    for (uint32_t i = 0; i < m_nControls; ++i) {
        if (std::memcmp(m_pControls[i].szShortName, name, length + 1) == 0) {
            std::memcpy(control, &m_pControls[i], sizeof(MIXERCONTROLA));
            return true;
        }
    }
    return false;
}

// ---- CMixerControl ----

CMixerControl::CMixerControl(CMixerAPI* binding, uint32_t channels, const MIXERCONTROLA& control)
    : m_pMixer(binding), m_dwChannels(channels), m_Control(control) {}

uint32_t CMixerControl::DetailChannels() const {
    return (m_Control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) != 0 ? 1 : m_dwChannels;
}

void CMixerControl::FillDetails(MIXERCONTROLDETAILS* details, uint32_t size, void* data) const {
    std::memset(details, 0, sizeof *details);
    details->cbStruct = sizeof(MIXERCONTROLDETAILS);
    details->dwControlID = m_Control.dwControlID;
    details->cChannels = DetailChannels();
    details->cMultipleItems = m_Control.cMultipleItems;
    details->cbDetails = size;
    details->paDetails = data;
}

bool CMixerControl::GetValue(void* output, uint32_t size) const {
    if (!m_pMixer || !output) return false;
    const uint32_t channels = DetailChannels();
    if (channels > CMixerAPI::kMaxChannels) return false;
    MIXERCONTROLDETAILS details;

    if (IsList()) {
        // One entry more than a list may have items, as the driver expects on reading.
        std::array<uint32_t, (CMixerAPI::kMaxListItems + 1) * CMixerAPI::kMaxChannels> entries{};
        const uint32_t items = m_Control.cMultipleItems;
        if (items > CMixerAPI::kMaxListItems || size < sizeof(uint32_t) ||
            uint64_t{channels > 0 ? channels : 1} * items * size > sizeof entries)
            return false;
        FillDetails(&details, size, entries.data());
        if (m_pMixer->GetControlDetails(&details, MIXER_GETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR) return false;
        for (uint32_t i = 0; i < items; ++i) {
            if (entries[i] != 0) {
                std::memcpy(output, &i, sizeof i);
                break;
            }
        }
        return true;
    }

    if (channels <= 1) {
        FillDetails(&details, size, output);
        return m_pMixer->GetControlDetails(&details, MIXER_GETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
    }
    // A value per channel; the caller gets the first.
    std::vector<uint8_t> all(size_t{channels} * size);
    FillDetails(&details, size, all.data());
    if (m_pMixer->GetControlDetails(&details, MIXER_GETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR) return false;
    std::memcpy(output, all.data(), size);
    return true;
}

bool CMixerControl::SetValue(uint32_t value) const {
    if (!m_pMixer) return false;
    const uint32_t channels = DetailChannels();
    if (channels > CMixerAPI::kMaxChannels) return false;
    const uint32_t perChannel = channels > 0 ? channels : 1;
    MIXERCONTROLDETAILS details;

    if (IsList()) {
        const uint32_t items = m_Control.cMultipleItems;
        if (items > CMixerAPI::kMaxListItems || value >= items) return false;
        std::array<uint32_t, CMixerAPI::kMaxListItems * CMixerAPI::kMaxChannels> entries{};
        for (uint32_t c = 0; c < perChannel; ++c) entries[c * items + value] = 1;
        FillDetails(&details, sizeof(uint32_t), entries.data());
        return m_pMixer->SetControlDetails(&details, MIXER_SETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
    }

    std::array<uint32_t, CMixerAPI::kMaxChannels> values{};
    for (uint32_t c = 0; c < perChannel; ++c) values[c] = value;
    FillDetails(&details, sizeof(uint32_t), values.data());
    return m_pMixer->SetControlDetails(&details, MIXER_SETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
}

}  // namespace orvex

#pragma once
// CMixerAPI: the nine mixer functions bound at run time from the adapter
// driver's "PelkWDM.Dll" (accepted only when it reports a device) or, failing
// that, from the system's WinMM; the one mixer device open through them; and
// the control list of the line last examined. CMixerControl: one named
// control found in such a list, kept by value for later reads and writes.
//
// List controls: their values travel as one 32-bit entry per item. Lists of
// more than 64 items, and a SetValue item number outside the list, are
// refused without a call to the driver: the entry tables hold 64 items.
// Controls read or written per channel get a buffer for every channel, so a
// driver that fills all of them never writes past the caller's value.
#include <array>
#include <cstdint>
#include <memory>

#include "adapter/MixerRecords.h"

namespace orvex {

class CMixerAPI {
public:
    static constexpr uint32_t kMaxListItems = 64;
    static constexpr uint32_t kMaxChannels = 16;

    // Where the next bindings load their libraries; null puts back the platform's loader.
    static void SetLibraryApi(const mixer::LibraryApi* api);
    static const mixer::LibraryApi& GetLibraryApi();

    CMixerAPI();
    virtual ~CMixerAPI();
    CMixerAPI(const CMixerAPI&) = delete;
    CMixerAPI& operator=(const CMixerAPI&) = delete;

    bool IsBound() const { return m_bBound != 0; }
    // MMSYSERR_NODRIVER when unbound; otherwise frees the control list and closes the open device.
    uint32_t CloseMixer();
    void Unbind();
    bool GetAllLineControls(const mixer::MIXERLINEA& line);
    bool GetControlByName(const char* name, mixer::MIXERCONTROLA* control) const;
    void FreeControls();

    // The bound functions the unit control calls directly; unbound they fail
    // (no devices, MMSYSERR_NODRIVER) without a call.
    uint32_t GetNumDevs() const;
    mixer::MMRESULT GetDevCaps(uint32_t device, mixer::MIXERCAPSA* caps) const;
    mixer::MMRESULT Open(uint32_t device);  // into m_hMixer
    mixer::MMRESULT GetLineInfo(mixer::MIXERLINEA* line, uint32_t flags) const;
    mixer::MMRESULT GetControlDetails(mixer::MIXERCONTROLDETAILS* details, uint32_t flags) const;
    mixer::MMRESULT SetControlDetails(mixer::MIXERCONTROLDETAILS* details, uint32_t flags) const;

    uint32_t ControlCount() const { return m_nControls; }
    const mixer::MIXERCONTROLA* Controls() const { return m_pControls.get(); }
    bool DriverFirst() const { return m_bDriverFirst != 0; }
    void* Library() const { return m_hLibrary; }

    mixer::HMIXER m_hMixer = nullptr;

private:
    // Resolves the nine exports from the loaded library; false (after the box) at the first one missing.
    bool ResolveAll(const char* const* names, bool countFirst);
    void Forget();

    const mixer::LibraryApi* m_pLibraries;  // the loader that loaded m_hLibrary, for letting it go
    void* m_hLibrary = nullptr;
    uint8_t m_bBound = 0;
    uint8_t m_bDriverFirst = 1;
    mixer::PFNMIXERGETNUMDEVS m_pfnGetNumDevs = nullptr;
    mixer::PFNMIXERGETID m_pfnGetID = nullptr;
    mixer::PFNMIXERGETDEVCAPS m_pfnGetDevCaps = nullptr;
    mixer::PFNMIXEROPEN m_pfnOpen = nullptr;
    mixer::PFNMIXERCLOSE m_pfnClose = nullptr;
    mixer::PFNMIXERGETLINEINFO m_pfnGetLineInfo = nullptr;
    mixer::PFNMIXERGETLINECONTROLS m_pfnGetLineControls = nullptr;
    mixer::PFNMIXERGETCONTROLDETAILS m_pfnGetControlDetails = nullptr;
    mixer::PFNMIXERSETCONTROLDETAILS m_pfnSetControlDetails = nullptr;
    uint32_t m_nControls = 0;
    std::unique_ptr<mixer::MIXERCONTROLA[]> m_pControls;
};

class CMixerControl {
public:
    CMixerControl() = default;
    CMixerControl(CMixerAPI* binding, uint32_t channels, const mixer::MIXERCONTROLA& control);
    virtual ~CMixerControl() = default;
    CMixerControl(const CMixerControl&) = default;
    CMixerControl& operator=(const CMixerControl&) = default;

    // size: bytes of one value (4, or 450 for the status blocks). A list
    // control writes the number of its first selected item as 32 bits; with
    // no item selected the output stays as it was.
    bool GetValue(void* output, uint32_t size) const;
    // A list control selects item number `value`.
    bool SetValue(uint32_t value) const;

    bool IsFound() const { return m_pMixer != nullptr; }
    const mixer::MIXERCONTROLA& Record() const { return m_Control; }
    uint32_t Channels() const { return m_dwChannels; }

private:
    bool IsList() const { return m_Control.cMultipleItems != 0; }
    uint32_t DetailChannels() const;
    void FillDetails(mixer::MIXERCONTROLDETAILS* details, uint32_t size, void* data) const;

    CMixerAPI* m_pMixer = nullptr;
    uint32_t m_dwChannels = 0;
    mixer::MIXERCONTROLA m_Control{};
};

}  // namespace orvex

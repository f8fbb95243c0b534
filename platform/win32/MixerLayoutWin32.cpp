// The mixer records and constants of the adapter path, checked at compile
// time against the system's own declarations: the driver DLL and WinMM fill
// these records, so one byte out of place would be a corrupted call.
#include "adapter/MixerRecords.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace {
// Our constants, read before the system's macros of the same names exist.
constexpr uint32_t kOurValues[] = {
    mixer::MMSYSERR_NOERROR, mixer::MMSYSERR_NODRIVER, mixer::MMSYSERR_INVALPARAM, mixer::MIXERR_INVALLINE,
    mixer::MIXERR_INVALCONTROL, mixer::MIXER_GETLINEINFOF_SOURCE, mixer::MIXER_GETLINEINFOF_COMPONENTTYPE,
    mixer::MIXER_GETLINECONTROLSF_ALL, mixer::MIXER_GETCONTROLDETAILSF_VALUE, mixer::MIXER_SETCONTROLDETAILSF_VALUE,
    mixer::MIXER_OBJECTF_HMIXER, mixer::MIXERCONTROL_CONTROLF_UNIFORM, mixer::MIXERCONTROL_CONTROLF_MULTIPLE,
    mixer::MIXERCONTROL_CONTROLTYPE_UNSIGNED, mixer::MIXERCONTROL_CONTROLTYPE_BOOLEAN,
    mixer::MIXERCONTROL_CONTROLTYPE_MUX, mixer::MIXER_SHORT_NAME_CHARS, mixer::MIXER_LONG_NAME_CHARS,
    mixer::MMSYSERR_ALLOCATED, mixer::MMSYSERR_NOTSUPPORTED, mixer::MMSYSERR_INVALFLAG, mixer::MIXERR_INVALVALUE,
    mixer::MIXER_GETLINEINFOF_LINEID, mixer::MIXER_GETLINECONTROLSF_ONEBYID, mixer::MIXER_GETLINECONTROLSF_ONEBYTYPE,
    mixer::MIXERLINE_LINEF_ACTIVE, mixer::MIXERLINE_LINEF_SOURCE, mixer::MIXERLINE_COMPONENTTYPE_SRC_DIGITAL,
    mixer::MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, mixer::MIXERCONTROL_CONTROLTYPE_PEAKMETER,
    mixer::MIXERCONTROL_CONTROLTYPE_VOLUME, mixer::MIXERCONTROL_CONTROLTYPE_CUSTOM,
};
}  // namespace

#include <windows.h>
#include <mmsystem.h>

namespace {

constexpr uint32_t kRealValues[] = {
    MMSYSERR_NOERROR, MMSYSERR_NODRIVER, MMSYSERR_INVALPARAM, MIXERR_INVALLINE,
    MIXERR_INVALCONTROL, MIXER_GETLINEINFOF_SOURCE, MIXER_GETLINEINFOF_COMPONENTTYPE,
    MIXER_GETLINECONTROLSF_ALL, MIXER_GETCONTROLDETAILSF_VALUE, MIXER_SETCONTROLDETAILSF_VALUE,
    MIXER_OBJECTF_HMIXER, MIXERCONTROL_CONTROLF_UNIFORM, MIXERCONTROL_CONTROLF_MULTIPLE,
    MIXERCONTROL_CONTROLTYPE_UNSIGNED, MIXERCONTROL_CONTROLTYPE_BOOLEAN,
    MIXERCONTROL_CONTROLTYPE_MUX, MIXER_SHORT_NAME_CHARS, MIXER_LONG_NAME_CHARS,
    MMSYSERR_ALLOCATED, MMSYSERR_NOTSUPPORTED, MMSYSERR_INVALFLAG, MIXERR_INVALVALUE,
    MIXER_GETLINEINFOF_LINEID, MIXER_GETLINECONTROLSF_ONEBYID, MIXER_GETLINECONTROLSF_ONEBYTYPE,
    MIXERLINE_LINEF_ACTIVE, MIXERLINE_LINEF_SOURCE, MIXERLINE_COMPONENTTYPE_SRC_DIGITAL,
    MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERCONTROL_CONTROLTYPE_PEAKMETER,
    MIXERCONTROL_CONTROLTYPE_VOLUME, MIXERCONTROL_CONTROLTYPE_CUSTOM,
};
static_assert(sizeof kOurValues == sizeof kRealValues);
constexpr bool SameValues() {
    for (size_t i = 0; i < sizeof kOurValues / sizeof kOurValues[0]; ++i)
        if (kOurValues[i] != kRealValues[i]) return false;
    return true;
}
static_assert(SameValues(), "a mixer constant differs from the system's");

#define ORVEX_SAME_FIELD(Ours, Real, field)                                   \
    static_assert(offsetof(Ours, field) == offsetof(Real, field), #field); \
    static_assert(sizeof(Ours::field) == sizeof(Real::field), #field)

static_assert(sizeof(mixer::MIXERCAPSA) == sizeof(::MIXERCAPSA));
ORVEX_SAME_FIELD(mixer::MIXERCAPSA, ::MIXERCAPSA, wMid);
ORVEX_SAME_FIELD(mixer::MIXERCAPSA, ::MIXERCAPSA, vDriverVersion);
ORVEX_SAME_FIELD(mixer::MIXERCAPSA, ::MIXERCAPSA, szPname);
ORVEX_SAME_FIELD(mixer::MIXERCAPSA, ::MIXERCAPSA, fdwSupport);
ORVEX_SAME_FIELD(mixer::MIXERCAPSA, ::MIXERCAPSA, cDestinations);

static_assert(sizeof(mixer::MIXERLINEA) == sizeof(::MIXERLINEA));
ORVEX_SAME_FIELD(mixer::MIXERLINEA, ::MIXERLINEA, cbStruct);
ORVEX_SAME_FIELD(mixer::MIXERLINEA, ::MIXERLINEA, dwDestination);
ORVEX_SAME_FIELD(mixer::MIXERLINEA, ::MIXERLINEA, dwSource);
ORVEX_SAME_FIELD(mixer::MIXERLINEA, ::MIXERLINEA, dwLineID);
ORVEX_SAME_FIELD(mixer::MIXERLINEA, ::MIXERLINEA, fdwLine);
ORVEX_SAME_FIELD(mixer::MIXERLINEA, ::MIXERLINEA, dwUser);
ORVEX_SAME_FIELD(mixer::MIXERLINEA, ::MIXERLINEA, dwComponentType);
ORVEX_SAME_FIELD(mixer::MIXERLINEA, ::MIXERLINEA, cChannels);
ORVEX_SAME_FIELD(mixer::MIXERLINEA, ::MIXERLINEA, cConnections);
ORVEX_SAME_FIELD(mixer::MIXERLINEA, ::MIXERLINEA, cControls);
ORVEX_SAME_FIELD(mixer::MIXERLINEA, ::MIXERLINEA, szShortName);
ORVEX_SAME_FIELD(mixer::MIXERLINEA, ::MIXERLINEA, szName);
ORVEX_SAME_FIELD(mixer::MIXERLINEA, ::MIXERLINEA, Target);

static_assert(sizeof(mixer::MIXERCONTROLA) == sizeof(::MIXERCONTROLA));
ORVEX_SAME_FIELD(mixer::MIXERCONTROLA, ::MIXERCONTROLA, cbStruct);
ORVEX_SAME_FIELD(mixer::MIXERCONTROLA, ::MIXERCONTROLA, dwControlID);
ORVEX_SAME_FIELD(mixer::MIXERCONTROLA, ::MIXERCONTROLA, dwControlType);
ORVEX_SAME_FIELD(mixer::MIXERCONTROLA, ::MIXERCONTROLA, fdwControl);
ORVEX_SAME_FIELD(mixer::MIXERCONTROLA, ::MIXERCONTROLA, cMultipleItems);
ORVEX_SAME_FIELD(mixer::MIXERCONTROLA, ::MIXERCONTROLA, szShortName);
ORVEX_SAME_FIELD(mixer::MIXERCONTROLA, ::MIXERCONTROLA, szName);
ORVEX_SAME_FIELD(mixer::MIXERCONTROLA, ::MIXERCONTROLA, Bounds);
ORVEX_SAME_FIELD(mixer::MIXERCONTROLA, ::MIXERCONTROLA, Metrics);

static_assert(sizeof(mixer::MIXERLINECONTROLSA) == sizeof(::MIXERLINECONTROLSA));
ORVEX_SAME_FIELD(mixer::MIXERLINECONTROLSA, ::MIXERLINECONTROLSA, cbStruct);
ORVEX_SAME_FIELD(mixer::MIXERLINECONTROLSA, ::MIXERLINECONTROLSA, dwLineID);
ORVEX_SAME_FIELD(mixer::MIXERLINECONTROLSA, ::MIXERLINECONTROLSA, dwControlID);
ORVEX_SAME_FIELD(mixer::MIXERLINECONTROLSA, ::MIXERLINECONTROLSA, cControls);
ORVEX_SAME_FIELD(mixer::MIXERLINECONTROLSA, ::MIXERLINECONTROLSA, cbmxctrl);
ORVEX_SAME_FIELD(mixer::MIXERLINECONTROLSA, ::MIXERLINECONTROLSA, pamxctrl);

static_assert(sizeof(mixer::MIXERCONTROLDETAILS) == sizeof(::MIXERCONTROLDETAILS));
ORVEX_SAME_FIELD(mixer::MIXERCONTROLDETAILS, ::MIXERCONTROLDETAILS, cbStruct);
ORVEX_SAME_FIELD(mixer::MIXERCONTROLDETAILS, ::MIXERCONTROLDETAILS, dwControlID);
ORVEX_SAME_FIELD(mixer::MIXERCONTROLDETAILS, ::MIXERCONTROLDETAILS, cChannels);
ORVEX_SAME_FIELD(mixer::MIXERCONTROLDETAILS, ::MIXERCONTROLDETAILS, cMultipleItems);
ORVEX_SAME_FIELD(mixer::MIXERCONTROLDETAILS, ::MIXERCONTROLDETAILS, cbDetails);
ORVEX_SAME_FIELD(mixer::MIXERCONTROLDETAILS, ::MIXERCONTROLDETAILS, paDetails);
#undef ORVEX_SAME_FIELD

#if defined(__i386__)
// The sizes the 32-bit program exchanges with the driver.
static_assert(sizeof(::MIXERCAPSA) == 48 && sizeof(::MIXERLINEA) == 168 && sizeof(::MIXERLINECONTROLSA) == 24 &&
              sizeof(::MIXERCONTROLA) == 148 && sizeof(::MIXERCONTROLDETAILS) == 24);
#endif

// ---- signatures of the nine functions against WinMM's ----
template <typename F>
struct Shape {
    static constexpr bool kWinApi = false;
};
template <typename R, typename... A>
struct Shape<R(ORVEX_WINAPI*)(A...)> {
    static constexpr bool kWinApi = true;
    static constexpr size_t kArity = sizeof...(A);
    static constexpr size_t kResult = sizeof(R);
    static constexpr size_t kSizes[sizeof...(A) + 1] = {sizeof(A)..., 0};
    static constexpr bool kPointers[sizeof...(A) + 1] = {std::is_pointer_v<A>..., false};
};
template <typename Ours, typename Real>
constexpr bool SameShape() {
    using O = Shape<Ours>;
    using S = Shape<Real>;
    if (!O::kWinApi || !S::kWinApi) return false;
    if (O::kArity != S::kArity || O::kResult != S::kResult) return false;
    for (size_t i = 0; i < O::kArity; ++i)
        if (O::kSizes[i] != S::kSizes[i] || O::kPointers[i] != S::kPointers[i]) return false;
    return true;
}
static_assert(SameShape<mixer::PFNMIXERGETNUMDEVS, decltype(&::mixerGetNumDevs)>());
static_assert(SameShape<mixer::PFNMIXERGETID, decltype(&::mixerGetID)>());
static_assert(SameShape<mixer::PFNMIXERGETDEVCAPS, decltype(&::mixerGetDevCapsA)>());
static_assert(SameShape<mixer::PFNMIXEROPEN, decltype(&::mixerOpen)>());
static_assert(SameShape<mixer::PFNMIXERCLOSE, decltype(&::mixerClose)>());
static_assert(SameShape<mixer::PFNMIXERGETLINEINFO, decltype(&::mixerGetLineInfoA)>());
static_assert(SameShape<mixer::PFNMIXERGETLINECONTROLS, decltype(&::mixerGetLineControlsA)>());
static_assert(SameShape<mixer::PFNMIXERGETCONTROLDETAILS, decltype(&::mixerGetControlDetailsA)>());
static_assert(SameShape<mixer::PFNMIXERSETCONTROLDETAILS, decltype(&::mixerSetControlDetails)>());

}  // namespace

// The system's winmm behind the MIDI transport's function table. The table's
// types are our own; this file checks at compile time that they have the
// system's layouts, values and signatures, then puts the real functions in.
#include "transport/WinMMApi.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

// Our constants, read before the system's macros of the same names exist.
namespace {
constexpr uint32_t kOurValues[] = {
    winmm::MMSYSERR_NOERROR,  winmm::MMSYSERR_ERROR,     winmm::MMSYSERR_BADDEVICEID, winmm::MMSYSERR_ALLOCATED,
    winmm::MMSYSERR_INVALHANDLE, winmm::MMSYSERR_NODRIVER, winmm::MMSYSERR_NOMEM,      winmm::MMSYSERR_INVALPARAM,
    winmm::MIDIERR_UNPREPARED, winmm::MIDIERR_STILLPLAYING, winmm::MIDIERR_NOTREADY,   winmm::MIDIERR_NODEVICE,
    winmm::MHDR_DONE,         winmm::MHDR_PREPARED,      winmm::MHDR_INQUEUE,         winmm::MOD_MIDIPORT,
    winmm::MOD_SYNTH,         winmm::MOD_SWSYNTH,        winmm::CALLBACK_NULL,        winmm::MAXPNAMELEN,
};
}  // namespace

#include <windows.h>
#include <mmsystem.h>

namespace winmm {
namespace {

constexpr uint32_t kRealValues[] = {
    MMSYSERR_NOERROR,   MMSYSERR_ERROR,       MMSYSERR_BADDEVICEID, MMSYSERR_ALLOCATED,
    MMSYSERR_INVALHANDLE, MMSYSERR_NODRIVER,  MMSYSERR_NOMEM,       MMSYSERR_INVALPARAM,
    MIDIERR_UNPREPARED, MIDIERR_STILLPLAYING, MIDIERR_NOTREADY,     MIDIERR_NODEVICE,
    MHDR_DONE,          MHDR_PREPARED,        MHDR_INQUEUE,         MOD_MIDIPORT,
    MOD_SYNTH,          MOD_SWSYNTH,          CALLBACK_NULL,        MAXPNAMELEN,
};
static_assert(sizeof kOurValues == sizeof kRealValues);
constexpr bool SameValues() {
    for (size_t i = 0; i < sizeof kOurValues / sizeof kOurValues[0]; ++i)
        if (kOurValues[i] != kRealValues[i]) return false;
    return true;
}
static_assert(SameValues(), "a WinMM constant differs from the system's");

// ---- layouts -------------------------------------------------------------
#define ORVEX_SAME_FIELD(Ours, Real, field)                                   \
    static_assert(offsetof(Ours, field) == offsetof(Real, field), #field); \
    static_assert(sizeof(Ours::field) == sizeof(Real::field), #field)

static_assert(sizeof(MIDIHDR) == sizeof(::MIDIHDR) && alignof(MIDIHDR) == alignof(::MIDIHDR));
ORVEX_SAME_FIELD(MIDIHDR, ::MIDIHDR, lpData);
ORVEX_SAME_FIELD(MIDIHDR, ::MIDIHDR, dwBufferLength);
ORVEX_SAME_FIELD(MIDIHDR, ::MIDIHDR, dwBytesRecorded);
ORVEX_SAME_FIELD(MIDIHDR, ::MIDIHDR, dwUser);
ORVEX_SAME_FIELD(MIDIHDR, ::MIDIHDR, dwFlags);
ORVEX_SAME_FIELD(MIDIHDR, ::MIDIHDR, lpNext);
ORVEX_SAME_FIELD(MIDIHDR, ::MIDIHDR, reserved);
ORVEX_SAME_FIELD(MIDIHDR, ::MIDIHDR, dwOffset);
ORVEX_SAME_FIELD(MIDIHDR, ::MIDIHDR, dwReserved);

static_assert(sizeof(MIDIOUTCAPSA) == sizeof(::MIDIOUTCAPSA));
ORVEX_SAME_FIELD(MIDIOUTCAPSA, ::MIDIOUTCAPSA, wMid);
ORVEX_SAME_FIELD(MIDIOUTCAPSA, ::MIDIOUTCAPSA, wPid);
ORVEX_SAME_FIELD(MIDIOUTCAPSA, ::MIDIOUTCAPSA, vDriverVersion);
ORVEX_SAME_FIELD(MIDIOUTCAPSA, ::MIDIOUTCAPSA, szPname);
ORVEX_SAME_FIELD(MIDIOUTCAPSA, ::MIDIOUTCAPSA, wTechnology);
ORVEX_SAME_FIELD(MIDIOUTCAPSA, ::MIDIOUTCAPSA, wVoices);
ORVEX_SAME_FIELD(MIDIOUTCAPSA, ::MIDIOUTCAPSA, wNotes);
ORVEX_SAME_FIELD(MIDIOUTCAPSA, ::MIDIOUTCAPSA, wChannelMask);
ORVEX_SAME_FIELD(MIDIOUTCAPSA, ::MIDIOUTCAPSA, dwSupport);

static_assert(sizeof(MIDIINCAPSA) == sizeof(::MIDIINCAPSA));
ORVEX_SAME_FIELD(MIDIINCAPSA, ::MIDIINCAPSA, wMid);
ORVEX_SAME_FIELD(MIDIINCAPSA, ::MIDIINCAPSA, wPid);
ORVEX_SAME_FIELD(MIDIINCAPSA, ::MIDIINCAPSA, vDriverVersion);
ORVEX_SAME_FIELD(MIDIINCAPSA, ::MIDIINCAPSA, szPname);
ORVEX_SAME_FIELD(MIDIINCAPSA, ::MIDIINCAPSA, dwSupport);
#undef ORVEX_SAME_FIELD

// ---- signatures: same calling convention, arity and argument sizes ---------
template <typename F>
struct Shape {
    static constexpr bool kWinApi = false;  // not a function pointer of the system's convention
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

// Only the pointer types of handles and records differ from the system's
// declaration, and those have the system's layout (checked above).
#define ORVEX_BIND(table, name)                                                                 \
    static_assert(SameShape<decltype(table.name), decltype(&::name)>(), #name " signature"); \
    table.name = reinterpret_cast<decltype(table.name)>(reinterpret_cast<void (*)()>(&::name))

WinMMApi Bound() {
    WinMMApi api{};
    ORVEX_BIND(api, midiOutGetNumDevs);
    ORVEX_BIND(api, midiOutGetDevCapsA);
    ORVEX_BIND(api, midiInGetNumDevs);
    ORVEX_BIND(api, midiInGetDevCapsA);
    ORVEX_BIND(api, midiInOpen);
    ORVEX_BIND(api, midiOutOpen);
    ORVEX_BIND(api, midiInPrepareHeader);
    ORVEX_BIND(api, midiInAddBuffer);
    ORVEX_BIND(api, midiInStart);
    ORVEX_BIND(api, midiInReset);
    ORVEX_BIND(api, midiInStop);
    ORVEX_BIND(api, midiInUnprepareHeader);
    ORVEX_BIND(api, midiInClose);
    ORVEX_BIND(api, midiOutPrepareHeader);
    ORVEX_BIND(api, midiOutLongMsg);
    ORVEX_BIND(api, midiOutUnprepareHeader);
    ORVEX_BIND(api, midiOutReset);
    ORVEX_BIND(api, midiOutClose);
    ORVEX_BIND(api, timeGetTime);
    return api;
}
#undef ORVEX_BIND

}  // namespace

const WinMMApi& SystemWinMM() {
    static const WinMMApi api = Bound();
    return api;
}

}  // namespace winmm

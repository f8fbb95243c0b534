#pragma once
// The WinMM MIDI functions the MIDI transport calls, as a table of function
// pointers with the system's names and signatures. Production fills it from
// the system's winmm (SystemWinMM, Windows builds only); tests and the
// simulation fill it from the virtual MIDI system. The types below have the
// layout of the system's own so the table can hold the real functions.
#include <cstdint>

// The system's WinMM functions use the stdcall convention on 32-bit x86; the
// table's pointers must carry it or every call through them unbalances the stack.
#if defined(__i386__)
#define ORVEX_WINAPI __attribute__((stdcall))
#else
#define ORVEX_WINAPI
#endif

namespace winmm {

using MMRESULT = uint32_t;

// Opaque port handles; only the system (or the virtual MIDI system) looks inside.
struct HMIDIIN__;
struct HMIDIOUT__;
using HMIDIIN = HMIDIIN__*;
using HMIDIOUT = HMIDIOUT__*;

inline constexpr uint32_t MAXPNAMELEN = 32;

// The system declares these records byte-packed; on 64-bit that moves fields.
#pragma pack(push, 1)
struct MIDIHDR {
    char* lpData;
    uint32_t dwBufferLength;
    uint32_t dwBytesRecorded;
    uintptr_t dwUser;
    uint32_t dwFlags;
    MIDIHDR* lpNext;
    uintptr_t reserved;
    uint32_t dwOffset;
    uintptr_t dwReserved[8];
};

struct MIDIOUTCAPSA {
    uint16_t wMid;
    uint16_t wPid;
    uint32_t vDriverVersion;
    char szPname[MAXPNAMELEN];
    uint16_t wTechnology;
    uint16_t wVoices;
    uint16_t wNotes;
    uint16_t wChannelMask;
    uint32_t dwSupport;
};

struct MIDIINCAPSA {
    uint16_t wMid;
    uint16_t wPid;
    uint32_t vDriverVersion;
    char szPname[MAXPNAMELEN];
    uint32_t dwSupport;
};
#pragma pack(pop)

// Results.
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT MIDIERR_UNPREPARED = 64;
inline constexpr MMRESULT MIDIERR_STILLPLAYING = 65;
inline constexpr MMRESULT MIDIERR_NOTREADY = 67;
inline constexpr MMRESULT MIDIERR_NODEVICE = 68;

// MIDIHDR.dwFlags.
inline constexpr uint32_t MHDR_DONE = 0x1;
inline constexpr uint32_t MHDR_PREPARED = 0x2;
inline constexpr uint32_t MHDR_INQUEUE = 0x4;

// MIDIOUTCAPSA.wTechnology.
inline constexpr uint16_t MOD_MIDIPORT = 1;
inline constexpr uint16_t MOD_SYNTH = 2;
inline constexpr uint16_t MOD_SWSYNTH = 7;

// Open flags: no callback.
inline constexpr uint32_t CALLBACK_NULL = 0;

struct WinMMApi {
    uint32_t(ORVEX_WINAPI* midiOutGetNumDevs)();
    MMRESULT(ORVEX_WINAPI* midiOutGetDevCapsA)(uintptr_t uDeviceID, MIDIOUTCAPSA* pmoc, uint32_t cbmoc);
    uint32_t(ORVEX_WINAPI* midiInGetNumDevs)();
    MMRESULT(ORVEX_WINAPI* midiInGetDevCapsA)(uintptr_t uDeviceID, MIDIINCAPSA* pmic, uint32_t cbmic);
    MMRESULT(ORVEX_WINAPI* midiInOpen)(HMIDIIN* phmi, uint32_t uDeviceID, uintptr_t dwCallback, uintptr_t dwInstance,
                                       uint32_t fdwOpen);
    MMRESULT(ORVEX_WINAPI* midiOutOpen)(HMIDIOUT* phmo, uint32_t uDeviceID, uintptr_t dwCallback,
                                        uintptr_t dwInstance, uint32_t fdwOpen);
    MMRESULT(ORVEX_WINAPI* midiInPrepareHeader)(HMIDIIN hmi, MIDIHDR* pmh, uint32_t cbmh);
    MMRESULT(ORVEX_WINAPI* midiInAddBuffer)(HMIDIIN hmi, MIDIHDR* pmh, uint32_t cbmh);
    MMRESULT(ORVEX_WINAPI* midiInStart)(HMIDIIN hmi);
    MMRESULT(ORVEX_WINAPI* midiInReset)(HMIDIIN hmi);
    MMRESULT(ORVEX_WINAPI* midiInStop)(HMIDIIN hmi);
    MMRESULT(ORVEX_WINAPI* midiInUnprepareHeader)(HMIDIIN hmi, MIDIHDR* pmh, uint32_t cbmh);
    MMRESULT(ORVEX_WINAPI* midiInClose)(HMIDIIN hmi);
    MMRESULT(ORVEX_WINAPI* midiOutPrepareHeader)(HMIDIOUT hmo, MIDIHDR* pmh, uint32_t cbmh);
    MMRESULT(ORVEX_WINAPI* midiOutLongMsg)(HMIDIOUT hmo, MIDIHDR* pmh, uint32_t cbmh);
    MMRESULT(ORVEX_WINAPI* midiOutUnprepareHeader)(HMIDIOUT hmo, MIDIHDR* pmh, uint32_t cbmh);
    MMRESULT(ORVEX_WINAPI* midiOutReset)(HMIDIOUT hmo);
    MMRESULT(ORVEX_WINAPI* midiOutClose)(HMIDIOUT hmo);
    uint32_t(ORVEX_WINAPI* timeGetTime)();
};

// The system's winmm (platform/win32 only).
const WinMMApi& SystemWinMM();

}  // namespace winmm

#pragma once
// The mixer functions the adapter path calls, with the records they exchange.
// The adapter driver's "PelkWDM.Dll" exports nine of them under "Pmixer" names
// with the same arguments and results as WinMM's own, so one set of call sites
// serves both. The records are declared here with the platform's published
// layouts (byte-packed, as the system declares them).
#include <cstddef>
#include <cstdint>

#include "transport/WinMMApi.h"  // ORVEX_WINAPI, the calling convention of the system's functions

namespace mixer {

using MMRESULT = uint32_t;

// Opaque mixer handle; only the driver looks inside.
struct HMIXER__;
using HMIXER = HMIXER__*;

inline constexpr uint32_t MAXPNAMELEN = 32;
inline constexpr uint32_t MIXER_SHORT_NAME_CHARS = 16;
inline constexpr uint32_t MIXER_LONG_NAME_CHARS = 64;

#pragma pack(push, 1)
struct MIXERCAPSA {
    uint16_t wMid;
    uint16_t wPid;
    uint32_t vDriverVersion;
    char szPname[MAXPNAMELEN];
    uint32_t fdwSupport;
    uint32_t cDestinations;
};

struct MIXERLINEA {
    uint32_t cbStruct;
    uint32_t dwDestination;
    uint32_t dwSource;
    uint32_t dwLineID;
    uint32_t fdwLine;
    uintptr_t dwUser;
    uint32_t dwComponentType;
    uint32_t cChannels;
    uint32_t cConnections;
    uint32_t cControls;
    char szShortName[MIXER_SHORT_NAME_CHARS];
    char szName[MIXER_LONG_NAME_CHARS];
    struct {
        uint32_t dwType;
        uint32_t dwDeviceID;
        uint16_t wMid;
        uint16_t wPid;
        uint32_t vDriverVersion;
        char szPname[MAXPNAMELEN];
    } Target;
};

struct MIXERCONTROLA {
    uint32_t cbStruct;
    uint32_t dwControlID;
    uint32_t dwControlType;
    uint32_t fdwControl;
    uint32_t cMultipleItems;
    char szShortName[MIXER_SHORT_NAME_CHARS];
    char szName[MIXER_LONG_NAME_CHARS];
    union {
        struct {
            int32_t lMinimum;
            int32_t lMaximum;
        };
        struct {
            uint32_t dwMinimum;
            uint32_t dwMaximum;
        };
        uint32_t dwReserved[6];
    } Bounds;
    union {
        uint32_t cSteps;
        uint32_t cbCustomData;
        uint32_t dwReserved[6];
    } Metrics;
};

struct MIXERLINECONTROLSA {
    uint32_t cbStruct;
    uint32_t dwLineID;
    union {
        uint32_t dwControlID;
        uint32_t dwControlType;
    };
    uint32_t cControls;
    uint32_t cbmxctrl;
    MIXERCONTROLA* pamxctrl;
};

struct MIXERCONTROLDETAILS {
    uint32_t cbStruct;
    uint32_t dwControlID;
    uint32_t cChannels;
    union {
        void* hwndOwner;
        uint32_t cMultipleItems;
    };
    uint32_t cbDetails;
    void* paDetails;
};
#pragma pack(pop)

// The 32-bit program exchanges records of exactly these sizes with the driver.
static_assert(sizeof(void*) != 4 || sizeof(MIXERCAPSA) == 48);
static_assert(sizeof(void*) != 4 || sizeof(MIXERLINEA) == 168);
static_assert(sizeof(void*) != 4 || sizeof(MIXERLINECONTROLSA) == 24);
static_assert(sizeof(void*) != 4 || sizeof(MIXERCONTROLA) == 148);
static_assert(sizeof(void*) != 4 || sizeof(MIXERCONTROLDETAILS) == 24);
static_assert(sizeof(MIXERCAPSA) == 48 && sizeof(MIXERCONTROLA) == 148, "no pointers inside: same on 64-bit");

// Results.
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT MIXERR_INVALLINE = 1024;
inline constexpr MMRESULT MIXERR_INVALCONTROL = 1025;
inline constexpr MMRESULT MIXERR_INVALVALUE = 1026;

// mixerGetLineInfo flags.
inline constexpr uint32_t MIXER_GETLINEINFOF_DESTINATION = 0x0;
inline constexpr uint32_t MIXER_GETLINEINFOF_SOURCE = 0x1;
inline constexpr uint32_t MIXER_GETLINEINFOF_LINEID = 0x2;
inline constexpr uint32_t MIXER_GETLINEINFOF_COMPONENTTYPE = 0x3;
inline constexpr uint32_t MIXER_GETLINEINFOF_TARGETTYPE = 0x4;
inline constexpr uint32_t MIXER_GETLINEINFOF_QUERYMASK = 0xF;
// mixerGetLineControls, mixerGetControlDetails, mixerSetControlDetails flags.
inline constexpr uint32_t MIXER_GETLINECONTROLSF_ALL = 0x0;
inline constexpr uint32_t MIXER_GETLINECONTROLSF_ONEBYID = 0x1;
inline constexpr uint32_t MIXER_GETLINECONTROLSF_ONEBYTYPE = 0x2;
inline constexpr uint32_t MIXER_GETLINECONTROLSF_QUERYMASK = 0xF;
inline constexpr uint32_t MIXER_GETCONTROLDETAILSF_VALUE = 0x0;
inline constexpr uint32_t MIXER_GETCONTROLDETAILSF_LISTTEXT = 0x1;
inline constexpr uint32_t MIXER_GETCONTROLDETAILSF_QUERYMASK = 0xF;
inline constexpr uint32_t MIXER_SETCONTROLDETAILSF_VALUE = 0x0;
inline constexpr uint32_t MIXER_SETCONTROLDETAILSF_QUERYMASK = 0xF;
// The object-type bits every query flag may carry.
inline constexpr uint32_t MIXER_OBJECTF_HANDLE = 0x80000000;
inline constexpr uint32_t MIXER_OBJECTF_HMIXER = 0x80000000;
inline constexpr uint32_t MIXER_OBJECTF_TYPEMASK = 0xF0000000;

// MIXERLINEA.fdwLine and the component types the adapter driver's source lines use.
inline constexpr uint32_t MIXERLINE_LINEF_ACTIVE = 0x1;
inline constexpr uint32_t MIXERLINE_LINEF_SOURCE = 0x80000000;
inline constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_DIGITAL = 0x1001;
inline constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 4;

// MIXERCONTROLA.fdwControl.
inline constexpr uint32_t MIXERCONTROL_CONTROLF_UNIFORM = 0x1;
inline constexpr uint32_t MIXERCONTROL_CONTROLF_MULTIPLE = 0x2;
inline constexpr uint32_t MIXERCONTROL_CONTROLF_DISABLED = 0x80000000;

// The control types the adapter driver presents.
inline constexpr uint32_t MIXERCONTROL_CONTROLTYPE_UNSIGNED = 0x30030000;
inline constexpr uint32_t MIXERCONTROL_CONTROLTYPE_BOOLEAN = 0x20010000;
inline constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001;
inline constexpr uint32_t MIXERCONTROL_CONTROLTYPE_CUSTOM = 0x00000000;
inline constexpr uint32_t MIXERCONTROL_CONTROLTYPE_PEAKMETER = 0x10020001;
inline constexpr uint32_t MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;

// The nine functions, in the order the binding resolves them.
using PFNMIXERGETNUMDEVS = uint32_t(ORVEX_WINAPI*)();
using PFNMIXERGETID = MMRESULT(ORVEX_WINAPI*)(HMIXER hmxobj, uint32_t* puMxId, uint32_t fdwId);
using PFNMIXERGETDEVCAPS = MMRESULT(ORVEX_WINAPI*)(uintptr_t uMxId, MIXERCAPSA* pmxcaps, uint32_t cbmxcaps);
using PFNMIXEROPEN = MMRESULT(ORVEX_WINAPI*)(HMIXER* phmx, uint32_t uMxId, uintptr_t dwCallback,
                                             uintptr_t dwInstance, uint32_t fdwOpen);
using PFNMIXERCLOSE = MMRESULT(ORVEX_WINAPI*)(HMIXER hmx);
using PFNMIXERGETLINEINFO = MMRESULT(ORVEX_WINAPI*)(HMIXER hmxobj, MIXERLINEA* pmxl, uint32_t fdwInfo);
using PFNMIXERGETLINECONTROLS = MMRESULT(ORVEX_WINAPI*)(HMIXER hmxobj, MIXERLINECONTROLSA* pmxlc,
                                                        uint32_t fdwControls);
using PFNMIXERGETCONTROLDETAILS = MMRESULT(ORVEX_WINAPI*)(HMIXER hmxobj, MIXERCONTROLDETAILS* pmxcd,
                                                          uint32_t fdwDetails);
using PFNMIXERSETCONTROLDETAILS = MMRESULT(ORVEX_WINAPI*)(HMIXER hmxobj, MIXERCONTROLDETAILS* pmxcd,
                                                          uint32_t fdwDetails);

// How the binding loads a library by name and finds its exports: the
// platform's loader in the programs; tests and the simulation serve libraries
// of their own.
struct LibraryApi {
    void* (*LoadLibrary)(const char* name);
    void* (*GetProcAddress)(void* library, const char* name);
    bool (*FreeLibrary)(void* library);
};

}  // namespace mixer

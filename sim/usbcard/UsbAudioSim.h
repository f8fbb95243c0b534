#pragma once
// The emulated USB audio driver of DO-ZAZ cards: what it is told (Config) and
// what it tells (Card, Counters). The same driver serves three ways: as the
// stand-in API library (usbaudioapi.dll for the Windows builds, a shared
// object natively) whose 27 exports are the USBAUDIO_ functions, and
// in-process (InProcess.h). The library also exports the UsbSim_ control
// functions below, so a test that loads it can set it up and look inside.
//
// How the driver behaves:
//
// Devices. Cards are USB devices 0 to cardCount - 1. USBAUDIO_EnumerateDevices
//   finds them (USBAUDIO_GetDeviceCount is 0 before it) and answers
//   0xE0001006 when the driver's custom.ini is missing, though it still finds
//   them. A device opens any number of times; each open gives a new non-zero
//   handle, valid until closed. Properties: vendor and product IDs, the
//   release number (firmware major << 8 | minor), and the serial number,
//   manufacturer and product texts (UTF-16, cut to 128 characters, ended by
//   a terminator only when shorter).
// Sample rates. A card takes only its supported rates, and none while its
//   audio streams are active (0xE0001001).
// Firmware download. USBAUDIO_LoadFirmwareImageFromBuffer copies an image of
//   1 to maxImageBytes bytes that reaches past both version offsets; the
//   download of device N starts with USBAUDIO_StartDfuDownload(N, 0, 0) and
//   runs on the clock, one procedure at a time:
//     state 1 detaching             timing.detachMicros
//     state 2 downloading           timing.blockMicros per timing.blockBytes block
//     state 3 manifesting           timing.manifestMicros; at its end the card
//                                   takes the image and runs it: its version is
//                                   the image's bytes at versionOffset (major)
//                                   and minorOffset (minor)
//     state 4 re-attaching          timing.reattachMicros
//     state 5 finished
//     state 6 failed (a fault), with a completion status
//   USBAUDIO_GetDfuStatus reports state, bytes done, total and completion
//   status. USBAUDIO_EndDfuProc ends the procedure: 0 once finished; before
//   that it aborts it (0xE0001008) and a card that has not yet taken the image
//   keeps its firmware.
// Time. The driver reads the clock it is given (UsbSim_SetClock; in-process
//   the platform clock, so tests run it on the virtual clock) at every call.
// Faults (one at a time, Config::fault): see Fault.
#include <cstdint>

namespace sim::usbcard {

inline constexpr uint32_t kMaxCards = 8;
inline constexpr uint32_t kMaxRates = 8;
inline constexpr uint32_t kTextBytes = 160;  // room for a text longer than the driver's field

// Status words of this driver beyond the two the updater names (0xE0001001, 0xE0001006).
enum Status : uint32_t {
    kStatusFailed = 0xE0000001,
    kStatusInvalidParameter = 0xE0000002,
    kStatusInvalidHandle = 0xE0000003,
    kStatusBufferTooSmall = 0xE0000004,
    kStatusNotSupported = 0xE0000005,
    kStatusStreamsActive = 0xE0001001,
    kStatusNoSuchDevice = 0xE0001002,
    kStatusBadImage = 0xE0001003,
    kStatusNoImage = 0xE0001004,
    kStatusDfuBusy = 0xE0001005,
    kStatusCustomIniMissing = 0xE0001006,
    kStatusNoDfu = 0xE0001007,
    kStatusDfuAborted = 0xE0001008,
    kStatusOpenFailed = 0xE0001009,
    kStatusRateUnsupported = 0xE000100A,
    kStatusDfuBlockRejected = 0xE0002001,  // completion status: the card refused a block
    kStatusDfuVerifyFailed = 0xE0002002,   // the card's check of the new image failed
    kStatusDfuNoReattach = 0xE0002003,     // the card did not come back in time
};

enum DfuState : uint32_t {
    kDfuIdle = 0, kDfuDetaching = 1, kDfuDownloading = 2, kDfuManifesting = 3, kDfuReattaching = 4,
    kDfuFinished = 5, kDfuFailed = 6,
};

enum Fault : uint32_t {
    kFaultNone = 0,
    kFaultLoadRefused,         // USBAUDIO_LoadFirmwareImageFromBuffer answers faultStatus
    kFaultStartRefused,        // USBAUDIO_StartDfuDownload answers faultStatus
    kFaultFailDuringDownload,  // state 6 with completion faultStatus once faultAtBytes are done; the
                               // card keeps its firmware and USBAUDIO_EndDfuProc answers faultStatus
    kFaultFailAfterCommit,     // the card takes the image, then the procedure ends in state 6 with
                               // completion faultStatus; USBAUDIO_EndDfuProc answers 0
    kFaultEndDfuFails,         // state 5, but the card's check fails: it keeps its firmware and
                               // USBAUDIO_EndDfuProc answers faultStatus
    kFaultStatusErrors,        // the first faultPolls USBAUDIO_GetDfuStatus calls of a procedure answer
                               // faultStatus and leave their outputs alone
    kFaultStall,               // the download stops at faultAtBytes for good
    // For fault campaigns:
    kFaultCorruptBlock,        // the byte at faultAtBytes reaches the card changed; the card's check of
                               // the image fails at the end of the download (state 6, completion
                               // kStatusDfuVerifyFailed) and it keeps its firmware
    kFaultDeviceLost,          // the card leaves the bus once faultAtBytes are done (unplugged, or its
                               // converter lost power): state 6, completion kStatusNoSuchDevice; it
                               // keeps its firmware
};

struct Card {
    uint8_t major = 5, minor = 30;  // firmware the card runs
    uint8_t streamsActive = 0;      // audio streams open: the rate is locked
    uint8_t openFails = 0;          // USBAUDIO_OpenDeviceByIndex fails for this card
    uint8_t propertiesFail = 0;     // USBAUDIO_GetDeviceProperties fails for this card
    uint32_t vendorId = 0x2A39, productId = 0x0050;
    uint32_t rateCount = 6;
    uint32_t rates[kMaxRates] = {44100, 48000, 88200, 96000, 176400, 192000};
    uint32_t currentRate = 48000;
    char serialNumber[kTextBytes] = "DZ000001";
    char manufacturer[kTextBytes] = "Corvane";
    char product[kTextBytes] = "DO-ZAZ";
    uint32_t downloads = 0;  // images the card has taken
};

struct Timing {
    uint64_t detachMicros = 300'000;
    uint32_t blockBytes = 256;
    uint64_t blockMicros = 20'000;
    uint64_t manifestMicros = 1'500'000;
    uint64_t reattachMicros = 1'000'000;
};

struct Config {
    uint32_t structSize = sizeof(Config);  // a library built from other sources ignores the call
    uint32_t cardCount = 1;
    Card cards[kMaxCards];
    uint8_t customIniMissing = 0;
    uint32_t apiVersion = 0x00030002;
    uint32_t driverVersion[3] = {3, 14, 2};
    // Where an image carries the version the card reports once it runs it.
    uint32_t versionOffset = 0x110, minorOffset = 0x111;
    uint32_t maxImageBytes = 1024 * 1024;
    Timing timing;
    uint32_t fault = kFaultNone;
    uint32_t faultStatus = kStatusDfuBlockRejected;
    uint32_t faultAtBytes = 0;
    uint32_t faultPolls = 0;
};

struct Counters {
    uint32_t openHandles = 0;  // handles open now
    uint32_t opens = 0, closes = 0, enumerations = 0;
    uint32_t imageLoads = 0, imageBytes = 0, loadFlags = 0;
    uint32_t dfuStarts = 0, dfuPolls = 0, dfuEnds = 0;
    uint32_t lastStartIndex = 0, lastStartTarget = 0, lastStartFlags = 0;
    uint32_t rateChanges = 0;
};

// A library that is told about a card's new firmware as the card takes it.
using CommitCallback = void (*)(void* context, uint32_t card, uint8_t major, uint8_t minor);

}  // namespace sim::usbcard

// The stand-in library's control exports (plain C calls), by name and type.
using UsbSim_ConfigureFn = void (*)(const sim::usbcard::Config* config);       // "UsbSim_Configure": resets all
using UsbSim_GetCardFn = uint32_t (*)(uint32_t index, sim::usbcard::Card* card);  // "UsbSim_GetCard": 0 if it exists
using UsbSim_GetCountersFn = void (*)(sim::usbcard::Counters* counters);          // "UsbSim_GetCounters"
using UsbSim_SetClockFn = void (*)(uint64_t (*micros)());                           // "UsbSim_SetClock": null, its own
using UsbSim_SetStreamsActiveFn = void (*)(uint32_t index, uint32_t active);        // "UsbSim_SetStreamsActive"
using UsbSim_SetCommitCallbackFn = void (*)(sim::usbcard::CommitCallback callback, void* context);

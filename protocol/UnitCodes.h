#pragma once
// Codes every side of the remote-control protocol shares: unit and card kinds,
// connection types and the programming-status bits of register 9.
#include <cstdint>

namespace orvex {

// ---- unit kinds (device IDs) ----
inline constexpr uint8_t kDeviceOrvex16 = 38;
inline constexpr uint8_t kDeviceOrvex8 = 39;
inline constexpr uint8_t kDeviceTavi = 49;
inline constexpr uint8_t kDeviceOrvexN = 96;
inline constexpr uint8_t kDeviceHarkenRelay4x4 = 128;

// ---- expansion cards in the XSlot ----
inline constexpr uint8_t kXSlotViRizo = 19;
inline constexpr uint8_t kXSlotDuRa = 20;
inline constexpr uint8_t kXSlotVaVovuz = 21;
inline constexpr uint8_t kXSlotViRizoAlias = 23;  // reported as kXSlotViRizo
inline constexpr uint8_t kXSlotDiZo = 24;
inline constexpr uint8_t kXSlotVaVo = 25;
inline constexpr uint8_t kXSlotDoZaz = 50;

// ---- connections ----
inline constexpr uint16_t kConnectionAdapter = 0;
inline constexpr uint16_t kConnectionMidi = 3;
inline constexpr uint16_t kConnectionNetwork = 5;
inline constexpr uint16_t kNoConnection = 0xFFFF;

// ---- programming status (register 9) ----
inline constexpr uint8_t kProgPIP = 0x01;        // programming in progress
inline constexpr uint8_t kProgPGMERR = 0x02;
inline constexpr uint8_t kProgTXERR = 0x04;
inline constexpr uint8_t kProgPAKRDY = 0x08;     // verify packet ready
inline constexpr uint8_t kProgTIMEOUT = 0x20;    // set by the host's own waits, never by the unit
inline constexpr uint8_t kProgRunningBank = 0x80;  // clear: bank 1, set: bank 2

// The model name a connection description starts with.
inline const char* ModelNameForDeviceID(uint8_t deviceID) {
    switch (deviceID) {
    case kDeviceOrvex16: return "Orvex 16";
    case kDeviceOrvex8: return "Orvex 8";
    case kDeviceTavi: return "Tavi";
    case kDeviceOrvexN: return "Orvex(n)";
    case kDeviceHarkenRelay4x4: return "Harken Relay 4x4";
    default: return "Unknown!";
    }
}

// The expansion card's name for the log and the window.
inline const char* XSlotCardName(uint8_t cardID) {
    switch (cardID) {
    case kXSlotViRizo:
    case kXSlotViRizoAlias: return "VI-RIZO";
    case kXSlotDuRa: return "DU-RA";
    case kXSlotVaVovuz: return "VA-VOVUZ";
    case kXSlotDiZo: return "DI-ZO";
    case kXSlotVaVo: return "VA-VO";
    case kXSlotDoZaz: return "DO-ZAZ";
    default: return "Unknown!";
    }
}

}  // namespace orvex

#pragma once
// What the adapter path and the adapter driver agree on: the two destination
// lines of a card's mixer device, the control names, the 450-byte status
// block, the 28-byte adapter information block, the card's device path and
// the device requests with their control codes.
#include <cstdint>

#include "platform/Platform.h"

namespace adapter {

// ---- mixer lines ----
inline constexpr uint32_t kConverterLineType = 2;  // dwComponentType of the converter's line
inline constexpr uint32_t kAdapterLineType = 0;    // dwComponentType of the card's own line
inline constexpr uint32_t kFirstOutputSource = 32;  // source lines 32-63 carry the 32 outputs
inline constexpr uint32_t kOutputs = 32;
inline constexpr uint32_t kTrimGroups = 8;

// ---- status block ("Fast Controls", "Slow Controls"; little-endian) ----
inline constexpr uint32_t kStatusBlockSize = 450;
namespace status {
inline constexpr uint32_t kPeakMeters = 12;      // 64 bytes
inline constexpr uint32_t kOverloads = 76;       // 64 bytes
inline constexpr uint32_t kTrims = 142;          // 8 x 4 bytes, byte 0 of each read
inline constexpr uint32_t kClockSource = 174;    // 4 bytes, driver code
inline constexpr uint32_t kSLEnable = 178;
inline constexpr uint32_t kFPAOutSource = 186;
inline constexpr uint32_t kFPDOutSource = 190;
inline constexpr uint32_t kWideWireIn = 194;
inline constexpr uint32_t kWideWireOut = 198;
inline constexpr uint32_t kFPMeterSource = 202;
inline constexpr uint32_t kXSlotOutSource = 206;
inline constexpr uint32_t kRegister5Bit0 = 210;  // non-zero = set
inline constexpr uint32_t kRegister5Bit1 = 214;  // zero = set
inline constexpr uint32_t kModelVariant = 218;
inline constexpr uint32_t kStatusWord = 222;     // 4 bytes
inline constexpr uint32_t kOutputSource = 226;   // 64 bytes: side + 2 x output
inline constexpr uint32_t kOutputVolume = 290;   // 64 bytes; 255 = muted
inline constexpr uint32_t kOutputMute = 354;     // 64 bytes
inline constexpr uint32_t kVariant1824 = 1u << 14;  // in the status word
inline constexpr uint32_t kVariantVT = 1u << 15;
}  // namespace status

// ---- adapter information block (request kIoctlAdapterInformation) ----
inline constexpr uint32_t kAdapterInfoSize = 28;
namespace info {
inline constexpr uint32_t kDeviceNumber = 0;  // 4 bytes, in
inline constexpr uint32_t kModel = 4;         // 2 bytes
inline constexpr uint32_t kBus = 6;           // 2 bytes
inline constexpr uint32_t kDevice = 8;        // 2 bytes
inline constexpr uint32_t kSlot = 12;         // 4 bytes, 0 = unknown
inline constexpr uint32_t kProduct = 16;      // 4 bytes, product ID in bits 31-24
inline constexpr uint32_t kAlternate = 24;    // 4 bytes, alternate bank's revision in bits 7-0
}  // namespace info

// ---- adapter models ----
inline constexpr uint16_t kModelCordaA = 32;
inline constexpr uint16_t kModelCordaB = 33;
inline constexpr uint16_t kModelCordaC = 34;
inline constexpr uint16_t kModelKell = 35;
inline constexpr uint16_t kModelTarsel = 36;
inline constexpr uint16_t kModelTarselR = 37;
inline constexpr uint16_t kModelTarselX = 40;
inline constexpr uint16_t kModelTarselXR = 41;
inline constexpr uint16_t kModelTarselXL = 48;

inline const char* AdapterModelName(uint32_t model) {
    switch (model) {
    case kModelCordaA: return "Corda-A";
    case kModelCordaB: return "Corda-B";
    case kModelCordaC: return "Corda-C";
    case kModelKell: return "Pelk Kell";
    case kModelTarsel: return "Pelk Tarsel";
    case kModelTarselR: return "Pelk Tarsel-R";
    case kModelTarselX: return "Pelk Tarsel-X";
    case kModelTarselXR: return "Pelk Tarsel-XR";
    case kModelTarselXL: return "Pelk Tarsel-XL";
    default: return "Unknown!";
    }
}

// The converter as the adapter path names it (the remote path has its own names).
inline const char* ConverterName(uint32_t productID) {
    switch (productID) {
    case 38: return "Orvex 16";
    case 39: return "Orvex 8";
    case 128: return "Relay 4x4";
    default: return "Unknown!";
    }
}

// The converters the adapter path lists.
inline bool IsListedConverter(uint32_t productID) { return productID == 38 || productID == 39 || productID == 128; }

// ---- the card's device ----
inline constexpr const char* kDevicePathFormat = "\\\\.\\C2Mixer%u";

constexpr uint32_t CtlCode(uint32_t deviceType, uint32_t function, uint32_t method, uint32_t access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
inline constexpr uint32_t kFileDeviceSound = 0x1D;
inline constexpr uint32_t kMethodBuffered = 0;
inline constexpr uint32_t kFileWriteAccess = 2;
constexpr uint32_t AdapterRequest(uint32_t row) { return CtlCode(kFileDeviceSound, 0x3E0 + row, kMethodBuffered, kFileWriteAccess); }

inline constexpr uint32_t kIoctlAdapterInformation = AdapterRequest(0);
inline constexpr uint32_t kIoctlSelectAlternateBank = AdapterRequest(1);
inline constexpr uint32_t kIoctlEraseAlternateBank = AdapterRequest(2);
inline constexpr uint32_t kIoctlResponseCounter = AdapterRequest(3);
inline constexpr uint32_t kIoctlProgrammingStatus = AdapterRequest(4);
inline constexpr uint32_t kIoctlWritePacket = AdapterRequest(5);
inline constexpr uint32_t kIoctlRequestVerifyPacket = AdapterRequest(6);
inline constexpr uint32_t kIoctlReadVerifyPacket = AdapterRequest(7);
inline constexpr uint32_t kIoctlProgrammingComplete = AdapterRequest(8);
inline constexpr uint32_t kIoctlCancelProgramming = AdapterRequest(9);
inline constexpr uint32_t kIoctlWriteSerialNumber = AdapterRequest(10);
inline constexpr uint32_t kIoctlSelectXSlotFirmware = AdapterRequest(11);
static_assert(kIoctlAdapterInformation == 0x1D8F80 && kIoctlSelectXSlotFirmware == 0x1D8FAC);

// How the adapter path opens the card's device and sends it requests: the
// platform's CreateFile, DeviceIoControl and CloseHandle in the program; the
// emulated driver in tests and the simulation.
struct DeviceApi {
    plat::FileHandle (*CreateFile)(const std::string& path, uint32_t access, plat::FileShare share,
                                   plat::FileDisposition disposition, uint32_t attributes);
    bool (*DeviceIoControl)(plat::FileHandle device, uint32_t code, const void* in, uint32_t inSize, void* out,
                            uint32_t outSize, uint32_t* returned);
    bool (*CloseHandle)(plat::FileHandle device);
};

}  // namespace adapter

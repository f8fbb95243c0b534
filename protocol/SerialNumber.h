#pragma once
// Layout of a serial-number word: device ID in bits 31-24, a 6-bit year whose low
// four bits sit in bits 23-20 and whose high two bits sit in bits 19-18, a 6-bit
// week in bits 17-12 and a 12-bit unit number in bits 11-0.
#include <cstdint>

namespace orvex {

// What a unit reports when its serial-number registers are blank.
inline constexpr uint32_t kBlankSerialNumber = 0xFFFFFFFF;

inline constexpr uint32_t kSerialMaxYear = 63;
inline constexpr uint32_t kSerialMaxWeek = 63;
inline constexpr uint32_t kSerialMaxNumber = 4095;
// "%02lx%02ld%02ld%04ld" at its widest (every field in range) plus the terminator.
inline constexpr uint32_t kSerialTextSize = 11;

// false (and *serial untouched) when a field is out of range or serial is null.
bool BuildSerialNumber(uint8_t deviceID, uint32_t year, uint32_t week, uint32_t number, uint32_t* serial);

uint8_t SerialDeviceID(uint32_t serial);
uint32_t SerialYear(uint32_t serial);
uint32_t SerialWeek(uint32_t serial);
uint32_t SerialUnitNumber(uint32_t serial);

// Device ID in hexadecimal, then year, week and number in decimal. Writes at most
// size bytes, always terminated when size > 0; false when text is null, size is 0
// or the text had to be cut.
bool FormatSerialNumber(uint32_t serial, char* text, uint32_t size);

}  // namespace orvex

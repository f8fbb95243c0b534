#include "protocol/SerialNumber.h"

#include <cstdio>

namespace orvex {

bool BuildSerialNumber(uint8_t deviceID, uint32_t year, uint32_t week, uint32_t number, uint32_t* serial) {
    if (serial == nullptr || year > kSerialMaxYear || week > kSerialMaxWeek || number > kSerialMaxNumber) {
        return false;
    }
    *serial = (uint32_t(deviceID) << 24) | ((year & 0x0F) << 20) | ((year >> 4) << 18) | (week << 12) | number;
    return true;
}

uint8_t SerialDeviceID(uint32_t serial) { return static_cast<uint8_t>(serial >> 24); }

uint32_t SerialYear(uint32_t serial) { return ((serial >> 20) & 0x0F) | (((serial >> 18) & 0x03) << 4); }

uint32_t SerialWeek(uint32_t serial) { return (serial >> 12) & 0x3F; }

uint32_t SerialUnitNumber(uint32_t serial) { return serial & 0xFFF; }

bool FormatSerialNumber(uint32_t serial, char* text, uint32_t size) {
    if (text == nullptr || size == 0) return false;
    const int written = std::snprintf(text, size, "%02lx%02ld%02ld%04ld", static_cast<unsigned long>(SerialDeviceID(serial)),
                                      static_cast<long>(SerialYear(serial)), static_cast<long>(SerialWeek(serial)),
                                      static_cast<long>(SerialUnitNumber(serial)));
    return written >= 0 && static_cast<uint32_t>(written) < size;
}

}  // namespace orvex

#pragma once
// The USBAUDIO_ functions of the emulated driver, with the API's names and
// signatures, acting on this module's driver. The stand-in library exports
// them; the in-process table hands out their addresses by name.
#include <array>
#include <cstdint>

#include "platform/Platform.h"
#include "usbcard/UsbAudioApi.h"

namespace sim::usbcard::entry {

#define ORVEX_USBAUDIO_ENTRY(result, name, parameters, arguments) result ORVEX_USBAUDIO_API name parameters;
ORVEX_USBAUDIO_FUNCTIONS(ORVEX_USBAUDIO_ENTRY)
#undef ORVEX_USBAUDIO_ENTRY

struct NamedEntry {
    const char* name;
    plat::ProcAddress address;
};
// The 27 functions by name, in the API's binding order.
const std::array<NamedEntry, 27>& Entries();

}  // namespace sim::usbcard::entry

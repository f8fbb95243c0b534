// The USBAUDIO_ functions over this module's driver.
#include "sim/usbcard/UsbAudioEntries.h"

#include "sim/usbcard/UsbAudioDriver.h"

namespace sim::usbcard::entry {

// Each function is the driver's method of the same name without the prefix.
#define ORVEX_USBAUDIO_ENTRY(result, name, parameters, arguments) \
    result ORVEX_USBAUDIO_API name parameters { return TheDriver().ORVEX_METHOD_##name arguments; }
#define ORVEX_METHOD_USBAUDIO_GetApiVersion GetApiVersion
#define ORVEX_METHOD_USBAUDIO_CheckApiVersion CheckApiVersion
#define ORVEX_METHOD_USBAUDIO_EnumerateDevices EnumerateDevices
#define ORVEX_METHOD_USBAUDIO_GetDeviceCount GetDeviceCount
#define ORVEX_METHOD_USBAUDIO_GetDriverInfo GetDriverInfo
#define ORVEX_METHOD_USBAUDIO_OpenDeviceByIndex OpenDeviceByIndex
#define ORVEX_METHOD_USBAUDIO_CloseDevice CloseDevice
#define ORVEX_METHOD_USBAUDIO_GetDeviceProperties GetDeviceProperties
#define ORVEX_METHOD_USBAUDIO_GetSupportedSampleRates GetSupportedSampleRates
#define ORVEX_METHOD_USBAUDIO_GetCurrentSampleRate GetCurrentSampleRate
#define ORVEX_METHOD_USBAUDIO_SetSampleRate SetSampleRate
#define ORVEX_METHOD_USBAUDIO_GetUsbStreamingMode GetUsbStreamingMode
#define ORVEX_METHOD_USBAUDIO_SetUsbStreamingMode SetUsbStreamingMode
#define ORVEX_METHOD_USBAUDIO_GetASIOBufferSize GetASIOBufferSize
#define ORVEX_METHOD_USBAUDIO_SetASIOBufferSize SetASIOBufferSize
#define ORVEX_METHOD_USBAUDIO_LoadFirmwareImageFromBuffer LoadFirmwareImageFromBuffer
#define ORVEX_METHOD_USBAUDIO_LoadFirmwareImageFromFile LoadFirmwareImageFromFile
#define ORVEX_METHOD_USBAUDIO_GetFirmwareImageSize GetFirmwareImageSize
#define ORVEX_METHOD_USBAUDIO_UnloadFirmwareImage UnloadFirmwareImage
#define ORVEX_METHOD_USBAUDIO_GetFirmwareImage GetFirmwareImage
#define ORVEX_METHOD_USBAUDIO_StartDfuDownload StartDfuDownload
#define ORVEX_METHOD_USBAUDIO_StartDfuUpload StartDfuUpload
#define ORVEX_METHOD_USBAUDIO_StartDfuRevertToFactoryImage StartDfuRevertToFactoryImage
#define ORVEX_METHOD_USBAUDIO_GetDfuStatus GetDfuStatus
#define ORVEX_METHOD_USBAUDIO_EndDfuProc EndDfuProc
#define ORVEX_METHOD_USBAUDIO_StatusCodeStringW StatusCodeStringW
#define ORVEX_METHOD_USBAUDIO_StatusCodeStringA StatusCodeStringA
ORVEX_USBAUDIO_FUNCTIONS(ORVEX_USBAUDIO_ENTRY)
#undef ORVEX_USBAUDIO_ENTRY

const std::array<NamedEntry, 27>& Entries() {
    static const std::array<NamedEntry, 27> entries = {{
#define ORVEX_USBAUDIO_NAMED(result, name, parameters, arguments) \
    {#name, reinterpret_cast<plat::ProcAddress>(&name)},
        ORVEX_USBAUDIO_FUNCTIONS(ORVEX_USBAUDIO_NAMED)
#undef ORVEX_USBAUDIO_NAMED
    }};
    return entries;
}

}  // namespace sim::usbcard::entry

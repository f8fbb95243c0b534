#pragma once
// The DO-ZAZ card's USB audio driver API (the USBAUDIO_ functions of the DLL
// its driver installs), declared from what the updater calls and relies on:
// the 27 functions in the order they are bound, as a table of pointers with
// the functions' names and signatures, and the two records at the byte
// offsets the updater reads. Production binds the table by name from the
// driver's DLL; tests and the simulation serve it from sim/usbcard.
//
// ORVEX_USBAUDIO_FUNCTIONS(X) lists every function once, in binding order, as
// X(result, name, (parameters), (arguments)); the table, the list of names and
// the stand-in library's exports are all made from it, so they cannot drift.
#include <array>
#include <cstddef>
#include <cstdint>

// Windows DLL interfaces use the stdcall convention on 32-bit x86; caller and
// library must agree or every call unbalances the stack.
#if defined(__i386__)
#define ORVEX_USBAUDIO_API __attribute__((stdcall))
#else
#define ORVEX_USBAUDIO_API
#endif

namespace usbaudio {

using USBAUDIO_STATUS = uint32_t;  // 0 is success
using USBAUDIO_HANDLE = uint32_t;  // an open device; 0 is none

// The status words and DFU states the updater looks at.
inline constexpr USBAUDIO_STATUS USBAUDIO_STATUS_SUCCESS = 0;
inline constexpr USBAUDIO_STATUS USBAUDIO_STATUS_STREAMS_ACTIVE = 0xE0001001;  // rate locked by open streams
inline constexpr USBAUDIO_STATUS USBAUDIO_STATUS_CUSTOM_INI_MISSING = 0xE0001006;
inline constexpr uint32_t USBAUDIO_DFU_STATE_FINISHED = 5;
inline constexpr uint32_t USBAUDIO_DFU_STATE_FAILED = 6;

inline constexpr uint32_t USBAUDIO_MAX_TEXT = 128;  // characters of a property text, terminator included

struct USBAUDIO_DRIVER_INFO {
    uint32_t apiMajorVersion;
    uint32_t apiMinorVersion;
    uint32_t driverMajorVersion;  // byte 8
    uint32_t driverMinorVersion;  // byte 12
    uint32_t driverPatchVersion;  // byte 16
    uint32_t flags;
};

struct USBAUDIO_DEVICE_PROPERTIES {
    uint32_t vendorId;
    uint32_t productId;
    uint32_t releaseNumber;
    char16_t serialNumber[USBAUDIO_MAX_TEXT];  // byte 12
    char16_t manufacturer[USBAUDIO_MAX_TEXT];  // byte 268
    char16_t product[USBAUDIO_MAX_TEXT];       // byte 524
    uint32_t flags;
    uint8_t reserved[256];
};

// The updater reads these bytes and nothing else of the records; every build
// (the 32-bit one included, whose tests some machines cannot run) checks them.
static_assert(sizeof(USBAUDIO_DRIVER_INFO) == 24);
static_assert(offsetof(USBAUDIO_DRIVER_INFO, driverMajorVersion) == 8);
static_assert(offsetof(USBAUDIO_DRIVER_INFO, driverMinorVersion) == 12);
static_assert(offsetof(USBAUDIO_DRIVER_INFO, driverPatchVersion) == 16);
static_assert(sizeof(USBAUDIO_DEVICE_PROPERTIES) == 1040);
static_assert(offsetof(USBAUDIO_DEVICE_PROPERTIES, serialNumber) == 12);
static_assert(offsetof(USBAUDIO_DEVICE_PROPERTIES, manufacturer) == 268);
static_assert(offsetof(USBAUDIO_DEVICE_PROPERTIES, product) == 524);
static_assert(sizeof(char16_t) == 2, "the driver's texts are 16-bit characters");

#define ORVEX_USBAUDIO_FUNCTIONS(X)                                                                              \
    X(uint32_t, USBAUDIO_GetApiVersion, (), ())                                                                  \
    X(uint32_t, USBAUDIO_CheckApiVersion, (uint32_t majorVersion, uint32_t minorVersion),                        \
      (majorVersion, minorVersion))                                                                              \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_EnumerateDevices, (), ())                                              \
    X(uint32_t, USBAUDIO_GetDeviceCount, (), ())                                                                 \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_GetDriverInfo, (usbaudio::USBAUDIO_DRIVER_INFO * info), (info))        \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_OpenDeviceByIndex,                                                     \
      (uint32_t deviceIndex, usbaudio::USBAUDIO_HANDLE * handle), (deviceIndex, handle))                         \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_CloseDevice, (usbaudio::USBAUDIO_HANDLE handle), (handle))            \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_GetDeviceProperties,                                                   \
      (usbaudio::USBAUDIO_HANDLE handle, usbaudio::USBAUDIO_DEVICE_PROPERTIES * properties), (handle, properties)) \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_GetSupportedSampleRates,                                               \
      (usbaudio::USBAUDIO_HANDLE handle, uint32_t arraySize, uint32_t * rates, uint32_t * rateCount),             \
      (handle, arraySize, rates, rateCount))                                                                     \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_GetCurrentSampleRate, (usbaudio::USBAUDIO_HANDLE handle, uint32_t * rate), \
      (handle, rate))                                                                                            \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_SetSampleRate, (usbaudio::USBAUDIO_HANDLE handle, uint32_t rate),      \
      (handle, rate))                                                                                            \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_GetUsbStreamingMode, (usbaudio::USBAUDIO_HANDLE handle, uint32_t * mode), \
      (handle, mode))                                                                                            \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_SetUsbStreamingMode, (usbaudio::USBAUDIO_HANDLE handle, uint32_t mode), \
      (handle, mode))                                                                                            \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_GetASIOBufferSize, (uint32_t * size), (size))                          \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_SetASIOBufferSize, (uint32_t size), (size))                            \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_LoadFirmwareImageFromBuffer,                                           \
      (const uint8_t* image, uint32_t size, uint32_t flags), (image, size, flags))                               \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_LoadFirmwareImageFromFile, (const char16_t* path, uint32_t flags),     \
      (path, flags))                                                                                             \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_GetFirmwareImageSize, (uint32_t * size), (size))                       \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_UnloadFirmwareImage, (), ())                                           \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_GetFirmwareImage, (uint8_t * buffer, uint32_t size), (buffer, size))   \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_StartDfuDownload, (uint32_t deviceIndex, uint32_t targetId, uint32_t flags), \
      (deviceIndex, targetId, flags))                                                                            \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_StartDfuUpload, (uint32_t deviceIndex, uint32_t targetId, uint32_t flags), \
      (deviceIndex, targetId, flags))                                                                            \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_StartDfuRevertToFactoryImage,                                          \
      (uint32_t deviceIndex, uint32_t targetId, uint32_t flags), (deviceIndex, targetId, flags))                 \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_GetDfuStatus,                                                          \
      (uint32_t * state, uint32_t * bytesDone, uint32_t * totalBytes, uint32_t * completionStatus),              \
      (state, bytesDone, totalBytes, completionStatus))                                                          \
    X(usbaudio::USBAUDIO_STATUS, USBAUDIO_EndDfuProc, (), ())                                                    \
    X(const char16_t*, USBAUDIO_StatusCodeStringW, (usbaudio::USBAUDIO_STATUS status), (status))                \
    X(const char*, USBAUDIO_StatusCodeStringA, (usbaudio::USBAUDIO_STATUS status), (status))

struct UsbAudioApi {
#define ORVEX_USBAUDIO_POINTER(result, name, parameters, arguments) result(ORVEX_USBAUDIO_API* name) parameters;
    ORVEX_USBAUDIO_FUNCTIONS(ORVEX_USBAUDIO_POINTER)
#undef ORVEX_USBAUDIO_POINTER
};

inline constexpr std::array kUsbAudioFunctionNames = {
#define ORVEX_USBAUDIO_NAME(result, name, parameters, arguments) #name,
    ORVEX_USBAUDIO_FUNCTIONS(ORVEX_USBAUDIO_NAME)
#undef ORVEX_USBAUDIO_NAME
};
static_assert(kUsbAudioFunctionNames.size() == 27);
static_assert(sizeof(UsbAudioApi) == 27 * sizeof(void (*)()));

}  // namespace usbaudio

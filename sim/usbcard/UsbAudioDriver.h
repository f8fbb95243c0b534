#pragma once
// The emulated USB audio driver behind the USBAUDIO_ functions (behaviour in
// UsbAudioSim.h). One per loaded library: the stand-in library has its own,
// the in-process table shares the one of the program.
#include <functional>
#include <string>
#include <vector>

#include "sim/usbcard/UsbAudioSim.h"
#include "usbcard/UsbAudioApi.h"

namespace sim::usbcard {

class Driver {
public:
    Driver();

    // Cards, faults and timing; forgets every handle, image and procedure.
    void Configure(const Config& config);
    const Config& GetConfig() const { return config_; }
    // A freshly loaded library: no devices found yet, no handles, no image, no procedure.
    void ResetSession();
    bool GetCard(uint32_t index, Card* card);
    // The image card `index` has taken last (empty while it runs what it came with).
    const std::vector<uint8_t>& CardImage(uint32_t index) const;
    Counters GetCounters() const { return counters_; }
    void SetStreamsActive(uint32_t index, bool active);
    // The clock in microseconds; null: the library's own steady clock.
    void SetClock(uint64_t (*micros)()) { clock_ = micros; }
    std::function<void(uint32_t card, uint8_t major, uint8_t minor)> onCommit;

    // The API.
    uint32_t GetApiVersion();
    uint32_t CheckApiVersion(uint32_t majorVersion, uint32_t minorVersion);
    uint32_t EnumerateDevices();
    uint32_t GetDeviceCount();
    uint32_t GetDriverInfo(usbaudio::USBAUDIO_DRIVER_INFO* info);
    uint32_t OpenDeviceByIndex(uint32_t deviceIndex, usbaudio::USBAUDIO_HANDLE* handle);
    uint32_t CloseDevice(usbaudio::USBAUDIO_HANDLE handle);
    uint32_t GetDeviceProperties(usbaudio::USBAUDIO_HANDLE handle, usbaudio::USBAUDIO_DEVICE_PROPERTIES* properties);
    uint32_t GetSupportedSampleRates(usbaudio::USBAUDIO_HANDLE handle, uint32_t arraySize, uint32_t* rates,
                                     uint32_t* rateCount);
    uint32_t GetCurrentSampleRate(usbaudio::USBAUDIO_HANDLE handle, uint32_t* rate);
    uint32_t SetSampleRate(usbaudio::USBAUDIO_HANDLE handle, uint32_t rate);
    uint32_t GetUsbStreamingMode(usbaudio::USBAUDIO_HANDLE handle, uint32_t* mode);
    uint32_t SetUsbStreamingMode(usbaudio::USBAUDIO_HANDLE handle, uint32_t mode);
    uint32_t GetASIOBufferSize(uint32_t* size);
    uint32_t SetASIOBufferSize(uint32_t size);
    uint32_t LoadFirmwareImageFromBuffer(const uint8_t* image, uint32_t size, uint32_t flags);
    uint32_t LoadFirmwareImageFromFile(const char16_t* path, uint32_t flags);
    uint32_t GetFirmwareImageSize(uint32_t* size);
    uint32_t UnloadFirmwareImage();
    uint32_t GetFirmwareImage(uint8_t* buffer, uint32_t size);
    uint32_t StartDfuDownload(uint32_t deviceIndex, uint32_t targetId, uint32_t flags);
    uint32_t StartDfuUpload(uint32_t deviceIndex, uint32_t targetId, uint32_t flags);
    uint32_t StartDfuRevertToFactoryImage(uint32_t deviceIndex, uint32_t targetId, uint32_t flags);
    uint32_t GetDfuStatus(uint32_t* state, uint32_t* bytesDone, uint32_t* totalBytes, uint32_t* completionStatus);
    uint32_t EndDfuProc();
    const char16_t* StatusCodeStringW(uint32_t status);
    const char* StatusCodeStringA(uint32_t status);

private:
    struct OpenHandle {
        usbaudio::USBAUDIO_HANDLE handle;
        uint32_t card;
    };
    struct Procedure {
        bool active = false;
        uint32_t card = 0;
        uint64_t start = 0;
        uint32_t total = 0;
        uint32_t state = kDfuIdle;
        uint32_t bytesDone = 0;
        uint32_t completion = 0;
        bool committed = false;
        uint32_t polls = 0;
    };

    uint64_t Now() const;
    // Brings the running procedure up to the clock.
    void Advance();
    void Commit();
    OpenHandle* Find(usbaudio::USBAUDIO_HANDLE handle);

    Config config_;
    Counters counters_;
    uint64_t (*clock_)() = nullptr;
    bool enumerated_ = false;
    std::vector<OpenHandle> handles_;
    usbaudio::USBAUDIO_HANDLE nextHandle_ = 0x1001;
    std::vector<uint8_t> image_;
    bool imageLoaded_ = false;
    std::vector<uint8_t> cardImages_[kMaxCards];
    Procedure dfu_;
    uint32_t streamingMode_[kMaxCards] = {};
    uint32_t asioBufferSize_ = 512;
};

// The driver of this module.
Driver& TheDriver();

}  // namespace sim::usbcard

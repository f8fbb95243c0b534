// The emulated USB audio driver of DO-ZAZ cards.
#include "sim/usbcard/UsbAudioDriver.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace sim::usbcard {

using usbaudio::USBAUDIO_DEVICE_PROPERTIES;
using usbaudio::USBAUDIO_DRIVER_INFO;
using usbaudio::USBAUDIO_HANDLE;

namespace {

constexpr uint32_t kOk = 0;

struct StatusText {
    uint32_t status;
    const char* narrow;
    const char16_t* wide;
};
#define ORVEX_STATUS_TEXT(status, text) {status, text, u"" text}
constexpr StatusText kStatusTexts[] = {
    ORVEX_STATUS_TEXT(kOk, "USBAUDIO_STATUS_SUCCESS"),
    ORVEX_STATUS_TEXT(kStatusFailed, "USBAUDIO_STATUS_FAILED"),
    ORVEX_STATUS_TEXT(kStatusInvalidParameter, "USBAUDIO_STATUS_INVALID_PARAMETER"),
    ORVEX_STATUS_TEXT(kStatusInvalidHandle, "USBAUDIO_STATUS_INVALID_HANDLE"),
    ORVEX_STATUS_TEXT(kStatusBufferTooSmall, "USBAUDIO_STATUS_BUFFER_TOO_SMALL"),
    ORVEX_STATUS_TEXT(kStatusNotSupported, "USBAUDIO_STATUS_NOT_SUPPORTED"),
    ORVEX_STATUS_TEXT(kStatusStreamsActive, "USBAUDIO_STATUS_STREAMS_ACTIVE"),
    ORVEX_STATUS_TEXT(kStatusNoSuchDevice, "USBAUDIO_STATUS_NO_SUCH_DEVICE"),
    ORVEX_STATUS_TEXT(kStatusBadImage, "USBAUDIO_STATUS_INVALID_FIRMWARE_IMAGE"),
    ORVEX_STATUS_TEXT(kStatusNoImage, "USBAUDIO_STATUS_NO_FIRMWARE_IMAGE"),
    ORVEX_STATUS_TEXT(kStatusDfuBusy, "USBAUDIO_STATUS_DFU_BUSY"),
    ORVEX_STATUS_TEXT(kStatusCustomIniMissing, "USBAUDIO_STATUS_CUSTOM_INI_MISSING"),
    ORVEX_STATUS_TEXT(kStatusNoDfu, "USBAUDIO_STATUS_NO_DFU_PROCEDURE"),
    ORVEX_STATUS_TEXT(kStatusDfuAborted, "USBAUDIO_STATUS_DFU_ABORTED"),
    ORVEX_STATUS_TEXT(kStatusOpenFailed, "USBAUDIO_STATUS_OPEN_FAILED"),
    ORVEX_STATUS_TEXT(kStatusRateUnsupported, "USBAUDIO_STATUS_SAMPLE_RATE_NOT_SUPPORTED"),
    ORVEX_STATUS_TEXT(kStatusDfuBlockRejected, "USBAUDIO_STATUS_DFU_BLOCK_REJECTED"),
    ORVEX_STATUS_TEXT(kStatusDfuVerifyFailed, "USBAUDIO_STATUS_DFU_VERIFY_FAILED"),
    ORVEX_STATUS_TEXT(kStatusDfuNoReattach, "USBAUDIO_STATUS_DFU_DEVICE_DID_NOT_REATTACH"),
};
#undef ORVEX_STATUS_TEXT
constexpr StatusText kUnknownStatus{0, "USBAUDIO_STATUS_UNKNOWN", u"USBAUDIO_STATUS_UNKNOWN"};

const StatusText& TextOf(uint32_t status) {
    for (const StatusText& t : kStatusTexts)
        if (t.status == status) return t;
    return kUnknownStatus;
}

// A configured text (UTF-8) into a driver field of 128 UTF-16 units, ended by
// a terminator only when it is shorter than the field, as the driver does.
void PutText(const char* text, char16_t (&field)[usbaudio::USBAUDIO_MAX_TEXT]) {
    std::fill(std::begin(field), std::end(field), u'\0');
    size_t out = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + strnlen(text, kTextBytes);
    while (p < end && out < usbaudio::USBAUDIO_MAX_TEXT) {
        uint32_t c = *p++;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (more) c &= 0x3F >> more;
        for (; more > 0 && p < end && (*p & 0xC0) == 0x80; --more) c = (c << 6) | (*p++ & 0x3F);
        if (more) c = u'?';
        if (c >= 0x10000) {
            if (out + 2 > usbaudio::USBAUDIO_MAX_TEXT) break;
            c -= 0x10000;
            field[out++] = static_cast<char16_t>(0xD800 + (c >> 10));
            field[out++] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            field[out++] = static_cast<char16_t>(c);
        }
    }
}

}  // namespace

Driver& TheDriver() {
    static Driver driver;
    return driver;
}

Driver::Driver() { ResetSession(); }

void Driver::Configure(const Config& config) {
    if (config.structSize != sizeof(Config)) return;
    config_ = config;
    config_.cardCount = std::min(config_.cardCount, kMaxCards);
    for (Card& card : config_.cards) card.rateCount = std::min(card.rateCount, kMaxRates);
    counters_ = {};
    for (std::vector<uint8_t>& image : cardImages_) image.clear();
    ResetSession();
}

void Driver::ResetSession() {
    enumerated_ = false;
    handles_.clear();
    counters_.openHandles = 0;
    image_.clear();
    imageLoaded_ = false;
    dfu_ = {};
    std::fill(std::begin(streamingMode_), std::end(streamingMode_), 0u);
}

bool Driver::GetCard(uint32_t index, Card* card) {
    Advance();
    if (index >= config_.cardCount || !card) return false;
    *card = config_.cards[index];
    return true;
}

void Driver::SetStreamsActive(uint32_t index, bool active) {
    if (index < config_.cardCount) config_.cards[index].streamsActive = active ? 1 : 0;
}

uint64_t Driver::Now() const {
    if (clock_) return clock_();
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

Driver::OpenHandle* Driver::Find(USBAUDIO_HANDLE handle) {
    for (OpenHandle& h : handles_)
        if (h.handle == handle) return &h;
    return nullptr;
}

// ---- devices ------------------------------------------------------------------

uint32_t Driver::GetApiVersion() { return config_.apiVersion; }

uint32_t Driver::CheckApiVersion(uint32_t majorVersion, uint32_t minorVersion) {
    return majorVersion == (config_.apiVersion >> 16) && minorVersion <= (config_.apiVersion & 0xFFFF) ? 1 : 0;
}

uint32_t Driver::EnumerateDevices() {
    ++counters_.enumerations;
    enumerated_ = true;
    return config_.customIniMissing ? kStatusCustomIniMissing : kOk;
}

uint32_t Driver::GetDeviceCount() { return enumerated_ ? config_.cardCount : 0; }

uint32_t Driver::GetDriverInfo(USBAUDIO_DRIVER_INFO* info) {
    if (!info) return kStatusInvalidParameter;
    *info = {config_.apiVersion >> 16, config_.apiVersion & 0xFFFF, config_.driverVersion[0],
             config_.driverVersion[1], config_.driverVersion[2], 0};
    return kOk;
}

uint32_t Driver::OpenDeviceByIndex(uint32_t deviceIndex, USBAUDIO_HANDLE* handle) {
    if (!handle) return kStatusInvalidParameter;
    if (!enumerated_ || deviceIndex >= config_.cardCount) return kStatusNoSuchDevice;
    if (config_.cards[deviceIndex].openFails) return kStatusOpenFailed;
    *handle = nextHandle_++;
    if (nextHandle_ == 0) nextHandle_ = 1;
    handles_.push_back({*handle, deviceIndex});
    ++counters_.opens;
    counters_.openHandles = static_cast<uint32_t>(handles_.size());
    return kOk;
}

uint32_t Driver::CloseDevice(USBAUDIO_HANDLE handle) {
    auto it = std::find_if(handles_.begin(), handles_.end(), [&](const OpenHandle& h) { return h.handle == handle; });
    if (it == handles_.end()) return kStatusInvalidHandle;
    handles_.erase(it);
    ++counters_.closes;
    counters_.openHandles = static_cast<uint32_t>(handles_.size());
    return kOk;
}

uint32_t Driver::GetDeviceProperties(USBAUDIO_HANDLE handle, USBAUDIO_DEVICE_PROPERTIES* properties) {
    Advance();
    OpenHandle* h = Find(handle);
    if (!h) return kStatusInvalidHandle;
    if (!properties) return kStatusInvalidParameter;
    const Card& card = config_.cards[h->card];
    if (card.propertiesFail) return kStatusFailed;
    std::memset(properties, 0, sizeof *properties);
    properties->vendorId = card.vendorId;
    properties->productId = card.productId;
    properties->releaseNumber = (uint32_t{card.major} << 8) | card.minor;
    PutText(card.serialNumber, properties->serialNumber);
    PutText(card.manufacturer, properties->manufacturer);
    PutText(card.product, properties->product);
    return kOk;
}

// ---- sample rate and streaming --------------------------------------------------

uint32_t Driver::GetSupportedSampleRates(USBAUDIO_HANDLE handle, uint32_t arraySize, uint32_t* rates,
                                         uint32_t* rateCount) {
    OpenHandle* h = Find(handle);
    if (!h) return kStatusInvalidHandle;
    if (!rateCount || (arraySize && !rates)) return kStatusInvalidParameter;
    const Card& card = config_.cards[h->card];
    *rateCount = card.rateCount;
    if (arraySize < card.rateCount) return kStatusBufferTooSmall;
    std::copy(card.rates, card.rates + card.rateCount, rates);
    return kOk;
}

uint32_t Driver::GetCurrentSampleRate(USBAUDIO_HANDLE handle, uint32_t* rate) {
    OpenHandle* h = Find(handle);
    if (!h) return kStatusInvalidHandle;
    if (!rate) return kStatusInvalidParameter;
    *rate = config_.cards[h->card].currentRate;
    return kOk;
}

uint32_t Driver::SetSampleRate(USBAUDIO_HANDLE handle, uint32_t rate) {
    OpenHandle* h = Find(handle);
    if (!h) return kStatusInvalidHandle;
    Card& card = config_.cards[h->card];
    if (card.streamsActive) return kStatusStreamsActive;
    if (std::find(card.rates, card.rates + card.rateCount, rate) == card.rates + card.rateCount)
        return kStatusRateUnsupported;
    card.currentRate = rate;
    ++counters_.rateChanges;
    return kOk;
}

uint32_t Driver::GetUsbStreamingMode(USBAUDIO_HANDLE handle, uint32_t* mode) {
    OpenHandle* h = Find(handle);
    if (!h) return kStatusInvalidHandle;
    if (!mode) return kStatusInvalidParameter;
    *mode = streamingMode_[h->card];
    return kOk;
}

uint32_t Driver::SetUsbStreamingMode(USBAUDIO_HANDLE handle, uint32_t mode) {
    OpenHandle* h = Find(handle);
    if (!h) return kStatusInvalidHandle;
    if (mode > 2) return kStatusInvalidParameter;
    if (config_.cards[h->card].streamsActive) return kStatusStreamsActive;
    streamingMode_[h->card] = mode;
    return kOk;
}

uint32_t Driver::GetASIOBufferSize(uint32_t* size) {
    if (!size) return kStatusInvalidParameter;
    *size = asioBufferSize_;
    return kOk;
}

uint32_t Driver::SetASIOBufferSize(uint32_t size) {
    if (size < 16 || size > 8192) return kStatusInvalidParameter;
    asioBufferSize_ = size;
    return kOk;
}

// ---- firmware image -------------------------------------------------------------------

uint32_t Driver::LoadFirmwareImageFromBuffer(const uint8_t* image, uint32_t size, uint32_t flags) {
    if (!image) return kStatusInvalidParameter;
    if (dfu_.active) return kStatusDfuBusy;
    if (config_.fault == kFaultLoadRefused) return config_.faultStatus;
    const uint32_t versionEnd = std::max(config_.versionOffset, config_.minorOffset);
    if (size == 0 || size > config_.maxImageBytes || size <= versionEnd) return kStatusBadImage;
    image_.assign(image, image + size);
    imageLoaded_ = true;
    ++counters_.imageLoads;
    counters_.imageBytes = size;
    counters_.loadFlags = flags;
    return kOk;
}

uint32_t Driver::LoadFirmwareImageFromFile(const char16_t*, uint32_t) {
    return kStatusNotSupported;  // this driver takes images from memory only
}

uint32_t Driver::GetFirmwareImageSize(uint32_t* size) {
    if (!size) return kStatusInvalidParameter;
    if (!imageLoaded_) return kStatusNoImage;
    *size = static_cast<uint32_t>(image_.size());
    return kOk;
}

uint32_t Driver::UnloadFirmwareImage() {
    if (dfu_.active) return kStatusDfuBusy;
    image_.clear();
    imageLoaded_ = false;
    return kOk;
}

uint32_t Driver::GetFirmwareImage(uint8_t* buffer, uint32_t size) {
    if (!buffer) return kStatusInvalidParameter;
    if (!imageLoaded_) return kStatusNoImage;
    if (size < image_.size()) return kStatusBufferTooSmall;
    std::copy(image_.begin(), image_.end(), buffer);
    return kOk;
}

// ---- download procedure -----------------------------------------------------------------

uint32_t Driver::StartDfuDownload(uint32_t deviceIndex, uint32_t targetId, uint32_t flags) {
    Advance();
    if (!enumerated_ || deviceIndex >= config_.cardCount) return kStatusNoSuchDevice;
    if (!imageLoaded_) return kStatusNoImage;
    if (dfu_.active) return kStatusDfuBusy;
    if (config_.fault == kFaultStartRefused) return config_.faultStatus;
    ++counters_.dfuStarts;
    counters_.lastStartIndex = deviceIndex;
    counters_.lastStartTarget = targetId;
    counters_.lastStartFlags = flags;
    dfu_ = {};
    dfu_.active = true;
    dfu_.card = deviceIndex;
    dfu_.start = Now();
    dfu_.total = static_cast<uint32_t>(image_.size());
    dfu_.state = kDfuDetaching;
    return kOk;
}

uint32_t Driver::StartDfuUpload(uint32_t, uint32_t, uint32_t) { return kStatusNotSupported; }
uint32_t Driver::StartDfuRevertToFactoryImage(uint32_t, uint32_t, uint32_t) { return kStatusNotSupported; }

void Driver::Advance() {
    if (!dfu_.active || dfu_.state == kDfuFinished || dfu_.state == kDfuFailed) return;
    const Timing& t = config_.timing;
    const uint64_t elapsed = Now() - dfu_.start;
    const uint32_t block = t.blockBytes ? t.blockBytes : 1;
    const uint64_t blocks = (uint64_t{dfu_.total} + block - 1) / block;
    const uint64_t downloadEnd = t.detachMicros + blocks * t.blockMicros;
    const uint64_t manifestEnd = downloadEnd + t.manifestMicros;
    const uint64_t reattachEnd = manifestEnd + t.reattachMicros;

    if (elapsed < t.detachMicros) {
        dfu_.state = kDfuDetaching;
        return;
    }
    uint64_t done = dfu_.total;
    if (elapsed < downloadEnd && t.blockMicros) done = std::min<uint64_t>(dfu_.total, (elapsed - t.detachMicros) / t.blockMicros * block);
    dfu_.bytesDone = static_cast<uint32_t>(done);
    dfu_.state = kDfuDownloading;

    const bool breaks = config_.fault == kFaultFailDuringDownload || config_.fault == kFaultStall ||
                        config_.fault == kFaultDeviceLost;
    if (breaks && config_.faultAtBytes <= dfu_.total && dfu_.bytesDone >= config_.faultAtBytes) {
        dfu_.bytesDone = config_.faultAtBytes;
        if (config_.fault != kFaultStall) {
            dfu_.state = kDfuFailed;
            dfu_.completion = config_.fault == kFaultDeviceLost ? kStatusNoSuchDevice : config_.faultStatus;
        }
        return;
    }
    if (elapsed < downloadEnd) return;
    if (config_.fault == kFaultCorruptBlock && config_.faultAtBytes < dfu_.total) {
        dfu_.state = kDfuFailed;
        dfu_.completion = kStatusDfuVerifyFailed;
        return;
    }
    if (elapsed < manifestEnd) {
        dfu_.state = kDfuManifesting;
        return;
    }
    if (!dfu_.committed) Commit();
    if (elapsed < reattachEnd) {
        dfu_.state = kDfuReattaching;
        return;
    }
    if (config_.fault == kFaultFailAfterCommit) {
        dfu_.state = kDfuFailed;
        dfu_.completion = config_.faultStatus;
        return;
    }
    dfu_.state = kDfuFinished;
}

void Driver::Commit() {
    dfu_.committed = true;
    if (config_.fault == kFaultEndDfuFails) return;  // the card's check refuses the image: it keeps its own
    Card& card = config_.cards[dfu_.card];
    card.major = image_[config_.versionOffset];
    card.minor = image_[config_.minorOffset];
    cardImages_[dfu_.card] = image_;
    ++card.downloads;
    if (onCommit) onCommit(dfu_.card, card.major, card.minor);
}

const std::vector<uint8_t>& Driver::CardImage(uint32_t index) const {
    static const std::vector<uint8_t> none;
    return index < kMaxCards ? cardImages_[index] : none;
}

uint32_t Driver::GetDfuStatus(uint32_t* state, uint32_t* bytesDone, uint32_t* totalBytes, uint32_t* completionStatus) {
    if (!state || !bytesDone || !totalBytes || !completionStatus) return kStatusInvalidParameter;
    if (!dfu_.active) return kStatusNoDfu;
    ++counters_.dfuPolls;
    Advance();
    if (config_.fault == kFaultStatusErrors && dfu_.polls < config_.faultPolls) {
        ++dfu_.polls;
        return config_.faultStatus;
    }
    *state = dfu_.state;
    *bytesDone = dfu_.bytesDone;
    *totalBytes = dfu_.total;
    *completionStatus = dfu_.state == kDfuFailed ? dfu_.completion : kOk;
    return kOk;
}

uint32_t Driver::EndDfuProc() {
    if (!dfu_.active) return kStatusNoDfu;
    Advance();
    ++counters_.dfuEnds;
    uint32_t result = kStatusDfuAborted;  // still running: the procedure is broken off
    if (dfu_.state == kDfuFinished)
        result = config_.fault == kFaultEndDfuFails ? config_.faultStatus : kOk;
    else if (dfu_.state == kDfuFailed)
        result = config_.fault == kFaultFailAfterCommit ? kOk : dfu_.completion;
    dfu_ = {};
    return result;
}

const char16_t* Driver::StatusCodeStringW(uint32_t status) { return TextOf(status).wide; }
const char* Driver::StatusCodeStringA(uint32_t status) { return TextOf(status).narrow; }

}  // namespace sim::usbcard

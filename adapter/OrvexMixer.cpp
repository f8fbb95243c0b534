#include "adapter/OrvexMixer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/Log.h"

namespace orvex {

using namespace mixer;
namespace st = adapter::status;

namespace {

constexpr const char* kBoxCaption = "COrvexMixer";

// Interface clock code -> "Current Source" driver code, and back. Code 0 is the internal clock.
constexpr std::array<uint8_t, 7> kClockToDriver{0, 1, 2, 6, 3, 4, 5};
constexpr std::array<uint8_t, 7> kDriverToClock{0, 1, 2, 4, 5, 6, 3};
// Interface rate code -> "Rate Select" in hertz.
constexpr std::array<uint32_t, 6> kRates{44100, 48000, 88200, 96000, 176400, 192000};
constexpr uint8_t kInternalClock = 0;
constexpr uint8_t kRate192k = 5;

constexpr uint32_t kXCModeOptionA = 1u << 12;
constexpr uint32_t kXCModeOptionB = 1u << 13;

constexpr adapter::DeviceApi kPlatformDevices{plat::CreateFile, plat::DeviceIoControl, plat::CloseHandle};
const adapter::DeviceApi* g_devices = nullptr;

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void Box(const char* text, const char* caption = kBoxCaption) {
    plat::MessageBox(text, caption, plat::mb::Ok | plat::mb::IconWarning);
}

MIXERLINEA LineByType(uint32_t componentType) {
    MIXERLINEA line{};
    line.cbStruct = sizeof(MIXERLINEA);
    line.dwComponentType = componentType;
    return line;
}

}  // namespace

void COrvexMixer::SetDeviceApi(const adapter::DeviceApi* api) { g_devices = api; }
const adapter::DeviceApi& COrvexMixer::GetDeviceApi() { return g_devices ? *g_devices : kPlatformDevices; }

COrvexMixer::COrvexMixer() = default;

COrvexMixer::~COrvexMixer() {
    Close();
    m_pMixer.reset();
    CloseDevice();
}

// ---- helpers ----

bool COrvexMixer::DeviceNumber(uint16_t index, uint32_t* device) const {
    if (index >= m_wCount || index >= kMaxConnections) return false;
    *device = m_dwDevices[index];
    return true;
}

plat::FileHandle COrvexMixer::OpenDevice(uint32_t device) const {
    char path[64];
    std::snprintf(path, sizeof path, adapter::kDevicePathFormat, device);
    return GetDeviceApi().CreateFile(path, plat::kAccessRead | plat::kAccessWrite, plat::FileShare::Read,
                                     plat::FileDisposition::OpenExisting, 0);
}

void COrvexMixer::CloseDevice() {
    if (m_hDevice != plat::kInvalidFile) m_pDevices->CloseHandle(m_hDevice);
    m_hDevice = plat::kInvalidFile;
    m_pDevices = nullptr;
}

bool COrvexMixer::Request(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize) {
    if (m_hDevice == plat::kInvalidFile) return false;
    uint32_t returned = 0;
    return m_pDevices->DeviceIoControl(m_hDevice, code, in, inSize, out, outSize, &returned);
}

bool COrvexMixer::ReadCounter(uint32_t* value) {
    uint32_t v = 0;
    if (!Request(adapter::kIoctlResponseCounter, nullptr, 0, &v, sizeof v)) return false;
    *value = v;
    return true;
}

void COrvexMixer::Fail(const char* text, const char* box) {
    OrvexLog("COrvexMixer::PrepareForProgramming: %s", text);
    if (box) Box(box);
}

void COrvexMixer::ResetControls() {
    for (CMixerControl* c : {&m_DeviceID, &m_SerialNumber, &m_PCBRev, &m_FirmwareRev, &m_XS1DeviceID, &m_XS1PCBRev,
                             &m_XS1FWRev, &m_CurrentSource, &m_RateSelect, &m_FPAOutSource, &m_FPDOutSource,
                             &m_XSlotOutSource, &m_XS1XCMode, &m_FPMeterSource, &m_WideWireIn, &m_WideWireOut,
                             &m_SLEnable, &m_AdapterPreferredSource, &m_AdapterSLEnable, &m_AdapterWideWireIn,
                             &m_AdapterWideWireOut, &m_AdapterDigIn1Status, &m_AdapterDeviceID,
                             &m_AdapterFirmwareRev, &m_FastControls, &m_SlowControls})
        *c = CMixerControl();
    m_Trims.fill(CMixerControl());
    for (auto* outputs : {&m_SourceA, &m_SourceB, &m_VolumeA, &m_VolumeB, &m_MuteA, &m_MuteB})
        outputs->fill(CMixerControl());
}

void COrvexMixer::Bind(CMixerControl& control, const char* name, uint32_t channels) {
    MIXERCONTROLA record;
    if (m_pMixer->GetControlByName(name, &record)) control = CMixerControl(m_pMixer.get(), channels, record);
}

uint8_t COrvexMixer::ControlByte(const CMixerControl& control) const {
    uint32_t value = 0;
    control.GetValue(&value, sizeof value);
    return static_cast<uint8_t>(value);
}

uint32_t COrvexMixer::StatusWord(uint32_t offset) const { return Le32(&m_StatusBlock[offset]); }

bool COrvexMixer::OutputIndex(uint8_t input, uint8_t output, uint32_t* index) const {
    if (output >= adapter::kOutputs) return false;
    *index = (input != 0 ? 1u : 0u) + 2u * output;
    return true;
}

// ---- finding and selecting ----

uint32_t COrvexMixer::Open() {
    if (m_pMixer) m_pMixer->CloseMixer();
    m_pMixer = std::make_unique<CMixerAPI>();
    if (m_pMixer->IsBound() && m_pMixer->GetNumDevs() != 0) {
        m_bClosed = 0;
        return kStatusSuccess;
    }
    m_pMixer.reset();
    return kStatusFailure;
}

uint32_t COrvexMixer::Close() {
    if (m_pMixer && m_pMixer->IsBound()) m_pMixer->CloseMixer();
    m_bClosed = 1;
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetNumConnections(uint16_t* count) {
    if (count) *count = 0;
    if (!m_pMixer) return kStatusFailure;
    if (m_wCount != 0) {
        if (count) *count = m_wCount;
        return kStatusSuccess;
    }
    if (m_pMixer->m_hMixer) m_pMixer->CloseMixer();  // one device open at a time
    uint16_t found = 0;
    const uint32_t devices = m_pMixer->GetNumDevs();
    for (uint32_t d = 0; d < devices; ++d) {
        MIXERCAPSA caps{};
        m_pMixer->GetDevCaps(d, &caps);
        if (m_pMixer->Open(d) != MMSYSERR_NOERROR) continue;
        MIXERLINEA line = LineByType(adapter::kConverterLineType);
        if (m_pMixer->GetLineInfo(&line, MIXER_GETLINEINFOF_COMPONENTTYPE) != MMSYSERR_NOERROR) {
            m_pMixer->CloseMixer();
            continue;
        }
        uint32_t product = 0;
        if (m_pMixer->GetAllLineControls(line)) {
            MIXERCONTROLA record;
            if (m_pMixer->GetControlByName("Device ID", &record))
                CMixerControl(m_pMixer.get(), line.cChannels, record).GetValue(&product, sizeof product);
        }
        if (adapter::IsListedConverter(product)) {
            if (found < kMaxConnections)
                m_dwDevices[found++] = d;
            else
                OrvexLog("COrvexMixer::GetNumConnections: %u connections already, mixer device %u not counted",
                         unsigned{kMaxConnections}, d);
        }
        m_pMixer->FreeControls();
        m_pMixer->CloseMixer();
    }
    m_wCount = found;
    if (count) *count = found;
    return kStatusSuccess;
}

uint32_t COrvexMixer::SelectConnection(uint16_t connection) {
    if (!m_pMixer) return kStatusFailure;
    Close();
    m_wSelected = connection;
    ResetControls();
    m_StatusBlock.fill(0);  // nothing of the previous unit may show through
    uint32_t device = 0;
    if (!DeviceNumber(connection, &device)) return kStatusFailure;
    if (m_pMixer->Open(device) != MMSYSERR_NOERROR) return kStatusFailure;

    MIXERLINEA converter = LineByType(adapter::kConverterLineType);
    if (m_pMixer->GetLineInfo(&converter, MIXER_GETLINEINFOF_COMPONENTTYPE) != MMSYSERR_NOERROR) {
        m_pMixer->CloseMixer();
        return kStatusFailure;
    }
    if (!m_pMixer->GetAllLineControls(converter)) {
        m_pMixer->CloseMixer();
        return kStatusFailure;
    }
    const uint32_t channels = converter.cChannels;
    Bind(m_DeviceID, "Device ID", channels);
    uint32_t product = 0;
    m_DeviceID.GetValue(&product, sizeof product);
    if (!adapter::IsListedConverter(product)) {
        m_pMixer->CloseMixer();
        return kStatusFailure;
    }
    Bind(m_SerialNumber, "Serial Number", channels);
    Bind(m_PCBRev, "PCB Rev", channels);
    Bind(m_FirmwareRev, "Firmware Rev", channels);
    Bind(m_XS1DeviceID, "XS1 Device ID", channels);
    Bind(m_XS1PCBRev, "XS1 PCB Rev", channels);
    Bind(m_XS1FWRev, "XS1 FW Rev", channels);
    static constexpr const char* kTrimNames[adapter::kTrimGroups] = {
        "TrimAIn14", "TrimAIn58", "TrimAIn912", "TrimAIn1316",
        "TrimAOut14", "TrimAOut58", "TrimAOut912", "TrimAOut1316"};
    for (uint32_t g = 0; g < adapter::kTrimGroups; ++g) Bind(m_Trims[g], kTrimNames[g], channels);
    Bind(m_CurrentSource, "Current Source", channels);
    Bind(m_RateSelect, "Rate Select", channels);
    Bind(m_FPAOutSource, "FPAOutSource", channels);
    Bind(m_FPDOutSource, "FPDOutSource", channels);
    Bind(m_XSlotOutSource, "XSlotOutSource", channels);
    Bind(m_XS1XCMode, "XS1 XCMODE", channels);
    Bind(m_FPMeterSource, "FPMeterSource", channels);
    Bind(m_WideWireIn, "WideWireIn", channels);
    Bind(m_WideWireOut, "WideWireOut", channels);
    Bind(m_SLEnable, "SLEnable", channels);
    Bind(m_FastControls, "Fast Controls", channels);
    Bind(m_SlowControls, "Slow Controls", channels);
    m_pMixer->FreeControls();

    const uint32_t lastSource = std::min<uint32_t>(converter.cConnections, adapter::kFirstOutputSource + adapter::kOutputs);
    for (uint32_t i = adapter::kFirstOutputSource; i < lastSource; ++i) {
        MIXERLINEA source{};
        source.cbStruct = sizeof(MIXERLINEA);
        source.dwDestination = converter.dwLineID;
        source.dwSource = i;
        m_pMixer->GetLineInfo(&source, MIXER_GETLINEINFOF_SOURCE);
        if (!m_pMixer->GetAllLineControls(source)) continue;
        const uint32_t o = i - adapter::kFirstOutputSource;
        Bind(m_SourceA[o], "SourceA", channels);
        Bind(m_SourceB[o], "SourceB", channels);
        Bind(m_VolumeA[o], "VolumeA", channels);
        Bind(m_VolumeB[o], "VolumeB", channels);
        Bind(m_MuteA[o], "MuteA", channels);
        Bind(m_MuteB[o], "MuteB", channels);
        m_pMixer->FreeControls();
    }

    MIXERLINEA card = LineByType(adapter::kAdapterLineType);
    if (!m_pMixer->IsBound() || m_pMixer->GetLineInfo(&card, MIXER_GETLINEINFOF_COMPONENTTYPE) != MMSYSERR_NOERROR) {
        Box("m_pMixer->GetLineIDByType 'Adapter' Failed!");
        return kStatusFailure;
    }
    if (m_pMixer->GetAllLineControls(card)) {
        const uint32_t cardChannels = card.cChannels;
        Bind(m_AdapterPreferredSource, "PreferredSource", cardChannels);
        Bind(m_AdapterWideWireIn, "WideWireIn", cardChannels);
        Bind(m_AdapterWideWireOut, "WideWireOut", cardChannels);
        Bind(m_AdapterSLEnable, "SLEnable", cardChannels);
        Bind(m_AdapterDigIn1Status, "DigIn1Status", cardChannels);
        Bind(m_AdapterDeviceID, "Device ID", cardChannels);
        Bind(m_AdapterFirmwareRev, "Firmware Rev", cardChannels);
    }
    m_pMixer->FreeControls();
    m_bClosed = 0;
    // The status block belongs to the unit just selected from here on.
    m_dwLastSlowRead = plat::GetTickCount();
    m_SlowControls.GetValue(m_StatusBlock.data(), adapter::kStatusBlockSize);
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetCurrentConnection(uint16_t* connection) {
    if (connection) *connection = m_wSelected;
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetConnectionType(uint16_t* type) {
    if (type) *type = kConnectionAdapter;
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetConnectionDescription(uint16_t connection, char* text, uint32_t size, uint8_t* deviceID) {
    if (text && size) std::memset(text, 0, size);
    uint32_t device = 0;
    if (!DeviceNumber(connection, &device)) return kStatusFailure;
    plat::FileHandle handle = OpenDevice(device);
    if (handle == plat::kInvalidFile) return kStatusFailure;

    std::array<uint8_t, adapter::kAdapterInfoSize> block{};
    PutLe32(&block[adapter::info::kDeviceNumber], device);
    uint32_t returned = 0;
    const bool ok = GetDeviceApi().DeviceIoControl(handle, adapter::kIoctlAdapterInformation, block.data(),
                                                   adapter::kAdapterInfoSize, block.data(),
                                                   adapter::kAdapterInfoSize, &returned);
    GetDeviceApi().CloseHandle(handle);
    if (!ok) {
        Box("Unable to retrieve the Orvex information!", "COrvexMixer::GetConnectionDescription");
        return kStatusFailure;
    }
    const char* adapterName = adapter::AdapterModelName(Le16(&block[adapter::info::kModel]));
    const uint8_t product = static_cast<uint8_t>(Le32(&block[adapter::info::kProduct]) >> 24);
    if (deviceID) *deviceID = product;

    uint8_t is1824 = 0, isVT = 0;
    IsVariant1824(&is1824);
    IsVariantVT(&isVT);
    const char* suffix = is1824 == 1 ? "/1824" : isVT == 1 ? "/VT" : "";

    char location[64];
    const uint32_t slot = Le32(&block[adapter::info::kSlot]);
    if (slot != 0)
        std::snprintf(location, sizeof location, " in PCI Slot %d", static_cast<int>(slot));
    else
        std::snprintf(location, sizeof location, " at Bus %d, Device %d", Le16(&block[adapter::info::kBus]),
                      Le16(&block[adapter::info::kDevice]));
    char unit[64];
    std::snprintf(unit, sizeof unit, "%s%s", adapter::ConverterName(product), suffix);
    if (text && size) std::snprintf(text, size, "%s on %s%s", unit, adapterName, location);
    return kStatusSuccess;
}

const CMixerControl* COrvexMixer::AdapterControl(const char* name) const {
    if (!name) return nullptr;
    const struct {
        const char* name;
        const CMixerControl* control;
    } controls[] = {
        {"Device ID", &m_AdapterDeviceID},       {"Firmware Rev", &m_AdapterFirmwareRev},
        {"PreferredSource", &m_AdapterPreferredSource}, {"SLEnable", &m_AdapterSLEnable},
        {"WideWireIn", &m_AdapterWideWireIn},    {"WideWireOut", &m_AdapterWideWireOut},
        {"DigIn1Status", &m_AdapterDigIn1Status},
    };
    for (const auto& c : controls)
        if (std::strcmp(c.name, name) == 0) return c.control->IsFound() ? c.control : nullptr;
    return nullptr;
}

bool ReadAdapterControl(COrvexMixerInterface& unit, const char* name, uint32_t* value) {
    auto* mixer = dynamic_cast<COrvexMixer*>(&unit);
    if (!mixer || !value) return false;
    const CMixerControl* control = mixer->AdapterControl(name);
    uint32_t v = 0;
    if (!control || !control->GetValue(&v, sizeof v)) return false;
    *value = v;
    return true;
}

// ---- status and waits ----

uint32_t COrvexMixer::Poll() {
    const uint32_t now = plat::GetTickCount();
    if (now - m_dwLastSlowRead >= kSlowReadIntervalMs) {
        m_dwLastSlowRead = now;
        m_SlowControls.GetValue(m_StatusBlock.data(), adapter::kStatusBlockSize);
    } else {
        m_StatusBlock.fill(0);
        m_FastControls.GetValue(m_StatusBlock.data(), adapter::kStatusBlockSize);
    }
    return kStatusSuccess;
}

uint32_t COrvexMixer::WaitForResponse(uint32_t count) {
    if (m_hDevice == plat::kInvalidFile) return kStatusFailure;
    const uint32_t start = plat::GetTickCount();
    uint32_t reference = 0;
    // Changes count from the first reading that succeeds; a failed one is no reference.
    bool haveReference = ReadCounter(&reference);
    uint32_t changes = 0;
    for (;;) {
        if (plat::GetTickCount() - start > kWaitLimitMs) return kStatusFailure;
        uint32_t value = 0;
        if (ReadCounter(&value)) {
            if (!haveReference) {
                reference = value;
                haveReference = true;
            } else if ((value & 0xFF) != (reference & 0xFF)) {
                ++changes;
                reference = value;
            }
        }
        if (changes >= count) break;
    }
    Poll();
    return kStatusSuccess;
}

bool COrvexMixer::WaitForLock() {
    const uint32_t start = plat::GetTickCount();
    uint32_t value = 1;
    for (;;) {
        if (plat::GetTickCount() - start > kWaitLimitMs) return false;
        m_AdapterDigIn1Status.GetValue(&value, sizeof value);
        if ((value & 1) == 0) return true;
    }
}

uint32_t COrvexMixer::PrepareForProgramming() {
    CloseDevice();
    uint32_t device = 0;
    if (DeviceNumber(m_wSelected, &device)) {
        m_pDevices = &GetDeviceApi();
        m_hDevice = OpenDevice(device);
    }
    if (m_hDevice == plat::kInvalidFile) {
        Fail("Unable to locate the Pelk driver!", "Unable to locate the Pelk driver!");
        return kStatusFailure;
    }

    m_AdapterInfo.fill(0);
    PutLe32(&m_AdapterInfo[adapter::info::kDeviceNumber], device);
    if (!Request(adapter::kIoctlAdapterInformation, m_AdapterInfo.data(), adapter::kAdapterInfoSize,
                 m_AdapterInfo.data(), adapter::kAdapterInfoSize)) {
        Fail("DeviceIoControl FAILED!", nullptr);
        m_AdapterInfo.fill(0);
        return kStatusFailure;
    }

    // The clock source is a best effort: the sequence goes on whatever it reads.
    uint8_t status = 255;
    uint32_t start = plat::GetTickCount();
    while (status != kInternalClock) {
        SetSyncSource(kInternalClock);
        if (WaitForResponse(4) != kStatusSuccess) {
            Fail("WaitForResponse (Set SyncSource) Failed!", "PrepareForProgramming WaitForResponse (Set SyncSource) Failed!");
            break;
        }
        GetSyncSource(&status);
        if (plat::GetTickCount() - start > kWaitLimitMs) {
            Fail("TIMEOUT: Unable to set Orvex Clock Source to Internal!",
                 "TIMEOUT: Unable to set Orvex Clock Source to Internal!");
            break;
        }
    }
    if (status != kInternalClock)
        Fail("Unable to set Orvex Clock Source to Internal!", "Unable to set Orvex Clock Source to Internal!");

    m_AdapterPreferredSource.SetValue(4);
    m_AdapterWideWireIn.SetValue(0);
    m_AdapterWideWireOut.SetValue(0);
    m_AdapterSLEnable.SetValue(0);

    if (!WaitForLock()) {
        Fail("WaitForLock1 Failed!", "PrepareForProgramming WaitForLock1 Failed!");
        return kStatusFailure;
    }
    if (WaitForResponse(4) != kStatusSuccess) {
        Fail("WaitForResponse1 Failed!", "PrepareForProgramming WaitForResponse1 Failed!");
        return kStatusFailure;
    }

    status = 255;
    start = plat::GetTickCount();
    while (status != kRate192k) {
        SetSampleRate(kRate192k);
        if (WaitForResponse(4) != kStatusSuccess) {
            Fail("WaitForResponse (Set SampleRate) Failed!", "PrepareForProgramming WaitForResponse (Set SampleRate) Failed!");
            if (status == kRate192k) break;
            return kStatusFailure;
        }
        GetSampleRate(&status);
        if (plat::GetTickCount() - start > kWaitLimitMs) {
            Fail("TIMEOUT: Unable to set Orvex Samplerate!", "TIMEOUT: Unable to set Orvex Samplerate!");
            if (status == kRate192k) break;
            return kStatusFailure;
        }
    }

    if (!WaitForLock()) {
        Fail("WaitForLock2 Failed!", "PrepareForProgramming WaitForLock2 Failed!");
        return kStatusFailure;
    }
    if (WaitForResponse(4) != kStatusSuccess) {
        Fail("WaitForResponse2 Failed!", "PrepareForProgramming WaitForResponse2 Failed!");
        return kStatusFailure;
    }

    SetSLEnable(1);
    SetWideWireIn(0);
    SetWideWireOut(0);

    if (!WaitForLock()) {
        Fail("WaitForLock3 Failed!", "PrepareForProgramming WaitForLock3 Failed!");
        return kStatusFailure;
    }
    if (WaitForResponse(4) != kStatusSuccess) {
        Fail("WaitForResponse3 Failed!", "PrepareForProgramming WaitForResponse3 Failed!");
        return kStatusFailure;
    }
    return kStatusSuccess;
}

// ---- programming ----

uint32_t COrvexMixer::GetProgrammingStatus(uint8_t* status) {
    uint32_t value = 0;
    if (!Request(adapter::kIoctlProgrammingStatus, nullptr, 0, &value, sizeof value)) return kStatusFailure;
    if (status) *status = static_cast<uint8_t>(value);
    return kStatusSuccess;
}

uint32_t COrvexMixer::SelectAlternateBank() {
    if (Request(adapter::kIoctlSelectAlternateBank, nullptr, 0, nullptr, 0)) return kStatusSuccess;
    Box("Unable to retrieve erase the Orvex firmware!");
    return kStatusFailure;
}

uint32_t COrvexMixer::EraseAlternateBank() {
    if (Request(adapter::kIoctlEraseAlternateBank, nullptr, 0, nullptr, 0)) return kStatusSuccess;
    Box("Unable to retrieve erase the Orvex firmware!");
    return kStatusFailure;
}

uint32_t COrvexMixer::WriteFirmwarePacket(const uint8_t* data, uint32_t length) {
    if (!data && length != 0) return kStatusFailure;
    return Request(adapter::kIoctlWritePacket, data, length, nullptr, 0) ? kStatusSuccess : kStatusFailure;
}

uint32_t COrvexMixer::RequestVerifyPacket() {
    return Request(adapter::kIoctlRequestVerifyPacket, nullptr, 0, nullptr, 0) ? kStatusSuccess : kStatusFailure;
}

uint32_t COrvexMixer::ReadVerifyPacket(uint8_t* buffer, uint32_t length) {
    if (!buffer && length != 0) return kStatusFailure;
    // The caller's buffer changes only when the request succeeds.
    std::vector<uint8_t> copy(buffer, buffer + length);
    if (!Request(adapter::kIoctlReadVerifyPacket, copy.data(), length, copy.data(), length)) return kStatusFailure;
    std::copy(copy.begin(), copy.end(), buffer);
    return kStatusSuccess;
}

uint32_t COrvexMixer::SetProgrammingComplete() {
    return Request(adapter::kIoctlProgrammingComplete, nullptr, 0, nullptr, 0) ? kStatusSuccess : kStatusFailure;
}

uint32_t COrvexMixer::CancelProgramming() {
    return Request(adapter::kIoctlCancelProgramming, nullptr, 0, nullptr, 0) ? kStatusSuccess : kStatusFailure;
}

uint32_t COrvexMixer::SelectXSlotFirmware(uint8_t on) {
    const uint32_t slot = on;
    if (Request(adapter::kIoctlSelectXSlotFirmware, &slot, sizeof slot, nullptr, 0) || on == 0) return kStatusSuccess;
    return kStatusFailure;
}

uint32_t COrvexMixer::WriteSerialNumber(uint32_t serial) {
    m_SerialNumber.SetValue(serial);
    bool matched = false;
    for (uint32_t i = 0; i < kMaxSerialReads && !matched; ++i) {
        if (WaitForResponse(4) != kStatusSuccess) {
            Box("WriteSerialNumber WaitForResponse Failed!");
            return kStatusFailure;
        }
        uint32_t value = ~serial;
        m_SerialNumber.GetValue(&value, sizeof value);
        matched = value == serial;
    }
    if (!matched) {
        Box("COrvexMixer::WriteSerialNumber Timeout!");
        return kStatusFailure;
    }
    if (!Request(adapter::kIoctlWriteSerialNumber, &serial, sizeof serial, nullptr, 0)) {
        Box("WriteSerialNumber Unable to write Serial Number!");
        return kStatusFailure;
    }
    return kStatusSuccess;
}

// ---- identity ----

void COrvexMixer::SetPortName(const char*) {}
void COrvexMixer::SetTransportMask(uint32_t) {}
void COrvexMixer::SetSecondPortName(const char*) {}

uint32_t COrvexMixer::IsDisconnected(uint8_t* disconnected) {
    if (disconnected) *disconnected = m_bClosed;
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetAlternateFirmwareRevision(uint8_t* revision) {
    if (revision) *revision = m_AdapterInfo[adapter::info::kAlternate];
    return kStatusSuccess;
}

uint32_t COrvexMixer::SetMode(uint8_t) { return kStatusSuccess; }

uint32_t COrvexMixer::GetSerialNumber(uint32_t* serial) {
    uint32_t value = 0;
    if (m_SerialNumber.GetValue(&value, sizeof value) && serial) *serial = value;
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetDeviceID(uint8_t* deviceID) {
    if (deviceID) *deviceID = ControlByte(m_DeviceID);
    return kStatusSuccess;
}

bool COrvexMixer::IsTavi() {
    uint32_t value = 0;
    m_DeviceID.GetValue(&value, sizeof value);
    return value == kDeviceTavi;
}

uint32_t COrvexMixer::GetPCBRevision(uint8_t* revision) {
    if (revision) *revision = ControlByte(m_PCBRev);
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetFirmwareRevision(uint8_t* revision) {
    if (revision) *revision = ControlByte(m_FirmwareRev);
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetXSlotDeviceID(uint8_t* deviceID) {
    if (deviceID) *deviceID = ControlByte(m_XS1DeviceID);
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetXSlotFirmwareRevision(uint8_t* revision, uint8_t*) {
    if (revision) *revision = ControlByte(m_XS1FWRev);
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetXSlotPCBRevision(uint8_t* revision) {
    if (revision) *revision = ControlByte(m_XS1PCBRev);
    return kStatusSuccess;
}

uint32_t COrvexMixer::IsVariant1824(uint8_t* is1824) {
    if (is1824) *is1824 = (StatusWord(st::kStatusWord) & st::kVariant1824) != 0 ? 1 : 0;
    return kStatusSuccess;
}

uint32_t COrvexMixer::IsVariantVT(uint8_t* isVT) {
    if (isVT) *isVT = (StatusWord(st::kStatusWord) & st::kVariantVT) != 0 ? 1 : 0;
    return kStatusSuccess;
}

// ---- control surface ----

uint32_t COrvexMixer::SetTrim(uint16_t trim, uint8_t value) {
    if (trim >= adapter::kTrimGroups) return kStatusOutOfRange;
    m_Trims[trim].SetValue(value != 1 ? 1 : 0);
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetTrim(uint16_t trim, uint8_t* value) {
    if (trim >= adapter::kTrimGroups) return kStatusOutOfRange;
    if (value) *value = StatusByte(st::kTrims + 4u * trim) == 0 ? 1 : 0;
    return kStatusSuccess;
}

uint32_t COrvexMixer::SetSyncSource(uint8_t code) {
    if (code >= kClockToDriver.size()) return kStatusOutOfRange;
    m_CurrentSource.SetValue(kClockToDriver[code]);
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetSyncSource(uint8_t* code) {
    const uint32_t driver = StatusWord(st::kClockSource);
    if (driver < kDriverToClock.size() && code) *code = kDriverToClock[driver];
    return kStatusSuccess;
}

uint32_t COrvexMixer::SetSLEnable(uint8_t on) {
    m_SLEnable.SetValue(on);
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetSLEnable(uint8_t* on) {
    if (on) *on = StatusByte(st::kSLEnable);
    return kStatusSuccess;
}

uint32_t COrvexMixer::SetSampleRate(uint8_t code) {
    if (code >= kRates.size()) return kStatusOutOfRange;
    m_RateSelect.SetValue(kRates[code]);
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetSampleRate(uint8_t* code) {
    uint32_t hertz = 0;
    if (!m_RateSelect.GetValue(&hertz, sizeof hertz)) return kStatusOutOfRange;
    for (size_t i = 0; i < kRates.size(); ++i) {
        if (kRates[i] == hertz) {
            if (code) *code = static_cast<uint8_t>(i);
            return kStatusSuccess;
        }
    }
    return kStatusOutOfRange;
}

uint32_t COrvexMixer::GetSLStatus(uint8_t* status) {
    if (status) *status = 0;
    return kStatusSuccess;
}

uint32_t COrvexMixer::SetFPAOutSource(uint8_t code) {
    m_FPAOutSource.SetValue(code);
    return kStatusSuccess;
}
uint32_t COrvexMixer::GetFPAOutSource(uint8_t* code) {
    if (code) *code = StatusByte(st::kFPAOutSource);
    return kStatusSuccess;
}
uint32_t COrvexMixer::SetFPDOutSource(uint8_t code) {
    m_FPDOutSource.SetValue(code);
    return kStatusSuccess;
}
uint32_t COrvexMixer::GetFPDOutSource(uint8_t* code) {
    if (code) *code = StatusByte(st::kFPDOutSource);
    return kStatusSuccess;
}
uint32_t COrvexMixer::SetWideWireIn(uint8_t on) {
    m_WideWireIn.SetValue(on);
    return kStatusSuccess;
}
uint32_t COrvexMixer::GetWideWireIn(uint8_t* on) {
    if (on) *on = StatusByte(st::kWideWireIn);
    return kStatusSuccess;
}
uint32_t COrvexMixer::SetWideWireOut(uint8_t on) {
    m_WideWireOut.SetValue(on);
    return kStatusSuccess;
}
uint32_t COrvexMixer::GetWideWireOut(uint8_t* on) {
    if (on) *on = StatusByte(st::kWideWireOut);
    return kStatusSuccess;
}
uint32_t COrvexMixer::SetFPMeterSource(uint8_t on) {
    m_FPMeterSource.SetValue(on);
    return kStatusSuccess;
}
uint32_t COrvexMixer::GetFPMeterSource(uint8_t* on) {
    if (on) *on = StatusByte(st::kFPMeterSource);
    return kStatusSuccess;
}
uint32_t COrvexMixer::SetXSlotOutSource(uint8_t on) {
    m_XSlotOutSource.SetValue(on);
    return kStatusSuccess;
}
uint32_t COrvexMixer::GetXSlotOutSource(uint8_t* on) {
    if (on) *on = StatusByte(st::kXSlotOutSource);
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetRegister5Bit0(uint8_t* value) {
    if (value) *value = StatusByte(st::kRegister5Bit0) != 0 ? 1 : 0;
    return kStatusSuccess;
}
uint32_t COrvexMixer::GetRegister5Bit1(uint8_t* value) {
    if (value) *value = StatusByte(st::kRegister5Bit1) == 0 ? 1 : 0;
    return kStatusSuccess;
}
uint32_t COrvexMixer::SetRegister5Bit2(uint8_t) { return kStatusFailure; }
uint32_t COrvexMixer::GetRegister5Bit2(uint8_t*) { return kStatusFailure; }
uint32_t COrvexMixer::SetXSlotMode(uint8_t) { return kStatusFailure; }

uint32_t COrvexMixer::GetXSlotMode(uint8_t* mode) {
    if (mode) *mode = ControlByte(m_XS1XCMode);
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetRegister5Bit5(uint8_t*) { return kStatusFailure; }

uint32_t COrvexMixer::GetModelVariant(uint8_t* variant) {
    if (variant) *variant = StatusByte(st::kModelVariant);
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetRegister7Low(uint8_t* value) {
    if (value) *value = static_cast<uint8_t>(StatusWord(st::kStatusWord));
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetXSlotSerialNumber(uint32_t*) { return kStatusFailure; }

uint32_t COrvexMixer::SetXCModeBit(uint32_t bit, uint8_t on) {
    uint32_t mode = 0;
    // Written back only when read: a guess would clear the card's other mode bits.
    if (!m_XS1XCMode.GetValue(&mode, sizeof mode)) return kStatusSuccess;
    mode = on ? (mode | bit) : (mode & ~bit);
    m_XS1XCMode.SetValue(mode);
    return kStatusSuccess;
}

uint32_t COrvexMixer::SetXSlotOptionA(uint8_t on) { return SetXCModeBit(kXCModeOptionA, on); }
uint32_t COrvexMixer::SetXSlotOptionB(uint8_t on) { return SetXCModeBit(kXCModeOptionB, on); }

uint32_t COrvexMixer::GetXSlotOptionA(uint8_t* on) {
    uint32_t mode = 0;
    m_XS1XCMode.GetValue(&mode, sizeof mode);
    if (on) *on = (mode & kXCModeOptionA) != 0 ? 1 : 0;
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetXSlotOptionB(uint8_t* on) {
    uint32_t mode = 0;
    m_XS1XCMode.GetValue(&mode, sizeof mode);
    if (on) *on = (mode & kXCModeOptionB) != 0 ? 1 : 0;
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetPeakMeter(uint32_t channel, uint8_t* level) {
    if (level) *level = StatusByte(st::kPeakMeters + (channel - 8u) % 64u);
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetOverload(uint32_t channel, uint8_t* overload) {
    if (overload) *overload = StatusByte(st::kOverloads + (channel - 8u) % 64u);
    return kStatusSuccess;
}

uint32_t COrvexMixer::NoOperation(uint32_t) { return kStatusSuccess; }

uint32_t COrvexMixer::SetMixerVolume(uint8_t input, uint8_t output, uint8_t level, uint32_t) {
    if (output >= adapter::kOutputs) return kStatusOutOfRange;
    (input != 0 ? m_VolumeB : m_VolumeA)[output].SetValue(std::min<uint8_t>(level, 254));
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetMixerVolume(uint8_t input, uint8_t output, uint8_t* level) {
    uint32_t index = 0;
    if (!OutputIndex(input, output, &index)) return kStatusOutOfRange;
    const uint8_t volume = StatusByte(st::kOutputVolume + index);
    if (volume == 255) {
        // The driver reports a muted output with volume 255.
        if (level) *level = 0;
        m_StatusBlock[st::kOutputMute + index] = 1;
    } else if (level) {
        *level = volume;
    }
    return kStatusSuccess;
}

uint32_t COrvexMixer::SetMixerMute(uint8_t input, uint8_t output, uint8_t on) {
    if (output >= adapter::kOutputs) return kStatusOutOfRange;
    (input != 0 ? m_MuteB : m_MuteA)[output].SetValue(on);
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetMixerMute(uint8_t input, uint8_t output, uint8_t* on) {
    uint32_t index = 0;
    if (!OutputIndex(input, output, &index)) return kStatusOutOfRange;
    if (on) *on = StatusByte(st::kOutputMute + index);
    return kStatusSuccess;
}

uint32_t COrvexMixer::SetMixerSource(uint8_t input, uint8_t output, uint8_t source) {
    if (output >= adapter::kOutputs) return kStatusOutOfRange;
    (input != 0 ? m_SourceB : m_SourceA)[output].SetValue(source);
    return kStatusSuccess;
}

uint32_t COrvexMixer::GetMixerSource(uint8_t input, uint8_t output, uint8_t* source) {
    uint32_t index = 0;
    if (!OutputIndex(input, output, &index)) return kStatusOutOfRange;
    if (source) *source = StatusByte(st::kOutputSource + index);
    return kStatusSuccess;
}

bool COrvexMixer::HasExtendedMixer() { return false; }

// ---- what this path does not offer ----

uint32_t COrvexMixer::GetStatusTriple(uint8_t*, uint8_t*, uint8_t*) { return kStatusFailure; }
uint32_t COrvexMixer::SelectBank(uint8_t) { return kStatusFailure; }
uint32_t COrvexMixer::WriteXSlotSerialNumber(uint32_t) { return kStatusFailure; }
uint32_t COrvexMixer::SetRegisters48To51(uint32_t) { return kStatusFailure; }

uint32_t COrvexMixer::GetRegister24(uint8_t* value) {
    if (value) *value = 0;
    return kStatusFailure;
}
uint32_t COrvexMixer::GetRegister20PlusOne(uint8_t* value) {
    if (value) *value = 0;
    return kStatusFailure;
}
uint32_t COrvexMixer::GetRegister21PlusOne(uint8_t* value) {
    if (value) *value = 0;
    return kStatusFailure;
}
uint32_t COrvexMixer::GetWord22PlusOne(uint16_t* value) {
    if (value) *value = 0;
    return kStatusFailure;
}
uint32_t COrvexMixer::GetWord7(uint16_t*) { return kStatusFailure; }
uint32_t COrvexMixer::SetRegister27(uint8_t) { return kStatusFailure; }
uint32_t COrvexMixer::RefreshAllRegisters() { return kStatusFailure; }
uint32_t COrvexMixer::GetFirmwareDate(uint16_t*) { return kStatusFailure; }
uint32_t COrvexMixer::GetRegister125Bit7(uint8_t*) { return kStatusFailure; }
bool COrvexMixer::GetRegister125Bit2() { return false; }
bool COrvexMixer::GetRegister124Bit7() { return false; }
bool COrvexMixer::GetRegister42Bit3() { return false; }
uint32_t COrvexMixer::GetPortSampleRate(uint8_t, uint32_t*) { return kStatusFailure; }
uint32_t COrvexMixer::GetLevelMeter(uint8_t, uint16_t, uint32_t*, uint8_t*) { return kStatusFailure; }
uint32_t COrvexMixer::SetMatrixGain(uint8_t, uint8_t, int16_t) { return kStatusFailure; }
uint32_t COrvexMixer::GetMatrixGain(uint8_t, uint8_t, int16_t*) { return kStatusFailure; }
uint32_t COrvexMixer::SetOutputGain(uint8_t, int16_t) { return kStatusFailure; }
uint32_t COrvexMixer::GetOutputGain(uint8_t, int16_t*) { return kStatusFailure; }
uint32_t COrvexMixer::SetMatrixSwitchA(uint8_t, uint8_t, uint8_t) { return kStatusFailure; }
uint32_t COrvexMixer::GetMatrixSwitchA(uint8_t, uint8_t, uint8_t*) { return kStatusFailure; }
uint32_t COrvexMixer::SetSwitchFlag(uint8_t, uint8_t) { return kStatusFailure; }
uint32_t COrvexMixer::GetSwitchFlag(uint8_t, uint8_t*) { return kStatusFailure; }
uint32_t COrvexMixer::SetMatrixSwitchB(uint8_t, uint8_t, uint8_t) { return kStatusFailure; }
uint32_t COrvexMixer::GetMatrixSwitchB(uint8_t, uint8_t, uint8_t*) { return kStatusFailure; }

uint32_t COrvexMixer::GetRegister(uint16_t, uint8_t* value) {
    if (value) *value = 0;
    return kStatusFailure;
}
uint32_t COrvexMixer::SetRegister(uint16_t, uint8_t) { return kStatusFailure; }
uint32_t COrvexMixer::SetChangeCallback(uint16_t, uint16_t, OrvexChangeCallback, uint32_t, uint32_t) {
    return kStatusFailure;
}

}  // namespace orvex

#pragma once
// Unit control through a Pelk adapter card: the converter behind the card is
// reached through the card driver's mixer controls (CMixerAPI) and, for
// programming, through device requests to the card's "\\.\C2Mixer%u"
// device. Everything this path learns comes from control values and from a
// 450-byte status block the driver fills on request.
//
// Bounds this path keeps: 16 connections (further converters are logged and
// not counted), 8 trim groups and 32 outputs (other numbers answer status 2),
// source lines 32 to 63 (lines beyond are not bound). An index at or past the
// connection count fails as a device that cannot be opened.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "adapter/AdapterDriver.h"
#include "adapter/MixerAPI.h"
#include "platform/Platform.h"
#include "unitcontrol/OrvexMixerInterface.h"

namespace orvex {

class COrvexMixer : public COrvexMixerInterface {
public:
    static constexpr uint16_t kMaxConnections = 16;
    static constexpr uint32_t kWaitLimitMs = 3000;
    static constexpr uint32_t kSlowReadIntervalMs = 50;
    static constexpr uint32_t kMaxSerialReads = 64;

    // The device requests of the next operations; null puts back the platform's.
    static void SetDeviceApi(const adapter::DeviceApi* api);
    static const adapter::DeviceApi& GetDeviceApi();

    COrvexMixer();
    ~COrvexMixer() override;
    COrvexMixer(const COrvexMixer&) = delete;
    COrvexMixer& operator=(const COrvexMixer&) = delete;

    void SetPortName(const char* name) override;
    void SetTransportMask(uint32_t mask) override;
    void SetSecondPortName(const char* name) override;
    uint32_t Open() override;
    uint32_t Close() override;
    uint32_t Poll() override;
    uint32_t IsDisconnected(uint8_t* disconnected) override;
    uint32_t GetAlternateFirmwareRevision(uint8_t* revision) override;
    uint32_t PrepareForProgramming() override;
    uint32_t SetMode(uint8_t mode) override;
    uint32_t GetProgrammingStatus(uint8_t* status) override;
    uint32_t GetStatusTriple(uint8_t* first, uint8_t* second, uint8_t* third) override;
    uint32_t SelectAlternateBank() override;
    uint32_t SelectBank(uint8_t bank) override;
    uint32_t EraseAlternateBank() override;
    uint32_t WaitForResponse(uint32_t count) override;
    uint32_t WriteFirmwarePacket(const uint8_t* data, uint32_t length) override;
    uint32_t RequestVerifyPacket() override;
    uint32_t ReadVerifyPacket(uint8_t* buffer, uint32_t length) override;
    uint32_t SetProgrammingComplete() override;
    uint32_t CancelProgramming() override;
    uint32_t WriteSerialNumber(uint32_t serial) override;
    uint32_t WriteXSlotSerialNumber(uint32_t serial) override;
    uint32_t SelectXSlotFirmware(uint8_t on) override;
    uint32_t SetRegisters48To51(uint32_t value) override;
    uint32_t GetNumConnections(uint16_t* count) override;
    uint32_t SelectConnection(uint16_t connection) override;
    uint32_t GetCurrentConnection(uint16_t* connection) override;
    uint32_t GetConnectionType(uint16_t* type) override;
    uint32_t GetConnectionDescription(uint16_t connection, char* text, uint32_t size, uint8_t* deviceID) override;
    uint32_t GetSerialNumber(uint32_t* serial) override;
    uint32_t GetDeviceID(uint8_t* deviceID) override;
    bool IsTavi() override;
    uint32_t GetPCBRevision(uint8_t* revision) override;
    uint32_t GetFirmwareRevision(uint8_t* revision) override;
    uint32_t SetTrim(uint16_t trim, uint8_t value) override;
    uint32_t GetTrim(uint16_t trim, uint8_t* value) override;
    uint32_t SetSyncSource(uint8_t code) override;
    uint32_t GetSyncSource(uint8_t* code) override;
    uint32_t SetSLEnable(uint8_t on) override;
    uint32_t GetSLEnable(uint8_t* on) override;
    uint32_t SetSampleRate(uint8_t code) override;
    uint32_t GetSampleRate(uint8_t* code) override;
    uint32_t GetSLStatus(uint8_t* status) override;
    uint32_t SetFPAOutSource(uint8_t code) override;
    uint32_t GetFPAOutSource(uint8_t* code) override;
    uint32_t SetFPDOutSource(uint8_t code) override;
    uint32_t GetFPDOutSource(uint8_t* code) override;
    uint32_t SetWideWireIn(uint8_t on) override;
    uint32_t GetWideWireIn(uint8_t* on) override;
    uint32_t SetWideWireOut(uint8_t on) override;
    uint32_t GetWideWireOut(uint8_t* on) override;
    uint32_t SetFPMeterSource(uint8_t on) override;
    uint32_t GetFPMeterSource(uint8_t* on) override;
    uint32_t SetXSlotOutSource(uint8_t on) override;
    uint32_t GetXSlotOutSource(uint8_t* on) override;
    uint32_t GetRegister5Bit0(uint8_t* value) override;
    uint32_t GetRegister5Bit1(uint8_t* value) override;
    uint32_t SetRegister5Bit2(uint8_t on) override;
    uint32_t GetRegister5Bit2(uint8_t* value) override;
    uint32_t SetXSlotMode(uint8_t on) override;
    uint32_t GetXSlotMode(uint8_t* mode) override;
    uint32_t GetRegister5Bit5(uint8_t* value) override;
    uint32_t GetModelVariant(uint8_t* variant) override;
    uint32_t GetRegister7Low(uint8_t* value) override;
    uint32_t IsVariant1824(uint8_t* is1824) override;
    uint32_t IsVariantVT(uint8_t* isVT) override;
    uint32_t GetXSlotDeviceID(uint8_t* deviceID) override;
    uint32_t GetXSlotSerialNumber(uint32_t* serial) override;
    uint32_t GetXSlotFirmwareRevision(uint8_t* revision, uint8_t* second) override;
    uint32_t GetXSlotPCBRevision(uint8_t* revision) override;
    uint32_t SetXSlotOptionA(uint8_t on) override;
    uint32_t GetXSlotOptionA(uint8_t* on) override;
    uint32_t SetXSlotOptionB(uint8_t on) override;
    uint32_t GetXSlotOptionB(uint8_t* on) override;
    uint32_t GetPeakMeter(uint32_t channel, uint8_t* level) override;
    uint32_t GetOverload(uint32_t channel, uint8_t* overload) override;
    uint32_t NoOperation(uint32_t value) override;
    uint32_t SetMixerVolume(uint8_t input, uint8_t output, uint8_t level, uint32_t ignored) override;
    uint32_t GetMixerVolume(uint8_t input, uint8_t output, uint8_t* level) override;
    uint32_t SetMixerMute(uint8_t input, uint8_t output, uint8_t on) override;
    uint32_t GetMixerMute(uint8_t input, uint8_t output, uint8_t* on) override;
    uint32_t SetMixerSource(uint8_t input, uint8_t output, uint8_t source) override;
    uint32_t GetMixerSource(uint8_t input, uint8_t output, uint8_t* source) override;
    bool HasExtendedMixer() override;
    uint32_t GetRegister24(uint8_t* value) override;
    uint32_t GetRegister20PlusOne(uint8_t* value) override;
    uint32_t GetRegister21PlusOne(uint8_t* value) override;
    uint32_t GetWord22PlusOne(uint16_t* value) override;
    uint32_t GetWord7(uint16_t* value) override;
    uint32_t SetRegister27(uint8_t value) override;
    uint32_t RefreshAllRegisters() override;
    uint32_t GetFirmwareDate(uint16_t* date) override;
    uint32_t GetRegister125Bit7(uint8_t* value) override;
    bool GetRegister125Bit2() override;
    bool GetRegister124Bit7() override;
    bool GetRegister42Bit3() override;
    uint32_t GetPortSampleRate(uint8_t port, uint32_t* rateHz) override;
    uint32_t GetLevelMeter(uint8_t bank, uint16_t index, uint32_t* level, uint8_t* overload) override;
    uint32_t SetMatrixGain(uint8_t row, uint8_t column, int16_t gain) override;
    uint32_t GetMatrixGain(uint8_t row, uint8_t column, int16_t* gain) override;
    uint32_t SetOutputGain(uint8_t output, int16_t gain) override;
    uint32_t GetOutputGain(uint8_t output, int16_t* gain) override;
    uint32_t SetMatrixSwitchA(uint8_t row, uint8_t column, uint8_t on) override;
    uint32_t GetMatrixSwitchA(uint8_t row, uint8_t column, uint8_t* on) override;
    uint32_t SetSwitchFlag(uint8_t flag, uint8_t on) override;
    uint32_t GetSwitchFlag(uint8_t flag, uint8_t* on) override;
    uint32_t SetMatrixSwitchB(uint8_t row, uint8_t column, uint8_t on) override;
    uint32_t GetMatrixSwitchB(uint8_t row, uint8_t column, uint8_t* on) override;
    uint32_t GetRegister(uint16_t reg, uint8_t* value) override;
    uint32_t SetRegister(uint16_t reg, uint8_t value) override;
    uint32_t SetChangeCallback(uint16_t firstReg, uint16_t secondReg, OrvexChangeCallback callback, uint32_t context1, uint32_t context2) override;
    // A control of the card's own line, by its short name ("Device ID",
    // "Firmware Rev", "PreferredSource", "SLEnable", "WideWireIn",
    // "WideWireOut", "DigIn1Status"); null when not bound.
    const CMixerControl* AdapterControl(const char* name) const;

    // For tests and the simulation.
    const std::array<uint8_t, adapter::kStatusBlockSize>& StatusBlock() const { return m_StatusBlock; }
    std::array<uint8_t, adapter::kStatusBlockSize>& StatusBlockForTest() { return m_StatusBlock; }
    const std::array<uint8_t, adapter::kAdapterInfoSize>& AdapterInformation() const { return m_AdapterInfo; }
    bool HasDeviceHandle() const { return m_hDevice != plat::kInvalidFile; }
    const CMixerAPI* Binding() const { return m_pMixer.get(); }

private:
    bool DeviceNumber(uint16_t index, uint32_t* device) const;
    plat::FileHandle OpenDevice(uint32_t device) const;
    void CloseDevice();
    bool Request(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize);
    bool ReadCounter(uint32_t* value);
    bool WaitForLock();
    void Fail(const char* text, const char* box);  // log line and, when box is set, the warning box
    void ResetControls();
    void Bind(CMixerControl& control, const char* name, uint32_t channels);
    uint8_t ControlByte(const CMixerControl& control) const;
    uint8_t StatusByte(uint32_t offset) const { return m_StatusBlock[offset]; }
    uint32_t StatusWord(uint32_t offset) const;
    bool OutputIndex(uint8_t input, uint8_t output, uint32_t* index) const;
    uint32_t SetXCModeBit(uint32_t bit, uint8_t on);

    // Fields in the order the unit control keeps them.
    std::unique_ptr<CMixerAPI> m_pMixer;
    uint8_t m_bClosed = 1;
    uint16_t m_wSelected = 0;
    uint16_t m_wCount = 0;
    std::array<uint32_t, kMaxConnections> m_dwDevices{};
    // converter line
    CMixerControl m_DeviceID, m_SerialNumber, m_PCBRev, m_FirmwareRev, m_XS1DeviceID, m_XS1PCBRev, m_XS1FWRev;
    std::array<CMixerControl, adapter::kTrimGroups> m_Trims;
    CMixerControl m_CurrentSource, m_RateSelect, m_FPAOutSource, m_FPDOutSource, m_XSlotOutSource, m_XS1XCMode,
        m_FPMeterSource, m_WideWireIn, m_WideWireOut, m_SLEnable;
    // source lines 32-63
    std::array<CMixerControl, adapter::kOutputs> m_SourceA, m_SourceB, m_VolumeA, m_VolumeB, m_MuteA, m_MuteB;
    // adapter line
    CMixerControl m_AdapterPreferredSource, m_AdapterSLEnable, m_AdapterWideWireIn, m_AdapterWideWireOut,
        m_AdapterDigIn1Status, m_AdapterDeviceID, m_AdapterFirmwareRev;
    std::array<uint8_t, adapter::kAdapterInfoSize> m_AdapterInfo{};
    plat::FileHandle m_hDevice = plat::kInvalidFile;
    const adapter::DeviceApi* m_pDevices = nullptr;  // the table m_hDevice was opened through
    uint32_t m_dwLastSlowRead = 0;
    std::array<uint8_t, adapter::kStatusBlockSize> m_StatusBlock{};
    CMixerControl m_FastControls, m_SlowControls;
};

// The updater's seam for the adapter firmware rule: reads an adapter-line
// control of `unit` as a 4-byte value; false when `unit` is not the adapter
// implementation or the control cannot be read.
bool ReadAdapterControl(COrvexMixerInterface& unit, const char* name, uint32_t* value);

}  // namespace orvex

#pragma once
// A unit-control object that offers nothing: every operation answers failure.
// Test fakes derive from it and override what they need.
#include "unitcontrol/OrvexMixerInterface.h"

class NullMixerInterface : public orvex::COrvexMixerInterface {
public:
    void SetPortName(const char*) override {}
    void SetTransportMask(uint32_t) override {}
    void SetSecondPortName(const char*) override {}
    uint32_t Open() override { return orvex::kStatusFailure; }
    uint32_t Close() override { return orvex::kStatusFailure; }
    uint32_t Poll() override { return orvex::kStatusFailure; }
    uint32_t IsDisconnected(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetAlternateFirmwareRevision(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t PrepareForProgramming() override { return orvex::kStatusFailure; }
    uint32_t SetMode(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetProgrammingStatus(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetStatusTriple(uint8_t*, uint8_t*, uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SelectAlternateBank() override { return orvex::kStatusFailure; }
    uint32_t SelectBank(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t EraseAlternateBank() override { return orvex::kStatusFailure; }
    uint32_t WaitForResponse(uint32_t) override { return orvex::kStatusFailure; }
    uint32_t WriteFirmwarePacket(const uint8_t*, uint32_t) override { return orvex::kStatusFailure; }
    uint32_t RequestVerifyPacket() override { return orvex::kStatusFailure; }
    uint32_t ReadVerifyPacket(uint8_t*, uint32_t) override { return orvex::kStatusFailure; }
    uint32_t SetProgrammingComplete() override { return orvex::kStatusFailure; }
    uint32_t CancelProgramming() override { return orvex::kStatusFailure; }
    uint32_t WriteSerialNumber(uint32_t) override { return orvex::kStatusFailure; }
    uint32_t WriteXSlotSerialNumber(uint32_t) override { return orvex::kStatusFailure; }
    uint32_t SelectXSlotFirmware(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t SetRegisters48To51(uint32_t) override { return orvex::kStatusFailure; }
    uint32_t GetNumConnections(uint16_t*) override { return orvex::kStatusFailure; }
    uint32_t SelectConnection(uint16_t) override { return orvex::kStatusFailure; }
    uint32_t GetCurrentConnection(uint16_t*) override { return orvex::kStatusFailure; }
    uint32_t GetConnectionType(uint16_t*) override { return orvex::kStatusFailure; }
    uint32_t GetConnectionDescription(uint16_t, char*, uint32_t, uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetSerialNumber(uint32_t*) override { return orvex::kStatusFailure; }
    uint32_t GetDeviceID(uint8_t*) override { return orvex::kStatusFailure; }
    bool IsTavi() override { return false; }
    uint32_t GetPCBRevision(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetFirmwareRevision(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetTrim(uint16_t, uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetTrim(uint16_t, uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetSyncSource(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetSyncSource(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetSLEnable(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetSLEnable(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetSampleRate(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetSampleRate(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetSLStatus(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetFPAOutSource(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetFPAOutSource(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetFPDOutSource(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetFPDOutSource(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetWideWireIn(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetWideWireIn(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetWideWireOut(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetWideWireOut(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetFPMeterSource(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetFPMeterSource(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetXSlotOutSource(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetXSlotOutSource(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetRegister5Bit0(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetRegister5Bit1(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetRegister5Bit2(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetRegister5Bit2(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetXSlotMode(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetXSlotMode(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetRegister5Bit5(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetModelVariant(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetRegister7Low(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t IsVariant1824(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t IsVariantVT(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetXSlotDeviceID(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetXSlotSerialNumber(uint32_t*) override { return orvex::kStatusFailure; }
    uint32_t GetXSlotFirmwareRevision(uint8_t*, uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetXSlotPCBRevision(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetXSlotOptionA(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetXSlotOptionA(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetXSlotOptionB(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetXSlotOptionB(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetPeakMeter(uint32_t, uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetOverload(uint32_t, uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t NoOperation(uint32_t) override { return orvex::kStatusFailure; }
    uint32_t SetMixerVolume(uint8_t, uint8_t, uint8_t, uint32_t) override { return orvex::kStatusFailure; }
    uint32_t GetMixerVolume(uint8_t, uint8_t, uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetMixerMute(uint8_t, uint8_t, uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetMixerMute(uint8_t, uint8_t, uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetMixerSource(uint8_t, uint8_t, uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetMixerSource(uint8_t, uint8_t, uint8_t*) override { return orvex::kStatusFailure; }
    bool HasExtendedMixer() override { return false; }
    uint32_t GetRegister24(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetRegister20PlusOne(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetRegister21PlusOne(uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetWord22PlusOne(uint16_t*) override { return orvex::kStatusFailure; }
    uint32_t GetWord7(uint16_t*) override { return orvex::kStatusFailure; }
    uint32_t SetRegister27(uint8_t) override { return orvex::kStatusFailure; }
    uint32_t RefreshAllRegisters() override { return orvex::kStatusFailure; }
    uint32_t GetFirmwareDate(uint16_t*) override { return orvex::kStatusFailure; }
    uint32_t GetRegister125Bit7(uint8_t*) override { return orvex::kStatusFailure; }
    bool GetRegister125Bit2() override { return false; }
    bool GetRegister124Bit7() override { return false; }
    bool GetRegister42Bit3() override { return false; }
    uint32_t GetPortSampleRate(uint8_t, uint32_t*) override { return orvex::kStatusFailure; }
    uint32_t GetLevelMeter(uint8_t, uint16_t, uint32_t*, uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetMatrixGain(uint8_t, uint8_t, int16_t) override { return orvex::kStatusFailure; }
    uint32_t GetMatrixGain(uint8_t, uint8_t, int16_t*) override { return orvex::kStatusFailure; }
    uint32_t SetOutputGain(uint8_t, int16_t) override { return orvex::kStatusFailure; }
    uint32_t GetOutputGain(uint8_t, int16_t*) override { return orvex::kStatusFailure; }
    uint32_t SetMatrixSwitchA(uint8_t, uint8_t, uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetMatrixSwitchA(uint8_t, uint8_t, uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetSwitchFlag(uint8_t, uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetSwitchFlag(uint8_t, uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetMatrixSwitchB(uint8_t, uint8_t, uint8_t) override { return orvex::kStatusFailure; }
    uint32_t GetMatrixSwitchB(uint8_t, uint8_t, uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t GetRegister(uint16_t, uint8_t*) override { return orvex::kStatusFailure; }
    uint32_t SetRegister(uint16_t, uint8_t) override { return orvex::kStatusFailure; }
    uint32_t SetChangeCallback(uint16_t, uint16_t, orvex::OrvexChangeCallback, uint32_t, uint32_t) override { return orvex::kStatusFailure; }
};

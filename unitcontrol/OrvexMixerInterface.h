#pragma once
// The one view of a converter that the updater has. COrvexRemote (messages over a
// transport) and COrvexMixer (the adapter card) implement it; callers and both
// implementations depend on the order of the operations below, so new operations
// go at the end and none is ever moved.
#include <cstdint>

#include "protocol/UnitCodes.h"

namespace orvex {

// ---- status words (callers look at the low 16 bits) ----
inline constexpr uint32_t kStatusSuccess = 0;
inline constexpr uint32_t kStatusFailure = 1;     // also: refused now, or not offered here
inline constexpr uint32_t kStatusOutOfRange = 2;  // argument outside the operation's table

typedef void (*OrvexChangeCallback)(uint32_t context1, uint32_t context2);

class COrvexMixerInterface {
public:
    virtual ~COrvexMixerInterface() = default;                                      // 0

    virtual void SetPortName(const char* name) = 0;                                 // 1
    virtual void SetTransportMask(uint32_t mask) = 0;                               // 2
    virtual void SetSecondPortName(const char* name) = 0;                           // 3
    virtual uint32_t Open() = 0;                                                    // 4
    virtual uint32_t Close() = 0;                                                   // 5
    virtual uint32_t Poll() = 0;                                                    // 6
    virtual uint32_t IsDisconnected(uint8_t* disconnected) = 0;                     // 7
    virtual uint32_t GetAlternateFirmwareRevision(uint8_t* revision) = 0;           // 8
    virtual uint32_t PrepareForProgramming() = 0;                                   // 9
    virtual uint32_t SetMode(uint8_t mode) = 0;                                     // 10
    virtual uint32_t GetProgrammingStatus(uint8_t* status) = 0;                     // 11
    virtual uint32_t GetStatusTriple(uint8_t* first, uint8_t* second, uint8_t* third) = 0;  // 12
    virtual uint32_t SelectAlternateBank() = 0;                                     // 13
    virtual uint32_t SelectBank(uint8_t bank) = 0;                                  // 14
    virtual uint32_t EraseAlternateBank() = 0;                                      // 15
    virtual uint32_t WaitForResponse(uint32_t count) = 0;                           // 16
    virtual uint32_t WriteFirmwarePacket(const uint8_t* data, uint32_t length) = 0;  // 17
    virtual uint32_t RequestVerifyPacket() = 0;                                     // 18
    virtual uint32_t ReadVerifyPacket(uint8_t* buffer, uint32_t length) = 0;        // 19
    virtual uint32_t SetProgrammingComplete() = 0;                                  // 20
    virtual uint32_t CancelProgramming() = 0;                                       // 21
    virtual uint32_t WriteSerialNumber(uint32_t serial) = 0;                        // 22
    virtual uint32_t WriteXSlotSerialNumber(uint32_t serial) = 0;                   // 23
    virtual uint32_t SelectXSlotFirmware(uint8_t on) = 0;                           // 24
    virtual uint32_t SetRegisters48To51(uint32_t value) = 0;                        // 25
    virtual uint32_t GetNumConnections(uint16_t* count) = 0;                        // 26
    virtual uint32_t SelectConnection(uint16_t connection) = 0;                     // 27
    virtual uint32_t GetCurrentConnection(uint16_t* connection) = 0;                // 28
    virtual uint32_t GetConnectionType(uint16_t* type) = 0;                         // 29
    virtual uint32_t GetConnectionDescription(uint16_t connection, char* text, uint32_t size,
                                              uint8_t* deviceID) = 0;               // 30
    virtual uint32_t GetSerialNumber(uint32_t* serial) = 0;                         // 31
    virtual uint32_t GetDeviceID(uint8_t* deviceID) = 0;                            // 32
    virtual bool IsTavi() = 0;                                                      // 33
    virtual uint32_t GetPCBRevision(uint8_t* revision) = 0;                         // 34
    virtual uint32_t GetFirmwareRevision(uint8_t* revision) = 0;                    // 35
    virtual uint32_t SetTrim(uint16_t trim, uint8_t value) = 0;                     // 36
    virtual uint32_t GetTrim(uint16_t trim, uint8_t* value) = 0;                    // 37
    virtual uint32_t SetSyncSource(uint8_t code) = 0;                               // 38
    virtual uint32_t GetSyncSource(uint8_t* code) = 0;                              // 39
    virtual uint32_t SetSLEnable(uint8_t on) = 0;                                   // 40
    virtual uint32_t GetSLEnable(uint8_t* on) = 0;                                  // 41
    virtual uint32_t SetSampleRate(uint8_t code) = 0;                               // 42
    virtual uint32_t GetSampleRate(uint8_t* code) = 0;                              // 43
    virtual uint32_t GetSLStatus(uint8_t* status) = 0;                              // 44
    virtual uint32_t SetFPAOutSource(uint8_t code) = 0;                             // 45
    virtual uint32_t GetFPAOutSource(uint8_t* code) = 0;                            // 46
    virtual uint32_t SetFPDOutSource(uint8_t code) = 0;                             // 47
    virtual uint32_t GetFPDOutSource(uint8_t* code) = 0;                            // 48
    virtual uint32_t SetWideWireIn(uint8_t on) = 0;                                 // 49
    virtual uint32_t GetWideWireIn(uint8_t* on) = 0;                                // 50
    virtual uint32_t SetWideWireOut(uint8_t on) = 0;                                // 51
    virtual uint32_t GetWideWireOut(uint8_t* on) = 0;                               // 52
    virtual uint32_t SetFPMeterSource(uint8_t on) = 0;                              // 53
    virtual uint32_t GetFPMeterSource(uint8_t* on) = 0;                             // 54
    virtual uint32_t SetXSlotOutSource(uint8_t on) = 0;                             // 55
    virtual uint32_t GetXSlotOutSource(uint8_t* on) = 0;                            // 56
    virtual uint32_t GetRegister5Bit0(uint8_t* value) = 0;                          // 57
    virtual uint32_t GetRegister5Bit1(uint8_t* value) = 0;                          // 58
    virtual uint32_t SetRegister5Bit2(uint8_t on) = 0;                              // 59
    virtual uint32_t GetRegister5Bit2(uint8_t* value) = 0;                          // 60
    virtual uint32_t SetXSlotMode(uint8_t on) = 0;                                  // 61
    virtual uint32_t GetXSlotMode(uint8_t* mode) = 0;                               // 62
    virtual uint32_t GetRegister5Bit5(uint8_t* value) = 0;                          // 63
    virtual uint32_t GetModelVariant(uint8_t* variant) = 0;                         // 64
    virtual uint32_t GetRegister7Low(uint8_t* value) = 0;                           // 65
    virtual uint32_t IsVariant1824(uint8_t* is1824) = 0;                            // 66
    virtual uint32_t IsVariantVT(uint8_t* isVT) = 0;                                // 67
    virtual uint32_t GetXSlotDeviceID(uint8_t* deviceID) = 0;                       // 68
    virtual uint32_t GetXSlotSerialNumber(uint32_t* serial) = 0;                    // 69
    // second may be null.
    virtual uint32_t GetXSlotFirmwareRevision(uint8_t* revision, uint8_t* second) = 0;  // 70
    virtual uint32_t GetXSlotPCBRevision(uint8_t* revision) = 0;                    // 71
    virtual uint32_t SetXSlotOptionA(uint8_t on) = 0;                               // 72
    virtual uint32_t GetXSlotOptionA(uint8_t* on) = 0;                              // 73
    virtual uint32_t SetXSlotOptionB(uint8_t on) = 0;                               // 74
    virtual uint32_t GetXSlotOptionB(uint8_t* on) = 0;                              // 75
    virtual uint32_t GetPeakMeter(uint32_t channel, uint8_t* level) = 0;            // 76
    virtual uint32_t GetOverload(uint32_t channel, uint8_t* overload) = 0;          // 77
    // Does nothing and answers kStatusSuccess in every implementation.
    virtual uint32_t NoOperation(uint32_t value) = 0;                               // 78
    // ignored is accepted for the slot's shape and not used.
    virtual uint32_t SetMixerVolume(uint8_t input, uint8_t output, uint8_t level, uint32_t ignored) = 0;  // 79
    virtual uint32_t GetMixerVolume(uint8_t input, uint8_t output, uint8_t* level) = 0;  // 80
    virtual uint32_t SetMixerMute(uint8_t input, uint8_t output, uint8_t on) = 0;   // 81
    virtual uint32_t GetMixerMute(uint8_t input, uint8_t output, uint8_t* on) = 0;  // 82
    virtual uint32_t SetMixerSource(uint8_t input, uint8_t output, uint8_t source) = 0;   // 83
    virtual uint32_t GetMixerSource(uint8_t input, uint8_t output, uint8_t* source) = 0;  // 84
    virtual bool HasExtendedMixer() = 0;                                            // 85
    virtual uint32_t GetRegister24(uint8_t* value) = 0;                             // 86
    virtual uint32_t GetRegister20PlusOne(uint8_t* value) = 0;                      // 87
    virtual uint32_t GetRegister21PlusOne(uint8_t* value) = 0;                      // 88
    virtual uint32_t GetWord22PlusOne(uint16_t* value) = 0;                         // 89
    virtual uint32_t GetWord7(uint16_t* value) = 0;                                 // 90
    virtual uint32_t SetRegister27(uint8_t value) = 0;                              // 91
    virtual uint32_t RefreshAllRegisters() = 0;                                     // 92
    virtual uint32_t GetFirmwareDate(uint16_t* date) = 0;                           // 93
    virtual uint32_t GetRegister125Bit7(uint8_t* value) = 0;                        // 94
    virtual bool GetRegister125Bit2() = 0;                                          // 95
    virtual bool GetRegister124Bit7() = 0;                                          // 96
    virtual bool GetRegister42Bit3() = 0;                                           // 97
    virtual uint32_t GetPortSampleRate(uint8_t port, uint32_t* rateHz) = 0;         // 98
    virtual uint32_t GetLevelMeter(uint8_t bank, uint16_t index, uint32_t* level, uint8_t* overload) = 0;  // 99
    virtual uint32_t SetMatrixGain(uint8_t row, uint8_t column, int16_t gain) = 0;  // 100
    virtual uint32_t GetMatrixGain(uint8_t row, uint8_t column, int16_t* gain) = 0;  // 101
    virtual uint32_t SetOutputGain(uint8_t output, int16_t gain) = 0;               // 102
    virtual uint32_t GetOutputGain(uint8_t output, int16_t* gain) = 0;              // 103
    virtual uint32_t SetMatrixSwitchA(uint8_t row, uint8_t column, uint8_t on) = 0;   // 104
    virtual uint32_t GetMatrixSwitchA(uint8_t row, uint8_t column, uint8_t* on) = 0;  // 105
    virtual uint32_t SetSwitchFlag(uint8_t flag, uint8_t on) = 0;                   // 106
    virtual uint32_t GetSwitchFlag(uint8_t flag, uint8_t* on) = 0;                  // 107
    virtual uint32_t SetMatrixSwitchB(uint8_t row, uint8_t column, uint8_t on) = 0;   // 108
    virtual uint32_t GetMatrixSwitchB(uint8_t row, uint8_t column, uint8_t* on) = 0;  // 109
    virtual uint32_t GetRegister(uint16_t reg, uint8_t* value) = 0;                 // 110
    virtual uint32_t SetRegister(uint16_t reg, uint8_t value) = 0;                  // 111
    // Calls back with the two contexts when a response covers a watched register.
    virtual uint32_t SetChangeCallback(uint16_t firstReg, uint16_t secondReg, OrvexChangeCallback callback,
                                       uint32_t context1, uint32_t context2) = 0;   // 112
};

}  // namespace orvex

#pragma once
// Unit control with remote-control messages over a byte transport (MIDI, or
// the network through a VA-VOVUZ card): the link that keeps an image of the
// selected unit's registers, identity and polling, programming and serial
// numbers, and the control surface.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "transport/OrvexInterface.h"
#include "unitcontrol/OrvexMixerInterface.h"
#include "unitcontrol/UsbCardAccess.h"
#include "protocol/RemoteMessages.h"

namespace orvex {

class COrvexRemote : public COrvexMixerInterface, private IResponseSink {
public:
    // Makes the transports Open may try; unset ones stand for a path that finds nothing.
    struct Transports {
        std::function<std::unique_ptr<COrvexInterface>()> midi;
        std::function<std::unique_ptr<COrvexInterface>()> network;
        // Opens the DO-ZAZ card access for a connection; null when there is none.
        std::function<std::unique_ptr<IUsbCardAccess>(uint16_t connection)> usbCard;
    };
    static constexpr uint32_t kTransportMidi = 0x08;
    static constexpr uint32_t kTransportNetwork = 0x20;
    static constexpr uint32_t kRingCapacity = 8192;
    static constexpr uint32_t kMaxMessage = 4095;
    static constexpr uint32_t kMaxSerialRetries = 64;  // MAX_SN_RETIRES

    COrvexRemote();  // the program's own transports
    explicit COrvexRemote(Transports transports);
    ~COrvexRemote() override;

    // 1-3
    void SetPortName(const char* name) override;
    void SetTransportMask(uint32_t mask) override;
    void SetSecondPortName(const char* name) override;
    // 4-35
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
    // 36-112: the control surface
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
    uint32_t GetRegister5Bit0(uint8_t* on) override;
    uint32_t GetRegister5Bit1(uint8_t* on) override;
    uint32_t SetRegister5Bit2(uint8_t on) override;
    uint32_t GetRegister5Bit2(uint8_t* on) override;
    uint32_t SetXSlotMode(uint8_t on) override;
    uint32_t GetXSlotMode(uint8_t* mode) override;
    uint32_t GetRegister5Bit5(uint8_t* on) override;
    uint32_t GetModelVariant(uint8_t* variant) override;
    uint32_t GetRegister7Low(uint8_t* value) override;
    uint32_t IsVariant1824(uint8_t* is) override;
    uint32_t IsVariantVT(uint8_t* is) override;
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
    uint32_t GetRegister125Bit7(uint8_t* on) override;
    bool GetRegister125Bit2() override;
    bool GetRegister124Bit7() override;
    bool GetRegister42Bit3() override;
    uint32_t GetPortSampleRate(uint8_t port, uint32_t* hertz) override;
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
    uint32_t SetChangeCallback(uint16_t first, uint16_t second, OrvexChangeCallback callback, uint32_t context1,
                               uint32_t context2) override;

    // The link's own operations; each answers 1 without a transport, else the send's status.
    uint32_t WriteRegister(uint16_t reg, uint8_t value);
    uint32_t RequestRegisterStatus(uint16_t first, uint16_t last);
    uint32_t RequestRegisterStatusVerified(uint16_t first, uint16_t last);
    uint32_t SendCommand(uint8_t command);

    // For tests and the simulation.
    uint8_t Mode() const { return m_ucMode; }
    uint32_t ResponseCount() const { return m_dwResponseCount; }
    const uint8_t* RegisterImage() const { return m_Registers; }
    uint8_t* RegisterImageForTest() { return m_Registers; }
    // The DO-ZAZ card access held for the selected connection; null when none.
    IUsbCardAccess* UsbCardAccess() const { return m_pXCUSB.get(); }

private:
    // Decoder hand-off.
    void CountResponse() override;
    void StoreRegisters(uint16_t firstReg, uint32_t count, const uint8_t* values) override;

    bool RingPut(const uint8_t* bytes, uint32_t n);
    bool RingTake(uint32_t n, uint8_t* destination);
    bool RingFind(uint8_t value, uint32_t* distance);
    void RingClear();
    // Reads everything the transport holds and decodes the complete messages.
    uint16_t ReceivePump(bool* decoded);
    void RunSchedule(bool decoded, uint32_t now, uint32_t* outcome);
    void LoseUnit();
    bool IsPlainUnit();
    bool IsTaviOrOrvexN();
    uint8_t GetDeviceIDValue() const;
    uint32_t Send(const std::vector<uint8_t>& message);
    // Serial number in registers base..base+3 for a device ID; FFFFFFFF when blank.
    uint32_t SerialFromRegisters(uint16_t base, uint8_t deviceID) const;
    void DropTransport();
    void DropUsbCard();  // closes and destroys the DO-ZAZ card access, if any

    Transports m_Transports;

    // Fields in the order the unit control keeps them.
    uint8_t m_ucManufacturerID[3] = {0x00, 0x01, 0x6B};
    uint8_t m_bDisconnected = 1;
    uint32_t m_dwTransportMask = kTransportMidi | kTransportNetwork;
    char m_szPortName[256] = {};
    char m_szSecondPortName[256] = {};
    uint32_t m_dwResponseCount = 0;
    uint8_t m_ucMode = 0;
    uint8_t m_Ring[kRingCapacity] = {};
    uint32_t m_dwRingCount = 0, m_dwRingWrite = 0, m_dwRingRead = 0;
    std::mutex m_RingLock;
    uint8_t m_bInsideMessage = 0;
    uint32_t m_dwLastPollTime = 0;
    uint32_t m_dwPollStep = 0;
    uint8_t m_VerifyBuffer[128] = {};
    // A read-back was asked for, and whether its packet has come. Until it has,
    // PAKRDY is not reported and the buffer cannot be read: the unit's own
    // register 9 (read when it is selected again after a loss) still shows the
    // PAKRDY of a read-back whose answer the host never heard.
    uint8_t m_bVerifyRequested = 0;
    uint8_t m_bVerifyPacketArrived = 0;
    uint16_t m_wConnectionType = 0;
    uint16_t m_wCurrentConnection = 0xFFFF;
    std::unique_ptr<COrvexInterface> m_pMidiIF;
    uint8_t m_Registers[2048] = {};
    std::unique_ptr<IUsbCardAccess> m_pXCUSB;
    uint16_t m_wXCUSBConnection = 0xFFFF;  // the connection m_pXCUSB was opened for
    uint8_t m_PeakMeters[64] = {};
    uint8_t m_Overloads[64] = {};
    uint8_t m_MixerSources[32 * 18] = {};
    uint8_t m_MixerVolumes[32 * 18] = {};
    uint8_t m_MixerMutes[32 * 18] = {};
    uint8_t m_bExtendedMixer = 0;
    uint8_t m_bExtendedMap = 0;
    uint8_t m_bSuspended = 1;
    uint8_t m_bWritingCardSerial = 0;
    uint16_t m_wLastResponseFirst = 0xFFFF;
    uint16_t m_wLastResponseCount = 0;
    uint32_t m_dwLastReceiveTime = 0;
    uint8_t m_bVerifiedBusy = 0;
    uint16_t m_wWatched[2] = {0, 0};
    OrvexChangeCallback m_pfnChangeCallback = nullptr;
    uint32_t m_dwCallbackContext[2] = {0, 0};
};

// The transports the program itself uses (MIDI through the system's WinMM).
COrvexRemote::Transports DefaultRemoteTransports();

}  // namespace orvex

// Firmware programming and serial-number writing over the remote link. None
// of these waits for the unit: the caller waits on the programming status,
// which the unit reports by itself while it works.
#include <cstring>

#include "common/Log.h"
#include "platform/Platform.h"
#include "unitcontrol/OrvexRemote.h"
#include "protocol/SerialNumber.h"

namespace orvex {

namespace {
void Warn(const char* text) { plat::MessageBox(text, "COrvexRemote", plat::mb::Ok | plat::mb::IconWarning); }
}  // namespace

uint32_t COrvexRemote::GetProgrammingStatus(uint8_t* status) {
    Poll();
    *status = m_Registers[9];
    if (m_bVerifyRequested && !m_bVerifyPacketArrived) *status &= static_cast<uint8_t>(~kProgPAKRDY);
    return kStatusSuccess;
}

uint32_t COrvexRemote::SelectAlternateBank() {
    int active = (m_Registers[9] & kProgRunningBank) ? 1 : 0;
    OrvexLog("COrvexRemote::SelectAlternateBank: Active Bank is %d, Selecting Bank %d\n", active + 1,
             active ? 1 : 2);
    return SendCommand(active ? kCmdSelectBank1 : kCmdSelectBank2);
}

uint32_t COrvexRemote::SelectBank(uint8_t bank) {
    if (bank == 0) SendCommand(kCmdSelectBank1);
    if (bank == 1) SendCommand(kCmdSelectBank2);
    return kStatusSuccess;
}

uint32_t COrvexRemote::EraseAlternateBank() {
    SetMode(3);
    m_Registers[9] = kProgPIP;
    SendCommand(kCmdPrefix);
    SendCommand(kCmdErase);
    return kStatusSuccess;
}

uint32_t COrvexRemote::WriteFirmwarePacket(const uint8_t* data, uint32_t length) {
    // A packet carries 1 to 128 bytes; firmware is never cut to fit.
    if (!data || length == 0 || length > kMaxPacketData) return kStatusOutOfRange;
    SetMode(3);
    m_Registers[9] = kProgPIP;
    SendCommand(kCmdPrefix);
    SendCommand(kCmdPacketFollows);
    if (IsTaviOrOrvexN()) WriteRegister(52, PacketCrc8(data, length));
    return Send(EncodeFirmwarePacket(data, length));
}

uint32_t COrvexRemote::RequestVerifyPacket() {
    std::memset(m_VerifyBuffer, 0, sizeof m_VerifyBuffer);
    m_Registers[9] &= static_cast<uint8_t>(~kProgPAKRDY);
    m_bVerifyRequested = 1;
    m_bVerifyPacketArrived = 0;
    SetMode(4);
    return SendCommand(kCmdVerifyPacket);
}

uint32_t COrvexRemote::ReadVerifyPacket(uint8_t* buffer, uint32_t length) {
    if (!buffer || length > sizeof m_VerifyBuffer) return kStatusOutOfRange;
    if (m_bVerifyRequested && !m_bVerifyPacketArrived) {
        OrvexLog("COrvexRemote::ReadVerifyPacket: the packet asked for has not come\n");
        return kStatusFailure;
    }
    std::memcpy(buffer, m_VerifyBuffer, length);
    m_bVerifyRequested = 0;
    return kStatusSuccess;
}

uint32_t COrvexRemote::SetProgrammingComplete() {
    m_bVerifyRequested = 0;
    SendCommand((m_Registers[9] & kProgRunningBank) ? kCmdCompleteBank2Active : kCmdCompleteBank1Active);
    SetMode(0);
    return kStatusSuccess;
}

uint32_t COrvexRemote::CancelProgramming() {
    m_bVerifyRequested = 0;
    SetMode(1);
    return SendCommand(kCmdCancel);
}

uint32_t COrvexRemote::WriteSerialNumber(uint32_t serial) {
    SetMode(1);
    if ((serial >> 24) != GetDeviceIDValue()) {
        Warn("WriteSerialNumber: SerialNumber Model does not match PID!");
        return kStatusFailure;
    }
    OrvexLog("Writing Serial Number...\n");
    WriteRegister(12, (serial >> 12) & 0x3F);
    WriteRegister(13, ((serial >> 14) & 0x30) | ((serial >> 20) & 0x0F));
    WriteRegister(14, serial & 0xFF);
    WriteRegister(15, (serial >> 8) & 0x0F);
    for (uint32_t attempt = 0;; ++attempt) {
        if (attempt == kMaxSerialRetries) {
            OrvexLog("WriteSerialNumber: Timeout! (MAX_SN_RETIRES)\n");
            Warn("WriteSerialNumber Timeout!");
            return kStatusFailure;
        }
        if (WaitForResponse(4) != kStatusSuccess) {
            OrvexLog("WriteSerialNumber: WaitForResponse Failed!\n");
            Warn("WriteSerialNumber WaitForResponse Failed!");
            return kStatusFailure;
        }
        uint32_t read = 0;
        GetSerialNumber(&read);
        if (read == serial) break;
    }
    SetMode(3);
    m_Registers[9] = kProgPIP;
    SendCommand(kCmdPrefix);
    SendCommand(kCmdStoreSerial);
    return kStatusSuccess;
}

uint32_t COrvexRemote::WriteXSlotSerialNumber(uint32_t serial) {
    m_bWritingCardSerial = 1;
    SetMode(1);
    uint8_t card = 0;
    GetXSlotDeviceID(&card);
    if ((serial >> 24) != card) {
        Warn("WriteXSlotSerialNumber: SerialNumber Model does not match PID!");
        m_bWritingCardSerial = 0;
        return kStatusFailure;
    }
    if (m_pMidiIF) m_pMidiIF->SetSlotTarget(true);
    OrvexLog("WriteXSlotSerialNumber: %02lx%02ld%02ld%04ld\n", (unsigned long)(serial >> 24),
             (long)SerialYear(serial), (long)SerialWeek(serial), (long)SerialUnitNumber(serial));
    WriteRegister(28, (serial >> 12) & 0x3F);
    WriteRegister(29, ((serial >> 14) & 0x30) | ((serial >> 20) & 0x0F));
    WriteRegister(30, serial & 0xFF);
    WriteRegister(31, (serial >> 8) & 0x0F);
    for (uint32_t attempt = 0;; ++attempt) {
        if (attempt == kMaxSerialRetries) {
            OrvexLog("WriteXSlotSerialNumber: Timeout! (MAX_SN_RETIRES)\n");
            Warn("WriteXSlotSerialNumber Timeout!");
            m_bWritingCardSerial = 0;
            return kStatusFailure;
        }
        if (WaitForResponse(4) != kStatusSuccess) {
            OrvexLog("WriteXSlotSerialNumber: WaitForResponse Failed!\n");
            Warn("WriteXSlotSerialNumber WaitForResponse Failed!");
            m_bWritingCardSerial = 0;
            return kStatusFailure;
        }
        uint32_t read = 0;
        GetXSlotSerialNumber(&read);
        OrvexLog("WriteXSlotSerialNumber: GetXSlotSerialNumber %02lx%02ld%02ld%04ld\n", (unsigned long)(read >> 24),
                 (long)SerialYear(read), (long)SerialWeek(read), (long)SerialUnitNumber(read));
        if (read == serial) break;
    }
    SetMode(3);
    m_Registers[9] = kProgPIP;
    SendCommand(kCmdPrefix);
    SendCommand(kCmdStoreSerial);
    m_bWritingCardSerial = 0;
    if (m_pMidiIF) m_pMidiIF->SetSlotTarget(false);
    return kStatusSuccess;
}

uint32_t COrvexRemote::SelectXSlotFirmware(uint8_t on) {
    uint8_t card = 0;
    GetXSlotDeviceID(&card);
    if (card == kXSlotVaVovuz) {
        // Over MIDI the unit is the only target there is: aiming at it needs no switch.
        if (!on && m_pMidiIF && m_wConnectionType == kConnectionMidi) return kStatusSuccess;
        return m_pMidiIF ? m_pMidiIF->SetSlotTarget(on != 0) : kStatusFailure;
    }
    if (on)
        m_Registers[5] |= 0x10;
    else
        m_Registers[5] &= static_cast<uint8_t>(~0x10);
    return WriteRegister(5, m_Registers[5]);
}

uint32_t COrvexRemote::SetRegisters48To51(uint32_t value) {
    if (IsTaviOrOrvexN())
        for (int i = 0; i < 4; ++i) WriteRegister(static_cast<uint16_t>(48 + i), (value >> (8 * i)) & 0xFF);
    return kStatusSuccess;
}

}  // namespace orvex

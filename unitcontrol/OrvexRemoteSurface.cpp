// COrvexRemote's control surface: accessors that read or change bits of the
// register image and send the changed register to the unit.
#include <array>
#include <cstdint>

#include "common/Log.h"
#include "platform/Platform.h"
#include "unitcontrol/OrvexRemote.h"

namespace orvex {
namespace {

constexpr uint32_t kSampleRates[6] = {44100, 48000, 88200, 96000, 176400, 192000};
constexpr uint32_t kUsbRateBusy = 0xE0001001;  // driver: rate locked by open audio streams

// Sync-source value -> code in register 3 bits 2-0, per family; -1: no code.
enum Family { kFamilyPlain, kFamilyOrvexN, kFamilyTavi };
constexpr std::array<std::array<int8_t, 7>, 3> kSyncCodes = {{
    {5, 4, 3, 6, 2, 1, 0},    // plain units
    {5, 4, 0, 1, 2, 6, 7},    // Orvex(n)
    {5, 4, 2, 7, 0, -1, -1},  // Tavi
}};
constexpr uint8_t kTaviTrimCodes[8] = {7, 6, 5, 4, 0, 10, 9, 8};
// Front-panel output source: value <-> code (the table is its own inverse).
constexpr uint8_t kFPOutCodes[4] = {2, 1, 0, 3};

// Firmware date words of Tavi firmware that predates the date registers.
constexpr uint16_t kEarlyDates[6] = {0xC101, 0xC201, 0xC20F, 0xC21B, 0xC403, 0xCB0E};
constexpr uint16_t kRevision6Dates[3] = {0xE31A, 0xE409, 0xEC09};

constexpr uint32_t kMixerInputs = 18;
constexpr uint32_t kMatrixSize = 32;
constexpr uint16_t kImageSize = 2048;

inline uint8_t WithBit(uint8_t byte, unsigned bit, bool on) {
    return on ? uint8_t(byte | (1u << bit)) : uint8_t(byte & ~(1u << bit));
}
inline uint8_t Bit(uint8_t byte, unsigned bit) { return (byte >> bit) & 1u; }

// Inputs 0 and 1 exist on every output; the extended inputs only on the first four.
bool MixerEntryValid(uint8_t input, uint8_t output) {
    if (input < 2) return output < 32;
    return input < kMixerInputs && output < 4;
}
uint16_t MixerVolumeRegister(uint8_t input, uint8_t output) {
    if (input < 2) return uint16_t(128 + 4 * output + 2 * input);
    return uint16_t(256 + 32 * output + 2 * (input - 2));
}

// Gains in tenths of a decibel <-> register byte: byte 0 is +12 dB, each step 0.5 dB less.
uint8_t GainToByte(int32_t gain, int32_t lowest, int32_t highest) {
    if (gain < lowest) gain = lowest;
    if (gain > highest) gain = highest;
    return uint8_t(24 - gain / 5);  // C++ division truncates toward zero
}
int16_t ByteToGain(uint8_t v) { return int16_t((24 - int32_t(v)) * 5); }

Family FamilyOf(uint8_t id) {
    if (id == kDeviceTavi) return kFamilyTavi;
    if (id == kDeviceOrvexN) return kFamilyOrvexN;
    return kFamilyPlain;
}

// Single-bit switches change the image bit, then send the register.
uint32_t SetBitAndSend(COrvexRemote& remote, uint8_t* image, uint16_t reg, unsigned bit, bool set) {
    image[reg] = WithBit(image[reg], bit, set);
    remote.WriteRegister(reg, image[reg]);
    return kStatusSuccess;
}
uint32_t ReportBit(const uint8_t* image, uint16_t reg, unsigned bit, uint8_t* out) {
    if (!out) return kStatusOutOfRange;
    *out = Bit(image[reg], bit);
    return kStatusSuccess;
}

}  // namespace

// ---- status ---------------------------------------------------------------

uint32_t COrvexRemote::GetStatusTriple(uint8_t* first, uint8_t* second, uint8_t* third) {
    if (!first || !second || !third) return kStatusOutOfRange;
    Poll();
    *first = m_Registers[56];
    *second = m_Registers[58];
    *third = m_Registers[57];
    return kStatusSuccess;
}

// ---- register 2: trims ----------------------------------------------------

uint32_t COrvexRemote::SetTrim(uint16_t trim, uint8_t value) {
    // Only the message changes; the unit's next report updates the image.
    uint8_t byte = m_Registers[2];
    if (!IsTavi()) {
        if (trim <= 7)
            byte = WithBit(byte, trim, value == 1);
        else
            byte = value == 1 ? 0xFF : 0x00;
    } else if (trim == 0) {
        uint8_t code = value <= 7 ? kTaviTrimCodes[value] : 0;
        byte = uint8_t((byte & 0xF0) | code);
    } else if (trim == 1) {
        uint8_t level = value <= 7 ? value : 0;
        byte = uint8_t((byte & 0x0F) | (level << 4));
    }
    WriteRegister(2, byte);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetTrim(uint16_t trim, uint8_t* value) {
    if (!value) return kStatusOutOfRange;
    if (m_bDisconnected) return kStatusFailure;
    const uint8_t byte = m_Registers[2];
    if (!IsTavi()) {
        if (trim > 7) return kStatusOutOfRange;
        *value = Bit(byte, trim);
        return kStatusSuccess;
    }
    if (trim == 0) {
        const uint8_t code = byte & 0x0F;
        *value = 2;  // what a code outside the table reads as
        for (uint8_t v = 0; v < 8; ++v)
            if (kTaviTrimCodes[v] == code) *value = v;
        return kStatusSuccess;
    }
    if (trim == 1) {
        *value = (byte & 0x80) ? 2 : uint8_t((byte >> 4) & 0x07);
        return kStatusSuccess;
    }
    return kStatusOutOfRange;
}

// ---- register 3: clock ----------------------------------------------------

uint32_t COrvexRemote::SetSyncSource(uint8_t code) {
    // A DO-ZAZ card or the unit itself (register 19 bit 0) owns the clock then.
    if (m_Registers[16] == kXSlotDoZaz || Bit(m_Registers[19], 0)) return kStatusFailure;
    const auto& column = kSyncCodes[FamilyOf(GetDeviceIDValue())];
    if (code >= column.size() || column[code] < 0) return kStatusOutOfRange;
    m_Registers[3] = uint8_t((m_Registers[3] & 0xF8) | column[code]);
    WriteRegister(3, m_Registers[3]);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetSyncSource(uint8_t* code) {
    if (!code) return kStatusOutOfRange;
    const auto& column = kSyncCodes[FamilyOf(GetDeviceIDValue())];
    const int8_t stored = int8_t(m_Registers[3] & 0x07);
    for (uint8_t v = 0; v < column.size(); ++v) {
        if (column[v] == stored) {
            *code = v;
            return kStatusSuccess;
        }
    }
    // The unit reports a source this family has no value for.
    return kStatusFailure;
}

uint32_t COrvexRemote::SetSLEnable(uint8_t on) {
    if (m_Registers[16] == kXSlotDoZaz || Bit(m_Registers[19], 0)) return kStatusFailure;
    m_Registers[3] = WithBit(m_Registers[3], 3, on != 0);
    WriteRegister(3, m_Registers[3]);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetSLEnable(uint8_t* on) { return ReportBit(m_Registers, 3, 3, on); }

uint32_t COrvexRemote::SetSampleRate(uint8_t code) {
    if (m_Registers[16] == kXSlotDoZaz) {
        // The DO-ZAZ card's USB driver sets the rate; the unit follows the card.
        if (!m_pXCUSB) return kStatusFailure;
        if (code > 5) return kStatusOutOfRange;
        const uint32_t result = m_pXCUSB->SetSampleRate(kSampleRates[code]);
        if (result != 0) {
            OrvexLog("COrvexRemote::SetSampleRate USB card refused %lu Hz: %08lx\n",
                     static_cast<unsigned long>(kSampleRates[code]), static_cast<unsigned long>(result));
            if (result == kUsbRateBusy)
                plat::MessageBox("Cannot change Sample Rate with Active Devices!", "DO-ZAZ",
                                 plat::mb::Ok | plat::mb::IconWarning);
            return kStatusFailure;
        }
        m_Registers[3] = uint8_t((m_Registers[3] & 0x8F) | (code << 4));
        // Give the card and the unit time to settle on the new clock; keep the window alive.
        const bool tavi = IsTavi();
        const uint32_t start = plat::GetTickCount();
        while (plat::GetTickCount() - start < 250) {
            plat::PumpOneMessage();
            if (!tavi) plat::Sleep(0);
        }
        return kStatusSuccess;
    }
    if (Bit(m_Registers[19], 0)) return kStatusFailure;
    if (code > 5) return kStatusOutOfRange;
    m_Registers[3] = uint8_t((m_Registers[3] & 0x8F) | (code << 4));
    WriteRegister(3, m_Registers[3]);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetSampleRate(uint8_t* code) {
    if (!code) return kStatusOutOfRange;
    if (m_Registers[16] == kXSlotDoZaz && m_pXCUSB) {
        // The driver's status is not looked at: a query that fails leaves 0,
        // which no code stands for, and so answers 2.
        uint32_t hertz = 0;
        m_pXCUSB->GetSampleRate(&hertz);
        for (uint8_t c = 0; c < 6; ++c) {
            if (kSampleRates[c] == hertz) {
                *code = c;
                return kStatusSuccess;
            }
        }
        return kStatusOutOfRange;
    }
    *code = (m_Registers[3] >> 4) & 0x07;
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetSLStatus(uint8_t* status) {
    if (!status) return kStatusOutOfRange;
    *status = (m_Registers[3] & 0x07) == 5 ? 0 : Bit(m_Registers[3], 7);
    return kStatusSuccess;
}

// ---- register 4: front-panel routing --------------------------------------

uint32_t COrvexRemote::SetFPAOutSource(uint8_t code) {
    if (code > 3) return kStatusOutOfRange;
    m_Registers[4] = uint8_t((m_Registers[4] & 0xFC) | kFPOutCodes[code]);
    WriteRegister(4, m_Registers[4]);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetFPAOutSource(uint8_t* code) {
    if (!code) return kStatusOutOfRange;
    *code = kFPOutCodes[m_Registers[4] & 0x03];
    return kStatusSuccess;
}

uint32_t COrvexRemote::SetFPDOutSource(uint8_t code) {
    if (code > 3) return kStatusOutOfRange;
    m_Registers[4] = uint8_t((m_Registers[4] & 0xF3) | (kFPOutCodes[code] << 2));
    WriteRegister(4, m_Registers[4]);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetFPDOutSource(uint8_t* code) {
    if (!code) return kStatusOutOfRange;
    *code = kFPOutCodes[(m_Registers[4] >> 2) & 0x03];
    return kStatusSuccess;
}

uint32_t COrvexRemote::SetWideWireIn(uint8_t on) { return SetBitAndSend(*this, m_Registers, 4, 4, on != 0); }
uint32_t COrvexRemote::GetWideWireIn(uint8_t* on) { return ReportBit(m_Registers, 4, 4, on); }
uint32_t COrvexRemote::SetWideWireOut(uint8_t on) { return SetBitAndSend(*this, m_Registers, 4, 5, on != 0); }
uint32_t COrvexRemote::GetWideWireOut(uint8_t* on) { return ReportBit(m_Registers, 4, 5, on); }
uint32_t COrvexRemote::SetFPMeterSource(uint8_t on) { return SetBitAndSend(*this, m_Registers, 4, 6, on != 0); }
uint32_t COrvexRemote::GetFPMeterSource(uint8_t* on) { return ReportBit(m_Registers, 4, 6, on); }
// The unit keeps this one inverted: a clear bit routes the XSlot to the outputs.
uint32_t COrvexRemote::SetXSlotOutSource(uint8_t on) { return SetBitAndSend(*this, m_Registers, 4, 7, on == 0); }
uint32_t COrvexRemote::GetXSlotOutSource(uint8_t* on) {
    if (!on) return kStatusOutOfRange;
    *on = Bit(m_Registers[4], 7) ^ 1u;
    return kStatusSuccess;
}

// ---- register 5 -----------------------------------------------------------

uint32_t COrvexRemote::GetRegister5Bit0(uint8_t* on) {
    if (!on) return kStatusOutOfRange;
    if (m_bDisconnected) return kStatusFailure;
    *on = Bit(m_Registers[5], 0);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetRegister5Bit1(uint8_t* on) {
    if (!on) return kStatusOutOfRange;
    if (m_bDisconnected) return kStatusFailure;
    *on = Bit(m_Registers[5], 1);
    return kStatusSuccess;
}

uint32_t COrvexRemote::SetRegister5Bit2(uint8_t on) { return SetBitAndSend(*this, m_Registers, 5, 2, on != 0); }

uint32_t COrvexRemote::GetRegister5Bit2(uint8_t* on) {
    if (!on) return kStatusOutOfRange;
    if (m_bDisconnected) return kStatusFailure;
    *on = Bit(m_Registers[5], 2);
    return kStatusSuccess;
}

uint32_t COrvexRemote::SetXSlotMode(uint8_t on) { return SetBitAndSend(*this, m_Registers, 5, 3, on != 0); }

uint32_t COrvexRemote::GetXSlotMode(uint8_t* mode) {
    if (!mode) return kStatusOutOfRange;
    uint8_t card = 0;
    GetXSlotDeviceID(&card);
    // A VA-VOVUZ card has no front-panel lockout to report.
    if (card == kXSlotVaVovuz) return kStatusFailure;
    *mode = Bit(m_Registers[5], 3);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetRegister5Bit5(uint8_t* on) { return ReportBit(m_Registers, 5, 5, on); }

// ---- registers 6 to 8 -----------------------------------------------------

uint32_t COrvexRemote::GetModelVariant(uint8_t* variant) {
    if (!variant) return kStatusOutOfRange;
    *variant = m_Registers[6];
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetRegister7Low(uint8_t* value) {
    if (!value) return kStatusOutOfRange;
    *value = m_Registers[7] & 0x3F;
    return kStatusSuccess;
}

// ---- register 19: expansion-card options ----------------------------------

uint32_t COrvexRemote::SetXSlotOptionA(uint8_t on) { return SetBitAndSend(*this, m_Registers, 19, 4, on != 0); }
uint32_t COrvexRemote::GetXSlotOptionA(uint8_t* on) { return ReportBit(m_Registers, 19, 4, on); }
uint32_t COrvexRemote::SetXSlotOptionB(uint8_t on) { return SetBitAndSend(*this, m_Registers, 19, 5, on != 0); }
uint32_t COrvexRemote::GetXSlotOptionB(uint8_t* on) { return ReportBit(m_Registers, 19, 5, on); }

// ---- meters ---------------------------------------------------------------

// Channel 8 is the first meter register (64); the mask keeps any channel inside the arrays.
uint32_t COrvexRemote::GetPeakMeter(uint32_t channel, uint8_t* level) {
    if (!level) return kStatusOutOfRange;
    *level = m_PeakMeters[(channel - 8) & 0x3F];
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetOverload(uint32_t channel, uint8_t* overload) {
    if (!overload) return kStatusOutOfRange;
    *overload = m_Overloads[(channel - 8) & 0x3F];
    return kStatusSuccess;
}

uint32_t COrvexRemote::NoOperation(uint32_t) { return kStatusSuccess; }

// ---- mixer ----------------------------------------------------------------

uint32_t COrvexRemote::SetMixerVolume(uint8_t input, uint8_t output, uint8_t level, uint32_t) {
    if (!MixerEntryValid(input, output)) return kStatusOutOfRange;
    if (level > 0xFE) level = 0xFE;  // FF in a volume register means muted
    const uint32_t entry = output * kMixerInputs + input;
    if (m_MixerVolumes[entry] == level) return kStatusSuccess;
    m_MixerVolumes[entry] = level;
    // A muted entry keeps FF on the unit; the new level goes out when it is unmuted.
    if (!m_MixerMutes[entry]) WriteRegister(MixerVolumeRegister(input, output), level);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetMixerVolume(uint8_t input, uint8_t output, uint8_t* level) {
    if (!level || !MixerEntryValid(input, output)) return kStatusOutOfRange;
    *level = m_MixerVolumes[output * kMixerInputs + input];
    return kStatusSuccess;
}

uint32_t COrvexRemote::SetMixerMute(uint8_t input, uint8_t output, uint8_t on) {
    if (!MixerEntryValid(input, output)) return kStatusOutOfRange;
    const uint8_t mute = on ? 1 : 0;
    const uint32_t entry = output * kMixerInputs + input;
    if (m_MixerMutes[entry] == mute) return kStatusSuccess;
    m_MixerMutes[entry] = mute;
    WriteRegister(MixerVolumeRegister(input, output), mute ? 0xFF : m_MixerVolumes[entry]);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetMixerMute(uint8_t input, uint8_t output, uint8_t* on) {
    if (!on || !MixerEntryValid(input, output)) return kStatusOutOfRange;
    *on = m_MixerMutes[output * kMixerInputs + input];
    return kStatusSuccess;
}

uint32_t COrvexRemote::SetMixerSource(uint8_t input, uint8_t output, uint8_t source) {
    if (!MixerEntryValid(input, output)) return kStatusOutOfRange;
    const uint32_t entry = output * kMixerInputs + input;
    if (m_MixerSources[entry] == source) return kStatusSuccess;
    m_MixerSources[entry] = source;
    WriteRegister(uint16_t(MixerVolumeRegister(input, output) + 1), source);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetMixerSource(uint8_t input, uint8_t output, uint8_t* source) {
    if (!source || !MixerEntryValid(input, output)) return kStatusOutOfRange;
    *source = m_MixerSources[output * kMixerInputs + input];
    return kStatusSuccess;
}

// ---- identity-block values ------------------------------------------------

uint32_t COrvexRemote::GetRegister24(uint8_t* value) {
    if (!value) return kStatusOutOfRange;
    *value = m_Registers[24] <= 150 ? m_Registers[24] : 0;
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetRegister20PlusOne(uint8_t* value) {
    if (!value) return kStatusOutOfRange;
    *value = m_Registers[20] == 0xFF ? 0 : uint8_t(m_Registers[20] + 1);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetRegister21PlusOne(uint8_t* value) {
    if (!value) return kStatusOutOfRange;
    *value = m_Registers[21] == 0xFF ? 0 : uint8_t(m_Registers[21] + 1);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetWord22PlusOne(uint16_t* value) {
    if (!value) return kStatusOutOfRange;
    const uint16_t w = uint16_t(m_Registers[22] | (m_Registers[23] << 8));
    *value = w == 0xFFFF ? 0 : uint16_t(w + 1);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetWord7(uint16_t* value) {
    if (!value) return kStatusOutOfRange;
    *value = uint16_t(m_Registers[7] | (m_Registers[8] << 8));
    return kStatusSuccess;
}

// ---- whole image ----------------------------------------------------------

uint32_t COrvexRemote::RefreshAllRegisters() {
    // A refresh is as good as the link allows: every block is asked for and the
    // answer is success whatever arrived. Callers cannot do better with a
    // failure, and a unit without the extended map answers the short-form
    // request for 1024-2047 from register 256, so that block never matches.
    SendCommand(kCmdRefreshAll);
    RequestRegisterStatusVerified(0, 127);
    RequestRegisterStatusVerified(256, 547);
    RequestRegisterStatusVerified(1024, 2047);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetFirmwareDate(uint16_t* date) {
    if (!date) return kStatusOutOfRange;
    uint8_t revision = 0;
    GetFirmwareRevision(&revision);
    if (revision >= 7) {
        *date = uint16_t(m_Registers[7] | (m_Registers[8] << 8));
        return kStatusSuccess;
    }
    if (revision < 6) {
        *date = kEarlyDates[revision];
        return kStatusSuccess;
    }
    // Revision 6 shipped in three builds told apart by the other bank's revision.
    uint8_t alternate = 0;
    GetAlternateFirmwareRevision(&alternate);
    if (alternate >= 3) return kStatusFailure;
    *date = kRevision6Dates[alternate];
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetRegister125Bit7(uint8_t* on) {
    if (!on) return kStatusOutOfRange;
    if (!m_bExtendedMap) return kStatusFailure;
    *on = Bit(m_Registers[125], 7);
    return kStatusSuccess;
}

bool COrvexRemote::GetRegister125Bit2() { return Bit(m_Registers[125], 2) != 0; }
bool COrvexRemote::GetRegister124Bit7() { return Bit(m_Registers[124], 7) != 0; }
bool COrvexRemote::GetRegister42Bit3() { return Bit(m_Registers[42], 3) != 0; }

uint32_t COrvexRemote::GetPortSampleRate(uint8_t port, uint32_t* hertz) {
    if (!hertz) return kStatusOutOfRange;
    if (!m_bExtendedMap) return kStatusFailure;
    // Only five ports have a code; any other would read as 44100 Hz.
    if (port > 4) return kStatusOutOfRange;
    const uint16_t w = uint16_t(m_Registers[126] | (m_Registers[127] << 8));
    const uint8_t code = (w >> (3 * port)) & 0x07;
    *hertz = code < 6 ? kSampleRates[code] : 0;
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetLevelMeter(uint8_t bank, uint16_t index, uint32_t* level, uint8_t* overload) {
    if (!level || !overload) return kStatusOutOfRange;
    if (index >= 32) return kStatusOutOfRange;
    const uint16_t low = uint16_t((bank ? 128 : 192) + 2 * index);
    const uint16_t w = uint16_t(m_Registers[low] | (m_Registers[low + 1] << 8));
    *overload = uint8_t(w >> 15);
    *level = (w & 0x7FFF) == 0x4000 ? 0x7FFFF : uint32_t(w & 0x3FFF) * 32;
    return kStatusSuccess;
}

// ---- extended-map matrices ------------------------------------------------

uint32_t COrvexRemote::SetMatrixGain(uint8_t row, uint8_t column, int16_t gain) {
    if (!m_bExtendedMap || row >= kMatrixSize || column >= kMatrixSize) return kStatusFailure;
    const uint16_t reg = uint16_t(1024 + kMatrixSize * row + column);
    m_Registers[reg] = GainToByte(gain, -960, 120);
    WriteRegister(reg, m_Registers[reg]);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetMatrixGain(uint8_t row, uint8_t column, int16_t* gain) {
    if (!gain) return kStatusOutOfRange;
    if (!m_bExtendedMap || row >= kMatrixSize || column >= kMatrixSize) return kStatusFailure;
    *gain = ByteToGain(m_Registers[1024 + kMatrixSize * row + column]);
    return kStatusSuccess;
}

uint32_t COrvexRemote::SetOutputGain(uint8_t output, int16_t gain) {
    if (!m_bExtendedMap || output >= kMatrixSize) return kStatusFailure;
    const uint16_t reg = uint16_t(512 + output);
    m_Registers[reg] = GainToByte(gain, -960, 0);
    WriteRegister(reg, m_Registers[reg]);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetOutputGain(uint8_t output, int16_t* gain) {
    if (!gain) return kStatusOutOfRange;
    if (!m_bExtendedMap || output >= kMatrixSize) return kStatusFailure;
    const uint8_t v = m_Registers[512 + output];
    *gain = v < 24 ? 0 : ByteToGain(v);
    return kStatusSuccess;
}

// Switch matrices: one bit per crosspoint, eight columns per register.
namespace {
constexpr uint16_t kSwitchA = 256, kSwitchB = 384, kSwitchFlags = 544;
}

uint32_t COrvexRemote::SetMatrixSwitchA(uint8_t row, uint8_t column, uint8_t on) {
    if (!m_bExtendedMap || row >= kMatrixSize || column >= kMatrixSize) return kStatusFailure;
    const uint16_t reg = uint16_t(kSwitchA + 4 * row + column / 8);
    m_Registers[reg] = WithBit(m_Registers[reg], column & 7, on != 0);
    WriteRegister(reg, m_Registers[reg]);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetMatrixSwitchA(uint8_t row, uint8_t column, uint8_t* on) {
    if (!on) return kStatusOutOfRange;
    if (!m_bExtendedMap || row >= kMatrixSize || column >= kMatrixSize) return kStatusFailure;
    *on = Bit(m_Registers[kSwitchA + 4 * row + column / 8], column & 7);
    return kStatusSuccess;
}

uint32_t COrvexRemote::SetSwitchFlag(uint8_t flag, uint8_t on) {
    if (!m_bExtendedMap || flag >= kMatrixSize) return kStatusFailure;
    const uint16_t reg = uint16_t(kSwitchFlags + flag / 8);
    m_Registers[reg] = WithBit(m_Registers[reg], flag & 7, on != 0);
    WriteRegister(reg, m_Registers[reg]);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetSwitchFlag(uint8_t flag, uint8_t* on) {
    if (!on) return kStatusOutOfRange;
    if (!m_bExtendedMap || flag >= kMatrixSize) return kStatusFailure;
    *on = Bit(m_Registers[kSwitchFlags + flag / 8], flag & 7);
    return kStatusSuccess;
}

uint32_t COrvexRemote::SetMatrixSwitchB(uint8_t row, uint8_t column, uint8_t on) {
    if (!m_bExtendedMap || row >= kMatrixSize || column >= kMatrixSize) return kStatusFailure;
    const uint16_t reg = uint16_t(kSwitchB + 4 * row + column / 8);
    m_Registers[reg] = WithBit(m_Registers[reg], column & 7, on != 0);
    WriteRegister(reg, m_Registers[reg]);
    return kStatusSuccess;
}

uint32_t COrvexRemote::GetMatrixSwitchB(uint8_t row, uint8_t column, uint8_t* on) {
    if (!on) return kStatusOutOfRange;
    if (!m_bExtendedMap || row >= kMatrixSize || column >= kMatrixSize) return kStatusFailure;
    *on = Bit(m_Registers[kSwitchB + 4 * row + column / 8], column & 7);
    return kStatusSuccess;
}

// ---- raw registers --------------------------------------------------------

uint32_t COrvexRemote::GetRegister(uint16_t reg, uint8_t* value) {
    if (!value || reg >= kImageSize) return kStatusOutOfRange;
    *value = m_Registers[reg];
    return kStatusSuccess;
}

uint32_t COrvexRemote::SetRegister(uint16_t reg, uint8_t value) {
    if (reg >= kImageSize) return kStatusOutOfRange;
    // A register the unit's message form cannot address is refused, not kept only here.
    if (WriteRegister(reg, value) == kStatusOutOfRange) return kStatusOutOfRange;
    m_Registers[reg] = value;
    return kStatusSuccess;
}

}  // namespace orvex

#include "protocol/RemoteMessages.h"

#include <array>

namespace orvex {

namespace {

constexpr uint8_t kLongFormBits = 0x07;
constexpr uint32_t kShortHeaderLength = 7;  // F0, ID, bytes 4-6
constexpr uint32_t kLongHeaderLength = 10;  // F0, ID, bytes 4-9

// Packs a bit stream, most significant bit first, into bytes of seven bits.
class SevenBitWriter {
public:
    explicit SevenBitWriter(std::vector<uint8_t>& out) : m_out(out) {}

    void PutBits(uint32_t value, int bitCount) {
        for (int bit = bitCount - 1; bit >= 0; --bit) {
            m_acc = static_cast<uint8_t>((m_acc << 1) | ((value >> bit) & 1u));
            if (++m_used == 7) {
                m_out.push_back(m_acc);
                m_acc = 0;
                m_used = 0;
            }
        }
    }

    bool AtByteBoundary() const { return m_used == 0; }

    // Pads the last partial byte with zero bits.
    void Flush() {
        if (m_used != 0) {
            m_out.push_back(static_cast<uint8_t>(m_acc << (7 - m_used)));
            m_acc = 0;
            m_used = 0;
        }
    }

private:
    std::vector<uint8_t>& m_out;
    uint8_t m_acc = 0;
    int m_used = 0;
};

// Reads count bytes out of a seven-bit stream that starts skipBits into bytes[0].
// The caller has checked that the stream holds skipBits + 8 * count bits.
void UnpackSevenBit(const uint8_t* bytes, uint32_t skipBits, uint8_t* out, uint32_t count) {
    uint32_t bitPos = skipBits;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t value = 0;
        for (int b = 0; b < 8; ++b, ++bitPos) {
            const uint8_t byte = bytes[bitPos / 7] & 0x7F;
            const uint32_t bit = (byte >> (6 - bitPos % 7)) & 1u;
            value = static_cast<uint8_t>((value << 1) | bit);
        }
        out[i] = value;
    }
}

std::vector<uint8_t> FrameStart() {
    return {kSysexStart, kManufacturerId[0], kManufacturerId[1], kManufacturerId[2]};
}

// Bytes 4-6 of the short layout: type, 9-bit register, 8-bit value.
void AppendShortHeader(std::vector<uint8_t>& out, uint8_t type, uint16_t reg, uint8_t value) {
    out.push_back(static_cast<uint8_t>((type << 3) | ((reg >> 5) & 0x07)));
    out.push_back(static_cast<uint8_t>(((reg & 0x1F) << 2) | (value >> 6)));
    out.push_back(static_cast<uint8_t>(((value & 0x3F) << 1) | ((reg >> 8) & 0x01)));
}

// Bytes 4-9 of a long request or response header.
void AppendLongRangeHeader(std::vector<uint8_t>& out, uint8_t type, uint16_t reg, uint16_t count) {
    out.push_back(static_cast<uint8_t>((type << 3) | kLongFormBits));
    out.push_back(static_cast<uint8_t>((reg >> 9) & 0x7F));
    out.push_back(static_cast<uint8_t>((reg >> 2) & 0x7F));
    out.push_back(static_cast<uint8_t>(((reg & 0x03) << 5) | ((count >> 11) & 0x1F)));
    out.push_back(static_cast<uint8_t>((count >> 4) & 0x7F));
    out.push_back(static_cast<uint8_t>((count & 0x0F) << 3));
}

uint8_t CommandComplement(uint8_t command) {
    return static_cast<uint8_t>(0xFF ^ (command * 0x11));
}

bool SameBytes(const std::vector<uint8_t>& encoded, const uint8_t* bytes, uint32_t length) {
    if (encoded.size() != length) return false;
    for (uint32_t i = 0; i < length; ++i) {
        if (encoded[i] != bytes[i]) return false;
    }
    return true;
}

}  // namespace

std::vector<uint8_t> EncodeRegisterWrite(uint16_t reg, uint8_t value, bool longForm) {
    std::vector<uint8_t> out = FrameStart();
    if (!longForm) {
        AppendShortHeader(out, kTypeRegisterWrite, reg, value);
    } else {
        out.push_back(static_cast<uint8_t>((kTypeRegisterWrite << 3) | kLongFormBits));
        out.push_back(static_cast<uint8_t>((reg >> 9) & 0x7F));
        out.push_back(static_cast<uint8_t>((reg >> 2) & 0x7F));
        out.push_back(static_cast<uint8_t>(((reg & 0x03) << 5) | (value >> 3)));
        out.push_back(static_cast<uint8_t>((value & 0x07) << 4));
    }
    out.push_back(kSysexEnd);
    return out;
}

std::vector<uint8_t> EncodeStatusRequest(uint16_t firstReg, uint16_t count, bool longForm) {
    std::vector<uint8_t> out = FrameStart();
    if (!longForm) {
        AppendShortHeader(out, kTypeStatusRequest, firstReg, static_cast<uint8_t>(count & 0xFF));
    } else {
        AppendLongRangeHeader(out, kTypeStatusRequest, firstReg, count);
    }
    out.push_back(kSysexEnd);
    return out;
}

uint8_t CommandCheckByte(uint8_t command) {
    // A shift register without feedback: the bit leaving the top is dropped.
    const uint8_t fed[2] = {command, CommandComplement(command)};
    uint8_t k = 0xFF;
    for (uint8_t byte : fed) {
        for (int bit = 0; bit < 8; ++bit) {
            k = static_cast<uint8_t>((k << 1) ^ (((byte >> bit) & 1u) ? 0x1D : 0x00));
        }
    }
    return k;
}

std::vector<uint8_t> EncodeCommand(uint8_t command) {
    if (command < 1 || command > 12) return {};
    const uint8_t d = CommandComplement(command);
    const uint8_t k = CommandCheckByte(command);
    std::vector<uint8_t> out = FrameStart();
    out.push_back(static_cast<uint8_t>(command * 8 + (d >> 5)));
    out.push_back(static_cast<uint8_t>((d & 0x1F) * 4 + (k >> 6)));
    out.push_back(static_cast<uint8_t>((k & 0x3F) * 2));
    out.push_back(kSysexEnd);
    return out;
}

std::vector<uint8_t> EncodeFirmwarePacket(const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0 || length > kMaxPacketData) return {};
    std::vector<uint8_t> out = FrameStart();
    out.reserve(FirmwarePacketLength(length));
    SevenBitWriter writer(out);
    writer.PutBits(kTypeFirmwarePacket, 4);
    for (uint32_t i = 0; i < length; ++i) writer.PutBits(data[i], 8);
    // A stream that ends on a byte boundary still gets a closing 00 byte.
    if (writer.AtByteBoundary()) out.push_back(0x00);
    writer.Flush();
    out.push_back(kSysexEnd);
    return out;
}

uint8_t PacketCrc8(const uint8_t* data, uint32_t length) {
    uint8_t k = 0xFF;
    if (data == nullptr) return k;
    for (uint32_t i = 0; i < length; ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            const uint8_t feedback = static_cast<uint8_t>((k >> 7) ^ ((data[i] >> bit) & 1u));
            k = static_cast<uint8_t>(k << 1);
            if (feedback) k ^= 0x1D;
        }
    }
    return k;
}

int DecodeMessage(const uint8_t* bytes, uint32_t length, IResponseSink* sink, const uint8_t* id) {
    // 1. Length.
    if (bytes == nullptr || id == nullptr || length == 0 || length >= kMaxDecodeLength) return 1;

    // 2. Find F0; a 00 ahead of it means this is no message of ours.
    uint32_t start = 0;
    while (start < length && bytes[start] != kSysexStart) {
        if (bytes[start] == 0x00) return 1;
        ++start;
    }
    if (start == length) return 1;
    const uint8_t* msg = bytes + start;
    const uint32_t msgLength = length - start;

    // 3. Final F7.
    if (bytes[length - 1] != kSysexEnd) return 1;

    // 4. Manufacturer ID; the type byte must come before the final F7.
    if (msgLength < 6) return 1;
    if (msg[1] != id[0] || msg[2] != id[1] || msg[3] != id[2]) return 1;

    // 5. Type and form.
    const uint8_t typeByte = msg[4];
    const uint8_t type = (typeByte >> 3) & 0x0F;
    const bool longForm = (typeByte & kLongFormBits) == kLongFormBits;
    const uint32_t dataStart = longForm ? kLongHeaderLength : kShortHeaderLength;

    // 6. Only status responses matter to the host.
    if (type != kTypeStatusResponse) return 0;

    // 7. Counts as an answer from here on, accepted or not.
    if (sink != nullptr) sink->CountResponse();

    // The header must lie ahead of the final F7 before its fields can be read.
    if (msgLength < dataStart + 1) return 1;
    uint32_t firstReg;
    uint32_t count;
    if (longForm) {
        firstReg = (uint32_t(msg[5] & 0x7F) << 9) | (uint32_t(msg[6] & 0x7F) << 2) | ((msg[7] >> 5) & 0x03);
        count = (uint32_t(msg[7] & 0x1F) << 11) | (uint32_t(msg[8] & 0x7F) << 4) | ((msg[9] >> 3) & 0x0F);
    } else {
        firstReg = (uint32_t(msg[4] & 0x07) << 5) | ((msg[5] >> 2) & 0x1F) | (uint32_t(msg[6] & 0x01) << 8);
        count = (uint32_t(msg[5] & 0x03) << 6) | ((msg[6] >> 1) & 0x3F);
    }

    // 8. Register count.
    const uint32_t n = count + 1;
    if (n >= kMaxDecodeLength) return 1;

    // 9. Exact length, measured from the F0 found.
    if (msgLength != dataStart + PackedByteCount(n) + 1) return 1;

    // 10. Unpack and store.
    std::array<uint8_t, kMaxResponseRegisters> values{};
    UnpackSevenBit(msg + dataStart, 0, values.data(), n);
    if (sink != nullptr) sink->StoreRegisters(static_cast<uint16_t>(firstReg), n, values.data());
    return 0;
}

std::vector<uint8_t> EncodeStatusResponse(uint16_t firstReg, const uint8_t* values, uint32_t count,
                                          bool longForm) {
    if (values == nullptr || count == 0 || count > kMaxResponseRegisters) return {};
    // In 224-255 and 480-511 the short type byte ends in 111 and would be read as
    // the long form, so those ranges always go long.
    const bool shortTypeLooksLong = ((firstReg >> 5) & 0x07) == 0x07;
    const bool useShort = !longForm && firstReg <= 511 && count <= 256 && !shortTypeLooksLong;

    std::vector<uint8_t> out = FrameStart();
    out.reserve((useShort ? kShortHeaderLength : kLongHeaderLength) + PackedByteCount(count) + 1);
    if (useShort) {
        AppendShortHeader(out, kTypeStatusResponse, firstReg, static_cast<uint8_t>(count - 1));
    } else {
        AppendLongRangeHeader(out, kTypeStatusResponse, firstReg, static_cast<uint16_t>(count - 1));
    }
    SevenBitWriter writer(out);
    for (uint32_t i = 0; i < count; ++i) writer.PutBits(values[i], 8);
    writer.Flush();
    out.push_back(kSysexEnd);
    return out;
}

HostMessage ParseHostMessage(const uint8_t* bytes, uint32_t length) {
    HostMessage result;
    if (bytes == nullptr || length < 7) return result;
    if (bytes[0] != kSysexStart || bytes[length - 1] != kSysexEnd) return result;
    if (bytes[1] != kManufacturerId[0] || bytes[2] != kManufacturerId[1] || bytes[3] != kManufacturerId[2]) {
        return result;
    }
    for (uint32_t i = 1; i + 1 < length; ++i) {
        if (bytes[i] & 0x80) return result;
    }

    const uint8_t type = (bytes[4] >> 3) & 0x0F;
    HostMessage parsed;

    if (type == kTypeFirmwarePacket) {
        // The stream length grows by at least one byte per data byte, so it names n.
        const uint32_t streamLength = length - 5;
        uint32_t n = 0;
        for (uint32_t candidate = 1; candidate <= kMaxPacketData; ++candidate) {
            if (FirmwarePacketLength(candidate) == length) {
                n = candidate;
                break;
            }
        }
        if (n == 0 || streamLength * 7 < 4 + 8 * n) return result;
        std::array<uint8_t, kMaxPacketData> data{};
        UnpackSevenBit(bytes + 4, 4, data.data(), n);
        // Padding and the closing 00 must be what the encoder writes.
        if (!SameBytes(EncodeFirmwarePacket(data.data(), n), bytes, length)) return result;
        parsed.kind = HostMessage::kPacket;
        parsed.data.assign(data.begin(), data.begin() + n);
        return parsed;
    }

    if (type == kTypeRegisterWrite || type == kTypeStatusRequest) {
        const bool isWrite = type == kTypeRegisterWrite;
        const uint32_t longLength = isWrite ? 10 : 11;
        if (length == 8) {
            // Short form, whatever the low bits of byte 4 say (registers 224-255).
            parsed.reg = static_cast<uint16_t>(((bytes[4] & 0x07) << 5) | ((bytes[5] >> 2) & 0x1F) |
                                               ((bytes[6] & 0x01) << 8));
            const uint8_t field = static_cast<uint8_t>(((bytes[5] & 0x03) << 6) | ((bytes[6] >> 1) & 0x3F));
            parsed.longForm = false;
            if (isWrite) {
                parsed.value = field;
            } else {
                parsed.count = field;
            }
        } else if (length == longLength) {
            if ((bytes[4] & kLongFormBits) != kLongFormBits) return result;
            parsed.reg = static_cast<uint16_t>((bytes[5] << 9) | (bytes[6] << 2) | ((bytes[7] >> 5) & 0x03));
            parsed.longForm = true;
            if (isWrite) {
                parsed.value = static_cast<uint8_t>(((bytes[7] & 0x1F) << 3) | ((bytes[8] >> 4) & 0x07));
            } else {
                parsed.count = static_cast<uint16_t>(((bytes[7] & 0x1F) << 11) | (bytes[8] << 4) |
                                                     ((bytes[9] >> 3) & 0x0F));
            }
        } else {
            return result;
        }
        // Reject stray bits in the unused low bits of the long forms.
        const std::vector<uint8_t> canonical = isWrite
                                                   ? EncodeRegisterWrite(parsed.reg, parsed.value, parsed.longForm)
                                                   : EncodeStatusRequest(parsed.reg, parsed.count, parsed.longForm);
        if (!SameBytes(canonical, bytes, length)) return result;
        parsed.kind = isWrite ? HostMessage::kWrite : HostMessage::kStatusRequest;
        return parsed;
    }

    if (type >= 1 && type <= 12) {
        if (length != 8) return result;
        const uint8_t d = static_cast<uint8_t>(((bytes[4] & 0x07) << 5) | ((bytes[5] >> 2) & 0x1F));
        const uint8_t k = static_cast<uint8_t>(((bytes[5] & 0x03) << 6) | ((bytes[6] >> 1) & 0x3F));
        parsed.kind = HostMessage::kCommand;
        parsed.command = type;
        parsed.checkOk = d == CommandComplement(type) && k == CommandCheckByte(type) && (bytes[6] & 0x01) == 0;
        return parsed;
    }

    // Type 14 is the unit's own answer; the host never sends it.
    return result;
}

}  // namespace orvex

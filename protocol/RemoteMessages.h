#pragma once
// Remote-control system-exclusive messages: encoders for what the host sends,
// the decoder for what the unit answers, and the unit-side counterparts that
// the emulated converter and independent traffic checks use.
#include <cstdint>
#include <vector>

namespace orvex {

inline constexpr uint8_t kSysexStart = 0xF0;
inline constexpr uint8_t kSysexEnd = 0xF7;
inline constexpr uint8_t kManufacturerId[3] = {0x00, 0x01, 0x6B};

// Message types (bits 6-3 of byte 4).
enum MessageType : uint8_t {
    kTypeRegisterWrite = 0,
    kTypeStatusRequest = 13,
    kTypeStatusResponse = 14,
    kTypeFirmwarePacket = 15,
};

// Command numbers the host sends (type field of a command message).
enum Command : uint8_t {
    kCmdRefreshAll = 1,
    kCmdErase = 3,
    kCmdPacketFollows = 4,
    kCmdVerifyPacket = 5,
    kCmdSelectBank1 = 6,
    kCmdSelectBank2 = 7,
    kCmdCompleteBank2Active = 8,   // sent when register 9 bit 7 is set
    kCmdCompleteBank1Active = 9,   // sent when register 9 bit 7 is clear
    kCmdStoreSerial = 10,
    kCmdCancel = 11,
    kCmdPrefix = 12,               // precedes commands 3, 4 and 10
};

inline constexpr uint32_t kMaxPacketData = 128;
inline constexpr uint32_t kMaxDecodeLength = 4096;  // blocks this long or longer are rejected
inline constexpr uint32_t kMaxResponseRegisters = 4095;

// Bytes that n values take when packed seven bits per byte: ceil(8n / 7).
constexpr uint32_t PackedByteCount(uint32_t valueCount) { return (valueCount * 8 + 6) / 7; }
// Whole length of a firmware packet message for n data bytes (F0, ID, stream, F7);
// 0 when n is outside 1..128.
constexpr uint32_t FirmwarePacketLength(uint32_t dataLength) {
    return (dataLength == 0 || dataLength > kMaxPacketData) ? 0 : (8 * dataLength + 4) / 7 + 1 + 5;
}

// The short form carries register bits 8-0 only; the link picks the form.
std::vector<uint8_t> EncodeRegisterWrite(uint16_t reg, uint8_t value, bool longForm);
// count = last register - first register; the short form carries register bits 8-0
// and count bits 7-0 only.
std::vector<uint8_t> EncodeStatusRequest(uint16_t firstReg, uint16_t count, bool longForm);
// command 1..12; any other number gives an empty vector
std::vector<uint8_t> EncodeCommand(uint8_t command);
// 1..128 data bytes; 0 or more than 128 gives an empty vector (firmware is never truncated)
std::vector<uint8_t> EncodeFirmwarePacket(const uint8_t* data, uint32_t length);
uint8_t PacketCrc8(const uint8_t* data, uint32_t length);
// The check byte k of a command message.
uint8_t CommandCheckByte(uint8_t command);

// What the decoder hands to the link.
class IResponseSink {
public:
    virtual ~IResponseSink() = default;
    // A type-14 message was seen (counted whether or not it is accepted).
    virtual void CountResponse() = 0;
    // An accepted status response: count values for registers first..first+count-1.
    virtual void StoreRegisters(uint16_t firstReg, uint32_t count, const uint8_t* values) = 0;
};

// 0 accepted (or a well-framed message of another type), 1 rejected.
// id: the three manufacturer ID bytes to compare against (null rejects).
// Bytes other than 00 ahead of the F0 are skipped; the expected length of a status
// response is then measured from that F0, so the values are never read past the
// block. A type byte that is itself the final F7 rejects the block uncounted.
// sink may be null (validity check only).
int DecodeMessage(const uint8_t* bytes, uint32_t length, IResponseSink* sink,
                  const uint8_t* id = kManufacturerId);

// ---- unit side (emulated converter, traffic checks) ----

// A status response for count values (1..4095) starting at firstReg; empty for any
// other count. The short form is used only when it can be read back as such:
// first register <= 511, count <= 256, and first register not in 224-255 or 480-511
// (there the type byte would end in 111, which every receiver takes for the long form).
// More than 3573 values make a block of 4096 bytes or more, which DecodeMessage refuses.
std::vector<uint8_t> EncodeStatusResponse(uint16_t firstReg, const uint8_t* values, uint32_t count,
                                          bool longForm);

struct HostMessage {
    enum Kind { kInvalid, kWrite, kStatusRequest, kCommand, kPacket } kind = kInvalid;
    bool longForm = false;
    uint16_t reg = 0;        // write: register; request: first register
    uint8_t value = 0;       // write: value
    uint16_t count = 0;      // request: last - first
    uint8_t command = 0;     // command number
    bool checkOk = false;    // command: complement and check byte match
    std::vector<uint8_t> data;  // packet: data bytes
};

// Parses one complete host message (F0 ... F7). kind == kInvalid when malformed.
// Writes and requests are told apart from their long forms by length (8 bytes short,
// 10/11 long), since a short write or request for registers 224-255 also has a type
// byte ending in 111. Anything the host encoders would not produce bit for bit
// (stray padding bits, bit 7 set inside the frame) is kInvalid, except a command
// whose complement or check byte is wrong: that is kCommand with checkOk false.
// A packet's data length is recovered from its stream length (stream bytes = floor((8n+4)/7)+1).
HostMessage ParseHostMessage(const uint8_t* bytes, uint32_t length);

}  // namespace orvex

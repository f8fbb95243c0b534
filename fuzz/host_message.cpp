// ParseHostMessage, the emulated converter's reading of what the host sends.
//
// First input byte even: the rest is one message from F0 to F7. Whatever is
// accepted must be what the host's encoders make, bit for bit (a command with
// a wrong check byte is reported as such, and differs from the good one).
// First input byte odd: a write, request, command or packet is made with the
// host's encoders from the input and must parse back to the same fields.
#include "fuzz/support/Fuzz.h"
#include "protocol/RemoteMessages.h"

namespace {

using Bytes = std::vector<uint8_t>;
using orvex::HostMessage;

Bytes Reencode(const HostMessage& m) {
    switch (m.kind) {
    case HostMessage::kWrite: return orvex::EncodeRegisterWrite(m.reg, m.value, m.longForm);
    case HostMessage::kStatusRequest: return orvex::EncodeStatusRequest(m.reg, m.count, m.longForm);
    case HostMessage::kCommand: return orvex::EncodeCommand(m.command);
    case HostMessage::kPacket: return orvex::EncodeFirmwarePacket(m.data.data(), uint32_t(m.data.size()));
    default: return {};
    }
}

void CheckBlock(const Bytes& block) {
    const HostMessage m = orvex::ParseHostMessage(block.data(), uint32_t(block.size()));
    if (m.kind == HostMessage::kInvalid) return;
    if (m.kind == HostMessage::kPacket)
        ORVEX_FUZZ_CHECK(!m.data.empty() && m.data.size() <= orvex::kMaxPacketData, fuzz::Hex(block));
    if (m.kind == HostMessage::kCommand)
        ORVEX_FUZZ_CHECK(m.command >= 1 && m.command <= 12 && block.size() == 8, fuzz::Hex(block));
    const Bytes again = Reencode(m);
    if (m.kind == HostMessage::kCommand && !m.checkOk) {
        ORVEX_FUZZ_CHECK(again != block, "a command with a bad check byte equals the good one: " + fuzz::Hex(block));
        return;
    }
    ORVEX_FUZZ_CHECK(again == block, "accepted " + fuzz::Hex(block) + ", the encoder makes " + fuzz::Hex(again));
}

void CheckRoundTrip(fuzz::Input& in) {
    const uint8_t kind = in.Byte() % 4;
    const bool longForm = in.Bool();
    const uint16_t reg = in.U16();
    const uint8_t value = in.Byte();
    const uint16_t count = in.U16();
    Bytes encoded;
    HostMessage m;
    switch (kind) {
    case 0:
        encoded = orvex::EncodeRegisterWrite(reg, value, longForm);
        m = orvex::ParseHostMessage(encoded.data(), uint32_t(encoded.size()));
        ORVEX_FUZZ_CHECK(m.kind == HostMessage::kWrite && m.longForm == longForm && m.value == value &&
                             m.reg == (longForm ? reg : reg & 0x1FF),
                         fuzz::Hex(encoded));
        break;
    case 1:
        encoded = orvex::EncodeStatusRequest(reg, count, longForm);
        m = orvex::ParseHostMessage(encoded.data(), uint32_t(encoded.size()));
        ORVEX_FUZZ_CHECK(m.kind == HostMessage::kStatusRequest && m.longForm == longForm &&
                             m.reg == (longForm ? reg : reg & 0x1FF) && m.count == (longForm ? count : count & 0xFF),
                         fuzz::Hex(encoded));
        break;
    case 2: {
        const uint8_t command = uint8_t(1 + value % 12);
        encoded = orvex::EncodeCommand(command);
        m = orvex::ParseHostMessage(encoded.data(), uint32_t(encoded.size()));
        ORVEX_FUZZ_CHECK(m.kind == HostMessage::kCommand && m.command == command && m.checkOk, fuzz::Hex(encoded));
        break;
    }
    default: {
        const uint32_t n = 1 + count % orvex::kMaxPacketData;
        Bytes data = in.Bytes(n);
        for (uint32_t i = uint32_t(data.size()); i < n; ++i) data.push_back(uint8_t(i * 31 + value));
        encoded = orvex::EncodeFirmwarePacket(data.data(), n);
        ORVEX_FUZZ_CHECK(encoded.size() == orvex::FirmwarePacketLength(n), fuzz::Hex(encoded));
        m = orvex::ParseHostMessage(encoded.data(), uint32_t(encoded.size()));
        ORVEX_FUZZ_CHECK(m.kind == HostMessage::kPacket && m.data == data, fuzz::Hex(encoded));
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    if (in.Byte() % 2 == 0) {
        CheckBlock(in.Rest());
    } else {
        CheckRoundTrip(in);
    }
    return 0;
}

void OrvexFuzzSeeds(fuzz::Seeds& seeds) {
    Bytes packet(128);
    for (size_t i = 0; i < packet.size(); ++i) packet[i] = uint8_t(i * 5 + 1);
    auto block = [&](const Bytes& b) {
        Bytes s = {0};
        s.insert(s.end(), b.begin(), b.end());
        seeds.push_back(s);
    };
    // The host's own traffic during an update.
    block(orvex::EncodeStatusRequest(1, 23, false));
    block(orvex::EncodeStatusRequest(256, 291, true));
    block(orvex::EncodeRegisterWrite(3, 0x25, false));
    block(orvex::EncodeRegisterWrite(240, 0x7E, false));  // short form whose type byte ends in 111
    block(orvex::EncodeRegisterWrite(1024, 0x18, true));
    block(orvex::EncodeRegisterWrite(52, orvex::PacketCrc8(packet.data(), 128), false));
    for (uint8_t c = 1; c <= 12; ++c) block(orvex::EncodeCommand(c));
    for (uint32_t n : {1u, 3u, 7u, 128u}) block(orvex::EncodeFirmwarePacket(packet.data(), n));
    for (uint8_t kind = 0; kind < 4; ++kind)
        seeds.push_back(fuzz::InputWriter().Byte(1).Byte(kind).Bool(kind == 1).U16(1024).Byte(0x18).U16(127)
                            .Bytes(packet).Data());
}

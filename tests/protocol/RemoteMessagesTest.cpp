#include "protocol/RemoteMessages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace orvex {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Framed(const Bytes& body) {
    Bytes out = {0xF0, 0x00, 0x01, 0x6B};
    out.insert(out.end(), body.begin(), body.end());
    out.push_back(0xF7);
    return out;
}

Bytes Pattern(uint32_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes values(count);
    for (auto& v : values) v = static_cast<uint8_t>(rng());
    return values;
}

class RecordingSink : public IResponseSink {
public:
    void CountResponse() override { ++counted; }
    void StoreRegisters(uint16_t firstReg, uint32_t count, const uint8_t* values) override {
        ++stored;
        first = firstReg;
        this->values.assign(values, values + count);
    }
    int counted = 0;
    int stored = 0;
    uint16_t first = 0;
    Bytes values;
};

// ---- encoders against known bytes ----

struct EncodeCase {
    const char* name;
    Bytes actual;
    Bytes expected;
};

TEST(RemoteMessages, EncodersProduceKnownBytes) {
    const Bytes abcdef = {0xAB, 0xCD, 0xEF};
    const Bytes oneTwo = {0x01, 0x02};
    const Bytes allOnes(8, 0xFF);
    const Bytes single = {0x5A};
    const EncodeCase cases[] = {
        {"request 1-24", EncodeStatusRequest(1, 23, false), Framed({0x68, 0x04, 0x2E})},
        {"request 0-127", EncodeStatusRequest(0, 127, false), Framed({0x68, 0x01, 0x7E})},
        {"request 256-383 short", EncodeStatusRequest(256, 127, false), Framed({0x68, 0x01, 0x7F})},
        {"request 256-547 long", EncodeStatusRequest(256, 291, true), Framed({0x6F, 0x00, 0x40, 0x00, 0x12, 0x18})},
        {"request 1024-2047 long", EncodeStatusRequest(1024, 1023, true), Framed({0x6F, 0x02, 0x00, 0x00, 0x3F, 0x78})},
        {"write 25 to 3", EncodeRegisterWrite(3, 0x25, false), Framed({0x00, 0x0C, 0x4A})},
        {"long write 18 to 1024", EncodeRegisterWrite(1024, 0x18, true), Framed({0x07, 0x02, 0x00, 0x03, 0x00})},
        {"short write 0 to 224", EncodeRegisterWrite(224, 0x00, false), Framed({0x07, 0x00, 0x00})},
        {"command 1", EncodeCommand(1), Framed({0x0F, 0x39, 0x46})},
        {"command 3", EncodeCommand(3), Framed({0x1E, 0x31, 0x2E})},
        {"command 4", EncodeCommand(4), Framed({0x25, 0x6E, 0x22})},
        {"command 5", EncodeCommand(5), Framed({0x2D, 0x2B, 0x72})},
        {"command 6", EncodeCommand(6), Framed({0x34, 0x66, 0x4A})},
        {"command 7", EncodeCommand(7), Framed({0x3C, 0x23, 0x1A})},
        {"command 8", EncodeCommand(8), Framed({0x43, 0x5F, 0x0C})},
        {"command 9", EncodeCommand(9), Framed({0x4B, 0x1A, 0x5C})},
        {"command 10", EncodeCommand(10), Framed({0x52, 0x57, 0x64})},
        {"command 11", EncodeCommand(11), Framed({0x5A, 0x12, 0x34})},
        {"command 12", EncodeCommand(12), Framed({0x61, 0x4D, 0x38})},
        {"command 0", EncodeCommand(0), {}},
        {"command 13", EncodeCommand(13), {}},
        // 1111 10101011 11001101 11101111 fills exactly four stream bytes, so a 00 follows.
        {"packet AB CD EF", EncodeFirmwarePacket(abcdef.data(), 3), Framed({0x7D, 0x2F, 0x1B, 0x6F, 0x00})},
        {"packet of 0", EncodeFirmwarePacket(abcdef.data(), 0), {}},
        {"response 5-6", EncodeStatusResponse(5, oneTwo.data(), 2, false),
         Framed({0x70, 0x14, 0x02, 0x00, 0x40, 0x40})},
        {"response 2040-2047 goes long", EncodeStatusResponse(2040, allOnes.data(), 8, false),
         Framed({0x77, 0x03, 0x7E, 0x00, 0x00, 0x38, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x40})},
        {"response at 224 goes long", EncodeStatusResponse(224, single.data(), 1, false),
         Framed({0x77, 0x00, 0x38, 0x00, 0x00, 0x00, 0x2D, 0x00})},
        {"response of 0", EncodeStatusResponse(1, single.data(), 0, false), {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.actual, c.expected) << c.name;
    }

    // Sizes and headers where the full bytes are long.
    const Bytes full = Pattern(129, 7);
    EXPECT_EQ(EncodeFirmwarePacket(full.data(), 128).size(), 152u);
    EXPECT_TRUE(EncodeFirmwarePacket(full.data(), 129).empty());
    const Bytes three = EncodeFirmwarePacket(full.data(), 3);
    ASSERT_EQ(three.size(), 10u);  // five stream bytes
    EXPECT_EQ(three[8], 0x00);

    const Bytes response = EncodeStatusResponse(1, full.data(), 24, false);
    ASSERT_EQ(response.size(), 36u);
    EXPECT_EQ(Bytes(response.begin(), response.begin() + 7), (Bytes{0xF0, 0x00, 0x01, 0x6B, 0x70, 0x04, 0x2E}));
    EXPECT_EQ(response.back(), 0xF7);
}

TEST(RemoteMessages, Crc8CheckValues) {
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const uint8_t zero = 0x00;
    const uint8_t ones = 0xFF;
    EXPECT_EQ(PacketCrc8(digits, 9), 0xE9);
    EXPECT_EQ(PacketCrc8(&zero, 1), 0xC4);
    EXPECT_EQ(PacketCrc8(&ones, 1), 0x00);
}

// ---- decoder ----

Bytes LongResponseHeader(uint16_t first, uint32_t count) {
    return {0xF0, 0x00, 0x01, 0x6B, 0x77,
            static_cast<uint8_t>((first >> 9) & 0x7F),
            static_cast<uint8_t>((first >> 2) & 0x7F),
            static_cast<uint8_t>(((first & 3) << 5) | ((count >> 11) & 0x1F)),
            static_cast<uint8_t>((count >> 4) & 0x7F),
            static_cast<uint8_t>((count & 0x0F) << 3)};
}

struct DecodeCase {
    const char* name;
    Bytes block;
    int status;
    int counted;
    int stored;
};

TEST(RemoteMessages, DecoderAcceptsAndRejects) {
    const Bytes values = Pattern(24, 1);
    const Bytes good = EncodeStatusResponse(1, values.data(), 24, false);

    auto withPrefix = [&](Bytes prefix) {
        prefix.insert(prefix.end(), good.begin(), good.end());
        return prefix;
    };
    auto changed = [&](size_t index, uint8_t value) {
        Bytes b = good;
        b[index] = value;
        return b;
    };
    Bytes longer = good;
    longer.insert(longer.end() - 1, 0x00);
    Bytes shorter = good;
    shorter.erase(shorter.end() - 2);

    // 3574 values pack into a 4096-byte block; 3573 into 4095.
    const Bytes many = Pattern(3574, 2);
    const Bytes at4096 = EncodeStatusResponse(0, many.data(), 3574, true);
    const Bytes at4095 = EncodeStatusResponse(0, many.data(), 3573, true);

    // N = 4096 could never fit below 4096 bytes anyway, so this one is cut short.
    Bytes tooMany = LongResponseHeader(0, 4095);
    tooMany.resize(40, 0x00);
    tooMany.push_back(0xF7);

    Bytes noF0 = good;
    noF0[0] = 0x42;

    const DecodeCase cases[] = {
        {"well formed", good, 0, 1, 1},
        {"non-zero bytes ahead of F0", withPrefix({0x42, 0x7F}), 0, 1, 1},
        {"00 ahead of F0", withPrefix({0x42, 0x00}), 1, 0, 0},
        {"no F0", noF0, 1, 0, 0},
        {"no trailing F7", changed(good.size() - 1, 0x00), 1, 0, 0},
        {"foreign ID", changed(3, 0x6C), 1, 0, 0},
        {"one byte too long", longer, 1, 1, 0},
        {"one byte too short", shorter, 1, 1, 0},
        {"4095 bytes", at4095, 0, 1, 1},
        {"4096 bytes", at4096, 1, 0, 0},
        {"4096 registers", tooMany, 1, 1, 0},
        {"status request", EncodeStatusRequest(1, 23, false), 0, 0, 0},
        {"register write", EncodeRegisterWrite(1024, 1, true), 0, 0, 0},
        {"command", EncodeCommand(12), 0, 0, 0},
        {"packet", EncodeFirmwarePacket(values.data(), 24), 0, 0, 0},
        {"no type byte", {0xF0, 0x00, 0x01, 0x6B, 0xF7}, 1, 0, 0},
        {"cut long header", {0xF0, 0x00, 0x01, 0x6B, 0x77, 0x00, 0xF7}, 1, 1, 0},
        {"bare F0 F7", {0xF0, 0xF7}, 1, 0, 0},
    };
    for (const auto& c : cases) {
        RecordingSink sink;
        EXPECT_EQ(DecodeMessage(c.block.data(), static_cast<uint32_t>(c.block.size()), &sink), c.status) << c.name;
        EXPECT_EQ(sink.counted, c.counted) << c.name;
        EXPECT_EQ(sink.stored, c.stored) << c.name;
    }

    // Length 0 with a perfectly good buffer behind it.
    RecordingSink sink;
    EXPECT_EQ(DecodeMessage(good.data(), 0, &sink), 1);
    EXPECT_EQ(sink.counted, 0);

    // The ID is the caller's, not a fixed one.
    const uint8_t otherId[3] = {0x00, 0x20, 0x1A};
    Bytes other = good;
    other[1] = 0x00;
    other[2] = 0x20;
    other[3] = 0x1A;
    EXPECT_EQ(DecodeMessage(other.data(), static_cast<uint32_t>(other.size()), &sink, otherId), 0);
    EXPECT_EQ(DecodeMessage(good.data(), static_cast<uint32_t>(good.size()), &sink, otherId), 1);
    EXPECT_EQ(sink.values, values);
}

struct RoundTripCase {
    uint16_t first;
    uint32_t count;
    bool askLong;
    bool expectLong;
};

TEST(RemoteMessages, StatusResponseRoundTrip) {
    const RoundTripCase cases[] = {
        {1, 24, false, false},    {0, 256, false, false},  {0, 257, false, true},   {511, 1, false, true},
        {512, 1, false, true},    {223, 1, false, false},  {224, 32, false, true},  {255, 1, false, true},
        {256, 128, false, false}, {480, 5, false, true},   {479, 33, false, false}, {447, 1, false, false}, {2040, 8, false, true},
        {2040, 16, false, true},  {1024, 1024, true, true}, {1, 24, true, true},    {0, 3573, true, true},
        {65535, 1, true, true},
    };
    for (const auto& c : cases) {
        const Bytes values = Pattern(c.count, c.first * 31 + c.count);
        const Bytes msg = EncodeStatusResponse(c.first, values.data(), c.count, c.askLong);
        ASSERT_FALSE(msg.empty()) << c.first << "+" << c.count;
        EXPECT_EQ((msg[4] & 0x07) == 0x07, c.expectLong) << c.first << "+" << c.count;
        EXPECT_EQ(msg.size(), (c.expectLong ? 10u : 7u) + PackedByteCount(c.count) + 1);
        for (size_t i = 1; i + 1 < msg.size(); ++i) ASSERT_LT(msg[i], 0x80) << i;

        RecordingSink sink;
        EXPECT_EQ(DecodeMessage(msg.data(), static_cast<uint32_t>(msg.size()), &sink), 0);
        EXPECT_EQ(sink.counted, 1);
        ASSERT_EQ(sink.stored, 1);
        EXPECT_EQ(sink.first, c.first);
        EXPECT_EQ(sink.values, values) << c.first << "+" << c.count;
    }
}

// ---- unit side: host messages ----

struct ParseCase {
    const char* name;
    Bytes bytes;
    HostMessage::Kind kind;
    bool longForm;
    uint16_t reg;
    uint8_t value;
    uint16_t count;
    uint8_t command;
    bool checkOk;
};

TEST(RemoteMessages, ParseHostMessages) {
    Bytes badCheck = EncodeCommand(5);
    badCheck[6] ^= 0x02;
    Bytes badComplement = EncodeCommand(5);
    badComplement[5] ^= 0x04;
    Bytes strayLongWriteBits = EncodeRegisterWrite(1024, 0x18, true);
    strayLongWriteBits[8] |= 0x01;
    Bytes strayLongRequestBits = EncodeStatusRequest(1024, 1023, true);
    strayLongRequestBits[9] |= 0x01;
    Bytes highBit = EncodeRegisterWrite(3, 0x25, false);
    highBit[5] |= 0x80;
    const Bytes data = Pattern(3, 9);
    Bytes paddedWrong = EncodeFirmwarePacket(data.data(), 3);
    paddedWrong[8] = 0x01;  // the closing 00 must stay 00
    const Bytes response = EncodeStatusResponse(1, data.data(), 1, false);

    using K = HostMessage;
    const ParseCase cases[] = {
        {"short write", EncodeRegisterWrite(3, 0x25, false), K::kWrite, false, 3, 0x25, 0, 0, false},
        {"short write 224", EncodeRegisterWrite(224, 0x00, false), K::kWrite, false, 224, 0, 0, 0, false},
        {"short write 511", EncodeRegisterWrite(511, 0xFF, false), K::kWrite, false, 511, 0xFF, 0, 0, false},
        {"long write", EncodeRegisterWrite(1024, 0x18, true), K::kWrite, true, 1024, 0x18, 0, 0, false},
        {"long write 65535", EncodeRegisterWrite(65535, 0xA5, true), K::kWrite, true, 65535, 0xA5, 0, 0, false},
        {"short request", EncodeStatusRequest(1, 23, false), K::kStatusRequest, false, 1, 0, 23, 0, false},
        {"short request 240", EncodeStatusRequest(240, 15, false), K::kStatusRequest, false, 240, 0, 15, 0, false},
        {"long request", EncodeStatusRequest(1024, 1023, true), K::kStatusRequest, true, 1024, 0, 1023, 0, false},
        {"long request 224", EncodeStatusRequest(224, 0xFFFF, true), K::kStatusRequest, true, 224, 0, 0xFFFF, 0, false},
        {"wrong check byte", badCheck, K::kCommand, false, 0, 0, 0, 5, false},
        {"wrong complement", badComplement, K::kCommand, false, 0, 0, 0, 5, false},
        {"stray long write bits", strayLongWriteBits, K::kInvalid, false, 0, 0, 0, 0, false},
        {"stray long request bits", strayLongRequestBits, K::kInvalid, false, 0, 0, 0, 0, false},
        {"bit 7 inside", highBit, K::kInvalid, false, 0, 0, 0, 0, false},
        {"nonzero closing byte", paddedWrong, K::kInvalid, false, 0, 0, 0, 0, false},
        {"no packet has 4 stream bytes", Framed({0x7D, 0x2F, 0x1B, 0x6F}), K::kInvalid, false, 0, 0, 0, 0, false},
        {"a response", response, K::kInvalid, false, 0, 0, 0, 0, false},
        {"write of 9 bytes", Framed({0x00, 0x0C, 0x4A, 0x00}), K::kInvalid, false, 0, 0, 0, 0, false},
        {"command of 9 bytes", Framed({0x61, 0x4D, 0x38, 0x00}), K::kInvalid, false, 0, 0, 0, 0, false},
        {"foreign ID", {0xF0, 0x00, 0x01, 0x6C, 0x00, 0x0C, 0x4A, 0xF7}, K::kInvalid, false, 0, 0, 0, 0, false},
        {"no F7", {0xF0, 0x00, 0x01, 0x6B, 0x00, 0x0C, 0x4A, 0x7F}, K::kInvalid, false, 0, 0, 0, 0, false},
    };
    for (const auto& c : cases) {
        const HostMessage m = ParseHostMessage(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
        EXPECT_EQ(m.kind, c.kind) << c.name;
        if (m.kind != c.kind || c.kind == K::kInvalid) continue;
        EXPECT_EQ(m.longForm, c.longForm) << c.name;
        EXPECT_EQ(m.reg, c.reg) << c.name;
        EXPECT_EQ(m.value, c.value) << c.name;
        EXPECT_EQ(m.count, c.count) << c.name;
        EXPECT_EQ(m.command, c.command) << c.name;
        EXPECT_EQ(m.checkOk, c.checkOk) << c.name;
    }

    for (uint8_t command = 1; command <= 12; ++command) {
        const Bytes msg = EncodeCommand(command);
        const HostMessage m = ParseHostMessage(msg.data(), static_cast<uint32_t>(msg.size()));
        EXPECT_EQ(m.kind, HostMessage::kCommand);
        EXPECT_EQ(m.command, command);
        EXPECT_TRUE(m.checkOk) << int(command);
    }
}

TEST(RemoteMessages, FirmwarePacketRoundTripAllLengths) {
    const Bytes data = Pattern(kMaxPacketData, 42);
    for (uint32_t n = 1; n <= kMaxPacketData; ++n) {
        const Bytes msg = EncodeFirmwarePacket(data.data(), n);
        ASSERT_EQ(msg.size(), (8 * n + 4) / 7 + 6) << n;
        EXPECT_EQ(msg.size(), FirmwarePacketLength(n));
        EXPECT_EQ(msg[4] >> 3, 0x0F);
        for (size_t i = 1; i + 1 < msg.size(); ++i) ASSERT_LT(msg[i], 0x80) << n << "@" << i;
        const HostMessage m = ParseHostMessage(msg.data(), static_cast<uint32_t>(msg.size()));
        ASSERT_EQ(m.kind, HostMessage::kPacket) << n;
        EXPECT_EQ(m.data, Bytes(data.begin(), data.begin() + n)) << n;
    }
}

// ---- malformed input ----

// What a host encoder would make of a parsed message; empty when it has no encoding.
Bytes Reencode(const HostMessage& m) {
    switch (m.kind) {
    case HostMessage::kWrite: return EncodeRegisterWrite(m.reg, m.value, m.longForm);
    case HostMessage::kStatusRequest: return EncodeStatusRequest(m.reg, m.count, m.longForm);
    case HostMessage::kCommand: return EncodeCommand(m.command);
    case HostMessage::kPacket: return EncodeFirmwarePacket(m.data.data(), static_cast<uint32_t>(m.data.size()));
    default: return {};
    }
}

void CheckDecodeConsistent(const Bytes& block) {
    RecordingSink sink;
    const int status = DecodeMessage(block.data(), static_cast<uint32_t>(block.size()), &sink);
    ASSERT_TRUE(status == 0 || status == 1);
    ASSERT_LE(sink.counted, 1);
    ASSERT_LE(sink.stored, sink.counted);
    if (sink.stored == 0) {
        // A counted message that was not stored must have been rejected.
        if (sink.counted == 1) {
            ASSERT_EQ(status, 1);
        }
        return;
    }
    ASSERT_EQ(status, 0);
    const uint32_t n = static_cast<uint32_t>(sink.values.size());
    ASSERT_GE(n, 1u);
    ASSERT_LE(n, kMaxResponseRegisters);

    // The accepted message, from its F0, must be what the unit encoder makes of the
    // decoded values, up to the bits the decoder does not look at.
    size_t start = 0;
    while (block[start] != 0xF0) ++start;
    const Bytes msg(block.begin() + static_cast<long>(start), block.end());
    const bool longForm = (msg[4] & 0x07) == 0x07;
    const Bytes again = EncodeStatusResponse(sink.first, sink.values.data(), n, longForm);
    ASSERT_EQ(again.size(), msg.size());
    const size_t lastData = msg.size() - 2;
    const uint32_t padBits = 7 * PackedByteCount(n) - 8 * n;
    for (size_t i = 0; i < msg.size(); ++i) {
        uint8_t mask = (i == 0 || i == msg.size() - 1) ? 0xFF : 0x7F;
        if (longForm && i == 9) mask = 0x78;
        if (i == lastData) mask = static_cast<uint8_t>(mask & ~((1u << padBits) - 1));
        ASSERT_EQ(msg[i] & mask, again[i] & mask) << "byte " << i;
    }
}

void CheckParseConsistent(const Bytes& block) {
    const HostMessage m = ParseHostMessage(block.data(), static_cast<uint32_t>(block.size()));
    if (m.kind == HostMessage::kInvalid) return;
    const Bytes again = Reencode(m);
    if (m.kind == HostMessage::kCommand && !m.checkOk) {
        ASSERT_EQ(again.size(), block.size());
        ASSERT_NE(again, block);
        ASSERT_EQ(again[4] >> 3, block[4] >> 3);
        return;
    }
    ASSERT_EQ(again, block);
}

TEST(RemoteMessages, RandomAndMutatedBlocks) {
    std::mt19937 rng(20240611);
    auto pick = [&](uint32_t below) { return static_cast<uint32_t>(rng() % below); };

    std::vector<Bytes> seeds;
    const Bytes values = Pattern(300, 3);
    seeds.push_back(EncodeStatusResponse(1, values.data(), 24, false));
    seeds.push_back(EncodeStatusResponse(230, values.data(), 3, false));
    seeds.push_back(EncodeStatusResponse(1024, values.data(), 300, true));
    seeds.push_back(EncodeRegisterWrite(240, 0x7E, false));
    seeds.push_back(EncodeRegisterWrite(700, 0x81, true));
    seeds.push_back(EncodeStatusRequest(256, 291, true));
    seeds.push_back(EncodeStatusRequest(250, 5, false));
    for (uint8_t c = 1; c <= 12; ++c) seeds.push_back(EncodeCommand(c));
    for (uint32_t n : {1u, 3u, 7u, 64u, 128u}) seeds.push_back(EncodeFirmwarePacket(values.data(), n));

    int accepted = 0;
    int parsed = 0;
    for (int iteration = 0; iteration < 60000; ++iteration) {
        Bytes block;
        if (pick(4) == 0) {
            block.resize(pick(200));
            for (auto& b : block) b = static_cast<uint8_t>(pick(3) == 0 ? 0xF0 + pick(16) : rng());
            if (!block.empty() && pick(2)) block.back() = 0xF7;
            if (block.size() > 4 && pick(2)) {
                block[0] = 0xF0;
                block[1] = 0x00;
                block[2] = 0x01;
                block[3] = 0x6B;
            }
        } else {
            block = seeds[pick(static_cast<uint32_t>(seeds.size()))];
            const uint32_t edits = 1 + pick(3);
            for (uint32_t e = 0; e < edits && !block.empty(); ++e) {
                const size_t at = pick(static_cast<uint32_t>(block.size()));
                switch (pick(5)) {
                case 0: block[at] ^= static_cast<uint8_t>(1u << pick(8)); break;
                case 1: block[at] = static_cast<uint8_t>(rng()); break;
                case 2: block.erase(block.begin() + static_cast<long>(at)); break;
                case 3: block.insert(block.begin() + static_cast<long>(at), static_cast<uint8_t>(pick(0x80))); break;
                default: block.resize(at); break;
                }
            }
        }
        CheckDecodeConsistent(block);
        CheckParseConsistent(block);
        if (HasFatalFailure()) {
            ADD_FAILURE() << "iteration " << iteration;
            return;
        }
        RecordingSink sink;
        if (DecodeMessage(block.data(), static_cast<uint32_t>(block.size()), &sink) == 0 && sink.stored) ++accepted;
        if (ParseHostMessage(block.data(), static_cast<uint32_t>(block.size())).kind != HostMessage::kInvalid) ++parsed;
    }
    // Mutations that leave a message intact (flipping an ignored padding bit, say)
    // must have been accepted some of the time, or the checks above saw nothing.
    EXPECT_GT(accepted, 0);
    EXPECT_GT(parsed, 0);

    // A null block is refused, not read.
    RecordingSink sink;
    EXPECT_EQ(DecodeMessage(nullptr, 10, &sink), 1);
    EXPECT_EQ(ParseHostMessage(nullptr, 10).kind, HostMessage::kInvalid);
}

}  // namespace
}  // namespace orvex

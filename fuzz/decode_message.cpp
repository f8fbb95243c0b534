// DecodeMessage, the host's reading of what a unit sends.
//
// First input byte even: the rest is one received block, as the link hands it
// over. Whatever it holds, the decoder reads nothing outside it, counts a
// response only for a well-framed type-14 message, and stores values only for
// one whose length is exactly its header's register count packed seven bits a
// byte; the stored values are the data bytes' bit stream.
// First input byte odd: a status response is made with the unit-side encoder
// (first register, count, values, form, and junk ahead of the F0 from the
// input) and must decode to exactly what was encoded.
#include <algorithm>

#include "fuzz/support/Fuzz.h"
#include "protocol/RemoteMessages.h"

namespace {

using Bytes = std::vector<uint8_t>;
using orvex::DecodeMessage;

struct Sink : orvex::IResponseSink {
    int counted = 0, stored = 0;
    uint16_t first = 0;
    Bytes values;
    void CountResponse() override { ++counted; }
    void StoreRegisters(uint16_t firstReg, uint32_t count, const uint8_t* v) override {
        ++stored;
        first = firstReg;
        values.assign(v, v + count);
    }
};

// Bit i of the stream that starts at bit 6 of data[0], seven bits a byte.
int StreamBit(const uint8_t* data, uint32_t i) { return (data[i / 7] >> (6 - i % 7)) & 1; }

void CheckBlock(const Bytes& block) {
    Sink sink;
    const int status = DecodeMessage(block.data(), uint32_t(block.size()), &sink);
    ORVEX_FUZZ_CHECK(status == 0 || status == 1, fuzz::Hex(block));
    ORVEX_FUZZ_CHECK(sink.counted <= 1 && sink.stored <= sink.counted, fuzz::Hex(block));

    // Where a message of ours would start: non-00 bytes may come ahead of F0.
    size_t start = 0;
    while (start < block.size() && block[start] != 0xF0 && block[start] != 0x00) ++start;
    const bool framed = block.size() > 0 && block.size() < 4096 && start < block.size() && block[start] == 0xF0 &&
                        block.size() - start >= 6 && block.back() == 0xF7 && block[start + 1] == 0x00 &&
                        block[start + 2] == 0x01 && block[start + 3] == 0x6B;
    const bool response = framed && ((block[start + 4] >> 3) & 0x0F) == orvex::kTypeStatusResponse;
    ORVEX_FUZZ_CHECK(sink.counted == (response ? 1 : 0), fuzz::Hex(block));
    if (!framed) ORVEX_FUZZ_CHECK(status == 1, fuzz::Hex(block));
    if (framed && !response) ORVEX_FUZZ_CHECK(status == 0, fuzz::Hex(block));
    if (!response) return;
    ORVEX_FUZZ_CHECK((status == 0) == (sink.stored == 1), fuzz::Hex(block));
    if (!sink.stored) return;

    const uint8_t* m = block.data() + start;
    const uint32_t length = uint32_t(block.size() - start);
    const bool longForm = (m[4] & 0x07) == 0x07;
    const uint32_t dataStart = longForm ? 10 : 7;
    const uint32_t first = longForm ? (uint32_t(m[5] & 0x7F) << 9) | (uint32_t(m[6] & 0x7F) << 2) | ((m[7] >> 5) & 3)
                                    : (uint32_t(m[4] & 7) << 5) | ((m[5] >> 2) & 0x1F) | (uint32_t(m[6] & 1) << 8);
    const uint32_t count = longForm ? (uint32_t(m[7] & 0x1F) << 11) | (uint32_t(m[8] & 0x7F) << 4) | ((m[9] >> 3) & 0x0F)
                                    : (uint32_t(m[5] & 3) << 6) | ((m[6] >> 1) & 0x3F);
    const uint32_t n = uint32_t(sink.values.size());
    ORVEX_FUZZ_CHECK(n == count + 1 && n < 4096, fuzz::Hex(block));
    ORVEX_FUZZ_CHECK(sink.first == first, fuzz::Hex(block));
    ORVEX_FUZZ_CHECK(length == dataStart + (8 * n + 6) / 7 + 1, fuzz::Hex(block));
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t v = 0;
        for (uint32_t b = 0; b < 8; ++b) v = uint8_t((v << 1) | StreamBit(m + dataStart, 8 * i + b));
        ORVEX_FUZZ_CHECK(sink.values[i] == v, "value " + std::to_string(i) + " of " + fuzz::Hex(block));
    }
}

void CheckRoundTrip(fuzz::Input& in) {
    const uint16_t first = in.U16();
    // Mostly short responses, as units send them; up to 3,573 values, the longest
    // block decoded (4,095 bytes).
    const uint32_t count = in.Bool() ? in.Range(1, 3573) : in.Range(1, 64);
    const bool longForm = in.Bool();
    Bytes junk = in.Bytes(in.Range(0, 8));
    for (uint8_t& j : junk)
        if (j == 0x00 || j == 0xF0) j = 0x42;
    Bytes values = in.Bytes(count);
    for (uint32_t i = uint32_t(values.size()); i < count; ++i) values.push_back(uint8_t(i * 37 + first));

    const Bytes message = orvex::EncodeStatusResponse(first, values.data(), count, longForm);
    ORVEX_FUZZ_CHECK(!message.empty() && message.size() < 4096, std::to_string(count) + " values");
    Bytes block = junk;
    block.insert(block.end(), message.begin(), message.end());
    Sink sink;
    const int status = DecodeMessage(block.data(), uint32_t(block.size()), &sink);
    if (block.size() >= 4096) {
        // The junk counts towards the block, and a block that long is refused unread.
        ORVEX_FUZZ_CHECK(status == 1 && sink.counted == 0, fuzz::Hex(block));
        return;
    }
    ORVEX_FUZZ_CHECK(status == 0, fuzz::Hex(block));
    ORVEX_FUZZ_CHECK(sink.counted == 1 && sink.stored == 1, fuzz::Hex(block));
    ORVEX_FUZZ_CHECK(sink.first == first && sink.values == values, fuzz::Hex(block));
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
    Bytes values(300);
    for (size_t i = 0; i < values.size(); ++i) values[i] = uint8_t(i * 7 + 3);
    auto block = [&](const Bytes& b) {
        Bytes s = {0};
        s.insert(s.end(), b.begin(), b.end());
        seeds.push_back(s);
    };
    // What units answer: the identity read, meters, the verify packet, the extended map.
    block(orvex::EncodeStatusResponse(1, values.data(), 24, false));
    block(orvex::EncodeStatusResponse(9, values.data(), 1, false));
    block(orvex::EncodeStatusResponse(64, values.data(), 64, false));
    block(orvex::EncodeStatusResponse(128, values.data(), 128, false));
    block(orvex::EncodeStatusResponse(230, values.data(), 3, false));
    block(orvex::EncodeStatusResponse(1024, values.data(), 300, true));
    // What the host sends, which a unit never should: decoded as foreign types.
    block(orvex::EncodeStatusRequest(1, 23, false));
    block(orvex::EncodeCommand(5));
    block(orvex::EncodeFirmwarePacket(values.data(), 128));
    for (uint16_t first : {0, 1, 255, 511, 1024, 2047}) {
        fuzz::InputWriter w;
        w.Byte(1).U16(first);
        if (first > 511) {
            w.Bool(true).Range(1, 3573, 300);
        } else {
            w.Bool(false).Range(1, 64, 24);
        }
        seeds.push_back(w.Bool(first > 511).Range(0, 8, 1).Byte(0x55).Bytes(values).Data());
    }
}

// The SZDD expander on the largest embedded image, and the message codec.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "common/Szdd.h"
#include "protocol/RemoteMessages.h"
#include "tests/support/EmbeddedImages.h"

namespace {

const plat::RawResource& Largest() {
    const plat::RawResource* largest = &g_embeddedResources[0];
    for (unsigned i = 0; i < g_embeddedResourceCount; ++i) {
        uint32_t a = 0, b = 0;
        orvex::SzddReadHeader(g_embeddedResources[i].data, g_embeddedResources[i].size, &a, nullptr);
        orvex::SzddReadHeader(largest->data, largest->size, &b, nullptr);
        if (a > b) largest = &g_embeddedResources[i];
    }
    return *largest;
}

void ExpandLargestImage(benchmark::State& state) {
    const plat::RawResource& image = Largest();
    std::vector<uint8_t> out;
    for (auto _ : state) {
        const long n = orvex::SzddExpandBuffer(image.data, image.size, out);
        benchmark::DoNotOptimize(n);
        if (n <= 0) state.SkipWithError("expansion failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size()));
    state.SetLabel(image.name);
}
BENCHMARK(ExpandLargestImage);

void EncodeFirmwarePacket(benchmark::State& state) {
    uint8_t packet[128];
    for (int i = 0; i < 128; ++i) packet[i] = uint8_t(i * 37);
    for (auto _ : state) benchmark::DoNotOptimize(orvex::EncodeFirmwarePacket(packet, 128));
    state.SetBytesProcessed(int64_t(state.iterations()) * 128);
}
BENCHMARK(EncodeFirmwarePacket);

// What the link does with each read-back: a 128-register status response.
class NullSink : public orvex::IResponseSink {
public:
    void CountResponse() override {}
    void StoreRegisters(uint16_t, uint32_t count, const uint8_t* values) override {
        benchmark::DoNotOptimize(values[count - 1]);
    }
};

void DecodeReadBack(benchmark::State& state) {
    uint8_t values[128];
    for (int i = 0; i < 128; ++i) values[i] = uint8_t(i * 91);
    const std::vector<uint8_t> msg = orvex::EncodeStatusResponse(128, values, 128, false);
    NullSink sink;
    for (auto _ : state) benchmark::DoNotOptimize(orvex::DecodeMessage(msg.data(), uint32_t(msg.size()), &sink));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(msg.size()));
}
BENCHMARK(DecodeReadBack);

}  // namespace

BENCHMARK_MAIN();

// COrvexRemote's receive pump: arbitrary bytes in arbitrary splits, through a
// transport that hands over what the input says, with good status responses
// among them. Every good response must land in the register image where the
// stream around it is clean:
//  - the ring cannot have dropped any of its bytes: every pump (the reads
//    between two empty or failed reads) it shares bytes with brings at most
//    4,097 bytes, which fit behind the at most 4,094 a pump leaves behind;
//  - it is cut whole: from the last F7 (or failed read) before it to its own
//    F7 there are at most 4,095 bytes, so the cutting cannot split it;
//  - no failed read empties the ring after its first byte arrived and before
//    the pump that brought its F7 has cut it.
// Responses outside these rules may land or not; nothing may read out of
// bounds either way.
//
// A landing is seen through the change callback: every good response covers
// the watched register W and carries its own index there, and the callback
// compares the image with that response's values while the store is fresh.
//
// Input: W, the most bytes one pump brings before the transport pauses, the
// longest block, then operations until the input ends: good responses, noise,
// floods of one byte, and events at stream positions (a block boundary, a
// pause, a failed read).
#include <algorithm>
#include <deque>

#include "fuzz/support/Fuzz.h"
#include "platform/Platform.h"
#include "unitcontrol/OrvexRemote.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Good {
    size_t begin = 0, end = 0;  // stream positions: F0 at begin, F7 at end - 1
    uint16_t first = 0;
    Bytes values;
};

struct Delivery {
    enum Kind { kBlock, kPause, kFail } kind;
    size_t begin = 0, end = 0;
};

struct Session {
    Bytes stream;
    std::vector<Good> goods;
    std::deque<Delivery> reads;
    std::vector<bool> seen;
    uint16_t watched = 0;
    const orvex::COrvexRemote* remote = nullptr;
};
Session* g_session = nullptr;

constexpr size_t kMaxStream = 12 * 1024;  // enough to overflow the ring and recover
// Each pump searches what the ring holds, so the pauses are what a run costs;
// past this many, pumps grow instead (and the ring may overflow).
constexpr size_t kMaxPumps = 100;
constexpr size_t kRingCapacity = orvex::COrvexRemote::kRingCapacity;
constexpr size_t kMaxMessage = orvex::COrvexRemote::kMaxMessage;
// A pump leaves at most kMaxMessage - 1 bytes of an unfinished message, and a
// block is taken while it is shorter than the free space.
constexpr size_t kSafePump = kRingCapacity - (kMaxMessage - 1) - 1;

class InputTransport : public orvex::COrvexInterface {
public:
    uint16_t Open() override { return orvex::kTransportOk; }
    uint16_t Close() override { return orvex::kTransportOk; }
    void SetPortNameFilter(const char*) override {}
    bool IsOpen() override { return true; }
    uint16_t GetNumConnections(uint16_t* count) override { return *count = 1, 0; }
    uint16_t SelectConnection(uint16_t) override { return 0; }
    uint16_t GetCurrentConnection(uint16_t* n) override { return *n = 0, 0; }
    uint16_t GetConnectionDescription(uint16_t, char* text, uint32_t size) override {
        std::snprintf(text, size, "Fuzz");
        return 0;
    }
    uint16_t Write(const uint8_t*, int32_t) override { return 0; }
    uint16_t Read(uint8_t* buffer, int32_t size, int32_t* received) override {
        *received = 0;
        Session& s = *g_session;
        if (s.reads.empty()) return orvex::kTransportOk;
        const Delivery r = s.reads.front();
        s.reads.pop_front();
        if (r.kind == Delivery::kFail) return orvex::kTransportFailed;
        if (r.kind == Delivery::kPause) return orvex::kTransportOk;
        ORVEX_FUZZ_CHECK(size == int32_t(kMaxMessage), "the pump reads with a 4,095-byte buffer");
        std::copy(s.stream.begin() + long(r.begin), s.stream.begin() + long(r.end), buffer);
        *received = int32_t(r.end - r.begin);
        return orvex::kTransportOk;
    }
};

void Changed(uint32_t, uint32_t) {
    Session& s = *g_session;
    const uint8_t* image = s.remote->RegisterImage();
    const size_t k = image[s.watched];
    if (k >= s.goods.size() || s.seen[k]) return;
    const Good& g = s.goods[k];
    if (std::equal(g.values.begin(), g.values.end(), image + g.first)) s.seen[k] = true;
}

struct Event {
    size_t at;
    Delivery::Kind kind;  // kBlock: only a block boundary
};

void Build(fuzz::Input& in, Session& s, size_t* pumpCap, size_t* blockCap, std::vector<Event>* events) {
    const uint16_t w = uint16_t(in.Range(0, 2047));
    s.watched = w;
    *pumpCap = in.Range(1, 12000);
    *blockCap = in.Range(1, uint32_t(kMaxMessage));
    for (int op = 0; op < 100 && !in.Empty() && s.stream.size() < kMaxStream; ++op) {
        switch (in.Byte() % 8) {
        case 0:
        case 1: {
            if (s.goods.size() == 256) break;  // the index must fit in register W
            Good g;
            g.first = uint16_t(in.Range(0, w));
            const uint32_t n = in.Range(w - g.first + 1, 2048 - g.first);
            const bool longForm = in.Bool();
            g.values = in.Bytes(n);
            for (uint32_t i = uint32_t(g.values.size()); i < n; ++i) g.values.push_back(uint8_t(i * 29 + 11));
            g.values[w - g.first] = uint8_t(s.goods.size());
            const Bytes message = orvex::EncodeStatusResponse(g.first, g.values.data(), n, longForm);
            g.begin = s.stream.size();
            s.stream.insert(s.stream.end(), message.begin(), message.end());
            g.end = s.stream.size();
            s.goods.push_back(std::move(g));
            break;
        }
        case 2: {
            const uint8_t b = in.Byte();
            s.stream.insert(s.stream.end(), in.Range(1, 9000), b);
            break;
        }
        case 3: {
            const size_t at = in.U16();
            events->push_back({at, static_cast<Delivery::Kind>(in.Byte() % 3)});
            break;
        }
        default: {
            const Bytes noise = in.Bytes(in.Range(0, 600));
            s.stream.insert(s.stream.end(), noise.begin(), noise.end());
            break;
        }
        }
    }
}

// The reads the transport hands over, and for each stream byte its pump.
void Schedule(Session& s, size_t pumpCap, size_t blockCap, std::vector<Event> events, std::vector<uint32_t>* pumpOf,
              std::vector<size_t>* pumpTotal, std::vector<bool>* pumpEndsInFail, std::vector<size_t>* fails) {
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.at < b.at; });
    size_t e = 0, cursor = 0, inPump = 0;
    pumpOf->assign(s.stream.size(), 0);
    pumpTotal->assign(1, 0);
    pumpEndsInFail->assign(1, false);
    auto endPump = [&](bool failed) {
        pumpEndsInFail->back() = failed;
        pumpTotal->push_back(0);
        pumpEndsInFail->push_back(false);
        inPump = 0;
    };
    while (cursor < s.stream.size() || e < events.size()) {
        // Events at the cursor come first.
        while (e < events.size() && events[e].at <= cursor) {
            if (events[e].kind == Delivery::kPause) {
                s.reads.push_back({Delivery::kPause});
                endPump(false);
            } else if (events[e].kind == Delivery::kFail) {
                s.reads.push_back({Delivery::kFail});
                fails->push_back(cursor);
                endPump(true);
            }
            ++e;
        }
        if (cursor >= s.stream.size()) break;
        const bool capped = pumpTotal->size() < kMaxPumps;
        if (capped && inPump >= pumpCap) {
            s.reads.push_back({Delivery::kPause});
            endPump(false);
        }
        size_t end = std::min(s.stream.size(), cursor + blockCap);
        if (capped) end = std::min(end, cursor + (pumpCap - inPump));
        if (e < events.size() && events[e].at < end) end = events[e].at;
        s.reads.push_back({Delivery::kBlock, cursor, end});
        for (size_t i = cursor; i < end; ++i) (*pumpOf)[i] = uint32_t(pumpTotal->size() - 1);
        pumpTotal->back() += end - cursor;
        inPump += end - cursor;
        cursor = end;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    plat::UseVirtualClock(true);
    Session s;
    g_session = &s;
    fuzz::Input in(data, size);
    size_t pumpCap = 0, blockCap = 0;
    std::vector<Event> events;
    Build(in, s, &pumpCap, &blockCap, &events);
    std::vector<uint32_t> pumpOf;
    std::vector<size_t> pumpTotal, fails;
    std::vector<bool> pumpEndsInFail;
    Schedule(s, pumpCap, blockCap, events, &pumpOf, &pumpTotal, &pumpEndsInFail, &fails);
    s.seen.assign(s.goods.size(), false);

    orvex::COrvexRemote::Transports t;
    t.midi = [] { return std::make_unique<InputTransport>(); };
    orvex::COrvexRemote remote(t);
    s.remote = &remote;
    ORVEX_FUZZ_CHECK(remote.Open() == 0, "open");
    remote.SetMode(3);  // the unit reports by itself: no requests, no loss by silence
    remote.SetChangeCallback(s.watched, s.watched, Changed, 0, 0);
    for (size_t polls = 0; !s.reads.empty(); ++polls) {
        ORVEX_FUZZ_CHECK(polls <= s.stream.size() + events.size() + 1, "the pump stopped taking reads");
        remote.Poll();
    }
    remote.Poll();

    // Where the stream is clean, each good response landed.
    std::vector<size_t> lastEnd(s.stream.size() + 1, 0);  // position after the last F7 before i
    for (size_t i = 0; i < s.stream.size(); ++i) lastEnd[i + 1] = s.stream[i] == 0xF7 ? i + 1 : lastEnd[i];
    for (size_t k = 0; k < s.goods.size(); ++k) {
        const Good& g = s.goods[k];
        size_t from = lastEnd[g.begin];
        bool clean = true;
        size_t checkFrom = from > 0 ? from - 1 : 0;  // the F7 itself must have entered the ring
        for (size_t f : fails) {
            if (f <= g.begin && f >= from) {
                from = f;
                checkFrom = f;
            }
            if (f > g.begin && f < g.end) clean = false;
        }
        clean = clean && g.end - from <= kMaxMessage && !pumpEndsInFail[pumpOf[g.end - 1]];
        for (size_t i = checkFrom; clean && i < g.end; ++i) clean = pumpTotal[pumpOf[i]] <= kSafePump;
        if (clean)
            ORVEX_FUZZ_CHECK(s.seen[k], "good response " + std::to_string(k) + " (registers " + std::to_string(g.first) +
                                            "-" + std::to_string(g.first + g.values.size() - 1) + ", stream " +
                                            std::to_string(g.begin) + "-" + std::to_string(g.end) +
                                            ") did not land; clean from " + std::to_string(from));
    }
    g_session = nullptr;
    return 0;
}

void OrvexFuzzSeeds(fuzz::Seeds& seeds) {
    using fuzz::InputWriter;
    auto good = [](InputWriter& w, uint16_t watched, uint16_t first, uint32_t n, bool longForm) {
        w.Byte(0).Range(0, watched, first).Range(watched - first + 1, 2048 - first, n).Bool(longForm);
        for (uint32_t i = 0; i < n; ++i) w.Byte(uint8_t(i * 13 + first));
    };
    auto noise = [](InputWriter& w, const Bytes& b) { w.Byte(4).Range(0, 600, uint32_t(b.size())).Bytes(b); };
    const Bytes garbage = {0x12, 0xF7, 0x00, 0x55, 0xF0, 0x00, 0x01, 0x6B, 0x70};  // a broken start, no end
    const Bytes request = orvex::EncodeStatusRequest(1, 23, false);
    struct Shape {
        uint16_t watched, pumpCap, blockCap;
        std::vector<std::pair<uint16_t, uint32_t>> responses;  // first register, count
    };
    const Shape shapes[] = {
        {9, 4097, 512, {{1, 24}, {9, 1}, {9, 1}, {0, 128}}},  // identity, programming status, verify-sized
        {200, 4097, 7, {{128, 128}, {64, 192}}},               // meters and mixer in 7-byte pieces
        {1500, 4097, 4095, {{1024, 1024}, {256, 1792}}},       // the extended map, long form
        {20, 12000, 4095, {{1, 31}, {16, 8}}},                 // pumps big enough to overflow the ring
        {9, 1, 1, {{9, 1}}},                                   // byte by byte
    };
    for (const Shape& shape : shapes) {
        InputWriter w;
        w.Range(0, 2047, shape.watched).Range(1, 12000, shape.pumpCap).Range(1, 4095, shape.blockCap);
        for (const auto& [first, n] : shape.responses) {
            noise(w, garbage);
            good(w, shape.watched, first, n, first > 255);
            noise(w, request);
        }
        // A failed read in the garbage ahead of the first response, a pause in
        // the middle of it, and a flood of F0 at the end.
        w.Byte(3).U16(3).Byte(2).Byte(3).U16(20).Byte(1);
        w.Byte(2).Byte(0xF0).Range(1, 9000, 5000);
        good(w, shape.watched, shape.watched, 1, false);
        seeds.push_back(w.Data());
    }
}

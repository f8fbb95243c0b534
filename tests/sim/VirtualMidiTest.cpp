// The virtual MIDI system through its WinMM table, on the virtual clock.
#include "sim/VirtualMidi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace {

using Bytes = std::vector<uint8_t>;
using sim::VirtualMidi;
using namespace winmm;
constexpr uint64_t kMs = 1000;

// Records every byte with the time it arrived; sends what it is given.
class Recorder : public sim::IByteDevice {
public:
    std::vector<std::pair<uint64_t, uint8_t>> got;
    Bytes toSend;

    Bytes Values() const {
        Bytes v;
        for (const auto& g : got) v.push_back(g.second);
        return v;
    }
    void Receive(const uint8_t* bytes, size_t size, uint64_t now) override {
        for (size_t i = 0; i < size; ++i) got.push_back({now, bytes[i]});
    }
    void Transmit(uint64_t, std::vector<uint8_t>& out) override {
        out.insert(out.end(), toSend.begin(), toSend.end());
        toSend.clear();
    }
};

// One block sent through the table: its header and its bytes.
struct Block {
    Bytes data;
    MIDIHDR header{};
    explicit Block(Bytes bytes) : data(std::move(bytes)) {
        header.lpData = reinterpret_cast<char*>(data.data());
        header.dwBufferLength = static_cast<uint32_t>(data.size());
    }
};

// An input buffer of a given size.
struct Buffer {
    std::vector<char> data;
    MIDIHDR header{};
    explicit Buffer(uint32_t size) : data(size) {
        header.lpData = data.data();
        header.dwBufferLength = size;
    }
    Bytes Recorded() const {
        return Bytes(data.begin(), data.begin() + header.dwBytesRecorded);
    }
};

class VirtualMidiTest : public ::testing::Test {
protected:
    VirtualMidi vm;
    const WinMMApi& api = VirtualMidi::Api();
    void SetUp() override {
        plat::UseVirtualClock(true);
        vm.Install();
    }
    HMIDIOUT OpenOut(uint32_t device) {
        HMIDIOUT h = nullptr;
        EXPECT_EQ(api.midiOutOpen(&h, device, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        return h;
    }
    HMIDIIN OpenIn(uint32_t device) {
        HMIDIIN h = nullptr;
        EXPECT_EQ(api.midiInOpen(&h, device, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        return h;
    }
    // Polls the done flag through the clock, as the transport does; returns when it was set.
    uint64_t WaitDone(MIDIHDR& header, uint32_t limitMs = 1000) {
        uint32_t start = api.timeGetTime();
        while (!(header.dwFlags & MHDR_DONE) && api.timeGetTime() - start <= limitMs) {
        }
        return plat::ClockMicros();
    }
};

TEST_F(VirtualMidiTest, BlocksLeaveAtThePortsRateAndArriveAfterItsLatency) {
    struct Case {
        uint32_t rate;
        uint64_t latency;
        size_t length;
    } cases[] = {{0, 0, 8}, {VirtualMidi::kDinBytesPerSecond, 0, 10}, {VirtualMidi::kDinBytesPerSecond, 2 * kMs, 10},
                 {0, 1500, 4}, {1000, 0, 3}};
    for (const auto& c : cases) {
        VirtualMidi local;
        local.Install();
        int out = local.AddOutPort("Out");
        int in = local.AddInPort("In");
        Recorder unit;
        local.Connect(out, in, &unit);
        local.SetByteRate(out, c.rate);
        local.SetLatency(out, c.latency);
        HMIDIOUT h = OpenOut(0);
        Block block(Bytes(c.length, 0x42));
        ASSERT_EQ(api.midiOutPrepareHeader(h, &block.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        uint64_t t0 = plat::ClockMicros();
        ASSERT_EQ(api.midiOutLongMsg(h, &block.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        uint64_t perByte = c.rate ? (1000000 + c.rate - 1) / c.rate : 0;
        uint64_t doneAt = WaitDone(block.header);
        ASSERT_TRUE(block.header.dwFlags & MHDR_DONE);
        EXPECT_FALSE(block.header.dwFlags & MHDR_INQUEUE);
        EXPECT_GE(doneAt, t0 + c.length * perByte) << c.rate;
        EXPECT_LE(doneAt, t0 + c.length * perByte + 100) << c.rate;
        plat::Sleep(10);
        local.Pump();
        ASSERT_EQ(unit.got.size(), c.length);
        for (size_t i = 0; i < c.length; ++i) {
            uint64_t expected = t0 + (i + 1) * perByte + c.latency;
            EXPECT_GE(unit.got[i].first, expected) << c.rate << " byte " << i;
            EXPECT_LE(unit.got[i].first, expected + 100) << c.rate << " byte " << i;
        }
        EXPECT_EQ(api.midiOutUnprepareHeader(h, &block.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        EXPECT_EQ(api.midiOutClose(h), MMSYSERR_NOERROR);
    }
}

TEST_F(VirtualMidiTest, QueuedBuffersBelongToTheDriverUntilTheyComeBack) {
    vm.AddOutPort("Out");
    vm.AddInPort("In");
    vm.SetByteRate(0, VirtualMidi::kDinBytesPerSecond);
    HMIDIOUT out = OpenOut(0);
    HMIDIOUT second = nullptr;
    EXPECT_EQ(api.midiOutOpen(&second, 0, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_EQ(api.midiOutOpen(&second, 1, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);

    Block block(Bytes(100, 0x10));
    EXPECT_EQ(api.midiOutLongMsg(out, &block.header, sizeof(MIDIHDR)), MIDIERR_UNPREPARED);
    ASSERT_EQ(api.midiOutPrepareHeader(out, &block.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(api.midiOutLongMsg(out, &block.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(block.header.dwFlags & (MHDR_DONE | MHDR_INQUEUE), MHDR_INQUEUE);
    EXPECT_EQ(api.midiOutLongMsg(out, &block.header, sizeof(MIDIHDR)), MIDIERR_STILLPLAYING);
    EXPECT_EQ(api.midiOutUnprepareHeader(out, &block.header, sizeof(MIDIHDR)), MIDIERR_STILLPLAYING);
    EXPECT_EQ(api.midiOutClose(out), MIDIERR_STILLPLAYING);
    EXPECT_EQ(vm.QueuedHeaders(0), 1);
    EXPECT_EQ(api.midiOutReset(out), MMSYSERR_NOERROR);
    EXPECT_EQ(block.header.dwFlags & (MHDR_DONE | MHDR_INQUEUE), MHDR_DONE);
    EXPECT_EQ(api.midiOutUnprepareHeader(out, &block.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(api.midiOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(api.midiOutReset(out), MMSYSERR_INVALHANDLE);

    HMIDIIN in = OpenIn(0);
    Buffer buffer(32);
    EXPECT_EQ(api.midiInAddBuffer(in, &buffer.header, sizeof(MIDIHDR)), MIDIERR_UNPREPARED);
    ASSERT_EQ(api.midiInPrepareHeader(in, &buffer.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(api.midiInAddBuffer(in, &buffer.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(api.midiInUnprepareHeader(in, &buffer.header, sizeof(MIDIHDR)), MIDIERR_STILLPLAYING);
    EXPECT_EQ(api.midiInClose(in), MIDIERR_STILLPLAYING);
    EXPECT_EQ(api.midiInStop(in), MMSYSERR_NOERROR);  // an empty buffer stays queued
    EXPECT_FALSE(buffer.header.dwFlags & MHDR_DONE);
    EXPECT_EQ(api.midiInReset(in), MMSYSERR_NOERROR);
    EXPECT_TRUE(buffer.header.dwFlags & MHDR_DONE);
    EXPECT_EQ(buffer.header.dwBytesRecorded, 0u);
    EXPECT_EQ(api.midiInUnprepareHeader(in, &buffer.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(api.midiInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(vm.OpenHandles(), 0);
}

TEST_F(VirtualMidiTest, FaultsChangeWhatCrossesTheCable) {
    const Bytes sent = {0xF0, 0x00, 0x01, 0x6B, 0x68, 0x04, 0x2E, 0xF7};
    struct Case {
        const char* what;
        std::function<void(VirtualMidi&, int out, int in)> fault;
        Bytes unitGets;     // from the host
        Bytes hostGets;     // the unit's answer (sent back unchanged) as the input buffer holds it
        uint64_t heldBack;  // extra time of the last byte
    } cases[] = {
        {"none", [](VirtualMidi&, int, int) {}, sent, sent, 0},
        {"drop three", [](VirtualMidi& v, int out, int) { v.DropBytes(out, 2, 3); },
         {0xF0, 0x00, 0x04, 0x2E, 0xF7}, {0xF0, 0x00, 0x04, 0x2E, 0xF7}, 0},
        {"corrupt one", [](VirtualMidi& v, int out, int) { v.CorruptBytes(out, 4, 1, 0x01); },
         {0xF0, 0x00, 0x01, 0x6B, 0x69, 0x04, 0x2E, 0xF7}, {0xF0, 0x00, 0x01, 0x6B, 0x69, 0x04, 0x2E, 0xF7}, 0},
        {"corrupt on the way back", [](VirtualMidi& v, int, int in) { v.CorruptBytes(in, 5, 1, 0x10); },
         sent, {0xF0, 0x00, 0x01, 0x6B, 0x68, 0x14, 0x2E, 0xF7}, 0},
        {"delay one", [](VirtualMidi& v, int out, int) { v.DelayBytes(out, 3, 1, 5 * kMs); }, sent, sent, 5 * kMs},
        {"silent unit", [](VirtualMidi& v, int, int in) { v.SetSilent(in, true); }, sent, {}, 0},
    };
    for (const auto& c : cases) {
        VirtualMidi local;
        local.Install();
        int out = local.AddOutPort("Out");
        int in = local.AddInPort("In");
        Recorder unit;
        local.Connect(out, in, &unit);
        local.SetByteRate(out, VirtualMidi::kDinBytesPerSecond);
        c.fault(local, out, in);
        HMIDIIN hin = OpenIn(0);
        Buffer buffer(64);
        api.midiInPrepareHeader(hin, &buffer.header, sizeof(MIDIHDR));
        api.midiInAddBuffer(hin, &buffer.header, sizeof(MIDIHDR));
        api.midiInStart(hin);
        HMIDIOUT hout = OpenOut(0);
        Block block(sent);
        api.midiOutPrepareHeader(hout, &block.header, sizeof(MIDIHDR));
        uint64_t t0 = plat::ClockMicros();
        api.midiOutLongMsg(hout, &block.header, sizeof(MIDIHDR));
        plat::Sleep(20);
        local.Pump();
        EXPECT_EQ(unit.Values(), c.unitGets) << c.what;
        if (!unit.got.empty()) {
            uint64_t last = t0 + sent.size() * 320 + c.heldBack;
            EXPECT_GE(unit.got.back().first, last) << c.what;
            EXPECT_LE(unit.got.back().first, last + 100) << c.what;
        }
        unit.toSend = unit.Values();
        plat::Sleep(20);
        local.Pump();
        EXPECT_EQ(buffer.Recorded(), c.hostGets) << c.what;
        api.midiInReset(hin);
        api.midiInClose(hin);
        api.midiOutClose(hout);
        EXPECT_EQ(local.OpenHandles(), 0);
    }
}

TEST_F(VirtualMidiTest, RandomFaultsAreRepeatableForASeed) {
    auto run = [&](uint32_t seed) {
        VirtualMidi local;
        local.Install();
        int out = local.AddOutPort("Out");
        Recorder unit;
        local.Connect(out, local.AddInPort("In"), &unit);
        local.SetRandomFaults(out, seed, 200000, 100000);
        HMIDIOUT h = OpenOut(0);
        Block block(Bytes(1000, 0x40));
        api.midiOutPrepareHeader(h, &block.header, sizeof(MIDIHDR));
        api.midiOutLongMsg(h, &block.header, sizeof(MIDIHDR));
        local.Pump();
        api.midiOutClose(h);
        return unit.Values();
    };
    Bytes first = run(7), again = run(7), other = run(8);
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
    EXPECT_GT(first.size(), 700u);  // about a fifth dropped
    EXPECT_LT(first.size(), 900u);
    size_t changed = 0;
    for (uint8_t b : first) changed += b != 0x40;
    EXPECT_GT(changed, 50u);  // about a tenth changed
    EXPECT_LT(changed, 150u);
}

TEST_F(VirtualMidiTest, InputBuffersFollowTheDriversRules) {
    struct Case {
        const char* what;
        Bytes arrives;
        std::vector<uint32_t> buffers;  // sizes, queued in this order
        bool start;
        std::vector<Bytes> returned;
        uint64_t lost;
    } cases[] = {
        {"split when full", {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xF7}, {5, 5, 5}, true,
         {{0xF0, 1, 2, 3, 4}, {5, 6, 7, 8, 9}, {10, 0xF7}}, 0},
        {"short messages never reach a buffer", {0x90, 0x40, 0x7F, 0xF0, 0x01, 0xF7}, {32}, true,
         {{0xF0, 0x01, 0xF7}}, 0},
        {"data bytes between messages are dropped", {0xF0, 0x01, 0xF7, 0x05, 0x06, 0xF0, 0x02, 0xF7}, {32, 32}, true,
         {{0xF0, 0x01, 0xF7}, {0xF0, 0x02, 0xF7}}, 0},
        {"real-time bytes pass a message by", {0xF0, 0x01, 0xF8, 0x02, 0xF7}, {32}, true,
         {{0xF0, 0x01, 0x02, 0xF7}}, 0},
        {"a status byte breaks a message off", {0xF0, 1, 2, 0x90, 0x40, 0x7F, 0xF0, 3, 0xF7}, {32, 32}, true,
         {{0xF0, 1, 2}, {0xF0, 3, 0xF7}}, 0},
        {"no buffer left", {0xF0, 1, 0xF7, 0xF0, 2, 0xF7}, {32}, true, {{0xF0, 1, 0xF7}}, 3},
        {"not started", {0xF0, 1, 0xF7}, {32}, false, {}, 3},
    };
    for (const auto& c : cases) {
        VirtualMidi local;
        local.Install();
        int out = local.AddOutPort("Out");
        int in = local.AddInPort("In");
        Recorder unit;
        local.Connect(out, in, &unit);
        HMIDIIN h = OpenIn(0);
        std::vector<std::unique_ptr<Buffer>> buffers;
        for (uint32_t size : c.buffers) {
            buffers.push_back(std::make_unique<Buffer>(size));
            api.midiInPrepareHeader(h, &buffers.back()->header, sizeof(MIDIHDR));
            api.midiInAddBuffer(h, &buffers.back()->header, sizeof(MIDIHDR));
        }
        if (c.start) api.midiInStart(h);
        unit.toSend = c.arrives;
        local.Pump();
        std::vector<Bytes> returned;
        for (const auto& b : buffers)
            if (b->header.dwFlags & MHDR_DONE) returned.push_back(b->Recorded());
        EXPECT_EQ(returned, c.returned) << c.what;
        EXPECT_EQ(local.LostBytes(in), c.lost) << c.what;
        api.midiInReset(h);
        api.midiInClose(h);
    }
}

TEST_F(VirtualMidiTest, UnplugRenumbersDevicesAndStrandsTheOpenHandle) {
    int a = vm.AddOutPort("A");
    int b = vm.AddOutPort("B");
    vm.AddOutPort("C");
    vm.SetByteRate(b, VirtualMidi::kDinBytesPerSecond);
    HMIDIOUT hb = OpenOut(1);
    vm.Unplug(a);
    EXPECT_EQ(api.midiOutGetNumDevs(), 2u);
    EXPECT_EQ(vm.DeviceNumber(a), -1);
    EXPECT_EQ(vm.DeviceNumber(b), 0);
    MIDIOUTCAPSA caps{};
    ASSERT_EQ(api.midiOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "B");
    EXPECT_EQ(caps.wTechnology, MOD_MIDIPORT);

    Block block(Bytes(100, 0x20));
    ASSERT_EQ(api.midiOutPrepareHeader(hb, &block.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(api.midiOutLongMsg(hb, &block.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    vm.Unplug(b);
    plat::Sleep(100);
    vm.Pump();
    EXPECT_FALSE(block.header.dwFlags & MHDR_DONE);  // a vanished port never finishes
    Block other(Bytes(4, 0x30));
    EXPECT_EQ(api.midiOutPrepareHeader(hb, &other.header, sizeof(MIDIHDR)), MMSYSERR_NODRIVER);
    EXPECT_EQ(api.midiOutReset(hb), MMSYSERR_NODRIVER);
    EXPECT_EQ(api.midiOutUnprepareHeader(hb, &block.header, sizeof(MIDIHDR)), MMSYSERR_NODRIVER);
    EXPECT_EQ(vm.QueuedHeaders(b), 1);
    EXPECT_EQ(api.midiOutClose(hb), MMSYSERR_NOERROR);
    EXPECT_EQ(block.header.dwFlags & (MHDR_DONE | MHDR_INQUEUE), MHDR_DONE);
    EXPECT_EQ(vm.OpenHandles(), 0);

    vm.Plug(a);
    vm.Plug(b);
    EXPECT_EQ(api.midiOutGetNumDevs(), 3u);
    EXPECT_EQ(vm.DeviceNumber(b), 1);
    HMIDIOUT again = OpenOut(1);
    EXPECT_EQ(api.midiOutClose(again), MMSYSERR_NOERROR);
}

}  // namespace

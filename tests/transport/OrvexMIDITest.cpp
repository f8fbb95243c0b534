// The MIDI transport against the virtual MIDI system, on the virtual clock.
#include "transport/OrvexMIDI.h"

#include <utility>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/Log.h"
#include "platform/Platform.h"
#include "sim/VirtualMidi.h"
#include "tests/support/TempDir.h"
#include "protocol/RemoteMessages.h"

namespace {

using Bytes = std::vector<uint8_t>;
using orvex::COrvexMIDI;
using sim::VirtualMidi;
using Call = VirtualMidi::Call;
constexpr uint64_t kMs = 1000;

// A unit that answers every status request, after a delay, with its register
// values (register r holds r & 0xFF) or with canned bytes; it can also send
// blocks of its own at given times.
class TestUnit : public sim::IByteDevice {
public:
    Bytes canned;
    uint64_t replyDelay = 0;
    bool answers = true;
    Bytes received;

    void SendAt(uint64_t micros, Bytes bytes) { pending_.push_back({micros, std::move(bytes)}); }

    void Receive(const uint8_t* bytes, size_t size, uint64_t now) override {
        for (size_t i = 0; i < size; ++i) {
            received.push_back(bytes[i]);
            if (bytes[i] == 0xF0) message_.clear();
            message_.push_back(bytes[i]);
            if (bytes[i] != 0xF7) continue;
            orvex::HostMessage m = orvex::ParseHostMessage(message_.data(), static_cast<uint32_t>(message_.size()));
            if (m.kind != orvex::HostMessage::kStatusRequest || !answers) continue;
            if (!canned.empty()) {
                SendAt(now + replyDelay, canned);
                continue;
            }
            Bytes values;
            for (uint32_t r = m.reg; r <= uint32_t(m.reg) + m.count; ++r) values.push_back(uint8_t(r));
            SendAt(now + replyDelay, orvex::EncodeStatusResponse(m.reg, values.data(), uint32_t(values.size()),
                                                                 m.longForm));
        }
    }
    void Transmit(uint64_t now, std::vector<uint8_t>& out) override {
        for (auto it = pending_.begin(); it != pending_.end();) {
            if (it->first <= now) {
                out.insert(out.end(), it->second.begin(), it->second.end());
                it = pending_.erase(it);
            } else {
                ++it;
            }
        }
    }

private:
    std::vector<std::pair<uint64_t, Bytes>> pending_;
    Bytes message_;
};

class MidiTransportTest : public ::testing::Test {
protected:
    TempDir dir;
    ChangeDir cd{dir.path};
    VirtualMidi vm;

    void SetUp() override {
        plat::UseVirtualClock(true);
        orvex::LogSetProgram(orvex::LogProgram::OrvexUpdate);
        vm.Install();
        COrvexMIDI::SetWinMMApi(&VirtualMidi::Api());
    }
    void TearDown() override {
        COrvexMIDI::SetWinMMApi(nullptr);
        orvex::LogClose();
    }
    std::string LogText() {
        orvex::LogClose();
        return ReadFileText("OrvexUpdate.log");
    }
    static std::string Description(COrvexMIDI& midi, uint16_t n) {
        char text[255] = {};
        midi.GetConnectionDescription(n, text, sizeof text);
        return text;
    }
    // Everything that arrived, one Read at a time, as the link polls.
    std::vector<Bytes> ReadAll(COrvexMIDI& midi, int32_t size = 4095) {
        std::vector<Bytes> chunks;
        Bytes buffer(size_t(size > 0 ? size : 1));
        for (;;) {
            int32_t received = -1;
            EXPECT_EQ(midi.Read(buffer.data(), size, &received), 0);
            if (received <= 0) return chunks;
            chunks.emplace_back(buffer.begin(), buffer.begin() + received);
        }
    }
};

Bytes Probe(uint8_t r1, uint8_t r2) { return {0xF0, 0x00, 0x01, 0x6B, r1, r2, 0x00, 0xF7}; }

TEST_F(MidiTransportTest, ProbesEveryOutputAndPairsAnsweringInputsInInputOrder) {
    std::vector<int> outs, ins;
    for (int d = 0; d < 64; ++d) outs.push_back(vm.AddOutPort("Out " + std::to_string(d)));
    for (int d = 0; d < 3; ++d) ins.push_back(vm.AddInPort("In " + std::to_string(d)));
    TestUnit a, b;
    vm.Connect(outs[5], ins[2], &a);
    vm.Connect(outs[63], ins[0], &b);

    COrvexMIDI midi;
    ASSERT_EQ(midi.Open(), 0);

    struct {
        int device;
        Bytes probe;
    } probes[] = {
        {0, Probe(0x6A, 0x00)}, {5, Probe(0x6A, 0x14)}, {31, Probe(0x6A, 0x7C)},
        {32, Probe(0x6B, 0x00)}, {63, Probe(0x6B, 0x7C)},
    };
    for (const auto& p : probes) {
        ASSERT_EQ(vm.SentBlocks(outs[p.device]).size(), 1u) << p.device;
        EXPECT_EQ(vm.SentBlocks(outs[p.device])[0], p.probe) << p.device;
    }
    // The unit on output 5 answered 72 14: register 69, output device 5.
    EXPECT_EQ(a.received, Probe(0x6A, 0x14));

    uint16_t count = 0, current = 0;
    midi.GetNumConnections(&count);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(Description(midi, 0), "Out 63");  // input 0 comes first
    EXPECT_EQ(Description(midi, 1), "Out 5");
    midi.GetCurrentConnection(&current);
    EXPECT_EQ(current, orvex::kTransportNoConnection);
    EXPECT_EQ(vm.OpenHandles(), 0);

    std::string log = LogText();
    EXPECT_NE(log.find("Found Out Port [Out 0]"), std::string::npos);
    EXPECT_NE(log.find("Found In Port [In 1]"), std::string::npos);
    EXPECT_NE(log.find("COrvexMIDI::WaitForDone Timeout! Elapsed 501 Timeout 500"), std::string::npos);
    EXPECT_NE(log.find("COrvexMIDI::Open: Input WaitForDone Timeout!"), std::string::npos);

    ASSERT_EQ(midi.SelectConnection(1), 0);
    EXPECT_TRUE(midi.IsOpen());
    EXPECT_TRUE(vm.IsOpen(outs[5]) && vm.IsOpen(ins[2]));
    EXPECT_EQ(midi.SelectConnection(1), 0);  // current: nothing is touched
    EXPECT_EQ(vm.CallCount(Call::OutOpen, outs[5]), 2u);
    EXPECT_EQ(midi.SetSlotTarget(true), 1);

    // Opening again while connected closes the pair first, so its ports can be probed.
    ASSERT_EQ(midi.Open(), 0);
    midi.GetNumConnections(&count);
    EXPECT_EQ(count, 2);
    EXPECT_FALSE(midi.IsOpen());
    EXPECT_EQ(vm.OpenHandles(), 0);
    EXPECT_EQ(vm.SentBlocks(outs[5]).size(), 2u);
}

TEST_F(MidiTransportTest, OnlyDevicesBelow64AreLookedAt) {
    std::vector<int> outs, ins;
    for (int d = 0; d < 70; ++d) outs.push_back(vm.AddOutPort("Out " + std::to_string(d)));
    for (int d = 0; d < 70; ++d) ins.push_back(vm.AddInPort("In " + std::to_string(d)));
    TestUnit seen, beyondOut, beyondIn;
    vm.Connect(outs[63], ins[63], &seen);
    vm.Connect(outs[66], ins[1], &beyondOut);
    vm.Connect(outs[2], ins[67], &beyondIn);

    COrvexMIDI midi;
    ASSERT_EQ(midi.Open(), 0);
    uint16_t count = 0;
    midi.GetNumConnections(&count);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(Description(midi, 0), "Out 63");
    for (int d = 64; d < 70; ++d) {
        EXPECT_EQ(vm.CallCount(Call::OutGetDevCaps, outs[d]), 0u) << d;
        EXPECT_EQ(vm.CallCount(Call::InGetDevCaps, ins[d]), 0u) << d;
        EXPECT_TRUE(vm.SentBlocks(outs[d]).empty()) << d;
    }
    EXPECT_TRUE(beyondOut.received.empty());
    EXPECT_FALSE(beyondIn.received.empty());  // probed, but its answer goes to input 67
}

TEST_F(MidiTransportTest, OnlyAWellFormedAnswerForAProbedOutputMakesAConnection) {
    // Register 64 + d in bytes 4-5 of a one-register short response.
    auto answer = [](int reg, size_t length = 10, uint8_t id3 = 0x6B, uint8_t type = 0x70) {
        Bytes b = {0xF0, 0x00, 0x01, id3, uint8_t(type | (reg >> 5)), uint8_t((reg & 0x1F) << 2), 0x00};
        while (b.size() + 1 < length) b.push_back(0x00);
        b.push_back(0xF7);
        return b;
    };
    struct Case {
        const char* what;
        Bytes canned;
        const char* connectsTo;  // output name, or null for none
    } cases[] = {
        {"answer for output 1", answer(65), "Out B"},
        {"answer naming output 0", answer(64), "Out A"},
        {"9 bytes", answer(65, 9), nullptr},
        {"11 bytes", answer(65, 11), nullptr},
        {"other manufacturer", answer(65, 10, 0x6C), nullptr},
        {"a status request", answer(65, 10, 0x6B, 0x68), nullptr},
        {"register 9 reported by a busy unit", answer(9), nullptr},
        {"an output that was not probed (synth)", answer(66), nullptr},
        {"an output that does not exist", answer(64 + 40), nullptr},
    };
    int outA = vm.AddOutPort("Out A");
    int outB = vm.AddOutPort("Out B");
    vm.AddOutPort("Synth", false);
    int in = vm.AddInPort("In");
    (void)outA;
    for (const auto& c : cases) {
        TestUnit unit;
        unit.canned = c.canned;
        vm.Connect(outB, in, &unit);
        COrvexMIDI midi;
        uint16_t status = midi.Open();
        uint16_t count = 0;
        midi.GetNumConnections(&count);
        if (c.connectsTo) {
            EXPECT_EQ(status, 0) << c.what;
            ASSERT_EQ(count, 1) << c.what;
            EXPECT_EQ(Description(midi, 0), c.connectsTo) << c.what;
        } else {
            EXPECT_EQ(status, 1) << c.what;
            EXPECT_EQ(count, 0) << c.what;
        }
        EXPECT_EQ(vm.OpenHandles(), 0) << c.what;
        vm.Connect(outB, in, nullptr);
    }
}

TEST_F(MidiTransportTest, AllInputsShareOneDeadline) {
    int out = vm.AddOutPort("Out");
    std::vector<int> ins;
    for (int i = 0; i < 4; ++i) ins.push_back(vm.AddInPort("In " + std::to_string(i)));
    // Input 0 hears nothing. Inputs 1, 2 and 3 hear an answer naming output 0
    // at 100, 450 and 600 ms, sent by units whose own outputs are synthesizer
    // ports (never probed).
    TestUnit silent;
    silent.answers = false;
    vm.Connect(out, ins[0], &silent);
    uint64_t start = plat::ClockMicros();
    TestUnit late[3];
    const uint64_t delays[3] = {100 * kMs, 450 * kMs, 600 * kMs};
    Bytes answer = {0xF0, 0x00, 0x01, 0x6B, 0x72, 0x00, 0x00, 0x00, 0x00, 0xF7};  // names output 0
    for (int i = 0; i < 3; ++i) {
        int pseudoOut = vm.AddOutPort("Unused " + std::to_string(i), false);  // not probed
        vm.Connect(pseudoOut, ins[i + 1], &late[i]);
        late[i].SendAt(start + delays[i], answer);
    }

    COrvexMIDI midi;
    ASSERT_EQ(midi.Open(), 0);
    uint64_t took = plat::ClockMicros() - start;
    EXPECT_GE(took, 500 * kMs);
    EXPECT_LT(took, 520 * kMs);  // not 500 ms for each input
    uint16_t count = 0;
    midi.GetNumConnections(&count);
    EXPECT_EQ(count, 2);  // inputs 1 and 2: done before their first look
    std::string log = LogText();
    size_t first = log.find("Input WaitForDone Timeout!");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find("Input WaitForDone Timeout!", first + 1), std::string::npos);  // input 3 too
}

TEST_F(MidiTransportTest, CandidatesByPortKindNameFilterAndVirtualMidiSuffix) {
    struct Port {
        const char* name;
        bool hardware;
    };
    const Port outPorts[] = {{"Orvex USB MIDI", true},    {"Loop Virtual MIDI", true}, {"Virtual MIDI Loop", true},
                             {"GS Wavetable Synth", false}, {"MIDI", true}};
    const char* inPorts[] = {"Orvex USB MIDI", "Loop Virtual MIDI", "GS Wavetable Synth", "Virtual MIDI"};
    struct Case {
        const char* filter;
        std::vector<int> probedOuts, openedIns;
        const char* logText;
    } cases[] = {
        {"", {0, 2, 4}, {0, 2}, "Found Out Port [Virtual MIDI Loop]"},
        {"Orvex", {0}, {0}, "Found In Port [Orvex USB MIDI]"},
        {"orvex", {}, {}, "COrvexMIDI::Open: No Output Ports"},
        {"Loop", {}, {}, "COrvexMIDI::Open: No Input Ports"},  // probes need an input first
        {"Synth", {}, {}, "COrvexMIDI::Open: No Output Ports"},
    };
    for (const auto& c : cases) {
        VirtualMidi local;
        local.Install();
        std::vector<int> outs, ins;
        for (const auto& p : outPorts) outs.push_back(local.AddOutPort(p.name, p.hardware));
        for (const char* n : inPorts) ins.push_back(local.AddInPort(n));
        size_t logStart = LogText().size();
        COrvexMIDI midi;
        midi.SetPortNameFilter(c.filter);
        EXPECT_EQ(midi.Open(), 1) << c.filter;  // nothing answers
        for (size_t i = 0; i < outs.size(); ++i) {
            bool probed = std::find(c.probedOuts.begin(), c.probedOuts.end(), int(i)) != c.probedOuts.end();
            EXPECT_EQ(local.SentBlocks(outs[i]).size(), probed ? 1u : 0u) << c.filter << " out " << i;
        }
        for (size_t i = 0; i < ins.size(); ++i) {
            bool opened = std::find(c.openedIns.begin(), c.openedIns.end(), int(i)) != c.openedIns.end();
            EXPECT_EQ(local.CallCount(Call::InOpen, ins[i]), opened ? 1u : 0u) << c.filter << " in " << i;
        }
        EXPECT_NE(LogText().find(c.logText, logStart), std::string::npos) << c.filter;
        EXPECT_EQ(local.OpenHandles(), 0);
    }
    vm.Install();
}

TEST_F(MidiTransportTest, MessagesArriveInRoundRobinBuffersAndSplitAcrossThem) {
    auto message = [](size_t length, uint8_t fill) {
        Bytes m(length, fill);
        m.front() = 0xF0;
        m.back() = 0xF7;
        return m;
    };
    // A long response for registers 1024-2047 is 1182 bytes.
    Bytes values(1024, 0x5A);
    Bytes big = orvex::EncodeStatusResponse(1024, values.data(), 1024, true);
    ASSERT_EQ(big.size(), 1182u);
    struct Case {
        const char* what;
        std::vector<Bytes> sent;
        int32_t readSize;
        std::vector<size_t> chunks;
        uint32_t failAddBuffer;  // buffer index that cannot be armed (4: none)
    } cases[] = {
        {"one long message", {big}, 4095, {512, 512, 158}, 4},
        {"short then long", {message(10, 1), message(600, 2)}, 4095, {10, 512, 88}, 4},
        {"small reader buffer loses the rest", {message(10, 3), message(10, 4)}, 4, {4, 4}, 4},
        {"a buffer out of use is passed over", {message(10, 5), message(10, 6), message(10, 7)}, 4095, {10, 10, 10}, 1},
    };
    for (const auto& c : cases) {
        VirtualMidi local;
        local.Install();
        int out = local.AddOutPort("Out");
        int in = local.AddInPort("In");
        TestUnit unit;
        local.Connect(out, in, &unit);
        COrvexMIDI midi;
        ASSERT_EQ(midi.Open(), 0) << c.what;
        if (c.failAddBuffer < 4) local.FailCalls(Call::InAddBuffer, in, c.failAddBuffer, 1, 1);
        ASSERT_EQ(midi.SelectConnection(0), 0) << c.what;
        Bytes all;
        for (const Bytes& m : c.sent) {
            unit.SendAt(plat::ClockMicros(), m);
            all.insert(all.end(), m.begin(), m.end());
        }
        plat::Sleep(10);
        local.Pump();
        std::vector<Bytes> chunks = ReadAll(midi, c.readSize);
        ASSERT_EQ(chunks.size(), c.chunks.size()) << c.what;
        Bytes got;
        for (size_t i = 0; i < chunks.size(); ++i) {
            EXPECT_EQ(chunks[i].size(), c.chunks[i]) << c.what << " chunk " << i;
            got.insert(got.end(), chunks[i].begin(), chunks[i].end());
        }
        if (c.readSize >= 512) {
            EXPECT_EQ(got, all) << c.what;
        } else {
            EXPECT_EQ(chunks[0], Bytes(c.sent[0].begin(), c.sent[0].begin() + 4));
            EXPECT_EQ(chunks[1], Bytes(c.sent[1].begin(), c.sent[1].begin() + 4));
        }
        // The buffers keep coming round.
        unit.SendAt(plat::ClockMicros(), message(20, 9));
        plat::Sleep(10);
        local.Pump();
        std::vector<Bytes> again = ReadAll(midi);
        ASSERT_EQ(again.size(), 1u) << c.what;
        EXPECT_EQ(again[0], message(20, 9)) << c.what;
        midi.Close();
        EXPECT_EQ(local.OpenHandles(), 0) << c.what;
    }
    vm.Install();
}

TEST_F(MidiTransportTest, WriteTimeOutIsPointSixFourMillisecondsAByte) {
    struct Case {
        int32_t length;
        uint32_t bytesPerSecond;
        bool ok;
        const char* logText;  // on a time-out
    } cases[] = {
        {100, 1600, true, nullptr},
        {100, 1500, false, "COrvexMIDI::WaitForDone Timeout! Elapsed 65 Timeout 64"},
        {8, 1700, true, nullptr},
        {8, 1000, false, "COrvexMIDI::WaitForDone Timeout! Elapsed 6 Timeout 5"},
        {1, 0, true, nullptr},
        {1, 500, false, "COrvexMIDI::WaitForDone Timeout! Elapsed 1 Timeout 0"},
        {152, VirtualMidi::kDinBytesPerSecond, true, nullptr},
    };
    EXPECT_EQ(COrvexMIDI::WriteTimeoutMs(100), 64u);
    EXPECT_EQ(COrvexMIDI::WriteTimeoutMs(8), 5u);
    EXPECT_EQ(COrvexMIDI::WriteTimeoutMs(1), 0u);

    int out = vm.AddOutPort("Out");
    int in = vm.AddInPort("In");
    TestUnit unit;
    vm.Connect(out, in, &unit);
    COrvexMIDI midi;
    ASSERT_EQ(midi.Open(), 0);
    ASSERT_EQ(midi.SelectConnection(0), 0);
    for (const auto& c : cases) {
        vm.SetByteRate(out, c.bytesPerSecond);
        Bytes block(size_t(c.length), 0x11);
        size_t logStart = LogText().size();
        size_t sentBefore = vm.SentBlocks(out).size();
        EXPECT_EQ(midi.Write(block.data(), c.length), c.ok ? 0 : 1) << c.length << " at " << c.bytesPerSecond;
        EXPECT_EQ(vm.SentBlocks(out).size(), sentBefore + 1);
        // Handed back either way (a time-out resets the port), so the next block can go.
        EXPECT_EQ(vm.QueuedHeaders(out), 0);
        std::string log = LogText().substr(logStart);
        if (c.logText) {
            EXPECT_NE(log.find(c.logText), std::string::npos) << log;
            EXPECT_NE(log.find("COrvexMIDI::Write: WaitForDone Timeout!"), std::string::npos) << log;
        } else {
            EXPECT_EQ(log, "");
        }
    }
    midi.Close();
    EXPECT_EQ(midi.Write(Bytes{0xF0, 0xF7}.data(), 2), 1);
    EXPECT_NE(LogText().find("COrvexMIDI::Write: hMidiOut is NULL!"), std::string::npos);
}

// The writer's thread held up between looking at the block and reading the
// clock: the reading is past the deadline, but the block went out in time.
uint64_t g_heldUpMicros = 0;
int g_readingsBeforeHoldUp = 0;  // the wait's start is read first
uint32_t ORVEX_WINAPI HeldUpTimeGetTime() {
    if (g_heldUpMicros && g_readingsBeforeHoldUp-- == 0) plat::AdvanceVirtualClock(std::exchange(g_heldUpMicros, 0));
    return VirtualMidi::Api().timeGetTime();
}

TEST_F(MidiTransportTest, AWaitHeldUpPastItsDeadlineDoesNotFailABlockThatIsDone) {
    int out = vm.AddOutPort("Out");
    int in = vm.AddInPort("In");
    TestUnit unit;
    vm.Connect(out, in, &unit);
    winmm::WinMMApi api = VirtualMidi::Api();
    api.timeGetTime = HeldUpTimeGetTime;
    COrvexMIDI::SetWinMMApi(&api);
    COrvexMIDI midi;
    ASSERT_EQ(midi.Open(), 0);
    ASSERT_EQ(midi.SelectConnection(0), 0);
    vm.SetByteRate(out, VirtualMidi::kDinBytesPerSecond);  // 8 bytes: 2.56 ms of a 5 ms wait
    for (uint64_t heldUp : {20 * kMs, uint64_t{0}}) {
        Bytes block(8, 0x11);
        size_t logStart = LogText().size();
        g_heldUpMicros = heldUp;
        g_readingsBeforeHoldUp = 1;
        EXPECT_EQ(midi.Write(block.data(), 8), 0) << heldUp;
        EXPECT_EQ(LogText().substr(logStart), "") << heldUp;
    }
    midi.Close();
    COrvexMIDI::SetWinMMApi(&VirtualMidi::Api());
}

TEST_F(MidiTransportTest, UnplugDuringAWriteClosesThePairAndOpenFindsTheUnitAgain) {
    int out = vm.AddOutPort("Out");
    int in = vm.AddInPort("In");
    TestUnit unit;
    vm.Connect(out, in, &unit);
    COrvexMIDI midi;
    ASSERT_EQ(midi.Open(), 0);
    ASSERT_EQ(midi.SelectConnection(0), 0);
    vm.SetByteRate(out, VirtualMidi::kDinBytesPerSecond);
    unit.received.clear();

    // 152 bytes take 48.6 ms on the cable; the cable is pulled after 10 ms.
    // The driver of the vanished port keeps the block through the reset, and
    // gives it back only when the port is closed.
    vm.UnplugAt(out, plat::ClockMicros() + 10 * kMs);
    {
        Bytes packet(152, 0x22);  // the caller's bytes go away right after the call
        EXPECT_EQ(midi.Write(packet.data(), 152), 1);
    }
    EXPECT_GT(unit.received.size(), 0u);
    EXPECT_LT(unit.received.size(), 152u);
    std::string log = LogText();
    EXPECT_NE(log.find("COrvexMIDI::WaitForDone Timeout! Elapsed 98 Timeout 97"), std::string::npos) << log;
    EXPECT_NE(log.find("COrvexMIDI::Write: midiOutReset Failed! 6"), std::string::npos) << log;
    EXPECT_NE(log.find("COrvexMIDI::Write: Port keeps the block, closing the connection"), std::string::npos) << log;
    EXPECT_FALSE(midi.IsOpen());
    EXPECT_EQ(vm.OpenHandles(), 0);
    EXPECT_EQ(vm.QueuedHeaders(-1), 0);
    uint16_t current = 0;
    midi.GetCurrentConnection(&current);
    EXPECT_EQ(current, 0);

    Bytes next(8, 0x33);
    EXPECT_EQ(midi.Write(next.data(), 8), 1);
    EXPECT_NE(LogText().find("COrvexMIDI::Write: hMidiOut is NULL!"), std::string::npos);

    // The caller's recovery: open again (nothing to find while unplugged), then after replugging.
    EXPECT_EQ(midi.Open(), 1);
    EXPECT_NE(LogText().find("COrvexMIDI::Open: No Output Ports"), std::string::npos);
    vm.Plug(out);
    ASSERT_EQ(midi.Open(), 0);
    ASSERT_EQ(midi.SelectConnection(0), 0);
    EXPECT_EQ(midi.Write(next.data(), 8), 0);
    midi.Close();
    EXPECT_EQ(vm.OpenHandles(), 0);
}

TEST_F(MidiTransportTest, ABlockHeldByAPortThatWillNotCloseOutlivesTheTransport) {
    int out = vm.AddOutPort("Out");
    int in = vm.AddInPort("In");
    TestUnit unit;
    vm.Connect(out, in, &unit);
    {
        COrvexMIDI midi;
        ASSERT_EQ(midi.Open(), 0);
        ASSERT_EQ(midi.SelectConnection(0), 0);
        vm.SetByteRate(out, VirtualMidi::kDinBytesPerSecond);
        vm.UnplugAt(out, plat::ClockMicros() + 10 * kMs);
        vm.FailCalls(Call::OutClose, out, 0, 2, 1);  // the close and its retry
        Bytes packet(152, 0x22);
        EXPECT_EQ(midi.Write(packet.data(), 152), 1);
        EXPECT_NE(LogText().find("midiOutClose Failed! 1"), std::string::npos);
        EXPECT_FALSE(midi.IsOpen());

        // The transport carries on with buffers of its own.
        vm.Plug(out);
        ASSERT_EQ(midi.Open(), 0);
        ASSERT_EQ(midi.SelectConnection(0), 0);
        EXPECT_EQ(midi.Write(packet.data(), 152), 0);
        midi.Close();
    }
    // The driver still holds the first block after the transport has gone,
    // and hands it back (writes its flags) when the system goes at the end of
    // the test: memory the address sanitizer watches.
    EXPECT_EQ(vm.QueuedHeaders(out), 1);
    EXPECT_EQ(vm.OpenHandles(), 1);  // a port that refuses to close stays open
}

TEST_F(MidiTransportTest, NoPortStaysOpenWhenOpenOrSelectionFails) {
    struct Case {
        Call call;
        uint32_t skip, count;
        bool select;  // the failure is meant for SelectConnection
        uint16_t status;
        const char* logText;
    } cases[] = {
        {Call::InPrepareHeader, 1, 1, false, 1, "midiInPrepareHeader Failed!"},
        {Call::InAddBuffer, 1, 1, false, 1, "midiInAddBuffer Failed!"},
        {Call::InStart, 1, 1, false, 1, "midiInAddBuffer Failed!"},
        {Call::OutPrepareHeader, 1, 1, false, 1, "COrvexMIDI::Open: Write Failed! 00000001"},
        {Call::OutLongMsg, 0, 1, false, 1, "COrvexMIDI::Write: midiOutLongMsg [1] Failed!"},
        // Input 0 hears nothing and is closed first, unchecked; input 1's calls fail.
        {Call::InReset, 1, 1, false, 1, "midiInReset Failed!"},
        {Call::InStop, 1, 1, false, 1, "midiInStop Failed! 1"},
        {Call::InClose, 1, 1, false, 1, "midiInClose Failed!"},
        {Call::OutClose, 0, 1, false, 0, nullptr},  // closed on the second try
        {Call::OutOpen, 2, 1, true, 1, "midiOutOpen [1] Failed!"},
        {Call::InOpen, 2, 1, true, 1, "midiInOpen [1] Failed!"},
        {Call::InStart, 2, 1, true, 1, "COrvexMIDI::SelectConnection: midiInStart Failed 1"},
    };
    for (const auto& c : cases) {
        VirtualMidi local;
        local.Install();
        local.AddOutPort("Out 0");
        int out = local.AddOutPort("Out 1");
        local.AddInPort("In 0");
        int in = local.AddInPort("In 1");
        TestUnit unit;
        local.Connect(out, in, &unit);
        local.FailCalls(c.call, -1, c.skip, c.count, 1);
        size_t logStart = LogText().size();
        COrvexMIDI midi;
        uint16_t status = midi.Open();
        if (c.select) {
            ASSERT_EQ(status, 0);
            status = midi.SelectConnection(0);
            EXPECT_FALSE(midi.IsOpen());
        }
        const int index = int(&c - cases);
        EXPECT_EQ(status, c.status) << index;
        if (c.logText) {
            EXPECT_NE(LogText().find(c.logText, logStart), std::string::npos) << index << LogText().substr(logStart);
        } else {
            EXPECT_EQ(LogText().find("Failed", logStart), std::string::npos) << index << LogText().substr(logStart);
        }
        EXPECT_EQ(local.OpenHandles(), 0) << index;
        EXPECT_EQ(local.QueuedHeaders(-1), 0) << index;
        // Nothing stays busy: the next attempt finds the unit.
        EXPECT_EQ(midi.Open(), 0) << index;
        EXPECT_EQ(midi.SelectConnection(0), 0) << index;
        midi.Close();
        EXPECT_EQ(local.OpenHandles(), 0) << index;
    }
    vm.Install();
}

TEST_F(MidiTransportTest, TraceFileHasOneLinePerBlockInBothDirections) {
    std::string path = dir / "midi.trace";
    setenv("ORVEX_MIDI_TRACE", path.c_str(), 1);
    {
        VirtualMidi traced;
        traced.Install();
        int out = traced.AddOutPort("Out");
        int in = traced.AddInPort("In");
        TestUnit unit;
        traced.Connect(out, in, &unit);
        COrvexMIDI midi;
        ASSERT_EQ(midi.Open(), 0);
        ASSERT_EQ(midi.SelectConnection(0), 0);
        Bytes request = orvex::EncodeStatusRequest(1, 23, false);
        ASSERT_EQ(midi.Write(request.data(), int32_t(request.size())), 0);
        plat::Sleep(5);
        traced.Pump();
        ASSERT_EQ(ReadAll(midi).size(), 1u);
        midi.Close();
    }
    unsetenv("ORVEX_MIDI_TRACE");
    vm.Install();

    const std::regex line(R"((\d+)\.(\d{3}) (OUT|IN) (\d+)((?: [0-9A-F]{2})+))");
    std::istringstream text(ReadFileText(path));
    std::vector<std::string> directions, bytes;
    double last = 0;
    for (std::string l; std::getline(text, l);) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, line)) << l;
        double t = std::stod(m[1].str() + "." + m[2].str());
        EXPECT_GE(t, last);
        last = t;
        EXPECT_EQ(m[4], "0");
        directions.push_back(m[3]);
        bytes.push_back(m[5].str().substr(1));
    }
    ASSERT_EQ(directions, (std::vector<std::string>{"OUT", "IN", "OUT", "IN"}));
    EXPECT_EQ(bytes[0], "F0 00 01 6B 6A 00 00 F7");        // the probe
    EXPECT_EQ(bytes[1].substr(0, 17), "F0 00 01 6B 72 00");  // its answer
    EXPECT_EQ(bytes[2], "F0 00 01 6B 68 04 2E F7");        // registers 1-24
    EXPECT_EQ(bytes[3].size(), 36u * 3 - 1);                // a 36-byte response
}

}  // namespace

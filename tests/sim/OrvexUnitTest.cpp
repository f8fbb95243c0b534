// The emulated converter, driven with real protocol bytes and read back
// through the host's own decoder, on a virtual clock.
#include "sim/OrvexUnit.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/RemoteMessages.h"

namespace {

using sim::OrvexUnit;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kMs = 1000;

struct Response {
    uint64_t at;
    uint16_t first;
    Bytes values;
};

// One unit on a cable, the host's side of it and a virtual clock.
class Rig {
public:
    explicit Rig(const OrvexUnit::Config& config) : unit(config) {}

    void Send(const Bytes& bytes) { unit.Receive(bytes.data(), bytes.size(), now); }
    void Cmd(uint8_t command) { Send(orvex::EncodeCommand(command)); }
    void Write(uint16_t reg, uint8_t value, bool longForm = false) {
        Send(orvex::EncodeRegisterWrite(reg, value, longForm));
    }
    void Step(uint64_t micros) {
        now += micros;
        Pump();
    }
    // Collects what the unit sent; every message must pass the host's decoder.
    void Pump() {
        Bytes out;
        unit.Transmit(now, out);
        raw.insert(raw.end(), out.begin(), out.end());
        struct Sink : orvex::IResponseSink {
            std::vector<Response>* log = nullptr;
            uint64_t at = 0;
            void CountResponse() override {}
            void StoreRegisters(uint16_t first, uint32_t count, const uint8_t* values) override {
                log->push_back({at, first, Bytes(values, values + count)});
            }
        } sink;
        sink.log = &log;
        sink.at = now;
        size_t start = 0;
        for (size_t i = 0; i < out.size(); ++i) {
            if (out[i] == orvex::kSysexStart) start = i;
            if (out[i] == orvex::kSysexEnd) {
                const size_t before = log.size();
                EXPECT_EQ(orvex::DecodeMessage(&out[start], static_cast<uint32_t>(i + 1 - start), &sink), 0);
                EXPECT_EQ(log.size(), before + 1) << "not a status response";
            }
        }
    }
    // A status request and its answer, if one came.
    std::optional<Bytes> Read(uint16_t first, uint16_t last, bool longForm = false) {
        const size_t seen = log.size();
        Send(orvex::EncodeStatusRequest(first, static_cast<uint16_t>(last - first), longForm));
        Pump();
        for (size_t i = seen; i < log.size(); ++i)
            if (log[i].first == first) return log[i].values;
        return std::nullopt;
    }
    uint8_t Reg(uint16_t reg) {
        const auto values = Read(reg, reg, reg > 511);  // the short form reaches 511
        EXPECT_TRUE(values.has_value());
        return values ? values->at(0) : 0xEE;
    }

    OrvexUnit unit;
    uint64_t now = 0;
    Bytes raw;
    std::vector<Response> log;
};

OrvexUnit::Config Orvex16() {
    OrvexUnit::Config c;
    c.deviceId = 38;
    c.pcbRevision = 2;
    c.bankRevision = {28, 27};
    c.runningBank = 0;
    c.serial = 0x2617232A;  // year 17, week 50, number 810
    c.eraseMicros = 100 * kMs;
    c.packetMicros = 2 * kMs;
    c.serialStoreMicros = 45 * kMs;
    c.reportIntervalMicros = 20 * kMs;
    return c;
}

OrvexUnit::Config WithCard(OrvexUnit::Config c) {
    c.card = {24, 15, 3, 2, 0x18154123};  // DI-ZO
    return c;
}

// An image padded with zeros to whole packets, as the updater sends it; its
// first bytes carry the revision the unit reports for it.
Bytes MakeImage(uint32_t size, uint8_t revision, uint8_t revision2) {
    Bytes image((size + 127) / 128 * 128, 0);
    uint32_t x = 12345;
    for (uint32_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        image[i] = static_cast<uint8_t>(x >> 16);
    }
    image[0] = revision;
    image[1] = revision2;
    return image;
}

// The updater's status wait on the unit's own register-9 reports: completion
// mode ends on 0 or an error, verify mode on PAKRDY or an error; 0x20 on time-out.
uint8_t WaitStatus(Rig& r, uint8_t image9, uint64_t limit, bool verify, Bytes* readBack = nullptr) {
    size_t seen = r.log.size();
    for (uint64_t waited = 0; waited <= limit; waited += kMs) {
        r.Step(kMs);
        for (; seen < r.log.size(); ++seen) {
            const Response& resp = r.log[seen];
            if (verify && resp.first == 128 && resp.values.size() == 128) {
                if (readBack) *readBack = resp.values;
                image9 |= 0x08;
            } else if (resp.first <= 9 && resp.first + resp.values.size() > 9) {
                image9 = resp.values[9 - resp.first];
            }
        }
        const uint8_t s = image9 & 0x3F;
        if (verify ? (s & 0x0E) != 0 : ((s & 0x06) != 0 || s == 0)) return s;
    }
    return 0x20;
}

struct Outcome {
    std::string failedStep;  // empty on success
    uint32_t packet = 0;
    uint8_t flags = 0;
};

void SendPacket(Rig& r, const uint8_t* data, bool crc) {
    r.Cmd(orvex::kCmdPrefix);
    r.Cmd(orvex::kCmdPacketFollows);
    if (crc) r.Write(52, orvex::PacketCrc8(data, 128));
    r.Send(orvex::EncodeFirmwarePacket(data, 128));
}

// The updater's programming sequence, message for message.
Outcome Program(Rig& r, const Bytes& image, bool card, bool crc, bool complete = true) {
    if (card) r.Write(5, 0x10);
    const uint8_t r9 = r.Reg(9);
    r.Cmd((r9 & 0x80) != 0 ? orvex::kCmdSelectBank1 : orvex::kCmdSelectBank2);
    r.Cmd(orvex::kCmdPrefix);
    r.Cmd(orvex::kCmdErase);
    if (uint8_t s = WaitStatus(r, 0x01, 12000 * kMs, false)) return {"erase", 0, s};
    const uint32_t packets = static_cast<uint32_t>(image.size() / 128);
    for (uint32_t k = 0; k < packets; ++k) {
        SendPacket(r, &image[128 * k], crc);
        if (uint8_t s = WaitStatus(r, 0x01, 1000 * kMs, false)) return {"write", k, s};
    }
    for (uint32_t k = 0; k < packets; ++k) {
        Bytes back;
        r.Cmd(orvex::kCmdVerifyPacket);
        if (uint8_t s = WaitStatus(r, 0x00, 1000 * kMs, true, &back); s != 0x08) return {"verify", k, s};
        if (!std::equal(back.begin(), back.end(), image.begin() + 128 * k)) return {"compare", k, 0};
    }
    if (complete) r.Cmd((r9 & 0x80) != 0 ? orvex::kCmdCompleteBank2Active : orvex::kCmdCompleteBank1Active);
    return {};
}

// ---- identity, framing, registers ----

TEST(OrvexUnit, IdentityReadAnswersExactBytesWhateverTheSplit) {
    OrvexUnit::Config c = WithCard(Orvex16());
    c.bankRevision = {29, 31};
    c.runningBank = 1;
    c.modelBits = 0;  // register 7 stays 0 in the hand-packed answer below
    const Bytes expected = {0xF0, 0x00, 0x01, 0x6B, 0x70, 0x04, 0x2E, 0x13, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x20, 0x0B, 0x72, 0x39, 0x48, 0x22, 0x2A, 0x01,
                            0x46, 0x01, 0x70, 0x10, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7};
    const Bytes req = orvex::EncodeStatusRequest(1, 23, false);
    ASSERT_EQ(req, (Bytes{0xF0, 0x00, 0x01, 0x6B, 0x68, 0x04, 0x2E, 0xF7}));

    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    Bytes withClock = req;
    withClock.insert(withClock.begin() + 5, 0xF8);  // MIDI clock inside the message
    const Bytes truncated(req.begin(), req.begin() + 5);
    struct Case {
        const char* name;
        Bytes stream;
        size_t chunk;  // bytes per Receive call
        int answers;
    } cases[] = {
        {"whole", req, 64, 1},
        {"byte by byte", req, 1, 1},
        {"garbage around", cat({{0x12, 0x7F, 0x90, 0x40}, req, {0x00, 0xF7, 0x33}}), 3, 1},
        {"real-time byte inside", withClock, 2, 1},
        {"restart after a cut-off message", cat({truncated, req}), 5, 1},
        {"status byte aborts", cat({truncated, {0x90}, {0x01, 0x6B, 0x68, 0x04, 0x2E, 0xF7}}), 64, 0},
        {"two in one call", cat({req, req}), 64, 2},
        {"endless noise then a request", cat({{0xF0}, Bytes(400, 0x11), req}), 50, 1},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        Rig r(c);
        for (size_t i = 0; i < tc.stream.size(); i += tc.chunk)
            r.unit.Receive(&tc.stream[i], std::min(tc.chunk, tc.stream.size() - i), r.now);
        r.Pump();
        Bytes want;
        for (int i = 0; i < tc.answers; ++i) want.insert(want.end(), expected.begin(), expected.end());
        EXPECT_EQ(r.raw, want);
    }
}

TEST(OrvexUnit, WritesAndRangesIncludingTheLongForm) {
    Rig r(Orvex16());
    struct Write {
        uint16_t reg;
        uint8_t value;
        bool longForm;
        uint8_t expect;  // what the register reads afterwards
    } writes[] = {
        {3, 0x25, false, 0x25},     {300, 0x44, false, 0x44},   {1024, 0x18, true, 0x18},
        {1500, 0x7E, true, 0x7E},   {2047, 0xA5, true, 0xA5},   {1, 0x55, false, 38},
        {9, 0x80, false, 0x00},     {10, 0x00, false, 28 | (27 & 3) << 6},
    };
    for (const Write& w : writes) r.Write(w.reg, w.value, w.longForm);
    r.Write(2048, 0x99, true);  // past the map: ignored
    for (const Write& w : writes) EXPECT_EQ(r.Reg(w.reg), w.expect) << "register " << w.reg;

    const size_t before = r.raw.size();
    const auto block = r.Read(1024, 2047, true);
    ASSERT_TRUE(block.has_value());
    EXPECT_EQ(r.raw.size() - before, 10u + (8 * 1024 + 6) / 7 + 1);  // 1182
    EXPECT_EQ(r.raw[before + 4], 0x77);
    ASSERT_EQ(block->size(), 1024u);
    for (size_t i = 0; i < block->size(); ++i) {
        const uint8_t want = i == 0 ? 0x18 : i == 476 ? 0x7E : i == 1023 ? 0xA5 : 0;
        ASSERT_EQ((*block)[i], want) << "register " << 1024 + i;
    }

    struct Range {
        uint16_t first, last;
        bool longForm;
        bool answered;
    } ranges[] = {
        {2047, 2047, true, true},  {0, 255, false, true},     {256, 511, false, true},
        {230, 240, true, true},    {230, 240, false, true},   {2000, 2100, true, false},
        {0, 4095, true, false},
        {1500, 1499, true, false},  // count wraps to 65535
    };
    for (const Range& g : ranges) {
        const auto got = r.Read(g.first, g.last, g.longForm);
        EXPECT_EQ(got.has_value(), g.answered) << g.first << "-" << g.last;
        if (got) {
            EXPECT_EQ(got->size(), size_t{g.last} - g.first + 1u);
        }
    }
}

// ---- programming ----

TEST(OrvexUnit, ProgrammingSequences) {
    struct Case {
        const char* name;
        OrvexUnit::Config config;
        uint32_t imageSize;
        bool card, crc;
        std::function<void(OrvexUnit&)> fault;
        const char* failedStep;
        uint32_t failedPacket;
        uint8_t flags;
        // after the power cycle
        uint8_t running, revision, alternate, card17, card20;
    };
    OrvexUnit::Config tavi = Orvex16();
    tavi.deviceId = 49;
    OrvexUnit::Config orvexN = Orvex16();
    orvexN.deviceId = 39;
    orvexN.variant = 96;
    const Case cases[] = {
        {"Orvex 16, full image", Orvex16(), 212392, false, false, nullptr, "", 0, 0, 1, 31, 28, 0, 0},
        {"Tavi with CRC", tavi, 1300, false, true, nullptr, "", 0, 0, 1, 31, 28, 0, 0},
        {"Orvex(n) with CRC", orvexN, 1300, false, true, nullptr, "", 0, 0, 1, 31, 28, 0, 0},
        {"XSlot card", WithCard(Orvex16()), 3000, true, false, nullptr, "", 0, 0, 0, 28, 27, 31, 9},
        {"PGMERR on packet 5", Orvex16(), 2000, false, false, [](OrvexUnit& u) { u.FailPacket(5); },
         "write", 5, 0x02, 0, 28, 0, 0, 0},
        {"corrupt read-back of packet 7", Orvex16(), 2000, false, false,
         [](OrvexUnit& u) { u.CorruptReadBack(7); }, "compare", 7, 0, 0, 28, 0, 0, 0},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        Rig r(tc.config);
        if (tc.fault) tc.fault(r.unit);
        const Bytes image = MakeImage(tc.imageSize, 31, 9);
        const Outcome out = Program(r, image, tc.card, tc.crc);
        EXPECT_EQ(out.failedStep, tc.failedStep);
        EXPECT_EQ(out.packet, tc.failedPacket);
        EXPECT_EQ(out.flags, tc.flags);
        if (!out.failedStep.empty()) {
            r.Cmd(orvex::kCmdCancel);
            EXPECT_EQ(r.Reg(9) & 0x0F, 0);
        } else {
            const Bytes& flash = r.unit.Flash(tc.card, tc.card ? 1 : 1 - tc.config.runningBank);
            EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
            EXPECT_EQ(flash[image.size()], 0xFF);  // nothing past the last packet
        }
        r.unit.PowerCycle(r.now);
        const auto id = r.Read(1, 24);
        ASSERT_TRUE(id.has_value());
        EXPECT_EQ((*id)[8] >> 7, tc.running);
        EXPECT_EQ((*id)[9] & 0x3F, tc.revision);
        EXPECT_EQ((((*id)[10] << 2) | ((*id)[9] >> 6)) & 0x3F, tc.alternate);
        EXPECT_EQ((*id)[16], tc.card17);
        EXPECT_EQ((*id)[19], tc.card20);
    }
}

TEST(OrvexUnit, RefusalsAndCommandRules) {
    const Bytes data = MakeImage(128, 31, 0);
    auto erase = [](Rig& r) {
        r.Cmd(orvex::kCmdSelectBank2);
        r.Cmd(orvex::kCmdPrefix);
        r.Cmd(orvex::kCmdErase);
        r.Step(200 * kMs);
    };
    Bytes badCheck = orvex::EncodeCommand(orvex::kCmdPrefix);
    badCheck[6] ^= 0x02;
    struct Case {
        const char* name;
        OrvexUnit::Config config;
        std::function<void(Rig&)> run;
        std::optional<uint8_t> lastReport;  // register 9 reported last, none if the unit stayed quiet
    } cases[] = {
        {"erase of the running bank", Orvex16(),
         [](Rig& r) { r.Cmd(orvex::kCmdSelectBank1); r.Cmd(orvex::kCmdPrefix); r.Cmd(orvex::kCmdErase); }, 0x02},
        {"erase with no bank selected after power on", Orvex16(),
         [](Rig& r) { r.Cmd(orvex::kCmdPrefix); r.Cmd(orvex::kCmdErase); }, 0x02},
        {"packet into the running bank", Orvex16(),
         [&](Rig& r) { r.Cmd(orvex::kCmdSelectBank1); SendPacket(r, data.data(), false); }, 0x02},
        {"packet into a bank not erased", Orvex16(),
         [&](Rig& r) { r.Cmd(orvex::kCmdSelectBank2); SendPacket(r, data.data(), false); }, 0x02},
        {"erase without command 12", Orvex16(),
         [](Rig& r) { r.Cmd(orvex::kCmdSelectBank2); r.Cmd(orvex::kCmdErase); }, std::nullopt},
        {"command 12 used up by another command", Orvex16(),
         [](Rig& r) { r.Cmd(orvex::kCmdSelectBank2); r.Cmd(orvex::kCmdPrefix); r.Cmd(orvex::kCmdRefreshAll);
                      r.Cmd(orvex::kCmdErase); }, std::nullopt},
        {"command 12 with a bad check byte", Orvex16(),
         [&](Rig& r) { r.Cmd(orvex::kCmdSelectBank2); r.Send(badCheck); r.Cmd(orvex::kCmdErase); }, std::nullopt},
        {"serial store without command 12", Orvex16(), [](Rig& r) { r.Cmd(orvex::kCmdStoreSerial); }, std::nullopt},
        {"packet not announced", Orvex16(),
         [&](Rig& r) { erase(r); r.Send(orvex::EncodeFirmwarePacket(data.data(), 128)); }, 0x04},
        {"card firmware selected, no card fitted", Orvex16(),
         [](Rig& r) { r.Write(5, 0x10); r.Cmd(orvex::kCmdSelectBank2); r.Cmd(orvex::kCmdPrefix);
                      r.Cmd(orvex::kCmdErase); }, 0x02},
        {"Orvex(n) packet whose CRC came before command 4", [] { auto c = Orvex16(); c.variant = 96; return c; }(),
         [&](Rig& r) { erase(r); r.Write(52, orvex::PacketCrc8(data.data(), 128));
                       SendPacket(r, data.data(), false); }, 0x02},
        {"Tavi packet with a wrong CRC", [] { auto c = Orvex16(); c.deviceId = 49; return c; }(),
         [&](Rig& r) { erase(r); r.Cmd(orvex::kCmdPrefix); r.Cmd(orvex::kCmdPacketFollows);
                       r.Write(52, orvex::PacketCrc8(data.data(), 128) ^ 1);
                       r.Send(orvex::EncodeFirmwarePacket(data.data(), 128)); }, 0x02},
        {"bank changed after the erase", Orvex16(),
         [&](Rig& r) { erase(r); r.Cmd(orvex::kCmdSelectBank1); SendPacket(r, data.data(), false); }, 0x02},
        {"complete with nothing written", Orvex16(),
         [&](Rig& r) { erase(r); r.Cmd(orvex::kCmdCompleteBank1Active); }, 0x02},
        {"complete names the other bank", Orvex16(),
         [&](Rig& r) { erase(r); SendPacket(r, data.data(), false); r.Step(10 * kMs);
                       r.Cmd(orvex::kCmdCompleteBank2Active); }, 0x02},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        Rig r(tc.config);
        const Bytes running = r.unit.Flash(false, 0);
        tc.run(r);
        const size_t quietFrom = r.log.size();
        r.Step(5 * kMs);
        std::optional<uint8_t> last;
        for (const Response& resp : r.log)
            if (resp.first == 9 && resp.values.size() == 1) last = resp.values[0];
        EXPECT_EQ(last, tc.lastReport);
        if (!tc.lastReport) {
            EXPECT_EQ(r.log.size(), quietFrom);
            EXPECT_FALSE(r.unit.Busy());
            EXPECT_TRUE(r.unit.BankValid(false, 1)) << "the ignored command must not have erased";
        }
        EXPECT_EQ(r.unit.Flash(false, 0), running);
        EXPECT_TRUE(r.unit.BankValid(false, 0));
        r.unit.PowerCycle(r.now);
        EXPECT_EQ(r.unit.RunningBank(), 0);
    }
}

TEST(OrvexUnit, ReportsRegister9ByItselfWhileBusy) {
    const Bytes data = MakeImage(128, 1, 0);
    struct Case {
        const char* name;
        std::function<void(Rig&)> start;
        uint64_t duration;
    } cases[] = {
        {"erase", [](Rig& r) { r.Cmd(orvex::kCmdSelectBank2); r.Cmd(orvex::kCmdPrefix); r.Cmd(orvex::kCmdErase); },
         100 * kMs},
        {"packet",
         [&](Rig& r) {
             r.Cmd(orvex::kCmdSelectBank2); r.Cmd(orvex::kCmdPrefix); r.Cmd(orvex::kCmdErase);
             r.Step(100 * kMs);
             r.log.clear();
             SendPacket(r, data.data(), false);
         },
         2 * kMs},
        {"serial store", [](Rig& r) { r.Cmd(orvex::kCmdPrefix); r.Cmd(orvex::kCmdStoreSerial); }, 45 * kMs},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        Rig r(Orvex16());
        r.now = 7 * kMs;  // any start time
        tc.start(r);
        const uint64_t start = r.now;
        for (int i = 0; i < 400; ++i) r.Step(kMs / 2);
        std::vector<Response> want;
        for (uint64_t t = 20 * kMs; t < tc.duration; t += 20 * kMs) want.push_back({start + t, 9, {0x01}});
        want.push_back({start + tc.duration, 9, {0x00}});
        ASSERT_EQ(r.log.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(r.log[i].at, want[i].at) << i;
            EXPECT_EQ(r.log[i].values, want[i].values) << i;
        }
        EXPECT_FALSE(r.unit.Busy());
    }

    // Asked while busy, register 9 shows PIP too; commands other than cancel are ignored.
    Rig r(Orvex16());
    r.Cmd(orvex::kCmdSelectBank2);
    r.Cmd(orvex::kCmdPrefix);
    r.Cmd(orvex::kCmdErase);
    r.Step(30 * kMs);
    EXPECT_EQ(r.Reg(9), 0x01);
    r.Cmd(orvex::kCmdPrefix);
    r.Cmd(orvex::kCmdErase);  // would restart the erase
    r.Step(70 * kMs);
    EXPECT_FALSE(r.unit.Busy());
    r.Cmd(orvex::kCmdPrefix);
    r.Cmd(orvex::kCmdErase);
    r.Step(30 * kMs);
    r.Cmd(orvex::kCmdCancel);
    EXPECT_EQ(r.Reg(9), 0x00);
    EXPECT_FALSE(r.unit.Busy());
    EXPECT_FALSE(r.unit.BankValid(false, 1));
}

TEST(OrvexUnit, PowerLossMidUpdateBootsTheOldBank) {
    const Bytes image = MakeImage(1280, 31, 4);
    auto startErase = [](Rig& r) {
        r.Cmd(orvex::kCmdSelectBank2);
        r.Cmd(orvex::kCmdPrefix);
        r.Cmd(orvex::kCmdErase);
    };
    struct Case {
        const char* name;
        OrvexUnit::Config config;
        std::function<void(Rig&)> run;
        bool card;
        uint8_t running, revision, card17;
    } cases[] = {
        {"during the erase", Orvex16(), [&](Rig& r) { startErase(r); r.Step(50 * kMs); }, false, 0, 28, 0},
        {"while a packet is programmed", Orvex16(),
         [&](Rig& r) {
             startErase(r);
             r.Step(100 * kMs);
             for (int k = 0; k < 4; ++k) { SendPacket(r, &image[128 * k], false); r.Step(3 * kMs); }
             SendPacket(r, &image[512], false);
             r.Step(kMs);
         },
         false, 0, 28, 0},
        {"verified, not yet complete", Orvex16(),
         [&](Rig& r) { ASSERT_EQ(Program(r, image, false, false, false).failedStep, ""); }, false, 0, 28, 0},
        {"complete, then the same bank erased again", Orvex16(),
         [&](Rig& r) { ASSERT_EQ(Program(r, image, false, false).failedStep, ""); startErase(r); r.Step(10 * kMs); },
         false, 0, 28, 0},
        {"complete", Orvex16(),
         [&](Rig& r) { ASSERT_EQ(Program(r, image, false, false).failedStep, ""); }, false, 1, 31, 0},
        {"card, during its packets", WithCard(Orvex16()),
         [&](Rig& r) {
             r.Write(5, 0x10);
             startErase(r);
             r.Step(100 * kMs);
             SendPacket(r, image.data(), false);
             r.Step(kMs);
         },
         true, 0, 28, 15},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        Rig r(tc.config);
        tc.run(r);
        r.unit.PowerCycle(r.now);
        EXPECT_FALSE(r.unit.Busy());
        const auto id = r.Read(1, 24);
        ASSERT_TRUE(id.has_value());
        EXPECT_EQ((*id)[8], tc.running << 7);
        EXPECT_EQ((*id)[9] & 0x3F, tc.revision);
        EXPECT_EQ((*id)[16], tc.card17);
        EXPECT_EQ((*id)[4] & 0x10, 0) << "card firmware selection does not survive the power cycle";
        // The unit still answers and can be updated afresh.
        const Outcome again = Program(r, MakeImage(256, 33, 5), tc.card, false);
        EXPECT_EQ(again.failedStep, "");
    }
}

TEST(OrvexUnit, SerialNumbersAreStoredOnlyByCommand10) {
    const OrvexUnit::Config c = WithCard(Orvex16());
    Rig r(c);
    const Bytes unitOld = {0x32, 0x11, 0x2A, 0x03};
    const Bytes cardOld = {0x14, 0x11, 0x23, 0x01};  // 0x18154123: year 17, week 20, number 291
    EXPECT_EQ(r.Read(12, 15), unitOld);
    EXPECT_EQ(r.Read(28, 31), cardOld);

    const Bytes unitNew = {0x05, 0x16, 0x99, 0x0F};
    const Bytes cardNew = {0x30, 0x23, 0x01, 0x02};
    auto writeBoth = [&] {
        for (uint16_t i = 0; i < 4; ++i) {
            r.Write(12 + i, unitNew[i]);
            r.Write(28 + i, cardNew[i]);
        }
    };
    writeBoth();
    EXPECT_EQ(r.Read(12, 15), unitNew);  // reads back at once, as the host checks before command 10
    EXPECT_EQ(r.Read(28, 31), cardNew);
    r.unit.PowerCycle(r.now);
    EXPECT_EQ(r.Read(12, 15), unitOld);
    EXPECT_EQ(r.Read(28, 31), cardOld);

    writeBoth();
    r.Cmd(orvex::kCmdPrefix);
    r.Cmd(orvex::kCmdStoreSerial);
    EXPECT_EQ(WaitStatus(r, 0x01, 1000 * kMs, false), 0);
    EXPECT_EQ(r.now, 45 * kMs);
    r.unit.PowerCycle(r.now);
    EXPECT_EQ(r.Read(12, 15), unitNew);
    EXPECT_EQ(r.Read(28, 31), cardNew);

    // Power lost during the store keeps the numbers stored before.
    for (const uint64_t cut : {44 * kMs, 45 * kMs}) {
        for (uint16_t i = 0; i < 4; ++i) r.Write(12 + i, unitOld[i]);
        r.Cmd(orvex::kCmdPrefix);
        r.Cmd(orvex::kCmdStoreSerial);
        r.now += cut;  // no Transmit in between: the power cycle itself finishes what was due
        r.unit.PowerCycle(r.now);
        EXPECT_EQ(r.Read(12, 15), cut < 45 * kMs ? unitNew : unitOld);
    }
}

TEST(OrvexUnit, DroppedAnswersAndSilence) {
    Rig r(Orvex16());
    ASSERT_TRUE(r.Read(1, 24));
    r.unit.DropResponse(r.unit.StatusRequestsSeen() + 1);
    EXPECT_TRUE(r.Read(1, 24));
    EXPECT_FALSE(r.Read(1, 24));
    EXPECT_TRUE(r.Read(1, 24));

    r.unit.SetSilent(true);
    const size_t before = r.raw.size();
    EXPECT_FALSE(r.Read(1, 24));
    r.Cmd(orvex::kCmdSelectBank2);
    r.Cmd(orvex::kCmdPrefix);
    r.Cmd(orvex::kCmdErase);
    r.Step(300 * kMs);
    EXPECT_EQ(r.raw.size(), before);
    EXPECT_FALSE(r.unit.Busy());  // it kept working
    r.unit.SetSilent(false);
    EXPECT_EQ(r.Reg(9), 0x00);
}

}  // namespace

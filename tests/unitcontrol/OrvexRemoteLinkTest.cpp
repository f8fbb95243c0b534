// The remote link against a scripted transport: message cutting, the register
// store, verified requests and waits, and any byte stream thrown at the pump.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>

#include "common/Log.h"
#include "platform/Platform.h"
#include "tests/support/TempDir.h"
#include "protocol/SerialNumber.h"
#include "protocol/UnitCodes.h"
#include "unitcontrol/OrvexRemote.h"

namespace {

using orvex::COrvexRemote;
using Bytes = std::vector<uint8_t>;

// Answers each status request with the unit's register values (register r
// holds r + offset), unless told to stay quiet or to answer for another register.
class ScriptedTransport : public orvex::COrvexInterface {
public:
    std::deque<Bytes> incoming;
    std::vector<Bytes> written;
    bool answer = true;
    int answerShift = 0;
    uint8_t offset = 0;
    std::array<uint8_t, 2048> registers{};

    ScriptedTransport() {
        registers[1] = 38;  // an Orvex 16
        registers[10] = 28;
    }
    uint16_t Open() override { return 0; }
    uint16_t Close() override { return 0; }
    void SetPortNameFilter(const char*) override {}
    bool IsOpen() override { return true; }
    uint16_t GetNumConnections(uint16_t* count) override {
        *count = 1;
        return 0;
    }
    uint16_t SelectConnection(uint16_t) override { return 0; }
    uint16_t GetCurrentConnection(uint16_t* n) override {
        *n = 0;
        return 0;
    }
    uint16_t GetConnectionDescription(uint16_t, char* text, uint32_t size) override {
        std::snprintf(text, size, "Scripted");
        return 0;
    }
    std::vector<bool> slotTargets;  // SetSlotTarget calls
    uint16_t slotStatus = orvex::kTransportFailed;
    uint16_t SetSlotTarget(bool on) override {
        slotTargets.push_back(on);
        return slotStatus;
    }
    uint16_t Write(const uint8_t* bytes, int32_t length) override {
        written.emplace_back(bytes, bytes + length);
        orvex::HostMessage m = orvex::ParseHostMessage(bytes, uint32_t(length));
        if (m.kind == orvex::HostMessage::kStatusRequest && answer) {
            uint16_t first = uint16_t(m.reg + answerShift);
            Bytes values;
            for (uint32_t r = first; r <= uint32_t(first) + m.count && r < 2048; ++r) values.push_back(registers[r]);
            incoming.push_back(orvex::EncodeStatusResponse(first, values.data(), uint32_t(values.size()), m.longForm));
        }
        return 0;
    }
    uint16_t Read(uint8_t* buffer, int32_t size, int32_t* received) override {
        *received = 0;
        if (incoming.empty()) return 0;
        Bytes& block = incoming.front();
        int32_t n = std::min<int32_t>(size, int32_t(block.size()));
        std::copy(block.begin(), block.begin() + n, buffer);
        block.erase(block.begin(), block.begin() + n);
        if (block.empty()) incoming.pop_front();
        *received = n;
        return 0;
    }
    // Status requests sent for a first register.
    size_t Requests(uint16_t first) const {
        size_t n = 0;
        for (const Bytes& b : written) {
            orvex::HostMessage m = orvex::ParseHostMessage(b.data(), uint32_t(b.size()));
            n += m.kind == orvex::HostMessage::kStatusRequest && m.reg == first;
        }
        return n;
    }
    size_t Requests() const {
        size_t n = 0;
        for (const Bytes& b : written)
            n += orvex::ParseHostMessage(b.data(), uint32_t(b.size())).kind == orvex::HostMessage::kStatusRequest;
        return n;
    }
};

Bytes Response(uint16_t first, const Bytes& values) {
    return orvex::EncodeStatusResponse(first, values.data(), uint32_t(values.size()), first > 255);
}

class LinkTest : public ::testing::Test {
protected:
    TempDir dir;
    ChangeDir cd{dir.path};
    ScriptedTransport* transport = nullptr;
    std::unique_ptr<COrvexRemote> remote;

    void SetUp() override {
        plat::UseVirtualClock(true);
        COrvexRemote::Transports t;
        t.midi = [this] {
            auto p = std::make_unique<ScriptedTransport>();
            transport = p.get();
            return p;
        };
        remote = std::make_unique<COrvexRemote>(t);
        ASSERT_EQ(remote->Open(), 0u);
        ASSERT_EQ(remote->SelectConnection(0), 0u);
    }
    void TearDown() override {
        remote.reset();
        orvex::LogClose();
    }
    std::string Log() {
        orvex::LogClose();
        return ReadFileText(dir / "OrvexUpdate.log");
    }
    uint8_t Reg(uint16_t r) { return remote->RegisterImage()[r]; }
};

TEST_F(LinkTest, MessagesAreCutFromAnySplitOfTheByteStream) {
    remote->SetMode(3);  // no requests of its own, no loss by silence
    Bytes a = Response(100, {1, 2, 3, 4, 5});
    Bytes b = Response(200, {9, 8, 7});
    struct Case {
        const char* what;
        std::vector<Bytes> blocks;
    } cases[] = {
        {"header in one read, the rest in the next", {Bytes(a.begin(), a.begin() + 7), Bytes(a.begin() + 7, a.end())}},
        {"garbage before F0", {Bytes{0x12, 0xF7, 0x00, 0x55}, a}},
        {"two messages in one block", {[&] { Bytes ab = a; ab.insert(ab.end(), b.begin(), b.end()); return ab; }()}},
        {"a broken message without its F7 before a good one", {Bytes(b.begin(), b.end() - 1), a}},
        {"byte by byte", [&] { std::vector<Bytes> v; for (uint8_t x : a) v.push_back({x}); return v; }()},
    };
    for (const Case& c : cases) {
        std::memset(remote->RegisterImageForTest() + 100, 0, 5);
        uint32_t before = remote->ResponseCount();
        for (const Bytes& block : c.blocks) {
            transport->incoming.push_back(block);
            remote->Poll();
        }
        EXPECT_EQ(Reg(100), 1) << c.what;
        EXPECT_EQ(Reg(104), 5) << c.what;
        EXPECT_GE(remote->ResponseCount() - before, 1u) << c.what;
    }
    EXPECT_EQ(Reg(200), 9);
}

TEST_F(LinkTest, TheStoreStopsAtRegister2047AndMixerRegistersFeedTheArrays) {
    remote->SetMode(3);
    int calls = 0;
    static int* counter;
    counter = &calls;
    remote->SetChangeCallback(2045, 2046, [](uint32_t, uint32_t) { ++*counter; }, 1, 2);
    Bytes values(16, 0x44);
    transport->incoming.push_back(orvex::EncodeStatusResponse(2040, values.data(), 16, true));
    remote->Poll();
    EXPECT_EQ(Reg(2047), 0x44);
    EXPECT_EQ(calls, 0) << "a store cut short calls nobody back";

    transport->incoming.push_back(Response(2045, {1}));
    remote->Poll();
    EXPECT_EQ(calls, 1);

    uint8_t mute = 0, volume = 0;
    transport->incoming.push_back(Response(128, {0xFF}));
    remote->Poll();
    remote->GetMixerMute(0, 0, &mute);
    EXPECT_EQ(mute, 1);
    transport->incoming.push_back(Response(128, {0x40}));
    remote->Poll();
    remote->GetMixerMute(0, 0, &mute);
    remote->GetMixerVolume(0, 0, &volume);
    EXPECT_EQ(mute, 0);
    EXPECT_EQ(volume, 0x40);
}

TEST_F(LinkTest, VerifyModeFillsTheVerifyBufferAndSetsPacketReady) {
    Bytes packet(128);
    for (int i = 0; i < 128; ++i) packet[i] = uint8_t(i * 3);
    remote->RequestVerifyPacket();
    EXPECT_EQ(remote->Mode(), 4);
    transport->incoming.push_back(orvex::EncodeStatusResponse(128, packet.data(), 128, false));
    uint8_t status = 0;
    remote->GetProgrammingStatus(&status);
    EXPECT_TRUE(status & orvex::kProgPAKRDY);
    Bytes back(128);
    EXPECT_EQ(remote->ReadVerifyPacket(back.data(), 128), 0u);
    EXPECT_EQ(back, packet);
    EXPECT_EQ(Reg(128), 0) << "the image keeps its mixer registers";
    EXPECT_EQ(remote->ReadVerifyPacket(back.data(), 129), orvex::kStatusOutOfRange);
}

// What the host sent since `from`, one word a message: "c12" a command, "w52=7f"
// a register write, "p128" a packet of that many bytes, "r1-24" a status request.
std::vector<std::string> Sent(const ScriptedTransport& t, size_t from) {
    std::vector<std::string> out;
    char word[32];
    for (size_t i = from; i < t.written.size(); ++i) {
        const orvex::HostMessage m = orvex::ParseHostMessage(t.written[i].data(), uint32_t(t.written[i].size()));
        switch (m.kind) {
        case orvex::HostMessage::kCommand: std::snprintf(word, sizeof word, "c%u", unsigned{m.command}); break;
        case orvex::HostMessage::kWrite: std::snprintf(word, sizeof word, "w%u=%02x", unsigned{m.reg}, unsigned{m.value}); break;
        case orvex::HostMessage::kPacket: std::snprintf(word, sizeof word, "p%zu", m.data.size()); break;
        case orvex::HostMessage::kStatusRequest:
            std::snprintf(word, sizeof word, "r%u-%u", unsigned{m.reg}, unsigned(m.reg + m.count));
            break;
        default: std::snprintf(word, sizeof word, "?"); break;
        }
        out.push_back(word);
    }
    return out;
}

// The unit behind the link becomes another model: its identity registers as the unit reports them.
void BecomeModel(COrvexRemote& remote, ScriptedTransport& t, uint8_t id, uint8_t variant, uint8_t card = 0) {
    t.registers[1] = id;
    t.registers[6] = variant;
    t.registers[16] = card;
    uint8_t* image = remote.RegisterImageForTest();
    image[1] = id;
    image[6] = variant;
    image[16] = card;
}

TEST_F(LinkTest, PacketsOfTheCrcFamiliesCarryTheirCrcInRegister52) {
    Bytes packet(128);
    for (int i = 0; i < 128; ++i) packet[i] = uint8_t(i * 7 + 1);
    char crc[16];
    std::snprintf(crc, sizeof crc, "w52=%02x", unsigned{orvex::PacketCrc8(packet.data(), 128)});
    struct Case {
        const char* model;
        uint8_t id, variant;
        std::vector<std::string> sent;
    } cases[] = {
        {"Orvex 16", 38, 0, {"c12", "c4", "p128"}},
        {"Tavi", 49, 0, {"c12", "c4", crc, "p128"}},
        {"Orvex(n) from an Orvex 16", 38, 96, {"c12", "c4", crc, "p128"}},
        {"Orvex(n) from an Orvex 8", 39, 96, {"c12", "c4", crc, "p128"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        BecomeModel(*remote, *transport, c.id, c.variant);
        const size_t from = transport->written.size();
        EXPECT_EQ(remote->WriteFirmwarePacket(packet.data(), 128), 0u);
        EXPECT_EQ(Sent(*transport, from), c.sent);
        EXPECT_EQ(remote->Mode(), 3);
        EXPECT_EQ(Reg(9), orvex::kProgPIP);
    }
    // A short packet's CRC is that of its own bytes.
    BecomeModel(*remote, *transport, 49, 0);
    const size_t from = transport->written.size();
    EXPECT_EQ(remote->WriteFirmwarePacket(packet.data(), 40), 0u);
    std::snprintf(crc, sizeof crc, "w52=%02x", unsigned{orvex::PacketCrc8(packet.data(), 40)});
    EXPECT_EQ(Sent(*transport, from), (std::vector<std::string>{"c12", "c4", crc, "p40"}));
}

TEST_F(LinkTest, BankSelectionAndRegisters48To51) {
    struct Bank {
        uint8_t bank;
        std::vector<std::string> sent;
    } banks[] = {{0, {"c6"}}, {1, {"c7"}}, {2, {}}, {255, {}}};
    for (const Bank& b : banks) {
        SCOPED_TRACE(int(b.bank));
        const size_t from = transport->written.size();
        EXPECT_EQ(remote->SelectBank(b.bank), 0u);
        EXPECT_EQ(Sent(*transport, from), b.sent);
    }

    struct Model {
        const char* model;
        uint8_t id, variant;
        std::vector<std::string> sent;
    } models[] = {
        {"Tavi", 49, 0, {"w48=78", "w49=56", "w50=34", "w51=12"}},
        {"Orvex(n)", 38, 96, {"w48=78", "w49=56", "w50=34", "w51=12"}},
        {"Orvex 16", 38, 0, {}},
        {"Orvex 8", 39, 0, {}},
        {"Relay 4x4", 128, 0, {}},
    };
    for (const Model& m : models) {
        SCOPED_TRACE(m.model);
        BecomeModel(*remote, *transport, m.id, m.variant);
        const size_t from = transport->written.size();
        EXPECT_EQ(remote->SetRegisters48To51(0x12345678), 0u);
        EXPECT_EQ(Sent(*transport, from), m.sent);
    }
}

TEST_F(LinkTest, AVaVovuzCardIsTargetedThroughTheTransportOthersThroughRegister5) {
    struct Case {
        const char* what;
        uint8_t card;
        bool on;
        uint16_t transportStatus;
        uint32_t status;
        std::vector<bool> slotTargets;
        std::vector<std::string> sent;
    } cases[] = {
        {"VA-VOVUZ on", orvex::kXSlotVaVovuz, true, orvex::kTransportOk, 0, {true}, {}},
        // Over MIDI the unit is the only target: aiming back at it needs no switch.
        {"VA-VOVUZ off over MIDI", orvex::kXSlotVaVovuz, false, orvex::kTransportFailed, 0, {}, {}},
        {"VA-VOVUZ, the transport refuses", orvex::kXSlotVaVovuz, true, orvex::kTransportFailed, 1, {true}, {}},
        {"DI-ZO on", orvex::kXSlotDiZo, true, orvex::kTransportOk, 0, {}, {"w5=10"}},
        {"DI-ZO off", orvex::kXSlotDiZo, false, orvex::kTransportOk, 0, {}, {"w5=00"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BecomeModel(*remote, *transport, 38, 0, c.card);
        remote->RegisterImageForTest()[5] = 0;
        transport->slotTargets.clear();
        transport->slotStatus = c.transportStatus;
        const size_t from = transport->written.size();
        EXPECT_EQ(remote->SelectXSlotFirmware(c.on ? 1 : 0), c.status);
        EXPECT_EQ(transport->slotTargets, c.slotTargets);
        EXPECT_EQ(Sent(*transport, from), c.sent);
        EXPECT_EQ(Reg(5), c.card == orvex::kXSlotVaVovuz || !c.on ? 0 : 0x10) << "register 5 in the image";
    }
}

TEST_F(LinkTest, AVerifyRequestStartsFromAClearBufferAndAClearPacketReadyBit) {
    // A first read-back leaves the buffer full and PAKRDY set.
    Bytes first(128, 0xA5);
    remote->RequestVerifyPacket();
    transport->incoming.push_back(orvex::EncodeStatusResponse(128, first.data(), 128, false));
    uint8_t status = 0;
    remote->GetProgrammingStatus(&status);
    ASSERT_TRUE(status & orvex::kProgPAKRDY);
    ASSERT_TRUE(Reg(9) & orvex::kProgPAKRDY);

    const size_t from = transport->written.size();
    EXPECT_EQ(remote->RequestVerifyPacket(), 0u);
    EXPECT_EQ(Sent(*transport, from), (std::vector<std::string>{"c5"}));
    EXPECT_EQ(Reg(9) & orvex::kProgPAKRDY, 0) << "bit 3 cleared in the image";
    remote->GetProgrammingStatus(&status);
    EXPECT_EQ(status & orvex::kProgPAKRDY, 0) << "no packet has come for this request";
    Bytes back(128, 0x11);
    EXPECT_NE(remote->ReadVerifyPacket(back.data(), 128), 0u) << "nothing to read before the answer";

    // An answer for half the packet does not count...
    Bytes half(64);
    for (int i = 0; i < 64; ++i) half[i] = uint8_t(i + 1);
    transport->incoming.push_back(orvex::EncodeStatusResponse(128, half.data(), 64, false));
    remote->GetProgrammingStatus(&status);
    EXPECT_EQ(status & orvex::kProgPAKRDY, 0);
    EXPECT_NE(remote->ReadVerifyPacket(back.data(), 128), 0u);
    // ... and once the read-back is given up, the buffer shows it landed on zeros, not on the old packet.
    remote->CancelProgramming();
    ASSERT_EQ(remote->ReadVerifyPacket(back.data(), 128), 0u);
    Bytes expected(half);
    expected.resize(128, 0);
    EXPECT_EQ(back, expected);
}

TEST_F(LinkTest, ACardSerialOfAnotherModelIsRefusedBeforeAnythingIsSent) {
    std::vector<std::string> boxes;
    plat::SetMessageBoxAnswerer([&](const std::string& text, const std::string& caption, unsigned type) {
        boxes.push_back(caption + ": " + text);
        return plat::DefaultAnswer(type);
    });
    BecomeModel(*remote, *transport, 38, 0, orvex::kXSlotVaVovuz);
    uint32_t serial = 0;
    ASSERT_TRUE(orvex::BuildSerialNumber(orvex::kXSlotDiZo, 17, 6, 7, &serial));
    const size_t from = transport->written.size();
    EXPECT_EQ(remote->WriteXSlotSerialNumber(serial), 1u);
    plat::SetMessageBoxAnswerer(nullptr);
    EXPECT_EQ(boxes, (std::vector<std::string>{"COrvexRemote: WriteXSlotSerialNumber: SerialNumber Model does not match PID!"}));
    EXPECT_TRUE(transport->slotTargets.empty()) << "the card is not addressed";
    for (const std::string& word : Sent(*transport, from)) EXPECT_EQ(word[0], 'r') << "only polling: " << word;
    EXPECT_EQ(remote->Mode(), 1);
    // The polling no longer reads the card's serial registers.
    const size_t before = transport->Requests(28);
    remote->WaitForResponse(4);
    EXPECT_EQ(transport->Requests(28), before);
}

TEST_F(LinkTest, VerifiedRequestsTrySixTimesBeforeGivingUp) {
    transport->answerShift = 1;  // answers start one register later
    EXPECT_EQ(remote->RequestRegisterStatusVerified(40, 41), 1u);
    EXPECT_EQ(transport->Requests(40), 6u);
    std::string log = Log();
    EXPECT_NE(log.find("RequestRegisterStatusVerified: RETRY! Last 0029 First 0028"), std::string::npos) << log;
    EXPECT_NE(log.find("RequestRegisterStatusVerified: Last 0029 != First 0028"), std::string::npos);

    transport->answer = false;
    while (!transport->incoming.empty()) remote->Poll();  // late answers of the schedule
    uint32_t start = plat::GetTickCount();
    EXPECT_EQ(remote->RequestRegisterStatusVerified(50, 51), 1u);
    EXPECT_EQ(transport->Requests(50), 6u);
    EXPECT_GE(plat::GetTickCount() - start, 6u * 500u);
    EXPECT_NE(Log().find("COrvexRemote::WaitForResponse TIMEOUT"), std::string::npos);
}

// A second verified request from inside the first (the change callback runs in
// its wait) is refused at once and sends nothing.
TEST_F(LinkTest, AVerifiedRequestWhileAnotherRunsIsRefused) {
    struct Inner {
        COrvexRemote* remote;
        ScriptedTransport* transport;
        uint32_t status = 99;
        size_t sentBefore = 0, sentAfter = 0;
    };
    static Inner inner;
    inner = {remote.get(), transport};
    remote->SetChangeCallback(40, 40, [](uint32_t, uint32_t) {
        if (inner.status != 99) return;
        inner.sentBefore = inner.transport->written.size();
        inner.status = inner.remote->RequestRegisterStatusVerified(60, 61);
        inner.sentAfter = inner.transport->written.size();
    }, 0, 0);
    EXPECT_EQ(remote->RequestRegisterStatusVerified(40, 41), 0u);
    EXPECT_EQ(inner.status, 1u);
    EXPECT_EQ(inner.sentAfter, inner.sentBefore);
    EXPECT_EQ(remote->RequestRegisterStatusVerified(60, 61), 0u) << "free again afterwards";
}

TEST_F(LinkTest, WaitForResponseReturnsAtOnceWhileTheUnitProgramsOrVerifies) {
    for (uint8_t mode : {3, 4}) {
        remote->SetMode(mode);
        size_t requests = transport->Requests();
        uint32_t start = plat::GetTickCount();
        EXPECT_EQ(remote->WaitForResponse(4), 0u);
        EXPECT_LT(plat::GetTickCount() - start, 2u);
        EXPECT_EQ(transport->Requests(), requests);
    }
}

TEST_F(LinkTest, ShortFormWritesNeverLandOnAnotherRegister) {
    size_t before = transport->written.size();
    EXPECT_EQ(remote->SetRegister(300, 7), 0u);
    EXPECT_EQ(remote->SetRegister(600, 7), orvex::kStatusOutOfRange);
    ASSERT_EQ(transport->written.size(), before + 1);
    orvex::HostMessage m = orvex::ParseHostMessage(transport->written.back().data(),
                                                   uint32_t(transport->written.back().size()));
    EXPECT_EQ(m.kind, orvex::HostMessage::kWrite);
    EXPECT_EQ(m.reg, 300);
}

// Random and malformed blocks through the pump: no crash, no access out of
// bounds, and a good response after the noise is still stored.
TEST_F(LinkTest, AnyByteStreamIsSurvivedAndGoodMessagesStillLand) {
    remote->SetMode(3);
    std::mt19937 rng(4242);
    const uint8_t interesting[] = {0xF0, 0xF7, 0x00, 0x01, 0x6B, 0x70, 0x77, 0x7F, 0xFF};
    auto noise = [&] {
        Bytes b(rng() % 300);
        for (auto& x : b) x = (rng() % 3) ? interesting[rng() % sizeof interesting] : uint8_t(rng());
        return b;
    };
    for (int round = 0; round < 3000; ++round) {
        for (int n = rng() % 4; n > 0; --n) transport->incoming.push_back(noise());
        // More than the ring holds: what does not fit is dropped, the good message with it.
        const bool flood = round % 500 == 0;
        if (flood) transport->incoming.push_back(Bytes(9000, 0x42));
        uint16_t first = uint16_t(rng() % 2000);
        Bytes values(1 + rng() % 40);
        for (auto& v : values) v = uint8_t(rng());
        Bytes good = Response(first, values);
        size_t cut = rng() % good.size();
        transport->incoming.push_back(Bytes(good.begin(), good.begin() + cut));
        transport->incoming.push_back(Bytes(good.begin() + cut, good.end()));
        for (int i = 0; i < 6; ++i) remote->Poll();
        if (flood) continue;
        for (size_t i = 0; i < values.size(); ++i)
            ASSERT_EQ(Reg(uint16_t(first + i)), values[i]) << "round " << round << " register " << first + i;
    }
}

}  // namespace

namespace {

using Range = std::pair<int, int>;

struct Unit {
    uint8_t id, firmware, card, variant;
};

// The status requests a selected unit gets from Poll, in order, over `polls` calls
// spaced by `gapMs` (each answered at once, as a unit does).
std::vector<Range> Scheduled(const Unit& u, uint8_t mode, int polls, uint32_t gapMs, std::vector<Range>* selection,
                             bool chatty = false) {
    plat::UseVirtualClock(true);
    ScriptedTransport* transport = nullptr;
    COrvexRemote::Transports t;
    t.midi = [&] {
        auto p = std::make_unique<ScriptedTransport>();
        p->registers[1] = u.id;
        p->registers[10] = u.firmware;
        p->registers[16] = u.card;
        p->registers[6] = u.variant;
        transport = p.get();
        return p;
    };
    COrvexRemote remote(t);
    remote.Open();
    EXPECT_EQ(remote.SelectConnection(0), 0u);
    auto requests = [&] {
        std::vector<Range> r;
        for (const Bytes& b : transport->written) {
            orvex::HostMessage m = orvex::ParseHostMessage(b.data(), uint32_t(b.size()));
            if (m.kind == orvex::HostMessage::kStatusRequest) r.push_back({m.reg, m.reg + m.count});
        }
        return r;
    };
    *selection = requests();
    size_t start = transport->written.size();
    if (mode) remote.SetMode(mode);
    for (int i = 0; i < polls; ++i) {
        plat::Sleep(gapMs);
        // A unit that reports on its own between the slow polls is not taken for lost.
        if (chatty) transport->incoming.push_back(Response(0, {0}));
        remote.Poll();
    }
    transport->written.erase(transport->written.begin(), transport->written.begin() + long(start));
    std::vector<Range> r = requests();
    orvex::LogClose();
    return r;
}

TEST(RemoteSchedule, EachFamilyAndModeHasItsOwnPolling) {
    TempDir dir;
    ChangeDir cd{dir.path};
    const Unit orvex16{38, 28, 0, 0}, orvex16Old{38, 16, 0, 0}, withDoZaz{39, 28, 50, 0}, tavi{49, 5, 0, 0},
        taviExtended{49, 6, 50, 0}, orvexN{38, 28, 0, 96};
    std::vector<Range> selection;

    // Plain units: a 40-step cycle; the extended mixer (firmware 17 on) brings 256-383 in.
    auto plain = Scheduled(orvex16, 0, 41, 101, &selection);
    EXPECT_EQ(selection, (std::vector<Range>{{1, 24}}));
    ASSERT_EQ(plain.size(), 42u);
    EXPECT_EQ(std::vector<Range>(plain.begin(), plain.begin() + 11),
              (std::vector<Range>{{1, 24}, {64, 127}, {128, 191}, {64, 127}, {192, 255}, {64, 127}, {256, 319},
                                  {64, 127}, {1, 24}, {64, 127}, {320, 383}}));
    EXPECT_EQ(plain[39], Range(64, 127));
    EXPECT_EQ(plain[40], Range(32, 32)) << "register 32 closes the cycle";
    EXPECT_EQ(plain[41], Range(1, 24));
    auto old = Scheduled(orvex16Old, 0, 11, 101, &selection);
    EXPECT_EQ(old[6], Range(128, 191));
    EXPECT_EQ(old[10], Range(192, 255));

    // A plain unit with a DO-ZAZ card: an 8-step cycle.
    EXPECT_EQ(Scheduled(withDoZaz, 0, 9, 101, &selection),
              (std::vector<Range>{{1, 24}, {64, 255}, {256, 383}, {64, 255}, {1, 24}, {64, 255}, {1, 24}, {64, 255},
                                  {1, 24}}));

    // A Tavi: 0-125 each time; below firmware 6 it is read from 1-24 and 0-127 only.
    EXPECT_EQ(Scheduled(tavi, 0, 3, 101, &selection), (std::vector<Range>{{0, 125}, {0, 125}, {0, 125}}));
    EXPECT_EQ(selection, (std::vector<Range>{{1, 24}, {0, 127}}));
    // From firmware 6 the extended map is read too, and polling slows to registers 1-31 every 3 s.
    auto slow = Scheduled(taviExtended, 0, 10, 700, &selection, true);
    EXPECT_EQ(selection, (std::vector<Range>{{1, 24}, {0, 127}, {256, 547}, {1024, 2047}}));
    EXPECT_EQ(slow, (std::vector<Range>{{1, 31}, {1, 31}}));

    // An Orvex 8/16 that says Orvex(n) gets no polling in the normal mode.
    EXPECT_TRUE(Scheduled(orvexN, 0, 5, 200, &selection).empty());

    // Mode 1 reads the identity every 50 ms; mode 5 registers 56-58; modes 3 and 4 nothing.
    EXPECT_EQ(Scheduled(orvex16, 1, 4, 51, &selection), std::vector<Range>(4, Range(1, 24)));
    EXPECT_EQ(Scheduled(tavi, 1, 2, 51, &selection), std::vector<Range>(2, Range(0, 125)));
    EXPECT_EQ(Scheduled(orvex16, 5, 3, 101, &selection), std::vector<Range>(3, Range(56, 58)));
    EXPECT_TRUE(Scheduled(orvex16, 3, 5, 200, &selection).empty());
    EXPECT_TRUE(Scheduled(orvex16, 4, 5, 200, &selection).empty());
}

}  // namespace

// A whole firmware update through COrvexMixer against the emulated card and
// converter, driven as the updater drives it (prepare, target, bank, erase,
// packets with status waits, read-back, complete), with each injected fault;
// and the serial-number write.
#include "adapter/OrvexMixer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "tests/support/AdapterFixture.h"

namespace {

using orvex::COrvexMixer;
using orvex::kStatusFailure;
using orvex::kStatusSuccess;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kImageSize = 212392;  // 1,660 packets, the last with 40 bytes of image
constexpr uint32_t kRevisionOffset = 0x110;

Bytes MakeImage(uint32_t size, uint8_t revision, uint32_t seed) {
    Bytes image(size);
    std::mt19937 rng(seed);
    for (auto& b : image) b = static_cast<uint8_t>(rng());
    image[kRevisionOffset] = revision;
    return image;
}

// The programming status wait: four fresh answers, then the status every 5 ms
// until done or an error (completion mode) or until PAKRDY or an error (verify
// mode); 0x20 when the limit passes.
uint8_t WaitForProgrammingStatus(COrvexMixer& mixer, uint32_t limitMs, bool verify) {
    if (mixer.WaitForResponse(4) != kStatusSuccess) return orvex::kProgTIMEOUT;
    const uint32_t start = plat::GetTickCount();
    for (;;) {
        if (plat::GetTickCount() - start > limitMs) return orvex::kProgTIMEOUT;
        uint8_t s = 0;
        mixer.GetProgrammingStatus(&s);
        s &= 0x3F;
        if (verify && (s & (orvex::kProgPGMERR | orvex::kProgTXERR | orvex::kProgPAKRDY)) != 0) return s;
        if (!verify && ((s & (orvex::kProgPGMERR | orvex::kProgTXERR)) != 0 || s == 0)) return s;
        plat::Sleep(5);
    }
}

struct Outcome {
    bool ok = false;
    std::string step;  // where it failed
    uint8_t flags = 0;
    uint64_t prepared = 0, erased = 0, written = 0, verified = 0;  // clock at the end of each phase
};

// The sequence as the updater runs it; cancels after any failure past the start.
Outcome Program(COrvexMixer& mixer, const Bytes& image, bool xslot, bool skipBank = false) {
    Outcome o;
    auto fail = [&](const char* step, uint8_t flags = 0) {
        o.step = step;
        o.flags = flags;
        mixer.CancelProgramming();
        return o;
    };
    if (mixer.PrepareForProgramming() != kStatusSuccess) return fail("prepare");
    o.prepared = plat::ClockMicros();
    if (mixer.SelectXSlotFirmware(xslot ? 1 : 0) != kStatusSuccess) return fail("target");
    if (!skipBank && mixer.SelectAlternateBank() != kStatusSuccess) return fail("bank");
    if (mixer.WaitForResponse(4) != kStatusSuccess) return fail("first answers");
    mixer.EraseAlternateBank();
    uint8_t s = WaitForProgrammingStatus(mixer, 12000, false);
    if (s != 0) return fail("erase", s);
    o.erased = plat::ClockMicros();

    Bytes padded(image);
    padded.resize((image.size() + 127) / 128 * 128 + 1024, 0);
    const uint32_t packets = static_cast<uint32_t>((image.size() + 127) / 128);
    for (uint32_t k = 0; k < packets; ++k) {
        if (mixer.WriteFirmwarePacket(&padded[size_t{k} * 128], 128) != kStatusSuccess) return fail("write");
        s = WaitForProgrammingStatus(mixer, 1000, false);
        if (s != 0) return fail("write wait", s);
    }
    o.written = plat::ClockMicros();
    for (uint32_t k = 0; k < packets; ++k) {
        if (mixer.RequestVerifyPacket() != kStatusSuccess) return fail("verify request");
        s = WaitForProgrammingStatus(mixer, 1000, true);
        if (s != orvex::kProgPAKRDY) return fail("verify wait", s);
        uint8_t back[128] = {};
        if (mixer.ReadVerifyPacket(back, 128) != kStatusSuccess) return fail("verify read");
        if (std::memcmp(back, &padded[size_t{k} * 128], 128) != 0) return fail("compare");
    }
    o.verified = plat::ClockMicros();
    if (mixer.SetProgrammingComplete() != kStatusSuccess) return fail("complete");
    o.ok = true;
    return o;
}

class ProgrammingTest : public AdapterFixture {
protected:
    std::unique_ptr<COrvexMixer> mixer;
    sim::OrvexUnit* unit = nullptr;

    void Begin(sim::OrvexUnit::Config config = Converter(38), sim::AdapterCard::Config card = Card()) {
        Start({{card, config}});
        unit = &UnitAt(0);
        mixer = OpenMixer();
        ASSERT_EQ(mixer->SelectConnection(0), kStatusSuccess);
    }
    void TearDown() override {
        mixer.reset();
        AdapterFixture::TearDown();
    }
    // After a power cycle the unit is selected afresh, as a new run of the updater would.
    uint8_t RevisionAfterPowerCycle(bool card) {
        unit->PowerCycle(plat::ClockMicros());
        plat::AdvanceVirtualClock(10'000);
        mixer = OpenMixer();
        EXPECT_EQ(mixer->SelectConnection(0), kStatusSuccess);
        uint8_t r = 0;
        if (card)
            mixer->GetXSlotFirmwareRevision(&r, nullptr);
        else
            mixer->GetFirmwareRevision(&r);
        return r;
    }
};

TEST_F(ProgrammingTest, AFullImageGoesIntoTheIdleBankAndBootsAfterAPowerCycle) {
    Begin();
    const Bytes image = MakeImage(kImageSize, 31, 1);
    const Bytes running = unit->Flash(false, 0);
    const uint32_t packetsBefore = CardAt(0).RequestCount(adapter::kIoctlWritePacket);
    const Outcome o = Program(*mixer, image, false);
    ASSERT_TRUE(o.ok) << o.step << " flags " << int(o.flags);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(CardAt(0).RequestCount(adapter::kIoctlWritePacket) - packetsBefore, 1660u);
    EXPECT_EQ(CardAt(0).RequestCount(adapter::kIoctlReadVerifyPacket), 1660u);

    const std::vector<uint8_t>& written = unit->Flash(false, 1);
    ASSERT_GE(written.size(), 1660u * 128);
    EXPECT_EQ(std::memcmp(written.data(), image.data(), image.size()), 0);
    for (size_t i = image.size(); i < 1660u * 128; ++i) ASSERT_EQ(written[i], 0) << "the last packet's padding";
    EXPECT_EQ(unit->Flash(false, 0), running) << "the running bank is untouched";
    EXPECT_EQ(unit->RunningBank(), 0) << "until the power goes";

    EXPECT_EQ(RevisionAfterPowerCycle(false), 31);
    EXPECT_EQ(unit->RunningBank(), 1);
}

TEST_F(ProgrammingTest, ASecondBankUnitIsProgrammedInTheFirst) {
    sim::OrvexUnit::Config config = Converter(39);
    config.runningBank = 1;
    Begin(config, Card(adapter::kModelTarselXR, 0));
    const Bytes image = MakeImage(20000, 33, 2);
    const Bytes running = unit->Flash(false, 1);
    const Outcome o = Program(*mixer, image, false);
    ASSERT_TRUE(o.ok) << o.step;
    EXPECT_EQ(unit->Flash(false, 1), running);
    EXPECT_EQ(RevisionAfterPowerCycle(false), 33);
    EXPECT_EQ(unit->RunningBank(), 0);
}

TEST_F(ProgrammingTest, TheXSlotCardIsProgrammedThroughTheSameRequests) {
    sim::OrvexUnit::Config config = Converter(38);
    config.card = {orvex::kXSlotDiZo, 6, 0, 1, (uint32_t{orvex::kXSlotDiZo} << 24) | (3u << 12) | 9u};
    Begin(config);
    const Bytes converterBanks[2] = {unit->Flash(false, 0), unit->Flash(false, 1)};
    const Bytes image = MakeImage(169216, 9, 3);
    const Outcome o = Program(*mixer, image, true);
    ASSERT_TRUE(o.ok) << o.step << " flags " << int(o.flags);
    EXPECT_EQ(std::memcmp(unit->Flash(true, 1).data(), image.data(), image.size()), 0);
    EXPECT_EQ(unit->Flash(false, 0), converterBanks[0]);
    EXPECT_EQ(unit->Flash(false, 1), converterBanks[1]);
    EXPECT_EQ(RevisionAfterPowerCycle(true), 9);
    EXPECT_EQ(unit->RunningBank(), 0) << "the converter itself keeps its bank";
}

TEST_F(ProgrammingTest, ATaviGetsEachPacketsCrcFromTheCard) {
    // The adapter path does not list a Tavi, but its card programs one all the same.
    Start({{Card(), Converter(49)}});
    uint16_t count = 9;
    mixer = OpenMixer(&count);
    EXPECT_EQ(count, 0);
    sim::OrvexUnit& tavi = UnitAt(0);
    const adapter::DeviceApi& devices = sim::PelkDriver::Devices();
    const plat::FileHandle h = devices.CreateFile("\\\\.\\C2Mixer0", plat::kAccessRead | plat::kAccessWrite,
                                                  plat::FileShare::Read, plat::FileDisposition::OpenExisting, 0);
    ASSERT_NE(h, plat::kInvalidFile);
    auto request = [&](uint32_t code, const void* in = nullptr, uint32_t inSize = 0) {
        uint32_t n = 0;
        return devices.DeviceIoControl(h, code, in, inSize, nullptr, 0, &n);
    };
    auto status = [&] {
        uint32_t v = 0, n = 0;
        devices.DeviceIoControl(h, adapter::kIoctlProgrammingStatus, nullptr, 0, &v, 4, &n);
        return static_cast<uint8_t>(v & 0x3F);
    };
    ASSERT_TRUE(request(adapter::kIoctlSelectAlternateBank));
    ASSERT_TRUE(request(adapter::kIoctlEraseAlternateBank));
    plat::AdvanceVirtualClock(2'000'000);
    ASSERT_EQ(status(), 0);
    const Bytes image = MakeImage(1024, 12, 4);
    for (uint32_t k = 0; k < 8; ++k) {
        ASSERT_TRUE(request(adapter::kIoctlWritePacket, &image[k * 128], 128));
        plat::AdvanceVirtualClock(5'000);
        ASSERT_EQ(status(), 0) << "packet " << k << ": a Tavi refuses a packet without its CRC";
    }
    ASSERT_TRUE(request(adapter::kIoctlProgrammingComplete));
    devices.CloseHandle(h);
    tavi.PowerCycle(plat::ClockMicros());
    EXPECT_EQ(tavi.RunningBank(), 1);
    EXPECT_EQ(tavi.Register(10) & 0x3F, 12);
}

// ---- faults: each fails where it should, with its words, and the running bank stays ----

struct FaultCase {
    const char* name;
    std::function<void(sim::AdapterCard&, sim::OrvexUnit&, CounterScript&)> fault;
    bool ok;
    const char* step;
    uint8_t flags;
    std::vector<std::string> boxes;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class ProgrammingFaults : public ProgrammingTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ProgrammingFaults, FailAndLeaveTheRunningBank) {
    const FaultCase& c = GetParam();
    Begin();
    UseScript();
    c.fault(CardAt(0), *unit, script);
    const Bytes running = unit->Flash(false, 0);
    const Outcome o = Program(*mixer, MakeImage(kImageSize, 31, 5), false);
    EXPECT_EQ(o.ok, c.ok);
    EXPECT_EQ(o.step, c.step);
    EXPECT_EQ(o.flags, c.flags);
    EXPECT_EQ(BoxTexts(), c.boxes);
    EXPECT_EQ(unit->Flash(false, 0), running);
    EXPECT_EQ(unit->RunningBank(), 0);
    if (!c.ok) {
        ActiveScript() = nullptr;
        CardAt(0).Fault() = {};
        EXPECT_EQ(RevisionAfterPowerCycle(false), 28) << "the old firmware boots again";
        EXPECT_EQ(unit->RunningBank(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProgrammingFaults,
    ::testing::Values(
        // A clock source that never reads internal is only a warning: the update goes through.
        FaultCase{"ClockNeverInternal", [](auto& card, auto&, auto&) { card.Fault().clockStuck = true; }, true, "", 0,
                  {"TIMEOUT: Unable to set Orvex Clock Source to Internal!",
                   "Unable to set Orvex Clock Source to Internal!"}},
        FaultCase{"RateNeverReaches192k", [](auto& card, auto&, auto&) { card.Fault().rateCeilingHz = 96000; }, false,
                  "prepare", 0, {"TIMEOUT: Unable to set Orvex Samplerate!"}},
        FaultCase{"LockNeverComes", [](auto& card, auto&, auto&) { card.Fault().neverLocks = true; }, false, "prepare",
                  0, {"PrepareForProgramming WaitForLock1 Failed!"}},
        FaultCase{"TargetRequestFails",
                  [](auto& card, auto&, auto&) {
                      card.Fault().failCode = adapter::kIoctlSelectXSlotFirmware;
                  },
                  true, "", 0, {}},  // the converter itself is always a target
        FaultCase{"BankRequestFails",
                  [](auto& card, auto&, auto&) { card.Fault().failCode = adapter::kIoctlSelectAlternateBank; }, false,
                  "bank", 0, {"Unable to retrieve erase the Orvex firmware!"}},
        // The erase request's answer is not looked at; the first packet then finds no open update.
        FaultCase{"EraseRequestFails",
                  [](auto& card, auto&, auto&) { card.Fault().failCode = adapter::kIoctlEraseAlternateBank; }, false,
                  "write wait", orvex::kProgPGMERR, {"Unable to retrieve erase the Orvex firmware!"}},
        FaultCase{"PacketRequestFails",
                  [](auto& card, auto&, auto&) {
                      card.Fault().failCode = adapter::kIoctlWritePacket;
                      card.Fault().failSkip = 700;
                  },
                  false, "write", 0, {}},
        FaultCase{"ConverterRefusesAPacket", [](auto&, auto& unit, auto&) { unit.FailPacket(900); }, false,
                  "write wait", orvex::kProgPGMERR, {}},
        FaultCase{"ConverterFallsSilentMidWay",
                  [](auto& card, auto&, auto& s) {
                      s.freeze = [&card] { return card.RequestCount(adapter::kIoctlWritePacket) > 300; };
                  },
                  false, "write wait", orvex::kProgTIMEOUT, {}},
        FaultCase{"VerifyRequestFails",
                  [](auto& card, auto&, auto&) {
                      card.Fault().failCode = adapter::kIoctlRequestVerifyPacket;
                      card.Fault().failSkip = 10;
                  },
                  false, "verify request", 0, {}},
        FaultCase{"ReadBackRequestFails",
                  [](auto& card, auto&, auto&) {
                      card.Fault().failCode = adapter::kIoctlReadVerifyPacket;
                      card.Fault().failSkip = 1659;
                  },
                  false, "verify read", 0, {}},
        // The card reads registers 128-255 with every status poll, so a lost answer costs nothing.
        FaultCase{"ReadBackAnswerLostOnTheCable", [](auto&, auto& unit, auto&) { unit.DropReadBackAnswer(500); },
                  true, "", 0, {}},
        FaultCase{"ReadBackCorrupted", [](auto&, auto& unit, auto&) { unit.CorruptReadBack(1234); }, false, "compare",
                  0, {}},
        FaultCase{"CompleteRequestFails",
                  [](auto& card, auto&, auto&) { card.Fault().failCode = adapter::kIoctlProgrammingComplete; }, false,
                  "complete", 0, {}}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(ProgrammingTest, CancelStopsTheUpdateAndTheIdleBankNeverBoots) {
    Begin();
    unit->FailPacket(3);
    const Outcome o = Program(*mixer, MakeImage(4096, 31, 6), false);
    ASSERT_FALSE(o.ok);
    EXPECT_EQ(CardAt(0).RequestCount(adapter::kIoctlCancelProgramming), 1u);
    EXPECT_FALSE(unit->BankValid(false, 1));
    EXPECT_FALSE(unit->Busy());
}

// ---- serial numbers ----

TEST_F(ProgrammingTest, ASerialNumberIsWrittenConfirmedAndStored) {
    sim::OrvexUnit::Config config = Converter(38);
    config.serial = 0;  // blank
    Begin(config);
    ASSERT_EQ(mixer->PrepareForProgramming(), kStatusSuccess);
    const uint32_t serial = (38u << 24) | (5u << 20) | (1u << 18) | (14u << 12) | 77u;  // year 21, week 14, number 77
    ASSERT_EQ(mixer->WriteSerialNumber(serial), kStatusSuccess);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(CardAt(0).RequestCount(adapter::kIoctlWriteSerialNumber), 1u);
    plat::AdvanceVirtualClock(100'000);  // the converter stores it
    unit->PowerCycle(plat::ClockMicros());
    plat::AdvanceVirtualClock(10'000);
    mixer = OpenMixer();
    ASSERT_EQ(mixer->SelectConnection(0), kStatusSuccess);
    uint32_t back = 0;
    mixer->GetSerialNumber(&back);
    EXPECT_EQ(back, serial) << "it survived the power cycle";
}

TEST_F(ProgrammingTest, SerialNumberFailures) {
    Begin();
    UseScript();
    ASSERT_EQ(mixer->PrepareForProgramming(), kStatusSuccess);
    const uint32_t mine = (38u << 24) | (3u << 20) | (9u << 12) | 5u;

    // A serial number of another model never reads back: the converter's own ID stands in bits 31-24.
    EXPECT_EQ(mixer->WriteSerialNumber((39u << 24) | (3u << 20) | (9u << 12) | 5u), kStatusFailure);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"COrvexMixer::WriteSerialNumber Timeout!"});
    EXPECT_EQ(CardAt(0).RequestCount(adapter::kIoctlWriteSerialNumber), 0u);

    boxes.clear();
    CardAt(0).Fault().failCode = adapter::kIoctlWriteSerialNumber;
    EXPECT_EQ(mixer->WriteSerialNumber(mine), kStatusFailure);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"WriteSerialNumber Unable to write Serial Number!"});
    CardAt(0).Fault() = {};

    boxes.clear();
    script.freeze = [] { return true; };
    EXPECT_EQ(mixer->WriteSerialNumber(mine), kStatusFailure);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"WriteSerialNumber WaitForResponse Failed!"});
    for (const Box& b : boxes) EXPECT_EQ(b.caption, "COrvexMixer");

    boxes.clear();
    COrvexMixer unprepared;
    EXPECT_EQ(unprepared.WriteSerialNumber(mine), kStatusFailure) << "no device handle: the wait fails";
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"WriteSerialNumber WaitForResponse Failed!"});
}

// ---- with the device times of real hardware, on the real clock ----

TEST(AdapterRealClock, PrepareAndAFullImageWithRealisticDeviceTimes) {
    if (!std::getenv("ORVEX_REAL_CLOCK")) GTEST_SKIP() << "set ORVEX_REAL_CLOCK=1 to measure on the real clock";
    plat::UseVirtualClock(false);
    TempDir dir;
    ChangeDir cd{dir.path};
    sim::OrvexUnit::Config config;
    config.deviceId = 38;
    config.revisionOffset = kRevisionOffset;
    config.bankRevision = {28, 28};
    // The emulated converter's own times: a 1.5 s erase, 2 ms a packet, status reports every 20 ms.
    sim::OrvexUnit unit(config);
    sim::AdapterCard::Config card;  // polls its converter every millisecond; input relocks in 250 ms
    sim::AdapterStudio studio({{card, &unit}});
    COrvexMixer mixer;
    ASSERT_EQ(mixer.Open(), kStatusSuccess);
    uint16_t count = 0;
    mixer.GetNumConnections(&count);
    ASSERT_EQ(count, 1);
    ASSERT_EQ(mixer.SelectConnection(0), kStatusSuccess);

    const uint64_t t0 = plat::ClockMicros();
    ASSERT_EQ(mixer.PrepareForProgramming(), kStatusSuccess);
    const uint64_t t1 = plat::ClockMicros();
    const Outcome o = Program(mixer, MakeImage(kImageSize, 31, 7), false);
    const uint64_t t2 = plat::ClockMicros();
    ASSERT_TRUE(o.ok) << o.step;
    auto s = [](uint64_t from, uint64_t to) { return (to - from) / 1e6; };
    std::printf("PrepareForProgramming alone: %.3f s\n", s(t0, t1));
    std::printf("Full image: %.3f s = prepare %.3f + bank and erase %.3f + 1660 packets %.3f + verify %.3f + complete %.3f\n",
                s(t1, t2), s(t1, o.prepared), s(o.prepared, o.erased), s(o.erased, o.written), s(o.written, o.verified),
                s(o.verified, t2));
    EXPECT_GE(s(t0, t1), 0.75) << "three relocks of 250 ms";
    EXPECT_LT(s(t0, t1), 3.0);
    unit.PowerCycle(plat::ClockMicros());
    EXPECT_EQ(unit.Register(10) & 0x3F, 31);
    plat::UseVirtualClock(true);
}

}  // namespace

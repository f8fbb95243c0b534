// The remote unit control end to end: COrvexRemote over the real MIDI
// transport and the virtual MIDI system, against the emulated converter.
#include "unitcontrol/OrvexRemote.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

#include "common/Log.h"
#include "platform/Platform.h"
#include "sim/OrvexUnit.h"
#include "sim/VirtualMidi.h"
#include "tests/support/TempDir.h"
#include "transport/OrvexMIDI.h"
#include "protocol/SerialNumber.h"
#include "protocol/RemoteMessages.h"
#include "protocol/UnitCodes.h"

namespace {

using orvex::COrvexRemote;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kImageSize = 212392;

Bytes MakeImage(uint8_t revision, uint32_t seed) {
    Bytes image(kImageSize);
    std::mt19937 rng(seed);
    for (auto& b : image) b = static_cast<uint8_t>(rng());
    image[0] = revision;  // the emulated unit reads a bank's revision from its first byte
    return image;
}

// Waits on the programming status as the updater does: until the unit is done
// or reports an error, or (verify) until an error or PAKRDY shows.
uint8_t WaitStatus(COrvexRemote& remote, uint32_t timeoutMs, bool verify) {
    uint32_t start = plat::GetTickCount();
    for (;;) {
        uint8_t s = 0;
        remote.GetProgrammingStatus(&s);
        if (verify ? (s & (orvex::kProgPGMERR | orvex::kProgTXERR | orvex::kProgPAKRDY)) != 0
                   : ((s & 0x3F) == 0 || (s & (orvex::kProgPGMERR | orvex::kProgTXERR)) != 0))
            return s;
        if (plat::GetTickCount() - start > timeoutMs) return s | orvex::kProgTIMEOUT;
        plat::Sleep(1);
    }
}

enum class Step { Erase, Write, Verify };
using StepHook = std::function<void(Step, uint32_t packet)>;

// The whole sequence as the updater drives it; cancels after any failure.
bool Program(COrvexRemote& remote, const Bytes& image, bool card, std::string* why, const StepHook& hook = {}) {
    auto fail = [&](std::string reason) {
        *why = std::move(reason);
        remote.CancelProgramming();
        return false;
    };
    remote.PrepareForProgramming();
    remote.SelectXSlotFirmware(card);
    remote.SelectAlternateBank();
    remote.WaitForResponse(4);
    if (hook) hook(Step::Erase, 0);
    remote.EraseAlternateBank();
    uint8_t s = WaitStatus(remote, 12000, false);
    if (s & 0x3F) return fail("erase " + std::to_string(s));

    Bytes padded(image);
    padded.resize((image.size() + 127) / 128 * 128 + 1024, 0);
    const uint32_t packets = static_cast<uint32_t>((image.size() + 127) / 128);
    for (uint32_t p = 0; p < packets; ++p) {
        if (hook) hook(Step::Write, p);
        if (remote.WriteFirmwarePacket(&padded[p * 128], 128) != 0) return fail("send " + std::to_string(p));
        s = WaitStatus(remote, 1000, false);
        if (s & 0x3F) return fail("packet " + std::to_string(p) + " status " + std::to_string(s));
    }
    for (uint32_t p = 0; p < packets; ++p) {
        if (hook) hook(Step::Verify, p);
        remote.RequestVerifyPacket();
        s = WaitStatus(remote, 1000, true);
        if ((s & 0x3F) != orvex::kProgPAKRDY) return fail("verify " + std::to_string(p) + " status " + std::to_string(s));
        uint8_t back[128];
        remote.ReadVerifyPacket(back, 128);
        if (std::memcmp(back, &padded[p * 128], 128) != 0) return fail("verify mismatch " + std::to_string(p));
    }
    remote.SetProgrammingComplete();
    return true;
}

class RemoteTest : public ::testing::Test {
public:
    TempDir dir;
    ChangeDir cd{dir.path};
    sim::VirtualMidi vm;
    int out = -1, in = -1;
    std::unique_ptr<sim::OrvexUnit> unit;

    void SetUp() override {
        plat::UseVirtualClock(true);
        vm.Install();
        orvex::COrvexMIDI::SetWinMMApi(&sim::VirtualMidi::Api());
        plat::SetIdleHook([this] { vm.Pump(); });
        out = vm.AddOutPort("Orvex 16 MIDI Out");
        in = vm.AddInPort("Orvex 16 MIDI In");
    }
    void TearDown() override {
        plat::SetIdleHook(nullptr);
        orvex::COrvexMIDI::SetWinMMApi(nullptr);
        plat::SetMessageBoxAnswerer(nullptr);
        orvex::LogClose();
    }
    sim::OrvexUnit& Attach(const sim::OrvexUnit::Config& config) {
        unit = std::make_unique<sim::OrvexUnit>(config);
        vm.Connect(out, in, unit.get());
        return *unit;
    }
    std::unique_ptr<COrvexRemote> OpenRemote() {
        COrvexRemote::Transports t;
        t.midi = [] { return std::make_unique<orvex::COrvexMIDI>(); };
        auto remote = std::make_unique<COrvexRemote>(t);
        EXPECT_EQ(remote->Open(), 0u);
        uint16_t count = 0;
        EXPECT_EQ(remote->GetNumConnections(&count), 0u);
        EXPECT_EQ(count, 1);
        EXPECT_EQ(remote->SelectConnection(0), 0u);
        return remote;
    }
    std::string Log() {
        orvex::LogClose();
        return ReadFileText(dir / "OrvexUpdate.log");
    }
    void PowerCycle() {
        vm.Pump();
        unit->PowerCycle(plat::ClockMicros());
    }
};

TEST_F(RemoteTest, SelectionReadsTheIdentityAndDescribesTheUnit) {
    sim::OrvexUnit::Config c;
    c.deviceId = 39;
    c.modelBits = 0x80;  // the 18/24 variant
    c.bankRevision = {31, 28};
    c.pcbRevision = 2;
    ASSERT_TRUE(orvex::BuildSerialNumber(39, 17, 50, 810, &c.serial));
    c.card.id = 21;
    c.card.revision = 102;
    Attach(c);
    auto remote = OpenRemote();
    uint8_t id = 0, fw = 0, alt = 0, pcb = 0, card = 0;
    uint32_t serial = 0;
    remote->GetDeviceID(&id);
    remote->GetFirmwareRevision(&fw);
    remote->GetAlternateFirmwareRevision(&alt);
    remote->GetPCBRevision(&pcb);
    remote->GetXSlotDeviceID(&card);
    remote->GetSerialNumber(&serial);
    EXPECT_EQ(id, 39);
    EXPECT_EQ(fw, 31);
    EXPECT_EQ(alt, 28);
    EXPECT_EQ(pcb, 2);
    EXPECT_EQ(card, 21);
    EXPECT_EQ(serial, 0x2717232Au);

    char text[256];
    uint8_t described = 0;
    ASSERT_EQ(remote->GetConnectionDescription(0, text, sizeof text, &described), 0u);
    EXPECT_STREQ(text, "Orvex 8/1824 connected via Orvex 16 MIDI Out");
    EXPECT_EQ(described, 39);

    // Selecting the current connection again sends nothing.
    size_t sent = vm.SentBlocks(out).size();
    EXPECT_EQ(remote->SelectConnection(0), 0u);
    EXPECT_EQ(vm.SentBlocks(out).size(), sent);
}

TEST_F(RemoteTest, PollingKeepsTheImageFreshAndASilentUnitIsLostThenFoundAgain) {
    Attach({});
    auto remote = OpenRemote();
    for (int i = 0; i < 50; ++i) {
        remote->Poll();
        plat::Sleep(20);
    }
    uint8_t disconnected = 1;
    remote->IsDisconnected(&disconnected);
    EXPECT_EQ(disconnected, 0);
    EXPECT_GT(unit->StatusRequestsSeen(), 5u);

    unit->SetSilent(true);
    for (int i = 0; i < 80 && !disconnected; ++i) {
        remote->Poll();
        plat::Sleep(20);
        remote->IsDisconnected(&disconnected);
    }
    EXPECT_EQ(disconnected, 1);
    uint8_t id = 1;
    remote->GetDeviceID(&id);
    EXPECT_EQ(id, 0) << "the image is cleared when the unit is lost";

    unit->SetSilent(false);
    for (int i = 0; i < 20 && disconnected; ++i) {
        remote->Poll();
        plat::Sleep(20);
        remote->IsDisconnected(&disconnected);
    }
    EXPECT_EQ(disconnected, 0) << "the next Poll re-opens and re-selects the same connection";
    remote->GetDeviceID(&id);
    EXPECT_EQ(id, 38);
}

TEST_F(RemoteTest, FullImageIsProgrammedVerifiedAndBootsAfterAPowerCycle) {
    struct Case {
        const char* what;
        bool card;
        uint8_t cardId;
    } cases[] = {{"the unit", false, 0}, {"an XSlot card", true, 24}};
    for (const Case& c : cases) {
        sim::OrvexUnit::Config config;
        config.bankRevision = {28, 27};
        config.card.id = c.cardId;
        config.card.revision = 14;
        Attach(config);
        Bytes image = MakeImage(c.card ? 15 : 31, 7);
        auto remote = OpenRemote();
        std::string why;
        ASSERT_TRUE(Program(*remote, image, c.card, &why)) << c.what << ": " << why;

        // Bank 1 runs, so bank 2 is written; the card picks its own idle bank.
        bool written = false;
        for (uint8_t bank : {0, 1}) {
            const Bytes& flash = unit->Flash(c.card, bank);
            written |= flash.size() >= image.size() && std::equal(image.begin(), image.end(), flash.begin());
        }
        EXPECT_TRUE(written) << c.what;
        if (!c.card) {
            EXPECT_TRUE(std::equal(image.begin(), image.end(), unit->Flash(false, 1).begin()));
            EXPECT_EQ(unit->Flash(false, 0)[0], 28) << "the running bank is untouched";
        }

        remote.reset();
        PowerCycle();
        remote = OpenRemote();
        uint8_t revision = 0;
        if (c.card)
            remote->GetXSlotFirmwareRevision(&revision, nullptr);
        else
            remote->GetFirmwareRevision(&revision);
        EXPECT_EQ(revision, c.card ? 15 : 31) << c.what;
    }
    EXPECT_NE(Log().find("COrvexRemote::SelectAlternateBank: Active Bank is 1, Selecting Bank 2"), std::string::npos);
}

TEST_F(RemoteTest, AFaultAtARandomPacketCancelsLeavesTheRunningBankBootableAndARetrySucceeds) {
    std::mt19937 rng(20261210);
    struct Case {
        const char* what;
        // Armed once before the sequence, or at each step for faults of the link.
        std::function<void(RemoteTest&, uint32_t k)> arm;
        std::function<void(RemoteTest&, uint32_t k, Step, uint32_t packet)> atStep;
    } cases[] = {
        {"corrupted read-back", [](RemoteTest& t, uint32_t k) { t.unit->CorruptReadBack(k); }, nullptr},
        {"programming error", [](RemoteTest& t, uint32_t k) { t.unit->FailPacket(k); }, nullptr},
        {"corrupted byte on the cable", nullptr,
         [](RemoteTest& t, uint32_t k, Step s, uint32_t p) {
             if (s == Step::Verify && p == k) t.vm.CorruptBytes(t.in, 20, 1);
         }},
        {"dropped response", nullptr,
         [](RemoteTest& t, uint32_t k, Step s, uint32_t p) {
             if (s == Step::Verify && p == k) t.vm.DropBytes(t.in, 0, 40);
         }},
        {"silence", nullptr,
         [](RemoteTest& t, uint32_t k, Step s, uint32_t p) {
             if (s == Step::Write && p == k) t.vm.SetSilent(t.in, true);
         }},
    };
    for (const Case& c : cases) {
        sim::OrvexUnit::Config config;
        config.bankRevision = {28, 27};
        Attach(config);
        Bytes image = MakeImage(31, 11);
        const uint32_t k = rng() % 1660;
        const Bytes running = unit->Flash(false, 0);
        auto remote = OpenRemote();
        if (c.arm) c.arm(*this, k);
        std::string why;
        StepHook hook;
        if (c.atStep) hook = [&](Step s, uint32_t p) { c.atStep(*this, k, s, p); };
        EXPECT_FALSE(Program(*remote, image, false, &why, hook)) << c.what << " at packet " << k;
        std::printf("%s at packet %u: %s\n", c.what, k, why.c_str());
        const Bytes cancel = orvex::EncodeCommand(orvex::kCmdCancel);
        const auto& sent = vm.SentBlocks(out);
        EXPECT_NE(std::find(sent.begin(), sent.end(), cancel), sent.end()) << c.what << ": no cancel sent";

        // Whatever went wrong, the unit still boots what it ran before.
        vm.SetSilent(in, false);
        unit->CorruptReadBack(std::nullopt);
        unit->FailPacket(std::nullopt);
        remote.reset();
        PowerCycle();
        EXPECT_EQ(unit->RunningBank(), 0) << c.what;
        EXPECT_TRUE(unit->Flash(false, 0) == running) << c.what << ": the running bank changed";

        remote = OpenRemote();
        uint8_t revision = 0;
        remote->GetFirmwareRevision(&revision);
        EXPECT_EQ(revision, 28) << c.what;
        ASSERT_TRUE(Program(*remote, image, false, &why)) << c.what << " retry: " << why;
        remote.reset();
        PowerCycle();
        remote = OpenRemote();
        remote->GetFirmwareRevision(&revision);
        EXPECT_EQ(revision, 31) << c.what;
    }
}

TEST_F(RemoteTest, SerialNumbersAreWrittenConfirmedAndStored) {
    sim::OrvexUnit::Config config;
    config.card.id = 21;
    Attach(config);
    auto remote = OpenRemote();
    uint32_t serial = 0, card = 0, read = 0;
    ASSERT_TRUE(orvex::BuildSerialNumber(38, 26, 49, 123, &serial));
    ASSERT_TRUE(orvex::BuildSerialNumber(21, 26, 49, 124, &card));
    remote->PrepareForProgramming();
    EXPECT_EQ(remote->WriteSerialNumber(serial), 0u);
    EXPECT_EQ(remote->Mode(), 3);
    EXPECT_EQ(WaitStatus(*remote, 2000, false) & 0x3F, 0);
    remote->PrepareForProgramming();
    EXPECT_EQ(remote->WriteXSlotSerialNumber(card), 0u);
    EXPECT_EQ(WaitStatus(*remote, 2000, false) & 0x3F, 0);

    remote.reset();
    PowerCycle();
    remote = OpenRemote();
    remote->GetSerialNumber(&read);
    EXPECT_EQ(read, serial);
    // The identity read stops at register 24: the card's serial needs a read of its own.
    EXPECT_EQ(remote->RequestRegisterStatusVerified(28, 31), 0u);
    EXPECT_EQ(remote->GetXSlotSerialNumber(&read), 0u);
    EXPECT_EQ(read, card);

    // A serial of another model is refused without writing anything.
    std::vector<std::string> boxes;
    plat::SetMessageBoxAnswerer([&](const std::string& text, const std::string& caption, unsigned) {
        boxes.push_back(caption + ": " + text);
        return 1;
    });
    size_t sent = vm.SentBlocks(out).size();
    uint32_t other = 0;
    orvex::BuildSerialNumber(39, 26, 49, 1, &other);
    EXPECT_EQ(remote->WriteSerialNumber(other), 1u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "COrvexRemote: WriteSerialNumber: SerialNumber Model does not match PID!");
    EXPECT_EQ(vm.SentBlocks(out).size(), sent);
}

// The families whose units check each packet's CRC-8 in register 52 (a wrong or
// missing one is PGMERR) take a whole image from the host.
TEST_F(RemoteTest, CrcCheckingFamiliesTakeTheHostsPackets) {
    struct Case {
        const char* what;
        uint8_t id, variant;
    } cases[] = {{"Tavi", 49, 0}, {"Orvex(n)", 38, 96}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::OrvexUnit::Config config;
        config.deviceId = c.id;
        config.variant = c.variant;
        Attach(config);
        auto remote = OpenRemote();
        uint8_t id = 0;
        remote->GetDeviceID(&id);
        ASSERT_EQ(id, c.variant ? c.variant : c.id);
        Bytes image = MakeImage(31, 5);
        image.resize(40 * 128 + 17);
        std::string why;
        const size_t sentBefore = vm.SentBlocks(out).size();
        EXPECT_TRUE(Program(*remote, image, false, &why)) << why;
        Bytes expected(unit->Flash(false, 1).size(), 0xFF);
        std::fill(expected.begin(), expected.begin() + 41 * 128, 0);
        std::copy(image.begin(), image.end(), expected.begin());
        EXPECT_TRUE(unit->Flash(false, 1) == expected);
        size_t crcWrites = 0;
        const auto& sent = vm.SentBlocks(out);
        for (size_t i = sentBefore; i < sent.size(); ++i) {
            const orvex::HostMessage m = orvex::ParseHostMessage(sent[i].data(), uint32_t(sent[i].size()));
            crcWrites += m.kind == orvex::HostMessage::kWrite && m.reg == 52;
        }
        EXPECT_EQ(crcWrites, 41u) << "one CRC a packet";

        remote.reset();
    }
}

// The confirmation loop of both serial-number writes against a unit that takes
// the new number late, or never: 64 reads at most, then the time-out box.
TEST_F(RemoteTest, SerialNumbersThatReadBackLateOrNeverAreConfirmedOrTimedOut) {
    struct Case {
        const char* what;
        bool card;
        uint64_t delay;  // until the unit shows what was written
        uint32_t status;
        const char* box;
        const char* logLine;
    } cases[] = {
        {"unit, slow", false, 1'500'000, 0, nullptr, nullptr},
        {"card, slow", true, 1'500'000, 0, nullptr, nullptr},
        {"unit, refuses", false, sim::OrvexUnit::kNever, 1, "COrvexRemote: WriteSerialNumber Timeout!",
         "WriteSerialNumber: Timeout! (MAX_SN_RETIRES)\n"},
        {"card, refuses", true, sim::OrvexUnit::kNever, 1, "COrvexRemote: WriteXSlotSerialNumber Timeout!",
         "WriteXSlotSerialNumber: Timeout! (MAX_SN_RETIRES)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::OrvexUnit::Config config;
        config.card.id = orvex::kXSlotDiZo;
        config.serial = 0;
        Attach(config).DelaySerialWrites(c.delay);
        std::vector<std::string> boxes;
        plat::SetMessageBoxAnswerer([&](const std::string& text, const std::string& caption, unsigned type) {
            boxes.push_back(caption + ": " + text);
            return plat::DefaultAnswer(type);
        });
        const size_t logStart = Log().size();
        auto remote = OpenRemote();
        uint32_t serial = 0;
        ASSERT_TRUE(orvex::BuildSerialNumber(c.card ? orvex::kXSlotDiZo : 38, 26, 49, 123, &serial));
        remote->PrepareForProgramming();
        const size_t sentBefore = vm.SentBlocks(out).size();
        const uint64_t start = plat::ClockMicros();
        EXPECT_EQ(c.card ? remote->WriteXSlotSerialNumber(serial) : remote->WriteSerialNumber(serial), c.status);
        const uint64_t took = plat::ClockMicros() - start;
        const std::string log = Log().substr(logStart);

        // Commands 12 and 10 store the number only once it read back right.
        bool stored = false;
        const auto& sent = vm.SentBlocks(out);
        for (size_t i = sentBefore; i < sent.size(); ++i) {
            const orvex::HostMessage m = orvex::ParseHostMessage(sent[i].data(), uint32_t(sent[i].size()));
            stored = stored || (m.kind == orvex::HostMessage::kCommand && m.command == orvex::kCmdStoreSerial);
        }
        EXPECT_EQ(stored, c.status == 0);
        EXPECT_EQ(remote->Mode(), c.status == 0 ? 3 : 1);
        size_t reads = 0;
        for (size_t at = log.find("GetXSlotSerialNumber"); at != std::string::npos; at = log.find("GetXSlotSerialNumber", at + 1))
            ++reads;
        if (c.status == 0) {
            EXPECT_TRUE(boxes.empty()) << boxes.front();
            EXPECT_GE(took, c.delay) << "it waited for the number to read back";
            if (c.card) EXPECT_GT(reads, 1u);
            EXPECT_EQ(WaitStatus(*remote, 1000, false) & 0x3F, 0);
            remote.reset();
            PowerCycle();
            remote = OpenRemote();
            if (c.card) EXPECT_EQ(remote->RequestRegisterStatusVerified(28, 31), 0u);
            uint32_t read = 0;
            c.card ? remote->GetXSlotSerialNumber(&read) : remote->GetSerialNumber(&read);
            EXPECT_EQ(read, serial);
        } else {
            EXPECT_EQ(boxes, (std::vector<std::string>{c.box}));
            EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
            if (c.card) EXPECT_EQ(reads, 64u) << "one read a try, 64 tries";
            // 64 waits for four answers of the 50 ms identity polling.
            EXPECT_GT(took, 64u * 4 * 40'000);
            EXPECT_LT(took, 64u * 500'000);
        }
        remote.reset();
        plat::SetMessageBoxAnswerer(nullptr);
    }
}

// Wall time of a whole image over an unpaced link with instant device times (real clock).
TEST_F(RemoteTest, FullImageWallTimeOverAnUnpacedLink) {
    plat::UseVirtualClock(false);
    sim::OrvexUnit::Config config;
    config.eraseMicros = 0;
    config.packetMicros = 0;
    config.reportIntervalMicros = 1000;
    Attach(config);
    auto remote = OpenRemote();
    Bytes image = MakeImage(31, 3);
    auto start = std::chrono::steady_clock::now();
    std::string why;
    ASSERT_TRUE(Program(*remote, image, false, &why)) << why;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("full image (%u bytes, 1660 packets) over an unpaced virtual link: %.2f s wall time\n", kImageSize,
                seconds);
    EXPECT_LT(seconds, 60.0);
}

}  // namespace

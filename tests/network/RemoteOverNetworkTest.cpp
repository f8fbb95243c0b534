// The remote unit control over the network path end to end: COrvexRemote
// finds nothing over MIDI, falls back to CVelunIF, discovers the emulated
// card through the DNS-SD stand-in and talks to the converter behind it (and
// to the card itself) in real UDP datagrams on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "common/Log.h"
#include "protocol/RemoteMessages.h"
#include "protocol/SerialNumber.h"
#include "protocol/UnitCodes.h"
#include "sim/network/NetworkStudio.h"
#include "tests/network/NetworkRig.h"
#include "tests/support/TempDir.h"
#include "unitcontrol/OrvexRemote.h"
#include "velun/net.h"

namespace {

using orvex::COrvexRemote;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kImageSize = 212392;

Bytes MakeImage(uint8_t revision, uint8_t second, uint32_t seed) {
    Bytes image(kImageSize);
    std::mt19937 rng(seed);
    for (auto& b : image) b = static_cast<uint8_t>(rng());
    image[0] = revision;  // the emulated unit reads a bank's revisions from its first bytes
    image[1] = second;
    return image;
}

uint8_t WaitStatus(COrvexRemote& remote, uint32_t timeoutMs, bool verify) {
    const uint32_t start = plat::GetTickCount();
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

// The programming sequence as the updater drives it, through COrvexRemote's
// operations: target, bank (not for a VA-VOVUZ card), erase, packets, read-back,
// and for a VA-VOVUZ card bit 7 of register 9 set before completion.
bool Program(COrvexRemote& remote, const Bytes& image, bool card, std::string* why) {
    auto fail = [&](std::string reason) {
        *why = std::move(reason);
        remote.CancelProgramming();
        return false;
    };
    uint8_t cardId = 0;
    remote.GetXSlotDeviceID(&cardId);
    const bool vovuz = card && cardId == orvex::kXSlotVaVovuz;
    remote.PrepareForProgramming();
    if (remote.SelectXSlotFirmware(card ? 1 : 0) != 0) return fail("target");
    if (!vovuz) remote.SelectAlternateBank();
    remote.WaitForResponse(4);
    remote.EraseAlternateBank();
    uint8_t s = WaitStatus(remote, 12000, false);
    if (s & 0x3F) return fail("erase " + std::to_string(s));
    Bytes padded(image);
    padded.resize((image.size() + 127) / 128 * 128, 0);
    const uint32_t packets = static_cast<uint32_t>(padded.size() / 128);
    for (uint32_t p = 0; p < packets; ++p) {
        if (remote.WriteFirmwarePacket(&padded[p * 128], 128) != 0) return fail("send " + std::to_string(p));
        s = WaitStatus(remote, 1000, false);
        if (s & 0x3F) return fail("packet " + std::to_string(p) + " status " + std::to_string(s));
    }
    for (uint32_t p = 0; p < packets; ++p) {
        remote.RequestVerifyPacket();
        s = WaitStatus(remote, 1000, true);
        if ((s & 0x3F) != orvex::kProgPAKRDY) return fail("verify " + std::to_string(p) + " status " + std::to_string(s));
        uint8_t back[128];
        remote.ReadVerifyPacket(back, 128);
        if (std::memcmp(back, &padded[p * 128], 128) != 0) return fail("verify mismatch " + std::to_string(p));
    }
    if (vovuz) {
        uint8_t r9 = 0;
        remote.GetRegister(9, &r9);
        remote.SetRegister(9, static_cast<uint8_t>(r9 | orvex::kProgRunningBank));
    }
    remote.SetProgrammingComplete();
    if (card) remote.SelectXSlotFirmware(0);
    return true;
}

class RemoteOverNetworkTest : public NetworkRig {
public:
    TempDir dir;
    ChangeDir cd{dir.path};

    void TearDown() override {
        NetworkRig::TearDown();
        orvex::LogClose();
    }
    // The program's own transports: MIDI (which finds no device here), then the network.
    std::unique_ptr<COrvexRemote> OpenRemote(uint16_t connection = 0) {
        auto remote = std::make_unique<COrvexRemote>();
        EXPECT_EQ(remote->Open(), 0u);
        EXPECT_EQ(remote->SelectConnection(connection), 0u);
        return remote;
    }
    void PowerCycle(sim::OrvexUnit& unit) {
        PumpCards();
        unit.PowerCycle(plat::ClockMicros());
    }
    // The host messages that reached the card on one of its ports, in order.
    std::vector<orvex::HostMessage> MessagesOn(size_t card, uint16_t port) const {
        std::vector<orvex::HostMessage> out;
        for (const auto& d : cards[card]->Received())
            if (d.port == port) out.push_back(orvex::ParseHostMessage(d.bytes.data(), static_cast<uint32_t>(d.bytes.size())));
        return out;
    }
};

TEST_F(RemoteOverNetworkTest, MidiFindingNothingTheNetworkIsOpenedAndTheUnitBehindTheCardIdentified) {
    sim::OrvexUnit::Config config = DefaultConfig();
    config.bankRevision = {31, 28};
    ASSERT_TRUE(orvex::BuildSerialNumber(38, 17, 50, 810, &config.serial));
    ASSERT_TRUE(orvex::BuildSerialNumber(21, 18, 3, 77, &config.card.serial));
    AddCard(1, config);
    COrvexRemote remote;
    ASSERT_EQ(remote.Open(), 0u);
    uint16_t type = 0, count = 0;
    remote.GetConnectionType(&type);
    EXPECT_EQ(type, orvex::kConnectionNetwork);
    remote.GetNumConnections(&count);
    EXPECT_EQ(count, 1);

    char text[256];
    uint8_t id = 0;
    ASSERT_EQ(remote.GetConnectionDescription(0, text, sizeof text, &id), 0u);
    EXPECT_STREQ(text, "Orvex 16 connected via Velun (127.0.0.1)");
    EXPECT_EQ(id, 38);
    uint8_t fw = 0, alt = 0, card = 0, cardFw = 0;
    uint32_t serial = 0, cardSerial = 0;
    remote.GetFirmwareRevision(&fw);
    remote.GetAlternateFirmwareRevision(&alt);
    remote.GetXSlotDeviceID(&card);
    remote.GetXSlotFirmwareRevision(&cardFw, nullptr);
    remote.GetSerialNumber(&serial);
    EXPECT_EQ(fw, 31);
    EXPECT_EQ(alt, 28);
    EXPECT_EQ(card, orvex::kXSlotVaVovuz);
    EXPECT_EQ(cardFw, 14);
    EXPECT_EQ(serial, config.serial);
    EXPECT_EQ(remote.RequestRegisterStatusVerified(28, 31), 0u);
    EXPECT_EQ(remote.GetXSlotSerialNumber(&cardSerial), 0u);
    EXPECT_EQ(cardSerial, config.card.serial);
    EXPECT_TRUE(MessagesOn(0, 5647).empty()) << "the identity is read from the converter, not the card";

    // Polling keeps the unit; nothing was lost.
    for (int i = 0; i < 30; ++i) {
        remote.Poll();
        plat::Sleep(20);
    }
    uint8_t disconnected = 1;
    remote.IsDisconnected(&disconnected);
    EXPECT_EQ(disconnected, 0);
}

TEST_F(RemoteOverNetworkTest, TwoCardsAreTwoUnitsEachOnItsOwnAddress) {
    AddCard(2);
    sim::OrvexUnit::Config eight = DefaultConfig();
    eight.deviceId = 39;
    AddCard(3, eight);
    COrvexRemote remote;
    ASSERT_EQ(remote.Open(), 0u);
    char text[256];
    uint8_t id = 0;
    ASSERT_EQ(remote.GetConnectionDescription(0, text, sizeof text, &id), 0u);
    EXPECT_STREQ(text, "Orvex 16 connected via Velun (127.0.0.2)");
    ASSERT_EQ(remote.GetConnectionDescription(1, text, sizeof text, &id), 0u);
    EXPECT_STREQ(text, "Orvex 8 connected via Velun (127.0.0.3)");
    EXPECT_EQ(id, 39);
}

TEST_F(RemoteOverNetworkTest, AFullImageIsProgrammedIntoTheConverterVerifiedAndBootsAfterAPowerCycle) {
    sim::OrvexUnit::Config config = DefaultConfig();
    config.bankRevision = {28, 27};
    sim::OrvexUnit& unit = AddCard(1, config);
    const Bytes image = MakeImage(31, 0, 5);
    const Bytes cardBefore = unit.Flash(true, 1);
    auto remote = OpenRemote();
    std::string why;
    ASSERT_TRUE(Program(*remote, image, false, &why)) << why;
    EXPECT_TRUE(std::equal(image.begin(), image.end(), unit.Flash(false, 1).begin())) << "bank 2, the idle one";
    EXPECT_EQ(unit.Flash(false, 0)[0], 28) << "the running bank is untouched";
    EXPECT_TRUE(unit.Flash(true, 1) == cardBefore) << "the card is untouched";
    EXPECT_TRUE(MessagesOn(0, 5647).empty());

    remote.reset();
    PowerCycle(unit);
    remote = OpenRemote();
    uint8_t revision = 0;
    remote->GetFirmwareRevision(&revision);
    EXPECT_EQ(revision, 31);
    EXPECT_EQ(unit.RunningBank(), 1);
}

TEST_F(RemoteOverNetworkTest, TheSlotTargetProgramsTheCardItselfWithoutABankAndWithBit7BeforeCompletion) {
    sim::OrvexUnit& unit = AddCard(1);
    const Bytes image = MakeImage(15, 4, 9);
    const Bytes unitBanks[2] = {unit.Flash(false, 0), unit.Flash(false, 1)};
    auto remote = OpenRemote();
    cards[0]->ClearReceived();
    std::string why;
    ASSERT_TRUE(Program(*remote, image, true, &why)) << why;
    PumpCards();  // the last datagrams reach the card
    EXPECT_TRUE(std::equal(image.begin(), image.end(), unit.Flash(true, 1).begin())) << "the card's idle bank";
    EXPECT_TRUE(unit.Flash(false, 0) == unitBanks[0] && unit.Flash(false, 1) == unitBanks[1])
        << "the converter's banks are untouched";

    // Everything of the update went to the card's own port; no bank was selected;
    // register 9 was written with bit 7 before command 8 completed it.
    const auto onCard = MessagesOn(0, 5647);
    ASSERT_FALSE(onCard.empty());
    bool bit7 = false, completed = false;
    size_t packets = 0;
    for (const auto& m : onCard) {
        if (m.kind == orvex::HostMessage::kCommand && (m.command == orvex::kCmdSelectBank1 || m.command == orvex::kCmdSelectBank2))
            ADD_FAILURE() << "bank selected";
        if (m.kind == orvex::HostMessage::kWrite && m.reg == 9 && (m.value & 0x80)) bit7 = true;
        if (m.kind == orvex::HostMessage::kCommand && m.command == orvex::kCmdCompleteBank2Active) {
            EXPECT_TRUE(bit7) << "bit 7 set before completion";
            completed = true;
        }
        if (m.kind == orvex::HostMessage::kPacket) ++packets;
    }
    EXPECT_TRUE(completed);
    EXPECT_EQ(packets, (image.size() + 127) / 128);
    for (const auto& m : MessagesOn(0, 5645))
        EXPECT_FALSE(m.kind == orvex::HostMessage::kPacket || m.kind == orvex::HostMessage::kCommand)
            << "nothing of the update reached the converter";

    remote.reset();
    PowerCycle(unit);
    remote = OpenRemote();
    uint8_t revision = 0, second = 0;
    remote->GetXSlotFirmwareRevision(&revision, &second);
    EXPECT_EQ(revision, 15) << "the card boots the new image";
}

TEST_F(RemoteOverNetworkTest, TheCardSerialNumberIsWrittenToTheCardAndStored) {
    sim::OrvexUnit& unit = AddCard(1);
    auto remote = OpenRemote();
    uint32_t serial = 0, read = 0;
    ASSERT_TRUE(orvex::BuildSerialNumber(21, 26, 49, 124, &serial));
    cards[0]->ClearReceived();
    remote->PrepareForProgramming();
    ASSERT_EQ(remote->WriteXSlotSerialNumber(serial), 0u);
    EXPECT_EQ(WaitStatus(*remote, 2000, false) & 0x3F, 0);
    size_t writes = 0;
    for (const auto& m : MessagesOn(0, 5647))
        if (m.kind == orvex::HostMessage::kWrite && m.reg >= 28 && m.reg <= 31) ++writes;
    EXPECT_EQ(writes, 4u) << "registers 28 to 31 written to the card itself";
    for (const auto& m : MessagesOn(0, 5645))
        EXPECT_FALSE(m.kind == orvex::HostMessage::kWrite) << "nothing written to the converter";

    remote.reset();
    PowerCycle(unit);
    remote = OpenRemote();
    EXPECT_EQ(remote->RequestRegisterStatusVerified(28, 31), 0u);
    EXPECT_EQ(remote->GetXSlotSerialNumber(&read), 0u);
    EXPECT_EQ(read, serial);
}

TEST_F(RemoteOverNetworkTest, AnEmptyDatagramClosesTheTransportAndTheNextPollFindsTheUnitAgain) {
    AddCard(1);
    auto remote = OpenRemote();
    ASSERT_TRUE(cards[0]->SendToComputer({}));
    remote->Poll();
    uint8_t disconnected = 0, id = 0;
    remote->IsDisconnected(&disconnected);
    EXPECT_EQ(disconnected, 1);
    remote->GetDeviceID(&id);
    EXPECT_EQ(id, 0) << "the image is cleared with the unit lost";
    for (int i = 0; i < 5 && disconnected; ++i) {
        remote->Poll();
        remote->IsDisconnected(&disconnected);
    }
    EXPECT_EQ(disconnected, 0) << "a new discovery and the same connection selected again";
    remote->GetDeviceID(&id);
    EXPECT_EQ(id, 38);
}

// The entry point the simulation mode calls: cards for the given units on
// loopback, advertised, and the table installed; driven from the idle hook.
TEST_F(RemoteOverNetworkTest, TheStudioEntryPointStartsTheCardsAndTheRemotePathFindsThem) {
    orvex::CVelunIF::SetDnsSdApi(nullptr);
    orvex::CVelunIF::SetLibraryName("no-such-dnssd-library");  // nothing real to fall back on after Stop
    sim::OrvexUnit::Config eight = DefaultConfig();
    eight.deviceId = 39;
    sim::OrvexUnit sixteen(DefaultConfig()), eightUnit(eight), plain(sim::OrvexUnit::Config{});
    sim::NetworkStudio studio;
    std::string why;
    EXPECT_FALSE(studio.Start({&sixteen, &plain}, &why));
    EXPECT_EQ(why, "unit 1 carries no VA-VOVUZ card");
    EXPECT_EQ(studio.Cards(), 0u) << "nothing stays started";
    ASSERT_TRUE(studio.Start({&sixteen, &eightUnit}, &why)) << why;
    plat::SetIdleHook([&] { studio.Pump(); });
    {
        COrvexRemote remote;
        ASSERT_EQ(remote.Open(), 0u);
        char text[256];
        uint8_t id = 0;
        ASSERT_EQ(remote.GetConnectionDescription(0, text, sizeof text, &id), 0u);
        EXPECT_STREQ(text, "Orvex 16 connected via Velun (127.0.0.2)");
        ASSERT_EQ(remote.GetConnectionDescription(1, text, sizeof text, &id), 0u);
        EXPECT_STREQ(text, "Orvex 8 connected via Velun (127.0.0.3)");
        EXPECT_EQ(sim::NetworkStudio::DeviceName(1), "VA-VOVUZ-2");
    }
    studio.Stop();
    COrvexRemote remote;
    EXPECT_EQ(remote.Open(), 1u) << "stopped: no card, no table";
    EXPECT_EQ(velun::net_env_references(), 0);
}

}  // namespace

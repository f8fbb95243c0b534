// The remote path with DO-ZAZ cards: COrvexRemote as the program makes it
// (DefaultRemoteTransports: MIDI, and CXCUSB for the card), over the virtual
// MIDI system to emulated converters whose DO-ZAZ cards the in-process USB
// driver serves.
#include <gtest/gtest.h>

#include <memory>

#include "platform/posix/PosixSystem.h"
#include "sim/OrvexUnit.h"
#include "sim/VirtualMidi.h"
#include "sim/usbcard/InProcess.h"
#include "tests/usbcard/UsbCardTestSupport.h"
#include "transport/OrvexMIDI.h"
#include "unitcontrol/OrvexRemote.h"
#include "usbcard/XCUSB.h"

namespace {

using namespace usbtest;
using orvex::COrvexRemote;
using sim::usbcard::InProcessDriver;
using sim::usbcard::StudioCard;

sim::OrvexUnit::Config UnitWith(const StudioCard* card, uint8_t deviceId = 38) {
    sim::OrvexUnit::Config config;
    config.deviceId = deviceId;
    config.revisionOffset = 0x110;
    if (card) config.card = sim::usbcard::DoZazSlot(*card);
    return config;
}

class RemoteUsbCardTest : public ::testing::Test {
protected:
    RunScope run;
    Boxes boxes;
    sim::VirtualMidi vm;
    std::vector<std::unique_ptr<sim::OrvexUnit>> units;
    std::vector<int> outPorts;

    void SetUp() override {
        plat::posix::ResetFacts();
        vm.Install();
        orvex::COrvexMIDI::SetWinMMApi(&sim::VirtualMidi::Api());
        plat::SetIdleHook([this] { vm.Pump(); });
    }
    void TearDown() override {
        plat::SetIdleHook(nullptr);
        orvex::COrvexMIDI::SetWinMMApi(nullptr);
        plat::posix::ResetFacts();
    }
    sim::OrvexUnit& AddUnit(const sim::OrvexUnit::Config& config) {
        units.push_back(std::make_unique<sim::OrvexUnit>(config));
        const std::string n = std::to_string(units.size());
        outPorts.push_back(vm.AddOutPort("Unit " + n + " Out"));
        vm.Connect(outPorts.back(), vm.AddInPort("Unit " + n + " In"), units.back().get());
        return *units.back();
    }
    static std::unique_ptr<COrvexRemote> OpenRemote() {
        auto remote = std::make_unique<COrvexRemote>();  // the program's own transports
        EXPECT_EQ(remote->Open(), orvex::kStatusSuccess);
        return remote;
    }
    // Polls as the window does, for `ms` of clock time.
    static void PollFor(COrvexRemote& remote, uint32_t ms) {
        const uint32_t start = plat::GetTickCount();
        while (plat::GetTickCount() - start < ms) {
            remote.Poll();
            plat::Sleep(10);
        }
    }
};

TEST_F(RemoteUsbCardTest, SelectingADoZazUnitOverMidiOpensItsCardAndItKeepsTheClock) {
    const StudioCard card{5, 30};
    AddUnit(UnitWith(&card));
    InProcessDriver usb(sim::usbcard::StudioConfig({card}));
    auto remote = OpenRemote();
    ASSERT_EQ(remote->SelectConnection(0), orvex::kStatusSuccess);
    ASSERT_NE(remote->UsbCardAccess(), nullptr);
    EXPECT_EQ(usb.References(), 1u);
    EXPECT_EQ(usb.GetCounters().openHandles, 1u);
    EXPECT_NE(run.Log().find("Found DO-ZAZ [Corvane] [DO-ZAZ] [DZ000001]"), std::string::npos);
    uint8_t revision = 0, second = 0;
    remote->GetXSlotFirmwareRevision(&revision, &second);
    EXPECT_EQ(revision, 5);

    // The rate goes to the card's driver; the unit is not written to, and the
    // pause that follows keeps the window's messages flowing.
    const size_t blocks = vm.SentBlocks(outPorts[0]).size();
    const unsigned pumps = plat::posix::Facts().pumpedMessages;
    const uint64_t before = plat::ClockMicros();
    EXPECT_EQ(remote->SetSampleRate(3), orvex::kStatusSuccess);
    EXPECT_GE(plat::ClockMicros() - before, 249000u);  // 250 whole ticks
    EXPECT_GT(plat::posix::Facts().pumpedMessages - pumps, 100u);
    EXPECT_EQ(vm.SentBlocks(outPorts[0]).size(), blocks);
    EXPECT_EQ(usb.CardState(0).currentRate, 96000u);
    EXPECT_EQ((remote->RegisterImage()[3] >> 4) & 7, 3);
    uint8_t code = 0xEE;
    EXPECT_EQ(remote->GetSampleRate(&code), orvex::kStatusSuccess);
    EXPECT_EQ(code, 3);

    // With audio streams open the card refuses, and says so.
    usb.Emulated().SetStreamsActive(0, true);
    EXPECT_EQ(remote->SetSampleRate(1), orvex::kStatusFailure);
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].text, "Cannot change Sample Rate with Active Devices!");
    EXPECT_EQ(boxes.seen[0].caption, "DO-ZAZ");
    EXPECT_EQ(usb.CardState(0).currentRate, 96000u);
    EXPECT_EQ((remote->RegisterImage()[3] >> 4) & 7, 3);

    remote.reset();
    EXPECT_EQ(usb.References(), 0u) << "the remote object's end closes the card";
    EXPECT_EQ(usb.GetCounters().openHandles, 0u);
}

TEST_F(RemoteUsbCardTest, NoCardAccessWithoutADoZazOrWhenItsDeviceIsMissing) {
    const StudioCard card{5, 30};
    AddUnit(UnitWith(nullptr));  // connection 0: no card
    AddUnit(UnitWith(&card));    // connection 1: a DO-ZAZ, but the driver has one device only
    InProcessDriver usb(sim::usbcard::StudioConfig({card}));
    auto remote = OpenRemote();
    ASSERT_EQ(remote->SelectConnection(0), orvex::kStatusSuccess);
    EXPECT_EQ(remote->UsbCardAccess(), nullptr);
    EXPECT_EQ(usb.Loads(), 0u);
    ASSERT_EQ(remote->SelectConnection(1), orvex::kStatusSuccess);
    EXPECT_EQ(remote->UsbCardAccess(), nullptr) << "a failed Open is not kept";
    EXPECT_EQ(usb.Loads(), 1u);
    EXPECT_EQ(usb.References(), 0u);
    EXPECT_NE(run.Log().find("CXCUSB::Open Failure! No Devices Found!"), std::string::npos);
    // Without it the sample rate of a DO-ZAZ unit cannot change.
    EXPECT_EQ(remote->SetSampleRate(1), orvex::kStatusFailure);
}

TEST_F(RemoteUsbCardTest, EachUnitGetsItsOwnCard) {
    const StudioCard a{5, 30}, b{10, 0};
    AddUnit(UnitWith(&a));
    AddUnit(UnitWith(&b));
    InProcessDriver usb(sim::usbcard::StudioConfig({a, b}));
    auto remote = OpenRemote();
    ASSERT_EQ(remote->SelectConnection(0), orvex::kStatusSuccess);
    ASSERT_EQ(remote->SelectConnection(1), orvex::kStatusSuccess);
    ASSERT_NE(remote->UsbCardAccess(), nullptr);
    EXPECT_EQ(usb.GetCounters().openHandles, 1u) << "the first unit's card was closed";
    EXPECT_EQ(remote->SetSampleRate(5), orvex::kStatusSuccess);
    EXPECT_EQ(usb.CardState(1).currentRate, 192000u);
    EXPECT_EQ(usb.CardState(0).currentRate, 48000u);

    // An update of the second unit's card goes into that card.
    ProgressSurface window;
    const Bytes image = MakeImage(kImage5V30Size, 5, 30);
    EXPECT_TRUE(remote->UsbCardAccess()->ProgramEEPROM(image.data(), kImage5V30Size, window, kProgressId));
    EXPECT_EQ(usb.GetCounters().lastStartIndex, 1u);
    EXPECT_EQ(usb.CardState(1).downloads, 1u);
    EXPECT_EQ(usb.CardState(0).downloads, 0u);
}

TEST_F(RemoteUsbCardTest, ALostUnitLosesItsCardAndGetsItBackWithTheUnit) {
    const StudioCard card{5, 30};
    sim::OrvexUnit& unit = AddUnit(UnitWith(&card));
    InProcessDriver usb(sim::usbcard::StudioConfig({card}));
    auto remote = OpenRemote();
    ASSERT_EQ(remote->SelectConnection(0), orvex::kStatusSuccess);
    ASSERT_NE(remote->UsbCardAccess(), nullptr);

    unit.SetSilent(true);
    PollFor(*remote, 1500);
    uint8_t disconnected = 0;
    remote->IsDisconnected(&disconnected);
    EXPECT_EQ(disconnected, 1);
    EXPECT_EQ(remote->UsbCardAccess(), nullptr);
    EXPECT_EQ(usb.References(), 0u);
    EXPECT_EQ(usb.GetCounters().openHandles, 0u);

    unit.SetSilent(false);
    PollFor(*remote, 500);
    remote->IsDisconnected(&disconnected);
    EXPECT_EQ(disconnected, 0);
    EXPECT_NE(remote->UsbCardAccess(), nullptr);
    EXPECT_EQ(usb.References(), 1u);
    EXPECT_EQ(usb.GetCounters().openHandles, 1u);
}

// The whole road of a DO-ZAZ update over the seams the window uses: the
// remote object's card access downloads, the converter is powered off and
// on, and the unit then reports the card's new firmware.
TEST_F(RemoteUsbCardTest, AfterADownloadAndAPowerCycleTheUnitReportsTheNewRevision) {
    const StudioCard card{5, 30};
    sim::OrvexUnit& unit = AddUnit(UnitWith(&card));
    InProcessDriver usb(sim::usbcard::StudioConfig({card}));
    usb.AttachUnit(0, unit);
    auto remote = OpenRemote();
    ASSERT_EQ(remote->SelectConnection(0), orvex::kStatusSuccess);
    ASSERT_NE(remote->UsbCardAccess(), nullptr);
    ProgressSurface window;
    const Bytes image = MakeImage(kImage10V00Size, 10, 0);
    ASSERT_TRUE(remote->UsbCardAccess()->ProgramEEPROM(image.data(), kImage10V00Size, window, kProgressId));
    EXPECT_EQ(window.positions.back(), int(kImage10V00Size));

    unit.PowerCycle(plat::ClockMicros());
    remote.reset();
    remote = OpenRemote();
    ASSERT_EQ(remote->SelectConnection(0), orvex::kStatusSuccess);
    uint8_t revision = 0;
    remote->GetXSlotFirmwareRevision(&revision, nullptr);
    EXPECT_EQ(revision, 10);
    EXPECT_EQ(remote->RegisterImage()[20], 0);
    EXPECT_EQ(usb.CardState(0).major, 10);
}

}  // namespace

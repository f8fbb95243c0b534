// COrvexMixer against the emulated adapter driver and converters: counting,
// descriptions, selection and identity, the control surface, the status
// block, the waits and PrepareForProgramming with each of its failures.
#include "adapter/OrvexMixer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>

#include "protocol/RemoteMessages.h"
#include "tests/support/AdapterFixture.h"
#include "tests/support/NullMixerInterface.h"

namespace {

using orvex::COrvexMixer;
using orvex::kStatusFailure;
using orvex::kStatusOutOfRange;
using orvex::kStatusSuccess;
namespace st = adapter::status;
using Cards = std::vector<std::pair<sim::AdapterCard::Config, std::optional<sim::OrvexUnit::Config>>>;

class MixerTest : public AdapterFixture {
protected:
    // A converter's register, written as if from its front panel.
    static void Poke(sim::OrvexUnit& unit, uint16_t reg, uint8_t value) {
        const auto bytes = orvex::EncodeRegisterWrite(reg, value, false);
        unit.Receive(bytes.data(), bytes.size(), plat::ClockMicros());
    }
    // Lets the card poll and the next Poll make a full read.
    static void SlowPoll(COrvexMixer& mixer) {
        plat::AdvanceVirtualClock(60'000);
        mixer.Poll();
    }
    std::unique_ptr<COrvexMixer> Selected(const sim::OrvexUnit::Config& unit = Converter(),
                                          const sim::AdapterCard::Config& card = Card()) {
        Start({{card, unit}});
        auto mixer = OpenMixer();
        EXPECT_EQ(mixer->SelectConnection(0), kStatusSuccess);
        return mixer;
    }
};

// ---- counting ----

TEST_F(MixerTest, CountsTheListedConvertersOnlyAndOnlyOnce) {
    Start({{Card(adapter::kModelTarselX, 3), Converter(38)},
           {Card(adapter::kModelTarsel, 4), Converter(49)},  // a Tavi is not listed
           {Card(adapter::kModelTarselXR, 0), Converter(39)},
           {Card(adapter::kModelTarselR, 6), std::nullopt},  // nothing on the cable
           {Card(adapter::kModelKell, 7), Converter(128)}});
    studio->Driver().AddForeignMixer("Line Mixer");
    uint16_t count = 0;
    auto mixer = OpenMixer(&count);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(studio->Driver().OpenMixers(), 0) << "every device closed again after counting";

    char text[256];
    uint8_t id = 0;
    const char* expected[3] = {"Orvex 16 on Pelk Tarsel-X in PCI Slot 3", "Orvex 8 on Pelk Tarsel-XR at Bus 2, Device 0",
                               "Relay 4x4 on Pelk Kell in PCI Slot 7"};
    for (uint16_t i = 0; i < 3; ++i) {
        ASSERT_EQ(mixer->GetConnectionDescription(i, text, sizeof text, &id), kStatusSuccess);
        EXPECT_STREQ(text, expected[i]);
    }

    // Counted once per object, even across Close and a fresh Open.
    const uint32_t opens = studio->Driver().CallCount(sim::PelkDriver::Call::Open);
    const uint32_t lines = studio->Driver().CallCount(sim::PelkDriver::Call::GetLineInfo);
    mixer->Close();
    ASSERT_EQ(mixer->Open(), kStatusSuccess);
    count = 0;
    EXPECT_EQ(mixer->GetNumConnections(&count), kStatusSuccess);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(studio->Driver().CallCount(sim::PelkDriver::Call::Open), opens);
    EXPECT_EQ(studio->Driver().CallCount(sim::PelkDriver::Call::GetLineInfo), lines);
}

TEST_F(MixerTest, WithoutCardsOpenFailsAndThereIsNothingToCount) {
    Start({});
    COrvexMixer mixer;
    EXPECT_EQ(mixer.Open(), kStatusFailure);
    EXPECT_EQ(mixer.Binding(), nullptr);
    uint16_t count = 9;
    EXPECT_EQ(mixer.GetNumConnections(&count), kStatusFailure);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(mixer.SelectConnection(0), kStatusFailure);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MixerTest, ACardWhoseMixerWillNotOpenIsSkipped) {
    Start({{Card(), Converter(38)}, {Card(), Converter(39)}});
    studio->Driver().FailMixerOpen(0, true);
    uint16_t count = 0;
    auto mixer = OpenMixer(&count);
    EXPECT_EQ(count, 1);
    ASSERT_EQ(mixer->SelectConnection(0), kStatusSuccess);
    uint8_t id = 0;
    mixer->GetDeviceID(&id);
    EXPECT_EQ(id, 39);
}

TEST_F(MixerTest, SixteenConnectionsAtMostTheRestLogged) {
    Cards cards;
    for (int i = 0; i < 18; ++i) cards.push_back({Card(), Converter(39)});
    Start(cards);
    uint16_t count = 0;
    auto mixer = OpenMixer(&count);
    EXPECT_EQ(count, 16);
    const std::string log = Log();
    EXPECT_NE(log.find("COrvexMixer::GetNumConnections: 16 connections already, mixer device 16 not counted"),
              std::string::npos);
    EXPECT_NE(log.find("mixer device 17 not counted"), std::string::npos);
    char text[256];
    EXPECT_EQ(mixer->GetConnectionDescription(16, text, sizeof text, nullptr), kStatusFailure);
    EXPECT_EQ(mixer->SelectConnection(16), kStatusFailure);
}

// ---- descriptions ----

struct DescribeCase {
    uint16_t model;
    uint32_t slot;
    uint16_t bus, device;
    uint8_t product;
    uint8_t modelBits;  // register 7: bit 6 clear "/1824", bit 7 clear "/VT"
    uint8_t firmware;
    const char* text;
};

TEST_F(MixerTest, DescriptionsNameConverterAdapterAndPlace) {
    const DescribeCase cases[] = {
        {40, 3, 2, 0, 38, 0xC0, 28, "Orvex 16 on Pelk Tarsel-X in PCI Slot 3"},
        {41, 0, 2, 0, 39, 0xC0, 28, "Orvex 8 on Pelk Tarsel-XR at Bus 2, Device 0"},
        {48, 12, 1, 1, 128, 0xC0, 28, "Relay 4x4 on Pelk Tarsel-XL in PCI Slot 12"},
        {42, 0, 5, 17, 38, 0xC0, 28, "Orvex 16 on Unknown! at Bus 5, Device 17"},
        {38, 1, 0, 0, 39, 0xC0, 28, "Orvex 8 on Unknown! in PCI Slot 1"},
        {36, 1, 0, 0, 38, 0x80, 28, "Orvex 16/1824 on Pelk Tarsel in PCI Slot 1"},
        {37, 2, 0, 0, 39, 0x40, 18, "Orvex 8/VT on Pelk Tarsel-R in PCI Slot 2"},
        {35, 4, 0, 0, 38, 0x00, 28, "Orvex 16/1824 on Pelk Kell in PCI Slot 4"},
        {32, 4, 0, 0, 38, 0x00, 17, "Orvex 16 on Corda-A in PCI Slot 4"},  // variants only from revision 18
        {33, 0, 0, 9, 39, 0xC0, 28, "Orvex 8 on Corda-B at Bus 0, Device 9"},
        {34, 8, 0, 0, 128, 0xC0, 28, "Relay 4x4 on Corda-C in PCI Slot 8"},
    };
    for (const DescribeCase& c : cases) {
        SCOPED_TRACE(c.text);
        studio.reset();
        units.clear();
        sim::AdapterCard::Config card = Card(c.model, c.slot);
        card.bus = c.bus;
        card.device = c.device;
        sim::OrvexUnit::Config unit = Converter(c.product);
        unit.modelBits = c.modelBits;
        unit.bankRevision = {c.firmware, c.firmware};
        Start({{card, unit}});
        auto mixer = OpenMixer();
        ASSERT_EQ(mixer->SelectConnection(0), kStatusSuccess);
        char text[256];
        std::memset(text, 'x', sizeof text);
        uint8_t id = 0;
        ASSERT_EQ(mixer->GetConnectionDescription(0, text, sizeof text, &id), kStatusSuccess);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(id, c.product);
        EXPECT_EQ(studio->Driver().OpenDevices(), 0) << "the device is closed again";
    }
}

TEST_F(MixerTest, DescriptionFailuresAndASmallBuffer) {
    Start({{Card(), Converter(38)}});
    auto mixer = OpenMixer();
    char text[256] = "old text";
    EXPECT_EQ(mixer->GetConnectionDescription(1, text, sizeof text, nullptr), kStatusFailure);
    EXPECT_STREQ(text, "") << "cleared first";

    studio->Driver().FailDeviceOpen(0, true);
    EXPECT_EQ(mixer->GetConnectionDescription(0, text, sizeof text, nullptr), kStatusFailure);
    EXPECT_TRUE(boxes.empty()) << "a device that does not open fails without a word";
    studio->Driver().FailDeviceOpen(0, false);

    CardAt(0).Fault().failCode = adapter::kIoctlAdapterInformation;
    uint8_t id = 77;
    EXPECT_EQ(mixer->GetConnectionDescription(0, text, sizeof text, &id), kStatusFailure);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Unable to retrieve the Orvex information!");
    EXPECT_EQ(boxes[0].caption, "COrvexMixer::GetConnectionDescription");
    EXPECT_EQ(boxes[0].type, plat::mb::Ok | plat::mb::IconWarning);
    EXPECT_EQ(id, 77) << "outputs untouched";
    EXPECT_EQ(studio->Driver().OpenDevices(), 0);
    CardAt(0).Fault().failCode = 0;

    char small[10];
    ASSERT_EQ(mixer->GetConnectionDescription(0, small, sizeof small, nullptr), kStatusSuccess);
    EXPECT_STREQ(small, "Orvex 16 ");
}

// ---- selection and identity ----

TEST_F(MixerTest, SelectionBindsTheControlsAndReadsTheIdentity) {
    sim::OrvexUnit::Config unit = Converter(38);
    unit.pcbRevision = 3;
    unit.bankRevision = {28, 25};
    unit.card = {orvex::kXSlotDiZo, 7, 0, 2, (uint32_t{orvex::kXSlotDiZo} << 24) | (3u << 12) | 5u};
    sim::AdapterCard::Config card = Card(adapter::kModelTarselR);
    card.firmware = 22;
    auto mixer = Selected(unit, card);

    uint8_t b = 0;
    uint32_t serial = 0;
    mixer->GetDeviceID(&b);
    EXPECT_EQ(b, 38);
    EXPECT_FALSE(mixer->IsTavi());
    mixer->GetSerialNumber(&serial);
    EXPECT_EQ(serial, unit.serial);
    mixer->GetPCBRevision(&b);
    EXPECT_EQ(b, 3);
    mixer->GetFirmwareRevision(&b);
    EXPECT_EQ(b, 28);
    mixer->GetXSlotDeviceID(&b);
    EXPECT_EQ(b, orvex::kXSlotDiZo);
    uint8_t second = 0xAA;
    mixer->GetXSlotFirmwareRevision(&b, &second);
    EXPECT_EQ(b, 7);
    EXPECT_EQ(second, 0xAA) << "the second revision byte is left alone";
    mixer->GetXSlotPCBRevision(&b);
    EXPECT_EQ(b, 2);
    mixer->IsDisconnected(&b);
    EXPECT_EQ(b, 0);
    uint16_t w = 9;
    mixer->GetCurrentConnection(&w);
    EXPECT_EQ(w, 0);
    mixer->GetConnectionType(&w);
    EXPECT_EQ(w, orvex::kConnectionAdapter);

    // The adapter firmware rule's two controls.
    uint32_t value = 0;
    ASSERT_TRUE(orvex::ReadAdapterControl(*mixer, "Device ID", &value));
    EXPECT_EQ(value, adapter::kModelTarselR);
    ASSERT_TRUE(orvex::ReadAdapterControl(*mixer, "Firmware Rev", &value));
    EXPECT_EQ(value, 22u);
    EXPECT_FALSE(orvex::ReadAdapterControl(*mixer, "Serial Number", &value)) << "not a control of the card's line";
    NullMixerInterface other;
    EXPECT_FALSE(orvex::ReadAdapterControl(other, "Device ID", &value));

    // The alternate bank's revision comes with the adapter information.
    mixer->GetAlternateFirmwareRevision(&b);
    EXPECT_EQ(b, 0);
    ASSERT_EQ(mixer->PrepareForProgramming(), kStatusSuccess);
    mixer->GetAlternateFirmwareRevision(&b);
    EXPECT_EQ(b, 25);
}

TEST_F(MixerTest, ABlankSerialNumberReadsAsAllOnes) {
    sim::OrvexUnit::Config unit = Converter(38);
    unit.serial = 0;  // week 0: blank
    auto mixer = Selected(unit);
    uint32_t serial = 0;
    mixer->GetSerialNumber(&serial);
    EXPECT_EQ(serial, 0xFFFFFFFFu);
}

TEST_F(MixerTest, SelectionFailures) {
    Start({{Card(), Converter(38)}, {Card(), Converter(39)}});
    auto mixer = OpenMixer();
    uint8_t b = 0;
    uint16_t w = 0;

    EXPECT_EQ(mixer->SelectConnection(2), kStatusFailure) << "past the count";
    mixer->GetCurrentConnection(&w);
    EXPECT_EQ(w, 2) << "the index stays recorded";
    mixer->IsDisconnected(&b);
    EXPECT_EQ(b, 1);
    EXPECT_TRUE(boxes.empty());

    CardAt(1).Fault().noAdapterLine = true;
    EXPECT_EQ(mixer->SelectConnection(1), kStatusFailure);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "m_pMixer->GetLineIDByType 'Adapter' Failed!");
    EXPECT_EQ(boxes[0].caption, "COrvexMixer");
    EXPECT_EQ(boxes[0].type, plat::mb::Ok | plat::mb::IconWarning);
    mixer->IsDisconnected(&b);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(studio->Driver().OpenMixers(), 1) << "the mixer device stays open";

    // A later selection closes it first.
    ASSERT_EQ(mixer->SelectConnection(0), kStatusSuccess);
    EXPECT_EQ(studio->Driver().OpenMixers(), 1);
    mixer->GetDeviceID(&b);
    EXPECT_EQ(b, 38);
    mixer->Close();
    EXPECT_EQ(studio->Driver().OpenMixers(), 0);
    mixer->IsDisconnected(&b);
    EXPECT_EQ(b, 1);
}

TEST_F(MixerTest, AConverterThatTurnedIntoATaviIsRefusedAtSelection) {
    Start({{Card(), Converter(38)}});
    auto mixer = OpenMixer();
    // The converter list was made; now a Tavi sits on that card.
    studio.reset();
    units.clear();
    Start({{Card(), Converter(49)}});
    EXPECT_EQ(mixer->SelectConnection(0), kStatusFailure);
    EXPECT_EQ(studio->Driver().OpenMixers(), 0);
}

// ---- the status block ----

TEST_F(MixerTest, PollAlternatesFastReadsWithAFullReadEveryFiftyMilliseconds) {
    auto mixer = Selected();
    mixer->SetMixerVolume(0, 3, 100, 0);
    mixer->SetMixerSource(1, 31, 7);
    SlowPoll(*mixer);
    uint8_t v = 0;
    mixer->GetMixerVolume(0, 3, &v);
    EXPECT_EQ(v, 100);
    mixer->GetMixerSource(1, 31, &v);
    EXPECT_EQ(v, 7);

    mixer->Poll();  // within 50 ms: the fast read, which carries no output mixer
    mixer->GetMixerVolume(0, 3, &v);
    EXPECT_EQ(v, 0);
    for (uint32_t i = st::kOutputSource; i < st::kOutputMute + 64; ++i) ASSERT_EQ(mixer->StatusBlock()[i], 0) << i;
    uint8_t clock = 9;
    mixer->GetSyncSource(&clock);
    EXPECT_EQ(clock, 1) << "the settings come with the fast read";

    SlowPoll(*mixer);
    mixer->GetMixerSource(1, 31, &v);
    EXPECT_EQ(v, 7);
}

TEST_F(MixerTest, AMutedOutputReadsAsVolumeZeroAndMarksItselfMuted) {
    auto mixer = Selected();
    // As the driver reports it: volume 255.
    mixer->SetMixerMute(0, 5, 1);
    SlowPoll(*mixer);
    uint8_t v = 9, m = 0;
    mixer->GetMixerVolume(0, 5, &v);
    mixer->GetMixerMute(0, 5, &m);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(m, 1);

    // Volume 255 without the mute flag: reading the volume sets the flag.
    auto& block = mixer->StatusBlockForTest();
    block[st::kOutputVolume + 1 + 2 * 4] = 255;
    block[st::kOutputMute + 1 + 2 * 4] = 0;
    mixer->GetMixerVolume(1, 4, &v);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(block[st::kOutputMute + 1 + 2 * 4], 1);
    mixer->GetMixerMute(1, 4, &m);
    EXPECT_EQ(m, 1);
}

TEST_F(MixerTest, OutputVolumesSourcesAndMutesReachTheConverter) {
    auto mixer = Selected();
    EXPECT_EQ(mixer->SetMixerVolume(0, 2, 255, 0), kStatusSuccess);
    EXPECT_EQ(UnitAt(0).Register(128 + 8), 254) << "volume 255 is written as 254";
    mixer->SetMixerVolume(7, 2, 30, 0);  // any non-zero input is side B
    EXPECT_EQ(UnitAt(0).Register(128 + 8 + 2), 30);
    mixer->SetMixerSource(0, 0, 3);
    EXPECT_EQ(UnitAt(0).Register(129), 3);

    EXPECT_EQ(mixer->SetMixerVolume(0, 32, 10, 0), kStatusOutOfRange);
    EXPECT_EQ(mixer->SetMixerSource(0, 32, 1), kStatusOutOfRange);
    EXPECT_EQ(mixer->SetMixerMute(1, 40, 1), kStatusOutOfRange);
    uint8_t v = 0x5A;
    EXPECT_EQ(mixer->GetMixerVolume(0, 32, &v), kStatusOutOfRange);
    EXPECT_EQ(mixer->GetMixerMute(0, 255, &v), kStatusOutOfRange);
    EXPECT_EQ(mixer->GetMixerSource(1, 32, &v), kStatusOutOfRange);
    EXPECT_EQ(v, 0x5A);
}

TEST_F(MixerTest, TrimGroupsAreWrittenInvertedAndReadFromTheBlock) {
    auto mixer = Selected();
    for (uint16_t g = 0; g < 8; ++g) {
        SCOPED_TRACE(g);
        ASSERT_EQ(mixer->SetTrim(g, 1), kStatusSuccess);  // setting 1 writes 0 to the control
        EXPECT_NE(UnitAt(0).Register(2) & (1 << g), 0);
        SlowPoll(*mixer);
        uint8_t t = 9;
        mixer->GetTrim(g, &t);
        EXPECT_EQ(t, 1);
        EXPECT_EQ(mixer->StatusBlock()[st::kTrims + 4 * g], 0);
        for (uint8_t other : {0, 2}) {
            mixer->SetTrim(g, other);  // any other setting writes 1
            EXPECT_EQ(UnitAt(0).Register(2) & (1 << g), 0);
            SlowPoll(*mixer);
            mixer->GetTrim(g, &t);
            EXPECT_EQ(t, 0);
        }
    }
    uint8_t t = 0x5A;
    EXPECT_EQ(mixer->SetTrim(8, 1), kStatusOutOfRange);
    EXPECT_EQ(mixer->GetTrim(8, &t), kStatusOutOfRange);
    EXPECT_EQ(t, 0x5A);
}

TEST_F(MixerTest, ClockSourcesGoThroughTheDriverCodes) {
    auto mixer = Selected();
    const uint8_t driverCode[7] = {0, 1, 2, 6, 3, 4, 5};
    for (uint8_t code = 0; code < 7; ++code) {
        SCOPED_TRACE(code);
        ASSERT_EQ(mixer->SetSyncSource(code), kStatusSuccess);
        EXPECT_EQ(UnitAt(0).Register(3) & 7, driverCode[code]);
        SlowPoll(*mixer);
        uint8_t back = 99;
        mixer->GetSyncSource(&back);
        EXPECT_EQ(back, code);
    }
    const uint8_t before = UnitAt(0).Register(3);
    EXPECT_EQ(mixer->SetSyncSource(7), kStatusOutOfRange);
    EXPECT_EQ(UnitAt(0).Register(3), before);

    mixer->StatusBlockForTest()[st::kClockSource] = 7;  // a driver code without an interface code
    uint8_t back = 42;
    EXPECT_EQ(mixer->GetSyncSource(&back), kStatusSuccess);
    EXPECT_EQ(back, 42);
}

TEST_F(MixerTest, SampleRatesAreHertzOnTheControl) {
    auto mixer = Selected();
    for (uint8_t code = 0; code < 6; ++code) {
        SCOPED_TRACE(code);
        ASSERT_EQ(mixer->SetSampleRate(code), kStatusSuccess);
        EXPECT_EQ((UnitAt(0).Register(3) >> 4) & 7, code);
        uint8_t back = 99;
        ASSERT_EQ(mixer->GetSampleRate(&back), kStatusSuccess);
        EXPECT_EQ(back, code);
    }
    EXPECT_EQ(mixer->SetSampleRate(6), kStatusOutOfRange);

    // The control holds none of the six rates: a code the card shows as 0 Hz.
    Poke(UnitAt(0), 3, 0x70);
    plat::AdvanceVirtualClock(2000);
    uint8_t back = 42;
    EXPECT_EQ(mixer->GetSampleRate(&back), kStatusOutOfRange);
    EXPECT_EQ(back, 42);

    COrvexMixer unselected;
    EXPECT_EQ(unselected.GetSampleRate(&back), kStatusOutOfRange) << "no control to read";
}

TEST_F(MixerTest, ConverterSettingsReachTheConverterAndComeBackThroughTheBlock) {
    auto mixer = Selected();
    struct Setting {
        const char* name;
        uint32_t (COrvexMixer::*set)(uint8_t);
        uint32_t (COrvexMixer::*get)(uint8_t*);
        uint8_t value;
        uint16_t reg;
        uint8_t mask, bits;
    } settings[] = {
        {"FPAOutSource", &COrvexMixer::SetFPAOutSource, &COrvexMixer::GetFPAOutSource, 2, 4, 0x03, 0x02},
        {"FPDOutSource", &COrvexMixer::SetFPDOutSource, &COrvexMixer::GetFPDOutSource, 3, 4, 0x0C, 0x0C},
        {"WideWireIn", &COrvexMixer::SetWideWireIn, &COrvexMixer::GetWideWireIn, 1, 4, 0x10, 0x10},
        {"WideWireOut", &COrvexMixer::SetWideWireOut, &COrvexMixer::GetWideWireOut, 1, 4, 0x20, 0x20},
        {"FPMeterSource", &COrvexMixer::SetFPMeterSource, &COrvexMixer::GetFPMeterSource, 1, 4, 0x40, 0x40},
        {"XSlotOutSource", &COrvexMixer::SetXSlotOutSource, &COrvexMixer::GetXSlotOutSource, 1, 4, 0x80, 0x80},
        {"SLEnable", &COrvexMixer::SetSLEnable, &COrvexMixer::GetSLEnable, 1, 3, 0x08, 0x08},
    };
    for (const Setting& s : settings) {
        SCOPED_TRACE(s.name);
        ASSERT_EQ((mixer.get()->*s.set)(s.value), kStatusSuccess);
        EXPECT_EQ(UnitAt(0).Register(s.reg) & s.mask, s.bits);
        SlowPoll(*mixer);
        uint8_t back = 99;
        ASSERT_EQ((mixer.get()->*s.get)(&back), kStatusSuccess);
        EXPECT_EQ(back, s.value);
    }
}

TEST_F(MixerTest, XSlotModeAndOptionsLiveInTheModeWord) {
    auto mixer = Selected();
    ASSERT_EQ(mixer->SetXSlotOptionA(1), kStatusSuccess);
    EXPECT_EQ(UnitAt(0).Register(19) & 0x30, 0x10);
    mixer->SetXSlotOptionB(1);
    EXPECT_EQ(UnitAt(0).Register(19) & 0x30, 0x30);
    mixer->SetXSlotOptionA(0);
    EXPECT_EQ(UnitAt(0).Register(19) & 0x30, 0x20) << "option B stays";
    uint8_t on = 9;
    mixer->GetXSlotOptionA(&on);
    EXPECT_EQ(on, 0);
    mixer->GetXSlotOptionB(&on);
    EXPECT_EQ(on, 1);

    Poke(UnitAt(0), 5, 0x08);  // the card locks the front panel
    plat::AdvanceVirtualClock(2000);
    uint8_t mode = 0;
    mixer->GetXSlotMode(&mode);
    EXPECT_EQ(mode, 1);
}

TEST_F(MixerTest, MetersComeFromTheBlockByChannelLessEight) {
    auto mixer = Selected();
    Poke(UnitAt(0), 64, 0xA8);   // entry 0: level A, overload
    Poke(UnitAt(0), 127, 0x50);  // entry 63
    SlowPoll(*mixer);
    uint8_t v = 0;
    mixer->GetPeakMeter(8, &v);
    EXPECT_EQ(v, 0xA8);
    mixer->GetOverload(8, &v);
    EXPECT_EQ(v, 1);
    mixer->GetPeakMeter(7, &v);
    EXPECT_EQ(v, 0x50) << "channel 7 wraps to entry 63";
    mixer->GetOverload(71, &v);
    EXPECT_EQ(v, 0);
    mixer->GetPeakMeter(72, &v);
    EXPECT_EQ(v, 0xA8) << "entry (72 - 8) mod 64 = 0";
}

TEST_F(MixerTest, StatusBlockGettersReadTheirOffsets) {
    auto mixer = Selected();
    auto& block = mixer->StatusBlockForTest();
    block.fill(0);
    block[st::kRegister5Bit0] = 3;
    block[st::kRegister5Bit1] = 0;
    block[st::kModelVariant] = 96;
    block[st::kStatusWord] = 0x3C;
    block[st::kStatusWord + 1] = 0x40;  // bit 14
    uint8_t v = 0;
    mixer->GetRegister5Bit0(&v);
    EXPECT_EQ(v, 1);
    mixer->GetRegister5Bit1(&v);
    EXPECT_EQ(v, 1) << "set when its byte is zero";
    mixer->GetModelVariant(&v);
    EXPECT_EQ(v, 96);
    mixer->GetRegister7Low(&v);
    EXPECT_EQ(v, 0x3C);
    mixer->IsVariant1824(&v);
    EXPECT_EQ(v, 1);
    mixer->IsVariantVT(&v);
    EXPECT_EQ(v, 0);
    block[st::kStatusWord + 1] = 0x80;  // bit 15
    block[st::kRegister5Bit0] = 0;
    block[st::kRegister5Bit1] = 1;
    mixer->IsVariant1824(&v);
    EXPECT_EQ(v, 0);
    mixer->IsVariantVT(&v);
    EXPECT_EQ(v, 1);
    mixer->GetRegister5Bit0(&v);
    EXPECT_EQ(v, 0);
    mixer->GetRegister5Bit1(&v);
    EXPECT_EQ(v, 0);
    mixer->GetSLStatus(&v);
    EXPECT_EQ(v, 0);
}

TEST_F(MixerTest, WhatThisPathDoesNotOffer) {
    auto mixer = Selected();
    COrvexMixer& m = *mixer;
    struct Case {
        const char* name;
        std::function<uint32_t(uint8_t*)> call;
        uint32_t status;
        bool clears;  // the byte output becomes 0; otherwise it is left alone
    } cases[] = {
        {"GetStatusTriple", [&](uint8_t* b) { return m.GetStatusTriple(b, b, b); }, 1, false},
        {"SelectBank", [&](uint8_t*) { return m.SelectBank(1); }, 1, false},
        {"WriteXSlotSerialNumber", [&](uint8_t*) { return m.WriteXSlotSerialNumber(0x18001001); }, 1, false},
        {"SetRegisters48To51", [&](uint8_t*) { return m.SetRegisters48To51(5); }, 1, false},
        {"SetRegister5Bit2", [&](uint8_t*) { return m.SetRegister5Bit2(1); }, 1, false},
        {"GetRegister5Bit2", [&](uint8_t* b) { return m.GetRegister5Bit2(b); }, 1, false},
        {"SetXSlotMode", [&](uint8_t*) { return m.SetXSlotMode(1); }, 1, false},
        {"GetRegister5Bit5", [&](uint8_t* b) { return m.GetRegister5Bit5(b); }, 1, false},
        {"GetXSlotSerialNumber", [&](uint8_t*) { uint32_t s = 7; return m.GetXSlotSerialNumber(&s) | (s != 7); }, 1, false},
        {"GetRegister24", [&](uint8_t* b) { return m.GetRegister24(b); }, 1, true},
        {"GetRegister20PlusOne", [&](uint8_t* b) { return m.GetRegister20PlusOne(b); }, 1, true},
        {"GetRegister21PlusOne", [&](uint8_t* b) { return m.GetRegister21PlusOne(b); }, 1, true},
        {"GetWord22PlusOne", [&](uint8_t* b) { uint16_t w = 7; uint32_t r = m.GetWord22PlusOne(&w); *b = static_cast<uint8_t>(w); return r; }, 1, true},
        {"GetWord7", [&](uint8_t*) { uint16_t w = 7; return m.GetWord7(&w) | (w != 7); }, 1, false},
        {"SetRegister27", [&](uint8_t*) { return m.SetRegister27(1); }, 1, false},
        {"RefreshAllRegisters", [&](uint8_t*) { return m.RefreshAllRegisters(); }, 1, false},
        {"GetFirmwareDate", [&](uint8_t*) { uint16_t w = 7; return m.GetFirmwareDate(&w) | (w != 7); }, 1, false},
        {"GetRegister125Bit7", [&](uint8_t* b) { return m.GetRegister125Bit7(b); }, 1, false},
        {"GetPortSampleRate", [&](uint8_t*) { uint32_t r = 7; return m.GetPortSampleRate(0, &r) | (r != 7); }, 1, false},
        {"GetLevelMeter", [&](uint8_t* b) { uint32_t l = 7; return m.GetLevelMeter(0, 0, &l, b) | (l != 7); }, 1, false},
        {"SetMatrixGain", [&](uint8_t*) { return m.SetMatrixGain(0, 0, 1); }, 1, false},
        {"GetMatrixGain", [&](uint8_t*) { int16_t g = 7; return m.GetMatrixGain(0, 0, &g) | (g != 7); }, 1, false},
        {"SetOutputGain", [&](uint8_t*) { return m.SetOutputGain(0, 1); }, 1, false},
        {"GetOutputGain", [&](uint8_t*) { int16_t g = 7; return m.GetOutputGain(0, &g) | (g != 7); }, 1, false},
        {"SetMatrixSwitchA", [&](uint8_t*) { return m.SetMatrixSwitchA(0, 0, 1); }, 1, false},
        {"GetMatrixSwitchA", [&](uint8_t* b) { return m.GetMatrixSwitchA(0, 0, b); }, 1, false},
        {"SetSwitchFlag", [&](uint8_t*) { return m.SetSwitchFlag(0, 1); }, 1, false},
        {"GetSwitchFlag", [&](uint8_t* b) { return m.GetSwitchFlag(0, b); }, 1, false},
        {"SetMatrixSwitchB", [&](uint8_t*) { return m.SetMatrixSwitchB(0, 0, 1); }, 1, false},
        {"GetMatrixSwitchB", [&](uint8_t* b) { return m.GetMatrixSwitchB(0, 0, b); }, 1, false},
        {"GetRegister", [&](uint8_t* b) { return m.GetRegister(9, b); }, 1, true},
        {"SetRegister", [&](uint8_t*) { return m.SetRegister(9, 0x80); }, 1, false},
        {"SetChangeCallback", [&](uint8_t*) { return m.SetChangeCallback(9, 9, nullptr, 0, 0); }, 1, false},
        {"NoOperation", [&](uint8_t*) { return m.NoOperation(123); }, 0, false},
        {"SetMode", [&](uint8_t*) { return m.SetMode(4); }, 0, false},
    };
    const uint8_t reg9 = UnitAt(0).Register(9);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t out = 0x5A;
        EXPECT_EQ(c.call(&out), c.status);
        EXPECT_EQ(out, c.clears ? 0 : 0x5A);
    }
    EXPECT_FALSE(m.HasExtendedMixer());
    EXPECT_FALSE(m.GetRegister125Bit2());
    EXPECT_FALSE(m.GetRegister124Bit7());
    EXPECT_FALSE(m.GetRegister42Bit3());
    EXPECT_EQ(UnitAt(0).Register(9), reg9) << "none of them reached the converter";
}

// ---- waits ----

class MixerWaitTest : public MixerTest {
protected:
    std::unique_ptr<COrvexMixer> mixer;
    void SetUp() override {
        MixerTest::SetUp();
        mixer = Selected();
        UseScript();  // the device is opened through the scripted table
        ASSERT_EQ(mixer->PrepareForProgramming(), kStatusSuccess);
        script.reads = 0;
    }
    void TearDown() override {
        mixer.reset();
        MixerTest::TearDown();
    }
};

TEST_F(MixerWaitTest, WaitForResponseCountsChangesOfTheLowEightBits) {
    script.readings = {0, 1, 1, 2, 3, 4};
    EXPECT_EQ(mixer->WaitForResponse(4), kStatusSuccess);
    EXPECT_EQ(script.reads, 6u);

    script.reads = 0;
    script.readings = {0x100, 0x200, 0x201, 0x302, 0x303, 0x404};
    EXPECT_EQ(mixer->WaitForResponse(4), kStatusSuccess);
    EXPECT_EQ(script.reads, 6u) << "0x100 to 0x200 is no change in bits 0-7";
}

TEST_F(MixerWaitTest, AFailedFirstReadingIsNoReference) {
    script.readings = {std::nullopt, 5, 5, 6, 7, 8, std::nullopt, 9};
    EXPECT_EQ(mixer->WaitForResponse(4), kStatusSuccess);
    EXPECT_EQ(script.reads, 8u) << "changes count from the 5, not from a made-up 0";
}

TEST_F(MixerWaitTest, ACounterThatNeverChangesFailsAfterThreeSeconds) {
    script.freeze = [] { return true; };
    const uint64_t start = plat::ClockMicros();
    EXPECT_EQ(mixer->WaitForResponse(4), kStatusFailure);
    const uint64_t elapsed = plat::ClockMicros() - start;
    EXPECT_GE(elapsed, 3'000'000u);
    EXPECT_LT(elapsed, 3'010'000u);
}

TEST_F(MixerWaitTest, WaitingForNoAnswerReadsOnceAndRefreshesTheBlock) {
    script.readings = {1, 2};
    mixer->StatusBlockForTest().fill(0xEE);
    EXPECT_EQ(mixer->WaitForResponse(0), kStatusSuccess);
    EXPECT_EQ(script.reads, 2u);
    EXPECT_NE(mixer->StatusBlock()[st::kPeakMeters], 0xEE) << "the wait ends with a Poll";
}

TEST_F(MixerTest, WithoutTheDeviceTheRequestsFailAtOnce) {
    auto mixer = Selected();
    const uint64_t start = plat::ClockMicros();
    EXPECT_EQ(mixer->WaitForResponse(4), kStatusFailure);
    EXPECT_LT(plat::ClockMicros() - start, 1000u);
    uint8_t status = 0x5A;
    EXPECT_EQ(mixer->GetProgrammingStatus(&status), kStatusFailure);
    EXPECT_EQ(status, 0x5A);
    const uint8_t packet[128] = {};
    EXPECT_EQ(mixer->WriteFirmwarePacket(packet, 128), kStatusFailure);
    EXPECT_EQ(mixer->RequestVerifyPacket(), kStatusFailure);
    EXPECT_EQ(mixer->SetProgrammingComplete(), kStatusFailure);
    EXPECT_EQ(mixer->CancelProgramming(), kStatusFailure);
    EXPECT_EQ(mixer->SelectXSlotFirmware(1), kStatusFailure);
    EXPECT_EQ(mixer->SelectXSlotFirmware(0), kStatusSuccess);
    EXPECT_EQ(CardAt(0).RequestCount(adapter::kIoctlResponseCounter), 0u);
}

// ---- PrepareForProgramming ----

TEST_F(MixerTest, PrepareForProgrammingPutsConverterAndCardIntoTheProgrammingState) {
    sim::OrvexUnit::Config unit = Converter(38);
    unit.bankRevision = {28, 27};
    auto mixer = Selected(unit);
    mixer->SetWideWireIn(1);
    mixer->SetWideWireOut(1);
    plat::AdvanceVirtualClock(1'000'000);
    const uint64_t start = plat::ClockMicros();
    ASSERT_EQ(mixer->PrepareForProgramming(), kStatusSuccess);
    const uint64_t elapsed = plat::ClockMicros() - start;

    const uint8_t r3 = UnitAt(0).Register(3);
    EXPECT_EQ(r3 & 7, 0) << "internal clock";
    EXPECT_EQ((r3 >> 4) & 7, 5) << "192 kHz";
    EXPECT_EQ(r3 & 0x08, 0x08) << "SL enabled";
    EXPECT_EQ(UnitAt(0).Register(4) & 0x30, 0) << "no wide wire";
    EXPECT_EQ(CardAt(0).PreferredSource(), 4);
    EXPECT_EQ(CardAt(0).CardSetting(0), 0);
    EXPECT_EQ(CardAt(0).CardSetting(1), 0);
    EXPECT_EQ(CardAt(0).CardSetting(2), 0);
    EXPECT_TRUE(mixer->HasDeviceHandle());
    EXPECT_EQ(mixer->AdapterInformation()[19], 38) << "product ID in bits 24-31 of the word at 16";
    uint8_t alternate = 0;
    mixer->GetAlternateFirmwareRevision(&alternate);
    EXPECT_EQ(alternate, 27);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Log().find("PrepareForProgramming"), std::string::npos);
    // Three waits for the card's input to lock again after clock, rate and SL changes.
    EXPECT_GE(elapsed, 3 * CardAt(0).Settings().lockMicros);
    EXPECT_LT(elapsed, 3 * CardAt(0).Settings().lockMicros + 100'000);

    // A second preparation reopens the device: one handle at a time.
    ASSERT_EQ(mixer->PrepareForProgramming(), kStatusSuccess);
    EXPECT_EQ(studio->Driver().OpenDevices(), 1);
    mixer.reset();
    EXPECT_EQ(studio->Driver().OpenDevices(), 0) << "the destructor closes the device";
    EXPECT_EQ(studio->Driver().OpenMixers(), 0);
}

struct PrepareCase {
    const char* name;
    // Sets up the fault; the card, its converter and the counter script are at hand.
    std::function<void(sim::PelkDriver&, sim::AdapterCard&, sim::OrvexUnit&, CounterScript&)> fault;
    uint32_t status;
    std::vector<std::string> boxes;   // in order, all captioned "COrvexMixer"
    std::vector<std::string> logged;  // after "COrvexMixer::PrepareForProgramming: "
};

void PrintTo(const PrepareCase& c, std::ostream* os) { *os << c.name; }

class PrepareFailures : public MixerTest, public ::testing::WithParamInterface<PrepareCase> {};

uint8_t RateCode(const sim::OrvexUnit& u) { return (u.Register(3) >> 4) & 7; }

TEST_P(PrepareFailures, EachFailureSaysSoInOrder) {
    const PrepareCase& c = GetParam();
    auto mixer = Selected();
    UseScript();
    c.fault(studio->Driver(), CardAt(0), UnitAt(0), script);
    EXPECT_EQ(mixer->PrepareForProgramming(), c.status);
    EXPECT_EQ(BoxTexts(), c.boxes);
    for (const Box& b : boxes) {
        EXPECT_EQ(b.caption, "COrvexMixer");
        EXPECT_EQ(b.type, plat::mb::Ok | plat::mb::IconWarning);
    }
    const std::string log = Log();
    size_t at = 0;
    for (const std::string& line : c.logged) {
        at = log.find("COrvexMixer::PrepareForProgramming: " + line + "\n", at);
        EXPECT_NE(at, std::string::npos) << line;
    }
    size_t lines = 0;
    for (size_t p = log.find("PrepareForProgramming: "); p != std::string::npos; p = log.find("PrepareForProgramming: ", p + 1)) ++lines;
    EXPECT_EQ(lines, c.logged.size());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PrepareFailures,
    ::testing::Values(
        PrepareCase{"DeviceMissing", [](auto& d, auto&, auto&, auto&) { d.FailDeviceOpen(0, true); }, 1,
                    {"Unable to locate the Pelk driver!"}, {"Unable to locate the Pelk driver!"}},
        PrepareCase{"InformationRequestFails",
                    [](auto&, auto& card, auto&, auto&) { card.Fault().failCode = adapter::kIoctlAdapterInformation; },
                    1, {}, {"DeviceIoControl FAILED!"}},
        PrepareCase{"ClockNeverInternal", [](auto&, auto& card, auto&, auto&) { card.Fault().clockStuck = true; }, 0,
                    {"TIMEOUT: Unable to set Orvex Clock Source to Internal!",
                     "Unable to set Orvex Clock Source to Internal!"},
                    {"TIMEOUT: Unable to set Orvex Clock Source to Internal!",
                     "Unable to set Orvex Clock Source to Internal!"}},
        PrepareCase{"SilentConverter", [](auto&, auto&, auto&, auto& s) { s.freeze = [] { return true; }; }, 1,
                    {"PrepareForProgramming WaitForResponse (Set SyncSource) Failed!",
                     "Unable to set Orvex Clock Source to Internal!", "PrepareForProgramming WaitForResponse1 Failed!"},
                    {"WaitForResponse (Set SyncSource) Failed!", "Unable to set Orvex Clock Source to Internal!",
                     "WaitForResponse1 Failed!"}},
        PrepareCase{"LockNeverComes", [](auto&, auto& card, auto&, auto&) { card.Fault().neverLocks = true; }, 1,
                    {"PrepareForProgramming WaitForLock1 Failed!"}, {"WaitForLock1 Failed!"}},
        PrepareCase{"AnswersStopAfterTheCardSettings",
                    [](auto&, auto& card, auto&, auto& s) { s.freeze = [&card] { return card.PreferredSource() == 4; }; },
                    1, {"PrepareForProgramming WaitForResponse1 Failed!"}, {"WaitForResponse1 Failed!"}},
        PrepareCase{"RateNeverReaches192k", [](auto&, auto& card, auto&, auto&) { card.Fault().rateCeilingHz = 96000; },
                    1, {"TIMEOUT: Unable to set Orvex Samplerate!"}, {"TIMEOUT: Unable to set Orvex Samplerate!"}},
        PrepareCase{"AnswersStopAtTheRateChange",
                    [](auto&, auto&, auto& unit, auto& s) { s.freeze = [&unit] { return RateCode(unit) == 5; }; }, 1,
                    {"PrepareForProgramming WaitForResponse (Set SampleRate) Failed!"},
                    {"WaitForResponse (Set SampleRate) Failed!"}},
        PrepareCase{"LockLostForGoodAtTheRateChange",
                    [](auto&, auto& card, auto& unit, auto& s) {
                        s.freeze = [&card, &unit] {
                            if (RateCode(unit) == 5) card.Fault().neverLocks = true;
                            return false;
                        };
                    },
                    1, {"PrepareForProgramming WaitForLock2 Failed!"}, {"WaitForLock2 Failed!"}},
        PrepareCase{"AnswersStopAfterTheRateLock",
                    [](auto&, auto&, auto& unit, auto& s) {
                        auto since = std::make_shared<uint64_t>(0);
                        s.freeze = [&unit, since] {
                            if (RateCode(unit) != 5) return false;
                            if (*since == 0) *since = plat::ClockMicros();
                            return plat::ClockMicros() - *since > 20'000;
                        };
                    },
                    1, {"PrepareForProgramming WaitForResponse2 Failed!"}, {"WaitForResponse2 Failed!"}},
        PrepareCase{"LockLostForGoodAtTheSLChange",
                    [](auto&, auto& card, auto& unit, auto& s) {
                        s.freeze = [&card, &unit] {
                            if (RateCode(unit) == 5 && card.Fault().neverLocksAfterLosses == 0)
                                card.Fault().neverLocksAfterLosses = card.LockLosses() + 1;
                            return false;
                        };
                    },
                    1, {"PrepareForProgramming WaitForLock3 Failed!"}, {"WaitForLock3 Failed!"}},
        PrepareCase{"AnswersStopAfterTheSLChange",
                    [](auto&, auto&, auto& unit, auto& s) { s.freeze = [&unit] { return (unit.Register(3) & 0x08) != 0; }; },
                    1, {"PrepareForProgramming WaitForResponse3 Failed!"}, {"WaitForResponse3 Failed!"}}),
    [](const ::testing::TestParamInfo<PrepareCase>& info) { return std::string(info.param.name); });

TEST_F(MixerTest, TheClockLoopTimesOutOnceThenTheSequenceGoesOn) {
    auto mixer = Selected();
    CardAt(0).Fault().clockStuck = true;
    const uint64_t start = plat::ClockMicros();
    ASSERT_EQ(mixer->PrepareForProgramming(), kStatusSuccess);
    EXPECT_GE(plat::ClockMicros() - start, 3'000'000u) << "the loop ran its three seconds";
    EXPECT_EQ(UnitAt(0).Register(3) & 7, 1) << "still on the external clock";
    EXPECT_EQ(CardAt(0).PreferredSource(), 4) << "the card's controls were set after the boxes";
    EXPECT_EQ((UnitAt(0).Register(3) >> 4) & 7, 5);
}

TEST_F(MixerTest, EachWaitOfThePreparationGivesUpAfterThreeSeconds) {
    const struct {
        const char* name;
        std::function<void(sim::AdapterCard&)> fault;
        uint64_t atLeast, below;  // microseconds
    } rows[] = {
        // the lock wait right after the clock loop
        {"lock", [](sim::AdapterCard& c) { c.Fault().neverLocks = true; }, 3'000'000, 3'100'000},
        // the first lock (250 ms), then the rate loop
        {"rate", [](sim::AdapterCard& c) { c.Fault().rateCeilingHz = 96000; }, 3'250'000, 3'400'000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto mixer = Selected();
        row.fault(CardAt(0));
        const uint64_t start = plat::ClockMicros();
        EXPECT_EQ(mixer->PrepareForProgramming(), kStatusFailure);
        const uint64_t elapsed = plat::ClockMicros() - start;
        EXPECT_GE(elapsed, row.atLeast);
        EXPECT_LT(elapsed, row.below);
        mixer.reset();
    }
}

// ---- programming requests ----

TEST_F(MixerTest, SelectXSlotFirmwareForgivesOnlyTheConverterItself) {
    sim::OrvexUnit::Config unit = Converter(38);
    unit.card.id = orvex::kXSlotDiZo;
    auto mixer = Selected(unit);
    ASSERT_EQ(mixer->PrepareForProgramming(), kStatusSuccess);
    ASSERT_EQ(mixer->SelectXSlotFirmware(1), kStatusSuccess);
    EXPECT_EQ(UnitAt(0).Register(5) & 0x10, 0x10);
    ASSERT_EQ(mixer->SelectXSlotFirmware(0), kStatusSuccess);
    EXPECT_EQ(UnitAt(0).Register(5) & 0x10, 0);

    CardAt(0).Fault().failCode = adapter::kIoctlSelectXSlotFirmware;
    EXPECT_EQ(mixer->SelectXSlotFirmware(0), kStatusSuccess) << "slot 0 succeeds even when the request fails";
    EXPECT_EQ(mixer->SelectXSlotFirmware(1), kStatusFailure);
    EXPECT_EQ(UnitAt(0).Register(5) & 0x10, 0);
}

TEST_F(MixerTest, AConverterWithoutAnXSlotCardCannotTargetIt) {
    auto mixer = Selected();
    ASSERT_EQ(mixer->PrepareForProgramming(), kStatusSuccess);
    EXPECT_EQ(mixer->SelectXSlotFirmware(1), kStatusFailure);
    EXPECT_EQ(mixer->SelectXSlotFirmware(0), kStatusSuccess);
}

TEST_F(MixerTest, BankRequestsThatFailSayTheyCouldNotErase) {
    auto mixer = Selected();
    ASSERT_EQ(mixer->PrepareForProgramming(), kStatusSuccess);
    struct {
        uint32_t code;
        uint32_t (COrvexMixer::*call)();
    } rows[] = {{adapter::kIoctlSelectAlternateBank, &COrvexMixer::SelectAlternateBank},
                {adapter::kIoctlEraseAlternateBank, &COrvexMixer::EraseAlternateBank}};
    for (const auto& row : rows) {
        boxes.clear();
        CardAt(0).Fault().failCode = row.code;
        EXPECT_EQ((mixer.get()->*row.call)(), kStatusFailure);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Unable to retrieve erase the Orvex firmware!");
        EXPECT_EQ(boxes[0].caption, "COrvexMixer");
    }
    EXPECT_TRUE(UnitAt(0).BankValid(false, 1)) << "nothing was erased";
}

TEST_F(MixerTest, ProgrammingStatusIsTheLowByteOfTheCardsAnswer) {
    sim::OrvexUnit::Config unit = Converter(38);
    unit.runningBank = 1;
    auto mixer = Selected(unit);
    ASSERT_EQ(mixer->PrepareForProgramming(), kStatusSuccess);
    uint8_t status = 0;
    ASSERT_EQ(mixer->GetProgrammingStatus(&status), kStatusSuccess);
    EXPECT_EQ(status, orvex::kProgRunningBank);
    CardAt(0).Fault().failCode = adapter::kIoctlProgrammingStatus;
    status = 0x5A;
    EXPECT_EQ(mixer->GetProgrammingStatus(&status), kStatusFailure);
    EXPECT_EQ(status, 0x5A);
}

}  // namespace
